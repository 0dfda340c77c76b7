#include "Tlambthreadthr.h"

#include <pthread.h>

#include <cstdio>
#include <exception>

#include "MainThread.h"
#include "ModbusSrv.h"
#include "Tlambdevice.h"
#include "Tlambtransactioncls.h"

TlaMBThread::TlaMBThread(kd::Component* owner) : owner_(owner), setup_(std::make_unique<TlaMBSetup>()) {
  thread_ = std::thread([this] { Body(); });
}

TlaMBThread::~TlaMBThread() {
  terminated_ = true;
  { std::lock_guard lock(sleepLock_); }
  sleepWake_.notify_all();
  // The worker raises OnDisconnect on its way out: keep running it here.
  if (kd::MainThread::IsMainThread()) kd::MainThread::WaitUntil([this] { return finished_.load(); });
  thread_.join();
  TerminationHandler();
}

// ---------------------------------------------------------------------------
// Items (main thread)

void TlaMBThread::Add(TlaMBTransaction* transa) {
  if (!transa) return;
  items_.Add({transa, nullptr});
  if (transa->GetOwnerThread() != this) transa->SetOwnerThread(this);
}

void TlaMBThread::Add(TlaMBDevice* device) {
  if (!device) return;
  items_.Add({nullptr, device});
  if (device->GetConnOwner() != this) device->SetConnOwner(this);
}

void TlaMBThread::Remove(TlaMBTransaction* transa) {
  if (!transa) return;
  items_.Remove({transa, nullptr});
  if (transa->GetOwnerThread() == this) transa->ClearOwner(this);
}

void TlaMBThread::Remove(TlaMBDevice* device) {
  if (!device) return;
  items_.Remove({nullptr, device});
  if (device->GetConnOwner() == this) device->ResetConnOwner(this);
}

int TlaMBThread::GetState() const {
  if (!IsEnabled()) return 0;
  if (connected_.load()) return 4;
  switch (lastError_.load()) {
    case kMBOpenFailed: return 2;
    case kMBOpenException: return 3;
    default: return 1;
  }
}

void TlaMBThread::TerminationHandler() {
  auto items = items_.LockList();
  while (!items->empty()) {
    const TlaMBItem first = items->front();
    const std::size_t before = items->size();
    if (first.Transa)
      Remove(first.Transa);
    else
      Remove(first.Device);
    if (items->size() == before) items->erase(items->begin());
  }
}

// ---------------------------------------------------------------------------
// The worker

void TlaMBThread::Body() {
  pthread_setname_np(pthread_self(), "kd-mbworker");
  // Passes start on a 100 ms grid, so that wake-up delays do not add up; a
  // pass that overruns its cycle moves the grid (lost passes are not made up).
  auto due = std::chrono::steady_clock::now();
  while (!Terminated()) {
    try {
      if (connected_.load()) {
        if (setup_->Enabled.load()) {
          ProcessItems();
        } else {
          // Closed first, so that the devices re-evaluate a closed connection.
          CloseConnect();
          CancelItems();
          Raise(&TlaMBThread::OnDisconnect);
        }
      } else if (setup_->Enabled.load()) {
        if (OpenConnect()) {
          Raise(&TlaMBThread::OnConnect);
        } else {
          setup_->Enabled = false;
          Raise(&TlaMBThread::OnConnectError);
        }
      }
    } catch (const std::exception& e) {
      // Nothing that goes wrong in a pass ends the worker; the next pass tries again.
      std::fprintf(stderr, "Modbus worker '%s': %s\n", setup_->Name.c_str(), e.what());
    }
    due += std::chrono::milliseconds(kCycleMs);
    const auto now = std::chrono::steady_clock::now();
    if (due <= now)
      due = now;
    else
      SleepUntil(due);
  }
  Raise(&TlaMBThread::OnDisconnect);
  CloseConnect();
  finished_ = true;
  kd::MainThread::Wake();
}

void TlaMBThread::SleepUntil(std::chrono::steady_clock::time_point due) {
  std::unique_lock lock(sleepLock_);
  sleepWake_.wait_until(lock, due, [this] { return Terminated(); });
}

void TlaMBThread::Raise(TlaMBThreadEvent TlaMBThread::*event) {
  try {
    kd::MainThread::Synchronize([this, event] {
      const TlaMBThreadEvent& handler = this->*event;
      if (handler) handler(this);
    });
  } catch (const std::exception& e) {
    std::fprintf(stderr, "Modbus worker '%s': event: %s\n", setup_->Name.c_str(), e.what());
  }
}

bool TlaMBThread::OpenConnect() {
  if (connected_.load()) return lastError_.load() == kMBSuccess;
  auto fail = [this](std::int32_t code) {
    connected_ = false;
    server_.reset();
    lastError_ = code;
    return false;
  };
  try {
    server_ = std::make_unique<TModbusSrv>();
    if (!server_->OpenConnection(setup_->Name, setup_->ConnType)) return fail(kMBOpenFailed);
    setup_->SendTo(*server_);
    if (!server_->Connect()) {
      server_->CloseConnection();
      return fail(kMBOpenFailed);
    }
    lastError_ = kMBSuccess;
    connected_ = true;
    return true;
  } catch (const std::exception&) {
    return fail(kMBOpenException);
  }
}

void TlaMBThread::CloseConnect() {
  if (!connected_.load()) return;
  server_->CloseConnection();
  connected_ = false;
  server_.reset();
  lastError_ = kMBSuccess;
}

void TlaMBThread::ProcessItems() {
  auto items = items_.LockList();
  // By index: code run inside the pass may add or remove items.
  for (std::size_t i = 0; i < items->size() && !Terminated(); ++i) {
    const TlaMBItem item = (*items)[i];
    if (item.Transa)
      RunItem(*item.Transa);
    else if (item.Device && item.Device->GetEnable())
      ProcessTransaList(*item.Device);
  }
}

void TlaMBThread::ProcessTransaList(TlaMBDevice& device) {
  auto list = device.TransaList().LockList();
  for (std::size_t i = 0; i < list->size() && !Terminated(); ++i)
    if (TlaMBTransaction* transa = (*list)[i]; transa && RunItem(*transa)) break;
}

bool TlaMBThread::RunItem(TlaMBTransaction& transa) {
  if (!transa.IsDue()) return false;
  std::int32_t r = kMBSuccess;
  try {
    r = transa.Run(*server_);
  } catch (const std::exception& e) {
    // A transaction that raises is stopped; the pass goes on with the next item.
    std::fprintf(stderr, "Modbus worker '%s': %s: %s\n", setup_->Name.c_str(), transa.GetName().c_str(), e.what());
    transa.SetActive(false);
    return false;
  }
  if (transa.GetContinuing()) return false;  // nothing to tell yet
  lastError_ = r;
  if (r == kMBSuccess ? transa.DisableOnSuccess.load() : transa.DisableOnError.load()) transa.SetActive(false);
  bool timedOut = false;
  if (r != kMBSuccess) {
    if (TlaMBDevice* device = transa.GetOwnerDevice()) {
      if (r == kMBTimeout) {
        device->IncFaultCount();
        timedOut = true;
      } else {
        device->RstFaultCount();
      }
    }
  }
  // Last, so that Notify sees the transaction as this run left it.
  transa.PostDone();
  // A main thread waiting for this run (a synchronous register access) looks again.
  kd::MainThread::Wake();
  return timedOut;
}

void TlaMBThread::CancelItems() {
  auto items = items_.LockList();
  for (std::size_t i = 0; i < items->size() && !Terminated(); ++i) {
    const TlaMBItem item = (*items)[i];
    if (item.Transa)
      item.Transa->PostCancel();
    else if (item.Device)
      item.Device->UpdateSlaveState();
  }
}
