// The shipped data-model files (KD730 and KD610), read by the register model's loader.
#include <gtest/gtest.h>

#include <memory>

#include "Component.h"
#include "Tladmcollectioncmp.h"
#include "Tlaregdefslistcmp.h"

namespace {

const std::string kDataDir = KD_DATA_DIR;

// The registers the drive classes and windows look up by name.
const char* const kDriveRegisters[] = {
    "UrV", "IcA", "IpA", "NomSpeed", "RxI", "Accel", "Decel", "TachoVKrpm", "TachoRin", "CfgFlags",
    "Speed_PGain", "Speed_PScale", "Speed_IGain", "Speed_IScale", "Speed_DGain", "Speed_DScale",
    "Current_PGain", "Current_PScale", "Current_IGain", "Current_IScale", "ARef1_scale", "OffsetAn2Ext",
    "OffsetAn3Ext", "RefDig", "VirtualInput", "HWLimitVolt", "u_dc_busV", "a_motorV", "i_motorA",
    "PrevFaultState_0", "PrevFaultState_1", "ActFaultState_0", "ActFaultState_1", "Input", "ARef1", "ARef2",
    "Armature", "Tacho"};

struct Loaded {
  std::unique_ptr<TlaRegDefsList> list = std::make_unique<TlaRegDefsList>(nullptr);
  std::vector<int> loadErrors;
  explicit Loaded(const std::string& file) {
    list->OnLoadError = [this](TlaRegDefsList*, int address, const std::string&) { loadErrors.push_back(address); };
    EXPECT_TRUE(list->LoadFromFile(file)) << file;
  }
  std::vector<int> Category(const std::string& name) const {
    std::vector<int> addresses;
    std::unique_ptr<TlaRegBlock> head = list->GetCategoryBlocks(name);
    for (TlaRegBlock* b = head.get(); b && b->Valid; b = b->Next.get())
      for (int a = b->First; a < b->First + b->Count; ++a) addresses.push_back(a);
    return addresses;
  }
};

class DataModelFile : public ::testing::TestWithParam<const char*> {};

TEST_P(DataModelFile, LoadsEveryRegisterTheDriveNames) {
  Loaded m(kDataDir + "/" + GetParam());
  EXPECT_TRUE(m.loadErrors.empty());
  for (const char* name : kDriveRegisters) EXPECT_NE(m.list->Find(std::string(name)), nullptr) << name;
  ASSERT_NE(m.list->Find(std::string("EE_ModBusSlave")), nullptr);
  for (const char* category : {"Properties", "ActState", "FaultState", "RamSetup", "EEPromSetup", "ImportExport"})
    EXPECT_FALSE(m.Category(category).empty()) << category;
  // One word per register, so that Modbus addresses are register numbers.
  EXPECT_EQ(m.list->CalcDataBufferSize(), 2 * m.list->RegisterCount());
  // The buffer is small enough that the setup is moved in several pieces.
  const std::vector<int> ram = m.Category("RamSetup");
  EXPECT_GT(m.list->CalcDataBufferSize(static_cast<std::uint16_t>(ram.front()), static_cast<std::uint16_t>(ram.size())),
            m.list->MaxBufferSize - 5);
}

// Every drive's file, the KD730's and the KD610's.
class DriveModelFile : public ::testing::TestWithParam<const char*> {};

TEST_P(DriveModelFile, RamSetupRegistersNameTheirEepromTwins) {
  Loaded m(kDataDir + "/" + GetParam());
  const std::vector<int> eeprom = m.Category("EEPromSetup");
  std::vector<int> twins;
  for (int a : m.Category("RamSetup")) {
    const TlaRegDefinition* ram = m.list->Find(static_cast<std::uint16_t>(a));
    ASSERT_NE(ram, nullptr);
    if (ram->Name == "HWLimitVolt") {  // read-only: no twin
      EXPECT_EQ(ram->RegProg, a);
      continue;
    }
    const TlaRegDefinition* ee = m.list->Find(ram->RegProg);
    ASSERT_NE(ee, nullptr) << ram->Name;
    EXPECT_EQ(ee->Name, "EE_" + ram->Name);
    EXPECT_EQ(ee->RegProg, ee->RegAddr) << ee->Name;
    EXPECT_EQ(ee->Type, ram->Type);
    EXPECT_EQ(ee->Signed, ram->Signed) << ee->Name;
    EXPECT_EQ(ee->FormatNorm, ram->FormatNorm) << ee->Name;
    EXPECT_EQ(ee->HasDfltValue, ram->HasDfltValue) << ee->Name;
    EXPECT_EQ(ee->DfltValue, ram->DfltValue) << ee->Name;
    EXPECT_EQ(ee->MaxValue, ram->MaxValue) << ee->Name;
    twins.push_back(ram->RegProg);
  }
  // The EEPROM write moves exactly the twins (never the slave address).
  EXPECT_EQ(twins, eeprom);
  EXPECT_EQ(m.Category("ImportExport").size(), twins.size());
}

TEST_P(DriveModelFile, FaultWordsNameEveryBit) {
  Loaded m(kDataDir + "/" + GetParam());
  EXPECT_TRUE(m.loadErrors.empty());
  for (const char* word : {"0", "1"}) {
    const TlaRegDefinition* act = m.list->Find("ActFaultState_" + std::string(word));
    const TlaRegDefinition* prev = m.list->Find("PrevFaultState_" + std::string(word));
    ASSERT_TRUE(act && prev);
    EXPECT_TRUE(act->Boolean && prev->Boolean);
    for (std::uint8_t b = 0; b < 16; ++b) {
      std::string name = act->GetBitName(0, b);
      EXPECT_FALSE(name.empty()) << act->Name << " bit " << int(b);
      EXPECT_EQ(name.find('='), std::string::npos) << name;
      EXPECT_EQ(prev->GetBitName(0, b), name);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Files, DriveModelFile,
                         ::testing::Values("KD730_Parameters.par", "KD730_Parameters_v110.par", "KD610_Parameters.par"));

TEST_P(DataModelFile, FlagRegistersNameTheirBits) {
  Loaded m(kDataDir + "/" + GetParam());
  const TlaRegDefinition* cfg = m.list->Find(std::string("CfgFlags"));
  ASSERT_NE(cfg, nullptr);
  EXPECT_TRUE(cfg->Boolean);
  for (std::uint8_t b = 0; b < 16; ++b) {
    bool option = b <= 9;
    EXPECT_EQ(cfg->GetBitName(0, b).empty(), !option) << "CfgFlags bit " << int(b);
    if (!option) continue;
    std::string off = cfg->GetBitStateTexts(0, b, false), on = cfg->GetBitStateTexts(0, b, true);
    EXPECT_NE(off, "0") << "bit " << int(b);
    EXPECT_NE(on, "1") << "bit " << int(b);
    EXPECT_NE(off, on);
  }
  EXPECT_EQ(cfg->GetBitFieldName(0, 10, 2), "Analog input filter");
  EXPECT_EQ(cfg->GetBitFieldTexts(0, 10, 2, 2), "Cut freq. 200Hz");
  EXPECT_EQ(cfg->GetBitName(0, 0), "Reference source");
  EXPECT_EQ(cfg->GetBitStateTexts(0, 4, true), "Tachometer");
  for (const char* name : {"VirtualInput", "Input"}) {
    const TlaRegDefinition* d = m.list->Find(std::string(name));
    EXPECT_EQ(d->GetBitName(0, 0), "Disable CCW");
    EXPECT_EQ(d->GetBitName(0, 1), "Disable CW");
    EXPECT_EQ(d->GetBitName(0, 2), "Inhibit");
  }
}

TEST_P(DataModelFile, DefaultsShowInTheirUnits) {
  Loaded m(kDataDir + "/" + GetParam());
  const struct {
    const char* name;
    const char* text;
  } cases[] = {{"UrV", "400 V"},   {"IcA", "10.0 A"},         {"Accel", "2.00 s"},     {"NomSpeed", "1500 rpm"},
               {"CfgFlags", "0x23"}, {"Speed_PGain", "0.5000"}, {"ARef1_scale", "1.000"}, {"HWLimitVolt", "550 V"}};
  for (const auto& c : cases) {
    const TlaRegDefinition* d = m.list->Find(std::string(c.name));
    ASSERT_NE(d, nullptr) << c.name;
    ASSERT_TRUE(d->HasDfltValue) << c.name;
    std::uint8_t bytes[2] = {0, 0};
    d->SetValueDouble(bytes, 0, d->DfltValue);
    EXPECT_EQ(d->GetValueText(bytes, 0), c.text);
  }
  // The percent scale: 24576 counts are 100 %.
  const TlaRegDefinition* tacho = m.list->Find(std::string("Tacho"));
  std::uint8_t full[2] = {0x60, 0x00};
  EXPECT_EQ(tacho->GetValueText(full, 0), "100.0 %");
}

INSTANTIATE_TEST_SUITE_P(Files, DataModelFile, ::testing::Values("KD730_Parameters.par", "KD730_Parameters_v110.par"));

TEST(DataModelChoice, TheReportedVersionPicksItsFile) {
  kd::Component owner(nullptr);
  TlaDMCollection coll(&owner);
  coll.SetFilePath(kDataDir);
  coll.DfltFile = "KD730_Parameters.par";
  TlaRegDefsList* v105 = coll.LoadRegDefsListFor("KDP7_KD730v105");
  TlaRegDefsList* v104 = coll.LoadRegDefsListFor("KDP7_KD730v104");
  TlaRegDefsList* v110 = coll.LoadRegDefsListFor("KDP7_KD730v110");
  ASSERT_TRUE(v105 && v110);
  EXPECT_EQ(v104, v105);
  EXPECT_NE(v110, v105);
  EXPECT_EQ(v110->RegisterCount(), v105->RegisterCount() + 1);
  EXPECT_EQ(v110->Find(std::string("HeatsinkTemp"))->RegAddr, v105->RegisterCount());
  EXPECT_EQ(v105->Find(std::string("HeatsinkTemp")), nullptr);
  // Every register the two share sits at the same address.
  for (int a = 0; a < v105->RegisterCount(); ++a)
    EXPECT_EQ(v105->Find(static_cast<std::uint16_t>(a))->Name, v110->Find(static_cast<std::uint16_t>(a))->Name);
  // The KD610's file declares its own versions.
  TlaRegDefsList* kd610 = coll.LoadRegDefsListFor("KDP6_KD610v102");
  ASSERT_NE(kd610, nullptr);
  EXPECT_TRUE(kd610->FileName.ends_with("/KD610_Parameters.par")) << kd610->FileName;
  EXPECT_EQ(coll.LoadRegDefsListFor("KDP6_KD610v101"), kd610);
  // A version no file declares gets the default file.
  TlaRegDefsList* unknown = coll.LoadRegDefsListFor("KDP7_KD730v999");
  ASSERT_NE(unknown, nullptr);
  EXPECT_EQ(unknown->RegisterCount(), v105->RegisterCount());
}

}  // namespace
