// The slave device without a line: states, fault counting, ownership of its
// transactions, setup export and import, listings.
#include <gtest/gtest.h>

#include "TestFiles.h"
#include "Exception.h"
#include "IniFile.h"
#include "MainThread.h"
#include "TestSupport.h"
#include "Tladeviceslavecmp.h"
#include "Tlambsimpletransacls.h"
#include "Tlambthreadthr.h"

namespace {

const std::string kPar = std::string(KD_DATA_DIR) + "/KD730_Parameters.par";

// A device over the KD730 model, without a connection.
class OfflineDevice : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(model.LoadFromFile(kPar));
    ASSERT_TRUE(dev.CreateRegDataBuffer(&model));
  }
  TlaRegister* R(const char* name) { return dev.GetRegister(std::string(name)); }
  std::vector<int> Raw(int first, int last) {
    std::vector<int> out;
    for (int a = first; a <= last; ++a) out.push_back(dev.GetRegister(a)->GetValueInteger(0));
    return out;
  }

  kd::ScopedQueueLoop loop;
  kdtest::TempDir dir;
  TlaRegDefsList model;
  TlaDeviceSlave dev;
};

}  // namespace

TEST(SlaveStates, FollowSettingsAndConnection) {
  kd::ScopedQueueLoop loop;
  TlaDeviceSlave dev;
  int changes = 0;
  dev.OnSlaveStateChange = [&](TlaDeviceSlave*) { ++changes; };
  EXPECT_EQ(dev.GetSlaveState(), slaveDisabled);
  EXPECT_EQ(dev.UpdateSlaveState(), slaveSetupInvalid);

  TlaMBThread idle;  // never enabled
  idle.Setup().Name = "COM1";
  struct Step {
    const char* what;
    std::function<void()> act;
    TlaSlaveState state;
  };
  const Step steps[] = {
      {"name and address", [&] { dev.DeviceSetup()->SetName("Drive"), dev.ChangeSlaveAddress(3); },
       slaveSetupInvalid},
      {"connection name", [&] { dev.DeviceSetup()->SetConnectionName("COM1"); }, slaveDisabled},
      {"enabled", [&] { dev.DeviceSetup()->SetEnable(true); }, slaveNoConnection},
      {"attached", [&] { idle.Add(&dev); }, slaveNotConnected},
      {"attached again", [&] { dev.SetConnOwner(&idle); }, slaveNotConnected},
      {"disabled", [&] { dev.DeviceSetup()->SetEnable(false); }, slaveDisabled},
  };
  int expectedChanges = 1;
  for (const Step& s : steps) {
    s.act();
    EXPECT_EQ(dev.GetSlaveState(), s.state) << s.what;  // each change re-evaluates at once
    if (s.state != (&s == steps ? slaveSetupInvalid : (&s)[-1].state)) ++expectedChanges;
  }
  EXPECT_EQ(changes, expectedChanges);
  EXPECT_EQ(dev.GetConnOwner(), &idle);
  ASSERT_NE(dev.VersionTransa(), nullptr);
  EXPECT_EQ(dev.GetTransaCount(), 1);  // the identification, created once
  EXPECT_TRUE(dev.VersionTransa()->GetActive());
  EXPECT_EQ(dev.VersionTransa()->GetPeriod(), 10);
  EXPECT_EQ(dev.VersionTransa()->SlaveAddress, 3);
}

TEST(SlaveStates, IdentificationStartsWhenTheSettingsBecomeValidWhileAttached) {
  kd::ScopedQueueLoop loop;
  TlaMBThread unnamed;  // its connection name is empty
  TlaDeviceSlave dev;
  dev.DeviceSetup()->SetName("Drive");
  dev.ChangeSlaveAddress(1);
  dev.DeviceSetup()->SetEnable(true);
  unnamed.Add(&dev);
  EXPECT_EQ(dev.GetSlaveState(), slaveSetupInvalid);
  EXPECT_EQ(dev.VersionTransa(), nullptr);  // and the state never needs one
  dev.DeviceSetup()->SetConnectionName("COM7");
  ASSERT_NE(dev.VersionTransa(), nullptr);
  EXPECT_TRUE(dev.VersionTransa()->GetActive());
  EXPECT_EQ(dev.GetSlaveState(), slaveNotConnected);
}

TEST(SlaveFaults, CountedOnlyWithCutOffAndClearedByEnabling) {
  kd::ScopedQueueLoop loop;
  TlaDeviceSlave dev;
  dev.DeviceSetup()->SetName("Drive");
  dev.DeviceSetup()->SetConnectionName("COM1");
  dev.ChangeSlaveAddress(1);
  dev.DeviceSetup()->SetEnable(true);
  dev.SetMaxFaultCount(5);
  EXPECT_EQ(dev.GetMaxFaultCount(), 10u);
  for (int i = 0; i < 20; ++i) dev.IncFaultCount();
  EXPECT_EQ(dev.GetFaultCount(), 0u);

  dev.FaultCutOff = true;
  for (int i = 0; i < 10; ++i) dev.IncFaultCount();
  EXPECT_EQ(dev.GetFaultCount(), 10u);
  EXPECT_TRUE(dev.GetEnable());
  dev.RstFaultCount();
  for (int i = 0; i < 11; ++i) dev.IncFaultCount();
  EXPECT_FALSE(dev.GetEnable());
  EXPECT_EQ(dev.GetSlaveState(), slaveFaultLimit);
  dev.IncFaultCount();
  EXPECT_EQ(dev.GetFaultCount(), 12u);
  dev.DeviceSetup()->SetEnable(true);
  EXPECT_EQ(dev.GetFaultCount(), 0u);
  EXPECT_EQ(dev.GetSlaveState(), slaveNoConnection);

  dev.SetMaxFaultCount(12);
  EXPECT_EQ(dev.GetMaxFaultCount(), 12u);
  for (int i = 0; i < 12; ++i) dev.IncFaultCount();
  EXPECT_TRUE(dev.GetEnable());
}

TEST_F(OfflineDevice, OwnsItsTransactionsAndExtractsEachOnce) {
  auto dev2 = std::make_unique<TlaDeviceSlave>();
  int added = 0, extracted = 0, extracted2 = 0;
  std::vector<TlaMBTransaction*> gone;
  dev2->OnAdd = [&](TlaDeviceSlave*, TlaMBTransaction*) { ++added; };
  dev2->OnExtract = [&](TlaDeviceSlave*, TlaMBTransaction* t) {
    ++extracted2;
    gone.push_back(t);
  };
  dev.OnExtract = [&](TlaDeviceSlave*, TlaMBTransaction*) { ++extracted; };
  dev2->ChangeSlaveAddress(7);
  std::vector<TlaMBTransaction*> made;
  for (int i = 0; i < 5; ++i) made.push_back(new TlaMBReadHoldRegisters(dev2.get(), 1, 1));  // owned by dev2
  EXPECT_EQ(added, 5);
  EXPECT_EQ(dev2->GetTransaCount(), 5);
  EXPECT_EQ(dev2->GetTransa(4), made[4]);
  EXPECT_THROW(dev2->GetTransa(5), kd::Exception);
  EXPECT_THROW(dev2->GetTransa(-1), kd::Exception);

  // One moves to the other device: it leaves dev2 once and takes dev's address.
  dev.ChangeSlaveAddress(2);
  made[0]->SetOwnerDevice(&dev);
  EXPECT_EQ(extracted2, 1);
  EXPECT_EQ(dev2->GetTransaCount(), 4);
  EXPECT_EQ(dev.GetTransaCount(), 1);
  EXPECT_EQ(made[0]->SlaveAddress, 2);
  // One is deleted by hand.
  delete made[1];
  EXPECT_EQ(extracted2, 2);
  EXPECT_EQ(dev2->GetTransaCount(), 3);

  gone.clear();
  for (int i = 0; i < 2; ++i) new TlaMBWriteSingleRegister(dev2.get(), 0);  // owned by dev2
  dev2.reset();  // five left: each extracted once, then deleted
  EXPECT_EQ(gone.size(), 5u);
  EXPECT_EQ(extracted, 0);
}

TEST_F(OfflineDevice, ExportAndImportRoundTripTheImportExportRegisters) {
  // Distinct values, as the registers' bounds let them be.
  for (int a = 1; a <= 23; ++a) dev.GetRegister(a)->SetValueInteger(0, 7 * a + 3);
  R("HWLimitVolt")->SetValueInteger(0, 1000);
  const std::vector<int> values = Raw(1, 23);

  const std::string file = dir.File("setup.730");
  {
    kd::IniFile ini(file);
    ini.WriteString("Header", "Owner", "test");
    dev.ExportToIniFile("KD730_Cfg", &ini);
  }
  kd::IniFile ini(file);
  kd::StringList keys;
  ini.ReadSection("KD730_Cfg", keys);
  std::vector<std::string> names;
  for (int a = 1; a <= 23; ++a) names.push_back(dev.GetRegister(a)->Definition->Name);
  EXPECT_EQ(keys.Lines(), names);  // in block order; HWLimitVolt and RefDig are not in the category
  EXPECT_EQ(ini.ReadString("KD730_Cfg", "UrV", ""), "\"" + std::to_string(values[0]) + "\"");
  EXPECT_EQ(ini.ReadString("Header", "Owner", ""), "test");

  for (int a = 1; a <= 23; ++a) dev.GetRegister(a)->SetDefaults();
  ASSERT_NE(Raw(1, 23), values);
  dev.ImportFromIniFile("KD730_Cfg", &ini);
  EXPECT_EQ(Raw(1, 23), values);
  EXPECT_EQ(R("HWLimitVolt")->GetValueInteger(0), 1000);

  dev.ExportToIniFile("KD730_Cfg", nullptr);
  dev.ImportFromIniFile("KD730_Cfg", nullptr);
}

// The import stops at the first value that is no number: the registers
// before it hold the file's values (clamped, defaults for missing or empty
// keys), it and the registers after it keep theirs.
TEST_F(OfflineDevice, ImportStopsAtTheFirstBadValue) {
  const std::string file = dir.Write("bad.730",
                                      "[KD730_Cfg]\n"
                                      "IpA=\"9999\"\n"          // above the maximum: clamped to 30 A
                                      "NomSpeed=\"10\"\n"       // below the minimum: 100 rpm
                                      "Accel=\"12\",\"13\"\n"   // more items than elements
                                      "TachoRin=\n"             // empty: default
                                      "ARef1_scale=abc\n"       // no number: the import stops
                                      "OffsetAn2Ext=\"-5\"\n"   // after it: not imported
                                      "OffsetAn3Ext=\"7\"\n"
                                      "Bogus=\"5\"\n");       // no such register
  for (int a = 1; a <= 23; ++a) dev.GetRegister(a)->SetValueInteger(0, 55);
  kd::IniFile ini(file);
  try {
    dev.ImportFromIniFile("KD730_Cfg", &ini);
    ADD_FAILURE() << "no error for ARef1_scale";
  } catch (const kd::ConvertError& e) {
    EXPECT_NE(std::string(e.what()).find("ARef1_scale"), std::string::npos) << e.what();
  }
  EXPECT_EQ(R("UrV")->GetValueInteger(0), 400);  // missing key: default
  EXPECT_EQ(R("IpA")->GetValueInteger(0), 300);
  EXPECT_EQ(R("NomSpeed")->GetValueInteger(0), 100);
  EXPECT_EQ(R("Accel")->GetValueInteger(0), 12);
  EXPECT_EQ(R("TachoRin")->GetValueInteger(0), 470);
  EXPECT_EQ(R("CfgFlags")->GetValueInteger(0), 35);  // missing: default
  EXPECT_EQ(R("ARef1_scale")->GetValueInteger(0), 55);
  EXPECT_EQ(R("OffsetAn2Ext")->GetValueInteger(0), 55);
  EXPECT_EQ(R("OffsetAn3Ext")->GetValueInteger(0), 55);
}

TEST(SlaveExport, WalksTheBlocksInOrderAndNothingWithoutTheCategory) {
  kd::ScopedQueueLoop loop;
  std::string text = "[DataModel]\nRegisterCount=13\n[Categories]\nImportExport=10/12\n";
  for (int a = 0; a < 13; ++a) {
    const std::string n = std::to_string(a);  // appended, not summed: g++ 12 warns falsely (-Wrestrict) at -O3
    text.append("[").append(n).append("]\nName=R").append(n).append("\nType=short\n");
  }
  auto withCategory = regtest::LoadModel(text);
  auto without = regtest::LoadModel("[DataModel]\nRegisterCount=2\n[0]\nName=A\nType=short\n[1]\nName=B\nType=short\n");
  kdtest::TempDir dir;
  const std::string file = dir.Write("out.ini", "[S]\nkeep=1\n");

  TlaDeviceSlave a, b;
  ASSERT_TRUE(a.CreateRegDataBuffer(withCategory.get()));
  ASSERT_TRUE(b.CreateRegDataBuffer(without.get()));
  kd::IniFile ini(file);
  b.ExportToIniFile("S", &ini);
  kd::StringList keys;
  ini.ReadSection("S", keys);
  EXPECT_EQ(keys.Lines(), (std::vector<std::string>{"keep"}));
  a.ExportToIniFile("S", &ini);
  ini.ReadSection("S", keys);
  EXPECT_EQ(keys.Lines(), (std::vector<std::string>{"keep", "R10", "R11", "R12"}));
}

TEST(SlaveExport, AFailurePartWayWritesNothing) {
  // The second register's name cannot be an INI key.
  auto model = regtest::LoadModel(
      "[DataModel]\nRegisterCount=3\n[Categories]\nImportExport=0/2\n"
      "[0]\nName=A\n[1]\nName=B=1\n[2]\nName=C\n");
  TlaDeviceSlave dev;
  ASSERT_TRUE(dev.CreateRegDataBuffer(model.get()));
  kdtest::TempDir dir;
  const std::string file = dir.Write("out.730", "[S]\nkeep=1\n");
  kd::IniFile ini(file);
  EXPECT_THROW(dev.ExportToIniFile("S", &ini), kd::IniFileError);
  EXPECT_EQ(kdtest::ReadFile(file), "[S]\nkeep=1\n");
  EXPECT_FALSE(ini.ValueExists("S", "A"));
  ini.WriteString("S", "after", "1");  // the object writes through again
  EXPECT_EQ(kdtest::ReadFile(file), "[S]\nkeep=1\nafter=1\n");
}

TEST_F(OfflineDevice, FaultScanAndValuesList) {
  R("ActFaultState_0")->SetValueInteger(0, 0x8001);
  kd::StringList lines;
  lines.Add("before");
  dev.StandardFaultScan(R("ActFaultState_0"), &lines);
  EXPECT_EQ(lines.Lines(), (std::vector<std::string>{"before", "Overcurrent", "Internal fault"}));
  dev.StandardFaultScan(R("ActFaultState_1"), &lines);  // nothing set
  dev.StandardFaultScan(nullptr, &lines);
  EXPECT_EQ(lines.Count(), 3);

  lines.Clear();
  R("u_dc_busV")->SetValueInteger(0, 5603);
  const auto blocks = model.GetCategoryBlocks("ActState");  // 26 to 33
  dev.CompileValuesList(blocks.get(), &lines);
  ASSERT_EQ(lines.Count(), 7 + 4);  // Input lists its three named bits
  EXPECT_EQ(lines[0], "DC bus voltage:\t560.3 V");
  EXPECT_EQ(lines[3], "Logic inputs:");
  EXPECT_EQ(lines[4], "\t\t[ 0] Disable CCW:\tOff");
  dev.CompileValuesList(nullptr, &lines);
  dev.CompileValuesList(blocks.get(), nullptr);
  EXPECT_EQ(lines.Count(), 11);
}
