// The parameter list binder over views of a KD730 register image: the build
// sequence, the five-column list and its refresh, sizes, opening the editor
// from the list, the order of edit events and refreshes, and row colours.
#include <QDialog>
#include <QDir>
#include <QHeaderView>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTreeWidget>
#include <memory>

#include "ParEditFixture.h"
#include "Tlacomboboxcmp.h"
#include "Tlaparvaluecls.h"
#include "Tlaradiogroupcmp.h"
#include "Tlauserinterfaceutilscmp.h"

namespace {

QStringList RowTexts(const QTreeWidgetItem* row) {
  QStringList texts;
  for (int c = 0; c < 5; ++c) texts << row->text(c);
  return texts;
}

// A list view and a plain panel in the window, and views over the drive's setup.
class Binder : public paredit::KD730Image {
 protected:
  void SetUp() override {
    KD730Image::SetUp();
    list_ = new QTreeWidget(&window_);  // owned by the window
    list_->setGeometry(10, 10, 620, 230);
    list_->show();
    panel_ = new QWidget(&window_);  // owned by the window
    panel_->setGeometry(10, 250, 620, 160);
    panel_->show();
    auto add = [this](auto* view) {
      views_.emplace_back(view);
      return view;
    };
    voltage_ = add(new TlaParValue(nullptr, R("UrV"), 0));
    current_ = add(new TlaParValue(nullptr, R("IcA"), 0));
    hwLimit_ = add(new TlaParValue(nullptr, R("HWLimitVolt"), 0));  // a default, no limits
    gain_ = add(new TlaParFrac16(nullptr, R("Speed_PGain"), R("Speed_PScale"), 0));
    source_ = add(new TlaParBoolField(nullptr, R("CfgFlags"), 0, 0));
    filter_ = add(new TlaParBitField(nullptr, R("CfgFlags"), 10, 2, 0));
  }
  // The usual list: two rows, a separator, three rows.
  void BuildList() {
    ui_.With(list_);
    ui_.List(voltage_);
    ui_.List(current_);
    ui_.ListSep();
    ui_.List(hwLimit_);
    ui_.List(gain_);
    ui_.List(source_);
    ui_.End();
    ui_.RefreshData();
  }
  QTreeWidgetItem* Row(int i) const { return list_->topLevelItem(i); }
  void Select(int i) const {
    list_->setFocus();
    list_->setCurrentItem(Row(i));
  }

  std::vector<std::unique_ptr<TlaParValue>> views_;
  TlaParValue *voltage_, *current_, *hwLimit_, *gain_, *source_, *filter_;
  TlaUserInterfaceUtils ui_;
  QTreeWidget* list_ = nullptr;
  QWidget* panel_ = nullptr;
};

}  // namespace

TEST_F(Binder, BuildsAFiveColumnListAndFillsItOnRefresh) {
  new QTreeWidgetItem(list_, {"left over"});  // a new list view's rows are cleared
  BuildList();
  ASSERT_EQ(list_->columnCount(), 5);
  const QTreeWidgetItem* header = list_->headerItem();
  EXPECT_EQ(RowTexts(header), QStringList({"Parameter", "Value", "Min", "Max", "Default"}));
  EXPECT_EQ(list_->columnWidth(0), 150);
  EXPECT_EQ(list_->editTriggers(), QAbstractItemView::NoEditTriggers);

  ASSERT_EQ(list_->topLevelItemCount(), 6);
  EXPECT_EQ(RowTexts(Row(0)), QStringList({"Rated armature voltage", "400 V", "10 V", "550 V", "400 V"}));
  EXPECT_EQ(RowTexts(Row(1)), QStringList({"Continuous current", "10.0 A", "0.5 A", "15.0 A", "10.0 A"}));
  EXPECT_EQ(RowTexts(Row(2)), QStringList({"", "", "", "", ""}));
  EXPECT_EQ(TlaUserInterfaceUtils::RowView(Row(2)), nullptr);
  EXPECT_EQ(RowTexts(Row(3)), QStringList({"Hardware voltage limit", "550 V", "---", "---", "550 V"}));
  EXPECT_EQ(Row(4)->text(1), "0.5000");  // the gain register's own text
  EXPECT_EQ(RowTexts(Row(5)), QStringList({"Reference source", "Digital", "Analog input", "Digital", "Digital"}));
  EXPECT_EQ(TlaUserInterfaceUtils::RowView(Row(5)), source_);

  // A later refresh shows new values.
  voltage_->SetValue(230);
  ui_.RefreshData();
  EXPECT_EQ(Row(0)->text(1), "230 V");

  // Selected again: rows and columns kept, listed once.
  ui_.With(list_);
  ui_.End();
  EXPECT_EQ(list_->topLevelItemCount(), 6);
  EXPECT_EQ(ui_.Controls().size(), 1u);

  // A list view that has its own columns keeps them; its rows go.
  auto* own = new QTreeWidget(&window_);  // owned by the window
  own->setHeaderLabels({"Name", "Now"});
  new QTreeWidgetItem(own, {"x", "y"});
  ui_.With(own);
  EXPECT_EQ(own->topLevelItemCount(), 0);
  EXPECT_EQ(own->columnCount(), 2);
  EXPECT_EQ(own->headerItem()->text(1), "Now");
  EXPECT_EQ(ui_.Controls().size(), 2u);
}

TEST_F(Binder, BuildSequenceNeedsACurrentControlAndSizesIt) {
  // Nothing selected: List adds nothing and the Rg setters store nothing.
  ui_.List(voltage_);
  ui_.RgHeight(80);
  ui_.RgColCount(3);
  EXPECT_EQ(ui_.GroupHeight, 50);
  EXPECT_EQ(ui_.GroupColumns, 1);
  EXPECT_EQ(ui_.AdaptHeight(), 0);
  EXPECT_TRUE(ui_.Controls().empty());

  // Ten rows: 10 × 17 + 28.
  ui_.With(list_);
  for (int i = 0; i < 8; ++i) ui_.List(voltage_);
  ui_.ListSep();
  ui_.ListSep();
  EXPECT_EQ(ui_.AdaptHeight(), 198);
  EXPECT_EQ(list_->height(), 198);
  EXPECT_EQ(ui_.GroupHeight, 198);

  // A plain container: the shape is stored for its groups, the container keeps its size.
  EXPECT_EQ(ui_.With(panel_), 1);
  ui_.RgHeight(80);
  EXPECT_EQ(ui_.GroupHeight, 80);
  EXPECT_EQ(panel_->size(), QSize(620, 160));
  EXPECT_EQ(ui_.AdaptHeight(), 0);
  ui_.RgColCount(2);
  ui_.List(filter_);
  ui_.List(source_);
  EXPECT_EQ(ui_.Current(), panel_);
  ui_.End();
  Settle();
  const QList<TlaRadioGroup*> groups = panel_->findChildren<TlaRadioGroup*>();
  ASSERT_EQ(groups.size(), 2);
  EXPECT_EQ(panel_->size(), QSize(620, 160));
  // Docked at the top, one below the other, as wide as the panel.
  EXPECT_EQ(groups[0]->geometry(), QRect(0, 0, 620, 80));
  EXPECT_EQ(groups[1]->geometry(), QRect(0, 80, 620, 80));
  EXPECT_EQ(groups[0]->columns(), 2);
  EXPECT_EQ(groups[0]->title(), "Analog input filter");
  EXPECT_EQ(groups[0]->count(), 4);
  EXPECT_EQ(groups[0]->View, filter_);
  EXPECT_EQ(ui_.Controls().size(), 2u);  // the groups are reached through the panel

  // An option group of five items in two columns: 5 × 15 / 2 + 18.
  auto* group = new TlaRadioGroup(&window_);  // owned by the window
  group->setItems({"a", "b", "c", "d", "e"});
  EXPECT_EQ(ui_.With(group), group);
  ui_.RgColCount(2);
  EXPECT_EQ(group->columns(), 2);
  EXPECT_EQ(ui_.AdaptHeight(), 55);
  EXPECT_EQ(group->height(), 55);

  // A refresh ends the sequence.
  ui_.RefreshData();
  EXPECT_EQ(ui_.Current(), nullptr);
}

TEST_F(Binder, EnterOrDoubleClickOpensTheEditorOnEditableRows) {
  BuildList();
  std::vector<TlaParValue*> asked;
  bool allow = true;
  ui_.OnEditQuery = [&](TlaParValue* par, bool& canedit) {
    asked.push_back(par);
    canedit = allow;
  };
  TlaComboBox* editor = ui_.Editor();

  Select(1);
  Press(Qt::Key_Return);
  ASSERT_TRUE(editor->isVisible());
  EXPECT_EQ(editor->View, current_);
  EXPECT_EQ(editor->parentWidget(), list_);
  EXPECT_EQ(asked, std::vector<TlaParValue*>{current_});
  Press(Qt::Key_Escape);
  EXPECT_TRUE(editor->isHidden());
  EXPECT_EQ(QApplication::focusWidget(), list_);

  const QRect row4 = list_->visualItemRect(Row(4));
  // Press, release, double-click, release: as the platform delivers a double-click.
  QTest::mouseClick(list_->viewport(), Qt::LeftButton, {}, row4.center());
  QTest::mouseDClick(list_->viewport(), Qt::LeftButton, {}, row4.center());
  QTest::mouseRelease(list_->viewport(), Qt::LeftButton, {}, row4.center());
  EXPECT_TRUE(editor->isVisible());
  EXPECT_EQ(editor->View, gain_);
  Press(Qt::Key_Escape);

  // Separator rows, disabled and hidden views open nothing and ask nothing;
  // the query may refuse.
  asked.clear();
  current_->Enabled = 0;
  hwLimit_->Visible = 0;
  for (int row : {2, 1, 3}) {
    Select(row);
    Press(Qt::Key_Return);
    EXPECT_TRUE(editor->isHidden()) << row;
  }
  EXPECT_TRUE(asked.empty());
  allow = false;
  Select(0);
  Press(Qt::Key_Return);
  EXPECT_TRUE(editor->isHidden());
  EXPECT_EQ(asked, std::vector<TlaParValue*>{voltage_});
}

TEST_F(Binder, EditsRaiseOnEditedBeforeEveryControlIsRefreshed) {
  BuildList();
  ui_.With(panel_);
  ui_.List(filter_);
  ui_.End();
  Settle();
  auto* group = panel_->findChild<TlaRadioGroup*>();
  ASSERT_NE(group, nullptr);
  ui_.RefreshData();

  std::vector<std::string> events;
  ui_.OnEdited = [&](TlaParValue* par, bool&) {
    events.push_back("edited " + par->GetName() + ": list shows " + Row(0)->text(1).toStdString() +
                     ", group at " + std::to_string(group->itemIndex()));
  };
  ui_.OnBeforeRefresh = [&](QObject* sender) { events.push_back(sender == &ui_ ? "before" : "?"); };
  ui_.OnAfterRefresh = [&](QObject*) { events.push_back("after"); };

  Select(0);
  Press(Qt::Key_Return);
  Retype("0x12c");  // 300 V
  Press(Qt::Key_Return);
  EXPECT_EQ(Row(0)->text(1), "300 V");
  QRadioButton* b = group->button(2);
  QTest::mouseClick(b, Qt::LeftButton, {}, QPoint(6, b->height() / 2));
  EXPECT_EQ(static_cast<TlaParBitField*>(filter_)->GetField(), 2);
  EXPECT_EQ(events, (std::vector<std::string>{"edited Rated armature voltage: list shows 400 V, group at 0",
                                              "before", "after",
                                              "edited Analog input filter: list shows 300 V, group at 2",
                                              "before", "after"}));
}

TEST_F(Binder, ColoursRowsByIndexAndState) {
  BuildList();
  current_->Enabled = 0;
  hwLimit_->Visible = 0;
  list_->clearSelection();
  list_->setCurrentItem(nullptr);
  auto pixel = [&](int row, int column) {
    const QImage image = list_->viewport()->grab().toImage();
    const QRect r = list_->visualItemRect(Row(row));
    const int x = list_->header()->sectionViewportPosition(column) + list_->columnWidth(column) - 4;
    return QColor(image.pixel(x, r.center().y()));
  };
  EXPECT_EQ(pixel(0, 0), QColor(0xC0, 0xC9, 0xFF));  // even: 0xFFC9C0
  EXPECT_EQ(pixel(5, 2), QColor(0xE0, 0xE9, 0xFF));  // odd: 0xFFE9E0
  EXPECT_EQ(pixel(2, 1), list_->palette().color(QPalette::Button));
  EXPECT_EQ(pixel(1, 3), QColor(0xC0, 0xC0, 0xC0));  // disabled view

  // A hidden view's row is blank silver.
  const QImage image = list_->viewport()->grab().toImage();
  const QRect hidden = list_->visualItemRect(Row(3));
  for (int x = 2; x < list_->viewport()->width() - 2; ++x)
    for (int y = hidden.top() + 1; y < hidden.bottom(); ++y)
      ASSERT_EQ(QColor(image.pixel(x, y)), QColor(0xC0, 0xC0, 0xC0)) << x << "," << y;

  // A disabled list view is drawn as usual.
  list_->setEnabled(false);
  EXPECT_NE(pixel(0, 0), QColor(0xC0, 0xC9, 0xFF));
}

TEST_F(Binder, OutlivesTheControlsItBinds) {
  BuildList();
  Select(0);
  Press(Qt::Key_Return);
  ASSERT_EQ(ui_.Editor()->parentWidget(), list_);
  delete list_;  // the editor goes with it
  list_ = nullptr;
  ui_.RefreshData();  // skips the list view that is gone

  auto* other = new QTreeWidget(&window_);  // owned by the window
  other->setGeometry(10, 10, 620, 230);
  other->show();
  ui_.With(other);
  ui_.List(current_);
  ui_.End();
  ui_.RefreshData();
  other->setFocus();
  other->setCurrentItem(other->topLevelItem(0));
  Press(Qt::Key_Return);
  ASSERT_NE(ui_.Editor(), nullptr);
  EXPECT_TRUE(ui_.Editor()->isVisible());
  EXPECT_EQ(ui_.Editor()->parentWidget(), other);
}

TEST_F(Binder, Screenshot) {
  BuildList();
  source_->Enabled = 0;
  ui_.With(list_);
  ui_.AdaptHeight();
  ui_.With(panel_);
  ui_.RgHeight(80);
  ui_.RgColCount(2);
  ui_.List(filter_);
  ui_.End();
  Settle();
  ui_.RefreshData();
  Select(1);
  Press(Qt::Key_Return);
  ASSERT_TRUE(ui_.Editor()->isVisible());
  Retype("12,5");
  Press(Qt::Key_Return);  // marked red on yellow: the editor stays open
  Press(Qt::Key_End);     // the text no longer selected, still marked
  QDir().mkpath(KD_SCREENSHOT_DIR);
  EXPECT_TRUE(window_.grab().save(QString(KD_SCREENSHOT_DIR) + "/param-list-editor.png"));
}

TEST_F(Binder, EnterThatOpensNoEditorReachesTheDialogsDefaultButton) {
  // A dialog page inside the shown window: keys a control leaves go to the dialog.
  auto* dialog = new QDialog(&window_);  // owned by the window
  dialog->setWindowFlags(Qt::Widget);
  auto* list = new QTreeWidget(dialog);  // owned by the dialog
  list->setGeometry(10, 10, 600, 200);
  auto* ok = new QPushButton("OK", dialog);  // owned by the dialog
  ok->setGeometry(10, 220, 80, 24);
  ok->setDefault(true);
  int pressed = 0;
  QObject::connect(ok, &QPushButton::clicked, [&] { ++pressed; });
  ui_.With(list);
  ui_.List(voltage_);
  ui_.ListSep();
  ui_.List(current_);
  ui_.List(hwLimit_);
  ui_.List(gain_);
  ui_.End();
  dialog->setGeometry(0, 0, 620, 260);
  dialog->show();
  dialog->raise();
  bool allow = true;
  ui_.OnEditQuery = [&](TlaParValue*, bool& canedit) { canedit = allow; };
  current_->Enabled = 0;
  hwLimit_->Visible = 0;
  auto enterOn = [&](int row) {
    list->setFocus();
    list->setCurrentItem(list->topLevelItem(row));
    Press(Qt::Key_Return);
  };

  enterOn(0);  // opens the editor: used up
  EXPECT_TRUE(ui_.Editor()->isVisible());
  EXPECT_EQ(pressed, 0);
  Press(Qt::Key_Escape);

  // A separator, a disabled view, a hidden view, a refusing query: the dialog's.
  allow = true;
  for (int row : {1, 2, 3}) enterOn(row);
  allow = false;
  enterOn(4);
  EXPECT_TRUE(ui_.Editor()->isHidden());
  EXPECT_EQ(pressed, 4);
  // No row selected: the dialog's too.
  list->setCurrentItem(nullptr);
  list->clearSelection();
  Press(Qt::Key_Return);
  EXPECT_EQ(pressed, 5);
}

TEST_F(Binder, ASecondBindersWithTakesTheListOver) {
  BuildList();
  TlaUserInterfaceUtils second;
  second.With(list_);
  second.List(voltage_);
  second.List(current_);
  second.End();
  second.RefreshData();
  std::vector<std::string> asked;
  ui_.OnEditQuery = [&](TlaParValue*, bool&) { asked.push_back("first"); };
  second.OnEditQuery = [&](TlaParValue*, bool&) { asked.push_back("second"); };
  auto doubleClick = [&](int row) {
    const QPoint at = list_->visualItemRect(Row(row)).center();
    QTest::mouseClick(list_->viewport(), Qt::LeftButton, {}, at);
    QTest::mouseDClick(list_->viewport(), Qt::LeftButton, {}, at);
    QTest::mouseRelease(list_->viewport(), Qt::LeftButton, {}, at);
  };
  // One editor opens, the last binder's, by double-click and by Enter.
  for (const bool byEnter : {false, true}) {
    asked.clear();
    if (byEnter) {
      Select(1);
      Press(Qt::Key_Return);
    } else {
      doubleClick(1);
    }
    EXPECT_TRUE(second.Editor()->isVisible()) << byEnter;
    EXPECT_EQ(second.Editor()->View, current_);
    EXPECT_TRUE(ui_.Editor()->isHidden()) << byEnter;
    EXPECT_EQ(asked, std::vector<std::string>{"second"}) << byEnter;
    Press(Qt::Key_Escape);
  }
  // Selected again by the first binder: its handlers alone.
  ui_.With(list_);
  ui_.End();
  asked.clear();
  doubleClick(0);
  EXPECT_TRUE(ui_.Editor()->isVisible());
  EXPECT_TRUE(second.Editor()->isHidden());
  EXPECT_EQ(asked, std::vector<std::string>{"first"});
  Press(Qt::Key_Escape);
}

TEST_F(Binder, AListViewWithOneColumnOfItsOwnKeepsIt) {
  auto* own = new QTreeWidget(&window_);  // owned by the window
  own->setGeometry(10, 10, 400, 200);
  own->setHeaderLabels({"Only"});
  own->show();
  ui_.With(own);
  ui_.List(voltage_);
  ui_.End();
  ui_.RefreshData();
  ASSERT_EQ(own->columnCount(), 1);
  EXPECT_EQ(own->headerItem()->text(0), "Only");
  EXPECT_EQ(own->topLevelItem(0)->text(0), "Rated armature voltage");

  // The editor still opens, over the row's one cell.
  own->setFocus();
  own->setCurrentItem(own->topLevelItem(0));
  Press(Qt::Key_Return);
  TlaComboBox* editor = ui_.Editor();
  ASSERT_TRUE(editor->isVisible());
  EXPECT_EQ(editor->geometry().left(), own->viewport()->x());
  EXPECT_EQ(editor->width(), own->columnWidth(0));
  Retype("300");
  Press(Qt::Key_Return);
  EXPECT_EQ(voltage_->GetValue(), 300);

  // A new list view's one column is no column of its own: it gets the five.
  auto* fresh = new QTreeWidget(&window_);  // owned by the window
  ui_.With(fresh);
  EXPECT_EQ(fresh->columnCount(), 5);
}
