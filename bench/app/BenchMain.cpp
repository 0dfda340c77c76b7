// Main of the window benchmarks: a QApplication on the offscreen platform
// when no other is asked for, the program's regional formats and title, and
// the Qt main loop behind kd::MainThread, as the program sets them up.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <cstdlib>

#include "Qtmainloop.h"
#include "Startup.h"

int main(int argc, char** argv) {
  if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QApplication app(argc, argv);
  SetRegionalFormats();
  QApplication::setApplicationName(kApplicationTitle);
  TQtMainThread mainThread;
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
