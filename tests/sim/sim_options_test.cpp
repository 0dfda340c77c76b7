// The simulator's command line.
#include <gtest/gtest.h>

#include "SimOptions.h"

using namespace kdsim;

namespace {

TEST(SimOptionsTest, ReadsEveryOption) {
  SimOptions o = ParseSimOptions({"--rtu", "/tmp/p0", "--baud", "9600", "--parity", "odd", "--stop", "2",
                                  "--par", "x.par", "--slave", "12", "--kdp", "0", "--model", "731",
                                  "--model-letters", "AB", "--version", "1.10", "--version-letters", "C",
                                  "--eeprom", "e.ini", "--fault", "Overcurrent", "--fault", "Watchdog",
                                  "--set", "RefDig=-6144", "--set", "VirtualInput=5", "--silent",
                                  "--late", "26:700", "--latency", "40"});
  EXPECT_EQ(o.RtuPath, "/tmp/p0");
  EXPECT_EQ(o.Baud, 9600);
  EXPECT_EQ(o.Parity, 'O');
  EXPECT_EQ(o.StopBits, 2);
  EXPECT_EQ(o.ParFile, "x.par");
  EXPECT_EQ(o.Slave, 12);
  EXPECT_EQ(o.Identity.KDPNumber, 0);
  EXPECT_EQ(o.Identity.KDNumber, 731);
  EXPECT_EQ(o.Identity.ModelLetters, 0x4142);
  EXPECT_EQ(o.Identity.Version, 110);
  EXPECT_EQ(o.Identity.VersionLetters, 0x43FF);
  EXPECT_EQ(o.EepromFile, "e.ini");
  EXPECT_EQ(o.Faults, (std::vector<std::string>{"Overcurrent", "Watchdog"}));
  EXPECT_EQ(o.Presets, (std::vector<std::pair<std::string, std::int32_t>>{{"RefDig", -6144}, {"VirtualInput", 5}}));
  EXPECT_TRUE(o.Silent);
  EXPECT_EQ(o.LateAddress, 26);
  EXPECT_EQ(o.LateMs, 700);
  EXPECT_EQ(o.LatencyMs, 40);

  SimOptions t = ParseSimOptions({"--tcp", "127.0.0.1:0", "--version", "104"});
  EXPECT_EQ(t.TcpHost, "127.0.0.1");
  EXPECT_EQ(t.TcpPort, 0);
  EXPECT_EQ(t.Identity.Version, 104);
  // Fields not given are the data model's own.
  EXPECT_FALSE(t.Identity.ModelLetters.has_value());
  const SimIdentity kd610 = t.Identity.Over(SimIdentity::Of("KDP6_KD610v102"));
  EXPECT_EQ(kd610.Text(), "KDP6_KD610v104");
  EXPECT_EQ(kd610.ModelLetters, 0xFFFF);
  EXPECT_EQ(t.Slave, 0);  // from the EEPROM
  EXPECT_EQ(t.LateAddress, -1);
  EXPECT_TRUE(ParseSimOptions({"--help"}).Help);
}

TEST(SimOptionsTest, RefusesBadCommandLines) {
  const std::vector<std::vector<std::string>> bad = {
      {},
      {"--rtu", "/tmp/p0", "--tcp", "127.0.0.1:502"},
      {"--tcp", "127.0.0.1"},
      {"--tcp", "127.0.0.1:70000"},
      {"--tcp", "127.0.0.1:0", "--slave", "0"},
      {"--tcp", "127.0.0.1:0", "--slave", "248"},
      {"--tcp", "127.0.0.1:0", "--parity", "mark"},
      {"--tcp", "127.0.0.1:0", "--model-letters", "ABC"},
      {"--tcp", "127.0.0.1:0", "--model-letters", "A-"},
      {"--tcp", "127.0.0.1:0", "--version", "1000"},
      {"--tcp", "127.0.0.1:0", "--baud"},
      {"--tcp", "127.0.0.1:0", "--frobnicate"},
      {"--tcp", "127.0.0.1:0", "--set", "RefDig"},
      {"--tcp", "127.0.0.1:0", "--set", "=5"},
      {"--tcp", "127.0.0.1:0", "--set", "RefDig=x"},
      {"--tcp", "127.0.0.1:0", "--late", "26"},
      {"--tcp", "127.0.0.1:0", "--late", "26:-1"},
      {"--tcp", "127.0.0.1:0", "--latency", "x"},
  };
  for (const auto& args : bad) EXPECT_THROW(ParseSimOptions(args), SimUsageError) << testing::PrintToString(args);
}

}  // namespace
