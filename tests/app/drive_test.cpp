// The drive online behind the main window: references stepped and typed in
// speed and current mode, the virtual inputs and their check marks, write
// failures, a silent drive and a repeating transaction error, a running
// drive's reference and inputs taken over at connect and reload, the About
// box's drive text.
#include <QTest>
#include <gtest/gtest.h>

#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <fstream>

#include "AppTestSupport.h"
#include "Modulenetwork.h"
#include "Startup.h"
#include "Tladevicekd730cmp.h"
#include "Tlambsimpletransacls.h"
#include "Winabout.h"
#include "Winmain.h"

using namespace apptest;

namespace {

// The mbserver process serving this test's connection.
pid_t ServerProcess() {
  for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
    std::ifstream stat(entry.path() / "stat");
    std::string pid, comm, state;
    pid_t parent = 0;
    if (stat >> pid >> comm >> state >> parent && parent == ::getpid() && comm == "(mbserver)")
      return static_cast<pid_t>(std::stol(pid));
  }
  return -1;
}

class DriveOnline : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_.WriteSampleIni();
    folder_.RegisterServer();
    drive_ = std::make_unique<SimulatedDrive>(folder_, SimArgs());
    forms_ = std::make_unique<TProgramForms>();
    MainForm->show();
    MainForm->acOpenConnection->trigger();
    // The first setup read opens the setup window, whose showing reads the
    // setup once more.
    ASSERT_TRUE(PumpUntil([] {
      return CountLog("Data refreshed from drive.") == 2 && MainForm->acRefUp10->isEnabled() &&
             MainForm->stRefDig->text() != "000.0";
    }));
  }
  void TearDown() override { forms_.reset(); }
  virtual std::vector<std::string> SimArgs() const { return {}; }

  TlaDeviceKD730& Drive() { return *Network->laDevice; }
  // CfgFlags with one bit changed, written to the drive; then the next state update.
  void SetCfgFlag(int bit, bool on) {
    Drive().CfgFlags->SetValueBit(0, static_cast<std::uint8_t>(bit), on);
    ASSERT_TRUE(Drive().WriteReg(Drive().CfgFlags, true));
    NextStateUpdate();
  }
  void NextStateUpdate() {
    MainForm->stRefDig->setText("");
    ASSERT_TRUE(PumpUntil([] { return !MainForm->stRefDig->text().isEmpty(); }));
  }
  // A failure that comes back every pass: one line, then a dot for each
  // further failed pass. The state read fails every pass, the fault read
  // every tenth: at most one line each, the dots at the end of the log.
  void ExpectOneLineWithDots(const QString& error) {
    ASSERT_TRUE(PumpUntil([&] { return LastLog().startsWith(error + "..."); }, 30s))
        << MainForm->Memo->toPlainText().toStdString();
    EXPECT_EQ(LastLog(), error + QString(LastLog().size() - error.size(), '.'));
    EXPECT_LE(LogLines().filter("Transaction Error").size(), 2);
    EXPECT_EQ(LogLines().filter("Transaction Error").size(), LogLines().filter(error).size());
    Idle();
    EXPECT_FALSE(MainForm->acRefUp10->isEnabled());
  }
  int DriveRefDig() { return DriveValue(Drive().RefDig); }

  ProgramFolder folder_;
  std::unique_ptr<SimulatedDrive> drive_;
  std::unique_ptr<TProgramForms> forms_;
};

TEST_F(DriveOnline, ReferenceStepsInSpeedMode) {
  EXPECT_EQ(MainForm->stRefDig->text(), "Speed Ref: 0.0%");
  struct Step {
    QAction* action;
    const char* log;
    int refDig;  // percent x 0.75 x 327.68, truncated
  };
  const Step steps[] = {{MainForm->acRefUp10, "Digital reference write: 1.0", 245},
                        {MainForm->acRefUp100, "Digital reference write: 11.0", 2702},
                        {MainForm->acRefDwn1, "Digital reference write: 10.9", 2677},
                        {MainForm->acRefDwn100, "Digital reference write: 0.9", 219},
                        {MainForm->acRefDwn10, "Digital reference write: -0.1", -26},
                        {MainForm->acRefUp1, "Digital reference write: -0.0", -1},
                        {MainForm->acRefZero, "Digital reference write: 0.0", 0}};
  for (const Step& step : steps) {
    SCOPED_TRACE(step.log);
    step.action->trigger();
    EXPECT_EQ(LastLog(), step.log);
    EXPECT_EQ(DriveRefDig(), step.refDig);
  }
  MainForm->acRefUp100->trigger();
  NextStateUpdate();
  EXPECT_EQ(MainForm->stRefDig->text(), "Speed Ref: 10.0%");
}

TEST_F(DriveOnline, ReferenceStepInCurrentMode) {
  SetCfgFlag(9, true);
  EXPECT_EQ(MainForm->stRefDig->text(), "Current Ref: 0.0A");
  const double ica = Drive().IcA->GetValueDouble(0);
  ASSERT_EQ(ica, 10.0);
  // +1.0 A of a 10 A continuous current: RefDig 10 %.
  MainForm->acRefUp10->trigger();
  EXPECT_EQ(LastLog(), "Digital reference write: 10.0");
  EXPECT_EQ(DriveRefDig(), 2457);
  NextStateUpdate();
  EXPECT_EQ(MainForm->stRefDig->text(), "Current Ref: 1.0A");

  std::vector<std::string> seen;
  {
    ModalScript script({Input("2.5", &seen)});
    QTest::mouseDClick(MainForm->stRefDig, Qt::LeftButton);
  }
  ASSERT_EQ(seen.size(), 3u);
  EXPECT_EQ(seen[0], "Edit setpoint");
  EXPECT_EQ(seen[1], "Current reference");
  EXPECT_EQ(LastLog(), "Digital reference write: 25.0");
}

TEST_F(DriveOnline, TypedSpeedReference) {
  std::vector<std::string> seen;
  {
    ModalScript script({Input("12.5", &seen)});
    QTest::mouseDClick(MainForm->stRefDig, Qt::LeftButton);
  }
  EXPECT_EQ(seen, (std::vector<std::string>{"Edit setpoint", "Speed reference", "0"}));
  EXPECT_EQ(LastLog(), "Digital reference write: 12.5");
  EXPECT_EQ(DriveRefDig(), 3072);

  const int lines = static_cast<int>(LogLines().size());
  std::vector<std::string> messages;
  {
    ModalScript script({Input("12,5"), Message(&messages)});
    QTest::mouseDClick(MainForm->stRefDig, Qt::LeftButton);
  }
  EXPECT_EQ(messages, std::vector<std::string>{"Only numeric values allowed."});
  EXPECT_EQ(LogLines().size(), lines);
  EXPECT_EQ(DriveRefDig(), 3072);
  {
    ModalScript script({Cancel()});
    QTest::mouseDClick(MainForm->stRefDig, Qt::LeftButton);
  }
  EXPECT_EQ(LogLines().size(), lines);
}

// A drive already running when the program connects: reference 25 %,
// the Disable CCW and Inhibit inputs set.
class DriveRunning : public DriveOnline {
 protected:
  std::vector<std::string> SimArgs() const override {
    return {"--set", "RefDig=6144", "--set", "VirtualInput=5"};
  }
  void ExpectTheDrivesCommands(const QString& reference, int inputs) {
    NextStateUpdate();
    EXPECT_EQ(MainForm->stRefDig->text(), reference);
    EXPECT_EQ(MainForm->acDisableCCW->isChecked(), (inputs & 1) != 0);
    EXPECT_EQ(MainForm->acDisableCW->isChecked(), (inputs & 2) != 0);
    EXPECT_EQ(MainForm->acInhibit->isChecked(), (inputs & 4) != 0);
  }
  // What the program holds of the commands, spoilt.
  void SpoilTheImage() {
    Drive().RefDig->SetValueInteger(0, 0);
    Drive().VirtualInput->SetValueInteger(0, 0);
  }
};

TEST_F(DriveRunning, CommandsStartFromTheDrivesReferenceAndInputs) {
  ExpectTheDrivesCommands("Speed Ref: 25.0%", 5);
  // One step moves the reference by the step; one toggle changes one bit.
  MainForm->acRefUp10->trigger();
  EXPECT_EQ(LastLog(), "Digital reference write: 26.0");
  EXPECT_EQ(DriveRefDig(), 6389);
  MainForm->acDisableCW->trigger();
  EXPECT_EQ(DriveValue(Drive().VirtualInput), 7);

  // A reload reads them again before it returns.
  SpoilTheImage();
  Drive().ReadSetup();
  EXPECT_EQ(Drive().RefDig->GetValueInteger(0), 6389);
  EXPECT_EQ(Drive().VirtualInput->GetValueInteger(0), 7);

  // So does the next connection, before the commands are offered.
  MainForm->acCloseConnection->trigger();
  Idle();
  SpoilTheImage();
  MainForm->acOpenConnection->trigger();
  ASSERT_TRUE(PumpUntil([] { return MainForm->acRefUp10->isEnabled(); }));
  EXPECT_TRUE(MainForm->acInhibit->isEnabled());
  ExpectTheDrivesCommands("Speed Ref: 26.0%", 7);
}

TEST_F(DriveOnline, ReferenceActionsNeedTheDigitalReference) {
  SetCfgFlag(0, false);
  Idle();
  EXPECT_FALSE(MainForm->acRefUp10->isEnabled());
  EXPECT_FALSE(MainForm->acRefZero->isEnabled());
  EXPECT_FALSE(MainForm->stRefDig->isEnabled());
  EXPECT_TRUE(MainForm->acInhibit->isEnabled());
}

TEST_F(DriveOnline, VirtualInputsAndTheirCheckMarks) {
  EXPECT_FALSE(MainForm->acInhibit->isChecked());
  MainForm->acInhibit->trigger();
  EXPECT_TRUE(LastLog().startsWith("Virtual Input Write: "));
  // The mark comes from the next state update.
  NextStateUpdate();
  EXPECT_TRUE(MainForm->acInhibit->isChecked());
  EXPECT_FALSE(MainForm->acDisableCW->isChecked());
  MainForm->acDisableCCW->trigger();
  NextStateUpdate();
  EXPECT_TRUE(MainForm->acDisableCCW->isChecked());
  EXPECT_EQ(Drive().VirtualInput->GetValueInteger(0), 5);

  // Inverted input logic: the marks show the opposite of the bits.
  SetCfgFlag(2, true);
  EXPECT_FALSE(MainForm->acInhibit->isChecked());
  EXPECT_TRUE(MainForm->acDisableCW->isChecked());
  EXPECT_FALSE(MainForm->acDisableCCW->isChecked());

  // Terminal inputs: a toggle changes and logs nothing; the marks follow Input.
  SetCfgFlag(2, false);
  SetCfgFlag(1, false);
  const int lines = static_cast<int>(LogLines().size());
  MainForm->acDisableCW->trigger();
  EXPECT_EQ(LogLines().size(), lines);
  EXPECT_EQ(Drive().VirtualInput->GetValueInteger(0), 5);
  NextStateUpdate();
  EXPECT_EQ(MainForm->acInhibit->isChecked(), Drive().Input->GetValueBit(0, 2));
}

TEST_F(DriveOnline, WriteFailuresAreLogged) {
  // Once the private write exists, it is sent to an address nobody answers.
  ASSERT_TRUE(Drive().WriteReg(Drive().CfgFlags, true));
  ASSERT_NE(Drive().WriteTransa(), nullptr);
  Drive().WriteTransa()->SlaveAddress = 99;
  MainForm->acRefUp10->trigger();
  EXPECT_EQ(LastLog(), "Error: Digital reference NOT written!");
  MainForm->acInhibit->trigger();
  EXPECT_EQ(LastLog(), "Error: Virtual Input NOT written!");
  // The register image keeps what was set.
  EXPECT_EQ(Drive().RefDig->GetValueInteger(0), 245);
  EXPECT_TRUE(Drive().VirtualInput->GetValueBit(0, 2));
}

TEST_F(DriveOnline, AReferenceStepToASilentDriveFailsWithoutHanging) {
  drive_->Pause();
  // The write waits while the drive's state read times out pass after pass
  // (and is skipped with the rest of the pass): it must end all the same.
  MainForm->acRefUp10->trigger();
  EXPECT_EQ(LastLog(), "Error: Digital reference NOT written!");
  EXPECT_EQ(Drive().RefDig->GetValueInteger(0), 245);
  Idle();
  EXPECT_FALSE(MainForm->acRefUp10->isEnabled());
  EXPECT_FALSE(MainForm->acInhibit->isEnabled());

  drive_->Resume();
  ASSERT_TRUE(PumpUntil([] { return MainForm->acRefUp10->isEnabled(); }));
  MainForm->acRefZero->trigger();
  EXPECT_EQ(LastLog(), "Digital reference write: 0.0");
  EXPECT_EQ(DriveRefDig(), 0);
}

TEST_F(DriveOnline, ARepeatingTransactionErrorIsOneLineWithADotPerPass) {
  // The server process goes: every exchange of every pass fails at once.
  const pid_t server = ServerProcess();
  ASSERT_GT(server, 0);
  ::kill(server, SIGKILL);
  ExpectOneLineWithDots("Transaction Error: COM port read error!");
}

TEST_F(DriveOnline, ASilentDriveIsOneLineWithADotPerPassUntilItAnswersAgain) {
  const QString error = "Transaction Error: timeout, no response!";
  drive_->Pause();
  ExpectOneLineWithDots(error);

  // Once the drive has answered again, the next failure is a change of
  // result and gets a line of its own.
  drive_->Resume();
  ASSERT_TRUE(PumpUntil([] { return MainForm->acRefUp10->isEnabled(); }));
  const qsizetype lines = LogLines().filter(error).size();
  drive_->Pause();
  ASSERT_TRUE(PumpUntil([&] { return LogLines().filter(error).size() > lines; }));
  EXPECT_TRUE(LastLog().startsWith(error));
}

TEST_F(DriveOnline, SetupSendAndSaveAreLoggedAndReadBack) {
  Drive().SendSetup();
  ASSERT_TRUE(PumpUntil([] { return Logged("Drive setup sent."); }));
  // The setup is read back after it was sent.
  ASSERT_TRUE(PumpUntil([] { return LogLines().back() == "Data refreshed from drive."; }));
  Drive().SaveSetup();
  ASSERT_TRUE(PumpUntil([] { return Logged("Drive setup saved."); }));
  EXPECT_EQ(LogLines().filter("Drive setup sent.").size(), 2);
}

TEST_F(DriveOnline, ScreenshotWithTheMotorRunning) {
  MainForm->acRefUp100->trigger();
  MainForm->acRefUp100->trigger();
  MainForm->acRefUp100->trigger();
  // The drive ramps up: wait for the armature voltage to pass 100 V.
  ASSERT_TRUE(PumpUntil([] { return MainForm->stArmature->text().split(' ')[0].toDouble() > 100; }, 30s));
  NextStateUpdate();
  EXPECT_EQ(MainForm->stRefDig->text(), "Speed Ref: 30.0%");
  EXPECT_NE(MainForm->stCurrent->text(), "000.0");
  SaveScreenshot("main-connected.png");
}

TEST_F(DriveOnline, AboutBoxShowsTheDrive) {
  QString deviceText;
  {
    ModalScript script({[&](QWidget* dialog) {
      ASSERT_EQ(dialog, AboutForm);
      deviceText = AboutForm->DeviceMemo->toPlainText();
      SaveScreenshot("about.png", AboutForm);
      // A click on the text closes the box.
      QTest::mouseClick(AboutForm->Memo->viewport(), Qt::LeftButton);
    }});
    MainForm->acAbout->trigger();
    EXPECT_EQ(script.Remaining(), 0);
  }
  EXPECT_FALSE(AboutForm->isVisible());
  const QStringList lines = deviceText.split('\n');
  ASSERT_GE(lines.size(), 4);
  EXPECT_EQ(lines[0], "Hardware version:\t\tKD730");
  EXPECT_EQ(lines[1], "Firmware version:\t\t1.05");
  EXPECT_EQ(lines[2], "Hardware voltage limit:\t550 V");
  EXPECT_EQ(lines[3], "ModBus slave address:\t1");
}

}  // namespace
