#pragma once
// A list guarded by its own lock. Adding an item that is already there does
// nothing. LockList() holds the lock for as long as the returned view lives,
// so a whole pass over the items runs under one lock. The lock is recursive
// (code running inside a pass may add or remove items of the same list) and
// fair: threads get it in the order they asked for it, so a thread that
// releases and at once retakes it cannot starve another waiting thread.
//
// Snapshot() (lists of copyable items) copies the items as they were when the lock was last released,
// without waiting for the lock: a reader that must not block behind a long
// pass (the main thread) looks at it. The items it names may be destroyed
// by the threads that own them; only such an owner may use it safely.
#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <type_traits>
#include <vector>

namespace kd {

// Recursive lock that serves waiting threads first come, first served.
class FairRecursiveMutex {
 public:
  void lock() {
    const std::thread::id self = std::this_thread::get_id();
    std::unique_lock guard(mutex_);
    if (depth_ > 0 && owner_ == self) {
      ++depth_;
      return;
    }
    const unsigned long ticket = nextTicket_++;
    turn_.wait(guard, [&] { return serving_ == ticket; });
    owner_ = self;
    depth_ = 1;
  }
  void unlock() {
    std::unique_lock guard(mutex_);
    if (--depth_ > 0) return;
    owner_ = std::thread::id();
    ++serving_;
    guard.unlock();
    turn_.notify_all();
  }

 private:
  std::mutex mutex_;
  std::condition_variable turn_;
  unsigned long nextTicket_ = 0;
  unsigned long serving_ = 0;
  std::thread::id owner_;
  int depth_ = 0;
};

template <class T>
class ThreadList {
 public:
  class Locked {
   public:
    explicit Locked(ThreadList& list) : list_(list) { list_.mutex_.lock(); }
    ~Locked() {
      list_.Publish();
      list_.mutex_.unlock();
    }
    Locked(const Locked&) = delete;
    Locked& operator=(const Locked&) = delete;
    std::vector<T>& Items() { return list_.items_; }
    std::vector<T>* operator->() { return &list_.items_; }
    std::vector<T>& operator*() { return list_.items_; }

   private:
    ThreadList& list_;
  };

  ThreadList() = default;
  ThreadList(const ThreadList&) = delete;
  ThreadList& operator=(const ThreadList&) = delete;

  Locked LockList() { return Locked(*this); }

  // True when the item was added (false: it was there already).
  bool Add(const T& item) {
    Locked list(*this);
    if (std::find(list->begin(), list->end(), item) != list->end()) return false;
    list->push_back(item);
    return true;
  }
  // True when the item was there.
  bool Remove(const T& item) {
    Locked list(*this);
    auto it = std::find(list->begin(), list->end(), item);
    if (it == list->end()) return false;
    list->erase(it);
    return true;
  }
  bool Contains(const T& item) {
    Locked list(*this);
    return std::find(list->begin(), list->end(), item) != list->end();
  }
  void Clear() {
    Locked list(*this);
    list->clear();
  }
  int Count() {
    Locked list(*this);
    return static_cast<int>(list->size());
  }
  std::vector<T> Snapshot() const {
    std::lock_guard guard(snapshotMutex_);
    return snapshot_;
  }

 private:
  // Under the list lock: the snapshot follows the items.
  void Publish() {
    if constexpr (std::is_copy_constructible_v<T>) {
      std::lock_guard guard(snapshotMutex_);
      if (snapshot_ != items_) snapshot_ = items_;
    }
  }

  FairRecursiveMutex mutex_;
  std::vector<T> items_;
  mutable std::mutex snapshotMutex_;
  std::vector<T> snapshot_;
};

}  // namespace kd
