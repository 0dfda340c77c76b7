// TModbusSrv through a real mbserver process against independent peers.
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <chrono>
#include <sstream>
#include <thread>

#include "Exception.h"
#include "LibmodbusSlave.h"
#include "MbCodes.h"
#include "ProxyTestBase.h"
#include "ScriptedSlave.h"

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;
using kdtest::LibmodbusSlave;

namespace {

Bytes ReadRequest(int first, int count) {
  return {0x01, 0x03, 0x00, static_cast<std::uint8_t>(first), 0x00, static_cast<std::uint8_t>(count)};
}

Bytes ReadAnswer(int first, int count, std::uint16_t (*value)(int)) {
  Bytes a{0x01, 0x03, static_cast<std::uint8_t>(2 * count)};
  for (int i = first; i < first + count; ++i) {
    a.push_back(static_cast<std::uint8_t>(value(i) >> 8));
    a.push_back(static_cast<std::uint8_t>(value(i) & 0xFF));
  }
  return a;
}

// User + system CPU time of a process, in clock ticks.
long CpuTicks(int pid) {
  const std::string text = kdtest::ReadFile("/proc/" + std::to_string(pid) + "/stat");
  std::istringstream fields(text.substr(text.rfind(')') + 2));
  std::string field;
  long utime = 0, stime = 0;
  for (int i = 3; i <= 15 && fields >> field; ++i) {
    if (i == 14) utime = std::stol(field);
    if (i == 15) stime = std::stol(field);
  }
  return utime + stime;
}

enum class PeerLine { Rtu, Tcp };

class LibmodbusPeer : public ProxyTest, public testing::WithParamInterface<PeerLine> {};

TEST_P(LibmodbusPeer, ReadsWritesAndExceptions) {
  std::unique_ptr<kdtest::SocatPair> pair;
  std::unique_ptr<LibmodbusSlave> slave;
  TModbusSrv srv;
  if (GetParam() == PeerLine::Rtu) {
    pair = std::make_unique<kdtest::SocatPair>();
    slave = LibmodbusSlave::Rtu(pair->A());
    MapComPort(3, pair->B());
    ASSERT_TRUE(srv.OpenConnection("COM3", 1));
    Configure(srv, 3, 1000, 20);
  } else {
    slave = LibmodbusSlave::Tcp();
    ASSERT_TRUE(srv.OpenConnection("COM1", 2));
    Configure(srv, 1, 1000, 20, slave->Port());
  }
  ASSERT_TRUE(srv.Connect());
  EXPECT_EQ(srv.get_Retries(), 2);

  Bytes answer;
  EXPECT_EQ(Exchange(srv, ReadRequest(0, 10), answer), 0);
  EXPECT_EQ(answer, ReadAnswer(0, 10, LibmodbusSlave::Value));

  const Bytes write6{0x01, 0x06, 0x00, 0x04, 0x12, 0x34};
  EXPECT_EQ(Exchange(srv, write6, answer), 0);
  EXPECT_EQ(answer, write6);
  const Bytes write16{0x01, 0x10, 0x00, 0x05, 0x00, 0x02, 0x04, 0xAB, 0xCD, 0x00, 0x01};
  EXPECT_EQ(Exchange(srv, write16, answer), 0);
  EXPECT_EQ(answer, Bytes(write16.begin(), write16.begin() + 6));
  EXPECT_EQ(Exchange(srv, ReadRequest(4, 3), answer), 0);
  EXPECT_EQ(answer, (Bytes{0x01, 0x03, 0x06, 0x12, 0x34, 0xAB, 0xCD, 0x00, 0x01}));

  // The map ends at register 99.
  EXPECT_EQ(Exchange(srv, ReadRequest(99, 2), answer), static_cast<std::int32_t>(0x80048202u));
  EXPECT_TRUE(answer.empty());
  // Only the first QueryLength bytes go out.
  Bytes padded = ReadRequest(0, 1);
  padded.push_back(0xEE);
  Bytes unused;
  EXPECT_EQ(srv.TxRxMessage(padded, 6, answer, 0, unused), 0);
  EXPECT_EQ(answer, ReadAnswer(0, 1, LibmodbusSlave::Value));

  // Longer than any frame: a write error, however long.
  for (std::size_t size : {255u, 5000u}) {
    Bytes tooLong = ReadRequest(0, 1);
    tooLong.resize(size);
    EXPECT_EQ(Exchange(srv, tooLong, answer), kd::mb::kPortWrite) << size;
  }

  srv.CloseConnection();
  EXPECT_EQ(Exchange(srv, ReadRequest(0, 1), answer), kd::mb::kPortNotInitialised);
}

INSTANTIATE_TEST_SUITE_P(Lines, LibmodbusPeer, testing::Values(PeerLine::Rtu, PeerLine::Tcp),
                         [](const auto& p) { return p.param == PeerLine::Rtu ? "Rtu" : "Tcp"; });

TEST_F(ProxyTest, ConnectFailsForAMissingDevice) {
  MapComPort(2, dir_.File("no-such-tty"));
  TModbusSrv srv;
  ASSERT_TRUE(srv.OpenConnection("COM2", 1));
  Configure(srv, 2, 500, 20);
  EXPECT_FALSE(srv.Connect());
  Bytes answer;
  EXPECT_EQ(Exchange(srv, ReadRequest(0, 1), answer), kd::mb::kPortNotInitialised);
  EXPECT_FALSE(srv.OpenConnection("COM2", 7));
}

// Every answer is checked against its request, and what comes after a failed
// exchange is drained before the next request: the next read gets its own
// registers.
TEST_F(ProxyTest, EachAnswerBelongsToItsRequest) {
  kdtest::ScriptedSlave slave(kdtest::ScriptedSlave::Line::Rtu);
  auto srv = ConnectSerial(slave.Path(), 500);
  using kdtest::Misbehave;
  const Bytes write16{0x01, 0x10, 0x00, 0x08, 0x00, 0x02, 0x04, 0x11, 0x22, 0x33, 0x44};
  struct Case {
    kdtest::Step step;
    Bytes request;
    std::int32_t code;
  } cases[] = {
      {{Misbehave::Late, 560ms}, ReadRequest(0, 1), kd::mb::kTimeout},
      {{Misbehave::Late, 560ms}, ReadRequest(0, 3), kd::mb::kTimeout},
      {{Misbehave::WrongCount}, ReadRequest(0, 3), kd::mb::kInvalidAnswer},
      {{Misbehave::WrongEcho}, write16, kd::mb::kInvalidAnswer},
  };
  auto value = [](int n) { return static_cast<std::uint16_t>(0x1000 + n); };
  for (const auto& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.step.what));
    slave.Script({c.step});
    Bytes answer;
    EXPECT_EQ(Exchange(*srv, c.request, answer), c.code);
    EXPECT_TRUE(answer.empty());
    EXPECT_EQ(Exchange(*srv, ReadRequest(0x10, 3), answer), 0);
    EXPECT_EQ(answer, ReadAnswer(0x10, 3, value));
  }
}

// A request that times out and its retry that times out too (a drain, then
// the time-out again) stay within the time the proxy gives a call.
TEST_F(ProxyTest, ARetryAfterATimeOutIsNoLostServer) {
  kdtest::ScriptedSlave slave(kdtest::ScriptedSlave::Line::Rtu);
  auto srv = ConnectSerial(slave.Path(), 1500);
  slave.Script({{kdtest::Misbehave::Silence}, {kdtest::Misbehave::Silence}});
  Bytes answer;
  EXPECT_EQ(Exchange(*srv, ReadRequest(0, 1), answer), kd::mb::kTimeout);
  EXPECT_EQ(Exchange(*srv, ReadRequest(0, 1), answer), kd::mb::kTimeout);
  EXPECT_EQ(Exchange(*srv, ReadRequest(2, 1), answer), 0);
  EXPECT_EQ(answer, (Bytes{0x01, 0x03, 0x02, 0x10, 0x02}));
}

// A serial device that goes and comes back at its path: the server lets the
// idle port go (no request needed), requests fail at once while it is gone,
// and go through again without a new Connect.
TEST_F(ProxyTest, ALostDeviceIsOpenedAgainByItself) {
  kdtest::PluggedSlave slave;
  auto srv = ConnectSerial(slave.Device(), 3000);
  Bytes answer;
  EXPECT_EQ(Exchange(*srv, ReadRequest(2, 1), answer), 0);
  slave.Pull();
  EXPECT_TRUE(slave.LetGoBy(srv->ServerProcessId(), 3s));
  for (int i = 0; i < 3; ++i) {
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(Exchange(*srv, ReadRequest(2, 1), answer), kd::mb::kPortWrite);
    EXPECT_LT(std::chrono::steady_clock::now() - t0, 1500ms);  // never the time-out
  }
  slave.Plug();
  EXPECT_EQ(Exchange(*srv, ReadRequest(2, 1), answer), 0);
  EXPECT_EQ(answer, (Bytes{0x01, 0x03, 0x02, 0x10, 0x02}));
}

// A server that dies or stops during a call: the call returns in time with
// the lost-server code, the proxy stays failed, a new proxy works.
TEST_F(ProxyTest, DeadOrHungServerNeverHangsTheCaller) {
  kdtest::ScriptedSlave slave(kdtest::ScriptedSlave::Line::Rtu);
  MapComPort(1, slave.Path());
  for (int sig : {SIGKILL, SIGSTOP}) {
    SCOPED_TRACE(sig);
    const int before = slave.Requests();
    slave.Script({{kdtest::Misbehave::Silence}});
    TModbusSrv srv;
    ASSERT_TRUE(srv.OpenConnection("COM1", 1));
    Configure(srv, 1, 1500, 20);
    ASSERT_TRUE(srv.Connect());
    const int pid = srv.ServerProcessId();
    ASSERT_GT(pid, 0);
    std::thread killer([&] {
      if (slave.WaitRequests(before + 1, 10s)) ::kill(pid, sig);
    });
    Bytes answer;
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(Exchange(srv, ReadRequest(0, 1), answer), kd::mb::kServerLost);
    // The time-out twice (a drain, then the exchange) plus the proxy's margin
    // (silent intervals, frame time, 1 s).
    EXPECT_LT(std::chrono::steady_clock::now() - t0, 2 * 1500ms + 2500ms);
    killer.join();
    EXPECT_EQ(srv.ServerProcessId(), 0);
    EXPECT_EQ(Exchange(srv, ReadRequest(0, 1), answer), kd::mb::kServerLost);
    EXPECT_FALSE(srv.Connect());
    EXPECT_EQ(srv.get_Retries(), 0);
    EXPECT_EQ(srv.CreateTCPServer(), nullptr);
  }
  TModbusSrv fresh;
  ASSERT_TRUE(fresh.OpenConnection("COM1", 1));
  Configure(fresh, 1, 1000, 20);
  ASSERT_TRUE(fresh.Connect());
  Bytes answer;
  EXPECT_EQ(Exchange(fresh, ReadRequest(2, 1), answer), 0);
  EXPECT_EQ(answer, (Bytes{0x01, 0x03, 0x02, 0x10, 0x02}));
}

// No busy waiting: an open line and a running gateway without traffic cost
// the server no CPU time.
TEST_F(ProxyTest, IdleConnectionUsesNoCpu) {
  kdtest::ScriptedSlave rtu(kdtest::ScriptedSlave::Line::Rtu);
  MapComPort(1, rtu.Path());
  TModbusSrv srv;
  ASSERT_TRUE(srv.OpenConnection("COM1", 1));
  Configure(srv, 1, 1000, 20);
  ASSERT_TRUE(srv.Connect());
  auto gateway = srv.CreateTCPServer();
  ASSERT_NE(gateway, nullptr);
  gateway->Set_TcpPort(kdtest::FreeTcpPort());
  ASSERT_TRUE(gateway->StartServer());
  const long before = CpuTicks(srv.ServerProcessId());
  std::this_thread::sleep_for(1s);  // measuring, not waiting for anything
  EXPECT_LE(CpuTicks(srv.ServerProcessId()) - before, 1);
}

TEST_F(ProxyTest, EachProxyHasItsOwnServerThatEndsWithIt) {
  int pid = 0;
  {
    TModbusSrv a, b;
    pid = a.ServerProcessId();
    EXPECT_NE(pid, b.ServerProcessId());
  }
  // Reaped: the id names no process of ours any more.
  EXPECT_NE(::kill(pid, 0), 0);
}

TEST_F(ProxyTest, MissingOrBrokenRegistrationRaises) {
  kd::mb::UnregisterServer();
  EXPECT_THROW(TModbusSrv(), kd::Exception);
  kd::mb::RegisterServer(dir_.File("mbserver"));  // names a missing file
  EXPECT_THROW(TModbusSrv(), kd::Exception);
  kd::mb::RegisterServer("/bin/true");  // starts, but is no server
  EXPECT_THROW(TModbusSrv(), kd::Exception);
  // Greets in another protocol version, then stays: raised, and ended and reaped.
  const std::string other = dir_.Write("other-version",
                                       "#!/bin/sh\nhead -c 17 <&3 >/dev/null\n"
                                       "printf '\\015\\000\\000\\000\\000\\002' >&4\n"
                                       "printf '\\000\\000\\000\\000\\000\\000\\000\\000\\000\\000\\000' >&4\n"
                                       "exec sleep 30\n");
  ::chmod(other.c_str(), 0755);
  kd::mb::RegisterServer(other);
  EXPECT_THROW(TModbusSrv(), kd::Exception);
  EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1);  // no child of ours left

  for (const char* command : {"/regserver", "--regserver"}) {
    kdtest::ChildProcess reg({KD_MBSERVER_PATH, command}, kdtest::ChildProcess::kNone);
    EXPECT_EQ(reg.Wait(10s), 0);
    EXPECT_EQ(kd::mb::RegisteredServer(), KD_MBSERVER_PATH);
    EXPECT_NO_THROW(TModbusSrv());
  }
  kdtest::ChildProcess unreg({KD_MBSERVER_PATH, "/unregserver"}, kdtest::ChildProcess::kNone);
  EXPECT_EQ(unreg.Wait(10s), 0);
  EXPECT_EQ(kd::mb::RegisteredServer(), "");
  EXPECT_THROW(TModbusSrv(), kd::Exception);
}

}  // namespace
