// One program of the shipped machine model (244 registers, 574 bytes, moved
// in 6 blocks) between the PC and qzmachine-sim over Modbus TCP through
// mbserver, against the time of one request:
// - RoundTrip: one function-3 read of one register;
// - Move/1, Move/2, Move/3 (from the machine, to it, compare): a whole ProgMove
//   run (the slot selection, confirmed at once, and the blocks). Counters: requests per
//   move and the move's time in round trips (the transfer's own cost beyond
//   its requests shows as a ratio above the request count).
#include <benchmark/benchmark.h>

#include <chrono>
#include <memory>

#include "MainThread.h"
#include "ModbusSrv.h"
#include "ServerRegistry.h"
#include "SimProcess.h"
#include "TestSupport.h"
#include "Tladmcollectioncmp.h"
#include "Tlambsimpletransacls.h"
#include "Tlaqzmachinecmp.h"

namespace {

using Clock = std::chrono::steady_clock;

// The simulated machine (selections confirmed at once), a connection to it
// and a machine device with its image.
struct Road {
  kdtest::TempDir config;
  kdtest::ScopedEnv env{"XDG_CONFIG_HOME", config.Path()};
  kd::ScopedQueueLoop loop;
  kdsim::SimProcess sim{KD_QZSIM_EXE,
                        {"--tcp", "127.0.0.1:0", "--par",
                         std::string(KD_DATA_DIR) + "/QZ420_Machine.par", "--select-delay", "0"}};
  TlaDMCollection coll;
  TlaQZMachine machine;
  std::unique_ptr<TModbusSrv> srv;

  Road() {
    kd::mb::RegisterServer(KD_MBSERVER_PATH);
    coll.SetFilePath(KD_DATA_DIR);
    machine.CreateRegDataBuffer(coll.LoadRegDefsListFor("KDP9_KD420v210"));
    machine.ChangeSlaveAddress(1);
    srv = std::make_unique<TModbusSrv>();
    srv->OpenConnection("TCP", 2);
    srv->Set_Retries(0);
    srv->Set_TimeOut(1000);
    srv->Set_TcpPort(sim.TcpPort());
    srv->Set_Host("127.0.0.1");
    if (!srv->Connect()) throw std::runtime_error("no connection to the simulated machine");
  }
};

Road& TheRoad() {
  static Road road;
  return road;
}

double Seconds(Clock::duration d) {
  return std::chrono::duration<double>(d).count();
}

// The mean time of n single-register reads, in seconds.
double RoundTripSeconds(Road& road, int n) {
  TlaMBReadHoldRegisters read(1, 0, 1, std::make_unique<TlaThreadBuffer>(2), 0);
  const auto start = Clock::now();
  for (int i = 0; i < n; ++i) read.Run(*road.srv);
  return Seconds(Clock::now() - start) / n;
}

void RoundTrip(benchmark::State& state) {
  Road& road = TheRoad();
  TlaMBReadHoldRegisters read(1, 0, 1, std::make_unique<TlaThreadBuffer>(2), 0);
  for (auto _ : state)
    if (read.Run(*road.srv) != 0) state.SkipWithError("read failed");
}
BENCHMARK(RoundTrip)->Unit(benchmark::kMicrosecond);

void Move(benchmark::State& state) {
  Road& road = TheRoad();
  TlaQZProgMove* move = road.machine.CreateProgMoveTransaction({}, {}, {}, {});
  int blocks = 0;
  move->OnProgress = [&](TlaMBTransaction*, int, int) { ++blocks; };
  move->SetProgNum(4);
  move->StartMove(static_cast<int>(state.range(0)));
  double total = 0;
  for (auto _ : state) {
    const auto start = Clock::now();
    if (move->Run(*road.srv) != 0) state.SkipWithError("move failed");
    total += Seconds(Clock::now() - start);
  }
  road.loop.ProcessEvents();
  const double perMove = total / static_cast<double>(state.iterations());
  const double requests =
      2.0 + static_cast<double>(blocks) / static_cast<double>(state.iterations());
  state.counters["requests"] = requests;
  state.counters["round_trips"] = perMove / RoundTripSeconds(road, 200);
}
BENCHMARK(Move)
    ->Arg(TlaQZProgMove::FromMachine)
    ->Arg(TlaQZProgMove::ToMachine)
    ->Arg(TlaQZProgMove::CompareMode)
    ->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
