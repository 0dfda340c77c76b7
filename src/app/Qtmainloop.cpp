#include "Qtmainloop.h"

#include <QCoreApplication>
#include <QEvent>
#include <QObject>
#include <exception>

#include "Appdialogs.h"

namespace {

const QEvent::Type kTaskEvent = static_cast<QEvent::Type>(QEvent::registerEventType());

class TTaskEvent : public QEvent {
 public:
  explicit TTaskEvent(std::function<void()> task) : QEvent(kTaskEvent), task_(std::move(task)) {}
  void Run() { task_(); }

 private:
  std::function<void()> task_;
};

class TTaskReceiver : public QObject {
 public:
  bool event(QEvent* e) override {
    if (e->type() != kTaskEvent) return QObject::event(e);
    // Nothing may leave an event handler: what a task raises is shown.
    try {
      static_cast<TTaskEvent*>(e)->Run();
    } catch (const std::exception& error) {
      ShowException(error);
    } catch (...) {
      ShowException(std::runtime_error("unknown error"));
    }
    return true;
  }
};

}  // namespace

TQtMainLoop::TQtMainLoop() : receiver_(new TTaskReceiver) {}

TQtMainLoop::~TQtMainLoop() { Detach(); }

void TQtMainLoop::Post(std::function<void()> task) {
  std::lock_guard lock(mutex_);
  if (receiver_) QCoreApplication::postEvent(receiver_, new TTaskEvent(std::move(task)));
}

void TQtMainLoop::Detach() {
  QObject* receiver = nullptr;
  {
    std::lock_guard lock(mutex_);
    receiver = receiver_;
    receiver_ = nullptr;
  }
  delete receiver;  // Qt drops the events still queued for it
}

TQtMainThread::TQtMainThread() : loop_(std::make_shared<TQtMainLoop>()) {
  kd::MainThread::Install(loop_);
}

TQtMainThread::~TQtMainThread() {
  kd::MainThread::Uninstall();
  loop_->Detach();
}
