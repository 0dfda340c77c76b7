// Device identification and the data-model scan.
#include <gtest/gtest.h>

#include "MbClientSupport.h"
#include "Tlambsimpletransacls.h"

using namespace std::chrono_literals;
using mbtest::Bytes;
using mbtest::CannedSlave;
using mbtest::TestDevice;

namespace {

const Bytes kIdentity{1, 0x41, 0, 7, 0x02, 0xDA, 'X', 0xFF, 0, 110, 'B', 0xFF};

// Identification as above, ten entries whose words are (index, 2 * index),
// silence at entry `silentAt` (-1: none).
CannedSlave::Responder Drive(std::uint16_t entries, int silentAt = -1) {
  return [=](const Bytes& q) -> std::optional<Bytes> {
    switch (q[1]) {
      case 0x41: return kIdentity;
      case 0x42: return Bytes{1, 0x42, 0, 99, 0, static_cast<std::uint8_t>(entries)};
      case 0x43:
        if (q[3] == silentAt) return std::nullopt;
        return Bytes{1, 0x43, 0, q[3], 0, static_cast<std::uint8_t>(2 * q[3])};
      default: return Bytes{1, static_cast<std::uint8_t>(q[1] | 0x80), 1};
    }
  };
}

class MBIdentify : public mbtest::MbClientTest {
 protected:
  std::vector<std::string> events_;
  void Watch(TlaMBDeviceVersion& v) {
    v.OnDone = [this](TlaMBTransaction*, std::int32_t r) { events_.push_back("done " + std::to_string(r)); };
    v.OnError = [this](TlaMBTransaction*, std::int32_t r) { events_.push_back("error " + std::to_string(r)); };
  }
};

TEST_F(MBIdentify, VersionFromTheDrive) {
  auto sim = StartSimTcp({"--version", "1.10", "--version-letters", "B", "--model-letters", "XY", "--kdp", "12"});
  auto srv = OpenTcp(sim->TcpPort());
  TestDevice device(1, 0);
  auto* version = new TlaMBDeviceVersion(&device, 10);
  Watch(*version);
  EXPECT_EQ(version->GetName(), "DeviceInfo[1]");
  EXPECT_EQ(version->GetPeriod(), 10);
  ASSERT_EQ(version->Run(*srv), 0);
  EXPECT_TRUE(version->GetValid());
  const TlaVersionRecord r = version->GetVersion();
  EXPECT_EQ(r.KDPNumber, 12);
  EXPECT_EQ(r.KDNumber, 730);
  EXPECT_EQ(r.ModelLetters, 0x5859);
  EXPECT_EQ(r.GetVersionNumber(), 110);
  EXPECT_EQ(r.VersionLetters, 0x42FF);
  EXPECT_EQ(version->GetFullString(), "KDP12_KD730-XYv110-B");
  EXPECT_EQ(version->GetModelString(), "KD730-XY");
  EXPECT_EQ(version->GetVersionString(), "1.10-B");
  version->PostDone();
  loop_.ProcessEvents();
  EXPECT_EQ(events_, (std::vector<std::string>{"done 0"}));

  version->SetOwnerDevice(&device);  // an owner change forgets the answer
  EXPECT_FALSE(version->GetValid());
}

TEST_F(MBIdentify, AnswerOfAnotherSizeIsRefused) {
  for (std::size_t size : {11u, 13u}) {
    CannedSlave slave([&](const Bytes&) -> std::optional<Bytes> {
      Bytes a = kIdentity;
      a.resize(size, 0x20);
      return a;
    });
    auto srv = OpenTcp(slave.Port());
    TestDevice device(1, 0);
    auto* version = new TlaMBDeviceVersion(&device, 0);
    Watch(*version);
    EXPECT_EQ(version->Run(*srv), kMBAnswerSize) << size;
    EXPECT_FALSE(version->GetValid());
    EXPECT_EQ(version->GetVersion().KDNumber, 0);  // the record is left as it was
    version->PostDone();
    loop_.ProcessEvents();
  }
  EXPECT_EQ(events_, (std::vector<std::string>{"error -2", "error -2"}));
}

class MBScan : public mbtest::MbClientTest {
 protected:
  TestDevice device_{1, 0};
  TlaMBDataModelScan* scan_ = new TlaMBDataModelScan(&device_, 10);  // owned by the device
  std::vector<std::pair<int, int>> progress_;
  std::vector<std::int32_t> done_;
  MBScan() {
    scan_->OnProgress = [this](TlaMBTransaction*, int p, int t) { progress_.emplace_back(p, t); };
    scan_->OnDone = [this](TlaMBTransaction*, std::int32_t r) { done_.push_back(r); };
  }
  void Deliver() {
    scan_->PostDone();
    loop_.ProcessEvents();
  }
};

TEST_F(MBScan, EveryEntryOfTheDriveWithProgress) {
  auto sim = StartSimTcp();
  auto srv = OpenTcp(sim->TcpPort());
  EXPECT_EQ(scan_->GetName(), "DataModelScan[1]");
  EXPECT_TRUE(scan_->DisableOnSuccess);
  scan_->Start(3);
  EXPECT_TRUE(scan_->DisableOnError);
  EXPECT_TRUE(scan_->GetActive());
  ASSERT_EQ(scan_->Run(*srv), 0);
  Deliver();

  const int count = scan_->GetInfo().Count;
  ASSERT_GT(count, 10);
  EXPECT_EQ(scan_->GetReachedLevel(), 3);
  EXPECT_EQ(scan_->GetRequestedLevel(), 0);
  EXPECT_EQ(scan_->GetEntriesRead(), count);
  ASSERT_EQ(progress_.size(), static_cast<std::size_t>(count));
  for (int i = 0; i < count; ++i) EXPECT_EQ(progress_[static_cast<std::size_t>(i)], std::make_pair(i + 1, count));
  EXPECT_EQ(done_, (std::vector<std::int32_t>{0}));
  EXPECT_EQ(scan_->GetVersion().KDNumber, 730);

  Bytes entry10, unused;
  ASSERT_EQ(srv->TxRxMessage({1, 0x43, 0, 10}, 4, entry10, 0, unused), 0);
  const auto entries = scan_->GetEntries();
  ASSERT_EQ(entries.size(), static_cast<std::size_t>(count));
  EXPECT_EQ(entries[10].Word1, entry10[2] << 8 | entry10[3]);
  EXPECT_EQ(entries[10].Word2, entry10[4] << 8 | entry10[5]);

  scan_->LowerLevel(1);
  EXPECT_EQ(scan_->GetReachedLevel(), 1);
  EXPECT_EQ(scan_->GetEntriesRead(), 0);
  EXPECT_TRUE(scan_->GetEntries().empty());
  scan_->LowerLevel(2);  // not below what was reached: nothing
  EXPECT_EQ(scan_->GetReachedLevel(), 1);
}

TEST_F(MBScan, FailureAtTheFifthOfTenEntries) {
  CannedSlave slave(Drive(10, 4));
  auto srv = OpenTcp(slave.Port(), 0, 200);
  scan_->Start(3);
  EXPECT_EQ(scan_->Run(*srv), kMBTimeout);
  Deliver();
  EXPECT_EQ(scan_->GetReachedLevel(), 2);
  EXPECT_EQ(scan_->GetEntriesRead(), 5);
  EXPECT_EQ(progress_, (std::vector<std::pair<int, int>>{{1, 10}, {2, 10}, {3, 10}, {4, 10}, {5, 10}}));
  EXPECT_EQ(done_, (std::vector<std::int32_t>{kMBTimeout}));
  EXPECT_EQ(scan_->GetEntries()[3].Word2, 6);
  EXPECT_EQ(slave.Requests(), 2 + 5);
}

TEST_F(MBScan, LevelsBelowThreeAndAnEmptyModel) {
  CannedSlave slave(Drive(0));
  auto srv = OpenTcp(slave.Port());
  scan_->Start(3);  // no entries to read
  EXPECT_EQ(scan_->Run(*srv), 0);
  EXPECT_EQ(scan_->GetReachedLevel(), 2);
  EXPECT_TRUE(progress_.empty());

  scan_->Start(1);
  EXPECT_FALSE(scan_->DisableOnError);  // identification alone repeats after failures
  EXPECT_EQ(scan_->Run(*srv), 0);
  EXPECT_EQ(scan_->GetReachedLevel(), 1);
  EXPECT_EQ(slave.Requests(), 3);
}

}  // namespace
