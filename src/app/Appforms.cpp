#include "Appforms.h"

#include <QEvent>
#include <QGuiApplication>
#include <QMargins>
#include <QScreen>
#include <QTimer>
#include <QWidget>
#include <QWindow>
#include <algorithm>
#include <climits>

#include "IniFile.h"

namespace {

// Squared distance from a point to a rectangle (0 inside).
long long Distance(const QPoint& p, const QRect& r) {
  const long long dx = p.x() < r.left() ? r.left() - p.x() : p.x() > r.right() ? p.x() - r.right() : 0;
  const long long dy = p.y() < r.top() ? r.top() - p.y() : p.y() > r.bottom() ? p.y() - r.bottom() : 0;
  return dx * dx + dy * dy;
}

// The available area of the screen the frame overlaps most, else of the
// nearest one; empty without screens.
QRect ScreenArea(const QRect& frame) {
  QRect best;
  long long most = 0;
  long long nearest = LLONG_MAX;
  for (const QScreen* screen : QGuiApplication::screens()) {
    const QRect area = screen->availableGeometry();
    const QRect common = area & frame;
    const long long overlap = common.isEmpty() ? 0 : 1LL * common.width() * common.height();
    const long long distance = Distance(frame.center(), area);
    if (overlap > most || (most == 0 && overlap == 0 && distance < nearest)) {
      best = area;
      most = overlap;
      nearest = distance;
    }
  }
  return best;
}

// The start of a span of length inside [first, first + room): kept where it
// fits, else moved in, else at first.
int Clamp(int start, int length, int first, int room) {
  return std::max(first, std::min(start, first + room - length));
}

// The window frame's margins as the window system has them: none before the
// window manager framed the window. (QWidget::frameGeometry lags behind when
// the frame came without a move of the window, as when the window manager
// started after the program.)
QMargins FrameMargins(const QWidget* window) {
  const QWindow* handle = window->windowHandle();
  return handle ? handle->frameMargins() : QMargins();
}

// Places its window again once the window manager has framed it, which it
// does some time after the window was first shown: the frame must fit on the
// screen as well. Looks for the frame until it is there or a bound passes (no
// window manager, or one that frames nothing). Owned by the window.
class TPlaceCheck : public QObject {
 public:
  explicit TPlaceCheck(QWidget* window) : QObject(window), window_(window) {
    window->installEventFilter(this);
    connect(&timer_, &QTimer::timeout, this, &TPlaceCheck::Look);
  }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (watched == window_ && event->type() == QEvent::Show) {
      window_->removeEventFilter(this);
      timer_.start(0);  // the first look once the show is done
    }
    return false;
  }

 private:
  static constexpr int kInterval = 50;  // ms between looks
  static constexpr int kLooks = 200;    // 10 s

  void Look() {
    const QMargins margins = FrameMargins(window_);
    const bool framed = window_->isVisible() && !margins.isNull();
    if (framed)
      PlaceOnScreen(window_, window_->geometry().topLeft() - QPoint(margins.left(), margins.top()),
                    window_->size());
    if (framed || ++looks_ >= kLooks) {
      timer_.stop();
      deleteLater();
    } else {
      timer_.setInterval(kInterval);
    }
  }

  QWidget* window_;
  QTimer timer_;
  int looks_ = 0;
};

}  // namespace

void PlaceOnScreen(QWidget* window, const QPoint& framePos, const QSize& size) {
  const QMargins margins = FrameMargins(window);
  const QSize frame(margins.left() + margins.right(), margins.top() + margins.bottom());
  const QSize minimum = window->minimumSize().expandedTo(window->minimumSizeHint());
  QSize wanted = size.expandedTo(minimum).boundedTo(window->maximumSize());
  // Far beyond any screen is as good as the farthest a window can be.
  QPoint at(std::clamp(framePos.x(), -QWIDGETSIZE_MAX, QWIDGETSIZE_MAX),
            std::clamp(framePos.y(), -QWIDGETSIZE_MAX, QWIDGETSIZE_MAX));
  const QRect area = ScreenArea(QRect(at, wanted + frame));
  if (!area.isEmpty()) {
    wanted = wanted.boundedTo(area.size() - frame).expandedTo(minimum);
    const QSize whole = wanted + frame;
    at = QPoint(Clamp(at.x(), whole.width(), area.x(), area.width()),
                Clamp(at.y(), whole.height(), area.y(), area.height()));
  }
  if (margins.isNull()) {
    // A frame that comes later stands where the window was moved to.
    window->resize(wanted);
    window->move(at);
  } else {
    window->setGeometry(QRect(at + QPoint(margins.left(), margins.top()), wanted));
  }
}

void ReadFormPosition(QWidget* window, const kd::IniFile& ini, const std::string& section,
                      bool withSize) {
  const QPoint framePos(ini.ReadInteger(section, "Left", 0), ini.ReadInteger(section, "Top", 0));
  const QSize size = withSize ? QSize(ini.ReadInteger(section, "Width", window->width()),
                                      ini.ReadInteger(section, "Height", window->height()))
                              : window->size();
  PlaceOnScreen(window, framePos, size);
  if (!window->isVisible()) new TPlaceCheck(window);  // owned by the window (Qt parent)
}

QRect RestoredGeometry(const QWidget* window) {
  const bool restored =
      !(window->windowState() & (Qt::WindowMaximized | Qt::WindowMinimized | Qt::WindowFullScreen));
  return restored ? window->geometry() : window->normalGeometry();
}

void WriteFormPosition(QWidget* window, kd::IniFile& ini, const std::string& section) {
  const QRect client = RestoredGeometry(window);
  const QMargins frame = FrameMargins(window);
  window->setWindowState(Qt::WindowNoState);
  ini.WriteInteger(section, "Top", client.y() - frame.top());
  ini.WriteInteger(section, "Left", client.x() - frame.left());
  ini.WriteInteger(section, "Width", client.width() + frame.left() + frame.right());
  ini.WriteInteger(section, "Height", client.height() + frame.top() + frame.bottom());
}
