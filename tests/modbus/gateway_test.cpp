// The gateway of a proxied connection, read by real Modbus-TCP clients.
#include <memory>
#include <regex>
#include <thread>

#include "LibmodbusSlave.h"
#include "MbCodes.h"
#include "MbConnection.h"
#include "ProxyTestBase.h"

using namespace std::chrono_literals;
using kdtest::LibmodbusSlave;

namespace {

// Twenty mbpoll clients at once, each polling its own five registers two
// hundred times through the gateway onto an RTU line: every value must be the
// one of the register asked for (no answer reaches the wrong client).
TEST_F(ProxyTest, GatewayServesManyClientsAtOnce) {
  kdtest::SocatPair pair;
  auto slave = LibmodbusSlave::Rtu(pair.A());
  MapComPort(1, pair.B());
  TModbusSrv srv;
  ASSERT_TRUE(srv.OpenConnection("COM1", 1));
  Configure(srv, 1, 1000, 1);
  ASSERT_TRUE(srv.Connect());
  auto gateway = srv.CreateTCPServer();
  ASSERT_NE(gateway, nullptr);
  const int port = kdtest::FreeTcpPort();
  gateway->Set_LocalAddress("127.0.0.1");
  gateway->Set_TcpPort(port);
  ASSERT_TRUE(gateway->StartServer());
  EXPECT_FALSE(gateway->GetLocalHostIP().empty());

  constexpr int kClients = 20, kPolls = 200, kCount = 5;
  std::vector<std::unique_ptr<kdtest::ChildProcess>> clients;
  for (int i = 0; i < kClients; ++i)
    clients.push_back(std::make_unique<kdtest::ChildProcess>(std::vector<std::string>{
        "mbpoll", "-m", "tcp", "-a", "1", "-t", "4", "-0", "-r", std::to_string(i * kCount), "-c",
        std::to_string(kCount), "-l", "11", "-o", "5", "-p", std::to_string(port), "127.0.0.1"}));

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
  srv.CloseConnection();  // takes the gateway with it
  EXPECT_TRUE(gateway->StopServer());
  EXPECT_FALSE(gateway->StartServer());
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

}  // namespace
