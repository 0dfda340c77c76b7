// The KD730 over Modbus TCP against kd730-sim through mbserver:
// - EnabledToOnline: from setting the connection's Enabled to slave state 6
//   (server start, connection, identification, data model, image);
// - ActStateSamples: live-state samples delivered to OnStateUpdate over one
//   minute (KD_BENCH_SECONDS overrides), their rate and the worst gap
//   (KD_BENCH_GAPS=1 lists every gap above 130 ms).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "DeviceStack.h"
#include "Tladevicekd730cmp.h"

using namespace devtest;
using Clock = std::chrono::steady_clock;

namespace {

void EnabledToOnline(benchmark::State& state) {
  Stack stack;
  SimLine sim(Line::Tcp, {});
  for (auto _ : state) {
    TlaDeviceKD730 dev;
    dev.DMColl = &stack.coll;
    {
      TlaMBThread thread;
      Stack::Attach(dev, thread, sim);
      const auto start = Clock::now();
      Stack::Open(thread);
      if (!stack.Online(dev)) state.SkipWithError("not online");
      state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
    }
  }
}
BENCHMARK(EnabledToOnline)->UseManualTime()->Iterations(20)->Unit(benchmark::kMillisecond);

void ActStateSamples(benchmark::State& state) {
  const char* env = std::getenv("KD_BENCH_SECONDS");
  const int seconds = env ? std::max(1, std::atoi(env)) : 60;
  Stack stack;
  SimLine sim(Line::Tcp, {});
  TlaDeviceKD730 dev;
  dev.DMColl = &stack.coll;
  TlaMBThread thread;
  std::vector<Clock::time_point> arrivals;
  dev.OnStateUpdate = [&](TlaMBTransaction*, std::int32_t) { arrivals.push_back(Clock::now()); };
  Stack::Attach(dev, thread, sim);
  Stack::Open(thread);
  if (!stack.Online(dev)) {
    state.SkipWithError("not online");
    return;
  }
  for (auto _ : state) {
    arrivals.clear();
    const auto end = Clock::now() + std::chrono::seconds(seconds);
    stack.RunUntil([&] { return Clock::now() >= end; }, std::chrono::seconds(seconds + 1));
  }
  double worst = 0.0, total = 0.0;
  for (std::size_t i = 1; i < arrivals.size(); ++i) {
    const double gap = std::chrono::duration<double, std::milli>(arrivals[i] - arrivals[i - 1]).count();
    worst = std::max(worst, gap);
    if (std::getenv("KD_BENCH_GAPS") && gap > 130) std::fprintf(stderr, "gap %zu: %.1f ms\n", i, gap);
    total += gap;
  }
  state.counters["samples"] = static_cast<double>(arrivals.size());
  state.counters["samples_per_s"] = static_cast<double>(arrivals.size()) / seconds;
  state.counters["worst_gap_ms"] = worst;
  state.counters["mean_gap_ms"] = arrivals.size() > 1 ? total / static_cast<double>(arrivals.size() - 1) : 0.0;
}
BENCHMARK(ActStateSamples)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();
