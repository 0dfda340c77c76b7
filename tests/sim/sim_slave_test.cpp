// Request frames in, answer frames out.
#include <gtest/gtest.h>

#include "SimDrive.h"
#include "SimRegisterMap.h"
#include "SimSlave.h"

using namespace kdsim;
using Bytes = std::vector<std::uint8_t>;

namespace {

const std::string kParFile = std::string(KD_DATA_DIR) + "/KD730_Parameters.par";

class SimSlaveTest : public ::testing::Test {
 protected:
  SimSlaveTest() : drive_(SimRegisterMap(kParFile), "", 0.0), slave_(drive_, 1, SimIdentity{}, false) {}
  std::optional<Bytes> Ask(const Bytes& request) { return slave_.Handle(request, 0.0); }
  int Addr(const char* name) const { return drive_.Map().Find(name); }

  SimDrive drive_;
  SimSlave slave_;
};

TEST_F(SimSlaveTest, ReadsAndWritesRegisters) {
  // UrV and IcA: 400 V and 10.0 A by default.
  EXPECT_EQ(Ask({1, 0x03, 0x00, 0x01, 0x00, 0x02}), (Bytes{1, 0x03, 4, 0x01, 0x90, 0x00, 0x64}));
  int ref = Addr("RefDig");
  auto hi = static_cast<std::uint8_t>(ref >> 8), lo = static_cast<std::uint8_t>(ref);
  Bytes single{1, 0x06, hi, lo, 0x30, 0x00};
  EXPECT_EQ(Ask(single), single);
  EXPECT_EQ(drive_.Map().GetInt(ref), 0x3000);
  // RefDig and VirtualInput in one frame: the answer echoes address and count.
  EXPECT_EQ(Ask({1, 0x10, hi, lo, 0x00, 0x02, 4, 0xF0, 0x00, 0x00, 0x04}), (Bytes{1, 0x10, hi, lo, 0x00, 0x02}));
  EXPECT_EQ(drive_.Map().GetInt(ref), -4096);
  EXPECT_EQ(drive_.Map().GetInt(ref + 1), 4);
  // The largest read the drive's buffer takes: MaxBufferSize 40 less 5 bytes.
  auto answer = Ask({1, 0x03, 0x00, 0x00, 0x00, 17});
  ASSERT_TRUE(answer);
  EXPECT_EQ(answer->size(), 3u + 34u);
}

TEST_F(SimSlaveTest, BadRequestsGetExceptions) {
  struct Case {
    Bytes request;
    Bytes answer;  // empty: any answer that is no exception
  };
  const int n = drive_.Map().Count();  // 62
  auto h = [](int v) { return static_cast<std::uint8_t>(v >> 8); };
  auto l = [](int v) { return static_cast<std::uint8_t>(v & 0xFF); };
  const Case table[] = {
      {{1, 0x03, h(n - 1), l(n - 1), 0x00, 0x01}, {}},                  // last register: fine
      {{1, 0x03, h(n - 1), l(n - 1), 0x00, 0x02}, {1, 0x83, 2}},        // runs past the map
      {{1, 0x03, h(n), l(n), 0x00, 0x01}, {1, 0x83, 2}},
      {{1, 0x03, 0x00, 0x00, 0x00, 0x00}, {1, 0x83, 3}},                // count 0
      {{1, 0x03, 0x00, 0x00, 0x00, 18}, {1, 0x83, 3}},                  // more than the buffer takes
      {{1, 0x03, 0x00, 0x00, 0x00}, {1, 0x83, 3}},                      // short frame
      {{1, 0x06, h(n), l(n), 0x00, 0x01}, {1, 0x86, 2}},
      {{1, 0x06, 0x00, 0x01, 0x00}, {1, 0x86, 3}},
      {{1, 0x10, 0x00, 0x01, 0x00, 0x01, 2, 0x01, 0x2C}, {}},           // fine
      {{1, 0x10, h(n), l(n), 0x00, 0x01, 2, 0x00, 0x00}, {1, 0x90, 2}},
      {{1, 0x10, 0x00, 0x01, 0x00, 0x01, 4, 0x01, 0x2C}, {1, 0x90, 3}}, // byte count wrong
      {{1, 0x10, 0x00, 0x01, 0x00, 0x02, 4, 0x01, 0x2C}, {1, 0x90, 3}}, // data missing
      {{1, 0x10, 0x00, 0x01, 0x00, 0x00, 0}, {1, 0x90, 3}},             // count 0
      {{1, 0x41, 0x00}, {1, 0xC1, 3}},
      {{1, 0x43, h(n), l(n)}, {1, 0xC3, 2}},
      {{1, 0x04, 0x00, 0x00, 0x00, 0x01}, {1, 0x84, 1}},                // unknown functions
      {{1, 0x2B, 0x0E, 0x01, 0x00}, {1, 0xAB, 1}},
  };
  for (const Case& c : table) {
    auto answer = Ask(c.request);
    ASSERT_TRUE(answer);
    if (c.answer.empty())
      EXPECT_FALSE((*answer)[1] & 0x80) << "function " << int(c.request[1]);
    else
      EXPECT_EQ(*answer, c.answer) << "function " << int(c.request[1]) << ", " << c.request.size() << " bytes";
  }
  EXPECT_EQ(drive_.Map().GetInt(1), 300);  // the good write went through, the bad ones did not
}

TEST_F(SimSlaveTest, IdentificationAndDataModelScan) {
  EXPECT_EQ(Ask({1, 0x41}), (Bytes{1, 0x41, 0x00, 0x07, 0x02, 0xDA, 0xFF, 0xFF, 0x00, 0x69, 0xFF, 0xFF}));
  EXPECT_EQ(Ask({1, 0x42}), (Bytes{1, 0x42, 0x00, 124, 0x00, 62}));
  EXPECT_EQ(Ask({1, 0x43, 0x00, 0x01}), (Bytes{1, 0x43, 0x00, 39, 0x00, 2}));  // UrV: its twin, 2 bytes
  EXPECT_EQ(Ask({1, 0x43, 0x00, 0x00}), (Bytes{1, 0x43, 0x00, 0, 0x00, 2}));

  SimIdentity id{12, 730, 0x4142, 110, 0x43FF};
  SimSlave other(drive_, 9, id, false);
  EXPECT_EQ(other.Handle(Bytes{9, 0x41}, 0.0),
            (Bytes{9, 0x41, 0x00, 12, 0x02, 0xDA, 0x41, 0x42, 0x00, 110, 0x43, 0xFF}));
}

TEST_F(SimSlaveTest, OtherAddressesAndSilenceGetNoAnswer) {
  EXPECT_FALSE(Ask({2, 0x03, 0x00, 0x00, 0x00, 0x01}));
  EXPECT_FALSE(Ask({0, 0x06, 0x00, 0x01, 0x01, 0x2C}));
  EXPECT_FALSE(Ask({1}));
  EXPECT_EQ(drive_.Map().GetInt(1), 400);
  SimSlave silent(drive_, 1, SimIdentity{}, true);
  EXPECT_FALSE(silent.Handle(Bytes{1, 0x41}, 0.0));
}

}  // namespace
