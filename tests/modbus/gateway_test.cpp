// The gateway of a proxied connection, read by real Modbus-TCP clients, and
// how it holds up against clients that misbehave or come in crowds.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <memory>
#include <optional>
#include <regex>
#include <thread>

#include "CTCPIPServer.h"
#include "Framing.h"
#include "IoUtil.h"
#include "LibmodbusSlave.h"
#include "MbCodes.h"
#include "MbConnection.h"
#include "ProxyTestBase.h"
#include "ScriptedSlave.h"

using namespace std::chrono_literals;
using kd::mb::Bytes;
using kd::mb::UniqueFd;
using kdtest::LibmodbusSlave;

namespace {

// A Modbus-TCP client on a plain socket, to do what well-behaved clients do not.
class RawClient {
 public:
  // Connects to 127.0.0.1:port; with a receive buffer size when given (before the connect).
  explicit RawClient(int port, int receiveBuffer = 0) {
    fd_ = UniqueFd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (receiveBuffer > 0)
      ::setsockopt(fd_.get(), SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(static_cast<std::uint16_t>(port));
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    connected_ = ::connect(fd_.get(), reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0;
  }
  bool Connected() const { return connected_; }
  int Fd() const { return fd_.get(); }

  bool Send(std::uint16_t transaction, const Bytes& frame) {
    const Bytes message = kd::mb::EncodeMbap(transaction, frame);
    return ::send(fd_.get(), message.data(), message.size(), MSG_NOSIGNAL) ==
           static_cast<ssize_t>(message.size());
  }
  // The next message: transaction id and frame; nullopt when none comes in time or the connection
  // ends.
  std::optional<std::pair<std::uint16_t, Bytes>> Receive(kdtest::Millis timeout) {
    const auto deadline = kd::mb::Clock::now() + timeout;
    for (;;) {
      const int length = kd::mb::MbapMessageLength(in_);
      if (length > 0 && in_.size() >= static_cast<std::size_t>(length)) {
        auto m = kd::mb::DecodeMbap(kd::mb::ByteView(in_).first(static_cast<std::size_t>(length)));
        in_.erase(in_.begin(), in_.begin() + length);
        if (m) return std::make_pair(m->transaction, std::move(m->frame));
        return std::nullopt;
      }
      if (!Fill(deadline)) return std::nullopt;
    }
  }
  // One read of `count` registers from `address` of slave 1: its answer frame, or nullopt.
  std::optional<Bytes> Read(int address, int count, kdtest::Millis timeout = 5s) {
    const std::uint16_t tid = ++transaction_;
    if (!Send(tid, ReadFrame(1, address, count))) return std::nullopt;
    auto m = Receive(timeout);
    if (!m || m->first != tid) return std::nullopt;
    return m->second;
  }
  // True when the gateway closes the connection within the timeout (what it still sends is read and
  // dropped).
  bool ClosedWithin(kdtest::Millis timeout) {
    const auto deadline = kd::mb::Clock::now() + timeout;
    while (Fill(deadline)) in_.clear();
    return ended_;
  }

  static Bytes ReadFrame(std::uint8_t slave, int address, int count) {
    return {slave,
            0x03,
            static_cast<std::uint8_t>(address >> 8),
            static_cast<std::uint8_t>(address),
            static_cast<std::uint8_t>(count >> 8),
            static_cast<std::uint8_t>(count)};
  }

 private:
  // Reads what comes before the deadline; false at the deadline or at the end of the connection.
  bool Fill(kd::mb::Clock::time_point deadline) {
    if (kd::mb::WaitFd(fd_.get(), POLLIN, deadline) != kd::mb::WaitResult::Ready) return false;
    std::uint8_t chunk[4096];
    const ssize_t n = ::recv(fd_.get(), chunk, sizeof chunk, 0);
    if (n <= 0) {
      ended_ = true;
      return false;
    }
    in_.insert(in_.end(), chunk, chunk + n);
    return true;
  }

  UniqueFd fd_;
  bool connected_ = false;
  bool ended_ = false;
  Bytes in_;
  std::uint16_t transaction_ = 0;
};

// The expected answer of LibmodbusSlave to a read of `count` registers from `address`.
Bytes ReadAnswer(int address, int count) {
  Bytes frame{0x01, 0x03, static_cast<std::uint8_t>(2 * count)};
  for (int n = address; n < address + count; ++n) {
    frame.push_back(static_cast<std::uint8_t>(LibmodbusSlave::Value(n) >> 8));
    frame.push_back(static_cast<std::uint8_t>(LibmodbusSlave::Value(n)));
  }
  return frame;
}

// A gateway on 127.0.0.1 in front of a line to a libmodbus slave.
class GatewayTest : public ProxyTest {
 protected:
  // A TCP line, with the gateway's limits set in the registry first when given.
  void Start(std::optional<int> maxClients = {}, std::optional<int> idleSeconds = {}) {
    kd::Registry reg(kd::HKEY_LOCAL_MACHINE);
    ASSERT_TRUE(reg.OpenKey(kd::mb::kGatewaySettingsKey, true));
    if (maxClients) reg.WriteInteger("MaxClients", *maxClients);
    if (idleSeconds) reg.WriteInteger("IdleTimeout", *idleSeconds);
    slave_ = LibmodbusSlave::Tcp();
    ASSERT_TRUE(srv_.OpenConnection("TCP", 2));
    Configure(srv_, 1, 1000, 0, slave_->Port());
    Listen();
  }
  // An RTU line on a pair of pseudo terminals, as COM1.
  void StartRtu(int timeoutMs) {
    pair_ = std::make_unique<kdtest::SocatPair>();
    slave_ = LibmodbusSlave::Rtu(pair_->A());
    StartSerial(pair_->B(), timeoutMs, 1);
  }
  // An RTU line to a serial device, as COM1.
  void StartSerial(const std::string& device, int timeoutMs, int silentMs) {
    MapComPort(1, device);
    ASSERT_TRUE(srv_.OpenConnection("COM1", 1));
    Configure(srv_, 1, timeoutMs, silentMs);
    Listen();
  }

  std::unique_ptr<kdtest::SocatPair> pair_;
  std::unique_ptr<LibmodbusSlave> slave_;
  TModbusSrv srv_;
  std::shared_ptr<TCTCPIPServer> gateway_;
  int port_ = 0;

 private:
  void Listen() {
    ASSERT_TRUE(srv_.Connect());
    gateway_ = srv_.CreateTCPServer();
    ASSERT_NE(gateway_, nullptr);
    port_ = kdtest::FreeTcpPort();
    gateway_->Set_LocalAddress("127.0.0.1");
    gateway_->Set_TcpPort(port_);
    ASSERT_TRUE(gateway_->StartServer());
  }
};

// Twenty mbpoll clients at once, each polling its own five registers two
// hundred times through the gateway onto an RTU line: every value must be the
// one of the register asked for (no answer reaches the wrong client).
TEST_F(GatewayTest, ServesManyClientsAtOnce) {
  ASSERT_NO_FATAL_FAILURE(StartRtu(1000));
  EXPECT_FALSE(gateway_->GetLocalHostIP().empty());

  constexpr int kClients = 20, kPolls = 200, kCount = 5;
  std::vector<std::unique_ptr<kdtest::ChildProcess>> clients;
  for (int i = 0; i < kClients; ++i)
    clients.push_back(std::make_unique<kdtest::ChildProcess>(std::vector<std::string>{
        "mbpoll", "-m", "tcp", "-a", "1", "-t", "4", "-0", "-r", std::to_string(i * kCount), "-c",
        std::to_string(kCount), "-l", "11", "-o", "5", "-p", std::to_string(port_), "127.0.0.1"}));

  const std::regex valueLine(R"(^\[(\d+)\]:\s+(-?\d+))");
  std::vector<std::thread> readers;
  std::vector<int> polls(kClients), wrong(kClients), failures(kClients);
  for (int i = 0; i < kClients; ++i)
    readers.emplace_back([&, i] {
      std::string line;
      int values = 0;
      while (values < kPolls * kCount && clients[i]->ReadLine(line, 20s)) {
        std::smatch m;
        if (std::regex_search(line, m, valueLine)) {
          const int ref = std::stoi(m[1]), value = std::stoi(m[2]);
          if (ref < i * kCount || ref >= (i + 1) * kCount || value != LibmodbusSlave::Value(ref))
            ++wrong[i];
          ++values;
        } else if (line.find("failed") != std::string::npos) {
          ++failures[i];
        }
      }
      polls[i] = values / kCount;
    });
  for (auto& r : readers) r.join();
  for (int i = 0; i < kClients; ++i) {
    EXPECT_EQ(polls[i], kPolls) << "client " << i;
    EXPECT_EQ(wrong[i], 0) << "client " << i;
    EXPECT_EQ(failures[i], 0) << "client " << i;
  }
  clients.clear();
  srv_.CloseConnection();  // takes the gateway with it
  EXPECT_TRUE(gateway_->StopServer());
  EXPECT_FALSE(gateway_->StartServer());
}

TEST_F(ProxyTest, GatewayNeedsAnOpenConnectionAndMayOutliveItsProxy) {
  auto srv = std::make_unique<TModbusSrv>();
  EXPECT_EQ(srv->CreateTCPServer(), nullptr);
  auto slave = LibmodbusSlave::Tcp();
  ASSERT_TRUE(srv->OpenConnection("COM1", 2));
  Configure(*srv, 1, 500, 5, slave->Port());
  ASSERT_TRUE(srv->Connect());
  auto gateway = srv->CreateTCPServer();
  ASSERT_NE(gateway, nullptr);
  gateway->Set_TcpPort(slave->Port());
  EXPECT_FALSE(gateway->StartServer());  // the port is taken
  gateway->Set_TcpPort(kdtest::FreeTcpPort());
  EXPECT_TRUE(gateway->StartServer());

  // The proxy goes first; the server stays for the gateway, and ends with it.
  const int pid = srv->ServerProcessId();
  srv.reset();
  EXPECT_EQ(::kill(pid, 0), 0);
  EXPECT_TRUE(gateway->StopServer());
  gateway.reset();
  EXPECT_NE(::kill(pid, 0), 0);
}

// One connection more than the limit is closed at once; clients that send
// nothing for the idle time-out are dropped, and their places are free again.
TEST_F(GatewayTest, ClientLimitAndIdleTimeOut) {
  Start(3, 1);
  RawClient idle1(port_), idle2(port_), active(port_);
  for (RawClient* c : {&idle1, &idle2, &active}) {
    ASSERT_TRUE(c->Connected());
    EXPECT_EQ(c->Read(0, 2), ReadAnswer(0, 2));
  }
  RawClient extra(port_);
  EXPECT_TRUE(extra.ClosedWithin(2s));  // refused, not queued

  // The active client keeps its place while the idle ones are dropped.
  const auto until = kd::mb::Clock::now() + 2500ms;
  while (kd::mb::Clock::now() < until) {
    ASSERT_EQ(active.Read(5, 1), ReadAnswer(5, 1));
    std::this_thread::sleep_for(200ms);
  }
  EXPECT_TRUE(idle1.ClosedWithin(5s));
  EXPECT_TRUE(idle2.ClosedWithin(5s));
  RawClient later(port_);
  EXPECT_EQ(later.Read(7, 3), ReadAnswer(7, 3));
  EXPECT_EQ(active.Read(5, 1), ReadAnswer(5, 1));
}

// A client that sends requests and never reads the answers: the others are
// served without waiting on it, and it is dropped once its unread answers
// pass the bound.
TEST_F(GatewayTest, AClientThatDoesNotReadDelaysNobody) {
  Start();
  RawClient stuck(port_, 4096);
  ASSERT_TRUE(stuck.Connected());
  const timeval second{1, 0};
  ::setsockopt(stuck.Fd(), SOL_SOCKET, SO_SNDTIMEO, &second, sizeof second);
  // It sends until the gateway drops it (a send then fails), for 20 s at most.
  std::atomic<int> sent{0};
  std::atomic<bool> dropped{false}, ended{false};
  std::thread flood([&] {
    struct End {
      std::atomic<bool>& flag;
      ~End() { flag = true; }
    } end{ended};
    const auto until = kd::mb::Clock::now() + 20s;
    const Bytes request = kd::mb::EncodeMbap(1, RawClient::ReadFrame(1, 0, 100));
    while (kd::mb::Clock::now() < until) {
      const ssize_t n = ::send(stuck.Fd(), request.data(), request.size(), MSG_NOSIGNAL);
      if (n > 0) {
        ++sent;
      } else if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
        dropped = errno == EPIPE || errno == ECONNRESET;
        return;
      }
    }
  });
  // Another client reads all along, each answer well within a stall of the gateway.
  RawClient other(port_);
  for (int i = 0; i < 100 || !ended; ++i) {
    const auto answer = other.Read(i % 90, 10, 1500ms);
    if (answer != ReadAnswer(i % 90, 10)) {
      ADD_FAILURE() << "read " << i;
      break;
    }
  }
  flood.join();
  EXPECT_TRUE(dropped);
  EXPECT_GT(sent.load(), 100);
  EXPECT_EQ(other.Read(0, 10), ReadAnswer(0, 10));
}

// A hundred clients connecting at once are all accepted at once (well before
// a lost handshake would be retried) and served.
TEST_F(GatewayTest, ABurstOfConnectionsIsAcceptedAtOnce) {
  Start();
  std::vector<UniqueFd> sockets;
  std::vector<pollfd> pending;
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(static_cast<std::uint16_t>(port_));
  sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  for (int i = 0; i < 100; ++i) {
    sockets.emplace_back(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    const int r = ::connect(sockets.back().get(), reinterpret_cast<sockaddr*>(&sa), sizeof sa);
    ASSERT_TRUE(r == 0 || errno == EINPROGRESS);
    pending.push_back({sockets.back().get(), POLLOUT, 0});
  }
  // A SYN dropped from a full queue is sent again after 1 s: every connection completes before.
  const auto deadline = kd::mb::Clock::now() + 900ms;
  int done = 0;
  while (done < 100 && kd::mb::Clock::now() < deadline) {
    ::poll(pending.data(), pending.size(), 50);
    done = 0;
    for (pollfd& p : pending) {
      if (p.revents & POLLOUT) p.events = 0;
      if (p.events == 0) ++done;
    }
  }
  EXPECT_EQ(done, 100);
  for (std::size_t i = 0; i < sockets.size(); ++i) {
    int error = 0;
    socklen_t len = sizeof error;
    ::getsockopt(sockets[i].get(), SOL_SOCKET, SO_ERROR, &error, &len);
    EXPECT_EQ(error, 0) << "client " << i;
  }
  // Each of them is served.
  for (std::size_t i = 0; i < sockets.size(); ++i) {
    const Bytes request =
        kd::mb::EncodeMbap(static_cast<std::uint16_t>(i), RawClient::ReadFrame(1, 0, 4));
    ASSERT_EQ(::send(sockets[i].get(), request.data(), request.size(), MSG_NOSIGNAL),
              static_cast<ssize_t>(request.size()));
  }
  const Bytes expected = kd::mb::EncodeMbap(0, ReadAnswer(0, 4));
  for (std::size_t i = 0; i < sockets.size(); ++i) {
    Bytes answer(expected.size());
    std::size_t got = 0;
    while (got < answer.size() &&
           kd::mb::WaitFd(sockets[i].get(), POLLIN, kd::mb::Clock::now() + 5s) ==
               kd::mb::WaitResult::Ready) {
      const ssize_t n = ::recv(sockets[i].get(), answer.data() + got, answer.size() - got, 0);
      if (n <= 0) break;
      got += static_cast<std::size_t>(n);
    }
    ASSERT_EQ(got, answer.size()) << "client " << i;
    EXPECT_TRUE(std::equal(answer.begin() + 2, answer.end(), expected.begin() + 2))
        << "client " << i;
  }
}

// Out of file descriptors: new connections are refused at once, the server
// does not spin, and the clients it has are still served.
TEST_F(GatewayTest, RunningOutOfDescriptorsNeitherSpinsNorStopsService) {
  Start();
  const int pid = srv_.ServerProcessId();
  RawClient first(port_);
  ASSERT_EQ(first.Read(0, 1), ReadAnswer(0, 1));
  // The limit caps new descriptor numbers: take the lowest one that leaves a
  // single number free below it (descriptors above it stay open).
  std::vector<int> fds;
  for (const auto& e : std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/fd"))
    fds.push_back(std::stoi(e.path().filename().string()));
  std::sort(fds.begin(), fds.end());
  int lowest = 1;
  while (lowest - static_cast<int>(std::lower_bound(fds.begin(), fds.end(), lowest) - fds.begin()) <
         1)
    ++lowest;
  rlimit limit{};
  ASSERT_EQ(::prlimit(pid, RLIMIT_NOFILE, nullptr, &limit), 0);
  limit.rlim_cur = static_cast<rlim_t>(lowest);
  ASSERT_EQ(::prlimit(pid, RLIMIT_NOFILE, &limit, nullptr), 0);
  RawClient second(port_);
  ASSERT_EQ(second.Read(1, 1), ReadAnswer(1, 1));

  std::vector<std::unique_ptr<RawClient>> refused;
  for (int i = 0; i < 10; ++i) refused.push_back(std::make_unique<RawClient>(port_));
  for (std::size_t i = 0; i < refused.size(); ++i)
    EXPECT_TRUE(refused[i]->ClosedWithin(3s)) << "client " << i;
  const auto before = kdtest::CpuTime(pid);
  std::this_thread::sleep_for(1s);
  EXPECT_LT(kdtest::CpuTime(pid) - before, 250ms);  // a spinning server takes most of the second
  EXPECT_EQ(first.Read(2, 1), ReadAnswer(2, 1));
  EXPECT_EQ(second.Read(3, 1), ReadAnswer(3, 1));
}

// The answer of the scripted slave to a read of `count` registers from `address`.
Bytes ScriptedAnswer(int address, int count) {
  Bytes frame{0x01, 0x03, static_cast<std::uint8_t>(2 * count)};
  for (int n = address; n < address + count; ++n) {
    frame.push_back(static_cast<std::uint8_t>((0x1000 + n) >> 8));
    frame.push_back(static_cast<std::uint8_t>(0x1000 + n));
  }
  return frame;
}

// Two clients at once on a slow slave: the one whose request the slave
// answers late, or not as asked, gets exception 0x0B; the other gets its own
// registers, never the late answer.
TEST_F(GatewayTest, EachClientGetsTheAnswerToItsOwnRequest) {
  kdtest::ScriptedSlave slave(kdtest::ScriptedSlave::Line::Rtu);
  ASSERT_NO_FATAL_FAILURE(StartSerial(slave.Path(), 500, 20));
  const Bytes timedOut{0x01, 0x83, kd::mb::kExGatewayTarget};
  for (kdtest::Step step : {kdtest::Step{kdtest::Misbehave::Late, 560ms},
                            kdtest::Step{kdtest::Misbehave::WrongCount}}) {
    SCOPED_TRACE(static_cast<int>(step.what));
    slave.Script({step});  // for whichever request reaches the line first
    RawClient two(port_), three(port_);
    ASSERT_TRUE(two.Send(1, RawClient::ReadFrame(1, 0, 2)));
    ASSERT_TRUE(three.Send(2, RawClient::ReadFrame(1, 0x10, 3)));
    const auto a = two.Receive(5s), b = three.Receive(5s);
    ASSERT_TRUE(a && b);
    EXPECT_TRUE(a->second == ScriptedAnswer(0, 2) || a->second == timedOut);
    EXPECT_TRUE(b->second == ScriptedAnswer(0x10, 3) || b->second == timedOut);
    EXPECT_NE(a->second == timedOut, b->second == timedOut)
        << testing::PrintToString(a->second) << testing::PrintToString(b->second);
  }
}

// The serial device behind the gateway goes and comes back: the idle port is
// let go, meanwhile each request is answered at once with exception 0x0A,
// afterwards with its data, and the gateway keeps listening all along.
TEST_F(GatewayTest, ALostLineComesBackByItself) {
  kdtest::PluggedSlave slave;
  ASSERT_NO_FATAL_FAILURE(StartSerial(slave.Device(), 3000, 20));
  RawClient client(port_);
  EXPECT_EQ(client.Read(2, 1), ScriptedAnswer(2, 1));
  slave.Pull();
  EXPECT_TRUE(slave.LetGoBy(srv_.ServerProcessId(), 3s));
  for (int i = 0; i < 3; ++i) {
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(client.Read(2, 1), (Bytes{0x01, 0x83, kd::mb::kExGatewayPath}));
    EXPECT_LT(std::chrono::steady_clock::now() - t0, 1500ms);  // never the time-out
  }
  slave.Plug();
  EXPECT_EQ(client.Read(2, 1), ScriptedAnswer(2, 1));
  RawClient later(port_);
  EXPECT_EQ(later.Read(5, 2), ScriptedAnswer(5, 2));
}

// A client that sends its requests and then shuts down its writing side
// still gets every answer, in order; then the gateway closes the connection.
TEST_F(GatewayTest, AHalfClosingClientGetsItsAnswers) {
  kdtest::ScriptedSlave slave(kdtest::ScriptedSlave::Line::Rtu);
  ASSERT_NO_FATAL_FAILURE(StartSerial(slave.Path(), 1000, 20));
  RawClient client(port_);
  for (std::uint16_t i = 0; i < 5; ++i) ASSERT_TRUE(client.Send(i, RawClient::ReadFrame(1, i, 2)));
  ASSERT_EQ(::shutdown(client.Fd(), SHUT_WR), 0);
  for (std::uint16_t i = 0; i < 5; ++i) {
    const auto m = client.Receive(5s);
    ASSERT_TRUE(m) << "answer " << i;
    EXPECT_EQ(m->first, i);
    EXPECT_EQ(m->second, ScriptedAnswer(i, 2));
  }
  EXPECT_TRUE(client.ClosedWithin(5s));
}

// Unit 0 goes to every slave of the line without an answer: the TCP client
// gets none, and the line is free for the next request at once.
TEST_F(GatewayTest, BroadcastIsSentAndNotAnswered) {
  ASSERT_NO_FATAL_FAILURE(StartRtu(5000));  // a silent slave would hold the line for 5 s

  RawClient client(port_);
  ASSERT_TRUE(
      client.Send(1, Bytes{0x00, 0x06, 0x00, 0x0A, 0x04, 0xD2}));  // register 10 := 1234, to all
  ASSERT_TRUE(client.Send(2, RawClient::ReadFrame(1, 10, 1)));
  auto m = client.Receive(2500ms);  // the read's answer, well before a time-out of the broadcast
  ASSERT_TRUE(m);
  EXPECT_EQ(m->first, 2);
  EXPECT_EQ(m->second, (Bytes{0x01, 0x03, 0x02, 0x04, 0xD2}));
  EXPECT_FALSE(client.Receive(300ms));  // and nothing for the broadcast
}

}  // namespace
