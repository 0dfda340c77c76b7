// The connection set: connections from INI sections and registry keys.
#include <gtest/gtest.h>

#include "Exception.h"
#include "MbClientSupport.h"
#include "Tlambconnsetcmp.h"

namespace {

// A set whose events are logged.
class LoggedSet : public TlaMBConnSet {
 public:
  LoggedSet() {
    OnAdd = [this](TlaMBConnSet* s, TlaMBThread* c) {
      EXPECT_EQ(s, this);
      log.push_back("add " + c->Setup().Name);
    };
    OnDelete = [this](TlaMBConnSet*, TlaMBThread* c) {
      log.push_back("delete " + c->Setup().Name);
    };
    OnLoadError = [this](TlaMBConnSet*, const std::string& name, const std::string& source) {
      log.push_back("error " + name + " " + source);
    };
  }
  ~LoggedSet() override { ClearSet(); }  // while the log is still there
  std::vector<std::string> Take() { return std::exchange(log, {}); }
  std::vector<std::string> log;
};

using Log = std::vector<std::string>;

class ConnSet : public mbtest::MbClientTest {};

}  // namespace

// Only "B" is enabled: without force it alone is added, and it opens by
// itself; with force "A" joins, idle. A second set first ends the first one's.
TEST_F(ConnSet, IniFileAddsEnabledConnectionsOrAllWithForce) {
  auto sim = StartSimTcp();
  const std::string tcp =
      "ConnType=2\nHostName=127.0.0.1\nTCPIPPort=" + std::to_string(sim->TcpPort()) + "\n";
  const std::string file = dir_.Write("conn.ini", "[A]\n" + tcp + "[B]\n" + tcp + "Enabled=1\n");
  LoggedSet set;
  set.CreateSetFromIniFile(file, false);
  EXPECT_EQ(set.Take(), (Log{"error A " + file, "add B"}));
  ASSERT_EQ(set.GetCountConnect(), 1);
  TlaMBThread* b = set.GetConnect(0);
  EXPECT_EQ(b->Owner(), &set);
  EXPECT_EQ(b->Setup().Timeout, 1000);  // read from the file's defaults
  EXPECT_TRUE(RunUntil([&] { return b->IsConnected(); }));

  set.CreateSetFromIniFile(file, true);
  EXPECT_EQ(set.Take(), (Log{"delete B", "add A", "add B"}));
  ASSERT_EQ(set.GetCountConnect(), 2);
  EXPECT_EQ(set.GetConnect(0)->GetState(), 0);  // added idle
  EXPECT_EQ(set.FindByName("B"), set.GetConnect(1));
  EXPECT_EQ(set.FindByName("b"), nullptr);
  EXPECT_EQ(set.FindByName(""), nullptr);
  EXPECT_EQ(set.GetConnect(-1), nullptr);
  EXPECT_EQ(set.GetConnect(2), nullptr);

  // A name already in the set gives that connection; an empty one nothing.
  EXPECT_EQ(set.AddConnectFromIniFile("A", file, true), set.GetConnect(0));
  EXPECT_EQ(set.AddConnectFromIniFile("", file, true), nullptr);
  EXPECT_NE(set.AddConnectFromIniFile("C", file, true), nullptr);  // no such section: the defaults
  EXPECT_EQ(set.Take(), (Log{"add C"}));
  EXPECT_TRUE(set.DeleteConnect("A"));
  EXPECT_FALSE(set.DeleteConnect("A"));
  TlaMBThread foreign;
  EXPECT_FALSE(set.DeleteConnect(&foreign));
  EXPECT_EQ(set.Take(), (Log{"delete A"}));
  EXPECT_EQ(set.GetCountConnect(), 2);
}

TEST_F(ConnSet, RegistryKeys) {
  {
    kd::Registry reg(kd::HKEY_CURRENT_USER);
    ASSERT_TRUE(reg.OpenKey("\\Software\\Plant\\Lines\\Line 1", true));
    const std::pair<const char*, int> values[] = {
        {"ConnType", 1},    {"Retries", 3},   {"RaiseError", 0}, {"BaudRate", 9600},
        {"PortNumber", 2},  {"ByteSize", 8},  {"FlowCtrl", 0},   {"Parity", 2},
        {"StopBits", 1},    {"SilentInt", 5}, {"Timeout", 700},  {"TxMode", 0},
        {"TCPIPPort", 502}, {"Enabled", 0}};
    for (const auto& [name, value] : values) reg.WriteInteger(name, value);
    reg.WriteString("HostName", "");
    ASSERT_TRUE(reg.OpenKey("\\Software\\Plant\\Broken\\Line 9", true));
    reg.WriteInteger("ConnType", 1);  // nothing else
  }
  kd::StringList names;
  TlaMBConnSet::GetConnListFromRegistry(&names, kd::HKEY_CURRENT_USER, "Software\\Plant\\Lines");
  EXPECT_EQ(names.Lines(), (Log{"Line 1"}));
  TlaMBConnSet::GetConnListFromRegistry(nullptr, kd::HKEY_CURRENT_USER, "Software\\Plant\\Lines");

  LoggedSet set;
  set.CreateSetFromRegistry(kd::HKEY_CURRENT_USER, "Software\\Plant\\Lines", false);
  EXPECT_EQ(set.Take(), (Log{"error Line 1 \\Software\\Plant\\Lines"}));  // not enabled
  set.CreateSetFromRegistry(kd::HKEY_CURRENT_USER, "Software\\Plant\\Lines", true);
  EXPECT_EQ(set.Take(), (Log{"add Line 1"}));
  const TlaMBSetup& s = set.GetConnect(0)->Setup();
  EXPECT_EQ(s.BaudRate, 9600);
  EXPECT_EQ(s.Timeout, 700);
  EXPECT_EQ(s.PortNumber, 2);

  // A path that does not open: "-Error-", which then fails to load as a connection.
  set.CreateSetFromRegistry(kd::HKEY_CURRENT_USER, "Software\\Nowhere", true);
  EXPECT_EQ(set.Take(), (Log{"delete Line 1", "error -Error- \\Software\\Nowhere"}));
  // A key without every value: the registry's error reaches the caller, nothing is added.
  EXPECT_THROW(
      set.AddConnectFromRegistry("Line 9", kd::HKEY_CURRENT_USER, "Software\\Plant\\Broken", true),
      kd::RegistryError);
  EXPECT_EQ(set.GetCountConnect(), 0);
  EXPECT_TRUE(set.Take().empty());
}
