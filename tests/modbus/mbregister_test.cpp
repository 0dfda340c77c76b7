// Read holding registers, write single and write multiple registers over
// buffer segments, against the drive simulator and the scripted slave.
#include <gtest/gtest.h>

#include <cstring>

#include "MbClientSupport.h"
#include "ScriptedSlave.h"
#include "Tlambsimpletransacls.h"

using namespace std::chrono_literals;
using mbtest::Bytes;
using mbtest::Contents;
using mbtest::Line;
using mbtest::TestDevice;

namespace {

void Fill(TlaThreadBuffer& buffer, const Bytes& bytes) {
  TlaThreadBuffer::WriteAccess write(buffer);
  std::memcpy(write.Data(), bytes.data(), bytes.size());
}

std::unique_ptr<TlaThreadBuffer> BufferOf(const Bytes& bytes) {
  auto buffer = std::make_unique<TlaThreadBuffer>(static_cast<int>(bytes.size()));
  Fill(*buffer, bytes);
  return buffer;
}

class MBRegisterSim : public mbtest::MbClientTest, public testing::WithParamInterface<Line> {};

TEST_P(MBRegisterSim, ReadIntoTheDeviceImage) {
  std::unique_ptr<kdtest::SocatPair> ptys;
  std::unique_ptr<kdsim::SimProcess> sim;
  std::unique_ptr<TModbusSrv> srv;
  if (GetParam() == Line::Rtu) {
    ptys = std::make_unique<kdtest::SocatPair>();
    sim = StartSimRtu(ptys->A());
    MapComPort(2, ptys->B());
    srv = OpenRtu(2);
  } else {
    sim = StartSimTcp();
    srv = OpenTcp(sim->TcpPort());
  }
  // The setup registers 1..8 as the drive holds them.
  Bytes expected;
  Bytes unused;
  ASSERT_EQ(srv->TxRxMessage({1, 3, 0, 1, 0, 8}, 6, expected, 0, unused), 0);
  expected.erase(expected.begin(), expected.begin() + 3);
  ASSERT_NE(expected, Bytes(16, 0));

  TestDevice device(1, 0, &model_);
  auto* read = new TlaMBReadHoldRegisters(&device, 1, 8);  // owned by the device
  std::vector<std::int32_t> done;
  read->OnDone = [&](TlaMBTransaction*, std::int32_t changed) { done.push_back(changed); };
  EXPECT_EQ(read->GetName(), "ReadHold[1:1:8]");
  ASSERT_NE(read->GetBuffer(), nullptr);
  for (int i = 0; i < 2; ++i) {
    ASSERT_EQ(read->Run(*srv), 0);
    read->PostDone();
    loop_.ProcessEvents();
  }
  EXPECT_EQ(done, (std::vector<std::int32_t>{1, 0}));  // the second read changed nothing
  EXPECT_EQ(Contents(*device.BufferSegment(1, 8)), expected);
  EXPECT_EQ(read->GetQuery(), (Bytes{1, 3, 0, 1, 0, 8}));
}

INSTANTIATE_TEST_SUITE_P(Lines, MBRegisterSim, testing::Values(Line::Tcp, Line::Rtu),
                         mbtest::LineName);

// A slow slave answers a read after the time-out and then answers its retry
// too: the retry takes the late answer (the same request's), and the retry's
// own answer, which follows, never answers the next read.
class MBRegisterSlowSlave : public mbtest::MbClientTest {};

TEST_F(MBRegisterSlowSlave, TheRetrysOwnAnswerNeverAnswersTheNextRead) {
  kdtest::ScriptedSlave slave(kdtest::ScriptedSlave::Line::Rtu);
  MapComPort(2, slave.Path());
  auto srv = OpenRtu(2, 2, 500);  // two retries, as a connection has by default
  auto value = [](int n) { return Bytes{0x10, static_cast<std::uint8_t>(n)}; };
  for (int round = 0; round < 2; ++round) {
    SCOPED_TRACE(round);
    slave.Script({{kdtest::Misbehave::Late, 1050ms}, {kdtest::Misbehave::Late, 100ms}});
    TlaMBReadHoldRegisters slow(1, 60, 1, BufferOf({0, 0}), 0);
    EXPECT_EQ(slow.Run(*srv), 0);
    EXPECT_EQ(Contents(*slow.GetBuffer()), value(60));
    TlaMBReadHoldRegisters next(1, 30, 1, BufferOf({0, 0}), 0);
    EXPECT_EQ(next.Run(*srv), 0);
    EXPECT_EQ(Contents(*next.GetBuffer()), value(30));
  }
}

class MBRegisterScripted : public mbtest::MbClientTest {
 protected:
  kdtest::ScriptedSlave slave_{kdtest::ScriptedSlave::Line::Tcp};
  std::unique_ptr<TModbusSrv> srv_ = OpenTcp(slave_.Port(), 0, 300);
};

TEST_F(MBRegisterScripted, AnswerOfAnotherSizeLeavesTheBufferAlone) {
  // Two registers asked, six bytes expected: the slave's four do not fit.
  TlaMBReadHoldRegisters read(1, 0, 2, BufferOf({0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA}), 0);
  EXPECT_EQ(read.Run(*srv_), kMBAnswerSize);
  EXPECT_EQ(Contents(*read.GetBuffer()), Bytes(6, 0xAA));
  EXPECT_EQ(mbtest::Handled(slave_, 1), 1);
}

TEST_F(MBRegisterScripted, NoBufferIsMinusThreeAndNothingIsSent) {
  TestDevice device(1, 0, &model_);  // 62 registers
  auto* outside = new TlaMBReadHoldRegisters(&device, 61, 2);
  auto* write = new TlaMBWriteSingleRegister(&device, 70);
  TestDevice noImage(1, 0);
  auto* unbuilt = new TlaMBReadHoldRegisters(&noImage, 0, 1);
  TlaMBWriteMultRegisters noBuffer(1, 0, 2, nullptr, 0);
  for (TlaMBSimpleTransa* t : std::initializer_list<TlaMBSimpleTransa*>{outside, write, unbuilt, &noBuffer}) {
    EXPECT_EQ(t->GetBuffer(), nullptr) << t->GetName();
    for (int i = 0; i < 2; ++i) EXPECT_EQ(t->Run(*srv_), kMBNoData) << t->GetName();
  }
  EXPECT_EQ(slave_.Requests(), 0);
}

TEST_F(MBRegisterScripted, WritesSendTheWholeBuffer) {
  TestDevice device(1, 0, &model_);
  Fill(*device.BufferSegment(5, 1), {0x12, 0x34});
  auto* single = new TlaMBWriteSingleRegister(&device, 5);
  EXPECT_EQ(single->GetName(), "WriteSingle[1:5]");
  EXPECT_EQ(single->Run(*srv_), 0);
  EXPECT_EQ(single->GetQuery(), (Bytes{1, 6, 0, 5, 0x12, 0x34}));
  EXPECT_EQ(slave_.Register(5), 0x1234);

  // A longer buffer goes out whole after the address (the slave refuses it).
  single->SetRange(5, 1, BufferOf({0xAB, 0xCD, 0xEF, 0x01}));
  EXPECT_EQ(single->Run(*srv_), kd::mb::ExceptionResult(3));
  EXPECT_EQ(single->GetQuery(), (Bytes{1, 6, 0, 5, 0xAB, 0xCD, 0xEF, 0x01}));
  EXPECT_EQ(single->GetQueryLength(), 8);

  TlaMBWriteMultRegisters mult(1, 10, 3, BufferOf({0, 1, 0, 2, 0xFF, 0xFE}), 0);
  EXPECT_EQ(mult.GetName(), "WriteMult[1:10:3]");
  EXPECT_EQ(mult.Run(*srv_), 0);
  EXPECT_EQ(mult.GetQuery(), (Bytes{1, 0x10, 0, 10, 0, 3, 6, 0, 1, 0, 2, 0xFF, 0xFE}));
  EXPECT_EQ((std::vector<int>{slave_.Register(10), slave_.Register(11), slave_.Register(12)}),
            (std::vector<int>{1, 2, 0xFFFE}));
}

TEST_F(MBRegisterScripted, CountZeroIsOne) {
  TestDevice device(3, 0, &model_);
  auto* read = new TlaMBReadHoldRegisters(&device, 4, 0);
  EXPECT_EQ(read->GetCount(), 1);
  EXPECT_EQ(read->GetName(), "ReadHold[3:4:1]");
  ASSERT_NE(read->GetBuffer(), nullptr);
  EXPECT_EQ(read->GetBuffer()->Size(), 2);
  TlaMBWriteMultRegisters mult(1, 3, 0, nullptr, 0);
  EXPECT_EQ(mult.GetCount(), 1);
  read->SetRange(8, 0);
  EXPECT_EQ(read->GetCount(), 1);
  EXPECT_EQ(read->GetAddress(), 8);
}

TEST_F(MBRegisterScripted, OwnerChangeRebindsToTheNewImage) {
  TestDevice a(1, 0, &model_), b(1, 0, &model_);
  auto* read = new TlaMBReadHoldRegisters(&a, 2, 2);
  read->SetOwnerDevice(&b);
  ASSERT_EQ(read->Run(*srv_), 0);
  EXPECT_EQ(Contents(*b.BufferSegment(2, 2)), (Bytes{0x10, 0x02, 0x10, 0x03}));
  EXPECT_EQ(Contents(*a.BufferSegment(2, 2)), Bytes(4, 0));
}

}  // namespace
