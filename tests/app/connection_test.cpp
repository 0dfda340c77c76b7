// Connecting through the real mbserver to kd730-sim on a pseudo terminal:
// the log lines, the state panel, the fault lists, Disconnect, a failed open
// and the server registration.
#include <QFileDialog>
#include <QTest>
#include <gtest/gtest.h>

#include <filesystem>

#include "AppTestSupport.h"
#include "Dlgtcp.h"
#include "Modulenetwork.h"
#include "Startup.h"
#include "Tladevicekd730cmp.h"
#include "Tlambthreadthr.h"
#include "Winmain.h"

using namespace apptest;

namespace {

class Connection : public ::testing::Test {
 protected:
  ProgramFolder folder_;
};

TEST_F(Connection, ConnectShowsTheDriveAndDisconnectClosesOnce) {
  folder_.RegisterServer();
  SimulatedDrive drive(folder_);
  TProgramForms forms;
  MainForm->show();
  Idle();
  EXPECT_TRUE(MainForm->acOpenConnection->isEnabled());
  EXPECT_FALSE(MainForm->acInhibit->isEnabled());
  EXPECT_FALSE(MainForm->acRefUp10->isEnabled());
  SaveScreenshot("main-disconnected.png");

  MainForm->acOpenConnection->trigger();
  ASSERT_TRUE(PumpUntil([] { return Logged("ModBus open on COM1."); }));
  EXPECT_EQ(MainForm->tbModBus->defaultAction(), MainForm->acCloseConnection);
  EXPECT_FALSE(MainForm->acOpenConnection->isVisible());
  EXPECT_FALSE(MainForm->tbSelectPort->isEnabled());
  ASSERT_TRUE(PumpUntil([] { return Logged("Device version found: KDP7_KD730v105"); }));
  EXPECT_TRUE(Logged("Device description: KD730 DC drive, firmware 1.04 and 1.05"));
  ASSERT_TRUE(PumpUntil([] {
    return MainForm->stDcBus->text() != "000.0" && MainForm->ActFaultMemo->toPlainText() != "";
  }));
  EXPECT_EQ(MainForm->ActFaultMemo->toPlainText(), "- NO ERROR -");
  EXPECT_EQ(MainForm->PrevFaultMemo->toPlainText(), "- NO ERROR -");
  EXPECT_TRUE(MainForm->stRefDig->text().startsWith("Speed Ref: "));
  ASSERT_TRUE(PumpUntil([] { return MainForm->acRefUp10->isEnabled(); }));
  EXPECT_TRUE(MainForm->acInhibit->isEnabled());
  EXPECT_TRUE(MainForm->acCloseConnection->isEnabled());
  EXPECT_FALSE(MainForm->acOpenConnection->isEnabled());

  MainForm->acCloseConnection->trigger();
  Idle();
  EXPECT_EQ(CountLog("ModBus closed."), 1);
  EXPECT_EQ(MainForm->tbModBus->defaultAction(), MainForm->acOpenConnection);
  EXPECT_TRUE(MainForm->acOpenConnection->isVisible());
  EXPECT_FALSE(MainForm->acCloseConnection->isVisible());
  EXPECT_TRUE(MainForm->tbSelectPort->isEnabled());
  EXPECT_FALSE(MainForm->acInhibit->isEnabled());
  EXPECT_EQ(Network->Connection(), nullptr);
}

TEST_F(Connection, ClosingTheProgramWhileConnectedClosesOnce) {
  folder_.RegisterServer();
  SimulatedDrive drive(folder_);
  QString log;
  {
    TProgramForms forms;
    QObject::connect(MainForm->Memo, &QPlainTextEdit::textChanged,
                     [&log] { log = MainForm->Memo->toPlainText(); });
    MainForm->acOpenConnection->trigger();
    ASSERT_TRUE(PumpUntil([] { return Logged("Device version found: KDP7_KD730v105"); }));
    EXPECT_TRUE(MainForm->close());
  }
  // The data module closed the connection while the main window still stood.
  EXPECT_TRUE(log.endsWith("\nModBus closed.")) << log.toStdString();
  EXPECT_EQ(log.count("ModBus closed."), 1);
  EXPECT_NE(folder_.ReadIni().find("[Setup]"), std::string::npos);
}

TEST_F(Connection, FaultsRaisedInTheDriveAppearByName) {
  folder_.RegisterServer();
  SimulatedDrive drive(folder_, {"--fault", "Tacho loss", "--fault", "ActFaultState_1.3",
                                 "--fault", "Overcurrent"});
  TProgramForms forms;
  MainForm->acOpenConnection->trigger();
  ASSERT_TRUE(PumpUntil([] { return !MainForm->ActFaultMemo->toPlainText().isEmpty(); }));
  // One line per bit, the first register's bits first, each in bit order.
  EXPECT_EQ(MainForm->ActFaultMemo->toPlainText(), "Overcurrent\nTacho loss\nOverspeed");
  EXPECT_EQ(MainForm->PrevFaultMemo->toPlainText(), "- NO ERROR -");
}

TEST_F(Connection, ConnectAfterAFailedOpenReplacesTheIdleConnection) {
  folder_.RegisterServer();
  folder_.MapComPort(1, folder_.File("no-such-line"));
  TProgramForms forms;
  MainForm->acOpenConnection->trigger();
  ASSERT_TRUE(PumpUntil([] { return Logged("Connection Error: error in ModBus connection or Port already busy!"); }));
  // The actions are not swapped; Connect stays available.
  Idle();
  EXPECT_EQ(MainForm->tbModBus->defaultAction(), MainForm->acOpenConnection);
  EXPECT_TRUE(MainForm->acOpenConnection->isEnabled());
  EXPECT_TRUE(MainForm->tbSelectPort->isEnabled());

  SimulatedDrive drive(folder_);
  MainForm->acOpenConnection->trigger();
  ASSERT_TRUE(PumpUntil([] { return Logged("ModBus open on COM1."); }));
  const QStringList log = LogLines();
  ASSERT_EQ(log.size(), 3);
  EXPECT_EQ(log[1], "ModBus closed.");
  EXPECT_TRUE(PumpUntil([] { return Logged("Device version found: KDP7_KD730v105"); }));
}

TEST_F(Connection, VersionRequestErrorsAndMissingDataModels) {
  folder_.RegisterServer();
  {
    // The drive answers at another address: the identification times out.
    SimulatedDrive drive(folder_, {"--slave", "2"});
    TProgramForms forms;
    MainForm->acOpenConnection->trigger();
    EXPECT_TRUE(PumpUntil([] { return Logged("Version request with error response: timeout, no response!"); }));
  }
  // No data-model file in the working directory.
  for (const char* file : {"KD730_Parameters.par", "KD730_Parameters_v110.par"})
    std::filesystem::remove(folder_.File(file));
  SimulatedDrive drive(folder_);
  TProgramForms forms;
  MainForm->acOpenConnection->trigger();
  ASSERT_TRUE(PumpUntil([] { return Logged("Version unknown: KDP7_KD730v105"); }));
  EXPECT_TRUE(Logged("DataModel description file not found '" + QString::fromStdString(folder_.Path()) + "/'"))
      << MainForm->Memo->toPlainText().toStdString();
  Idle();
  EXPECT_FALSE(MainForm->acRefUp10->isEnabled());
}

TEST_F(Connection, UnregisteredServerOffersTheRegistration) {
  TProgramForms forms;
  Idle();
  EXPECT_FALSE(MainForm->tbMBServer->isVisible());
  MainForm->show();
  Idle();
  const QSize size = MainForm->size();
  MainForm->acOpenConnection->trigger();
  ASSERT_TRUE(PumpUntil([] { return Logged("Connection Error: MBServer ActiveX not registered!"); }));
  EXPECT_TRUE(MainForm->acMBServer->isVisible());
  EXPECT_TRUE(MainForm->tbMBServer->isVisible());
  // The button shows its whole caption, and the window keeps its size.
  Idle();
  SaveScreenshot("main-register.png");
  EXPECT_GE(MainForm->tbMBServer->width(), MainForm->tbMBServer->sizeHint().width());
  EXPECT_EQ(MainForm->size(), size);

  // The server is not in the working directory: the folder is asked for.
  const std::string notFound = "MBServer file not found!\n \"" + folder_.File("mbserver") + "\" does not exists.";
  std::vector<std::string> messages;
  {
    ModalScript script({Message(&messages), Cancel()});
    MainForm->acMBServer->trigger();
    EXPECT_EQ(script.Remaining(), 0);
  }
  EXPECT_EQ(messages, std::vector<std::string>{notFound});
  EXPECT_EQ(LogLines().back(), "MBServer registration unsuccessful!");
  EXPECT_TRUE(MainForm->acMBServer->isVisible());

  const std::string serverDir = std::filesystem::path(KD_MBSERVER_PATH).parent_path().string();
  messages.clear();
  {
    ModalScript script({Message(&messages),
                        [&](QWidget* dialog) {
                          auto* chooser = qobject_cast<QFileDialog*>(dialog);
                          ASSERT_NE(chooser, nullptr);
                          EXPECT_EQ(chooser->windowTitle(), "Select a new search path for \"mbserver\"");
                          chooser->setDirectory(QString::fromStdString(serverDir));
                          static_cast<QDialog*>(chooser)->accept();
                        },
                        Message(&messages)});
    MainForm->acMBServer->trigger();
    EXPECT_EQ(script.Remaining(), 0);
  }
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_EQ(messages[1], "MBServer registered!\n \"" + serverDir + "/mbserver\"");
  EXPECT_EQ(LogLines().back(), "MBServer registered!");
  EXPECT_FALSE(MainForm->acMBServer->isVisible());
  EXPECT_FALSE(MainForm->tbMBServer->isVisible());

  SimulatedDrive drive(folder_);
  MainForm->acOpenConnection->trigger();
  EXPECT_TRUE(PumpUntil([] { return Logged("Device version found: KDP7_KD730v105"); }));
}

TEST_F(Connection, TcpIpIsChosenInTheDialogAndKeepsThePortName) {
  folder_.RegisterServer();
  kdsim::SimProcess drive(KD_SIM_EXE, {"--tcp", "127.0.0.1:0", "--par", folder_.File("KD730_Parameters.par")});
  TProgramForms forms;
  MainForm->mnCOM2->trigger();
  {
    ModalScript script({[&](QWidget* dialog) {
      auto* tcp = qobject_cast<TTCPForm*>(dialog);
      ASSERT_NE(tcp, nullptr);
      EXPECT_EQ(tcp->eAddress->text(), "127.0.0.1");
      EXPECT_EQ(tcp->ePort->text(), "502");
      tcp->ePort->setText(QString::number(drive.TcpPort()));
      tcp->btnOk->click();
    }});
    MainForm->mnTCPIP->trigger();
  }
  EXPECT_TRUE(MainForm->mnTCPIP->isChecked());
  EXPECT_EQ(MainForm->tbSelectPort->text(), "TCP/IP");
  MainForm->acOpenConnection->trigger();
  ASSERT_TRUE(PumpUntil([&] {
    return Logged(QString("ModBus connection to: 127.0.0.1:%1").arg(drive.TcpPort()));
  }));
  EXPECT_EQ(Network->Connection()->Setup().Name, "COM2");
  EXPECT_TRUE(PumpUntil([] { return Logged("Device version found: KDP7_KD730v105"); }));
}

TEST_F(Connection, ShortcutsFollowTheConnectionState) {
  folder_.RegisterServer();
  SimulatedDrive drive(folder_);
  TProgramForms forms;
  MainForm->show();
  MainForm->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(MainForm));
  Idle();
  QTest::keyClick(MainForm, Qt::Key_F9, Qt::ControlModifier);  // Disconnect: not connected
  Idle();
  EXPECT_TRUE(LogLines().isEmpty());
  QTest::keyClick(MainForm, Qt::Key_F9);
  ASSERT_TRUE(PumpUntil([] { return Logged("ModBus open on COM1."); }));
  Idle();
  TlaMBThread* connection = Network->Connection();
  QTest::keyClick(MainForm, Qt::Key_F9);  // Connect: connected
  Idle();
  EXPECT_EQ(Network->Connection(), connection);
  QTest::keyClick(MainForm, Qt::Key_F9, Qt::ControlModifier);
  Idle();
  EXPECT_EQ(CountLog("ModBus closed."), 1);
  EXPECT_EQ(Network->Connection(), nullptr);
}

}  // namespace
