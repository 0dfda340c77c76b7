#pragma once
// The main thread and how other threads reach it.
//
// A MainLoop carries closures to the main thread in posting order. The program
// installs one at start-up (the Qt one in the application; QueueLoop in tests
// and headless runs), from the thread that is to be the main thread.
//
// MainThread::Synchronize(fn), called from a worker, waits until the main
// thread has run fn (an exception from fn reaches the worker); called on the
// main thread it runs fn at once. Synchronize calls wait in a queue of their
// own, so that a main thread that waits for a worker (WaitUntil) keeps running
// them without running anything else: a worker that synchronizes on its way
// out cannot deadlock against a main thread that waits for it to end.
#include <chrono>
#include <functional>
#include <memory>

namespace kd {

class MainLoop {
 public:
  virtual ~MainLoop() = default;
  // Any thread: queue task to run on the main thread after all earlier ones.
  virtual void Post(std::function<void()> task) = 0;
};

class MainThread {
 public:
  // Makes the calling thread the main thread and routes posts through loop.
  static void Install(std::shared_ptr<MainLoop> loop);
  // Removes the loop (tests); pending posts are dropped.
  static void Uninstall();
  static bool IsInstalled();
  static bool IsMainThread();

  // Any thread: queue task on the main loop. Raises kd::Exception when no loop is installed.
  static void Post(std::function<void()> task);

  static void Synchronize(const std::function<void()>& fn);
  // Main thread: runs the pending Synchronize calls; true when one ran.
  static bool CheckSynchronize();
  // Main thread: waits until done() holds, running Synchronize calls meanwhile
  // and nothing else. Wake() makes it test done() again; it also tests it at
  // least every `poll`. False when the timeout passed first.
  static bool WaitUntil(const std::function<bool()>& done,
                        std::chrono::milliseconds timeout = std::chrono::milliseconds::max(),
                        std::chrono::milliseconds poll = std::chrono::milliseconds(50));
  // Any thread: wakes a WaitUntil.
  static void Wake();
};

// The plain main loop: a queue that the main thread pumps.
class QueueLoop : public MainLoop {
 public:
  QueueLoop();
  ~QueueLoop() override;
  void Post(std::function<void()> task) override;
  // Runs every task queued so far and those they queue; returns how many ran.
  int ProcessEvents();
  // Pumps until pred() holds or timeout passes; returns pred().
  bool RunUntil(const std::function<bool()>& pred, std::chrono::milliseconds timeout);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// Installs a QueueLoop on the calling thread for the scope of the object (tests).
class ScopedQueueLoop {
 public:
  ScopedQueueLoop();
  ~ScopedQueueLoop();
  ScopedQueueLoop(const ScopedQueueLoop&) = delete;
  ScopedQueueLoop& operator=(const ScopedQueueLoop&) = delete;
  QueueLoop& Loop() { return *loop_; }
  int ProcessEvents() { return loop_->ProcessEvents(); }
  bool RunUntil(const std::function<bool()>& pred,
                std::chrono::milliseconds timeout = std::chrono::milliseconds(5000)) {
    return loop_->RunUntil(pred, timeout);
  }

 private:
  std::shared_ptr<QueueLoop> loop_;
};

}  // namespace kd
