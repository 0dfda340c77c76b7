// The program's windows on a real X server with a window manager (an Xvfb and
// an openbox of the test's own, at the size given by --screen=WxH): once the
// window manager has framed them, the main, setup, scope and About windows
// stand whole, frame included, on the screen's available area, moved no
// further than needed and sized down only when they cannot fit. The frames
// are the X server's own, read over a connection of the test's.
#include <gtest/gtest.h>
#include <xcb/xcb.h>

#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>
#include <QTimer>
#include <QWidget>
#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <initializer_list>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "AppTestSupport.h"
#include "IniFile.h"
#include "Startup.h"
#include "TestSupport.h"
#include "Winabout.h"
#include "Winmain.h"
#include "Winscope.h"
#include "Winsetup.h"

using namespace apptest;

// Readable rectangles in test failures.
inline void PrintTo(const QRect& r, std::ostream* out) {
  *out << r.x() << "," << r.y() << " " << r.width() << "x" << r.height();
}

namespace {

// The X server as the window manager left it.
class XServer {
 public:
  XServer() : connection_(xcb_connect(nullptr, nullptr)) {
    if (xcb_connection_has_error(connection_)) throw std::runtime_error("no X connection");
    root_ = xcb_setup_roots_iterator(xcb_get_setup(connection_)).data->root;
  }
  ~XServer() { xcb_disconnect(connection_); }
  XServer(const XServer&) = delete;
  XServer& operator=(const XServer&) = delete;

  // Waits until the window manager takes in a window of the test's own:
  // windows mapped from then on are framed. The window is mapped again now
  // and then, as one mapped just before the manager took the screen stays
  // unframed.
  bool AwaitWindowManager(std::chrono::seconds timeout) const {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    const xcb_window_t probe = xcb_generate_id(connection_);
    xcb_create_window(connection_, XCB_COPY_FROM_PARENT, probe, root_, 0, 0, 100, 100, 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT, 0, nullptr);
    bool framed = false;
    for (int look = 0; !framed && std::chrono::steady_clock::now() < deadline; ++look) {
      if (look % 50 == 0) {
        xcb_unmap_window(connection_, probe);
        xcb_map_window(connection_, probe);
        xcb_flush(connection_);
      }
      std::this_thread::sleep_for(20ms);
      const xcb_window_t parent = Parent(probe);
      framed = parent != XCB_WINDOW_NONE && parent != root_;
    }
    xcb_destroy_window(connection_, probe);
    xcb_flush(connection_);
    return framed;
  }

  // The frame around the window: the window manager's window, a child of the
  // root, that holds it; none while no window manager holds it, or while it
  // has not yet grown around the window (decorated windows only).
  std::optional<QRect> Frame(const QWidget* w, bool decorated = true) const {
    if (!w->isVisible()) return std::nullopt;
    const xcb_window_t client = static_cast<xcb_window_t>(w->winId());
    xcb_window_t frame = client;
    for (bool held = false;; held = true) {
      const xcb_window_t parent = Parent(frame);
      if (parent == XCB_WINDOW_NONE) return std::nullopt;
      if (parent == root_) {
        if (!held) return std::nullopt;
        break;
      }
      frame = parent;
    }
    const std::optional<QRect> outer = Geometry(frame);
    const std::optional<QRect> inner = Geometry(client);
    if (!outer || !inner) return std::nullopt;
    if (decorated && outer->width() <= inner->width() && outer->height() <= inner->height())
      return std::nullopt;
    return outer;
  }

 private:
  std::optional<QRect> Geometry(xcb_window_t w) const {
    xcb_get_geometry_reply_t* g =
        xcb_get_geometry_reply(connection_, xcb_get_geometry(connection_, w), nullptr);
    if (!g) return std::nullopt;
    const QRect r(g->x, g->y, g->width + 2 * g->border_width, g->height + 2 * g->border_width);
    free(g);
    return r;
  }

  xcb_window_t Parent(xcb_window_t w) const {
    xcb_query_tree_reply_t* t =
        xcb_query_tree_reply(connection_, xcb_query_tree(connection_, w), nullptr);
    if (!t) return XCB_WINDOW_NONE;
    const xcb_window_t parent = t->parent;
    free(t);
    return parent;
  }

  xcb_connection_t* connection_;
  xcb_window_t root_ = XCB_WINDOW_NONE;
};

std::string ScreenSize() {
  const QSize s = QGuiApplication::primaryScreen()->size();
  return std::to_string(s.width()) + "x" + std::to_string(s.height());
}

QRect Area() {
  return QGuiApplication::primaryScreen()->availableGeometry();
}

// Saves the whole screen, window frames included, under the build folder.
void SaveScreen(const std::string& name) {
  std::filesystem::create_directories(KD_SCREENSHOT_DIR);
  const QPixmap shot = QGuiApplication::primaryScreen()->grabWindow(0);
  EXPECT_TRUE(shot.save(QString::fromStdString(std::string(KD_SCREENSHOT_DIR) + "/" + name)));
}

class WindowFrames : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { x_ = std::make_unique<XServer>(); }
  static void TearDownTestSuite() { x_.reset(); }
  void TearDown() override { forms_.reset(); }

  void Start(const std::string& ini) {
    folder_.WriteIni(ini);
    forms_ = std::make_unique<TProgramForms>();
    for (QWidget* w : {static_cast<QWidget*>(MainForm), static_cast<QWidget*>(KD730Setup),
                       static_cast<QWidget*>(ScopeForm)})
      w->show();
  }

  static bool Whole(const QWidget* w) {
    const std::optional<QRect> frame = x_->Frame(w);
    return frame && Area().contains(*frame);
  }

  // Waits (bounded) until the window manager framed every window and then
  // until each stands whole; true when they all still do a moment later.
  static bool AwaitWhole(std::initializer_list<const QWidget*> windows) {
    const auto all = [&](auto holds) { return std::all_of(windows.begin(), windows.end(), holds); };
    EXPECT_TRUE(PumpUntil(
        [&] { return all([](const QWidget* w) { return x_->Frame(w).has_value(); }); }, 30s))
        << "no frame within 30 s";
    const bool whole = PumpUntil([&] { return all(Whole); }, 10s);
    PumpUntil([] { return false; }, 200ms);
    return whole && all(Whole);
  }

  ProgramFolder folder_;
  std::unique_ptr<TProgramForms> forms_;
  static inline std::unique_ptr<XServer> x_;
};

// The shipped INI file: every window stands whole with its frame, moved in
// only as far as its frame needs, at the size it was given; the program sees
// the frame where the X server has it.
TEST_F(WindowFrames, ShippedIniFile) {
  ASSERT_NO_FATAL_FAILURE(
      Start(kdtest::ReadFile(std::string(KD_DATA_DIR) + "/KD730_TuneDesk.ini")));
  const QSize scopeSize = ScopeForm->size();
  EXPECT_TRUE(AwaitWhole({MainForm, KD730Setup, ScopeForm}));
  SaveScreen("frames-" + ScreenSize() + ".png");

  const kd::IniFile ini(folder_.File("KD730_TuneDesk.ini"));
  const QRect area = Area();
  for (const auto& [w, section] : {std::pair<const QWidget*, const char*>{MainForm, "MainForm"},
                                   {KD730Setup, "KD730Setup"},
                                   {ScopeForm, "ScopeForm"}}) {
    SCOPED_TRACE(section);
    const std::optional<QRect> frame = x_->Frame(w);
    ASSERT_TRUE(frame);
    EXPECT_TRUE(area.contains(*frame))
        << testing::PrintToString(frame) << " outside " << testing::PrintToString(area);
    EXPECT_EQ(w->frameGeometry(), *frame);
    const QPoint wanted(ini.ReadInteger(section, "Left", 0), ini.ReadInteger(section, "Top", 0));
    EXPECT_EQ(frame->x(), std::clamp(wanted.x(), area.left(), area.right() + 1 - frame->width()));
    EXPECT_EQ(frame->y(), std::clamp(wanted.y(), area.top(), area.bottom() + 1 - frame->height()));
  }
  EXPECT_EQ(ScopeForm->size(), scopeSize);  // it fits: not sized down

  // The About box, centred on the screen.
  std::optional<QRect> about;
  const auto centred = [&] {
    about = x_->Frame(AboutForm, false);
    return about && std::abs(about->center().x() - area.center().x()) <= 1;
  };
  QTimer::singleShot(0, [&] {
    PumpUntil(centred, 30s);
    PumpUntil([] { return false; }, 200ms);
    about = x_->Frame(AboutForm, false);
    SaveScreen("frames-" + ScreenSize() + "-about.png");
    AboutForm->reject();
  });
  AboutForm->exec();
  ASSERT_TRUE(about) << "About box not framed within 30 s";
  EXPECT_TRUE(area.contains(*about))
      << testing::PrintToString(about) << " outside " << testing::PrintToString(area);
  EXPECT_LE(std::abs(about->center().x() - area.center().x()), 1) << testing::PrintToString(about);
}

// A scope larger than the screen fills the available area, frame included.
TEST_F(WindowFrames, ScopeLargerThanTheScreen) {
  ASSERT_NO_FATAL_FAILURE(Start("[ScopeForm]\nLeft=300\nTop=200\nWidth=4000\nHeight=4000\n"));
  EXPECT_TRUE(AwaitWhole({ScopeForm}));
  EXPECT_EQ(x_->Frame(ScopeForm), Area());
}

// A program the test starts and ends, SIGTERM first so that Xvfb removes its
// lock file and socket; it gets SIGTERM as well when the test dies.
class Helper {
 public:
  Helper(std::vector<std::string> argv, int capture)
      : process_(WithParentDeathSignal(std::move(argv)), capture) {}
  ~Helper() {
    process_.Signal(SIGTERM);
    process_.Wait(kdtest::Millis(5000));
  }
  Helper(const Helper&) = delete;
  Helper& operator=(const Helper&) = delete;
  kdtest::ChildProcess& Process() { return process_; }

 private:
  static std::vector<std::string> WithParentDeathSignal(std::vector<std::string> argv) {
    argv.insert(argv.begin(), {"setpriv", "--pdeathsig", "TERM", "--"});
    return argv;
  }

  kdtest::ChildProcess process_;
};

}  // namespace

int main(int argc, char** argv) {
  std::string size;
  for (int i = 1; i < argc; ++i)
    if (std::string(argv[i]).rfind("--screen=", 0) == 0) size = std::string(argv[i]).substr(9);
  if (size.empty()) {
    std::cerr << "usage: " << argv[0] << " --screen=WIDTHxHEIGHT [gtest options]\n";
    return 2;
  }
  try {
    // Xvfb picks a free display and writes its number.
    Helper xvfb({"Xvfb", "-displayfd", "1", "-screen", "0", size + "x24", "-nolisten", "tcp"},
                kdtest::ChildProcess::kStdout | kdtest::ChildProcess::kStderr);
    std::string line, seen;
    while (xvfb.Process().ReadLine(line, kdtest::Millis(30000))) {
      if (!line.empty() && line.find_first_not_of("0123456789") == std::string::npos) break;
      seen += line + "\n";
      line.clear();
    }
    if (line.empty()) {
      std::cerr << "Xvfb gave no display:\n" << seen;
      return 1;
    }
    setenv("DISPLAY", (":" + line).c_str(), 1);
    // The window manager with its default settings, not the user's.
    const kdtest::TempDir wmConfig;
    std::optional<Helper> openbox;
    {
      const kdtest::ScopedEnv config("XDG_CONFIG_HOME", wmConfig.Path());
      openbox.emplace(std::vector<std::string>{"openbox", "--sm-disable"},
                      kdtest::ChildProcess::kStderr);
    }
    if (!XServer().AwaitWindowManager(30s)) {
      std::cerr << "openbox framed no window within 30 s:\n"
                << openbox->Process().ReadAll(kdtest::Millis(1000));
      return 1;
    }
    // A session of the test's own: no session bus either (Qt would reach the
    // user's and keep its connection open to the end).
    setenv("DBUS_SESSION_BUS_ADDRESS", ("unix:path=" + wmConfig.File("no-bus")).c_str(), 1);
    setenv("QT_QPA_PLATFORM", "xcb", 1);
    return RunInProgramSetup(argc, argv, [&] {
      testing::InitGoogleTest(&argc, argv);
      return RUN_ALL_TESTS();
    });
  } catch (const std::exception& e) {
    std::cerr << e.what() << "\n";
    return 1;
  }
}
