// The main window without a drive: the slave-address dialog, the port menu
// and the TCP/IP dialog, the result-code texts, the About box's texts.
#include <QClipboard>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QTest>
#include <gtest/gtest.h>

#include "AppTestSupport.h"
#include "Dlgtcp.h"
#include "Modulenetwork.h"
#include "Startup.h"
#include "Tladevicekd730cmp.h"
#include "Tlambthreadthr.h"
#include "Winabout.h"
#include "Winmain.h"

using namespace apptest;

namespace {

class MainWindow : public ::testing::Test {
 protected:
  ProgramFolder folder_;
};

TEST_F(MainWindow, SlaveAddressDialog) {
  TProgramForms forms;
  std::vector<std::string> seen;
  {
    ModalScript script({Input("5", &seen)});
    MainForm->acSlaveAddr->trigger();
  }
  EXPECT_EQ(seen, (std::vector<std::string>{"Modify SlaveAddress", "Insert a value from 1 to 32:", "1"}));
  EXPECT_EQ(MainForm->tbSlaveAddr->text(), "Slave #5");
  EXPECT_EQ(Network->laDevice->GetModBusAddress(), 5);

  struct Case {
    const char* text;
    const char* message;
  };
  const Case refused[] = {{"33", "Invalid Address value."},
                          {"0", "Invalid Address value."},
                          {"5", "Invalid Address value."},  // the present address
                          {"abc", "Not a valid ModBus slave address!"},
                          {"", "Not a valid ModBus slave address!"}};
  for (const Case& c : refused) {
    SCOPED_TRACE(c.text);
    std::vector<std::string> messages;
    ModalScript script({Input(c.text), Message(&messages)});
    MainForm->acSlaveAddr->trigger();
    EXPECT_EQ(messages, std::vector<std::string>{c.message});
    EXPECT_EQ(MainForm->FSlaveAddr, 5);
  }
  {
    ModalScript script({Cancel()});
    MainForm->acSlaveAddr->trigger();
    EXPECT_EQ(script.Remaining(), 0);
  }
  EXPECT_EQ(MainForm->tbSlaveAddr->text(), "Slave #5");
  MainForm->close();
  EXPECT_NE(folder_.ReadIni().find("LastSlave=5"), std::string::npos);
}

TEST_F(MainWindow, PortMenuAndTcpIpChoice) {
  TProgramForms forms;
  MainForm->mnCOM6->trigger();
  EXPECT_TRUE(MainForm->mnCOM6->isChecked());
  EXPECT_EQ(MainForm->tbSelectPort->text(), "COM6");
  EXPECT_EQ(MainForm->FComPort, 6);
  MainForm->mnCOM2->trigger();
  EXPECT_FALSE(MainForm->mnCOM6->isChecked());
  EXPECT_EQ(MainForm->tbSelectPort->text(), "COM2");

  // Cancel undoes the choice.
  {
    ModalScript script({Cancel()});
    MainForm->mnTCPIP->trigger();
  }
  EXPECT_FALSE(MainForm->mnTCPIP->isChecked());
  EXPECT_EQ(MainForm->tbSelectPort->text(), "COM2");
  {
    ModalScript script({[](QWidget*) { TCPForm->btnOk->click(); }});
    MainForm->mnTCPIP->trigger();
  }
  EXPECT_TRUE(MainForm->mnTCPIP->isChecked());
  EXPECT_EQ(MainForm->tbSelectPort->text(), "TCP/IP");
  // A port chosen meanwhile keeps the caption.
  MainForm->mnCOM3->trigger();
  EXPECT_EQ(MainForm->tbSelectPort->text(), "TCP/IP");
  MainForm->mnTCPIP->trigger();
  EXPECT_FALSE(MainForm->mnTCPIP->isChecked());
  EXPECT_EQ(MainForm->tbSelectPort->text(), "COM3");
}

TEST_F(MainWindow, TcpIpFieldsTakeOnlyTheirCharacters) {
  TProgramForms forms;
  TCPForm->show();
  TCPForm->eAddress->clear();
  QTest::keyClicks(TCPForm->eAddress, "19a2.16 8.x1");
  EXPECT_EQ(TCPForm->eAddress->text(), "192.168.1");
  QTest::keyClick(TCPForm->eAddress, Qt::Key_Backspace);
  EXPECT_EQ(TCPForm->eAddress->text(), "192.168.");
  TCPForm->ePort->clear();
  QTest::keyClicks(TCPForm->ePort, "5.0a2-");
  EXPECT_EQ(TCPForm->ePort->text(), "502");
  // Ctrl+V types a control character: discarded like any other.
  QGuiApplication::clipboard()->setText("xyz");
  QTest::keyClick(TCPForm->ePort, Qt::Key_V, Qt::ControlModifier);
  EXPECT_EQ(TCPForm->ePort->text(), "502");
  // Moving and deleting keys type nothing and still work.
  QTest::keyClick(TCPForm->ePort, Qt::Key_Home);
  QTest::keyClick(TCPForm->ePort, Qt::Key_Delete);
  EXPECT_EQ(TCPForm->ePort->text(), "02");
  TCPForm->hide();
}

TEST_F(MainWindow, TcpIpPortThatIsNoNumberEndsTheConnect) {
  TProgramForms forms;
  {
    ModalScript script({[](QWidget*) {
      TCPForm->ePort->clear();
      TCPForm->btnOk->click();
    }});
    MainForm->mnTCPIP->trigger();
  }
  std::vector<std::string> messages;
  {
    ModalScript script({Message(&messages)});
    MainForm->acOpenConnection->trigger();
  }
  EXPECT_EQ(messages, std::vector<std::string>{"'' is not a valid integer value"});
  // The new connection stays, idle, until the next Connect replaces it.
  ASSERT_NE(Network->Connection(), nullptr);
  EXPECT_FALSE(Network->Connection()->IsEnabled());
  EXPECT_TRUE(LogLines().isEmpty());
  // (Its events were not bound yet: it goes without a word.)
  TCPForm->ePort->setText("1");
  MainForm->acOpenConnection->trigger();
  EXPECT_TRUE(PumpUntil([] { return !LogLines().isEmpty(); }));
  EXPECT_TRUE(LogLines().value(0).startsWith("Connection Error: ")) << LogLines().value(0).toStdString();
}

TEST_F(MainWindow, ResultCodeTexts) {
  TProgramForms forms;
  const std::pair<std::int32_t, const char*> table[] = {
      {0, "no error"},
      {-1, "error in ModBus connection or Port already busy!"},
      {-9, "errore di accesso a file"},
      {static_cast<std::int32_t>(0x80040201u), "timeout, no response!"},
      {static_cast<std::int32_t>(0x8004020Au), "COM port not initialized!"},
      {static_cast<std::int32_t>(0x80048202u), "indirizzo di registro non ammissibile"},
      {static_cast<std::int32_t>(0x8004820Au), "il gateway non trova il percorso di conne"},
      {static_cast<std::int32_t>(0x8004820Bu), "il gateway non trova"},
      {static_cast<std::int32_t>(0x80040204u), "80040204h"},
      {static_cast<std::int32_t>(0x80048207u), "80048207h"},
      {-10, "FFFFFFF6h"},
      {5, "5h"}};
  for (const auto& [code, text] : table) EXPECT_EQ(Network->ErrorMessage(code), text) << code;
  EXPECT_FALSE(MainForm->acMBServer->isVisible());
  EXPECT_EQ(Network->ErrorMessage(-4), "MBServer ActiveX not registered!");
  EXPECT_TRUE(MainForm->acMBServer->isVisible());
}

TEST_F(MainWindow, AboutBoxTextsFromTheIniFile) {
  struct Case {
    const char* name;
    const char* ini;
    QStringList lines;
  };
  const QString title = "\tX 1_";
  const QString rule = "-------------------";
  const Case cases[] = {
      {"defaults", "", {"\t-APPLICATION NAME- V.ER_", "", ""}},
      {"title only", "[AboutForm]\nApplication=X\nVersion=1\n", {title, "", ""}},
      {"company and address",
       "[AboutForm]\nApplication=X\nVersion=1\nCompany=Maker\nAddress=a,b\n",
       {title, "", "Maker", "a", "b", "", ""}},
      // The empty line after the title goes through the comma text and is lost.
      {"address without company", "[AboutForm]\nApplication=X\nVersion=1\nAddress=a,\"b c\"\n",
       {title, "a", "b c", "", ""}},
      {"contacts", "[AboutForm]\nApplication=X\nVersion=1\nPhone=1\nWeb=w\nFax=2\ne-mail=m\n",
       {title, "", "Phone:\t1", "Fax:\t2", "e-mail:\tm", "Web:\tw", ""}},
      {"message", "[AboutForm]\nApplication=X\nVersion=1\nMessage=one,\"two words\"\n",
       {title, "", "", rule, "one", "two words", rule}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    folder_.WriteIni(c.ini);
    TProgramForms forms;
    EXPECT_EQ(AboutForm->Memo->toPlainText().split('\n'), c.lines);
    EXPECT_EQ(AboutForm->Memo->height(), QFontMetrics(AboutForm->font()).height() * c.lines.size());
  }
}

TEST_F(MainWindow, AboutBoxWithoutConnection) {
  TProgramForms forms;
  QString deviceText;
  {
    ModalScript script({[&](QWidget*) {
      deviceText = AboutForm->DeviceMemo->toPlainText();
      QTest::mouseClick(AboutForm->DeviceMemo->viewport(), Qt::LeftButton);
    }});
    MainForm->acAbout->trigger();
    EXPECT_EQ(script.Remaining(), 0);
  }
  EXPECT_EQ(deviceText, "Not connected!");
  EXPECT_FALSE(AboutForm->isVisible());
  EXPECT_EQ(AboutForm->windowTitle(), "About");
  EXPECT_TRUE(AboutForm->windowFlags() & Qt::FramelessWindowHint);
}

}  // namespace
