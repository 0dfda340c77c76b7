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

TEST(Gateway, ForwardsAndAnswersForASilentSlave) {
  ScriptedSlave slave(ScriptedSlave::Line::Rtu);
  MbConnection line([&](int) { return slave.Path(); });
  ASSERT_TRUE(line.OpenConnection("COM1", 1));
  line.Update([](ConnectionSettings& s) {
    s.comPort = 1;
    s.timeout = 200;
    s.silentInterval = 5;
  });
  ASSERT_TRUE(line.Connect());
  CTCPIPServer gateway(line);
  const int port = kdtest::FreeTcpPort();
  gateway.SetPort(port);
  ASSERT_TRUE(gateway.StartServer());

  MbConnection client([](int) { return std::string(); });
  OpenTcp(client, port, 2000);
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
