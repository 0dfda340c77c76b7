#pragma once
// Multi-reader / single-writer lock: any number of readers at once, a writer alone.
// Not re-entrant: a thread never nests two calls on one lock.
#include <shared_mutex>

namespace kd {

class MREWSync {
 public:
  MREWSync() = default;
  MREWSync(const MREWSync&) = delete;
  MREWSync& operator=(const MREWSync&) = delete;

  void BeginRead() { mutex_.lock_shared(); }
  void EndRead() { mutex_.unlock_shared(); }
  void BeginWrite() { mutex_.lock(); }
  void EndWrite() { mutex_.unlock(); }

 private:
  std::shared_mutex mutex_;
};

}  // namespace kd
