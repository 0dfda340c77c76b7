#include "MainThread.h"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <thread>

#include "Exception.h"

namespace kd {
namespace {

struct SyncCall {
  const std::function<void()>* fn = nullptr;
  bool done = false;
  std::exception_ptr error;
};

// The one main thread of the process and its queues.
struct Hub {
  std::mutex mutex;
  std::condition_variable wake;    // WaitUntil: a new Synchronize call or Wake()
  std::condition_variable synced;  // Synchronize: a call has run
  std::shared_ptr<MainLoop> loop;
  std::thread::id mainId;
  std::deque<SyncCall*> pending;
  unsigned long wakeCount = 0;
};

Hub& hub() {
  static Hub h;
  return h;
}

}  // namespace

void MainThread::Install(std::shared_ptr<MainLoop> loop) {
  Hub& h = hub();
  std::lock_guard lock(h.mutex);
  h.loop = std::move(loop);
  h.mainId = std::this_thread::get_id();
}

void MainThread::Uninstall() {
  Hub& h = hub();
  std::lock_guard lock(h.mutex);
  h.loop.reset();
  h.mainId = std::thread::id();
}

bool MainThread::IsInstalled() {
  Hub& h = hub();
  std::lock_guard lock(h.mutex);
  return h.loop != nullptr;
}

bool MainThread::IsMainThread() {
  Hub& h = hub();
  std::lock_guard lock(h.mutex);
  return h.loop && h.mainId == std::this_thread::get_id();
}

void MainThread::Post(std::function<void()> task) {
  std::shared_ptr<MainLoop> loop;
  {
    Hub& h = hub();
    std::lock_guard lock(h.mutex);
    loop = h.loop;
  }
  if (!loop) throw Exception("MainThread: no main loop installed");
  loop->Post(std::move(task));
}

void MainThread::Synchronize(const std::function<void()>& fn) {
  if (IsMainThread()) {
    fn();
    return;
  }
  Hub& h = hub();
  SyncCall call;
  call.fn = &fn;
  std::shared_ptr<MainLoop> loop;
  {
    // The loop is taken with the call queued, so that no later failure can
    // leave the call in the queue after this frame is gone.
    std::lock_guard lock(h.mutex);
    if (!h.loop) throw Exception("Synchronize: no main loop installed");
    loop = h.loop;
    h.pending.push_back(&call);
    ++h.wakeCount;
  }
  h.wake.notify_all();
  loop->Post([] { CheckSynchronize(); });
  {
    std::unique_lock lock(h.mutex);
    h.synced.wait(lock, [&] { return call.done; });
  }
  if (call.error) std::rethrow_exception(call.error);
}

bool MainThread::CheckSynchronize() {
  Hub& h = hub();
  bool ran = false;
  for (;;) {
    SyncCall* call = nullptr;
    {
      std::lock_guard lock(h.mutex);
      if (h.pending.empty()) break;
      call = h.pending.front();
      h.pending.pop_front();
    }
    try {
      (*call->fn)();
    } catch (...) {
      call->error = std::current_exception();
    }
    {
      std::lock_guard lock(h.mutex);
      call->done = true;
    }
    h.synced.notify_all();
    ran = true;
  }
  return ran;
}

bool MainThread::WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout,
                           std::chrono::milliseconds poll) {
  using Clock = std::chrono::steady_clock;
  const bool forever = timeout == std::chrono::milliseconds::max();
  const auto deadline = forever ? Clock::time_point::max() : Clock::now() + timeout;
  Hub& h = hub();
  for (;;) {
    CheckSynchronize();
    if (done()) return true;
    std::unique_lock lock(h.mutex);
    const unsigned long seen = h.wakeCount;
    if (!h.pending.empty()) continue;
    const auto now = Clock::now();
    if (now >= deadline) return false;
    auto until = now + poll;
    if (until > deadline) until = deadline;
    h.wake.wait_until(lock, until, [&] { return h.wakeCount != seen || !h.pending.empty(); });
  }
}

void MainThread::Wake() {
  Hub& h = hub();
  {
    std::lock_guard lock(h.mutex);
    ++h.wakeCount;
  }
  h.wake.notify_all();
}

struct QueueLoop::Impl {
  std::mutex mutex;
  std::condition_variable posted;
  std::deque<std::function<void()>> tasks;
};

QueueLoop::QueueLoop() : impl_(std::make_unique<Impl>()) {}
QueueLoop::~QueueLoop() = default;

void QueueLoop::Post(std::function<void()> task) {
  {
    std::lock_guard lock(impl_->mutex);
    impl_->tasks.push_back(std::move(task));
  }
  impl_->posted.notify_all();
}

int QueueLoop::ProcessEvents() {
  int count = 0;
  for (;;) {
    std::function<void()> task;
    {
      std::lock_guard lock(impl_->mutex);
      if (impl_->tasks.empty()) break;
      task = std::move(impl_->tasks.front());
      impl_->tasks.pop_front();
    }
    task();
    ++count;
  }
  return count;
}

bool QueueLoop::RunUntil(const std::function<bool()>& pred, std::chrono::milliseconds timeout) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + timeout;
  for (;;) {
    ProcessEvents();
    if (pred()) return true;
    std::unique_lock lock(impl_->mutex);
    const auto now = Clock::now();
    if (now >= deadline) return false;
    // Also look at pred() now and then: it may depend on other threads' state.
    auto until = std::min(deadline, now + std::chrono::milliseconds(10));
    impl_->posted.wait_until(lock, until, [&] { return !impl_->tasks.empty(); });
  }
}

ScopedQueueLoop::ScopedQueueLoop() : loop_(std::make_shared<QueueLoop>()) {
  MainThread::Install(loop_);
}

ScopedQueueLoop::~ScopedQueueLoop() { MainThread::Uninstall(); }

}  // namespace kd
