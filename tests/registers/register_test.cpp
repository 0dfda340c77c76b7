// Registers: bounds that follow other registers, clamping, events, state,
// text forms, listings and INI values.
#include <gtest/gtest.h>

#include <vector>

#include "Exception.h"
#include "IniFile.h"
#include "TestFiles.h"
#include "Tlaregdatabuffercmp.h"

using regtest::Fixture;
using regtest::TempDir;

namespace {

class Registers : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(model.LoadFromFile(Fixture("image.par")));
    ASSERT_TRUE(image.CreateRegDataBuffer(&model));
  }
  TlaRegister& R(const char* name) { return *image.GetRegister(name); }
  TlaRegDefsList model;
  TlaRegDataBuffer image;
};

}  // namespace

TEST_F(Registers, BoundsFromTheModel) {
  TlaRegister& level = R("Level");
  ASSERT_TRUE(level.MaxBound && level.MinBound && level.DefaultBound);
  EXPECT_EQ(level.HasLimits, 1);
  EXPECT_EQ(level.MaxBound->Kind, TlaRegBound::KindMax);
  EXPECT_EQ(level.MinBound->GetValue(), 0.0);
  EXPECT_EQ(level.DefaultBound->GetValue(), 25.0);
  TlaRegister& free = R("Free");
  EXPECT_FALSE(free.MaxBound || free.MinBound || free.DefaultBound);
  EXPECT_EQ(free.HasLimits, 0);
}

TEST_F(Registers, WritesClampToTheBounds) {
  TlaRegister& level = R("Level");
  TlaRegister& crossed = R("Crossed");
  TlaRegister& free = R("Free");
  const struct {
    TlaRegister* reg;
    bool asDouble;
    double value;
    int stored;
  } cases[] = {
      {&level, true, 150, 100},   {&level, true, -5, 0},      {&level, false, 150, 100},
      {&level, false, -5, 0},     {&level, true, 42.9, 42},   {&free, true, 150, 150},
      {&free, false, 150, 150},   {&crossed, true, 30, 20},   // minimum wins
      {&crossed, false, 30, 10},                              // maximum wins
  };
  for (const auto& c : cases) {
    if (c.asDouble)
      c.reg->SetValueDouble(0, c.value);
    else
      c.reg->SetValueInteger(0, static_cast<int>(c.value));
    EXPECT_EQ(c.reg->GetValueInteger(0), c.stored) << c.reg->Definition->Name << " " << c.value;
  }
}

TEST_F(Registers, LinkedBounds) {
  TlaRegister& level = R("Level");
  TlaRegister& free = R("Free");
  free.SetValueInteger(0, 50);
  TlaRegBound bound(TlaRegBound::KindMax, TlaRegBound::ModeTighter, 80);
  bound.Offset = 3;
  EXPECT_EQ(bound.GetValue(), 83.0);  // not linked: Constant plus Offset
  bound.SetLinkedRegister(&free);
  const struct {
    std::uint8_t kind, mode;
    double value;
  } cases[] = {
      {TlaRegBound::KindMax, TlaRegBound::ModeTighter, 53}, {TlaRegBound::KindMax, TlaRegBound::ModeLooser, 83},
      {TlaRegBound::KindMax, TlaRegBound::ModeReplace, 53}, {TlaRegBound::KindMin, TlaRegBound::ModeTighter, 83},
      {TlaRegBound::KindMin, TlaRegBound::ModeLooser, 53},  {TlaRegBound::KindDefault, TlaRegBound::ModeTighter, 50},
      {7, TlaRegBound::ModeTighter, 50},
  };
  for (const auto& c : cases) {
    bound.Kind = c.kind;
    bound.Mode = c.mode;
    EXPECT_EQ(bound.GetValue(), c.value) << int(c.kind) << "/" << int(c.mode);
  }
  // Only integer registers that are not flags can be linked.
  bound.SetLinkedRegister(&R("Flags"));
  EXPECT_EQ(bound.Linked(), &free);
  bound.SetLinkedRegister(&R("Text"));
  EXPECT_EQ(bound.Linked(), &free);
  bound.SetLinkedRegister(&level);
  EXPECT_EQ(bound.Linked(), &level);
  bound.SetLinkedRegister(nullptr);
  EXPECT_EQ(bound.Linked(), nullptr);
}

// A pair kept in order: the maximum of a follows b - 1, the minimum of b follows a + 1.
TEST_F(Registers, BoundsFollowTheLinkedRegister) {
  TlaRegister& a = R("Level");
  TlaRegister& b = R("Free");
  b.MinBound = std::make_unique<TlaRegBound>(TlaRegBound::KindMin, TlaRegBound::ModeReplace, 0);
  b.HasLimits = 1;
  a.MaxBound->SetLinkedRegister(&b);
  a.MaxBound->Offset = -1;
  b.MinBound->SetLinkedRegister(&a);
  b.MinBound->Offset = 1;
  b.SetValueInteger(0, 40);
  a.SetValueDouble(0, 60);
  EXPECT_EQ(a.GetValueInteger(0), 39);
  a.SetValueInteger(0, 30);
  b.SetValueInteger(0, 10);
  EXPECT_EQ(b.GetValueInteger(0), 31);
  b.SetValueInteger(0, 70);
  a.SetValueDouble(0, 60);
  EXPECT_EQ(a.GetValueInteger(0), 60);
}

TEST_F(Registers, EventsVetoAndChangedFlag) {
  TlaRegister& free = R("Free");
  std::vector<double> before;
  std::vector<bool> after;
  bool allow = true;
  free.OnBeforeEdit = [&](TlaRegister* sender, bool& ok, double value) {
    EXPECT_EQ(sender, &free);
    before.push_back(value);
    ok = allow;
  };
  free.OnAfterEdit = [&](TlaRegister* sender, bool changed) {
    EXPECT_EQ(sender, &free);
    after.push_back(changed);
  };
  allow = false;
  free.SetValueInteger(0, 5);
  EXPECT_TRUE(free.IsZero());
  EXPECT_EQ(free.State, 0);
  EXPECT_TRUE(after.empty());
  allow = true;
  free.SetValueInteger(0, -1);  // the value as an unsigned 32-bit number
  free.SetValueInteger(0, -1);
  free.SetValueBit(0, 3, true);
  free.SetValueBitField(-2, 0, 0, 2);
  free.SetValueDouble(0, 2.5);
  EXPECT_EQ(before, (std::vector<double>{5, 4294967295.0, 4294967295.0, 1, -2, 2.5}));
  EXPECT_EQ(after, (std::vector<bool>{true, false, false, true, true}));
  EXPECT_EQ(free.State, 3);
}

TEST_F(Registers, HandlersMayUseRegisters) {
  TlaRegister& level = R("Level");
  TlaRegister& free = R("Free");
  level.OnBeforeEdit = [&](TlaRegister*, bool&, double value) { free.SetValueDouble(0, value + 1); };
  level.OnAfterEdit = [&](TlaRegister* sender, bool) { free.SetValueInteger(0, sender->GetValueInteger(0) * 2); };
  level.SetValueInteger(0, 21);
  EXPECT_EQ(free.GetValueInteger(0), 42);
  // A failing codec call releases the lock: the next access goes through.
  EXPECT_THROW(level.GetValueInteger(1), kd::Exception);
  EXPECT_THROW(level.SetValueInteger(1, 0), kd::Exception);
  free.SetValueInteger(0, 1);
  EXPECT_EQ(free.GetValueInteger(0), 1);
}

TEST_F(Registers, ChangeMark) {
  TlaRegister& free = R("Free");
  free.GetValueInteger(0);
  EXPECT_EQ(free.State, 0);
  free.State = 1;
  free.GetValueText(0);
  EXPECT_EQ(free.State, 2);
  EXPECT_THROW(free.SetValueString("x"), kd::Exception);  // not a string: the mark stays
  EXPECT_EQ(free.State, 2);
}

TEST_F(Registers, StringWrites) {
  TlaRegister& text = R("Text");
  int events = 0;
  text.OnBeforeEdit = [&](TlaRegister*, bool& ok, double) { ok = false; };  // no before-edit for strings
  text.OnAfterEdit = [&](TlaRegister*, bool changed) { events += changed ? 1 : 100; };
  text.SetValueString(" OK ");
  EXPECT_EQ(text.GetValueString(), std::string("OK\0\0", 4));
  text.SetValueText("OK", 0);
  EXPECT_EQ(events, 101);
  EXPECT_EQ(text.State, 3);
}

TEST_F(Registers, TextForms) {
  R("Pair").SetValueText(" 12.5 ", 1);  // FormatNorm 0.5
  EXPECT_EQ(R("Pair").GetValueInteger(1), 25);
  EXPECT_EQ(R("Pair").GetValueText(1), "12.5");
  R("Day").SetValueText("15/03/2011", 0);
  EXPECT_EQ(R("Day").GetValueText(0), "15/03/0011");  // the year within the century
  R("Clock").SetValueText("12:45:30", 0);
  EXPECT_EQ(R("Clock").GetValueText(0), "12:45:30");
  R("Level").SetValueText("50", 0);
  EXPECT_EQ(R("Level").GetValueText(0), "50 %");

  bool called = false;
  R("Level").OnBeforeEdit = [&](TlaRegister*, bool&, double) { called = true; };
  EXPECT_THROW(R("Level").SetValueText("fifty", 0), kd::ConvertError);
  EXPECT_THROW(R("Day").SetValueText("31/02/2011", 0), kd::ConvertError);
  EXPECT_FALSE(called);
  EXPECT_EQ(R("Level").GetValueInteger(0), 50);
  R("Big").SetValueText("5", 0);
  EXPECT_EQ(R("Big").GetValueInteger(0), 5);

  R("Flags").SetValueBit(0, 3, true);
  EXPECT_EQ(R("Flags").GetValueBitText(0, 3), "Running");
  EXPECT_EQ(R("Flags").GetValueBitText(0, 0), "0");
  EXPECT_EQ(R("Flags").GetBitFieldText(0, 2, 2), "2 (2h)");
  EXPECT_EQ(R("Flags").GetValueBitField(0, 2, 2), 2);
  EXPECT_EQ(R("Flags").GetValueText(0), "0x8");
}

TEST_F(Registers, Defaults) {
  TlaRegister& level = R("Level");
  TlaRegister& pair = R("Pair");
  level.SetDefaults();
  EXPECT_EQ(level.GetValueInteger(0), 25);
  pair.SetDefaults();  // 7 in the scaled unit on every element
  for (std::uint8_t i = 0; i < 3; ++i) EXPECT_EQ(pair.GetValueInteger(i), 14);
  pair.SetValueInteger(2, 0);
  pair.SetElementDefault(2);
  EXPECT_EQ(pair.GetValueInteger(2), 14);
  R("Free").SetDefaults();  // no default: nothing
  EXPECT_TRUE(R("Free").IsZero());
  level.DefaultBound->SetLinkedRegister(&pair);
  level.SetDefaults();
  EXPECT_EQ(level.GetValueInteger(0), 7);
}

TEST_F(Registers, Dump) {
  kd::StringList lines;
  R("Level").SetValueInteger(0, 42);
  R("Level").Dump(&lines);
  R("Pair").SetValueInteger(2, 3);
  R("Pair").Dump(&lines);
  R("Flags").SetValueBit(0, 3, true);
  R("Flags").Dump(&lines);
  R("Text").SetValueString("AB");
  R("Text").Dump(&lines);
  EXPECT_EQ(lines.Lines(), (std::vector<std::string>{
                               "Tank level:\t42 %",
                               "Pair:",
                               "\t[  0] Low:\t0",
                               "\t[  1] High:\t0",
                               "\t[  2] :\t1.5",
                               "Drive flags:",
                               "\t\t[ 0] Ready:\t0",
                               "\t\t[ 3] Motor on:\tRunning",
                               "Label:",
                               std::string("\tAB\0\0", 5),
                           }));
  R("Level").Dump(nullptr);
}

TEST_F(Registers, IniValuesRoundTrip) {
  TempDir dir;
  const std::string file = dir.Path() + "/setup.730";
  TlaRegister& pair = R("Pair");
  pair.SetValueInteger(0, 12);
  pair.SetValueInteger(1, -3);
  R("Level").SetValueInteger(0, 5);
  R("Big").SetValueInteger(0, static_cast<int>(0xFFFFFFF0u));
  {
    kd::IniFile ini(file);
    pair.SaveToIni("Data", &ini);
    R("Level").SaveToIni("Data", &ini);
    R("Big").SaveToIni("Data", &ini);
    pair.SaveToIni("Data", nullptr);
  }
  kd::IniFile ini(file);
  EXPECT_EQ(ini.ReadString("Data", "Pair", ""), "\"12\",\"-3\",\"0\"");
  EXPECT_EQ(ini.ReadString("Data", "Pair", "").size(), 13u);
  EXPECT_EQ(ini.ReadString("Data", "Level", ""), "\"5\"");
  EXPECT_EQ(ini.ReadString("Data", "Big", ""), "\"-16\"");

  TlaRegDataBuffer copy;
  ASSERT_TRUE(copy.CreateRegDataBuffer(&model));
  for (const char* name : {"Pair", "Level", "Big"}) copy.GetRegister(name)->LoadFromIni("Data", &ini);
  EXPECT_EQ(copy.GetRegister("Pair")->GetValueInteger(0), 12);
  EXPECT_EQ(copy.GetRegister("Pair")->GetValueInteger(1), -3);
  EXPECT_EQ(copy.GetRegister("Level")->GetValueInteger(0), 5);
  EXPECT_EQ(copy.GetRegister("Big")->GetValueInteger(0), -16);
}

TEST_F(Registers, IniValuesWithMissingOrOddItems) {
  TempDir dir;
  const std::string file = dir.Write("in.730",
                                     "[Data]\nLevel=\nPair=\"4\"\nFree=\"1\",\"2\",\"3\"\nCrossed=5\n"
                                     "[Bad]\nPair=\"1\",x\n");
  kd::IniFile ini(file);
  TlaRegister& pair = R("Pair");
  pair.SetValueInteger(1, 9);
  pair.LoadFromIni("Data", &ini);  // fewer items: the rest keep their values
  EXPECT_EQ(pair.GetValueInteger(0), 4);
  EXPECT_EQ(pair.GetValueInteger(1), 9);
  R("Free").LoadFromIni("Data", &ini);  // more items: ignored
  EXPECT_EQ(R("Free").GetValueInteger(0), 1);
  R("Level").LoadFromIni("Data", &ini);  // empty value: defaults
  EXPECT_EQ(R("Level").GetValueInteger(0), 25);
  R("Level").SetValueInteger(0, 1);
  R("Level").LoadFromIni("Other", &ini);  // absent key: defaults
  EXPECT_EQ(R("Level").GetValueInteger(0), 25);
  R("Day").LoadFromIni("Other", &ini);  // no defaults for a date
  EXPECT_TRUE(R("Day").IsZero());
  R("Crossed").LoadFromIni("Data", &ini);  // unquoted numbers read too, with clamping
  EXPECT_EQ(R("Crossed").GetValueInteger(0), 20);
  EXPECT_THROW(pair.LoadFromIni("Bad", &ini), kd::ConvertError);
  EXPECT_EQ(pair.GetValueInteger(0), 1);  // the items before the bad one are in
  EXPECT_EQ(pair.GetValueInteger(1), 9);
}
