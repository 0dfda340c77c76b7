#pragma once
// A list guarded by its own lock. Adding an item that is already there does
// nothing. LockList() holds the lock for as long as the returned view lives,
// so a whole pass over the items runs under one lock. The lock is recursive:
// code running inside a pass may add or remove items of the same list.
#include <algorithm>
#include <mutex>
#include <vector>

namespace kd {

template <class T>
class ThreadList {
 public:
  class Locked {
   public:
    explicit Locked(ThreadList& list) : lock_(list.mutex_), items_(list.items_) {}
    std::vector<T>& Items() { return items_; }
    std::vector<T>* operator->() { return &items_; }
    std::vector<T>& operator*() { return items_; }

   private:
    std::unique_lock<std::recursive_mutex> lock_;
    std::vector<T>& items_;
  };

  ThreadList() = default;
  ThreadList(const ThreadList&) = delete;
  ThreadList& operator=(const ThreadList&) = delete;

  Locked LockList() { return Locked(*this); }

  // True when the item was added (false: it was there already).
  bool Add(const T& item) {
    std::lock_guard lock(mutex_);
    if (std::find(items_.begin(), items_.end(), item) != items_.end()) return false;
    items_.push_back(item);
    return true;
  }
  // True when the item was there.
  bool Remove(const T& item) {
    std::lock_guard lock(mutex_);
    auto it = std::find(items_.begin(), items_.end(), item);
    if (it == items_.end()) return false;
    items_.erase(it);
    return true;
  }
  bool Contains(const T& item) {
    std::lock_guard lock(mutex_);
    return std::find(items_.begin(), items_.end(), item) != items_.end();
  }
  void Clear() {
    std::lock_guard lock(mutex_);
    items_.clear();
  }
  int Count() {
    std::lock_guard lock(mutex_);
    return static_cast<int>(items_.size());
  }
  std::vector<T> Snapshot() {
    std::lock_guard lock(mutex_);
    return items_;
  }

 private:
  std::recursive_mutex mutex_;
  std::vector<T> items_;
};

}  // namespace kd
