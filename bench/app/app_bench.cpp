// The drive-setup window online behind the program, its drive simulated on a
// pseudo terminal (the worker polls it meanwhile):
// - RefreshSetup: the enabling rules and every row and option group rewritten
//   from the register image;
// - RefreshSetupAndPaint: the same, then the window painted at once.
#include <benchmark/benchmark.h>

#include <memory>

#include "AppTestSupport.h"
#include "Startup.h"
#include "Winmain.h"
#include "Winsetup.h"

namespace {

using namespace apptest;

// The program connected to the simulated drive, its setup window open.
class OnlineProgram {
 public:
  OnlineProgram() {
    folder_.RegisterServer();
    drive_ = std::make_unique<SimulatedDrive>(folder_);
    forms_ = std::make_unique<TProgramForms>();
    MainForm->acOpenConnection->trigger();
    online_ = PumpUntil(
        [] { return CountLog("Data refreshed from drive.") == 2 && KD730Setup->isVisible(); });
  }
  bool Online() const { return online_; }

 private:
  ProgramFolder folder_;
  std::unique_ptr<SimulatedDrive> drive_;
  std::unique_ptr<TProgramForms> forms_;
  bool online_ = false;
};

void RefreshSetup(benchmark::State& state) {
  OnlineProgram program;
  if (!program.Online()) {
    state.SkipWithError("not online");
    return;
  }
  for (auto _ : state) KD730Setup->RefreshSetup();
}
BENCHMARK(RefreshSetup)->Unit(benchmark::kMicrosecond);

void RefreshSetupAndPaint(benchmark::State& state) {
  OnlineProgram program;
  if (!program.Online()) {
    state.SkipWithError("not online");
    return;
  }
  for (auto _ : state) {
    KD730Setup->RefreshSetup();
    KD730Setup->repaint();
  }
}
BENCHMARK(RefreshSetupAndPaint)->Unit(benchmark::kMicrosecond);

}  // namespace
