#include "Qtmainloop.h"

#include <QCoreApplication>
#include <QEvent>
#include <QObject>
#include <exception>
#include <stdexcept>

#include "Appdialogs.h"

namespace {

const QEvent::Type kTaskEvent = static_cast<QEvent::Type>(QEvent::registerEventType());

class TTaskReceiver : public QObject {
 public:
  explicit TTaskReceiver(TQtMainLoop& loop) : loop_(loop) {}
  bool event(QEvent* e) override {
    if (e->type() != kTaskEvent) return QObject::event(e);
    loop_.RunOne();
    return true;
  }

 private:
  TQtMainLoop& loop_;
};

}  // namespace

TQtMainLoop::TQtMainLoop() : receiver_(new TTaskReceiver(*this)) {}

TQtMainLoop::~TQtMainLoop() { Detach(); }

void TQtMainLoop::Post(std::function<void()> task) {
  std::lock_guard lock(mutex_);
  if (!receiver_) return;
  tasks_.push_back(std::move(task));
  QCoreApplication::postEvent(receiver_, new QEvent(kTaskEvent));
}

void TQtMainLoop::RunOne() {
  std::function<void()> task;
  {
    std::lock_guard lock(mutex_);
    if (tasks_.empty()) return;
    task = std::move(tasks_.front());
    tasks_.pop_front();
  }
  // Nothing may leave an event handler: what a task raises is shown.
  try {
    task();
  } catch (const std::exception& error) {
    ShowException(error);
  } catch (...) {
    ShowException(std::runtime_error("unknown error"));
  }
}

void TQtMainLoop::Detach() {
  QObject* receiver = nullptr;
  std::deque<std::function<void()>> dropped;
  {
    std::lock_guard lock(mutex_);
    receiver = receiver_;
    receiver_ = nullptr;
    dropped.swap(tasks_);
  }
  delete receiver;  // Qt drops the wake-ups still queued for it
}

TQtMainThread::TQtMainThread() : loop_(std::make_shared<TQtMainLoop>()) {
  kd::MainThread::Install(loop_);
}

TQtMainThread::~TQtMainThread() {
  kd::MainThread::Uninstall();
  loop_->Detach();
}
