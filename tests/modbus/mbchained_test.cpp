// Chained register transactions: cutting categories to the buffer limit and
// running the pieces in order.
#include <gtest/gtest.h>

#include "MbClientSupport.h"
#include "ScriptedSlave.h"
#include "Tlambchainedtransacls.h"

using namespace std::chrono_literals;
using mbtest::Bytes;
using mbtest::Contents;
using mbtest::TestDevice;
using Range = TlaMBChainedTransa::PartRange;

namespace {

// The scripted slave's registers first..first+count-1 as bytes.
Bytes ScriptedValues(int first, int count) {
  Bytes b;
  for (int n = first; n < first + count; ++n) {
    b.push_back(0x10);
    b.push_back(static_cast<std::uint8_t>(n));
  }
  return b;
}

class MBChained : public mbtest::MbClientTest {
 protected:
  std::unique_ptr<TestDevice> DeviceWith(int maxBufferSize, const std::string& blocks) {
    model_.MaxBufferSize = maxBufferSize;
    model_.Categories.SetValue("Test", blocks);
    return std::make_unique<TestDevice>(1, 0, &model_);
  }
};

TEST_F(MBChained, BuildCutsRunsAboveTheLimit) {
  struct Case {
    int maxBufferSize;
    std::string blocks;
    std::vector<Range> pieces;
  };
  const Case cases[] = {
      {20, "0/6", {{0, 7}}},                     // 14 bytes, limit 15
      {20, "0/7", {{0, 4}, {4, 4}}},             // 16 bytes
      {21, "0/7", {{0, 8}}},                     // exactly the limit stays whole
      {20, "0/23", {{0, 6}, {6, 6}, {12, 6}, {18, 6}}},
      {6, "0/2", {{0, 1}, {1, 1}, {2, 1}}},      // one register above the limit stays one piece
      {40, "0/3,10/12", {{10, 3}, {0, 4}}},      // chain order: the last run first
      {40, "60/65", {{60, 6}}},                  // past the model: not cut
      {40, "x,5", {{5, 1}}},                     // an invalid block ends the chain
      {40, "5,x", {}},
  };
  for (const Case& c : cases) {
    auto device = DeviceWith(c.maxBufferSize, c.blocks);
    auto* chain = new TlaMBChainedTransa(device.get(), "Test", TlaMBChainedTransa::Read);  // owned by the device
    EXPECT_EQ(chain->GetPartRanges(), c.pieces) << c.maxBufferSize << " " << c.blocks;
  }
  auto device = DeviceWith(40, "0");
  auto* none = new TlaMBChainedTransa(device.get(), "NoSuchCategory", TlaMBChainedTransa::Write);
  EXPECT_EQ(none->GetPartCount(), 0);
  EXPECT_EQ(none->GetBlocks(), nullptr);
  EXPECT_EQ(none->GetName(), "TlaMBChainedTransa[1]");
  TestDevice noModel(1, 0);
  EXPECT_EQ((new TlaMBChainedTransa(&noModel, "RamSetup", 1))->GetPartCount(), 0);
}

TEST_F(MBChained, ReadsACategoryOfTheDrive) {
  auto sim = StartSimTcp();
  auto srv = OpenTcp(sim->TcpPort());
  TestDevice device(1, 0, &model_);  // MaxBufferSize 40: RamSetup 0/23 in two
  auto* chain = new TlaMBChainedTransa(&device, "RamSetup", TlaMBChainedTransa::Read);
  EXPECT_EQ(chain->GetPartRanges(), (std::vector<Range>{{0, 12}, {12, 12}}));
  std::vector<std::int32_t> done;
  chain->OnDone = [&](TlaMBTransaction*, std::int32_t v) { done.push_back(v); };
  ASSERT_EQ(chain->Run(*srv), 0);
  chain->PostDone();
  loop_.ProcessEvents();
  EXPECT_EQ(done, (std::vector<std::int32_t>{0}));

  Bytes expected, part, unused;
  for (int first : {0, 12}) {
    ASSERT_EQ(srv->TxRxMessage({1, 3, 0, static_cast<std::uint8_t>(first), 0, 12}, 6, part, 0, unused), 0);
    expected.insert(expected.end(), part.begin() + 3, part.end());
  }
  EXPECT_EQ(Contents(*device.BufferSegment(0, 24)), expected);
}

class MBChainedScripted : public MBChained {
 protected:
  kdtest::ScriptedSlave slave_{kdtest::ScriptedSlave::Line::Tcp};
  std::unique_ptr<TModbusSrv> srv_ = OpenTcp(slave_.Port(), 0, 300);
};

TEST_F(MBChainedScripted, WritesEveryPiece) {
  auto device = DeviceWith(20, "4/11");
  {
    auto image = device->BufferSegment(4, 8);
    TlaThreadBuffer::WriteAccess write(*image);
    for (int i = 0; i < 16; ++i) write.Data()[i] = static_cast<std::uint8_t>(0xA0 + i);
  }
  auto* chain = new TlaMBChainedTransa(device.get(), "Test", TlaMBChainedTransa::Write);
  ASSERT_EQ(chain->GetPartCount(), 2);
  ASSERT_EQ(chain->Run(*srv_), 0);
  EXPECT_EQ(mbtest::Handled(slave_, 2), 2);
  EXPECT_EQ(slave_.Register(4), 0xA0A1);
  EXPECT_EQ(slave_.Register(11), 0xAEAF);
}

TEST_F(MBChainedScripted, AFailingPieceStopsTheChain) {
  std::vector<std::int32_t> errors;
  // Pieces in chain order: (40, 3), (0, 4), (50, 2); the second gets no answer.
  auto device = DeviceWith(40, "50/51,0/3,40/42");
  auto* chain = new TlaMBChainedTransa(device.get(), "Test", TlaMBChainedTransa::Read);
  chain->OnError = [&](TlaMBTransaction*, std::int32_t r) { errors.push_back(r); };
  slave_.Script({{kdtest::Misbehave::None}, {kdtest::Misbehave::Silence}});
  EXPECT_EQ(chain->Run(*srv_), kMBTimeout);
  chain->PostDone();
  loop_.ProcessEvents();
  EXPECT_EQ(errors, (std::vector<std::int32_t>{kMBTimeout}));
  EXPECT_EQ(mbtest::Handled(slave_, 2), 2);
  EXPECT_EQ(Contents(*device->BufferSegment(40, 3)), ScriptedValues(40, 3));  // kept
  EXPECT_EQ(Contents(*device->BufferSegment(50, 2)), Bytes(4, 0));            // never asked

  // A piece past the model ends in -3 and stops there too.
  auto past = DeviceWith(40, "60/65,0/1");
  auto* pastChain = new TlaMBChainedTransa(past.get(), "Test", TlaMBChainedTransa::Read);
  EXPECT_EQ(pastChain->Run(*srv_), kMBNoData);
  EXPECT_EQ(mbtest::Handled(slave_, 3), 3);
}

TEST_F(MBChainedScripted, EmptyChainSucceedsAtOnce) {
  auto device = DeviceWith(40, "");
  auto* chain = new TlaMBChainedTransa(device.get(), "Test", TlaMBChainedTransa::Read);
  EXPECT_EQ(chain->Run(*srv_), 0);
  EXPECT_EQ(slave_.Requests(), 0);
}

TEST_F(MBChainedScripted, AddressAndOwnerReachEveryPiece) {
  kdtest::ScriptedSlave slave2(kdtest::ScriptedSlave::Line::Tcp, 2);
  auto srv2 = OpenTcp(slave2.Port(), 0, 300);
  auto a = DeviceWith(20, "0/7");
  TestDevice b(2, 0, &model_);
  auto* chain = new TlaMBChainedTransa(a.get(), "Test", TlaMBChainedTransa::Read);
  chain->SetOwnerDevice(&b);  // slave 2, b's image
  ASSERT_EQ(chain->Run(*srv2), 0);
  EXPECT_EQ(mbtest::Handled(slave2, 2), 2);
  EXPECT_EQ(Contents(*b.BufferSegment(0, 8)), ScriptedValues(0, 8));
  EXPECT_EQ(Contents(*a->BufferSegment(0, 8)), Bytes(16, 0));

  // A device without an image: the pieces keep no segment of b's.
  TestDevice noImage(2, 0);
  chain->SetOwnerDevice(&noImage);
  EXPECT_EQ(chain->Run(*srv2), kMBNoData);
  EXPECT_EQ(mbtest::Handled(slave2, 2), 2);
}

}  // namespace
