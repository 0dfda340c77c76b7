#include "Appforms.h"

#include <QEvent>
#include <QGuiApplication>
#include <QScreen>
#include <QTimer>
#include <QWidget>
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

// Places its window again once it was first shown: only then is its frame
// known, which must fit on the screen as well. Owned by the window.
class TPlaceCheck : public QObject {
 public:
  explicit TPlaceCheck(QWidget* window) : QObject(window), window_(window) {
    window->installEventFilter(this);
  }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (watched == window_ && event->type() == QEvent::Show) {
      window_->removeEventFilter(this);
      // After the show, when the window system has framed the window.
      QTimer::singleShot(0, window_, [w = window_] {
        PlaceOnScreen(w, w->frameGeometry().topLeft(), w->size());
      });
      deleteLater();
    }
    return false;
  }

 private:
  QWidget* window_;
};

}  // namespace

void PlaceOnScreen(QWidget* window, const QPoint& framePos, const QSize& size) {
  // The frame around the inner size, as far as the window system tells it
  // (nothing before the window was shown).
  const QRect inner = window->geometry();
  const QRect outer = window->frameGeometry();
  const QSize frame(outer.width() - inner.width(), outer.height() - inner.height());
  const QSize minimum = window->minimumSize().expandedTo(window->minimumSizeHint());
  QSize wanted = size.expandedTo(minimum).boundedTo(window->maximumSize());
  // Far beyond any screen is as good as the farthest a window can be.
  const QPoint at(std::clamp(framePos.x(), -QWIDGETSIZE_MAX, QWIDGETSIZE_MAX),
                  std::clamp(framePos.y(), -QWIDGETSIZE_MAX, QWIDGETSIZE_MAX));
  const QRect area = ScreenArea(QRect(at, wanted + frame));
  if (area.isEmpty()) {
    window->resize(wanted);
    window->move(at);
    return;
  }
  wanted = wanted.boundedTo(area.size() - frame).expandedTo(minimum);
  const QSize whole = wanted + frame;
  window->resize(wanted);
  window->move(Clamp(at.x(), whole.width(), area.x(), area.width()),
               Clamp(at.y(), whole.height(), area.y(), area.height()));
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
  const QRect frame = window->frameGeometry();
  const QRect now = window->geometry();
  window->setWindowState(Qt::WindowNoState);
  ini.WriteInteger(section, "Top", client.y() - (now.y() - frame.y()));
  ini.WriteInteger(section, "Left", client.x() - (now.x() - frame.x()));
  ini.WriteInteger(section, "Width", client.width() + frame.width() - now.width());
  ini.WriteInteger(section, "Height", client.height() + frame.height() - now.height());
}
