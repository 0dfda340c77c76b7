#pragma once
// A private registry for each test, with the mbserver of this build registered.
#include <gtest/gtest.h>

#include <memory>

#include "ModbusSrv.h"
#include "Registry.h"
#include "ServerRegistry.h"
#include "TestSupport.h"

class ProxyTest : public testing::Test {
 protected:
  ProxyTest() : config_("XDG_CONFIG_HOME", dir_.Path()) { kd::mb::RegisterServer(KD_MBSERVER_PATH); }

  static void MapComPort(int n, const std::string& device) {
    kd::Registry reg(kd::HKEY_LOCAL_MACHINE);
    ASSERT_TRUE(reg.OpenKey("HARDWARE\\DEVICEMAP\\SERIALCOMM", true));
    reg.WriteString("COM" + std::to_string(n), device);
  }

  // The settings in the order a connection sends them.
  static void Configure(TModbusSrv& srv, int port, int timeoutMs, int silentMs, int tcpPort = 502) {
    srv.Set_Retries(2);
    srv.Set_RaiseError(false);
    srv.Set_BaudRate(19200);
    srv.Set_ComPort(port);
    srv.Set_ByteSize(8);
    srv.Set_FlowControl(0);
    srv.Set_Parity(2);
    srv.Set_SilentInterval(silentMs);
    srv.Set_StopBits(0);
    srv.Set_TimeOut(timeoutMs);
    srv.Set_TransmissionMode(0);
    srv.Set_TcpPort(tcpPort);
    srv.Set_Host("127.0.0.1");
  }

  // A serial connection on COM1, mapped to `device`, opened and connected.
  static std::unique_ptr<TModbusSrv> ConnectSerial(const std::string& device, int timeoutMs,
                                                   int silentMs = 20) {
    MapComPort(1, device);
    auto srv = std::make_unique<TModbusSrv>();
    EXPECT_TRUE(srv->OpenConnection("COM1", 1));
    Configure(*srv, 1, timeoutMs, silentMs);
    EXPECT_TRUE(srv->Connect());
    return srv;
  }

  static std::int32_t Exchange(TModbusSrv& srv, const std::vector<std::uint8_t>& query,
                               std::vector<std::uint8_t>& response) {
    std::vector<std::uint8_t> unused;
    return srv.TxRxMessage(query, static_cast<int>(query.size()), response, 0, unused);
  }

  kdtest::TempDir dir_;
  kdtest::ScopedEnv config_;
};
