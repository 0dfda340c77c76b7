// The Modbus-TCP gateway of mbserver in front of a libmodbus slave: function-3
// reads of 10 registers by 1, 10 and 100 libmodbus clients at once through the
// gateway, beside one client reading the slave directly; the line is TCP
// loopback (the gateway's own cost) or RTU over a socat pseudo-terminal pair.
// The time per iteration is one request of one client; items_per_second is
// the throughput of all clients together. GatewayIdleCpu reports the server's
// CPU time per second of wall time with 100 idle clients connected.
//   gateway_bench --benchmark_repetitions=5 --benchmark_report_aggregates_only=true
#include <benchmark/benchmark.h>
#include <modbus/modbus.h>
#include <unistd.h>

#include <chrono>
#include <memory>
#include <mutex>
#include <thread>

#include "LibmodbusSlave.h"
#include "ModbusSrv.h"
#include "Registry.h"
#include "ServerRegistry.h"
#include "Tlambsetupcls.h"
#include "TestSupport.h"

namespace {

using kdtest::LibmodbusSlave;

enum class Line { Tcp, Rtu };

// A private registry, the slave on its line, and a gateway in front of it.
class Rig {
 public:
  explicit Rig(Line line) {
    kd::mb::RegisterServer(KD_MBSERVER_PATH);
    if (line == Line::Tcp) {
      slave_ = LibmodbusSlave::Tcp();
    } else {
      pair_ = std::make_unique<kdtest::SocatPair>();
      slave_ = LibmodbusSlave::Rtu(pair_->A());
      kd::Registry reg(kd::HKEY_LOCAL_MACHINE);
      reg.OpenKey("HARDWARE\\DEVICEMAP\\SERIALCOMM", true);
      reg.WriteString("COM1", pair_->B());
    }
    TlaMBSetup setup;  // 19200 baud, 8 bits, one stop bit; the slave on 127.0.0.1
    setup.Retries = 0;
    setup.PortNumber = 1;
    setup.Parity = 2;
    setup.SilentInt = 0;
    setup.Timeout = 1000;
    setup.TCPIPPort = slave_->Port();
    srv_ = std::make_unique<TModbusSrv>();
    srv_->OpenConnection("COM1", line == Line::Tcp ? 2 : 1);
    setup.SendTo(*srv_);
    if (!srv_->Connect()) throw std::runtime_error("the line does not open");
    gateway_ = srv_->CreateTCPServer();
    port_ = kdtest::FreeTcpPort();
    gateway_->Set_LocalAddress("127.0.0.1");
    gateway_->Set_TcpPort(port_);
    if (!gateway_->StartServer()) throw std::runtime_error("the gateway does not start");
  }
  ~Rig() {
    gateway_.reset();
    srv_.reset();
  }

  int GatewayPort() const { return port_; }
  int ServerPid() const { return srv_->ServerProcessId(); }
  // A client of a slave of its own, alike on a line alike (the gateway holds its slave's line).
  modbus_t* DirectClient(Line line) {
    if (line == Line::Tcp) {
      directSlave_ = LibmodbusSlave::Tcp();
      return modbus_new_tcp("127.0.0.1", directSlave_->Port());
    }
    directPair_ = std::make_unique<kdtest::SocatPair>();
    directSlave_ = LibmodbusSlave::Rtu(directPair_->A());
    modbus_t* ctx = modbus_new_rtu(directPair_->B().c_str(), 19200, 'E', 8, 1);
    modbus_set_slave(ctx, 1);
    return ctx;
  }

 private:
  kdtest::TempDir dir_;
  kdtest::ScopedEnv config_{"XDG_CONFIG_HOME", dir_.Path()};
  std::unique_ptr<kdtest::SocatPair> pair_;
  std::unique_ptr<LibmodbusSlave> slave_;
  std::unique_ptr<kdtest::SocatPair> directPair_;
  std::unique_ptr<LibmodbusSlave> directSlave_;
  std::unique_ptr<TModbusSrv> srv_;
  std::shared_ptr<TCTCPIPServer> gateway_;
  int port_ = 0;
};

// Client counts of the gateway runs.
void ByClients(benchmark::internal::Benchmark* b) {
  b->Threads(1)->Threads(10)->Threads(100)->UseRealTime()->Unit(benchmark::kMicrosecond);
}

// One rig per line for the whole run; the first thread of a benchmark makes it.
Rig& RigFor(Line line) {
  static std::mutex lock;
  static std::unique_ptr<Rig> rigs[2];
  std::lock_guard guard(lock);
  auto& rig = rigs[line == Line::Tcp ? 0 : 1];
  if (!rig) rig = std::make_unique<Rig>(line);
  return *rig;
}

void ReadLoop(modbus_t* ctx, benchmark::State& state) {
  modbus_set_slave(ctx, 1);  // a TCP client's default unit, 255, is no slave of an RTU line
  modbus_set_response_timeout(ctx, 5, 0);
  if (modbus_connect(ctx) != 0) state.SkipWithError("connect failed");
  uint16_t regs[10];
  for (auto _ : state)
    if (modbus_read_registers(ctx, 0, 10, regs) != 10) state.SkipWithError("read failed");
  state.SetItemsProcessed(state.iterations());
  modbus_close(ctx);
  modbus_free(ctx);
}

void BM_Direct(benchmark::State& state, Line line) {
  ReadLoop(RigFor(line).DirectClient(line), state);
}

void BM_Gateway(benchmark::State& state, Line line) {
  ReadLoop(modbus_new_tcp("127.0.0.1", RigFor(line).GatewayPort()), state);
}

void BM_GatewayIdleCpu(benchmark::State& state) {
  Rig& rig = RigFor(Line::Tcp);
  std::vector<modbus_t*> idle;
  for (int i = 0; i < 100; ++i) {
    idle.push_back(modbus_new_tcp("127.0.0.1", rig.GatewayPort()));
    modbus_connect(idle.back());
  }
  double cpu = 0, wall = 0;
  for (auto _ : state) {
    const auto before = kdtest::CpuTime(rig.ServerPid());
    const auto start = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(1));
    cpu += static_cast<double>((kdtest::CpuTime(rig.ServerPid()) - before).count());
    wall +=
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  }
  state.counters["cpu_ms_per_s"] = wall > 0 ? 1000 * cpu / wall : 0;
  for (modbus_t* ctx : idle) {
    modbus_close(ctx);
    modbus_free(ctx);
  }
}

}  // namespace

BENCHMARK_CAPTURE(BM_Direct, Tcp, Line::Tcp)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_Gateway, Tcp, Line::Tcp)->Apply(ByClients);
BENCHMARK_CAPTURE(BM_Direct, Rtu, Line::Rtu)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_Gateway, Rtu, Line::Rtu)->Apply(ByClients);
BENCHMARK(BM_GatewayIdleCpu)->Iterations(3)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
