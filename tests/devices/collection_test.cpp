// The device collection: sets from INI files and registry keys, the limit,
// ownership of the devices, look-ups.
#include <gtest/gtest.h>

#include "Exception.h"
#include "MainThread.h"
#include "Registry.h"
#include "TestSupport.h"
#include "Tladevicecollectioncmp.h"

namespace {

// A device that counts how many of its kind are alive.
class CountedDevice : public TlaDeviceSlave {
 public:
  explicit CountedDevice(kd::Component* owner) : TlaDeviceSlave(owner) { ++alive; }
  ~CountedDevice() override { --alive; }
  static inline int alive = 0;
};

// A derived collection that makes its own kind of device, and an event log.
class Collection : public TlaDeviceCollection {
 public:
  Collection() {
    auto name = [](TlaDeviceSlave* d) { return d->DeviceSetup()->GetName(); };
    OnAdd = [this, name](TlaDeviceCollection* s, TlaDeviceSlave* d) {
      EXPECT_EQ(s, this);
      log.push_back("add " + name(d));
    };
    OnDelete = [this, name](TlaDeviceCollection*, TlaDeviceSlave* d) {
      EXPECT_EQ(FindByName(name(d)), nullptr);  // already out of the set
      log.push_back("delete " + name(d));
    };
    OnMaxDeviceCount = [this, name](TlaDeviceCollection*, TlaDeviceSlave* d) {
      log.push_back("full " + name(d));
    };
    OnError = [this](TlaDeviceCollection*, const std::string& device, const std::string& file) {
      log.push_back("error " + device + " " + file);
    };
  }
  ~Collection() override { ClearSet(); }  // while the log is still there
  std::unique_ptr<TlaDeviceSlave> AllocNewDevice(kd::Component* owner) override {
    return std::make_unique<CountedDevice>(owner);
  }
  std::vector<std::string> Take() { return std::exchange(log, {}); }
  std::vector<std::string> log;
};

class DeviceCollection : public ::testing::Test {
 protected:
  void TearDown() override { EXPECT_EQ(CountedDevice::alive, 0); }
  kd::ScopedQueueLoop loop;
  kdtest::TempDir dir;
  kdtest::ScopedEnv env{"XDG_CONFIG_HOME", dir.Path()};
};

const char* const kThreeDevices =
    "[Drive A]\nConnectionName=COM1\nModBusAddress=1\nSampleTime=20\n"
    "[Drive B]\nConnectionName=COM2\nModBusAddress=0x102\nEnable=0\n"
    "[Drive C]\nConnectionName=COM1\nModBusAddress=3\n";

}  // namespace

TEST_F(DeviceCollection, IniFileUpToTheLimitInFileOrder) {
  const std::string file = dir.Write("devices.ini", kThreeDevices);
  kd::StringList names;
  TlaDeviceCollection::GetDeviceListFromIniFile(&names, file);
  EXPECT_EQ(names.Lines(), (std::vector<std::string>{"Drive A", "Drive B", "Drive C"}));
  TlaDeviceCollection::GetDeviceListFromIniFile(nullptr, file);

  Collection c;
  EXPECT_EQ(c.GetMaxDeviceCount(), 2);
  c.CreateSetFromIniFile(file);
  // The third is refused and deleted: nothing of it stays.
  EXPECT_EQ(c.Take(), (std::vector<std::string>{"add Drive A", "add Drive B", "full Drive C"}));
  ASSERT_EQ(c.GetCountDevice(), 2);
  EXPECT_EQ(CountedDevice::alive, 2);
  TlaDeviceSlave* a = c.GetDevice(0);
  TlaDeviceSlave* b = c.GetDevice(1);
  EXPECT_NE(dynamic_cast<CountedDevice*>(a), nullptr);
  EXPECT_EQ(a->Owner(), &c);
  EXPECT_EQ(a->DeviceSetup()->GetConnectionName(), "COM1");
  EXPECT_EQ(a->GetSampleTime(), 20);
  EXPECT_EQ(a->GetSlaveState(), slaveNoConnection);  // the load re-evaluates the state
  EXPECT_EQ(b->GetModBusAddress(), 2);
  EXPECT_FALSE(b->GetEnable());

  // The limit: values below 1 are ignored.
  for (int n : {0, -1}) {
    c.SetMaxDeviceCount(n);
    EXPECT_EQ(c.GetMaxDeviceCount(), 2) << n;
  }
  c.SetMaxDeviceCount(3);
  // A second set deletes the first one's devices before it loads.
  c.CreateSetFromIniFile(file);
  EXPECT_EQ(c.Take(), (std::vector<std::string>{"delete Drive A", "delete Drive B", "add Drive A",
                                                "add Drive B", "add Drive C"}));
  EXPECT_EQ(CountedDevice::alive, 3);

  // A file without sections gives an empty set.
  c.CreateSetFromIniFile(dir.File("absent.ini"));
  EXPECT_EQ(c.GetCountDevice(), 0);
  EXPECT_EQ(CountedDevice::alive, 0);
}

TEST_F(DeviceCollection, LoadErrorsAndRefusalsLeaveNothingBehind) {
  Collection c;
  const std::string absent = dir.File("absent.ini");
  EXPECT_EQ(c.AddDeviceFromIniFile("Drive A", absent), nullptr);
  EXPECT_EQ(c.Take(), (std::vector<std::string>{"error Drive A " + absent}));
  EXPECT_EQ(CountedDevice::alive, 0);

  // A device of the caller's at the limit is not in the set and stays the caller's.
  const std::string file = dir.Write("devices.ini", kThreeDevices);
  ASSERT_NE(c.AddDeviceFromIniFile("Drive A", file), nullptr);
  ASSERT_NE(c.AddDeviceFromIniFile("Drive B", file), nullptr);
  EXPECT_EQ(c.AddDeviceFromIniFile("Drive C", file), nullptr);
  CountedDevice mine(nullptr);
  mine.DeviceSetup()->SetName("Mine");
  EXPECT_FALSE(c.AddDevice(&mine));
  EXPECT_FALSE(c.AddDevice(nullptr));
  EXPECT_TRUE(c.AddDevice(c.GetDevice(0)));  // already there: once only
  EXPECT_EQ(c.Take(),
            (std::vector<std::string>{"add Drive A", "add Drive B", "full Drive C", "full Mine"}));
  EXPECT_EQ(c.GetCountDevice(), 2);
  EXPECT_EQ(CountedDevice::alive, 3);
  EXPECT_FALSE(c.DeleteDevice(&mine));  // not the set's to delete
  EXPECT_FALSE(c.DeleteDevice(static_cast<TlaDeviceSlave*>(nullptr)));
}

TEST_F(DeviceCollection, RegistryKeys) {
  {
    kd::Registry reg(kd::HKEY_CURRENT_USER);
    for (const char* name : {"Drive A", "Drive B"}) {
      ASSERT_TRUE(reg.OpenKey(std::string("\\Software\\Plant\\Devices\\") + name, true));
      reg.WriteString("ConnectionName", "COM1");
      reg.WriteInteger("ModBusAddress", name[6] == 'A' ? 1 : 2);
      reg.WriteInteger("SampleTime", 50);
      reg.WriteBool("Enable", true);
    }
    ASSERT_TRUE(reg.OpenKey("\\Software\\Plant\\Broken\\Drive X", true));
    reg.WriteString("ConnectionName", "COM1");  // nothing else
  }
  kd::StringList names;
  TlaDeviceCollection::GetDeviceListFromRegistry(&names, kd::HKEY_CURRENT_USER,
                                                 "Software\\Plant\\Devices");
  EXPECT_EQ(names.Lines(), (std::vector<std::string>{"Drive A", "Drive B"}));

  Collection c;
  c.CreateSetFromRegistry(kd::HKEY_CURRENT_USER, "Software\\Plant\\Devices");
  EXPECT_EQ(c.Take(), (std::vector<std::string>{"add Drive A", "add Drive B"}));
  EXPECT_EQ(c.GetDevice(1)->GetModBusAddress(), 2);

  // A key that does not open: "-Error-", whose device does not load (no event).
  TlaDeviceCollection::GetDeviceListFromRegistry(&names, kd::HKEY_CURRENT_USER,
                                                 "Software\\Nowhere");
  EXPECT_EQ(names.Lines(), (std::vector<std::string>{"-Error-"}));
  c.CreateSetFromRegistry(kd::HKEY_CURRENT_USER, "Software\\Nowhere");
  EXPECT_EQ(c.Take(), (std::vector<std::string>{"delete Drive A", "delete Drive B"}));
  EXPECT_EQ(c.GetCountDevice(), 0);

  // A key without every value: the registry's error reaches the caller, the device is deleted.
  EXPECT_THROW(c.AddDeviceFromRegistry("Drive X", kd::HKEY_CURRENT_USER, "Software\\Plant\\Broken"),
               kd::RegistryError);
  EXPECT_EQ(c.GetCountDevice(), 0);
  EXPECT_EQ(CountedDevice::alive, 0);
}

TEST_F(DeviceCollection, LookUpsAndDeletion) {
  Collection c;
  c.SetMaxDeviceCount(3);
  c.CreateSetFromIniFile(dir.Write("devices.ini", kThreeDevices));
  c.Take();
  EXPECT_EQ(c.FindByName("Drive B"), c.GetDevice(1));
  EXPECT_EQ(c.FindByName("drive b"), nullptr);  // exact spelling only
  EXPECT_EQ(c.FindByName(""), nullptr);
  EXPECT_EQ(c.GetDevice(-1), nullptr);
  EXPECT_EQ(c.GetDevice(3), nullptr);

  EXPECT_TRUE(c.DeleteDevice("Drive B"));
  EXPECT_FALSE(c.DeleteDevice("Drive B"));
  EXPECT_EQ(c.Take(), (std::vector<std::string>{"delete Drive B"}));
  EXPECT_EQ(c.GetDevice(1)->DeviceSetup()->GetName(), "Drive C");
  EXPECT_EQ(CountedDevice::alive, 2);
  // The destructor deletes the rest, each with OnDelete.
  std::vector<std::string> deleted;
  {
    auto d = std::make_unique<Collection>();
    d->CreateSetFromIniFile(dir.File("devices.ini"));
    d->OnDelete = [&](TlaDeviceCollection*, TlaDeviceSlave* dev) {
      deleted.push_back(dev->DeviceSetup()->GetName());
    };
  }
  EXPECT_EQ(deleted, (std::vector<std::string>{"Drive A", "Drive B"}));

  TlaDeviceCollection plain;
  ASSERT_NE(plain.AddDeviceFromIniFile("Drive A", dir.File("devices.ini")), nullptr);
  EXPECT_EQ(plain.GetDevice(0)->ClassName(), "TlaDeviceSlave");
}

// An OnMaxDeviceCount handler may make room and take the refused device in
// after all: the set then owns it, so nobody else deletes it. One that takes
// it in and deletes it again leaves nothing to delete twice.
TEST_F(DeviceCollection, HandlerThatTakesTheRefusedDeviceIn) {
  const std::string file = dir.Write("devices.ini", kThreeDevices);
  struct Case {
    const char* what;
    bool deleteAgain;
    std::vector<std::string> names;  // the set afterwards
  };
  const Case cases[] = {
      {"room made, taken in", false, {"Drive B", "Drive C"}},
      {"taken in, deleted again", true, {"Drive B"}},
  };
  for (const Case& k : cases) {
    Collection c;
    c.OnMaxDeviceCount = [&](TlaDeviceCollection*, TlaDeviceSlave* d) {
      c.DeleteDevice(c.GetDevice(0));
      EXPECT_TRUE(c.AddDevice(d)) << k.what;
      if (k.deleteAgain) c.DeleteDevice(d);
    };
    c.CreateSetFromIniFile(file);
    std::vector<std::string> names;
    for (int i = 0; i < c.GetCountDevice(); ++i)
      names.push_back(c.GetDevice(i)->DeviceSetup()->GetName());
    EXPECT_EQ(names, k.names) << k.what;
    EXPECT_EQ(CountedDevice::alive, c.GetCountDevice()) << k.what;
  }

  // The loader hands back the device the set now holds; a device of the
  // caller's taken in that way is the set's.
  Collection c;
  ASSERT_NE(c.AddDeviceFromIniFile("Drive A", file), nullptr);
  ASSERT_NE(c.AddDeviceFromIniFile("Drive B", file), nullptr);
  c.OnMaxDeviceCount = [&](TlaDeviceCollection*, TlaDeviceSlave* d) {
    c.DeleteDevice(c.GetDevice(0));
    c.AddDevice(d);
  };
  TlaDeviceSlave* third = c.AddDeviceFromIniFile("Drive C", file);
  EXPECT_NE(third, nullptr);
  EXPECT_EQ(c.FindByName("Drive C"), third);
  auto mine = std::make_unique<CountedDevice>(nullptr);
  EXPECT_TRUE(c.AddDevice(mine.get()));
  EXPECT_EQ(c.GetDevice(1), mine.release());  // owned by the set now
  EXPECT_EQ(c.GetCountDevice(), 2);
}

// An OnAdd handler may delete the device just taken in, or another one: the
// loaders hand back the new device only while the set still holds it.
TEST_F(DeviceCollection, OnAddHandlerThatDeletesADevice) {
  const std::string file = dir.Write("devices.ini", kThreeDevices);
  {
    kd::Registry reg(kd::HKEY_CURRENT_USER);
    for (const char* name : {"Drive A", "Drive B"}) {
      ASSERT_TRUE(reg.OpenKey(std::string("\\Software\\Plant\\Devices\\") + name, true));
      reg.WriteString("ConnectionName", "COM1");
      reg.WriteInteger("ModBusAddress", 1);
      reg.WriteInteger("SampleTime", 50);
      reg.WriteBool("Enable", true);
    }
  }
  struct Case {
    const char* what;
    bool registry;
    bool deleteNew;  // else the handler deletes the device loaded before it
  };
  const Case cases[] = {
      {"INI, new one deleted", false, true},
      {"INI, other one deleted", false, false},
      {"registry, new one deleted", true, true},
      {"registry, other one deleted", true, false},
  };
  for (const Case& k : cases) {
    Collection c;
    auto load = [&](const std::string& name) {
      return k.registry
                 ? c.AddDeviceFromRegistry(name, kd::HKEY_CURRENT_USER, "Software\\Plant\\Devices")
                 : c.AddDeviceFromIniFile(name, file);
    };
    ASSERT_NE(load("Drive A"), nullptr) << k.what;
    c.OnAdd = [&](TlaDeviceCollection*, TlaDeviceSlave* d) {
      c.DeleteDevice(k.deleteNew ? d : c.GetDevice(0));
    };
    TlaDeviceSlave* b = load("Drive B");
    if (k.deleteNew) {
      EXPECT_EQ(b, nullptr) << k.what;
      EXPECT_EQ(c.FindByName("Drive A"), c.GetDevice(0)) << k.what;
    } else {
      ASSERT_NE(b, nullptr) << k.what;
      EXPECT_EQ(b->DeviceSetup()->GetName(), "Drive B") << k.what;  // the caller's first use
      EXPECT_EQ(c.GetDevice(0), b) << k.what;
    }
    EXPECT_EQ(c.GetCountDevice(), 1) << k.what;
    EXPECT_EQ(CountedDevice::alive, 1) << k.what;
    EXPECT_EQ(c.Take(), (std::vector<std::string>{
                            "add Drive A", k.deleteNew ? "delete Drive B" : "delete Drive A"}))
        << k.what;
  }
}
