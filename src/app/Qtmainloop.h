#pragma once
// The Qt main loop behind kd::MainThread: closures posted from any thread are
// queued here, in posting order, and each post wakes one event of a receiver
// object on the main thread, which runs the oldest closure. The queue is
// guarded by our own lock, so the hand-over is visible to the sanitizers.
#include <deque>
#include <functional>
#include <memory>
#include <mutex>

#include "MainThread.h"

class QObject;

class TQtMainLoop : public kd::MainLoop {
 public:
  TQtMainLoop();  // main thread, once the QApplication exists
  ~TQtMainLoop() override;
  void Post(std::function<void()> task) override;
  // Main thread: runs the oldest queued closure, if any.
  void RunOne();
  // Main thread: drops what is queued and every later post.
  void Detach();

 private:
  std::mutex mutex_;
  std::deque<std::function<void()>> tasks_;
  QObject* receiver_;  // owned; deleted by Detach, on the main thread
};

// Installs a TQtMainLoop as the main loop for its lifetime (the program and
// the window tests).
class TQtMainThread {
 public:
  TQtMainThread();
  ~TQtMainThread();
  TQtMainThread(const TQtMainThread&) = delete;
  TQtMainThread& operator=(const TQtMainThread&) = delete;

 private:
  std::shared_ptr<TQtMainLoop> loop_;
};
