// Version records: parsing, printing and matching patterns.
#include <gtest/gtest.h>

#include "Tlaversionrecordcls.h"

namespace {

struct Parsed {
  bool ok;
  int kdp, kd;
  const char* model;  // letters as printed by GetModelString
  int hundreds, tens, units;
  std::uint16_t versionLetters;
};

}  // namespace

TEST(VersionRecord, Parse) {
  const std::pair<const char*, Parsed> cases[] = {
      {"KDP12_KD730-ABV102-CD", {true, 12, 730, "KD730-AB", 1, 0, 2, 0x4344}},
      {"kd730v102", {true, 0, 730, "KD730", 1, 0, 2, 0xFFFF}},
      {"KD730 V102", {true, 0, 730, "KD730", 0, -1, -1, 0xFFFF}},  // the blank ends the scan
      {"KD730-ABV1.02", {true, 0, 730, "KD730-AB", 0, -1, 1, 0xFFFF}},
      {"XKD730", {true, 0, 730, "KD730", 0, -1, -1, 0xFFFF}},
      {"", {true, 0, 0, "KD0", 0, -1, -1, 0xFFFF}},
      {"KDP12", {true, 12, 0, "KD0", 0, -1, -1, 0xFFFF}},
      {"KDP12-KD5", {true, 12, 0, "KD0", 0, -1, -1, 0xFFFF}},
      {"KD730V", {true, 0, 730, "KD730", -1, -1, -1, 0xFFFF}},  // no digit: Hundreds absent
      {"KD730-*V*", {true, 0, 730, "KD730", -1, -1, -1, 0xFFFF}},
      {"KD730V1-*D", {true, 0, 730, "KD730", 0, -1, 1, 0xFF44}},
      {"KD730V99999999999999", {true, 0, 730, "KD730", 9999999, 9, 9, 0xFFFF}},  // saturated
      {"KD-AB", {false, 0, 0, "KD0", 0, -1, -1, 0xFFFF}},
      {"KDP12_KDP5", {false, 12, 0, "KD0", 0, -1, -1, 0xFFFF}},
      {"KDX", {false, 0, 0, "KD0", 0, -1, -1, 0xFFFF}},
      {"KD730V1**", {false, 0, 730, "KD730", 0, -1, 1, 0xFFFF}},
      {"KD730-A.", {false, 0, 730, "KD730-A", 0, -1, -1, 0xFFFF}},
      {"KD730-AV102", {false, 0, 730, "KD730-AV", 0, -1, -1, 0xFFFF}},  // V taken as the second letter
  };
  for (const auto& [text, want] : cases) {
    TlaVersionRecord r;
    EXPECT_EQ(r.Parse(text, "descr"), want.ok) << text;
    EXPECT_EQ(r.Text, want.ok ? "descr" : ">ERROR<") << text;
    EXPECT_EQ(r.KDPNumber, want.kdp) << text;
    EXPECT_EQ(r.KDNumber, want.kd) << text;
    EXPECT_EQ(r.GetModelString(), want.model) << text;
    EXPECT_EQ(r.Hundreds, want.hundreds) << text;
    EXPECT_EQ(r.Tens, want.tens) << text;
    EXPECT_EQ(r.Units, want.units) << text;
    EXPECT_EQ(r.VersionLetters, want.versionLetters) << text;
  }
}

TEST(VersionRecord, Printing) {
  TlaVersionRecord r;
  r.KDPNumber = 12;
  r.KDNumber = 730;
  r.ModelLetters = 0x4142;
  r.SetVersionNumber(102);
  EXPECT_EQ(r.GetFullString(), "KDP12_KD730-ABv102");
  EXPECT_EQ(r.GetModelString(), "KD730-AB");
  EXPECT_EQ(r.GetVersionString(true), "1.02");
  r.VersionLetters = 0x43FF;
  EXPECT_EQ(r.GetVersionString(false), "102-C");
  r.KDPNumber = 0;
  r.ModelLetters = 0xFF42;  // no first letter: none printed
  EXPECT_EQ(r.GetKDPString(), "");
  EXPECT_EQ(r.GetFullString(), "KD730v102-C");
  r.VersionLetters = 0xFFFF;
  r.SetVersionNumber(5);
  EXPECT_EQ(r.GetVersionString(true), "0.05");
  r.SetVersionNumber(100);
  EXPECT_EQ(r.GetVersionString(true), "1.00");
  EXPECT_EQ(r.GetVersionNumber(), 100);
  // A printed record parses back to itself.
  TlaVersionRecord back;
  r.ModelLetters = 0x4142;
  r.KDPNumber = 7;
  ASSERT_TRUE(back.Parse(r.GetFullString(), ""));
  EXPECT_EQ(back.GetFullString(), r.GetFullString());
}

TEST(VersionRecord, Matches) {
  TlaVersionRecord r;
  ASSERT_TRUE(r.Parse("KDP12_KD730-ABV102-CD", ""));
  const std::pair<const char*, bool> patterns[] = {
      {"KD730", true},          {"KDP12_KD730", true},     {"KDP13_KD730", false},     {"KD731", false},
      {"KD730-ABV102", true},   {"KD730-A*V102", true},    {"KD730-AXV102", false},    {"KD730-*V102", true},
      {"KD730-*V*", true},      {"KD730V1*", false},       {"KD730V2*", true},         {"KD730V*-CD", true},
      {"KD730V*-C*", true},     {"KD730V*-CE", false},     {"KD730V103", false},       {"KD730V02", false},
      {"KD-AB", false},         {"", false},
  };
  for (const auto& [pattern, result] : patterns) EXPECT_EQ(r.Matches(pattern), result) << pattern;

  TlaVersionRecord v;
  v.KDNumber = 730;
  for (int n : {1, 11, 101}) {
    v.SetVersionNumber(static_cast<std::uint16_t>(n));
    EXPECT_TRUE(v.Matches("KD730V1*")) << n;
  }
  v.SetVersionNumber(12);
  EXPECT_FALSE(v.Matches("KD730V1*"));
  EXPECT_TRUE(TlaVersionRecord().Matches(""));  // model 0 only
  TlaVersionRecord lower;
  lower.KDNumber = 730;
  lower.ModelLetters = 0x6162;  // letters as the device sends them
  EXPECT_FALSE(lower.Matches("KD730-ab"));
}
