#include "Tlambtransactioncls.h"

#include <cstdio>
#include <cstring>
#include <exception>

#include "Exception.h"
#include "ModbusSrv.h"
#include "Tlambdevice.h"
#include "Tlambthreadthr.h"
#include "Tlathreadbuffercls.h"

namespace {

std::uint8_t Hi(std::uint16_t w) { return static_cast<std::uint8_t>(w >> 8); }
std::uint8_t Lo(std::uint16_t w) { return static_cast<std::uint8_t>(w & 0xFF); }

}  // namespace

TlaMBTransaction::TlaMBTransaction(std::uint8_t slaveAddress, int period)
    : handle_(std::make_unique<kd::MessageWindow>(
          [this](unsigned msg, std::intptr_t w, std::intptr_t l) { WindowProc(msg, w, l); })),
      lastSuccess_(kd::Now()) {
  SlaveAddress = slaveAddress;
  period_ = period;
  DisableOnSuccess = period == 0;
  DisableOnError = period == 0;
}

TlaMBTransaction::TlaMBTransaction(TlaMBDevice* owner) : TlaMBTransaction(0, 0) {
  if (!owner) return;
  // The subclass binds its own data after this: no OwnerChanged here.
  ownerDevice_ = owner;
  owner->Add(this);
  SlaveAddress = owner->GetModBusAddress();
  const std::int32_t sampleTime = owner->GetSampleTime();
  period_ = sampleTime;
  DisableOnSuccess = sampleTime == 0;
  DisableOnError = sampleTime == 0;
}

TlaMBTransaction::~TlaMBTransaction() {
  LeaveOwner();
  *alive_ = false;
  handle_.reset();
}

void TlaMBTransaction::LeaveOwner() {
  // The owner's Remove/Extract waits for a pass that is running this
  // transaction and clears the owner.
  if (TlaMBThread* thread = ownerThread_.load()) thread->Remove(this);
  if (TlaMBDevice* device = ownerDevice_.load()) device->Extract(this);
  ownerThread_ = nullptr;
  ownerDevice_ = nullptr;
}

// ---------------------------------------------------------------------------
// Worker side

bool TlaMBTransaction::IsDue() {
  if (!active_.load()) return false;
  int countdown = countdown_.load();
  if (countdown > 0) {
    countdown_ = --countdown;
    if (countdown > 0) return false;
  }
  countdown_ = period_.load();
  return true;
}

std::int32_t TlaMBTransaction::Run(TModbusSrv& server) {
  struct BusyScope {
    std::atomic<bool>& busy;
    explicit BusyScope(std::atomic<bool>& b) : busy(b) { busy = true; }
    ~BusyScope() { busy = false; }
  } scope(busy_);
  continuing_ = false;
  const std::int32_t r = Execute(server);
  if (continuing_.load()) return r;
  if (r == kMBSuccess) lastSuccess_ = kd::Now();
  resultChanged_ = r != lastResult_.load();
  lastResult_ = r;
  return r;
}

std::int32_t TlaMBTransaction::TxRx(TModbusSrv& server) {
  Response.clear();
  BytesRead.clear();
  int attempts = 0;
  for (;;) {
    const std::int32_t r = server.TxRxMessage(Query, QueryLength, Response, 0, BytesRead);
    if (r == kMBSuccess) return r;
    ++attempts;
    if (server.get_Retries() < attempts) return r;
  }
}

void TlaMBTransaction::SetQuery(std::vector<std::uint8_t> query) {
  Query = std::move(query);
  QueryLength = static_cast<std::uint16_t>(Query.size());
}

void TlaMBTransaction::BuildReadHoldRegisters(std::uint16_t address, std::uint16_t count) {
  SetQuery({SlaveAddress.load(), 0x03, Hi(address), Lo(address), Hi(count), Lo(count)});
}

void TlaMBTransaction::BuildWriteSingleRegister(std::uint16_t address, const std::uint8_t* data, int size) {
  std::vector<std::uint8_t> q{SlaveAddress.load(), 0x06, Hi(address), Lo(address)};
  if (size > 0) q.insert(q.end(), data, data + size);
  SetQuery(std::move(q));
}

void TlaMBTransaction::BuildWriteMultRegisters(std::uint16_t address, std::uint16_t count,
                                               const std::uint8_t* data, int size) {
  const auto n = static_cast<std::size_t>(size > 0 ? size : 0);
  std::vector<std::uint8_t> q{SlaveAddress.load(), 0x10, Hi(address), Lo(address), Hi(count), Lo(count),
                              static_cast<std::uint8_t>(n & 0xFF)};
  if (n) q.insert(q.end(), data, data + n);
  SetQuery(std::move(q));
}

void TlaMBTransaction::BuildDeviceIdentification() { SetQuery({SlaveAddress.load(), 0x41}); }

void TlaMBTransaction::BuildDataModelInfo() { SetQuery({SlaveAddress.load(), 0x42}); }

void TlaMBTransaction::BuildDataModelEntry(std::uint16_t index) {
  SetQuery({SlaveAddress.load(), 0x43, Hi(index), Lo(index)});
}

std::int32_t TlaMBTransaction::ReadRegisters(TModbusSrv& server, std::uint16_t address, std::uint16_t count,
                                             TlaThreadBuffer& buffer, bool take, bool& changed) {
  BuildReadHoldRegisters(address, count);
  const std::int32_t r = TxRx(server);
  if (r != kMBSuccess) return r;
  const auto size = static_cast<std::size_t>(buffer.Size());
  if (Response.size() < 3 || Response[2] != size || Response.size() != size + 3) return kMBAnswerSize;
  const std::uint8_t* data = Response.data() + 3;
  {
    TlaThreadBuffer::ReadAccess image(buffer);
    changed = size != 0 && std::memcmp(image.Data(), data, size) != 0;
  }
  if (take && size != 0) {
    TlaThreadBuffer::WriteAccess image(buffer);
    std::memcpy(image.Data(), data, size);
  }
  return kMBSuccess;
}

// ---------------------------------------------------------------------------
// Scheduling and owners

void TlaMBTransaction::ContinueNextPass() {
  continuing_ = true;
  countdown_ = 0;
}

void TlaMBTransaction::SetActive(bool active) {
  if (!active) countdown_ = 0;
  active_ = active;
}

void TlaMBTransaction::SetPeriod(int p) {
  period_ = p == 0 ? 1 : p;
  countdown_ = 0;
}

void TlaMBTransaction::SetOwnerDevice(TlaMBDevice* device) {
  LeaveOwner();
  ownerDevice_ = device;
  if (!device) return;
  device->Add(this);
  SlaveAddress = device->GetModBusAddress();
  OwnerChanged();
}

void TlaMBTransaction::SetOwnerThread(TlaMBThread* thread) {
  LeaveOwner();
  ownerThread_ = thread;
  if (!thread) return;
  thread->Add(this);
  OwnerChanged();
}

void TlaMBTransaction::ClearOwner(const TlaMBThread* owner) {
  if (owner && ownerThread_.load() == owner) ownerThread_ = nullptr;
}

void TlaMBTransaction::ClearOwner(const TlaMBDevice* owner) {
  if (owner && ownerDevice_.load() == owner) ownerDevice_ = nullptr;
}

void TlaMBTransaction::RaiseDoneOrError(const TlaTransaEvent& onDone, const TlaTransaEvent& onError,
                                        std::int32_t doneValue) {
  const std::int32_t r = GetLastResult();
  if (r != kMBSuccess) {
    if (onError) onError(this, r);
  } else if (onDone) {
    onDone(this, doneValue);
  }
}

// ---------------------------------------------------------------------------
// The hidden window

void TlaMBTransaction::PostDone() { Post(WM_MB_DONE, 0, 0); }
void TlaMBTransaction::PostProgress(int a, int b) { Post(WM_MB_PROGRESS, a, b); }
void TlaMBTransaction::PostCancel() { Post(WM_MB_CANCEL, 0, 0); }

void TlaMBTransaction::Post(unsigned msg, std::intptr_t wParam, std::intptr_t lParam) {
  try {
    handle_->Post(msg, wParam, lParam);
  } catch (const kd::Exception&) {
    // No main loop: nobody is there to be told.
  }
}

void TlaMBTransaction::WindowProc(unsigned msg, std::intptr_t wParam, std::intptr_t lParam) {
  // A handler may delete this transaction: nothing of it is touched after that.
  const std::shared_ptr<bool> alive = alive_;
  try {
    switch (msg) {
      case WM_MB_DONE:
        Notify();
        if (*alive && resultChanged_.load())
          if (TlaMBDevice* device = ownerDevice_.load()) device->UpdateSlaveState();
        break;
      case WM_MB_PROGRESS:
        Progress(static_cast<int>(wParam), static_cast<int>(lParam));
        break;
      case WM_MB_CANCEL:
        Cancel();
        break;
      default:
        break;
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
  } catch (...) {
    std::fprintf(stderr, "Unknown exception in a transaction's handler\n");
  }
}
