#pragma once
// A hidden message window: made on the main thread; any thread may post to it;
// its handler runs on the main thread, messages in posting order. Destroying
// the window drops the messages still queued for it.
#include <cstdint>
#include <functional>
#include <memory>

namespace kd {

inline constexpr unsigned WM_USER = 0x0400;

class MessageWindow {
 public:
  using Handler = std::function<void(unsigned msg, std::intptr_t wParam, std::intptr_t lParam)>;

  explicit MessageWindow(Handler handler);
  ~MessageWindow();
  MessageWindow(const MessageWindow&) = delete;
  MessageWindow& operator=(const MessageWindow&) = delete;

  // Any thread.
  void Post(unsigned msg, std::intptr_t wParam = 0, std::intptr_t lParam = 0) const;

 private:
  struct State;
  std::shared_ptr<State> state_;
};

}  // namespace kd
