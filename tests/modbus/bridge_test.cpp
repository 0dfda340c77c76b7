// The Modbus-TCP gateway component: its errors and events, and on the real
// road in front of kd730-sim on a pseudo terminal, read and written by mbpoll
// and libmodbus clients.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <modbus.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <regex>
#include <thread>

#include "LibmodbusSlave.h"
#include "ProxyTestBase.h"
#include "SimProcess.h"
#include "Tlambbridgecmp.h"
#include "Tlambtransactioncls.h"

using namespace std::chrono_literals;

namespace {

// Standard error of this process (and of the servers it starts meanwhile) goes to a file.
class StderrToFile {
 public:
  explicit StderrToFile(std::string path) : path_(std::move(path)) {
    std::fflush(stderr);
    saved_ = ::dup(2);
    const int fd = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    ::dup2(fd, 2);
    ::close(fd);
  }
  ~StderrToFile() {
    std::fflush(stderr);
    ::dup2(saved_, 2);
    ::close(saved_);
  }
  std::string Text() const { return kdtest::ReadFile(path_); }

 private:
  std::string path_;
  int saved_ = -1;
};

struct ModbusFree {
  void operator()(modbus_t* ctx) const {
    modbus_close(ctx);
    modbus_free(ctx);
  }
};
using Modbus = std::unique_ptr<modbus_t, ModbusFree>;

Modbus ConnectTcp(int port) {
  Modbus ctx(modbus_new_tcp("127.0.0.1", port));
  if (!ctx) return ctx;
  modbus_set_slave(ctx.get(), 1);
  modbus_set_response_timeout(ctx.get(), 5, 0);
  if (modbus_connect(ctx.get()) != 0) ctx.reset();
  return ctx;
}

// A bridge whose events are logged.
struct LoggedBridge : TlaMBBridge {
  LoggedBridge() {
    OnStartServer = [this](TlaMBBridge*) { log.push_back("start"); };
    OnStopServer = [this](TlaMBBridge*) { log.push_back("stop"); };
    OnError = [this](TlaMBBridge* sender, std::int32_t e) {
      EXPECT_EQ(sender, this);
      log.push_back("error " + std::to_string(e));
    };
  }
  std::vector<std::string> Take() { return std::exchange(log, {}); }
  std::vector<std::string> log;
};
using Log = std::vector<std::string>;

class BridgeTest : public ProxyTest {};

}  // namespace

TEST_F(BridgeTest, ErrorsWithoutALine) {
  LoggedBridge b;
  EXPECT_EQ(b.HostName, "127.0.0.1");
  EXPECT_EQ(b.TcpPort, 502);
  EXPECT_EQ(b.Setup().HostName, "127.0.0.1");
  EXPECT_EQ(b.Setup().TCPIPPort, 502);
  EXPECT_EQ(b.GetLocalHostIP(), "127.0.0.1");

  EXPECT_FALSE(b.StartServer());
  EXPECT_EQ(b.GetLastError(), kMBBridgeNotConnected);
  EXPECT_FALSE(b.StopServer());  // nothing to stop: the last error stays

  b.SetServerActive(true);  // no connection name: the settings are not valid
  EXPECT_EQ(b.GetLastError(), kMBOpenFailed);
  EXPECT_EQ(b.Take(), (Log{"error -1"}));
  EXPECT_FALSE(b.GetConnected());

  b.Setup().Name = "COM1";
  b.Setup().PortNumber = 1;  // a device that does not exist
  MapComPort(1, dir_.File("no-such-tty"));
  b.SetServerActive(true);
  EXPECT_EQ(b.Take(), (Log{"error -1"}));

  kd::mb::UnregisterServer();
  LoggedBridge unregistered;
  unregistered.Setup().Name = "COM1";
  unregistered.Setup().PortNumber = 1;
  unregistered.SetServerActive(true);
  EXPECT_EQ(unregistered.Take(), (Log{"error -4"}));
}

// A port that is taken: the start fails with -6 and OnError, the connection
// is closed again, and the server says why. On a free port the gateway
// serves, tells where, and stops.
TEST_F(BridgeTest, StartsOnAFreePortAndTellsWhyNotOnATakenOne) {
  auto slave = kdtest::LibmodbusSlave::Tcp();
  StderrToFile err(dir_.File("stderr.txt"));
  LoggedBridge b;
  b.Setup().Name = "Line";
  b.Setup().ConnType = 2;
  b.Setup().TCPIPPort = slave->Port();
  b.TcpPort = slave->Port();  // taken by the slave
  b.SetServerActive(true);
  EXPECT_EQ(b.GetLastError(), kMBBridgeStart);
  EXPECT_EQ(b.Take(), (Log{"error -6"}));
  EXPECT_FALSE(b.GetServerActive());
  EXPECT_FALSE(b.GetConnected());
  EXPECT_NE(err.Text().find("127.0.0.1:" + std::to_string(slave->Port()) +
                            ": bind: Address already in use"),
            std::string::npos)
      << err.Text();

  b.TcpPort = kdtest::FreeTcpPort();
  b.SetServerActive(true);
  EXPECT_EQ(b.Take(), (Log{"start"}));
  EXPECT_TRUE(b.GetServerActive());
  EXPECT_EQ(b.GetLastError(), 0);
  EXPECT_EQ(b.GetLocalHostIP(), "127.0.0.1");
  b.SetServerActive(true);  // already active: nothing
  EXPECT_TRUE(b.Take().empty());
  {
    Modbus client = ConnectTcp(b.TcpPort);
    ASSERT_TRUE(client);
    uint16_t value = 0;
    ASSERT_EQ(modbus_read_registers(client.get(), 7, 1, &value), 1);
    EXPECT_EQ(value, kdtest::LibmodbusSlave::Value(7));
  }
  b.SetServerActive(false);
  EXPECT_EQ(b.Take(), (Log{"stop"}));
  EXPECT_FALSE(b.GetConnected());
  EXPECT_EQ(b.GetLocalHostIP(), "127.0.0.1");
  EXPECT_FALSE(ConnectTcp(b.TcpPort));  // no longer listening
}

// The real road: mbpoll writes and reads, a libmodbus client writes and
// reads, then fifty libmodbus clients read five hundred times each, every
// answer the one of the registers asked for.
TEST_F(BridgeTest, ServesTheSimulatedDriveToManyClients) {
  kdtest::SocatPair pair;
  kdsim::SimProcess sim(
      KD_SIM_EXE, {"--rtu", pair.A(), "--par", std::string(KD_DATA_DIR) + "/KD730_Parameters.par",
                   "--slave", "1", "--baud", "19200", "--parity", "even"});
  MapComPort(1, pair.B());
  LoggedBridge b;
  TlaMBSetup& s = b.Setup();
  s.Name = "COM1";
  s.PortNumber = 1;
  s.Parity = 2;
  s.SilentInt = 0;
  s.Timeout = 1000;
  b.TcpPort = kdtest::FreeTcpPort();
  b.SetServerActive(true);
  ASSERT_EQ(b.Take(), (Log{"start"}));
  const std::string port = std::to_string(b.TcpPort);

  // Setup registers 1..16 := 1001..1016 by mbpoll (function 16), 17 := 4321 by libmodbus (function
  // 6); the drive takes up to 17 registers in one request.
  constexpr int kFirst = 1, kCount = 17;
  std::vector<std::string> write{"mbpoll", "-m", "tcp", "-a", "1",  "-t",       "4",
                                 "-0",     "-r", "1",   "-p", port, "127.0.0.1"};
  for (int k = 1; k < kCount; ++k) write.push_back(std::to_string(1000 + k));
  kdtest::ChildProcess writer(write);
  EXPECT_EQ(writer.Wait(30s), 0) << writer.ReadAll(1s);
  Modbus ctx = ConnectTcp(b.TcpPort);
  ASSERT_TRUE(ctx);
  ASSERT_EQ(modbus_write_register(ctx.get(), kCount, 4321), 1) << modbus_strerror(errno);
  auto expected = [](int k) { return k == kCount ? 4321 : 1000 + k; };

  kdtest::ChildProcess reader({"mbpoll", "-m", "tcp", "-a", "1", "-t", "4", "-0", "-r", "1", "-c",
                               std::to_string(kCount), "-1", "-p", port, "127.0.0.1"});
  const std::string text = reader.ReadAll(30s);
  const std::regex valueLine(R"(\[(\d+)\]:\s+(-?\d+))");
  int values = 0;
  for (std::sregex_iterator m(text.begin(), text.end(), valueLine), end; m != end; ++m, ++values)
    EXPECT_EQ(std::stoi((*m)[2]), expected(std::stoi((*m)[1]))) << (*m)[0];
  EXPECT_EQ(values, kCount) << text;

  constexpr int kClients = 50, kReads = 500, kBlock = 3;
  std::vector<int> good(kClients), bad(kClients);
  std::vector<std::thread> clients;
  for (int i = 0; i < kClients; ++i)
    clients.emplace_back([&, i] {
      Modbus c = ConnectTcp(b.TcpPort);
      if (!c) return;
      const int first = kFirst + i % (kCount - kBlock + 1);
      for (int r = 0; r < kReads; ++r) {
        uint16_t regs[kBlock] = {};
        const bool ok = modbus_read_registers(c.get(), first, kBlock, regs) == kBlock &&
                        regs[0] == expected(first) && regs[1] == expected(first + 1) &&
                        regs[2] == expected(first + 2);
        ++(ok ? good : bad)[static_cast<std::size_t>(i)];
      }
    });
  for (auto& t : clients) t.join();
  for (int i = 0; i < kClients; ++i) {
    EXPECT_EQ(good[static_cast<std::size_t>(i)], kReads) << "client " << i;
    EXPECT_EQ(bad[static_cast<std::size_t>(i)], 0) << "client " << i;
  }
  b.SetServerActive(false);
  EXPECT_EQ(b.Take(), (Log{"stop"}));
}
