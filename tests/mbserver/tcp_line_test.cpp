// Modbus TCP against the scripted slave, and the gateway in front of a line.
#include <gtest/gtest.h>

#include "CTCPIPServer.h"
#include "MbCodes.h"
#include "MbConnection.h"
#include "ScriptedSlave.h"
#include "TestSupport.h"

using namespace kd::mb;
using kdtest::Misbehave;
using kdtest::ScriptedSlave;
using namespace std::chrono_literals;

namespace {

const Bytes kRead2{0x01, 0x03, 0x00, 0x05, 0x00, 0x02};
const Bytes kAnswer2{0x01, 0x03, 0x04, 0x10, 0x05, 0x10, 0x06};

void OpenTcp(MbConnection& c, int port, int timeoutMs) {
  ASSERT_TRUE(c.OpenConnection("TCP", 2));
  c.Update([&](ConnectionSettings& s) {
    s.host = "127.0.0.1";
    s.tcpPort = port;
    s.timeout = timeoutMs;
  });
  ASSERT_TRUE(c.Connect());
}

TEST(TcpLine, FaultsAndReconnection) {
  ScriptedSlave slave(ScriptedSlave::Line::Tcp);
  MbConnection c([](int) { return std::string(); });
  OpenTcp(c, slave.Port(), 300);
  struct Case {
    kdtest::Step step;
    std::int32_t code;
  } cases[] = {
      {{Misbehave::None}, kOk},
      {{Misbehave::WrongSlave}, kInvalidAnswer},
      {{Misbehave::ForeignTransaction}, kOk},  // the foreign answer is passed over
      {{Misbehave::Split, 5ms}, kOk},
      {{Misbehave::Glued}, kOk},
      {{Misbehave::Truncated}, kTimeout},
      {{Misbehave::Silence}, kTimeout},
      {{Misbehave::Hangup}, kOk},  // connects again and repeats the request
  };
  for (const auto& c2 : cases) {
    SCOPED_TRACE(static_cast<int>(c2.step.what));
    slave.Script({c2.step});
    Bytes answer;
    EXPECT_EQ(c.TxRxMessage(kRead2, answer), c2.code);
    if (c2.code == kOk) {
      EXPECT_EQ(answer, kAnswer2);
    }
    EXPECT_EQ(c.TxRxMessage(kRead2, answer), kOk);
    EXPECT_EQ(answer, kAnswer2);
  }
}

TEST(TcpLine, NoPeer) {
  // A Connect that fails leaves no line, also where an earlier one had made one.
  ScriptedSlave slave(ScriptedSlave::Line::Tcp);
  MbConnection c([](int) { return std::string(); });
  OpenTcp(c, slave.Port(), 300);
  c.Update([&](ConnectionSettings& s) { s.tcpPort = kdtest::FreeTcpPort(); });
  EXPECT_FALSE(c.Connect());
  Bytes answer;
  EXPECT_EQ(c.TxRxMessage(kRead2, answer), kPortNotInitialised);
}

// A gateway on a free port in front of the scripted slave on an RTU line,
// and a client of it.
class GatewayOnRtu : public testing::Test {
 protected:
  GatewayOnRtu() {
    EXPECT_TRUE(line.OpenConnection("COM1", 1));
    line.Update([](ConnectionSettings& s) {
      s.comPort = 1;
      s.timeout = 200;
      s.silentInterval = 5;
    });
    EXPECT_TRUE(line.Connect());
    gateway.SetPort(port);
    EXPECT_TRUE(gateway.StartServer());
    OpenTcp(client, port, 2000);
  }

  ScriptedSlave slave{ScriptedSlave::Line::Rtu};
  MbConnection line{[this](int) { return slave.Path(); }};
  CTCPIPServer gateway{line};
  const int port = kdtest::FreeTcpPort();
  MbConnection client{[](int) { return std::string(); }};
};

TEST_F(GatewayOnRtu, ForwardsAndAnswersForASilentSlave) {
  Bytes answer;
  EXPECT_EQ(client.TxRxMessage(kRead2, answer), kOk);
  EXPECT_EQ(answer, kAnswer2);
  slave.Script({{Misbehave::Silence}});
  EXPECT_EQ(client.TxRxMessage(kRead2, answer), ExceptionResult(kExGatewayTarget));
  EXPECT_EQ(client.TxRxMessage(Bytes{0x01, 0x03, 0x00, 0x63, 0x00, 0x02}, answer),
            ExceptionResult(2));
  line.CloseConnection();
  EXPECT_EQ(client.TxRxMessage(kRead2, answer), ExceptionResult(kExGatewayPath));

  EXPECT_TRUE(gateway.StopServer());
  EXPECT_NE(client.TxRxMessage(kRead2, answer), kOk);
  CTCPIPServer second(line);
  second.SetPort(port);
  EXPECT_TRUE(second.StartServer());  // the port is free again
}

// A gateway client gets only answers that fit its request: one of another
// size, byte count or echo becomes exception 0x0B, and the next request is
// answered as asked.
TEST_F(GatewayOnRtu, HandsOnOnlyAnswersThatFitTheRequest) {
  const Bytes coils{0x01, 0x01, 0x00, 0x10, 0x00, 0x0A};      // 10 coils: 2 bytes
  const Bytes inputs{0x01, 0x02, 0x00, 0x00, 0x00, 0x08};     // 8 inputs: 1 byte
  const Bytes read1{0x01, 0x03, 0x00, 0x05, 0x00, 0x01};
  const Bytes input3{0x01, 0x04, 0x00, 0x00, 0x00, 0x03};
  const Bytes coil{0x01, 0x05, 0x00, 0x07, 0xFF, 0x00};
  const Bytes write6{0x01, 0x06, 0x00, 0x03, 0xBE, 0xEF};
  const Bytes coils15{0x01, 0x0F, 0x00, 0x10, 0x00, 0x0A, 0x02, 0xFF, 0x03};
  const Bytes write16{0x01, 0x10, 0x00, 0x08, 0x00, 0x02, 0x04, 0x11, 0x22, 0x33, 0x44};
  struct Case {
    const char* what;
    const Bytes& request;
    Bytes frame;  // what the slave answers
    bool fits;
  } cases[] = {
      {"1 proper", coils, {0x01, 0x01, 0x02, 0xCD, 0x01}, true},
      {"1 no data", coils, {0x01, 0x01, 0x00}, false},
      {"1 a byte short", coils, {0x01, 0x01, 0x01, 0xCD}, false},
      {"2 proper", inputs, {0x01, 0x02, 0x01, 0xAC}, true},
      {"2 a byte more", inputs, {0x01, 0x02, 0x02, 0xAC, 0x00}, false},
      {"3 proper", read1, {0x01, 0x03, 0x02, 0x10, 0x05}, true},
      {"3 two registers for one", read1, {0x01, 0x03, 0x04, 0x10, 0x05, 0x10, 0x06}, false},
      {"4 proper", input3, {0x01, 0x04, 0x06, 0x00, 0x01, 0x00, 0x02, 0x00, 0x03}, true},
      {"4 a register short", input3, {0x01, 0x04, 0x04, 0x00, 0x01, 0x00, 0x02}, false},
      {"5 proper", coil, coil, true},
      {"5 the other value", coil, {0x01, 0x05, 0x00, 0x07, 0x00, 0x00}, false},
      {"6 proper", write6, write6, true},
      {"6 another value", write6, {0x01, 0x06, 0x00, 0x03, 0xBE, 0xEE}, false},
      {"15 proper", coils15, {0x01, 0x0F, 0x00, 0x10, 0x00, 0x0A}, true},
      {"15 another quantity", coils15, {0x01, 0x0F, 0x00, 0x10, 0x00, 0x09}, false},
      {"16 proper", write16, {0x01, 0x10, 0x00, 0x08, 0x00, 0x02}, true},
      {"16 another address", write16, {0x01, 0x10, 0x00, 0x09, 0x00, 0x02}, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    slave.Script({{Misbehave::Instead, 0ms, c.frame}});
    Bytes answer;
    EXPECT_EQ(client.TxRxMessage(c.request, answer), c.fits ? kOk : ExceptionResult(kExGatewayTarget));
    if (c.fits) {
      EXPECT_EQ(answer, c.frame);
    }
    EXPECT_EQ(client.TxRxMessage(kRead2, answer), kOk);
    EXPECT_EQ(answer, kAnswer2);
  }
}

// The address told is one the gateway listens on: a client reaches it there.
TEST(Gateway, TellsAnAddressItListensOn) {
  ScriptedSlave slave(ScriptedSlave::Line::Tcp);
  MbConnection line([](int) { return std::string(); });
  OpenTcp(line, slave.Port(), 500);
  for (const char* address : {"", "127.0.0.1", "0.0.0.0"}) {
    SCOPED_TRACE(address);
    CTCPIPServer gateway(line);
    gateway.SetLocalAddress(address);
    const int port = kdtest::FreeTcpPort();
    gateway.SetPort(port);
    ASSERT_TRUE(gateway.StartServer());
    const std::string told = gateway.GetLocalHostIP();
    if (*address != '0') {
      EXPECT_EQ(told, "127.0.0.1");
    }
    MbConnection client([](int) { return std::string(); });
    OpenTcp(client, port, 2000);
    client.Update([&](ConnectionSettings& s) { s.host = told; });
    ASSERT_TRUE(client.Connect()) << told;
    Bytes answer;
    EXPECT_EQ(client.TxRxMessage(kRead2, answer), kOk);
  }
}

}  // namespace
