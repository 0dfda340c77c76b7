// Window places from the program INI file on the two screens of the window
// tests (1920 x 1080, and 1280 x 1024 to its right): every window lands whole
// on a screen at a size between its minimum and the screen's, and the sample
// INI file's first start leaves the main window's tool bar and log free.
#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QPlainTextEdit>
#include <QScreen>
#include <QTimer>
#include <optional>

#include "AppTestSupport.h"
#include "Startup.h"
#include "Winabout.h"
#include "Winmain.h"
#include "Winscope.h"
#include "Winsetup.h"

using namespace apptest;

namespace {

const QRect kDesk(0, 0, 1920, 1080);
const QRect kSide(1920, 0, 1280, 1024);

std::string Name(const QWidget* window) { return window->objectName().toStdString(); }

// The screen area that holds the whole frame, or an empty one.
QRect ScreenHolding(const QRect& frame) {
  for (const QScreen* screen : QGuiApplication::screens())
    if (screen->availableGeometry().contains(frame)) return screen->availableGeometry();
  return {};
}

void ExpectOnAScreen(const QWidget* window) {
  const QRect frame = window->frameGeometry();
  const QRect screen = ScreenHolding(frame);
  ASSERT_FALSE(screen.isEmpty()) << Name(window) << " at " << frame.x() << "," << frame.y() << " "
                                 << frame.width() << "x" << frame.height();
  const QSize minimum = window->minimumSize().expandedTo(window->minimumSizeHint());
  EXPECT_GE(window->width(), std::max(minimum.width(), 1)) << Name(window);
  EXPECT_GE(window->height(), std::max(minimum.height(), 1)) << Name(window);
}

// The program's windows from an INI file, the main, setup and scope windows shown.
class Placement : public ::testing::Test {
 protected:
  void SetUp() override {
    const QList<QScreen*> screens = QGuiApplication::screens();
    if (screens.size() != 2 || screens[0]->availableGeometry() != kDesk ||
        screens[1]->availableGeometry() != kSide)
      GTEST_SKIP() << "needs the two offscreen screens of screens.json";
  }
  void Start(const std::string& ini) {
    folder_.WriteIni(ini);
    forms_ = std::make_unique<TProgramForms>();
    for (QWidget* w : std::initializer_list<QWidget*>{MainForm, KD730Setup, ScopeForm}) w->show();
    Idle();
  }
  void TearDown() override {
    // Nothing is online: the setup window closes without a question.
    forms_.reset();
  }

  ProgramFolder folder_;
  std::unique_ptr<TProgramForms> forms_;
};

TEST_F(Placement, WindowsFromTheIniFileLandWholeOnAScreen) {
  struct Case {
    const char* what;
    const char* ini;
    QWidget* (*window)();
    QRect screen;  // where it lands
    std::optional<QPoint> at;  // its frame's place there, when it must be that one
  };
  const auto main = [] { return static_cast<QWidget*>(MainForm); };
  const auto setup = [] { return static_cast<QWidget*>(KD730Setup); };
  const auto scope = [] { return static_cast<QWidget*>(ScopeForm); };
  const Case cases[] = {
      {"a scope larger than any screen", "[ScopeForm]\nLeft=100\nTop=100\nWidth=20000\nHeight=20000\n",
       scope, kDesk, std::nullopt},
      {"a scope of no size", "[ScopeForm]\nLeft=100\nTop=100\nWidth=0\nHeight=0\n", scope, kDesk,
       QPoint(100, 100)},
      {"a main window from a monitor that is gone", "[MainForm]\nLeft=5000\nTop=3000\n", main,
       kSide, std::nullopt},
      {"a setup window on the second screen", "[KD730Setup]\nLeft=2100\nTop=200\n", setup, kSide,
       QPoint(2100, 200)},
      {"a setup window above and left of every screen", "[KD730Setup]\nLeft=-400\nTop=-300\n",
       setup, kDesk, QPoint(0, 0)},
      {"a setup window across the two screens", "[KD730Setup]\nLeft=1500\nTop=700\n", setup,
       kDesk, std::nullopt},
      {"a scope hanging off the second screen",
       "[ScopeForm]\nLeft=2900\nTop=700\nWidth=700\nHeight=500\n", scope, kSide, std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_NO_FATAL_FAILURE(Start(c.ini));
    QWidget* w = c.window();
    ASSERT_NO_FATAL_FAILURE(ExpectOnAScreen(w));
    EXPECT_EQ(ScreenHolding(w->frameGeometry()), c.screen);
    if (c.at) {
      EXPECT_EQ(w->frameGeometry().topLeft(), *c.at);
    }
    forms_.reset();
  }

  // The scope's size within its minimum and the screen's, and its graph's.
  ASSERT_NO_FATAL_FAILURE(Start("[ScopeForm]\nWidth=20000\nHeight=20000\n"));
  EXPECT_LE(ScopeForm->frameGeometry().width(), kDesk.width());
  EXPECT_LE(ScopeForm->frameGeometry().height(), kDesk.height());
  EXPECT_LE(ScopeForm->laGraph.GetWidth(), kDesk.width());  // no bitmap for a larger window
  EXPECT_LE(ScopeForm->laGraph.GetHeight(), kDesk.height());
  forms_.reset();
  ASSERT_NO_FATAL_FAILURE(Start("[ScopeForm]\nWidth=0\nHeight=0\n"));
  EXPECT_EQ(ScopeForm->size(), ScopeForm->minimumSize());
  EXPECT_GE(ScopeForm->minimumWidth(), 200);
  EXPECT_GE(ScopeForm->minimumHeight(), 150);
}

// The About box, sized by its [AboutForm] texts, stands whole on the main
// window's screen: a message longer than the screen scrolls.
TEST_F(Placement, AboutBoxStandsWholeOnTheMainWindowsScreen) {
  std::string message;
  for (int i = 1; i <= 120; ++i) {
    // Appended, not summed: g++ 12 warns falsely (-Wrestrict) at -O3.
    if (i > 1) message += ',';
    message.append("\"Line ").append(std::to_string(i)).append("\"");
  }
  for (const auto& [ini, screen] :
       {std::pair<std::string, QRect>{"[AboutForm]\nMessage=" + message + "\n", kDesk},
        {"[MainForm]\nLeft=2000\nTop=50\n[AboutForm]\nMessage=" + message + "\n", kSide},
        {"[AboutForm]\nApplication=X\n", kDesk}}) {
    SCOPED_TRACE(ini.substr(0, 40));
    ASSERT_NO_FATAL_FAILURE(Start(ini));
    QRect shown;
    QTimer::singleShot(0, [&] {
      shown = AboutForm->frameGeometry();
      AboutForm->reject();
    });
    AboutForm->exec();
    EXPECT_EQ(ScreenHolding(shown), screen)
        << shown.x() << "," << shown.y() << " " << shown.width() << "x" << shown.height();
    EXPECT_LE(std::abs(shown.center().x() - screen.center().x()), 1);
    forms_.reset();
  }
}

// A first start with the sample INI file on the first screen: the setup and
// scope windows leave the main window's tool bar and log uncovered.
TEST_F(Placement, SampleIniLeavesTheMainToolBarAndLogFree) {
  folder_.WriteSampleIni();
  forms_ = std::make_unique<TProgramForms>();
  for (QWidget* w : std::initializer_list<QWidget*>{MainForm, KD730Setup, ScopeForm}) w->show();
  Idle();
  const auto global = [](const QWidget* w) { return QRect(w->mapToGlobal(QPoint(0, 0)), w->size()); };
  for (QWidget* w : std::initializer_list<QWidget*>{MainForm, KD730Setup, ScopeForm}) {
    ASSERT_NO_FATAL_FAILURE(ExpectOnAScreen(w));
    EXPECT_EQ(ScreenHolding(w->frameGeometry()), kDesk) << Name(w);
  }
  for (const QWidget* part : std::initializer_list<const QWidget*>{MainForm->tbarMain, MainForm->Memo})
    for (const QWidget* over : std::initializer_list<const QWidget*>{KD730Setup, ScopeForm})
      EXPECT_FALSE(over->frameGeometry().intersects(global(part)))
          << Name(over) << " covers " << Name(part);
  EXPECT_FALSE(KD730Setup->frameGeometry().intersects(ScopeForm->frameGeometry()));
}

}  // namespace
