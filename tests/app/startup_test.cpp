// Start-up and shut-down of the program: the INI file's position, port and
// slave address, the captions, the INI file written on close, the regional
// formats.
#include <QCoreApplication>
#include <QEvent>
#include <gtest/gtest.h>

#include <clocale>
#include <filesystem>
#include <cstdio>

#include "AppTestSupport.h"
#include "Formats.h"
#include "IniFile.h"
#include "Modulenetwork.h"
#include "Startup.h"
#include "Tladmcollectioncmp.h"
#include "Winabout.h"
#include "Winmain.h"

using namespace apptest;

namespace {

TEST(Startup, WithoutIniFileTakesTheDefaults) {
  ProgramFolder folder;
  TProgramForms forms;
  EXPECT_EQ(MainForm->windowTitle(), "KD730 - Tuning Desk 1.02");
  EXPECT_EQ(MainForm->FAppPath, folder.Path() + "/");
  EXPECT_EQ(MainForm->pos(), QPoint(0, 0));
  EXPECT_EQ(MainForm->tbSelectPort->text(), "COM1");
  EXPECT_EQ(MainForm->tbSlaveAddr->text(), "Slave #1");
  EXPECT_EQ(MainForm->FComPort, 1);
  EXPECT_EQ(MainForm->FSlaveAddr, 1);
  for (QAction* item : MainForm->grpComPorts->actions()) EXPECT_FALSE(item->isChecked());
  EXPECT_TRUE(MainForm->Memo->toPlainText().isEmpty());
  EXPECT_EQ(MainForm->tbModBus->defaultAction(), MainForm->acOpenConnection);
  EXPECT_FALSE(MainForm->acCloseConnection->isVisible());
  EXPECT_FALSE(MainForm->acMBServer->isVisible());
  EXPECT_FALSE(MainForm->mnTCPIP->isVisible());
  // The globals are set in creation order and the data module sees the folder.
  ASSERT_NE(Network, nullptr);
  ASSERT_NE(AboutForm, nullptr);
  EXPECT_EQ(Network->laDMColl->FilePath(), folder.Path() + "/");
}

TEST(Startup, TakesPositionPortAndSlaveFromTheIniFile) {
  ProgramFolder folder;
  folder.WriteIni("[MainForm]\nTop=30\nLeft=45\n[Setup]\nLastPort=3\nLastSlave=7\n");
  TProgramForms forms;
  EXPECT_EQ(MainForm->pos(), QPoint(45, 30));
  EXPECT_EQ(MainForm->tbSelectPort->text(), "COM3");
  EXPECT_EQ(MainForm->tbSlaveAddr->text(), "Slave #7");
  // The port from the file sets the caption alone.
  EXPECT_FALSE(MainForm->mnCOM3->isChecked());
}

TEST(Startup, SlaveAddressOutOfRangeIsRefusedAtStart) {
  ProgramFolder folder;
  folder.WriteIni("[Setup]\nLastSlave=40\n");
  std::vector<std::string> messages;
  ModalScript script({Message(&messages)});
  TProgramForms forms;
  EXPECT_EQ(messages, std::vector<std::string>{"Invalid Address value."});
  EXPECT_EQ(MainForm->FSlaveAddr, 0);
  EXPECT_EQ(MainForm->tbSlaveAddr->text(), "Slave#");
}

TEST(Startup, CloseWritesTheRestoredGeometryAndKeepsTheRestOfTheFile) {
  ProgramFolder folder;
  folder.WriteIni("; kept\n[MainForm]\nTop=20\nLeft=25\n[AboutForm]\nApplication=X\n");
  QRect normal;
  {
    TProgramForms forms;
    MainForm->show();
    Idle();
    // Position and size of the window with its frame.
    normal = MainForm->frameGeometry();
    ASSERT_EQ(normal.topLeft(), QPoint(25, 20));
    MainForm->showMaximized();
    ASSERT_TRUE(PumpUntil([&] { return MainForm->frameGeometry() != normal; }));
    MainForm->mnCOM4->trigger();
    EXPECT_TRUE(MainForm->close());
  }
  const kd::IniFile ini(folder.File("KD730_TuneDesk.ini"));
  EXPECT_EQ(ini.ReadInteger("MainForm", "Left", -1), normal.x());
  EXPECT_EQ(ini.ReadInteger("MainForm", "Top", -1), normal.y());
  EXPECT_EQ(ini.ReadInteger("MainForm", "Width", -1), normal.width());
  EXPECT_EQ(ini.ReadInteger("MainForm", "Height", -1), normal.height());
  EXPECT_EQ(ini.ReadInteger("Setup", "LastPort", -1), 4);
  EXPECT_EQ(ini.ReadInteger("Setup", "LastSlave", -1), 1);
  EXPECT_EQ(ini.ReadString("AboutForm", "Application", ""), "X");
  EXPECT_EQ(folder.ReadIni().rfind("; kept\n", 0), 0u);
}

TEST(Startup, CloseWritesTheFileEvenWhenNothingChanged) {
  ProgramFolder folder;
  {
    TProgramForms forms;
    MainForm->close();
  }
  const kd::IniFile ini(folder.File("KD730_TuneDesk.ini"));
  EXPECT_TRUE(ini.SectionExists("MainForm"));
  EXPECT_EQ(ini.ReadInteger("Setup", "LastPort", -1), 1);
  EXPECT_EQ(ini.ReadInteger("Setup", "LastSlave", -1), 1);
}

// An INI file that cannot be read whole (a folder, a FIFO, a device, a file
// past the bound): the windows come up at once with the defaults, and the
// write on close is refused, reported and leaves the path as it was.
TEST(Startup, AnIniFileThatCannotBeWrittenIsReportedAndTheWindowCloses) {
  ProgramFolder folder;
  const std::string ini = folder.File("KD730_TuneDesk.ini");
  const kdtest::RefusedPaths paths(folder.Path(), ".x");
  for (const auto& [path, reason] : paths.Reasons(16 << 20)) {
    SCOPED_TRACE(path);
    std::filesystem::remove(ini);
    std::filesystem::create_symlink(path, ini);
    const kdtest::FifoWatchdog watchdog(paths.fifo, 10s);
    TProgramForms forms;
    EXPECT_EQ(MainForm->FComPort, 1);
    std::vector<std::string> messages;
    ModalScript script({Message(&messages)});
    EXPECT_TRUE(MainForm->close());
    EXPECT_EQ(messages, std::vector<std::string>{"IniFile: cannot write '" + ini +
                                                 "': the existing file cannot be read: " + reason});
    EXPECT_FALSE(watchdog.Fired()) << "waited for a writer";
  }
  EXPECT_EQ(paths.Changes(), "");
}

TEST(Startup, SeparatorsStayWhateverTheSystemLocale) {
  const std::string old = std::setlocale(LC_ALL, nullptr);
  // A comma-decimal locale when the machine has one; the C locale otherwise.
  std::setlocale(LC_ALL, "de_DE.UTF-8");
  SetRegionalFormats();
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%.1f", 2.5);
  EXPECT_STREQ(buffer, "2.5");
  EXPECT_EQ(kd::FormatFloat("#,##0.00", 1234.5), "1'234.50");
  EXPECT_EQ(kd::FormatDateTime("dd/mm/yyyy", kd::EncodeDate(2024, 3, 1)), "01/03/2024");
  // The user changes the regional settings while the program runs.
  std::setlocale(LC_ALL, "de_DE.UTF-8");
  QEvent change(QEvent::LocaleChange);
  QCoreApplication::sendEvent(QCoreApplication::instance(), &change);
  EXPECT_EQ(kd::FormatFloat("#,##0.00", 1234.5), "1'234.50");
  EXPECT_EQ(kd::Sprintf("%.1lf", 2.5), "2.5");
  double value = 0;
  EXPECT_TRUE(kd::TryStrToFloat("12.5", value));
  EXPECT_EQ(value, 12.5);
  std::setlocale(LC_ALL, old.c_str());
  SetRegionalFormats();
}

}  // namespace
