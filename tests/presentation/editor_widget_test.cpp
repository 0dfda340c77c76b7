// The in-place parameter editors over views of a KD730 register image: the
// combo box's typing rules, choices, error marking and closing, and the
// option group following and writing its view.
#include <QLineEdit>
#include <QRadioButton>
#include <QScrollBar>
#include <QWheelEvent>
#include <QTreeWidget>
#include <functional>
#include <optional>

#include "Exception.h"
#include "Formats.h"
#include "ParEditFixture.h"
#include "Tlacomboboxcmp.h"
#include "Tlaparvaluecls.h"
#include "Tlaradiogroupcmp.h"
#include "Tlauserinterfaceutilscmp.h"

namespace {

const QColor kRed(0xFF, 0, 0);
const QColor kYellow(0xFF, 0xFF, 0);

bool MarkedRed(const QWidget* w) {
  return w->palette().color(QPalette::Base) == kRed && w->palette().color(QPalette::Text) == kYellow;
}

// A list view with a few rows and an editor that counts its OnEdited calls.
class Editor : public paredit::KD730Image {
 protected:
  void SetUp() override {
    KD730Image::SetUp();
    list_ = new QTreeWidget(&window_);  // owned by the window
    list_->setColumnCount(5);
    list_->setGeometry(10, 10, 600, 220);
    for (int i = 0; i < 4; ++i) new QTreeWidgetItem(list_, {QString("row %1").arg(i)});
    list_->show();
    editor_ = new TlaComboBox(&window_);  // owned by the window until it moves into the list view
    editor_->OnEdited = [this](TlaParValue* par, bool&) { edited_.push_back(par); };
  }
  void Open(TlaParValue* view, int row = 1) {
    editor_->EditThis(view, list_, list_->topLevelItem(row));
    ASSERT_TRUE(editor_->isVisible());
    ASSERT_EQ(QApplication::focusWidget(), editor_);
  }
  int IndexOfCode(int code) const { return editor_->findData(code); }

  QTreeWidget* list_ = nullptr;
  TlaComboBox* editor_ = nullptr;
  std::vector<TlaParValue*> edited_;
};

}  // namespace

TEST(EditorText, ParsesHexadecimalAndDecimalNumbers) {
  struct Case {
    const char* text;
    std::optional<double> value;
  };
  const Case cases[] = {
      {"0x1F", 31},       {"0x1f", 31},      {"1Fh", 31},        {"1fh", 31},   {"12.5", 12.5},
      {"-3", -3},         {" 0x10 ", 16},    {"0xFFFFFFFF", 4294967295.0}, {"0h", 0},
      {"0X1F", {}},       {"1FH", {}},       {"12,5", {}},       {"", {}},      {"0x", {}},
      {"h", {}},          {"0x1G", {}},      {"0x-1", {}},       {"0x100000000", {}}, {"0x1Fh", {}},
      {"1 2", {}},        {"abc", {}},
  };
  for (const Case& c : cases) EXPECT_EQ(TlaComboBox::ParseNumber(c.text), c.value) << '"' << c.text << '"';
}

TEST_F(Editor, EnterWritesTypedNumbersAndMarksWhatItCannotWrite) {
  TlaParValue offset(nullptr, R("OffsetAn2Ext"), 0);  // counts, -1000..1000
  TlaParValue accel(nullptr, R("Accel"), 0);          // 0.01 s per count
  // The register refuses one value with an error, as a device hook may.
  R("OffsetAn2Ext")->OnBeforeEdit = [](TlaRegister*, bool&, double v) {
    if (v == 999) throw kd::Exception("SetValue: refused");
  };
  struct Case {
    TlaParValue* view;
    const char* text;
    bool written;
    double value;
  };
  const Case cases[] = {
      {&offset, "0x1F", true, 31}, {&offset, "1Fh", true, 31},   {&accel, "12.5", true, 12.5},
      {&offset, "0X1F", false, 0}, {&accel, "12,5", false, 0},   {&offset, "", false, 0},
      {&offset, "0x", false, 0},   {&offset, "999", false, 0},   {&offset, "twelve", false, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string("\"") + c.text + "\"");
    offset.SetValue(0);
    accel.SetValue(2);
    const double before = c.view->GetValue();
    edited_.clear();
    Open(c.view);
    EXPECT_EQ(editor_->currentText().toStdString(), kd::FloatToStr(before));
    Retype(c.text);
    Press(Qt::Key_Return);
    if (c.written) {
      EXPECT_DOUBLE_EQ(c.view->GetValue(), c.value);
      EXPECT_TRUE(editor_->isHidden());
      EXPECT_EQ(edited_, std::vector<TlaParValue*>{c.view});
      EXPECT_EQ(QApplication::focusWidget(), list_);
      EXPECT_FALSE(MarkedRed(editor_));
      continue;
    }
    // Open for a correction, red on yellow, the whole text selected, nothing written or raised.
    EXPECT_DOUBLE_EQ(c.view->GetValue(), before);
    EXPECT_TRUE(editor_->isVisible());
    EXPECT_TRUE(MarkedRed(editor_));
    EXPECT_EQ(editor_->lineEdit()->selectedText(), editor_->currentText());
    EXPECT_TRUE(edited_.empty());
    Press(Qt::Key_End);  // moving the cursor keeps the marking
    EXPECT_TRUE(MarkedRed(editor_));
    Type("7");  // a typed key clears it
    EXPECT_FALSE(MarkedRed(editor_));
    Press(Qt::Key_Escape);
    EXPECT_TRUE(editor_->isHidden());
    EXPECT_DOUBLE_EQ(c.view->GetValue(), before);
  }

  // Escape drops a good number too.
  Open(&offset);
  Retype("55");
  Press(Qt::Key_Escape);
  EXPECT_TRUE(editor_->isHidden());
  EXPECT_DOUBLE_EQ(offset.GetValue(), 0);
  EXPECT_EQ(QApplication::focusWidget(), list_);
}

TEST_F(Editor, ChoicesWriteTheirCodes) {
  TlaParValue current(nullptr, R("IcA"), 0);                      // 0.5 .. 15 A, default 10
  TlaParBoolField source(nullptr, R("CfgFlags"), 0, 0);           // default 35: bit 0 set
  TlaParBitField filter(nullptr, R("CfgFlags"), 10, 2, 0);
  TlaParFrac16 gain(nullptr, R("Speed_PGain"), R("Speed_PScale"), 0);

  // Bit, bit-field and coded views offer their choices only; numbers may be typed otherwise.
  TlaParEncoded coded(nullptr, R("Speed_PScale"), 0);
  for (auto [view, editable] : {std::pair<TlaParValue*, bool>{&current, true}, {&gain, true}, {&source, false},
                                {&filter, false}, {&coded, false}}) {
    Open(view);
    EXPECT_EQ(editor_->isEditable(), editable) << view->GetName();
    if (editable) {
      EXPECT_EQ(editor_->currentIndex(), -1);  // typed text
    }
    Press(Qt::Key_Escape);
  }

  Open(&current);
  ASSERT_EQ(editor_->count(), 3);
  EXPECT_EQ(editor_->itemText(IndexOfCode(parCodeMax)), "15.0 A (max)");
  editor_->setCurrentIndex(IndexOfCode(parCodeMax));
  Press(Qt::Key_Return);
  EXPECT_TRUE(editor_->isHidden());
  EXPECT_DOUBLE_EQ(current.GetValue(), 15.0);

  Open(&current);
  editor_->setCurrentIndex(IndexOfCode(parCodeMin));
  Retype("7");  // typing over a chosen item: the typed number counts
  Press(Qt::Key_Return);
  EXPECT_DOUBLE_EQ(current.GetValue(), 7.0);

  Open(&current);
  editor_->setCurrentIndex(IndexOfCode(parCodeDefault));
  Press(Qt::Key_Return);
  EXPECT_DOUBLE_EQ(current.GetValue(), 10.0);

  // The separator writes nothing, yet raises OnEdited and closes.
  source.SetValue(0);
  edited_.clear();
  Open(&source);
  ASSERT_EQ(editor_->count(), 4);  // default, separator, false, true
  editor_->setCurrentIndex(IndexOfCode(parCodeSeparator));
  Press(Qt::Key_Return);
  EXPECT_TRUE(editor_->isHidden());
  EXPECT_EQ(source.GetValue(), 0);
  EXPECT_EQ(edited_, std::vector<TlaParValue*>{&source});

  // A drop-down list with nothing chosen has nothing to write.
  Open(&filter);
  editor_->setCurrentIndex(-1);
  Press(Qt::Key_Return);
  EXPECT_TRUE(MarkedRed(editor_));
  editor_->setCurrentIndex(IndexOfCode(3));
  Press(Qt::Key_Return);
  EXPECT_TRUE(editor_->isHidden());
  EXPECT_EQ(filter.GetField(), 3);
  EXPECT_EQ(R("CfgFlags")->GetValueInteger(0), 34 | 0xC00);  // the other bits kept
}

TEST_F(Editor, LiesOverTheValueCellAndClosesWhenTheFocusLeaves) {
  TlaParValue offset(nullptr, R("OffsetAn2Ext"), 0);
  list_->setColumnWidth(0, 170);
  list_->setColumnWidth(1, 120);
  QTreeWidgetItem* row = list_->topLevelItem(2);
  Open(&offset, 2);
  EXPECT_EQ(editor_->parentWidget(), list_);
  const QRect cell = list_->visualItemRect(row).translated(list_->viewport()->pos());
  EXPECT_EQ(editor_->x(), list_->viewport()->x() + 170);
  EXPECT_EQ(editor_->y(), cell.top() - 3);
  EXPECT_EQ(editor_->width(), 120);

  // Dropping the list down keeps the editor open.
  editor_->showPopup();
  EXPECT_TRUE(editor_->isVisible());
  editor_->hidePopup();
  EXPECT_TRUE(editor_->isVisible());

  // Another control taking the focus drops the typed text.
  auto* other = new QLineEdit(&window_);  // owned by the window
  other->setGeometry(10, 300, 100, 24);
  other->show();
  Retype("123");
  other->setFocus(Qt::MouseFocusReason);
  EXPECT_TRUE(editor_->isHidden());
  EXPECT_DOUBLE_EQ(offset.GetValue(), 0);
}

// The option group over the analog input filter (a two-bit field).
class Group : public paredit::KD730Image {
 protected:
  void SetUp() override {
    KD730Image::SetUp();
    filter_.Register = R("CfgFlags");
    group_ = new TlaRadioGroup(&window_);  // owned by the window
    group_->setGeometry(10, 10, 300, 120);
    group_->show();
    binder_.With(group_);
    binder_.List(&filter_);
    binder_.End();
    group_->OnEdited = [this](TlaParValue* par, bool&) { edited_.push_back(par); };
    Settle();
  }
  // On the button's indicator, as the operator clicks.
  void Click(int index) {
    QRadioButton* b = group_->button(index);
    QTest::mouseClick(b, Qt::LeftButton, {}, QPoint(6, b->height() / 2));
  }

  TlaParBitField filter_{nullptr, nullptr, 10, 2, 0};  // over CfgFlags once the image exists
  TlaUserInterfaceUtils binder_;
  TlaRadioGroup* group_ = nullptr;
  std::vector<TlaParValue*> edited_;
};

TEST_F(Group, FollowsItsView) {
  ASSERT_EQ(group_->count(), 4);
  EXPECT_EQ(group_->title(), "Analog input filter");
  filter_.SetField(2);
  group_->RefreshData();
  EXPECT_EQ(group_->itemIndex(), 2);
  EXPECT_TRUE(group_->button(2)->isChecked());

  filter_.Enabled = 0;
  group_->RefreshData();
  EXPECT_FALSE(group_->isEnabled());
  filter_.Visible = 0;
  group_->RefreshData();
  EXPECT_TRUE(group_->isHidden());
  filter_.Enabled = filter_.Visible = 1;
  group_->RefreshData();
  EXPECT_TRUE(group_->isEnabled());
  EXPECT_TRUE(group_->isVisible());

  group_->View = nullptr;
  group_->RefreshData();
  EXPECT_EQ(group_->itemIndex(), -1);
}

TEST_F(Group, AClickWritesTheView) {
  filter_.SetField(0);
  group_->RefreshData();
  Click(3);
  EXPECT_EQ(filter_.GetField(), 3);
  EXPECT_EQ(edited_, std::vector<TlaParValue*>{&filter_});

  // No button checked: the default (35 has a zero field).
  group_->setItemIndex(-1);
  group_->DoOnClick(group_);
  EXPECT_EQ(filter_.GetField(), 0);
  EXPECT_EQ(edited_.size(), 2u);

  // A refused write raises nothing and shows the view's value again.
  R("CfgFlags")->OnBeforeEdit = [](TlaRegister*, bool&, double) { throw kd::Exception("SetValue: refused"); };
  Click(1);
  EXPECT_EQ(filter_.GetField(), 0);
  EXPECT_EQ(group_->itemIndex(), 0);
  EXPECT_EQ(edited_.size(), 2u);
}

TEST_F(Editor, ClosesWithoutWritingWhenItsListScrollsIsResizedOrItsRowLeaves) {
  TlaParValue offset(nullptr, R("OffsetAn2Ext"), 0);
  for (int i = 4; i < 40; ++i) new QTreeWidgetItem(list_, {QString("row %1").arg(i)});
  list_->setColumnWidth(0, 900);  // wider than the list: it scrolls sideways too
  auto wheel = [&] {
    const QPoint at = list_->viewport()->rect().center();
    QWheelEvent event(at, list_->viewport()->mapToGlobal(at), {}, QPoint(0, -120), Qt::NoButton, {},
                      Qt::NoScrollPhase, false);
    QApplication::sendEvent(list_->viewport(), &event);
  };
  const std::pair<const char*, std::function<void()>> cases[] = {
      {"wheel", wheel},
      {"scroll bar", [&] { list_->verticalScrollBar()->setValue(3); }},
      {"sideways", [&] { list_->horizontalScrollBar()->setValue(40); }},
      {"resized", [&] { list_->resize(list_->width() - 20, list_->height()); }},
      {"row deleted", [&] { delete list_->topLevelItem(2); }},
      {"row hidden", [&] { list_->topLevelItem(2)->setHidden(true); }},
      {"row above inserted", [&] { list_->insertTopLevelItem(0, new QTreeWidgetItem({"new"})); }},
      {"list cleared", [&] { list_->clear(); }},
  };
  for (const auto& [what, action] : cases) {
    SCOPED_TRACE(what);
    offset.SetValue(0);
    edited_.clear();
    list_->clear();
    for (int i = 0; i < 40; ++i) new QTreeWidgetItem(list_, {QString("row %1").arg(i)});
    list_->setGeometry(10, 10, 600, 220);
    list_->scrollToTop();
    list_->horizontalScrollBar()->setValue(0);
    Settle();
    Open(&offset, 2);
    Retype("55");
    action();
    EXPECT_TRUE(QTest::qWaitFor([&] { return editor_->isHidden(); }, 2000));
    Press(Qt::Key_Return);  // to the list now: writes nothing
    EXPECT_EQ(offset.GetValue(), 0);
    EXPECT_TRUE(edited_.empty());
  }

  // New texts in the rows (a refresh) keep it open where it is.
  list_->clear();
  for (int i = 0; i < 40; ++i) new QTreeWidgetItem(list_, {QString("row %1").arg(i)});
  Settle();
  Open(&offset, 2);
  Retype("55");
  for (int i = 0; i < 40; ++i) list_->topLevelItem(i)->setText(1, "new");
  Settle();
  ASSERT_TRUE(editor_->isVisible());
  Press(Qt::Key_Return);
  EXPECT_EQ(offset.GetValue(), 55);
}

TEST_F(Editor, ADropDownOpensWithThePresentValueChosen) {
  TlaParBoolField source(nullptr, R("CfgFlags"), 0, 0);
  TlaParBitField filter(nullptr, R("CfgFlags"), 10, 2, 0);
  TlaParEncoded coded(nullptr, R("Speed_PScale"), 0);  // 0..7
  source.SetValue(0);  // the default (1) differs
  filter.SetField(2);
  coded.SetValue(5);
  for (TlaParValue* view : std::initializer_list<TlaParValue*>{&source, &filter, &coded}) {
    SCOPED_TRACE(view->GetName());
    const double before = view->GetValue();
    const std::uint32_t word = R("CfgFlags")->GetValueInteger(0);
    Open(view);
    ASSERT_EQ(editor_->currentIndex(), IndexOfCode(static_cast<int>(before)));
    EXPECT_EQ(editor_->currentText().toStdString(), view->GetValueText());
    edited_.clear();
    Press(Qt::Key_Return);  // without a pick: the value stays
    EXPECT_TRUE(editor_->isHidden());
    EXPECT_FALSE(MarkedRed(editor_));
    EXPECT_EQ(view->GetValue(), before);
    EXPECT_EQ(R("CfgFlags")->GetValueInteger(0), word);
    EXPECT_EQ(edited_, std::vector<TlaParValue*>{view});
  }
}
