// Function-3 read of 10 registers from a libmodbus slave: libmodbus's own
// client against TModbusSrv + mbserver, over TCP loopback and over a socat
// pseudo-terminal pair in RTU (19200 baud, even parity; the silent interval
// is 0, as libmodbus keeps no gap between frames either).
//   mbserver_bench --benchmark_repetitions=10 --benchmark_report_aggregates_only=true
#include <benchmark/benchmark.h>
#include <modbus/modbus.h>

#include <memory>
#include <stdexcept>

#include "LibmodbusSlave.h"
#include "ModbusSrv.h"
#include "Registry.h"
#include "ServerRegistry.h"
#include "TestSupport.h"

namespace {

using kdtest::LibmodbusSlave;

// A private registry with this build's server.
struct Environment {
  kdtest::TempDir dir;
  kdtest::ScopedEnv config{"XDG_CONFIG_HOME", dir.Path()};
  Environment() { kd::mb::RegisterServer(KD_MBSERVER_PATH); }
  void MapCom1(const std::string& device) {
    kd::Registry reg(kd::HKEY_LOCAL_MACHINE);
    reg.OpenKey("HARDWARE\\DEVICEMAP\\SERIALCOMM", true);
    reg.WriteString("COM1", device);
  }
};

void Check(bool ok, benchmark::State& state, const char* what) {
  if (!ok) state.SkipWithError(what);
}

void Configure(TModbusSrv& srv, int tcpPort);

// Connects libmodbus's client, reads in a loop, frees it.
void ReadLoopLibmodbus(modbus_t* ctx, benchmark::State& state) {
  Check(modbus_connect(ctx) == 0, state, "connect failed");
  uint16_t regs[10];
  for (auto _ : state)
    if (modbus_read_registers(ctx, 0, 10, regs) != 10) state.SkipWithError("read failed");
  modbus_close(ctx);
  modbus_free(ctx);
}

// Opens a proxied connection of `type` (1 serial on COM1, 2 TCP), reads in a loop.
void ReadLoopProxy(int type, int tcpPort, benchmark::State& state) {
  TModbusSrv srv;
  Check(srv.OpenConnection("COM1", type), state, "open failed");
  Configure(srv, tcpPort);
  Check(srv.Connect(), state, "connect failed");
  const std::vector<std::uint8_t> query{0x01, 0x03, 0x00, 0x00, 0x00, 0x0A};
  std::vector<std::uint8_t> answer, unused;
  for (auto _ : state)
    if (srv.TxRxMessage(query, 6, answer, 0, unused) != 0 || answer.size() != 23)
      state.SkipWithError("read failed");
  srv.CloseConnection();
}

void Configure(TModbusSrv& srv, int tcpPort) {
  srv.Set_Retries(0);
  srv.Set_RaiseError(false);
  srv.Set_BaudRate(19200);
  srv.Set_ComPort(1);
  srv.Set_ByteSize(8);
  srv.Set_FlowControl(0);
  srv.Set_Parity(2);
  srv.Set_SilentInterval(0);
  srv.Set_StopBits(0);
  srv.Set_TimeOut(1000);
  srv.Set_TransmissionMode(0);
  srv.Set_TcpPort(tcpPort);
  srv.Set_Host("127.0.0.1");
}

void BM_TcpLibmodbus(benchmark::State& state) {
  auto slave = LibmodbusSlave::Tcp();
  ReadLoopLibmodbus(modbus_new_tcp("127.0.0.1", slave->Port()), state);
}

void BM_TcpProxy(benchmark::State& state) {
  Environment env;
  auto slave = LibmodbusSlave::Tcp();
  ReadLoopProxy(2, slave->Port(), state);
}

void BM_RtuLibmodbus(benchmark::State& state) {
  kdtest::SocatPair pair;
  auto slave = LibmodbusSlave::Rtu(pair.A());
  modbus_t* ctx = modbus_new_rtu(pair.B().c_str(), 19200, 'E', 8, 1);
  modbus_set_slave(ctx, 1);
  ReadLoopLibmodbus(ctx, state);
}

void BM_RtuProxy(benchmark::State& state) {
  Environment env;
  kdtest::SocatPair pair;
  auto slave = LibmodbusSlave::Rtu(pair.A());
  env.MapCom1(pair.B());
  ReadLoopProxy(1, 502, state);
}

}  // namespace

BENCHMARK(BM_TcpLibmodbus)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_TcpProxy)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_RtuLibmodbus)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_RtuProxy)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK_MAIN();
