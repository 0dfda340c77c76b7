// Main of the window benchmarks, in the program's Qt set-up.
#include <benchmark/benchmark.h>

#include "AppTestSupport.h"

int main(int argc, char** argv) {
  return apptest::RunInProgramSetup(argc, argv, [&] {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
  });
}
