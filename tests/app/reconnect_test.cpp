// Disconnect and Connect again on the real stack (mbserver and kd730-sim):
// the same drive, changed meanwhile by another tool, is identified and read
// as at the first connection; an edited or sent setup is kept; the Field bus
// page shows the connected drive's stored address; a drive of another
// firmware is not taken online and gets nothing written.
#include <gtest/gtest.h>

#include <QTest>
#include <QTreeWidget>

#include "AppTestSupport.h"
#include "LineMaster.h"
#include "Modulenetwork.h"
#include "Startup.h"
#include "Tladevicekd730cmp.h"
#include "Winmain.h"
#include "Winsetup.h"

using namespace apptest;

namespace {

constexpr int kNomSpeed = 4;  // register addresses in both data models
constexpr int kVirtualInput = 25;
constexpr int kModBusSlave = 38;  // EE_ModBusSlave, the stored slave address
const QString kFound = "Device version found: KDP7_KD730v105";
const QString kDescription = "Device description: KD730 DC drive, firmware 1.04 and 1.05";
const QString kSlaveNotRead =
    "Error: ModBus Slave Address NOT written: not read from the connected drive nor typed!";

class Reconnect : public ProgramOnDrive {
 protected:
  void SetUp() override {
    ProgramOnDrive::SetUp();
    MainForm->acOpenConnection->trigger();
    // The first setup read opens the window, whose showing reads once more.
    ASSERT_TRUE(PumpUntil([] {
      return CountLog("Data refreshed from drive.") == 2 && MainForm->acInhibit->isEnabled();
    })) << Log();
    // Every transaction of the drive made, its private write included.
    ASSERT_TRUE(Drive().WriteReg(Drive().VirtualInput, true));
    transactions_ = Drive().GetTransaCount();
  }

  static std::string Log() { return MainForm->Memo->toPlainText().toStdString(); }
  TlaDeviceKD730& Drive() { return *Network->laDevice; }
  TKD730Setup& W() { return *KD730Setup; }
  QString NomSpeedRow() { return W().lvMainSetup->topLevelItem(3)->text(1); }
  // The Field bus page's value once the program is idle.
  QString SlaveRow() {
    Idle();
    return W().lvModBusSlave->topLevelItem(0)->text(1);
  }

  void Disconnect() {
    const int closed = CountLog("ModBus closed.");
    MainForm->acCloseConnection->trigger();
    ASSERT_TRUE(PumpUntil([&] { return CountLog("ModBus closed.") > closed; }));
    Idle();  // Connect is enabled again
  }
  // Connect, then until the log has `line` once more.
  void ConnectUntil(const QString& line) {
    const int seen = CountLog(line);
    MainForm->acOpenConnection->trigger();
    ASSERT_TRUE(PumpUntil([&] { return CountLog(line) > seen; }))
        << Log() << " state " << int(Drive().UpdateSlaveState());
  }
  // Ten passes or more: two fault-list updates (every tenth pass).
  static void TenPasses() {
    for (int i = 0; i < 2; ++i) {
      MainForm->ActFaultMemo->clear();
      ASSERT_TRUE(PumpUntil([] { return !MainForm->ActFaultMemo->toPlainText().isEmpty(); }));
    }
  }
  void EditNomSpeed(const std::string& value) {
    W().pcSetup->setCurrentWidget(W().tsNominalValues);
    QTreeWidget* list = W().lvMainSetup;
    list->setCurrentItem(list->topLevelItem(3));
    ModalScript script({Input(value)});
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {},
                       list->visualItemRect(list->currentItem()).center());
    EXPECT_EQ(script.Remaining(), 0);
  }

  int transactions_ = 0;
};

TEST_F(Reconnect, TheSameDriveIsReadAgainAsAtTheFirstConnection) {
  ASSERT_NO_FATAL_FAILURE(Disconnect());
  // Another tool changes the drive meanwhile.
  WriteDriveRegister(*drive_, kNomSpeed, 1234);
  WriteDriveRegister(*drive_, kVirtualInput, 3);
  ASSERT_NO_FATAL_FAILURE(ConnectUntil("Data refreshed from drive."));
  EXPECT_EQ(CountLog(kFound), 2);
  EXPECT_EQ(CountLog(kDescription), 2);
  EXPECT_TRUE(LogLines().filter("Version unknown").isEmpty()) << Log();
  EXPECT_TRUE(LogLines().filter("kept").isEmpty()) << Log();
  EXPECT_TRUE(W().isVisible());
  EXPECT_EQ(NomSpeedRow(), "1234 rpm");
  EXPECT_EQ(Drive().SetupState, setupSynced);
  // The commands are the drive's again before they are offered.
  ASSERT_TRUE(PumpUntil([] { return MainForm->acInhibit->isEnabled(); }));
  EXPECT_EQ(Drive().VirtualInput->GetValueInteger(0), 3);
  EXPECT_TRUE(MainForm->acDisableCW->isEnabled());
  EXPECT_EQ(Drive().GetTransaCount(), transactions_);
}

TEST_F(Reconnect, AnEditedOrSentSetupIsKept) {
  struct Case {
    bool send;
    TlaSetupState state;
    const char* line;
  };
  const Case cases[] = {
      {false, setupEdited,
       "Drive setup kept, not read again: modified but not sent nor saved to drive."},
      {true, setupSent,
       "Drive setup kept, not read again: sent to drive but not saved permanently."}};
  int found = 1;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    ASSERT_NO_FATAL_FAILURE(EditNomSpeed(c.send ? "1111" : "2222"));
    const QString edited = c.send ? "1111 rpm" : "2222 rpm";
    if (c.send) {
      Idle();
      W().acSend->trigger();
      ASSERT_TRUE(PumpUntil([] { return Logged("Drive setup sent."); }));
      ASSERT_TRUE(PumpUntil([] { return LastLog() == "Data refreshed from drive."; }));
    }
    ASSERT_EQ(Drive().SetupState, c.state);
    ASSERT_NO_FATAL_FAILURE(Disconnect());
    WriteDriveRegister(*drive_, kNomSpeed, 1234);
    const int refreshed = CountLog("Data refreshed from drive.");
    ASSERT_NO_FATAL_FAILURE(ConnectUntil(kFound));
    EXPECT_EQ(CountLog(kFound), ++found);
    EXPECT_EQ(CountLog(c.line), 1) << Log();
    ASSERT_TRUE(PumpUntil([] { return MainForm->acInhibit->isEnabled(); }));
    ASSERT_NO_FATAL_FAILURE(TenPasses());
    EXPECT_EQ(CountLog("Data refreshed from drive."), refreshed);
    EXPECT_EQ(Drive().SetupState, c.state);
    EXPECT_EQ(NomSpeedRow(), edited);
    EXPECT_EQ(Drive().GetTransaCount(), transactions_);
  }
  // The kept setup still reaches the drive.
  Idle();
  ASSERT_TRUE(W().acSave->isEnabled());
  W().acSave->trigger();
  ASSERT_TRUE(PumpUntil([] { return Logged("Drive setup saved."); }));
  EXPECT_EQ(DriveValue(Drive().NomSpeed), 1111);
}

// The Field bus page shows the address the connected drive stores, read at
// each identification, and "<=Save" writes no other drive's: not after
// Disconnect, and not the former value after the address was changed at the
// drive's keypad.
TEST_F(Reconnect, TheFieldBusPageShowsTheAddressTheConnectedDriveStores) {
  W().pcSetup->setCurrentWidget(W().tsFieldBus);
  EXPECT_EQ(SlaveRow(), "1");
  ASSERT_NO_FATAL_FAILURE(Disconnect());
  EXPECT_EQ(SlaveRow(), "---");
  W().sbtnSaveModBusSlave->click();
  EXPECT_EQ(LastLog(), kSlaveNotRead);
  SaveScreenshot("setup-fieldbus-offline.png", &W());

  WriteDriveRegister(*drive_, kModBusSlave, 5);  // at the drive's keypad
  ASSERT_NO_FATAL_FAILURE(ConnectUntil(kFound));
  EXPECT_TRUE(PumpUntil([&] { return SlaveRow() == "5"; }, 10s)) << SlaveRow().toStdString();
  SaveScreenshot("setup-fieldbus-reconnected.png", &W());
  W().sbtnSaveModBusSlave->click();  // no edit: the drive keeps its address
  EXPECT_EQ(LastLog(), "ModBus Slave Address changed: 5 This change is valid only after restart.");
  ASSERT_NO_FATAL_FAILURE(Disconnect());
  EXPECT_EQ(ReadDriveRegisters(*drive_, kModBusSlave, 1), std::vector<int>{5});
}

TEST_F(Reconnect, ADriveOfAnotherFirmwareIsNotTakenOnline) {
  ASSERT_NO_FATAL_FAILURE(Disconnect());
  drive_ = std::make_unique<SimulatedDrive>(
      folder_, std::vector<std::string>{"--par", folder_.File("KD730_Parameters_v110.par"),
                                        "--version", "110"});
  // The drive's setup, commands and EEPROM (not its live state, 26 to 33).
  auto snapshot = [&] {
    std::vector<int> words = ReadDriveRegisters(*drive_, 0, 26);
    const std::vector<int> rest = ReadDriveRegisters(*drive_, 34, 28);
    words.insert(words.end(), rest.begin(), rest.end());
    return words;
  };
  const std::vector<int> before = snapshot();

  const QString refused =
      "Device version KDP7_KD730v110 needs another data model: restart the program to work with "
      "it.";
  ASSERT_NO_FATAL_FAILURE(ConnectUntil(refused));
  EXPECT_EQ(CountLog(kFound), 1);
  EXPECT_TRUE(LogLines().filter("Device version found: KDP7_KD730v110").isEmpty()) << Log();
  EXPECT_EQ(Drive().UpdateSlaveState(), slaveNoDataModel);
  Idle();
  for (QAction* a : {MainForm->acDriveSetup, MainForm->acInhibit, MainForm->acDisableCW,
                     MainForm->acDisableCCW, MainForm->acRefZero, W().acSend, W().acSave})
    EXPECT_FALSE(a->isEnabled()) << a->objectName().toStdString();

  // Everything that writes to a drive, tried.
  ASSERT_NO_FATAL_FAILURE(EditNomSpeed("3333"));
  Drive().SendSetup();
  Drive().SaveSetup();
  W().acReload->trigger();
  W().acRefOffsetUp->trigger();
  W().pcSetup->setCurrentWidget(W().tsFieldBus);
  EXPECT_EQ(SlaveRow(), "---");  // not the image's value of the former drive
  W().sbtnSaveModBusSlave->click();
  EXPECT_EQ(LastLog(), kSlaveNotRead);
  for (Qt::Key key : {Qt::Key_F5, Qt::Key_F6, Qt::Key_F7}) QTest::keyClick(MainForm, key);
  QTest::keyClick(MainForm, Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
  EXPECT_FALSE(Drive().WriteReg(Drive().CfgFlags, true));
  // Nothing of the drive's is due but its identification, which is done.
  for (int i = 0; i < Drive().GetTransaCount(); ++i)
    EXPECT_FALSE(Drive().GetTransa(i)->GetActive()) << Drive().GetTransa(i)->GetName();
  EXPECT_EQ(Drive().GetTransaCount(), transactions_);
  PumpUntil([] { return false; }, 1500ms);  // passes that would run what was queued
  ASSERT_NO_FATAL_FAILURE(Disconnect());
  EXPECT_EQ(snapshot(), before);
}

}  // namespace
