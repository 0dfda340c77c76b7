// The connection worker against kd730-sim through mbserver over TCP.
//
// PeriodicReads: ten register reads due at every pass, for KD_BENCH_SECONDS
// (default 60). Counters: passes, the pass period (mean, smallest, largest
// and 99th-percentile deviation from 100 ms), the drift of the last pass against a 100 ms grid
// laid from the first, and the worker thread's CPU use in percent of a core.
// WaitingOnTheLine: one read to a slave address nobody answers, so every
// pass waits out the 500 ms time-out; the worker's CPU use while it waits.
//   mbworker_bench
//   KD_BENCH_SECONDS=10 mbworker_bench --benchmark_filter=Periodic
#include <benchmark/benchmark.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <mutex>
#include <numeric>

#include "MainThread.h"
#include "ServerRegistry.h"
#include "SimProcess.h"
#include "TestSupport.h"
#include "Tlambsimpletransacls.h"
#include "Tlambthreadthr.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(double fallback) {
  const char* text = std::getenv("KD_BENCH_SECONDS");
  const double v = text ? std::atof(text) : 0;
  return v > 0 ? v : fallback;
}

double ThreadCpuSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

// A read that notes, on the worker, when it ran and the worker's CPU time then.
class StampedRead : public TlaMBReadHoldRegisters {
 public:
  StampedRead(std::uint8_t slave, std::uint16_t address)
      : TlaMBReadHoldRegisters(slave, address, 1, std::make_unique<TlaThreadBuffer>(2), 1) {}
  ~StampedRead() override { LeaveOwner(); }
  std::int32_t Execute(TModbusSrv& server) override {
    {
      std::lock_guard lock(lock_);
      stamps_.push_back(Clock::now());
      cpu_.push_back(ThreadCpuSeconds());
    }
    return TlaMBReadHoldRegisters::Execute(server);
  }
  std::vector<Clock::time_point> Stamps() {
    std::lock_guard lock(lock_);
    return stamps_;
  }
  std::vector<double> Cpu() {
    std::lock_guard lock(lock_);
    return cpu_;
  }

 private:
  std::mutex lock_;
  std::vector<Clock::time_point> stamps_;
  std::vector<double> cpu_;
};

struct Stack {
  kdtest::TempDir dir;
  kdtest::ScopedEnv config{"XDG_CONFIG_HOME", dir.Path()};
  kd::ScopedQueueLoop loop;
  kdsim::SimProcess sim{KD_SIM_EXE, {"--tcp", "127.0.0.1:0", "--par", std::string(KD_DATA_DIR) + "/KD730_Parameters.par",
                                     "--slave", "1"}};
  Stack() { kd::mb::RegisterServer(KD_MBSERVER_PATH); }

  // Connects the worker to the simulator, lets it poll its items for
  // `seconds` while pumping the main loop, then disconnects it.
  bool Run(TlaMBThread& thread, double seconds, int timeoutMs) {
    TlaMBSetup& s = thread.Setup();
    s.Name = "TCP";
    s.ConnType = 2;
    s.HostName = "127.0.0.1";
    s.TCPIPPort = sim.TcpPort();
    s.Retries = 0;
    s.Timeout = timeoutMs;
    bool connected = false, closed = false;
    thread.OnConnect = [&](TlaMBThread*) { connected = true; };
    thread.OnDisconnect = [&](TlaMBThread*) { closed = true; };
    s.Enabled = true;
    if (!loop.RunUntil([&] { return connected; }, std::chrono::seconds(10))) return false;
    loop.RunUntil([] { return false; }, std::chrono::milliseconds(static_cast<long>(seconds * 1000)));
    s.Enabled = false;
    return loop.RunUntil([&] { return closed; }, std::chrono::seconds(10));
  }
};

void PeriodicReads(benchmark::State& state) {
  const double seconds = Seconds(60);
  for (auto _ : state) {
    Stack stack;
    TlaMBThread thread;
    std::vector<std::unique_ptr<StampedRead>> reads;
    for (std::uint16_t i = 0; i < 10; ++i) {
      reads.push_back(std::make_unique<StampedRead>(1, static_cast<std::uint16_t>(26 + i % 8)));
      reads.back()->SetActive(true);
      thread.Add(reads.back().get());
    }
    if (!stack.Run(thread, seconds, 1000)) {
      state.SkipWithError("no connection");
      break;
    }
    const auto stamps = reads.front()->Stamps();
    const auto cpu = reads.front()->Cpu();
    if (stamps.size() < 3) {
      state.SkipWithError("too few passes");
      break;
    }
    std::vector<double> periods;
    for (std::size_t i = 1; i < stamps.size(); ++i)
      periods.push_back(std::chrono::duration<double, std::milli>(stamps[i] - stamps[i - 1]).count());
    const double mean = std::accumulate(periods.begin(), periods.end(), 0.0) / static_cast<double>(periods.size());
    std::vector<double> deviations;
    for (double p : periods) deviations.push_back(std::fabs(p - 100.0));
    std::sort(deviations.begin(), deviations.end());
    const double worst = deviations.back();
    const double p99 = deviations[deviations.size() * 99 / 100];
    const double span = std::chrono::duration<double>(stamps.back() - stamps.front()).count();
    state.counters["passes"] = static_cast<double>(stamps.size());
    state.counters["period_mean_ms"] = mean;
    state.counters["period_min_ms"] = *std::min_element(periods.begin(), periods.end());
    state.counters["period_worst_dev_ms"] = worst;
    state.counters["period_p99_dev_ms"] = p99;
    state.counters["drift_ms"] = span * 1000.0 - 100.0 * static_cast<double>(periods.size());
    state.counters["worker_cpu_pct"] = 100.0 * (cpu.back() - cpu.front()) / span;
    bool ok = true;
    for (auto& r : reads) ok = ok && r->GetLastResult() == 0;
    if (!ok) state.SkipWithError("a read failed");
  }
}
BENCHMARK(PeriodicReads)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

void WaitingOnTheLine(benchmark::State& state) {
  const double seconds = Seconds(60) / 3;
  for (auto _ : state) {
    Stack stack;
    TlaMBThread thread;
    StampedRead silent(9, 26);  // the drive is slave 1
    silent.SetActive(true);
    thread.Add(&silent);
    if (!stack.Run(thread, seconds, 500)) {
      state.SkipWithError("no connection");
      break;
    }
    const auto stamps = silent.Stamps();
    const auto cpu = silent.Cpu();
    if (stamps.size() < 3 || silent.GetLastResult() != kMBTimeout) {
      state.SkipWithError("no time-outs");
      break;
    }
    const double span = std::chrono::duration<double>(stamps.back() - stamps.front()).count();
    state.counters["passes"] = static_cast<double>(stamps.size());
    state.counters["period_mean_ms"] = span * 1000.0 / static_cast<double>(stamps.size() - 1);
    state.counters["worker_cpu_pct"] = 100.0 * (cpu.back() - cpu.front()) / span;
  }
}
BENCHMARK(WaitingOnTheLine)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
