// Data-model files: the loader's key rules, sizes and offsets, bad input.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "Exception.h"
#include "TestFiles.h"
#include "Tlaregdefslistcmp.h"

using regtest::Fixture;
using regtest::LoadModel;
using regtest::TempDir;

namespace {

class KeyRules : public ::testing::Test {
 protected:
  void SetUp() override {
    list.OnAdd = [this](TlaRegDefsList* sender, TlaRegDefinition* d) {
      EXPECT_EQ(sender, &list);
      added.push_back(d->RegAddr);
    };
    list.OnLoadError = [this](TlaRegDefsList* sender, int address, const std::string& file) {
      EXPECT_EQ(sender, &list);
      EXPECT_EQ(file, Fixture("keys.par"));
      missing.push_back(address);
    };
  }
  bool Load() { return list.LoadFromFile(Fixture("keys.par")); }
  TlaRegDefsList list;
  std::vector<int> added, missing;
};

}  // namespace

TEST_F(KeyRules, ModelKeysAndEvents) {
  ASSERT_TRUE(Load());
  EXPECT_EQ(list.FileName, Fixture("keys.par"));
  EXPECT_EQ(list.RegisterCount(), 9);
  EXPECT_EQ(list.MaxBufferSize, 64);
  EXPECT_EQ(list.VerDescr, "Key rules");
  EXPECT_EQ(list.Versions.Lines(), (std::vector<std::string>{"KD730v101", "KD 730 v1"}));
  EXPECT_EQ(list.GetCategoryList("setup"), "0/2,4");
  EXPECT_EQ(list.AddOnInfo.Lines(), (std::vector<std::string>{"ProgCountEE=12"}));
  EXPECT_EQ(added, (std::vector<int>{0, 2, 4, 5, 6, 7, 8}));
  EXPECT_EQ(missing, (std::vector<int>{1, 3}));  // a header without keys is absent
  const TlaRegDefinition* absent = list.Find(std::uint16_t{1});
  EXPECT_EQ(absent->RegAddr, 1);
  EXPECT_EQ(absent->Name, "");
  EXPECT_EQ(absent->Type, regNone);
  EXPECT_EQ(absent->GetByteSize(), 2);
}

TEST_F(KeyRules, RegisterKeys) {
  ASSERT_TRUE(Load());
  const TlaRegDefinition& speed = *list.Find("Speed");
  EXPECT_EQ(speed.Type, regShort);
  EXPECT_TRUE(speed.Signed);
  EXPECT_TRUE(speed.HasMaxValue);  // listed with an empty value
  EXPECT_EQ(speed.MaxValue, 0.0);
  EXPECT_TRUE(speed.HasMinValue);
  EXPECT_EQ(speed.MinValue, -5.0);
  EXPECT_FALSE(speed.HasDfltValue);
  EXPECT_EQ(speed.ExtraLines.Lines(),
            (std::vector<std::string>{"Speed.0=Actual", "SpeedRef=Set point", "Descr=Motor speed"}));
  EXPECT_EQ(speed.FormatNorm, 0.5);  // from the format section, not its own key
  EXPECT_EQ(speed.FormatOffset, 1.0);
  EXPECT_EQ(speed.FormatString, "0.0");
  EXPECT_EQ(speed.FormatPrintf, "%4d");
  EXPECT_EQ(speed.RegProg, 0);

  const TlaRegDefinition& date = *list.Find(std::uint16_t{2});
  EXPECT_EQ(date.Name, "2");
  EXPECT_EQ(date.Type, regDate);
  EXPECT_FALSE(date.Signed);       // not read for dates
  EXPECT_FALSE(date.HasMaxValue);  // likewise
  EXPECT_EQ(date.Length, 44);      // 300 kept in 8 bits
  EXPECT_EQ(date.FormatPrintf, "%s");

  const TlaRegDefinition& total = *list.Find("Total");
  EXPECT_EQ(total.Type, regLong);
  EXPECT_EQ(total.GetByteSize(), 12);
  EXPECT_TRUE(total.Signed);    // -1
  EXPECT_FALSE(total.Boolean);  // "true" is no number: the default
  EXPECT_TRUE(total.HasDfltValue);
  EXPECT_EQ(total.DfltValue, 2.5);
  EXPECT_EQ(total.FormatNorm, 3.0);  // UseFormat names a missing section
  EXPECT_EQ(total.FormatPrintf, "%d");

  EXPECT_EQ(list.Find(std::uint16_t{5})->Type, regNone);   // Type=real
  EXPECT_EQ(list.Find(std::uint16_t{5})->FormatPrintf, "%s");
  EXPECT_EQ(list.Find("Label")->FormatNorm, 2.0);         // format section without keys
  EXPECT_EQ(list.Find("Label")->FormatPrintf, "%s");
  const TlaRegDefinition& count = *list.Find("Count");
  EXPECT_EQ(count.RegProg, 5);  // kept in 16 bits
  EXPECT_EQ(count.ExtraLines.Lines(), (std::vector<std::string>{"Count=Item count"}));
  EXPECT_EQ(list.Find("Self")->FormatNorm, 4.0);  // UseFormat naming its own section
}

TEST_F(KeyRules, UseFormatHandlerCanChooseTheOwnKeys) {
  list.OnUseFormat = [](TlaRegDefinition* d, std::string& useFormat) {
    if (d->Name == "Speed") useFormat.clear();
  };
  ASSERT_TRUE(Load());
  EXPECT_EQ(list.Find("Speed")->FormatNorm, 7.0);
  EXPECT_EQ(list.Find("Speed")->UseFormat, "");
}

TEST_F(KeyRules, OffsetsSizesAndLookUps) {
  ASSERT_TRUE(Load());
  const int offsets[] = {0, 2, 4, 268, 270, 282, 284, 292, 294};
  for (int k = 0; k < 9; ++k) EXPECT_EQ(list.CalcDataBufferOffset(static_cast<std::uint16_t>(k)), offsets[k]) << k;
  EXPECT_EQ(list.CalcDataBufferOffset(9), -1);
  EXPECT_EQ(list.CalcDataBufferSize(), 296);
  EXPECT_EQ(list.CalcDataBufferSize(8, 1), 2);
  EXPECT_EQ(list.CalcDataBufferSize(9, 0), 0);
  EXPECT_EQ(list.CalcDataBufferSize(8, 2), -1);
  EXPECT_EQ(list.CalcDataBufferSize(2, 3), 278);
  EXPECT_EQ(list.CalcDataBufferSize(1, 65535), -1);  // no 16-bit wrap
  EXPECT_EQ(list.Find(std::uint16_t{9}), nullptr);
  EXPECT_EQ(list.Find("speed"), nullptr);  // names are exact
  EXPECT_EQ(list.GetCategoryBlocks("Absent"), nullptr);
  auto blocks = list.GetCategoryBlocks("SETUP");
  ASSERT_NE(blocks, nullptr);
  EXPECT_EQ(blocks->GetTotalCount(), 4);
}

TEST(DefsList, MissingFileChangesNothing) {
  TlaRegDefsList list;
  list.VerDescr = "kept";
  EXPECT_FALSE(list.LoadFromFile(Fixture("no-such-file.par")));
  EXPECT_EQ(list.VerDescr, "kept");
  EXPECT_EQ(list.FileName, "");
  EXPECT_EQ(TlaRegDefsList::TestForSource(Fixture("no-such-file.par")), nullptr);
  EXPECT_EQ(TlaRegDefsList::TestForSource(Fixture("")), nullptr);  // a folder
}

TEST(DefsList, MaxBufferSizeRange) {
  const std::pair<const char*, int> cases[] = {{"", 20},      {"MaxBufferSize=19", 20},   {"MaxBufferSize=20", 20},
                                               {"MaxBufferSize=256", 256}, {"MaxBufferSize=257", 20},
                                               {"MaxBufferSize=0x40", 64}, {"MaxBufferSize=-64", 20},
                                               {"MaxBufferSize=big", 20}};
  for (const auto& [line, size] : cases)
    EXPECT_EQ(LoadModel(std::string("[DataModel]\nRegisterCount=1\n") + line + "\n[0]\nName=A\n")->MaxBufferSize,
              size)
        << line;
}

TEST(DefsList, RegisterCountsThatDeclareNothingOrTooMuch) {
  // Declares nothing: an empty model, loaded.
  for (const char* count : {"-3", "0", "x"}) {
    auto list = LoadModel(std::string("[DataModel]\nRegisterCount=") + count + "\n[0]\nName=A\n");
    EXPECT_EQ(list->RegisterCount(), 0) << count;
    EXPECT_EQ(list->CalcDataBufferSize(), 0);
    EXPECT_EQ(list->Find(std::uint16_t{0}), nullptr);
  }
  // More than the address space: no model at all, the facts read so far kept.
  TempDir dir;
  TlaRegDefsList list;
  int events = 0;
  list.OnLoadError = [&](TlaRegDefsList*, int, const std::string&) { ++events; };
  EXPECT_FALSE(list.LoadFromFile(dir.Write(
      "big.par", "[DataModel]\nRegisterCount=100000\nMaxBufferSize=100\n[Versions]\nVerDescr=Big\n"
                 "[Categories]\nAll=0/99999\n[0]\nName=A\n")));
  EXPECT_EQ(list.RegisterCount(), 0);
  EXPECT_EQ(list.MaxBufferSize, 20);
  EXPECT_EQ(list.VerDescr, "Big");
  EXPECT_TRUE(list.Categories.Empty());
  EXPECT_EQ(events, 0);
  // The whole address space with few sections is a model of default registers.
  auto full = LoadModel("[DataModel]\nRegisterCount=65536\n[0]\nName=A\nType=long\n");
  EXPECT_EQ(full->RegisterCount(), 65536);
  EXPECT_EQ(full->CalcDataBufferSize(), 4 + 65535 * 2);
  EXPECT_EQ(full->CalcDataBufferOffset(65535), 4 + 65534 * 2);
}

TEST(DefsList, ExceptionWhileBuildingLeavesNoRegisters) {
  TempDir dir;
  const std::string file = dir.Write(
      "m.par", "[DataModel]\nRegisterCount=3\nMaxBufferSize=100\n[Categories]\nA=0/2\n[AddOnInfo]\nX=1\n"
               "[0]\nName=A\n[1]\nName=B\n[2]\nName=C\n");
  TlaRegDefsList list;
  list.OnAdd = [](TlaRegDefsList*, TlaRegDefinition* d) {
    if (d->Name == "B") throw kd::Exception("OnAdd: refused");
  };
  EXPECT_FALSE(list.LoadFromFile(file));
  EXPECT_EQ(list.RegisterCount(), 0);
  EXPECT_EQ(list.CalcDataBufferSize(), 0);
  EXPECT_EQ(list.MaxBufferSize, 20);
  EXPECT_TRUE(list.Categories.Empty());
  EXPECT_TRUE(list.AddOnInfo.Empty());
  EXPECT_EQ(list.FileName, file);
}

TEST(DefsList, SizesOfOddRegisters) {
  auto list = LoadModel(
      "[DataModel]\nRegisterCount=5\n[0]\nType=short\nLength=0\n[1]\nType=date\nLength=255\n"
      "[2]\nType=9\nLength=8\n[3]\nType=\nLength=2\n[4]\nType=short\n");
  EXPECT_EQ(list->Find(std::uint16_t{0})->GetByteSize(), 0);
  EXPECT_EQ(list->Find(std::uint16_t{1})->GetByteSize(), 1530);  // more than 256 bytes
  EXPECT_EQ(list->Find(std::uint16_t{2})->GetByteSize(), 0);
  EXPECT_EQ(list->Find(std::uint16_t{3})->Type, 7);  // the empty type name
  EXPECT_EQ(list->Find(std::uint16_t{3})->GetByteSize(), 0);
  EXPECT_EQ(list->CalcDataBufferOffset(4), 1530);
  EXPECT_EQ(list->CalcDataBufferSize(), 1532);
}

TEST(DefsList, SecondLoadReplacesTheModel) {
  TempDir dir;
  TlaRegDefsList list;
  ASSERT_TRUE(list.LoadFromFile(dir.Write("a.par", "[DataModel]\nRegisterCount=2\n[Categories]\nA=0\n")));
  ASSERT_TRUE(list.LoadFromFile(dir.Write("b.par", "[DataModel]\nRegisterCount=1\n[Categories]\nB=0\n")));
  EXPECT_EQ(list.RegisterCount(), 1);
  EXPECT_EQ(list.Categories.Lines(), (std::vector<std::string>{"B=0"}));
}

// Random bytes, and random lines built from the file's own words, load
// without a crash and give a model whose offsets add up.
TEST(DefsList, GarbageLoadsToAConsistentModel) {
  std::mt19937 rng(7);
  const char* words[] = {"[DataModel]", "[0]", "[1]", "[2]", "[Fmt]", "RegisterCount=3", "RegisterCount=-1",
                         "Type=long", "Type=string", "Type=200", "Length=255", "Length=0", "UseFormat=Fmt",
                         "UseFormat=0", "Name=A", "Name=", "MaxValue=1e400", "FormatNorm=nan", "\x01\xff=\x80"};
  TempDir dir;
  for (int round = 0; round < 200; ++round) {
    std::string text;
    if (round % 2) {
      for (int k = 0; k < 200; ++k) text.push_back(static_cast<char>(rng() & 0xFF));
    } else {
      for (int k = 0; k < 20; ++k) text += std::string(words[rng() % std::size(words)]) + "\n";
    }
    TlaRegDefsList list;
    list.LoadFromFile(dir.Write("g.par", text));
    int sum = 0;
    for (int k = 0; k < list.RegisterCount(); ++k) {
      EXPECT_EQ(list.CalcDataBufferOffset(static_cast<std::uint16_t>(k)), sum);
      sum += list.Find(static_cast<std::uint16_t>(k))->GetByteSize();
    }
    EXPECT_EQ(list.CalcDataBufferSize(), sum);
    EXPECT_GE(list.MaxBufferSize, 20);
    EXPECT_LE(list.MaxBufferSize, 256);
  }
}

// The data models shipped with the program load completely and every
// register of them shows a value.
TEST(DefsList, ShippedModels) {
  for (const char* name : {"KD730_Parameters.par", "KD730_Parameters_v110.par", "KD610_Parameters.par"}) {
    TlaRegDefsList list;
    int missing = 0;
    list.OnLoadError = [&](TlaRegDefsList*, int, const std::string&) { ++missing; };
    ASSERT_TRUE(list.LoadFromFile(std::string(KD_DATA_DIR) + "/" + name)) << name;
    EXPECT_GT(list.RegisterCount(), 0) << name;
    EXPECT_EQ(missing, 0) << name;
    for (const char* category : {"Properties", "RamSetup", "EEPromSetup", "ActState", "FaultState", "ImportExport"}) {
      auto blocks = list.GetCategoryBlocks(category);
      ASSERT_NE(blocks, nullptr) << name << " " << category;
      for (const TlaRegBlock* b = blocks.get(); b; b = b->Next.get()) {
        EXPECT_TRUE(b->Valid) << name << " " << category;
        EXPECT_GE(list.CalcDataBufferSize(b->First, b->Count), 0) << name << " " << category;
      }
    }
    for (int k = 0; k < list.RegisterCount(); ++k) {
      const TlaRegDefinition& d = *list.Find(static_cast<std::uint16_t>(k));
      std::vector<std::uint8_t> bytes(static_cast<std::size_t>(d.GetByteSize()) + 1, 0);
      EXPECT_NO_THROW(d.GetValueText(bytes.data(), 0)) << name << " " << d.Name;
      EXPECT_LT(d.RegProg, list.RegisterCount()) << name << " " << d.Name;
    }
  }
}
