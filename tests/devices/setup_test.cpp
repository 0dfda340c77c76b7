// Device settings: the commit protocol and the INI and registry loaders.
#include <gtest/gtest.h>

#include "Exception.h"
#include "Registry.h"
#include "Tladevicesetupcls.h"
#include "TestSupport.h"

namespace {

struct Recorder {
  std::vector<std::string> calls;
  void Attach(TlaMBDeviceSetup& s) {
    s.OnChanging = [this](TlaMBDeviceSetup*, str_SetupItems& v) { calls.push_back("changing:" + v.Name); };
    s.OnChange = [this](TlaMBDeviceSetup*, str_SetupItems& v) { calls.push_back("change:" + v.Name); };
  }
};

str_SetupItems Valid() {
  str_SetupItems i;
  i.Name = "Drive";
  i.ConnectionName = "COM1";
  i.ModBusAddress = 1;
  i.SampleTime = 10;
  return i;
}

}  // namespace

TEST(DeviceSetup, NewObjectAndValidity) {
  TlaMBDeviceSetup s;
  const str_SetupItems i = s.Items();
  EXPECT_EQ(i.Name, "");
  EXPECT_EQ(i.ConnectionName, "");
  EXPECT_EQ(i.ModBusAddress, 0);
  EXPECT_EQ(i.SampleTime, 50);
  EXPECT_FALSE(i.Enable);
  EXPECT_FALSE(s.GetIsValid());

  // Each row breaks exactly one condition of a valid record.
  struct Case {
    const char* what;
    void (*edit)(str_SetupItems&);
    bool valid;
  };
  const Case cases[] = {
      {"all set", [](str_SetupItems&) {}, true},
      {"sample time 9", [](str_SetupItems& x) { x.SampleTime = 9; }, false},
      {"negative sample time", [](str_SetupItems& x) { x.SampleTime = -100; }, false},
      {"address 0", [](str_SetupItems& x) { x.ModBusAddress = 0; }, false},
      {"no name", [](str_SetupItems& x) { x.Name.clear(); }, false},
      {"no connection", [](str_SetupItems& x) { x.ConnectionName.clear(); }, false},
  };
  for (const Case& c : cases) {
    TlaMBDeviceSetup t;
    str_SetupItems want = Valid();
    c.edit(want);
    // The only way to set SampleTime besides the loaders: a changing handler.
    t.OnChanging = [&](TlaMBDeviceSetup*, str_SetupItems& v) { v = want; };
    t.SetEnable(true);
    EXPECT_EQ(t.GetIsValid(), c.valid) << c.what;
  }
}

TEST(DeviceSetup, CommitProtocol) {
  TlaMBDeviceSetup s;
  Recorder r;
  r.Attach(s);
  s.SetName("Drive");
  EXPECT_EQ(r.calls, (std::vector<std::string>{"changing:Drive", "change:Drive"}));

  // The same value again, letter case included, raises nothing.
  r.calls.clear();
  s.SetName("Drive");
  s.SetConnectionName("");
  s.SetModBusAddress(0);
  s.SetEnable(false);
  EXPECT_TRUE(r.calls.empty());
  s.SetName("DRIVE");
  EXPECT_EQ(r.calls.size(), 2u);

  // What the changing handler leaves in the proposed record is committed,
  // including fields that have no setter.
  s.OnChanging = [](TlaMBDeviceSetup*, str_SetupItems& v) {
    v.SampleTime = 7;
    v.ConnectionName = "COM9";
  };
  str_SetupItems seen;
  s.OnChange = [&](TlaMBDeviceSetup*, str_SetupItems& v) { seen = v; };
  s.SetModBusAddress(12);
  EXPECT_EQ(seen.ModBusAddress, 12);
  EXPECT_EQ(seen.SampleTime, 7);
  EXPECT_EQ(s.GetSampleTime(), 7);
  EXPECT_EQ(s.GetConnectionName(), "COM9");
}

TEST(DeviceSetup, LoadFromIniFile) {
  kdtest::TempDir dir;
  const std::string file = dir.Write("devices.ini",
                                      "[Drive]\nConnectionName=COM2\nModBusAddress=300\nSampleTime=0x20\nEnable=0\n"
                                      "[Bare]\nOther=1\n"
                                      "[Bad]\nModBusAddress=twelve\nSampleTime=\n");

  TlaMBDeviceSetup s;
  Recorder r;
  r.Attach(s);
  ASSERT_TRUE(s.LoadFromIniFile(file, "Drive"));
  str_SetupItems i = s.Items();
  EXPECT_EQ(i.Name, "Drive");
  EXPECT_EQ(i.ConnectionName, "COM2");
  EXPECT_EQ(i.ModBusAddress, 44);  // low byte of 300
  EXPECT_EQ(i.SampleTime, 32);
  EXPECT_FALSE(i.Enable);
  EXPECT_EQ(r.calls, (std::vector<std::string>{"change:Drive"}));  // OnChange only

  // A section without the keys, and one with texts that are no numbers: defaults.
  for (const char* name : {"Bare", "Bad", "Missing"}) {
    TlaMBDeviceSetup t;
    ASSERT_TRUE(t.LoadFromIniFile(file, name)) << name;
    i = t.Items();
    EXPECT_EQ(i.ConnectionName, "") << name;
    EXPECT_EQ(i.ModBusAddress, 0) << name;
    EXPECT_EQ(i.SampleTime, 50) << name;
    EXPECT_TRUE(i.Enable) << name;
  }

  // The name is taken before the file is looked at.
  TlaMBDeviceSetup u;
  r.calls.clear();
  r.Attach(u);
  EXPECT_FALSE(u.LoadFromIniFile("", "Drive"));
  EXPECT_EQ(u.GetName(), "Drive");
  EXPECT_FALSE(u.LoadFromIniFile(dir.File("absent.ini"), ""));
  EXPECT_FALSE(u.LoadFromIniFile(dir.Path(), ""));  // a folder is no file
  TlaMBDeviceSetup nameless;
  EXPECT_FALSE(nameless.LoadFromIniFile(file, ""));
  EXPECT_TRUE(r.calls.empty());
  EXPECT_EQ(u.GetSampleTime(), 50);
}

TEST(DeviceSetup, LoadFromRegistry) {
  kdtest::TempDir dir;
  kdtest::ScopedEnv env("XDG_CONFIG_HOME", dir.Path());
  {
    kd::Registry reg(kd::HKEY_CURRENT_USER);
    ASSERT_TRUE(reg.OpenKey("Software\\Devices\\Drive", true));
    reg.WriteString("ConnectionName", "COM3");
    reg.WriteInteger("ModBusAddress", 0x105);
    reg.WriteInteger("SampleTime", 20);
    reg.WriteBool("Enable", true);
    ASSERT_TRUE(reg.OpenKey("\\Software\\Devices\\Partial", true));
    reg.WriteString("ConnectionName", "COM4");
    reg.WriteInteger("ModBusAddress", 9);
    reg.WriteString("SampleTime", "20");  // of another type
  }
  TlaMBDeviceSetup s;
  Recorder r;
  r.Attach(s);
  ASSERT_TRUE(s.LoadFromRegistry(kd::HKEY_CURRENT_USER, "Software\\Devices", "Drive"));
  str_SetupItems i = s.Items();
  EXPECT_EQ(i.ConnectionName, "COM3");
  EXPECT_EQ(i.ModBusAddress, 5);
  EXPECT_EQ(i.SampleTime, 20);
  EXPECT_TRUE(i.Enable);
  EXPECT_TRUE(s.GetIsValid());
  EXPECT_EQ(r.calls, (std::vector<std::string>{"change:Drive"}));

  // The values before the bad one are stored; the error reaches the caller.
  TlaMBDeviceSetup p;
  EXPECT_THROW(p.LoadFromRegistry(kd::HKEY_CURRENT_USER, "Software\\Devices", "Partial"), kd::RegistryError);
  i = p.Items();
  EXPECT_EQ(i.ConnectionName, "COM4");
  EXPECT_EQ(i.ModBusAddress, 9);
  EXPECT_EQ(i.SampleTime, 50);

  TlaMBDeviceSetup q;
  EXPECT_FALSE(q.LoadFromRegistry(kd::HKEY_CURRENT_USER, "Software\\Devices", "Nobody"));
  EXPECT_FALSE(q.LoadFromRegistry(kd::HKEY_CURRENT_USER, "", "Drive"));
  EXPECT_EQ(q.GetName(), "Drive");
  EXPECT_FALSE(q.LoadFromRegistry(kd::HKEY_LOCAL_MACHINE, "Software\\Devices", ""));
}
