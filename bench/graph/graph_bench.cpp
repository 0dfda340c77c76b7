// Repaint of four diagrams with four traces each into a 1024 x 768 bitmap,
// and appending to a full trace with drop-oldest at several sizes.
#include <QGuiApplication>
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <random>

#include "ScopeLayout.h"

namespace {

void BM_Repaint(benchmark::State& state) {
  const int samples = static_cast<int>(state.range(0));
  scope::ScopeGraph s(1024, 768, 4);
  s.Fill(samples, samples);
  for (TlaDiagram* d : s.dgr)
    if (d->Traces().size() != 4) state.SkipWithError("not four traces per diagram");
  for (auto _ : state) s.graph.Repaint();
  state.counters["samples_per_trace"] = samples;
}
BENCHMARK(BM_Repaint)->Arg(320)->Arg(10000)->Unit(benchmark::kMillisecond)->MinTime(1.0);

// A new sample every iteration into a trace held at its size.
void BM_AddPointDropOldest(benchmark::State& state) {
  TlaGraph g;
  TlaDiagram* d = g.CreateNewDiagram("D");
  TlaTraccia* t = d->CreateNewTraccia("T");
  const int size = static_cast<int>(state.range(0));
  std::mt19937 rng(1);
  std::uniform_real_distribution<double> v(-100, 100);
  double x = 0;
  for (int i = 0; i < size; ++i) t->AddPoint(false, x++, v(rng));
  for (auto _ : state) {
    t->AddPoint(true, x++, v(rng));
    benchmark::DoNotOptimize(t->GetYLimits());
  }
  if (t->GetPointCount() != size) state.SkipWithError("count changed");
}
BENCHMARK(BM_AddPointDropOldest)->Arg(320)->Arg(10000)->Arg(1000000);

}  // namespace

int main(int argc, char** argv) {
  if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QGuiApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
