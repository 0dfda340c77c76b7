// Connection settings: validity, the INI and registry readers.
#include <gtest/gtest.h>

#include "Exception.h"
#include "Registry.h"
#include "TestSupport.h"
#include "Tlambsetupcls.h"

namespace {

TEST(MBSetup, Validity) {
  TlaMBSetup fresh;
  EXPECT_FALSE(fresh.IsValid());  // no Name

  struct Case {
    const char* what;
    void (*change)(TlaMBSetup&);
    bool valid;
  };
  const Case cases[] = {
      {"serial, COM1", [](TlaMBSetup&) {}, true},
      {"COM8, 7 bits, flow 8, mark parity, 2 stop bits, ASCII",
       [](TlaMBSetup& s) { s.PortNumber = 8, s.ByteSize = 7, s.FlowCtrl = 8, s.Parity = 4, s.StopBits = 2, s.TxMode = 1; },
       true},
      {"PortNumber 9", [](TlaMBSetup& s) { s.PortNumber = 9; }, false},
      {"PortNumber 0", [](TlaMBSetup& s) { s.PortNumber = 0; }, false},
      {"FlowCtrl 3", [](TlaMBSetup& s) { s.FlowCtrl = 3; }, false},
      {"ByteSize 6", [](TlaMBSetup& s) { s.ByteSize = 6; }, false},
      {"Parity 5", [](TlaMBSetup& s) { s.Parity = 5; }, false},
      {"StopBits 3", [](TlaMBSetup& s) { s.StopBits = 3; }, false},
      {"TxMode 2", [](TlaMBSetup& s) { s.TxMode = 2; }, false},
      {"serial checks ignore speed, retries, time-out", [](TlaMBSetup& s) { s.BaudRate = -5, s.Retries = -1, s.Timeout = 0; }, true},
      {"TCP with a host, serial fields ignored", [](TlaMBSetup& s) { s.ConnType = 2, s.PortNumber = 99; }, true},
      {"TCP without a host", [](TlaMBSetup& s) { s.ConnType = 2, s.HostName.clear(); }, false},
      {"ConnType 3", [](TlaMBSetup& s) { s.ConnType = 3; }, false},
  };
  for (const Case& c : cases) {
    TlaMBSetup s;
    s.Name = "COM1";
    s.PortNumber = 1;
    c.change(s);
    EXPECT_EQ(s.IsValid(), c.valid) << c.what;
  }
}

TEST(MBSetup, AssignCopiesEveryField) {
  TlaMBSetup a;
  a.Name = "Line";
  a.ConnType = 2, a.Retries = 5, a.RaiseError = true, a.BaudRate = 9600, a.PortNumber = 3, a.ByteSize = 7;
  a.FlowCtrl = 1, a.Parity = 2, a.SilentInt = 9, a.StopBits = 2, a.Timeout = 77, a.TxMode = 1, a.TCPIPPort = 1502;
  a.HostName = "10.0.0.1";
  a.Enabled = true;
  TlaMBSetup b;
  b.Assign(a);
  EXPECT_EQ(b.Name, "Line");
  EXPECT_EQ(std::make_tuple(b.ConnType, b.Retries, b.RaiseError, b.BaudRate, b.PortNumber, b.ByteSize, b.FlowCtrl,
                            b.Parity, b.SilentInt, b.StopBits, b.Timeout, b.TxMode, b.TCPIPPort, b.HostName),
            std::make_tuple(2, 5, true, 9600, 3, 7, 1, 2, 9, 2, 77, 1, 1502, std::string("10.0.0.1")));
  EXPECT_TRUE(b.Enabled);
}

class MBSetupFiles : public testing::Test {
 protected:
  MBSetupFiles() : config_("XDG_CONFIG_HOME", dir_.Path()) {}
  std::string WriteIni(const std::string& text) { return dir_.Write("conn.ini", text); }
  kdtest::TempDir dir_;
  kdtest::ScopedEnv config_;
};

TEST_F(MBSetupFiles, IniSectionWithoutKeysTakesTheFileDefaults) {
  const std::string ini = WriteIni("[Line]\n[Other]\nTimeout=5\n");
  TlaMBSetup s;
  s.Name = "Line";
  s.SilentInt = 99, s.StopBits = 2, s.Enabled = true;
  ASSERT_TRUE(s.ReadFromIniFile(ini));
  // Unlike the constructor's 500 and "127.0.0.1".
  EXPECT_EQ(s.Timeout, 1000);
  EXPECT_EQ(s.HostName, "");
  EXPECT_EQ(s.SilentInt, 4);
  EXPECT_EQ(s.StopBits, 0);
  EXPECT_EQ(std::make_tuple(s.ConnType, s.Retries, s.RaiseError, s.BaudRate, s.PortNumber, s.ByteSize, s.FlowCtrl,
                            s.Parity, s.TxMode, s.TCPIPPort),
            std::make_tuple(1, 2, false, 19200, 0, 8, 0, 0, 0, 502));
  EXPECT_FALSE(s.Enabled);
}

TEST_F(MBSetupFiles, IniKeysFeedTheFieldsOfTheirNames) {
  const std::string ini = WriteIni(
      "[line]\nconntype=2\nRetries=0x3\nRaiseError=1\nBaudRate=9600\nPortNumber=4\nByteSize=7\nFlowCtrl=2\n"
      "Parity=1\nStopBits=2\nSilentInt=35\nTimeout=250\nTxMode=1\nTCPIPPort=1502\nHostName=plc.local\nEnabled=1\n");
  TlaMBSetup s;
  s.Name = "Line";
  ASSERT_TRUE(s.ReadFromIniFile(ini));
  EXPECT_EQ(s.StopBits, 2);
  EXPECT_EQ(s.SilentInt, 35);
  EXPECT_EQ(std::make_tuple(s.ConnType, s.Retries, s.RaiseError, s.BaudRate, s.PortNumber, s.ByteSize, s.FlowCtrl,
                            s.Parity, s.Timeout, s.TxMode, s.TCPIPPort, s.HostName),
            std::make_tuple(2, 3, true, 9600, 4, 7, 2, 1, 250, 1, 1502, std::string("plc.local")));
  EXPECT_TRUE(s.Enabled);
}

TEST_F(MBSetupFiles, IniReadRefusedWithoutNameOrFile) {
  const std::string ini = WriteIni("[Line]\nTimeout=5\n");
  TlaMBSetup noName;
  EXPECT_FALSE(noName.ReadFromIniFile(ini));
  EXPECT_EQ(noName.Timeout, 500);  // unchanged
  TlaMBSetup s;
  s.Name = "Line";
  EXPECT_FALSE(s.ReadFromIniFile(""));
  EXPECT_FALSE(s.ReadFromIniFile(dir_.File("missing.ini")));
  EXPECT_EQ(s.Timeout, 500);
}

void WriteRegistryConnection(kd::Registry& reg, bool withSilentInt) {
  reg.WriteInteger("ConnType", 2);
  reg.WriteInteger("Retries", 1);
  reg.WriteBool("RaiseError", true);
  reg.WriteInteger("BaudRate", 38400);
  reg.WriteInteger("PortNumber", 2);
  reg.WriteInteger("ByteSize", 8);
  reg.WriteInteger("FlowCtrl", 0);
  reg.WriteInteger("Parity", 2);
  reg.WriteInteger("StopBits", 1);
  if (withSilentInt) reg.WriteInteger("SilentInt", 12);
  reg.WriteInteger("Timeout", 300);
  reg.WriteInteger("TxMode", 0);
  reg.WriteInteger("TCPIPPort", 5020);
  reg.WriteString("HostName", "127.0.0.2");
  reg.WriteBool("Enabled", true);
}

TEST_F(MBSetupFiles, RegistryReadsEveryValue) {
  {
    kd::Registry reg(kd::HKEY_CURRENT_USER);
    ASSERT_TRUE(reg.OpenKey("Software\\Conns\\Line", true));
    WriteRegistryConnection(reg, true);
  }
  TlaMBSetup s;
  s.Name = "Line";
  ASSERT_TRUE(s.ReadFromRegistry(kd::HKEY_CURRENT_USER, "Software\\Conns"));
  EXPECT_EQ(std::make_tuple(s.ConnType, s.Retries, s.RaiseError, s.BaudRate, s.PortNumber, s.ByteSize, s.FlowCtrl,
                            s.Parity, s.StopBits, s.SilentInt, s.Timeout, s.TxMode, s.TCPIPPort, s.HostName),
            std::make_tuple(2, 1, true, 38400, 2, 8, 0, 2, 1, 12, 300, 0, 5020, std::string("127.0.0.2")));
  EXPECT_TRUE(s.Enabled);

  TlaMBSetup other;
  other.Name = "Nowhere";
  EXPECT_FALSE(other.ReadFromRegistry(kd::HKEY_CURRENT_USER, "Software\\Conns"));
  other.Name = "Line";
  EXPECT_FALSE(other.ReadFromRegistry(kd::HKEY_CURRENT_USER, ""));
  EXPECT_EQ(other.ConnType, 1);
}

TEST_F(MBSetupFiles, RegistryMissingValueRaisesAfterTheEarlierOnes) {
  {
    kd::Registry reg(kd::HKEY_CURRENT_USER);
    ASSERT_TRUE(reg.OpenKey("Software\\Conns\\Line", true));
    WriteRegistryConnection(reg, false);
  }
  TlaMBSetup s;
  s.Name = "Line";
  EXPECT_THROW(s.ReadFromRegistry(kd::HKEY_CURRENT_USER, "Software\\Conns"), kd::RegistryError);
  EXPECT_EQ(s.StopBits, 1);    // read before "SilentInt"
  EXPECT_EQ(s.Timeout, 500);   // after it: untouched
  EXPECT_EQ(s.SilentInt, 20);
}

}  // namespace
