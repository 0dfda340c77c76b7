#pragma once
// TlaMBThread: the worker thread of one Modbus connection. It owns the
// connection's settings and, while connected, the server object; it opens
// and closes the connection as Setup().Enabled asks and about every 100 ms
// makes one pass over its items: due transactions are run, and enabled
// devices have their own due transactions run in turn. Connection events
// reach the main thread through kd::MainThread::Synchronize (the worker
// waits until the handler has run).
//
// Items: each entry is a TlaMBItem, which names either a transaction or a
// device (exactly one of the two pointers is set). The list does not own
// them; an entry is there once.
//
// A transaction whose run raises is stopped (deactivated, reported on
// stderr) and the pass goes on; nothing raised in a pass ends the worker.
//
// Locks, in this order and never the other way: Items (for a whole pass),
// a device's TransaList (for the device's part of a pass), a chained
// transaction's parts, a register image.
//
// Destroying the object ends the worker and waits for it; on the main thread
// that wait keeps running Synchronize calls, so the worker's last
// OnDisconnect still reaches its handler. Then every item is removed.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>

#include "Component.h"
#include "Event.h"
#include "ThreadList.h"
#include "Tlambsetupcls.h"

class TModbusSrv;
class TlaMBDevice;
class TlaMBThread;
class TlaMBTransaction;

struct TlaMBItem {
  TlaMBTransaction* Transa = nullptr;
  TlaMBDevice* Device = nullptr;
  bool operator==(const TlaMBItem&) const = default;
};

using TlaMBThreadEvent = kd::Event<void(TlaMBThread* sender)>;

class TlaMBThread {
 public:
  // Starts the worker, idle until Setup().Enabled is set.
  explicit TlaMBThread(kd::Component* owner = nullptr);
  ~TlaMBThread();
  TlaMBThread(const TlaMBThread&) = delete;
  TlaMBThread& operator=(const TlaMBThread&) = delete;

  // The cycle the worker aims at.
  static constexpr int kCycleMs = 100;

  kd::Component* Owner() const { return owner_; }
  // Fill it, then set Enabled last to connect; clear Enabled to disconnect.
  TlaMBSetup& Setup() { return *setup_; }
  const TlaMBSetup& Setup() const { return *setup_; }
  kd::ThreadList<TlaMBItem>& Items() { return items_; }

  // Main thread; null is ignored. A transaction joins the list and becomes
  // owned by this thread (SetOwnerThread); a device joins and gets this
  // thread as its connection owner (SetConnOwner).
  void Add(TlaMBTransaction* transa);
  void Add(TlaMBDevice* device);
  // Leaves the list (waiting for a running pass); a transaction owned by
  // this thread gets ClearOwner, a device whose connection owner is this
  // thread gets ResetConnOwner.
  void Remove(TlaMBTransaction* transa);
  void Remove(TlaMBDevice* device);

  // Connected implies a server object (the worker drops it when it closes).
  bool IsConnected() const { return connected_.load(); }
  bool IsEnabled() const { return setup_ && setup_->Enabled.load(); }
  // 0 not enabled, 4 connected, 2 after a failed open (-1), 3 after a missing
  // server component (-4), otherwise 1 (enabled, not yet connected).
  int GetState() const;
  // 0, -1 or -4 after an open attempt, then the result of the last run.
  std::int32_t GetLastError() const { return lastError_.load(); }

  // Each called on the main thread with this thread as the sender.
  TlaMBThreadEvent OnConnect;
  TlaMBThreadEvent OnDisconnect;
  TlaMBThreadEvent OnConnectError;

 private:
  void Body();
  bool OpenConnect();
  void CloseConnect();
  void ProcessItems();
  // A device's part of the pass; a time-out skips the rest of its list.
  void ProcessTransaList(TlaMBDevice& device);
  // Runs a due transaction; true when it ended in a time-out of a device's transaction.
  bool RunItem(TlaMBTransaction& transa);
  void CancelItems();
  void Raise(TlaMBThreadEvent TlaMBThread::*event);
  // Until `due` or until termination is asked (the destructor wakes it at once).
  void SleepUntil(std::chrono::steady_clock::time_point due);
  void TerminationHandler();
  bool Terminated() const { return terminated_.load(); }

  kd::Component* owner_;  // not owned
  std::unique_ptr<TlaMBSetup> setup_;
  kd::ThreadList<TlaMBItem> items_;
  std::unique_ptr<TModbusSrv> server_;  // worker only; set while connected_
  std::atomic<std::int32_t> lastError_{0};
  std::atomic<bool> connected_{false};

  std::atomic<bool> terminated_{false};
  std::atomic<bool> finished_{false};
  std::mutex sleepLock_;
  std::condition_variable sleepWake_;
  std::thread thread_;
};
