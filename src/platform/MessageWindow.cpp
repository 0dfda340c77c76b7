#include "MessageWindow.h"

#include <atomic>

#include "MainThread.h"

namespace kd {

struct MessageWindow::State {
  std::atomic<bool> alive{true};
  Handler handler;
};

MessageWindow::MessageWindow(Handler handler) : state_(std::make_shared<State>()) {
  state_->handler = std::move(handler);
}

MessageWindow::~MessageWindow() { state_->alive = false; }

void MessageWindow::Post(unsigned msg, std::intptr_t wParam, std::intptr_t lParam) const {
  MainThread::Post([state = state_, msg, wParam, lParam] {
    if (state->alive && state->handler) state->handler(msg, wParam, lParam);
  });
}

}  // namespace kd
