// kd730-sim through the program's own road: the server proxy, a real mbserver
// process and its RTU and TCP lines. Function 0x41 is the case no general
// master can frame (its length is not in the answer).
#include <gtest/gtest.h>

#include "ProxyTestBase.h"
#include "SimProcess.h"

using namespace kdsim;
using Bytes = std::vector<std::uint8_t>;

namespace {

const std::string kSim = KD_SIM_EXE;
const std::string kPar = std::string(KD_DATA_DIR) + "/KD730_Parameters.par";

// A private registry with this build's mbserver registered.
class SimThroughMbserver : public ProxyTest {};

TEST_F(SimThroughMbserver, IdentificationAndScanOverRtu) {
  kdtest::SocatPair ptys;
  SimProcess sim(kSim, {"--rtu", ptys.A(), "--par", kPar, "--slave", "4", "--version", "1.10",
                        "--version-letters", "B"});
  MapComPort(2, ptys.B());
  TModbusSrv srv;
  ASSERT_TRUE(srv.OpenConnection("COM2", 1));
  srv.Set_BaudRate(19200);
  srv.Set_ComPort(2);
  srv.Set_Parity(2);
  srv.Set_TimeOut(1000);
  ASSERT_TRUE(srv.Connect());

  Bytes answer;
  ASSERT_EQ(Exchange(srv, {4, 0x41}, answer), 0);
  EXPECT_EQ(answer, (Bytes{4, 0x41, 0, 7, 0x02, 0xDA, 0xFF, 0xFF, 0, 110, 'B', 0xFF}));
  ASSERT_EQ(Exchange(srv, {4, 0x42}, answer), 0);
  EXPECT_EQ(answer, (Bytes{4, 0x42, 0, 124, 0, 62}));
  ASSERT_EQ(Exchange(srv, {4, 0x43, 0, 10}, answer), 0);
  EXPECT_EQ(answer, (Bytes{4, 0x43, 0, 48, 0, 2}));  // CfgFlags and its twin
  EXPECT_EQ(Exchange(srv, {4, 0x43, 0, 62}, answer), static_cast<std::int32_t>(0x80048202u));
  // Another slave address: the drive stays silent.
  EXPECT_EQ(Exchange(srv, {5, 0x41}, answer), static_cast<std::int32_t>(0x80040201u));
}

TEST_F(SimThroughMbserver, IdentificationOverTcp) {
  SimProcess sim(kSim, {"--tcp", "127.0.0.1:0", "--par", kPar});
  TModbusSrv srv;
  ASSERT_TRUE(srv.OpenConnection("COM1", 2));
  srv.Set_Host("127.0.0.1");
  srv.Set_TcpPort(sim.TcpPort());
  srv.Set_TimeOut(1000);
  ASSERT_TRUE(srv.Connect());
  Bytes answer;
  ASSERT_EQ(Exchange(srv, {1, 0x41}, answer), 0);
  EXPECT_EQ(answer, (Bytes{1, 0x41, 0, 7, 0x02, 0xDA, 0xFF, 0xFF, 0, 105, 0xFF, 0xFF}));
}

}  // namespace
