// The drive-setup window on the real stack (mbserver and kd730-sim): its
// lists and option groups, the enabling by CfgFlags, editing rows, send and
// save into the drive's RAM and EEPROM, offsets, the field-bus page, the
// close questions, a reconnect, setup files and the printed report.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QApplication>
#include <QFileDialog>
#include <QMenu>
#include <QRadioButton>
#include <QStyleOptionButton>
#include <QTest>
#include <QTextEdit>
#include <QToolButton>
#include <QToolTip>
#include <QTreeWidget>
#include <filesystem>
#include <map>

#include "AppTestSupport.h"
#include "Formats.h"
#include "Modulenetwork.h"
#include "RadioGroupBox.h"
#include "Startup.h"
#include "Tladevicekd730cmp.h"
#include "Winmain.h"
#include "Winsetup.h"

using namespace apptest;

namespace {

QStringList Column(const QTreeWidget* list, int column) {
  QStringList texts;
  for (int i = 0; i < list->topLevelItemCount(); ++i) texts << list->topLevelItem(i)->text(column);
  return texts;
}

// The option groups of the Options box, in their order of creation.
QList<RadioGroupBox*> OptionGroups() {
  return KD730Setup->gbOptions->findChildren<RadioGroupBox*>(Qt::FindDirectChildrenOnly);
}

RadioGroupBox* OptionGroup(int bit) {
  for (RadioGroupBox* group : OptionGroups())
    if (group->tag() == bit) return group;
  return nullptr;
}

// A click on an option button's indicator, as the operator makes it.
void Pick(RadioGroupBox* group, int item) {
  QRadioButton* b = group->button(item);
  QTest::mouseClick(b, Qt::LeftButton, {}, QPoint(6, b->height() / 2));
}

void ShowPageOf(QWidget* widget) {
  for (QWidget* w = widget; w; w = w->parentWidget())
    if (KD730Setup->pcSetup->indexOf(w) >= 0) {
      KD730Setup->pcSetup->setCurrentWidget(w);
      return;
    }
}

// Selects a row on its page and double-clicks it.
void DoubleClick(QTreeWidget* list, int row) {
  ShowPageOf(list);
  QTreeWidgetItem* item = list->topLevelItem(row);
  list->setCurrentItem(item);
  QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(item).center());
}

class SetupWindow : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_.WriteSampleIni();
    folder_.RegisterServer();
    StartDrive();
  }
  void TearDown() override { forms_.reset(); }

  void StartDrive(std::vector<std::string> more = {}) {
    more.insert(more.begin(), {"--eeprom", folder_.File("eeprom")});
    drive_ = std::make_unique<SimulatedDrive>(folder_, more);
  }
  // The program connects; the first setup read opens the window, whose
  // showing reads the setup once more.
  void Connect() {
    forms_ = std::make_unique<TProgramForms>();
    MainForm->show();
    MainForm->acOpenConnection->trigger();
    ASSERT_TRUE(PumpUntil([] {
      return CountLog("Data refreshed from drive.") == 2 && KD730Setup->isVisible();
    })) << MainForm->Memo->toPlainText().toStdString();
    Idle();
  }
  // Waits for the next setup read to arrive.
  void NextRefresh() {
    const int refreshed = CountLog("Data refreshed from drive.");
    ASSERT_TRUE(PumpUntil([&] { return CountLog("Data refreshed from drive.") > refreshed; }));
  }
  // CfgFlags bits in the image, then the window's refresh.
  void SetCfgFlags(std::initializer_list<std::pair<int, bool>> bits) {
    for (const auto& [bit, on] : bits)
      Drive().CfgFlags->SetValueBit(0, static_cast<std::uint8_t>(bit), on);
    W().RefreshSetup();
    Idle();
  }

  TKD730Setup& W() { return *KD730Setup; }
  TlaDeviceKD730& Drive() { return *Network->laDevice; }

  // The registers of setup files: the data model's category ImportExport (1/23).
  std::vector<TlaRegister*> FileRegisters() {
    std::vector<TlaRegister*> regs;
    for (int address = 1; address <= 23; ++address) regs.push_back(Drive().GetRegister(address));
    return regs;
  }
  std::map<TlaRegister*, int> FileValues() {
    std::map<TlaRegister*, int> values;
    for (TlaRegister* reg : FileRegisters()) values[reg] = reg->GetValueInteger(0);
    return values;
  }
  // Every file register one step away from its value, within its bounds.
  void ChangeFileRegisters() {
    for (TlaRegister* reg : FileRegisters()) {
      const int value = reg->GetValueInteger(0);
      reg->SetValueInteger(0, value + 1);
      if (reg->GetValueInteger(0) == value) reg->SetValueInteger(0, value - 1);
      EXPECT_NE(reg->GetValueInteger(0), value) << reg->Definition->Name;
    }
  }
  void Import(const std::string& path, std::vector<ModalScript::Handler> more = {},
              bool force = false) {
    more.insert(more.begin(), ChooseFile(path, nullptr, force));
    ModalScript script(std::move(more));
    W().acImport->trigger();
    EXPECT_EQ(script.Remaining(), 0);
  }
  std::string Write(const std::string& name, const std::string& text) {
    kdtest::WriteFile(folder_.File(name), text);
    return folder_.File(name);
  }
  // The report printed into a PDF file of the folder, as text.
  std::string PrintReport(const std::string& name) {
    const std::string pdf = folder_.File(name);
    ModalScript script({PrintToPdf(pdf)});
    W().acPrint->trigger();
    EXPECT_EQ(script.Remaining(), 0);
    return PdfText(pdf, 1);
  }
  void SendAndWait() {
    Idle();  // the action is enabled for the edited setup
    const int sent = CountLog("Drive setup sent.");
    W().acSend->trigger();
    ASSERT_TRUE(PumpUntil([&] { return CountLog("Drive setup sent.") > sent; }));
    ASSERT_NO_FATAL_FAILURE(NextRefresh());
  }

  ProgramFolder folder_;
  std::unique_ptr<SimulatedDrive> drive_;
  std::unique_ptr<TProgramForms> forms_;
};

TEST_F(SetupWindow, ListsGroupHeightsAndOptionGroups) {
  ASSERT_NO_FATAL_FAILURE(Connect());
  EXPECT_EQ(W().windowTitle(), "KD730 Drive Setup");
  EXPECT_EQ(W().pcSetup->currentWidget(), W().tsNominalValues);
  EXPECT_EQ(Column(W().lvMainSetup, 0), QStringList({"Rated armature voltage", "Continuous current",
                                                     "Peak current", "Rated motor speed"}));
  EXPECT_EQ(W().lvMainSetup->topLevelItem(0)->text(1),
            QString::fromStdString(Drive().UrV->GetValueText(0)));
  EXPECT_EQ(Column(W().lvMainSetup, 2), QStringList({"10 V", "0.5 A", "10.0 A", "100 rpm"}));
  // The hardware class (550 V) sets the current maxima after the setup read.
  EXPECT_EQ(Column(W().lvMainSetup, 3), QStringList({"550 V", "15.0 A", "30.0 A", "6000 rpm"}));
  EXPECT_EQ(W().lvModBusSlave->columnCount(), 2);
  // A gain row shows its view: the gain register's description and format.
  EXPECT_EQ(Column(W().lvPIDCurrent, 0),
            QStringList({"Current loop proportional gain", "Current loop integral gain"}));
  EXPECT_EQ(W().lvPIDCurrent->topLevelItem(0)->text(1),
            QString::fromStdString(kd::FormatFloat("0.0000", Drive().Current_P->GetValue())));
  EXPECT_EQ(KD730Setup->RowView(W().lvPIDSpeed->topLevelItem(2)), Drive().Speed_D.get());
  EXPECT_EQ(KD730Setup->RowRegister(W().lvReferenceOffset->topLevelItem(1)), Drive().ARef1_scale);

  struct Group {
    QTreeWidget* list;
    QWidget* box;
    int rows;
  };
  const Group groups[] = {{W().lvMainSetup, W().gbMainSetup, 4},
                          {W().lvRxIComp, W().gbRxIComp, 1},
                          {W().lvSpeed, W().gbSpeed, 2},
                          {W().lvRamp, W().gbRamp, 2},
                          {W().lvPIDSpeed, W().gbPIDSpeed, 3},
                          {W().lvPIDCurrent, W().gbPIDCurrent, 2},
                          {W().lvReferenceOffset, W().gbReferenceOffset, 2},
                          {W().lvCurLimOffset, W().gbCurLimOffset, 1},
                          {W().lvModBusSlave, W().gbModBusSlave, 1}};
  auto expectGroups = [&] {
    for (const Group& g : groups) {
      EXPECT_EQ(g.list->topLevelItemCount(), g.rows) << g.list->objectName().toStdString();
      EXPECT_EQ(g.box->height(), g.rows * 18 + 42) << g.box->objectName().toStdString();
    }
    ASSERT_EQ(OptionGroups().size(), 10);
  };
  expectGroups();
  EXPECT_EQ(W().gbPIDSpeed->height(), 96);

  // Bits 9 down to 0, each with the data model's texts, colour and tag.
  const QList<RadioGroupBox*> options = OptionGroups();
  EXPECT_EQ(options[0]->title(), "Control mode");
  EXPECT_EQ(options[0]->items(), QStringList({"Speed", "Current"}));
  EXPECT_EQ(options[0]->tag(), 9);
  EXPECT_EQ(options[9]->title(), "Reference source");
  EXPECT_EQ(options[9]->tag(), 0);
  EXPECT_EQ(options[9]->itemIndex(), 1);  // digital reference (CfgFlags default 35)
  EXPECT_EQ(options[0]->itemIndex(), 0);
  EXPECT_EQ(options[0]->color(), QColor(0xD9, 0xD9, 0xFF));  // odd bit: 0xFFD9D9
  EXPECT_EQ(options[1]->color(), QColor(0xC1, 0xC1, 0xFF));  // even bit: 0xFFC1C1
  EXPECT_EQ(options[0]->height(), 50);
  EXPECT_EQ(W().rgFilter->items(),
            QStringList({"Cut freq. 1000Hz", "Cut freq. 500Hz", "Cut freq. 200Hz", "Filter OFF."}));
  EXPECT_EQ(W().rgFilter->itemIndex(), Drive().InputFilter->GetField());

  // Building again (as a later identification does) replaces, never adds.
  W().BuildSetupLists();
  expectGroups();
  EXPECT_EQ(KD730Setup->RowRegister(W().lvMainSetup->topLevelItem(0)), Drive().UrV);

  const std::pair<QWidget*, const char*> pages[] = {{W().tsNominalValues, "setup-nominal.png"},
                                                    {W().tsSpeedSetup, "setup-speed.png"},
                                                    {W().tsPID, "setup-loop.png"},
                                                    {W().tsOffset, "setup-analog.png"},
                                                    {W().tsFieldBus, "setup-fieldbus.png"}};
  for (const auto& [page, file] : pages) {
    W().pcSetup->setCurrentWidget(page);
    Idle();
    SaveScreenshot(file, KD730Setup);
  }
}

// What the window shows can be read whole: the tool bar's captions, both
// choices of every option group inside its 50 pixels and the box, and every
// row's description (in its column or as the row's tooltip).
TEST_F(SetupWindow, CaptionsChoicesAndDescriptionsShowWhole) {
  ASSERT_NO_FATAL_FAILURE(Connect());
  EXPECT_EQ(W().tbImport->text(), "From File ...");
  EXPECT_EQ(W().tbExport->text(), "To File ...");
  for (QToolButton* b : W().tbarMain->findChildren<QToolButton*>())
    EXPECT_LE(b->fontMetrics().horizontalAdvance(b->text()), b->width())
        << b->text().toStdString();

  const QRect box = W().gbOptions->contentsRect();
  for (RadioGroupBox* group : OptionGroups()) {
    SCOPED_TRACE(group->title().toStdString());
    EXPECT_EQ(group->height(), 50);
    EXPECT_TRUE(box.contains(group->geometry())) << "the Options box ends at " << box.bottom()
                                                  << ", the group at " << group->geometry().bottom();
    QRect previous;
    for (int i = 0; i < 2; ++i) {
      QRadioButton* b = group->button(i);
      EXPECT_TRUE(group->contentsRect().contains(b->geometry()))
          << "choice " << i << " at " << b->geometry().top() << ".." << b->geometry().bottom()
          << " in " << group->contentsRect().top() << ".." << group->contentsRect().bottom();
      EXPECT_GE(b->height(), b->fontMetrics().height()) << "choice " << i;
      EXPECT_GE(b->width(), b->sizeHint().width()) << "choice " << i;
      QStyleOptionButton option;
      option.initFrom(b);
      QRect circle = b->style()->subElementRect(QStyle::SE_RadioButtonIndicator, &option, b);
      EXPECT_TRUE(b->rect().contains(circle)) << "choice " << i;
      circle.translate(b->pos());
      if (i == 1) {
        EXPECT_GE(circle.top() - previous.bottom(), 3) << "the two circles touch";
      }
      previous = circle;
    }
  }

  for (QTreeWidget* list : W().findChildren<QTreeWidget*>()) {
    ShowPageOf(list);
    Idle();
    for (int i = 0; i < list->topLevelItemCount(); ++i) {
      QTreeWidgetItem* item = list->topLevelItem(i);
      const QString text = item->text(0);
      if (list->fontMetrics().horizontalAdvance(text) + 8 <= list->columnWidth(0)) continue;
      // Cut in its column: the row's tooltip shows it, also on a disabled list.
      const QPoint at = list->visualItemRect(item).topLeft() + QPoint(4, 4);
      QHelpEvent help(QEvent::ToolTip, at, list->viewport()->mapToGlobal(at));
      QApplication::sendEvent(list->viewport(), &help);
      EXPECT_EQ(QToolTip::text(), text)
          << list->objectName().toStdString() << " in " << list->columnWidth(0) << " pixels"
          << (list->isEnabled() ? "" : ", disabled");
      QToolTip::hideText();
    }
  }
}

TEST_F(SetupWindow, EnablingFollowsCfgFlags) {
  ASSERT_NO_FATAL_FAILURE(Connect());
  struct Mode {
    bool bit9, bit4;
    bool opt4, opt8, speed, rxi, pidSpeed;
  };
  const Mode modes[] = {{true, false, false, false, false, false, false},
                        {true, true, false, false, false, false, false},
                        {false, false, true, false, false, true, true},
                        {false, true, true, true, true, false, true}};
  for (const Mode& m : modes) {
    SCOPED_TRACE(testing::Message() << "bit 9 " << m.bit9 << ", bit 4 " << m.bit4);
    SetCfgFlags({{9, m.bit9}, {4, m.bit4}});
    EXPECT_EQ(OptionGroup(4)->isEnabled(), m.opt4);
    EXPECT_EQ(OptionGroup(8)->isEnabled(), m.opt8);
    EXPECT_TRUE(OptionGroup(7)->isEnabled());
    EXPECT_EQ(W().lvSpeed->isEnabled(), m.speed);
    EXPECT_EQ(W().lvRxIComp->isEnabled(), m.rxi);
    EXPECT_EQ(W().lvPIDSpeed->isEnabled(), m.pidSpeed);
  }

  // Bit 0 (digital reference): no analogue filter nor reference offset;
  // bit 3: current-limit offset; bit 5: ramps. The offset actions follow their lists.
  for (bool on : {true, false}) {
    SetCfgFlags({{0, on}, {3, !on}, {5, !on}});
    EXPECT_EQ(W().rgFilter->isEnabled(), !on);
    EXPECT_EQ(W().lvReferenceOffset->isEnabled(), !on);
    EXPECT_EQ(W().acRefOffsetUp->isEnabled(), !on);
    EXPECT_EQ(W().acRefOffsetDflt->isEnabled(), !on);
    EXPECT_EQ(W().lvCurLimOffset->isEnabled(), !on);
    EXPECT_EQ(W().acCurrentOffsetDwn->isEnabled(), !on);
    EXPECT_EQ(W().lvRamp->isEnabled(), !on);
  }

  // A cleared VisibleMask bit hides its group.
  Drive().CfgFlags->VisibleMask = ~(1u << 6);
  W().RefreshSetup();
  EXPECT_TRUE(OptionGroup(6)->isHidden());
  EXPECT_FALSE(OptionGroup(5)->isHidden());

  // Picking an option sets the bit in the image (an edit) and refreshes.
  ASSERT_EQ(Drive().SetupState, setupEdited);  // the bits set above
  Drive().SetupState = setupSynced;
  Pick(OptionGroup(9), 1);
  EXPECT_TRUE(Drive().CfgFlags->GetValueBit(0, 9));
  EXPECT_EQ(Drive().SetupState, setupEdited);
  EXPECT_FALSE(W().lvSpeed->isEnabled());
  EXPECT_FALSE(OptionGroup(8)->isEnabled());
  // The filter group writes its bit field.
  W().pcSetup->setCurrentWidget(W().tsPID);
  Idle();
  Pick(W().rgFilter, 3);
  EXPECT_EQ(Drive().InputFilter->GetField(), 3);
  EXPECT_EQ(Drive().CfgFlags->GetValueBitField(0, 10, 2), 3);
}

TEST_F(SetupWindow, EditingRows) {
  ASSERT_NO_FATAL_FAILURE(Connect());
  ASSERT_EQ(Drive().SetupState, setupSynced);
  std::vector<std::string> seen, messages;
  {
    ModalScript script({Input("220", &seen)});
    DoubleClick(W().lvMainSetup, 0);
  }
  EXPECT_EQ(seen, (std::vector<std::string>{"Edit Register", "Rated armature voltage",
                                            kd::FloatToStr(400)}));
  EXPECT_EQ(Drive().UrV->GetValueInteger(0), 220);
  EXPECT_EQ(W().lvMainSetup->topLevelItem(0)->text(1), "220 V");
  EXPECT_EQ(Drive().SetupState, setupEdited);

  // No number: a message, nothing changed. Beyond the bounds: clamped.
  {
    ModalScript script({Input("12,5"), Message(&messages), Input("9999")});
    DoubleClick(W().lvMainSetup, 0);
    DoubleClick(W().lvMainSetup, 3);
    EXPECT_EQ(script.Remaining(), 0);
  }
  EXPECT_EQ(messages, std::vector<std::string>{"Only numeric values allowed."});
  EXPECT_EQ(Drive().UrV->GetValueInteger(0), 220);
  EXPECT_EQ(W().lvMainSetup->topLevelItem(3)->text(1), "6000 rpm");

  // A gain row edits its view; a digit key opens the same dialog.
  seen.clear();
  {
    ModalScript script({Input("0.25", &seen)});
    ShowPageOf(W().lvPIDCurrent);
    W().lvPIDCurrent->setCurrentItem(W().lvPIDCurrent->topLevelItem(1));
    QTest::keyClick(W().lvPIDCurrent, Qt::Key_5);
  }
  ASSERT_EQ(seen.size(), 3u);
  EXPECT_EQ(seen[1], "Current loop integral gain");
  EXPECT_DOUBLE_EQ(Drive().Current_I->GetValue(), 0.25);
  EXPECT_EQ(W().lvPIDCurrent->topLevelItem(1)->text(1), "0.2500");

  // The context menu's one item edits the row of the list it was opened on.
  {
    ModalScript script({Input("21")});
    W().lvMainSetup->setCurrentItem(W().lvMainSetup->topLevelItem(2));
    emit W().lvMainSetup->customContextMenuRequested(QPoint(5, 5));
    ASSERT_TRUE(W().PopupMenu->isVisible());
    EXPECT_EQ(W().PopupMenu->actions().size(), 1);
    W().mnEditValue->trigger();
    W().PopupMenu->hide();
  }
  EXPECT_DOUBLE_EQ(Drive().IpA->GetValueDouble(0), 21.0);

  // A disabled register opens nothing and is drawn silver on grey; a hidden
  // one is not drawn; a gain row only alternates.
  Drive().IcA->Enabled = 0;
  {
    ModalScript script({Cancel()});
    DoubleClick(W().lvMainSetup, 1);
    Idle();
    EXPECT_EQ(script.Remaining(), 1);
  }
  TSetupRowDraw draw;
  W().lvCustomDrawSubItem(W().lvMainSetup, W().lvMainSetup->topLevelItem(1), 1, draw);
  EXPECT_EQ(draw.Background, QColor(0xC0, 0xC0, 0xC0));
  EXPECT_EQ(draw.Font, QColor(0x80, 0x80, 0x80));
  EXPECT_TRUE(draw.Bold);
  EXPECT_TRUE(draw.DefaultDraw);
  Drive().IcA->Visible = 0;
  draw = {};
  W().lvCustomDrawItem(W().lvMainSetup, W().lvMainSetup->topLevelItem(1), draw);
  EXPECT_FALSE(draw.DefaultDraw);
  draw = {};
  W().lvCustomDrawSubItem(W().lvPIDSpeed, W().lvPIDSpeed->topLevelItem(0), 2, draw);
  EXPECT_EQ(draw.Background, QColor(0xC1, 0xC1, 0xFF));  // the first row is tinted
  EXPECT_FALSE(draw.Bold);
  draw = {};
  W().lvCustomDrawSubItem(W().lvPIDSpeed, W().lvPIDSpeed->topLevelItem(1), 1, draw);
  EXPECT_EQ(draw.Background, W().lvPIDSpeed->palette().color(QPalette::Base));
  EXPECT_TRUE(draw.Bold);

  // Without a selected row nothing opens.
  {
    ModalScript script({Cancel()});
    W().lvRamp->clearSelection();
    W().lvRamp->setCurrentItem(nullptr);
    QTest::keyClick(W().lvRamp, Qt::Key_Return);
    Idle();
    EXPECT_EQ(script.Remaining(), 1);
  }
}

TEST_F(SetupWindow, SendAndSaveReachRamAndEeprom) {
  ASSERT_NO_FATAL_FAILURE(Connect());
  EXPECT_FALSE(W().acSend->isEnabled());
  EXPECT_FALSE(W().acSave->isEnabled());
  {
    ModalScript script({Input("321")});
    DoubleClick(W().lvMainSetup, 0);
  }
  Idle();
  EXPECT_TRUE(W().acSend->isEnabled());
  EXPECT_TRUE(W().acSave->isEnabled());
  const int eeUrV = DriveValue(Drive().GetRegister("EE_UrV"));

  // Send: Inhibit asserted through VirtualInput (bit 2 set, the input logic
  // being normal), the RAM written, the setup read back.
  Drive().VirtualInput->SetValueInteger(0, 0);
  ASSERT_TRUE(Drive().WriteReg(Drive().VirtualInput, true));
  W().acSend->trigger();
  EXPECT_EQ(LogLines().filter("Sending program to drive.").size(), 1);
  ASSERT_TRUE(PumpUntil([] { return Logged("Drive setup sent."); }));
  ASSERT_NO_FATAL_FAILURE(NextRefresh());
  EXPECT_EQ(DriveValue(Drive().VirtualInput), 4);
  EXPECT_EQ(Drive().UrV->GetValueInteger(0), 321);  // read back from the drive's RAM
  EXPECT_EQ(DriveValue(Drive().GetRegister("EE_UrV")), eeUrV);
  EXPECT_EQ(Drive().SetupState, setupSent);
  Idle();
  EXPECT_FALSE(W().acSend->isEnabled());
  EXPECT_TRUE(W().acSave->isEnabled());

  // Save with inverted input logic: Inhibit is bit 2 cleared.
  Drive().CfgFlags->SetValueBit(0, 2, true);
  W().acSave->trigger();
  EXPECT_EQ(LastLog(), "Saving program to drive");
  ASSERT_TRUE(PumpUntil([] { return Logged("Drive setup saved."); }));
  EXPECT_EQ(DriveValue(Drive().VirtualInput), 0);
  EXPECT_EQ(DriveValue(Drive().GetRegister("EE_UrV")), 321);
  EXPECT_EQ(Drive().SetupState, setupSynced);
  Idle();
  EXPECT_FALSE(W().acSave->isEnabled());

  // The EEPROM outlives the drive's restart: its RAM setup starts from it.
  forms_.reset();
  drive_.reset();
  StartDrive();
  ASSERT_NO_FATAL_FAILURE(Connect());
  EXPECT_EQ(W().lvMainSetup->topLevelItem(0)->text(1), "321 V");

  // Reload overwrites an edit with the drive's values.
  Drive().UrV->SetValueInteger(0, 100);
  W().acReload->trigger();
  ASSERT_NO_FATAL_FAILURE(NextRefresh());
  EXPECT_EQ(W().lvMainSetup->topLevelItem(0)->text(1), "321 V");
}

TEST_F(SetupWindow, OffsetsWriteAndLog) {
  ASSERT_NO_FATAL_FAILURE(Connect());
  SetCfgFlags({{0, false}, {3, true}});
  ShowPageOf(W().lvReferenceOffset);
  W().acRefOffsetUp->trigger();
  W().acRefOffsetUp->trigger();
  EXPECT_EQ(LastLog(), "Reference analog input offset: 2");
  W().acRefOffsetDwn->trigger();
  EXPECT_EQ(LastLog(), "Reference analog input offset: 1");
  EXPECT_EQ(W().lvReferenceOffset->topLevelItem(0)->text(1), "1");
  EXPECT_EQ(DriveValue(Drive().OffsetAn2Ext), 1);
  W().acRefOffsetDflt->trigger();
  EXPECT_EQ(LastLog(), "Reference analog input offset: 0");
  W().sbCurrentOffsetDwn->click();
  EXPECT_EQ(LastLog(), "Current limit analog input offset: -1");
  EXPECT_EQ(DriveValue(Drive().OffsetAn3Ext), -1);
  W().acCurrentOffsetDflt->trigger();
  EXPECT_EQ(LastLog(), "Current limit analog input offset: 0");

  // A double-click on the reference offsets edits, then writes and logs.
  {
    ModalScript script({Input("-7")});
    DoubleClick(W().lvReferenceOffset, 0);
  }
  EXPECT_EQ(LastLog(), "Reference analog input offset: -7");
  EXPECT_EQ(DriveValue(Drive().OffsetAn2Ext), -7);

  // A drive that stops answering: the write ends with the time-out, logs
  // nothing, and the row shows what the image holds.
  const auto logged = LogLines().filter("analog input offset").size();
  drive_->Pause();
  W().acRefOffsetUp->trigger();
  drive_->Resume();
  EXPECT_EQ(LogLines().filter("analog input offset").size(), logged);
  EXPECT_EQ(Drive().OffsetAn2Ext->GetValueInteger(0), -6);
  EXPECT_EQ(W().lvReferenceOffset->topLevelItem(0)->text(1), "-6");
}

TEST_F(SetupWindow, FieldBusPageReadsAndSavesTheSlaveAddress) {
  ASSERT_NO_FATAL_FAILURE(Connect());
  TlaRegister* slave = Drive().EE_ModBusSlave;
  slave->SetValueInteger(0, 9);
  W().pcSetup->setCurrentWidget(W().tsFieldBus);
  EXPECT_EQ(slave->GetValueInteger(0), 1);  // read on showing the page
  EXPECT_EQ(W().lvModBusSlave->topLevelItem(0)->text(1), "1");
  {
    ModalScript script({Input("5")});
    DoubleClick(W().lvModBusSlave, 0);
  }
  EXPECT_EQ(DriveValue(slave), 1);  // edited in the image only
  slave->SetValueInteger(0, 5);
  W().sbtnSaveModBusSlave->click();
  EXPECT_EQ(LastLog(), "ModBus Slave Address changed: 5 This change is valid only after restart.");
  EXPECT_EQ(DriveValue(slave), 5);

  // A write the drive never answered is not reported as a change.
  drive_->Pause();
  W().sbtnSaveModBusSlave->click();
  drive_->Resume();
  EXPECT_EQ(LastLog(), "Error: ModBus Slave Address NOT written!");
}

TEST_F(SetupWindow, CloseQuestionsByState) {
  ASSERT_NO_FATAL_FAILURE(Connect());
  EXPECT_TRUE(MainForm->acDriveSetup->isEnabled());
  EXPECT_TRUE(MainForm->acDriveSetup->isChecked());
  struct Case {
    TlaSetupState state;
    const char* text;
  };
  const Case cases[] = {
      {setupSynced, "Remember to export to file your work before exit!\nAre you sure to close?"},
      {setupEdited,
       "Program has been modified but not sent nor saved to drive.\n"
       "Are you sure to close without update and save the remote drive setup?"},
      {setupSent,
       "Program has been modified and sent to drive but not saved permanently.\n"
       "Are you sure to close without save to drive?"}};
  for (const Case& c : cases) {
    Drive().SetupState = c.state;
    std::vector<std::string> texts;
    {
      ModalScript script({Question(false, &texts)});
      EXPECT_FALSE(W().close());
    }
    EXPECT_EQ(texts, std::vector<std::string>{c.text});
    EXPECT_TRUE(W().isVisible());
  }
  // The main window asks the setup window first; a refusal keeps it open.
  {
    ModalScript script({Question(false)});
    EXPECT_FALSE(MainForm->close());
    EXPECT_EQ(script.Remaining(), 0);
  }
  EXPECT_TRUE(MainForm->isVisible());

  // "Drive Setup" toggles the window; closing writes its position.
  {
    ModalScript script({Question(true)});
    MainForm->acDriveSetup->trigger();
  }
  EXPECT_FALSE(W().isVisible());
  Idle();
  EXPECT_FALSE(MainForm->acDriveSetup->isChecked());
  const std::string ini = folder_.ReadIni();
  EXPECT_NE(ini.find("[KD730Setup]"), std::string::npos) << ini;
  EXPECT_NE(ini.find("Height="), std::string::npos) << ini;
  MainForm->acDriveSetup->trigger();
  EXPECT_TRUE(W().isVisible());
  ASSERT_NO_FATAL_FAILURE(NextRefresh());  // showing reads the setup

  // Not online: no question.
  MainForm->acCloseConnection->trigger();
  ASSERT_TRUE(PumpUntil([] { return Logged("ModBus closed."); }));
  Idle();
  EXPECT_FALSE(MainForm->acDriveSetup->isEnabled());
  EXPECT_FALSE(W().acSend->isEnabled());
  ModalScript script({Question(true)});
  EXPECT_TRUE(W().close());
  EXPECT_EQ(script.Remaining(), 1);
}

TEST_F(SetupWindow, ReconnectKeepsTheRowsSingle) {
  ASSERT_NO_FATAL_FAILURE(Connect());
  MainForm->acCloseConnection->trigger();
  ASSERT_TRUE(PumpUntil([] { return Logged("ModBus closed."); }));
  Idle();
  MainForm->acOpenConnection->trigger();
  ASSERT_TRUE(PumpUntil([] { return CountLog("Device version found: KDP7_KD730v105") == 2; }))
      << MainForm->Memo->toPlainText().toStdString();
  Idle();
  W().acReload->trigger();
  ASSERT_NO_FATAL_FAILURE(NextRefresh());
  EXPECT_EQ(W().lvMainSetup->topLevelItemCount(), 4);
  EXPECT_EQ(OptionGroups().size(), 10);
  EXPECT_EQ(KD730Setup->RowRegister(W().lvMainSetup->topLevelItem(3)), Drive().NomSpeed);
}

// A data model that names fewer option bits and gives a register no minimum.
TEST_F(SetupWindow, DataModelDecidesOptionGroupsAndBounds) {
  const std::string par = folder_.File("KD730_Parameters.par");
  std::string text = kdtest::ReadFile(par);
  for (const char* line : {"CfgFlags.0.6=Name=Direction,False=Normal,True=Reversed\n",
                           "MinValue=1\nMaxValue=200\nDfltValue=47\n"}) {
    const auto at = text.find(line);
    ASSERT_NE(at, std::string::npos) << line;
    text.replace(at, std::string(line).find('\n') + 1, "");
  }
  kdtest::WriteFile(par, text);
  ASSERT_NO_FATAL_FAILURE(Connect());
  EXPECT_EQ(OptionGroups().size(), 9);
  EXPECT_EQ(OptionGroup(6), nullptr);
  EXPECT_EQ(W().lvSpeed->topLevelItem(1)->text(2), "---");
  EXPECT_EQ(W().lvSpeed->topLevelItem(1)->text(3), "200.0 kOhm");
}

TEST_F(SetupWindow, ExportChangeImportRestoresTheSetup) {
  ASSERT_NO_FATAL_FAILURE(Connect());
  EXPECT_TRUE(W().acExport->isEnabled());
  EXPECT_TRUE(W().acImport->isEnabled());
  EXPECT_TRUE(W().acPrint->isEnabled());
  const std::map<TlaRegister*, int> exported = FileValues();
  const std::string path = folder_.File("drive.730");
  std::vector<std::string> titles;
  {
    // The default extension completes the name.
    ModalScript script({ChooseFile(folder_.File("drive"), &titles)});
    W().acExport->trigger();
    EXPECT_EQ(script.Remaining(), 0);
  }
  const QFileDialog* dialog = W().Dialog;
  EXPECT_EQ(titles, std::vector<std::string>{"Export configuration to file"});
  EXPECT_EQ(dialog->nameFilters(),
            QStringList({"KD730 Cfg Files (*.730)", "Text Files (*.txt)", "All Files (*)"}));
  EXPECT_EQ(dialog->defaultSuffix(), "730");
  EXPECT_EQ(dialog->acceptMode(), QFileDialog::AcceptSave);
  EXPECT_EQ(dialog->fileMode(), QFileDialog::AnyFile);
  EXPECT_FALSE(dialog->testOption(QFileDialog::DontConfirmOverwrite));
  EXPECT_TRUE(dialog->testOption(QFileDialog::DontUseNativeDialog));
  EXPECT_EQ(LogLines().mid(LogLines().size() - 2),
            QStringList({QString::fromStdString("Export drive setup to file: " + path),
                         "Drive setup exported!"}));
  const std::string file = kdtest::ReadFile(path);
  EXPECT_EQ(file.substr(0, file.find("[KD730_Cfg]")),
            "[Header]\nOwner=KD730_TnDsk\nVersion=1.02\nCompany=Morvane Tessil s.n.c.\n"
            "Web=www.morvane-tessil.example\n");
  EXPECT_NE(file.find("\nUrV=\"400\"\nIcA=\"100\"\n"), std::string::npos) << file;
  EXPECT_EQ(std::count(file.begin(), file.end(), '\n'), 6 + 23) << file;

  // Again into the same file: the overwrite question, then the same bytes.
  std::vector<std::string> questions;
  {
    ModalScript script({ChooseFile(path), Question(true, &questions)});
    W().acExport->trigger();
    EXPECT_EQ(script.Remaining(), 0);
  }
  ASSERT_EQ(questions.size(), 1u);
  EXPECT_NE(questions[0].find("already exists"), std::string::npos) << questions[0];
  EXPECT_EQ(kdtest::ReadFile(path), file);

  // Other sections and keys of the file stay; the program's [AboutForm]
  // texts (here without Web: the default) go into the header.
  std::string edited = "; notes\n[Site]\nLine=3\n" + file;
  edited.replace(edited.find("[Header]\n"), 9, "[Header]\nComment=kept\n");
  kdtest::WriteFile(path, edited);
  folder_.WriteIni("[AboutForm]\nCompany=Service Team\n");
  {
    ModalScript script({ChooseFile(path), Question(true)});
    W().acExport->trigger();
  }
  const std::string again = kdtest::ReadFile(path);
  EXPECT_EQ(again.substr(0, again.find("[KD730_Cfg]")),
            "; notes\n[Site]\nLine=3\n[Header]\nComment=kept\nOwner=KD730_TnDsk\nVersion=1.02\n"
            "Company=Service Team\nWeb=www.morvane-tessil.example\n");

  // Changed and sent: the drive holds other values.
  ChangeFileRegisters();
  ASSERT_NO_FATAL_FAILURE(SendAndWait());
  EXPECT_NE(DriveValue(Drive().UrV), exported.at(Drive().UrV));

  // The import puts the file's values into the image and the window.
  titles.clear();
  {
    ModalScript script({ChooseFile(path, &titles)});
    W().acImport->trigger();
    EXPECT_EQ(script.Remaining(), 0);
  }
  EXPECT_EQ(titles, std::vector<std::string>{"Import configuration to file"});
  EXPECT_EQ(dialog->acceptMode(), QFileDialog::AcceptSave);
  EXPECT_EQ(dialog->fileMode(), QFileDialog::ExistingFile);
  EXPECT_TRUE(dialog->testOption(QFileDialog::DontConfirmOverwrite));
  EXPECT_EQ(LogLines().mid(LogLines().size() - 4),
            QStringList({QString::fromStdString("Import drive setup from file: " + path),
                         " -> Creator: KD730_TnDsk", " -> Version: 1.02",
                         "Drive setup imported! Please verify before send or save to drive."}));
  for (TlaRegister* reg : FileRegisters())
    EXPECT_EQ(reg->GetValueInteger(0), exported.at(reg)) << reg->Definition->Name;
  EXPECT_EQ(W().lvMainSetup->topLevelItem(0)->text(1), "400 V");
  EXPECT_EQ(Drive().SetupState, setupEdited);

  // Sent, the drive holds them again.
  ASSERT_NO_FATAL_FAILURE(SendAndWait());
  for (TlaRegister* reg : FileRegisters())
    EXPECT_EQ(DriveValue(reg), exported.at(reg)) << reg->Definition->Name;
}

// A file without header, and one with an empty data section: the header's
// texts are unknown, and every register the file does not name gets its
// default (the simulated drive starts with the defaults).
TEST_F(SetupWindow, ImportWithoutHeaderOrValuesTakesTheDefaults) {
  ASSERT_NO_FATAL_FAILURE(Connect());
  const std::map<TlaRegister*, int> defaults = FileValues();
  ASSERT_EQ(defaults.at(Drive().CfgFlags), 35);
  struct Case {
    const char* text;
    const char* creator;
    const char* version;
    int urv;
  };
  const Case cases[] = {
      {"[KD730_Cfg]\nUrV=\"300\"\n", "- unknown -", "- unknown -", 300},
      {"[Header]\nOwner=Another tool\nVersion=9.9\n[KD730_Cfg]\n", "Another tool", "9.9", 400}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    ChangeFileRegisters();
    Import(Write("setup.730", c.text));
    EXPECT_EQ(
        LogLines().mid(LogLines().size() - 3),
        QStringList({QString(" -> Creator: ") + c.creator, QString(" -> Version: ") + c.version,
                     "Drive setup imported! Please verify before send or save to drive."}));
    for (TlaRegister* reg : FileRegisters()) {
      if (reg != Drive().UrV) {
        EXPECT_EQ(reg->GetValueInteger(0), defaults.at(reg)) << reg->Definition->Name;
      }
    }
    EXPECT_EQ(Drive().UrV->GetValueInteger(0), c.urv);
    EXPECT_EQ(W().lvMainSetup->topLevelItem(0)->text(1), QString::number(c.urv) + " V");
  }
}

TEST_F(SetupWindow, ImportRefusesWhatIsNoSetupFile) {
  ASSERT_NO_FATAL_FAILURE(Connect());
  const std::map<TlaRegister*, int> before = FileValues();
  struct Case {
    const char* what;
    std::string path;
    const char* error;
  };
  std::vector<Case> cases = {
      {"binary", Write("picture.730", std::string("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16)),
       "is not a setup file (line 1 is not INI text)"},
      {"prose", Write("letter.txt", "[KD730_Cfg]\nDear technician,\nUrV=\"300\"\n"),
       "is not a setup file (line 2 is not INI text)"},
      {"folder", folder_.File("folder.730"), "is a folder, not a setup file"},
      {"huge", folder_.File("huge.730"),
       "is too large for a setup file (2097152 bytes, at most 1048576)"}};
  std::filesystem::create_directory(folder_.File("folder.730"));
  kdtest::WriteFile(folder_.File("huge.730"), "");
  std::filesystem::resize_file(folder_.File("huge.730"), 2 << 20);
  if (geteuid() != 0) {  // root reads every file
    cases.push_back({"unreadable", Write("locked.730", "[KD730_Cfg]\n"), "cannot read"});
    std::filesystem::permissions(cases.back().path, std::filesystem::perms::none);
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<std::string> errors;
    Import(c.path, {Message(&errors)}, true);
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_NE(errors[0].find(c.error), std::string::npos) << errors[0];
    EXPECT_NE(errors[0].find(c.path), std::string::npos) << errors[0];
    EXPECT_EQ(LogLines().mid(LogLines().size() - 2),
              QStringList({QString::fromStdString("Import drive setup from file: " + c.path),
                           "Error: Drive setup NOT imported!"}));
    EXPECT_EQ(FileValues(), before);
    EXPECT_EQ(Drive().SetupState, setupSynced);
  }

  // A value that is no number stops the import there: the registers before
  // it hold the file's values, it and the rest keep theirs; the window shows
  // the image, the log and an error box say so, and the drive is not written.
  ChangeFileRegisters();
  const std::map<TlaRegister*, int> edited = FileValues();
  std::vector<std::string> errors;
  Import(Write("bad.730", "[KD730_Cfg]\nUrV=\"310\"\nIcA=\"abc\"\nIpA=\"250\"\n"),
         {Message(&errors)});
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_NE(errors[0].find("IcA"), std::string::npos) << errors[0];
  EXPECT_EQ(LogLines().last(),
            "Error: Drive setup only partly imported! Please verify before send or save to drive.");
  EXPECT_EQ(CountLog("Drive setup imported! Please verify before send or save to drive."), 0);
  EXPECT_EQ(Drive().UrV->GetValueInteger(0), 310);
  for (TlaRegister* reg : FileRegisters()) {
    if (reg != Drive().UrV) {
      EXPECT_EQ(reg->GetValueInteger(0), edited.at(reg)) << reg->Definition->Name;
    }
  }
  QStringList shown;
  for (TlaRegister* reg : {Drive().UrV, Drive().IcA, Drive().IpA, Drive().NomSpeed})
    shown << QString::fromStdString(reg->GetValueText(0));
  EXPECT_EQ(Column(W().lvMainSetup, 1), shown);
  EXPECT_EQ(shown[0], "310 V");
  EXPECT_EQ(DriveValue(Drive().UrV), before.at(Drive().UrV));
}

// What "To File ..." writes, "From File ..." reads: an existing file that
// import would refuse is refused by export before anything is written, for
// the same reason; a file export wrote into, foreign INI lines and all,
// imports with the exported values.
TEST_F(SetupWindow, ExportIntoAForeignFileThenImport) {
  ASSERT_NO_FATAL_FAILURE(Connect());
  const std::map<TlaRegister*, int> exported = FileValues();
  struct Case {
    const char* what;
    std::string text;
    const char* error;  // null: export and import both work
  };
  const Case cases[] = {
      {"prose", "Notes on the drive\nDear technician,\n[KD730_Cfg]\nUrV=\"300\"\n",
       "is not a setup file (line 1 is not INI text)"},
      {"binary", std::string("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16),
       "is not a setup file (line 1 is not INI text)"},
      {"INI with foreign lines",
       "; notes\n# more notes\n\nSite=Plant 2\n[Service]\nLast=2024-05-03\n[KD730_Cfg]\n"
       "UrV=\"300\"\n",
       nullptr}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string path = Write("notes.txt", c.text);
    std::vector<std::string> errors;
    {
      std::vector<ModalScript::Handler> answers = {ChooseFile(path), Question(true)};
      if (c.error) answers.push_back(Message(&errors));
      ModalScript script(answers);
      W().acExport->trigger();
      EXPECT_EQ(script.Remaining(), 0);
    }
    if (c.error) {
      ASSERT_EQ(errors.size(), 1u);
      EXPECT_NE(errors[0].find(c.error), std::string::npos) << errors[0];
      EXPECT_EQ(LogLines().last(), "Error: Drive setup NOT exported!");
      EXPECT_EQ(kdtest::ReadFile(path), c.text);
      Import(path, {Message(&errors)});
      ASSERT_EQ(errors.size(), 2u);
      EXPECT_NE(errors[1].find(c.error), std::string::npos) << errors[1];
      EXPECT_EQ(LogLines().last(), "Error: Drive setup NOT imported!");
      continue;
    }
    EXPECT_EQ(LogLines().last(), "Drive setup exported!");
    const std::string file = kdtest::ReadFile(path);
    EXPECT_EQ(file.find("; notes\n# more notes\n\nSite=Plant 2\n[Service]\nLast=2024-05-03\n"), 0u)
        << file;
    ChangeFileRegisters();
    Import(path);
    EXPECT_EQ(LogLines().last(), "Drive setup imported! Please verify before send or save to drive.");
    EXPECT_EQ(FileValues(), exported);
  }
}

// A place where no file can be made: the write fails with the reason.
TEST_F(SetupWindow, ExportToAPlaceThatCannotBeWrittenFails) {
  ASSERT_NO_FATAL_FAILURE(Connect());
  const std::string plain = Write("plain.txt", "not a folder");
  const std::string path = plain + "/drive.730";
  std::vector<std::string> errors;
  {
    ModalScript script({ChooseFile(path, nullptr, true), Message(&errors)});
    W().acExport->trigger();
    EXPECT_EQ(script.Remaining(), 0);
  }
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(errors[0], "IniFile: cannot write '" + path + "': Not a directory");
  EXPECT_EQ(LogLines().last(), "Error: Drive setup NOT exported!");
  EXPECT_EQ(kdtest::ReadFile(plain), "not a folder");
}

// Paths that are no setup file to read whole: export and import refuse each
// at once, in bounded memory and with one error, before anything is opened
// for writing; the path stays what it was and the setup as it is.
TEST_F(SetupWindow, ExportAndImportRefuseWhatIsNoRegularFile) {
  ASSERT_NO_FATAL_FAILURE(Connect());
  const std::map<TlaRegister*, int> before = FileValues();
  const kdtest::RefusedPaths paths(folder_.Path(), ".730");
  const std::pair<std::string, std::string> cases[] = {
      {paths.fifo, "is not a regular file"},
      {paths.device, "is not a regular file"},
      {paths.folder, "is a folder, not a setup file"},
      {paths.sparse, "is too large for a setup file (3221225472 bytes, at most 1048576)"}};
  const auto entries = [&] {
    return std::distance(std::filesystem::directory_iterator(folder_.Path()), {});
  };
  const auto present = entries();
  const long memory = kdtest::PeakMemoryKiB();
  for (const auto& [path, error] : cases) {
    SCOPED_TRACE(path);
    const kdtest::FifoWatchdog watchdog(paths.fifo, 10s);
    std::vector<std::string> errors;
    {
      ModalScript script({ChooseFile(path, nullptr, true), Message(&errors)});
      W().acExport->trigger();
      EXPECT_EQ(script.Remaining(), 0);
    }
    EXPECT_EQ(LogLines().last(), "Error: Drive setup NOT exported!");
    Import(path, {Message(&errors)}, true);
    EXPECT_EQ(LogLines().last(), "Error: Drive setup NOT imported!");
    EXPECT_EQ(errors, (std::vector<std::string>{"Export: '" + path + "' " + error,
                                                "Import: '" + path + "' " + error}));
    EXPECT_FALSE(watchdog.Fired()) << "waited for a writer";
    EXPECT_EQ(FileValues(), before);
    EXPECT_EQ(Drive().SetupState, setupSynced);
  }
  EXPECT_LT(kdtest::PeakMemoryKiB() - memory, 64 * 1024) << "KiB more at the peak";
  EXPECT_EQ(paths.Changes(), "");
  EXPECT_EQ(entries(), present);  // no file made beside them
}

TEST_F(SetupWindow, PrintsTheSetupReport) {
  ASSERT_NO_FATAL_FAILURE(Connect());
  Drive().InputFilter->SetField(3);
  const std::string pdf = folder_.File("report.pdf");
  {
    ModalScript script({PrintToPdf(pdf)});
    W().acPrint->trigger();
    EXPECT_EQ(script.Remaining(), 0);
  }
  EXPECT_EQ(LogLines().last(), "Print drive setup.");
  EXPECT_TRUE(W().findChildren<QTextEdit*>().isEmpty());  // the report's control is gone
  EXPECT_NE(PdfInfo(pdf).find("KD730_TnDsk_Report"), std::string::npos);

  // The report's parts in their order.
  const std::string text = PdfText(pdf);
  const std::string separator(56, '_');
  const std::string parts[] = {separator,
                               "KD730 Tuning Desk 1.02",
                               "Report date:",
                               kd::DateToStr(kd::Date()),
                               "Modbus slave:\n" + Drive().EE_ModBusSlave->GetValueText(0) + "\n",
                               separator,
                               "Rated armature voltage:",
                               "400 V",
                               "Peak current:",
                               "RxI compensation:",
                               separator,
                               "Acceleration time:",
                               "Deceleration time:",
                               separator,
                               "Tachometer constant:",
                               separator,
                               "Current Loop Setup:",
                               "Proportional Gain:",
                               kd::Sprintf("%.4lf", Drive().Current_P->GetValue()),
                               "Integral Gain:",
                               separator,
                               "Speed Loop Setup:",
                               "Derivative Gain:",
                               kd::Sprintf("%.4lf", Drive().Speed_D->GetValue()),
                               separator,
                               "Reference analog input offset:",
                               "Current limit analog input offset:",
                               "Analog input filter: OFF",
                               separator,
                               "Configuration flags:",
                               "Reference source:",
                               "Control mode:",
                               separator};
  std::size_t at = 0;
  for (const std::string& part : parts) {
    const std::size_t found = text.find(part, at);
    ASSERT_NE(found, std::string::npos) << "'" << part << "' after position " << at << " in\n"
                                        << text;
    at = found + part.size();
  }
  EXPECT_EQ(text.find("_", at), std::string::npos);  // the last separator ends it

  // Page 1 as a picture, beside the screenshots.
  const std::string png = std::string(KD_SCREENSHOT_DIR) + "/setup-report";
  std::filesystem::create_directories(KD_SCREENSHOT_DIR);
  kdtest::ChildProcess render(
      {"pdftoppm", "-png", "-r", "80", "-f", "1", "-l", "1", "-singlefile", pdf, png});
  EXPECT_EQ(render.Wait(30s), 0);
}

// The report's slave line is the address the drive holds, read when
// printing: not the image's 0 before the Field bus page was shown, not an
// unsaved edit, and "---" when the drive cannot tell.
TEST_F(SetupWindow, ReportShowsTheSlaveAddressTheDriveHolds) {
  drive_.reset();
  StartDrive({"--slave", "1", "--set", "EE_ModBusSlave=7"});
  ASSERT_NO_FATAL_FAILURE(Connect());
  // The value after the label, on page 1 as laid out (the text mode would
  // join "---" to the next line as a hyphenated word).
  const auto slave = [](const std::string& text) {
    const std::size_t at = text.find("Modbus slave:");
    if (at == std::string::npos) return std::string("(no slave line)");
    const std::size_t value = text.find_first_not_of(" \t", at + 13);
    return text.substr(value, text.find('\n', value) - value);
  };

  EXPECT_EQ(slave(PrintReport("before.pdf")), "7");
  EXPECT_EQ(W().lvModBusSlave->topLevelItem(0)->text(1), "7");

  W().pcSetup->setCurrentWidget(W().tsFieldBus);
  Drive().EE_ModBusSlave->SetValueInteger(0, 9);  // edited, not saved
  EXPECT_EQ(slave(PrintReport("after.pdf")), "7");

  drive_->Pause();
  const std::string silent = PrintReport("silent.pdf");
  drive_->Resume();
  EXPECT_EQ(slave(silent), "---");

  MainForm->acCloseConnection->trigger();
  ASSERT_TRUE(PumpUntil([] { return Logged("ModBus closed."); }));
  Idle();
  EXPECT_EQ(slave(PrintReport("offline.pdf")), "---");
}

}  // namespace
