// The oscilloscope window:
// - StateUpdate: one drive state update's share of the scope at 1024 x 768:
//   nine samples into full traces, the Y ranges, the graph's repaint and the
//   window's paint;
// - ProgramCpuConnected: the program (its windows, data module and
//   connection worker, as started by the program) connected to kd730-sim on
//   COM1 with the drive running and the scope open, for one minute
//   (KD_BENCH_SECONDS overrides): CPU of the program's process and of its
//   mbserver, as a share of one core. Run it under xvfb-run with
//   QT_QPA_PLATFORM=xcb to include the X server's drawing path.
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <unistd.h>

#include <QEvent>
#include <QEventLoop>
#include <QTimer>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "AppTestSupport.h"
#include "Startup.h"
#include "Tlatraccia.h"
#include "Winmain.h"
#include "Winscope.h"

using namespace apptest;
using Clock = std::chrono::steady_clock;

namespace {

constexpr double kSecond = 1.0 / 86400.0;

// One state update as the data module feeds it (speed mode).
void FeedOnce(TScopeForm& s, int i) {
  const double x = 45000.5 + i * 0.1 * kSecond;
  s.AddDcBus({x, 540 + 5 * std::sin(i / 7.0)});
  s.AddArmatureVolt({x, 300 + 150 * std::sin(i / 40.0)});
  s.AddCurrent({x, 8 + 4 * std::sin(i / 15.0)});
  s.AddCurrentLimit({x, 10});
  s.AddArmatureSpeed({x, 60 + 40 * std::sin(i / 25.0)});
  s.AddFeedback({x, 60 + 40 * std::sin(i / 25.0 + 0.1)});
  s.AddSpeedRef({x, i % 200 < 100 ? 100.0 : 20.0});
}

void StateUpdate(benchmark::State& state) {
  ProgramFolder folder;
  TProgramForms forms;
  TScopeForm& scope = *ScopeForm;
  scope.resize(1024, 768);
  scope.show();
  Idle();
  int i = 0;
  for (; i < TScopeForm::ScopeSampleCount; ++i) FeedOnce(scope, i);
  for (auto _ : state) {
    FeedOnce(scope, i++);
    scope.laGraph.Repaint();
    scope.repaint();
  }
  if (scope.trkArmature->GetPointCount() != TScopeForm::ScopeSampleCount)
    state.SkipWithError("not 320 samples");
}
BENCHMARK(StateUpdate)->Unit(benchmark::kMillisecond)->MinTime(2.0);

double CpuSeconds(const rusage& u) {
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// CPU seconds of this process's mbserver, 0 when there is none.
double ServerCpuSeconds() {
  for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
    std::ifstream in(entry.path() / "stat");
    std::string line;
    if (!std::getline(in, line)) continue;
    const auto close = line.rfind(')');
    if (close == std::string::npos || line.find("(mbserver)") == std::string::npos) continue;
    std::istringstream rest(line.substr(close + 2));
    std::string field;
    long parent = 0;
    unsigned long utime = 0, stime = 0;
    rest >> field >> parent;
    if (parent != ::getpid()) continue;
    for (int f = 5; f < 14; ++f) rest >> field;
    rest >> utime >> stime;
    return static_cast<double>(utime + stime) / static_cast<double>(::sysconf(_SC_CLK_TCK));
  }
  return 0.0;
}

// Counts the paint events of a widget.
class PaintCounter : public QObject {
 public:
  int paints = 0;
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Paint) ++paints;
    return false;
  }
};

void ProgramCpuConnected(benchmark::State& state) {
  const char* env = std::getenv("KD_BENCH_SECONDS");
  const int seconds = env ? std::max(1, std::atoi(env)) : 60;
  ProgramFolder folder;
  folder.WriteIni("[ScopeForm]\nWidth=1024\nHeight=768\n");
  folder.RegisterServer();
  SimulatedDrive drive(folder);
  TProgramForms forms;
  MainForm->show();
  MainForm->acOpenConnection->trigger();
  if (!PumpUntil(
          [] {
            return CountLog("Data refreshed from drive.") > 0 && MainForm->acRefUp100->isEnabled();
          },
          std::chrono::seconds(30))) {
    state.SkipWithError("the drive did not come online");
    return;
  }
  for (int i = 0; i < 5; ++i) MainForm->acRefUp100->trigger();  // the drive runs at 50 %
  MainForm->acViewScope->trigger();
  PaintCounter counter;
  ScopeForm->installEventFilter(&counter);
  for (auto _ : state) {
    rusage before{}, after{};
    getrusage(RUSAGE_SELF, &before);
    const double serverBefore = ServerCpuSeconds();
    const auto start = Clock::now();
    // The program's own loop, as QApplication::exec runs it.
    QEventLoop loop;
    QTimer::singleShot(std::chrono::seconds(seconds), &loop, &QEventLoop::quit);
    loop.exec();
    const double wall = std::chrono::duration<double>(Clock::now() - start).count();
    getrusage(RUSAGE_SELF, &after);
    state.SetIterationTime(wall);
    state.counters["program_cpu_pct"] = 100.0 * (CpuSeconds(after) - CpuSeconds(before)) / wall;
    state.counters["mbserver_cpu_pct"] = 100.0 * (ServerCpuSeconds() - serverBefore) / wall;
    state.counters["scope_paints_per_s"] = counter.paints / wall;
  }
  if (!ScopeForm->isVisible() || ScopeForm->trkArmature->GetPointCount() == 0)
    state.SkipWithError("the scope showed no samples");
  SaveScreenshot("scope-bench.png", ScopeForm);
}
BENCHMARK(ProgramCpuConnected)->UseManualTime()->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace
