#include "Tlambsimpletransacls.h"

#include <optional>

#include "Formats.h"
#include "ModbusSrv.h"
#include "Tlambdevice.h"
#include "Tlambthreadthr.h"

namespace {

std::uint16_t Word(const std::vector<std::uint8_t>& bytes, std::size_t at) {
  return static_cast<std::uint16_t>(bytes[at] << 8 | bytes[at + 1]);
}

// The answer of a device function taken into `target`, which `lock` guards:
// a failed exchange first, then the answer's check; `target` changes only
// when both succeeded.
template <class T>
std::int32_t TakeAnswer(std::int32_t exchanged, const std::vector<std::uint8_t>& answer,
                        std::int32_t (*take)(const std::vector<std::uint8_t>&, T&), std::mutex& lock, T& target) {
  if (exchanged != kMBSuccess) return exchanged;
  T taken;
  {
    std::lock_guard guard(lock);
    taken = target;
  }
  const std::int32_t r = take(answer, taken);
  if (r == kMBSuccess) {
    std::lock_guard guard(lock);
    target = taken;
  }
  return r;
}

}  // namespace

// ---------------------------------------------------------------------------
// TlaMBSimpleTransa

TlaMBSimpleTransa::TlaMBSimpleTransa(TlaMBDevice* owner, std::uint16_t address, std::uint16_t count)
    : TlaMBTransaction(owner) {
  SetRange(address, count);
}

TlaMBSimpleTransa::TlaMBSimpleTransa(std::uint8_t slaveAddress, std::uint16_t address, std::uint16_t count,
                                     std::unique_ptr<TlaThreadBuffer> buffer, int period)
    : TlaMBTransaction(slaveAddress, period) {
  // The range is kept even without a buffer, so that the name tells it.
  Address = address;
  Count = count == 0 ? 1 : count;
  Buffer = std::move(buffer);
}

TlaMBSimpleTransa::~TlaMBSimpleTransa() { LeaveOwner(); }

void TlaMBSimpleTransa::SetRange(std::uint16_t address, std::uint16_t count,
                                 std::unique_ptr<TlaThreadBuffer> buffer) {
  if (count == 0) count = 1;
  TlaMBDevice* device = GetOwnerDevice();
  if (!buffer && !device) return;
  // Not while the owner's pass may be running this transaction: the pass
  // over the device's list, or over the worker's items.
  std::optional<kd::ThreadList<TlaMBTransaction*>::Locked> devicePass;
  std::optional<kd::ThreadList<TlaMBItem>::Locked> workerPass;
  if (device)
    devicePass.emplace(device->TransaList());
  else if (TlaMBThread* thread = GetOwnerThread())
    workerPass.emplace(thread->Items());
  if (!buffer) buffer = device->BufferSegment(address, count);
  Address = address;
  Count = count;
  Buffer = std::move(buffer);
}

void TlaMBSimpleTransa::OwnerChanged() {
  if (GetOwnerDevice()) SetRange(Address, Count);
}

void TlaMBSimpleTransa::Notify() { RaiseDoneOrError(OnDone, OnError); }

// ---------------------------------------------------------------------------
// Register transactions

TlaMBReadHoldRegisters::TlaMBReadHoldRegisters(TlaMBDevice* owner, std::uint16_t address, std::uint16_t count)
    : TlaMBSimpleTransa(owner, address, count) {
  UpdateName();
}

TlaMBReadHoldRegisters::TlaMBReadHoldRegisters(std::uint8_t slaveAddress, std::uint16_t address,
                                               std::uint16_t count, std::unique_ptr<TlaThreadBuffer> buffer,
                                               int period)
    : TlaMBSimpleTransa(slaveAddress, address, count, std::move(buffer), period) {
  UpdateName();
}

TlaMBReadHoldRegisters::~TlaMBReadHoldRegisters() { LeaveOwner(); }

std::int32_t TlaMBReadHoldRegisters::Execute(TModbusSrv& server) {
  // Without a destination no request is sent.
  if (!Buffer) return kMBNoData;
  bool changed = false;
  const std::int32_t r = ReadRegisters(server, Address, Count, *Buffer, true, changed);
  if (r == kMBSuccess) dataChanged_ = changed;
  return r;
}

void TlaMBReadHoldRegisters::Notify() { RaiseDoneOrError(OnDone, OnError, GetDataChanged() ? 1 : 0); }

void TlaMBReadHoldRegisters::UpdateName() {
  Name = kd::Sprintf("ReadHold[%d:%d:%d]", SlaveAddress.load(), Address, Count);
}

TlaMBWriteSingleRegister::TlaMBWriteSingleRegister(TlaMBDevice* owner, std::uint16_t address)
    : TlaMBSimpleTransa(owner, address, 1) {
  UpdateName();
}

TlaMBWriteSingleRegister::~TlaMBWriteSingleRegister() { LeaveOwner(); }

std::int32_t TlaMBWriteSingleRegister::Execute(TModbusSrv& server) {
  if (!Buffer) return kMBNoData;
  {
    TlaThreadBuffer::ReadAccess image(*Buffer);
    BuildWriteSingleRegister(Address, image.Data(), Buffer->Size());
  }
  return TxRx(server);
}

void TlaMBWriteSingleRegister::UpdateName() {
  Name = kd::Sprintf("WriteSingle[%d:%d]", SlaveAddress.load(), Address);
}

TlaMBWriteMultRegisters::TlaMBWriteMultRegisters(std::uint8_t slaveAddress, std::uint16_t address,
                                                 std::uint16_t count, std::unique_ptr<TlaThreadBuffer> buffer,
                                                 int period)
    : TlaMBSimpleTransa(slaveAddress, address, count, std::move(buffer), period) {
  UpdateName();
}

TlaMBWriteMultRegisters::~TlaMBWriteMultRegisters() { LeaveOwner(); }

std::int32_t TlaMBWriteMultRegisters::Execute(TModbusSrv& server) {
  if (!Buffer) return kMBNoData;
  {
    TlaThreadBuffer::ReadAccess image(*Buffer);
    BuildWriteMultRegisters(Address, Count, image.Data(), Buffer->Size());
  }
  return TxRx(server);
}

void TlaMBWriteMultRegisters::UpdateName() {
  Name = kd::Sprintf("WriteMult[%d:%d:%d]", SlaveAddress.load(), Address, Count);
}

// ---------------------------------------------------------------------------
// Answers of the device functions

std::int32_t TakeIdentification(const std::vector<std::uint8_t>& answer, TlaVersionRecord& record) {
  if (answer.size() != 12) return kMBAnswerSize;
  record.KDPNumber = Word(answer, 2);
  record.KDNumber = Word(answer, 4);
  record.ModelLetters = Word(answer, 6);
  record.SetVersionNumber(Word(answer, 8));
  record.VersionLetters = Word(answer, 10);
  return kMBSuccess;
}

std::int32_t TakeDataModelInfo(const std::vector<std::uint8_t>& answer, TlaMBDataModelInfo& info) {
  if (answer.size() != 6) return kMBAnswerSize;
  info.First = Word(answer, 2);
  info.Count = Word(answer, 4);
  return kMBSuccess;
}

std::int32_t TakeDataModelEntry(const std::vector<std::uint8_t>& answer, TlaMBDataModelEntry& entry) {
  if (answer.size() != 6) return kMBAnswerSize;
  entry.Word1 = Word(answer, 2);
  entry.Word2 = Word(answer, 4);
  return kMBSuccess;
}

// ---------------------------------------------------------------------------
// TlaMBDeviceVersion

TlaMBDeviceVersion::TlaMBDeviceVersion(TlaMBDevice* owner, int period) : TlaMBTransaction(owner) {
  if (period != 0) SetPeriod(period);
  UpdateName();
}

TlaMBDeviceVersion::~TlaMBDeviceVersion() { LeaveOwner(); }

std::int32_t TlaMBDeviceVersion::Execute(TModbusSrv& server) {
  valid_ = false;
  BuildDeviceIdentification();
  const std::int32_t r = TakeAnswer(TxRx(server), Response, TakeIdentification, lock_, version_);
  valid_ = r == kMBSuccess;
  return r;
}

void TlaMBDeviceVersion::Notify() { RaiseDoneOrError(OnDone, OnError); }

void TlaMBDeviceVersion::OwnerChanged() { valid_ = false; }

void TlaMBDeviceVersion::UpdateName() { Name = kd::Sprintf("DeviceInfo[%d]", SlaveAddress.load()); }

TlaVersionRecord TlaMBDeviceVersion::GetVersion() const {
  std::lock_guard lock(lock_);
  return version_;
}

std::string TlaMBDeviceVersion::GetFullString() const { return GetVersion().GetFullString(); }
std::string TlaMBDeviceVersion::GetModelString() const { return GetVersion().GetModelString(); }
std::string TlaMBDeviceVersion::GetVersionString() const { return GetVersion().GetVersionString(true); }

// ---------------------------------------------------------------------------
// TlaMBDataModelScan

TlaMBDataModelScan::TlaMBDataModelScan(TlaMBDevice* owner, int period) : TlaMBTransaction(owner) {
  if (period != 0) SetPeriod(period);
  DisableOnSuccess = true;
  UpdateName();
}

TlaMBDataModelScan::~TlaMBDataModelScan() { LeaveOwner(); }

void TlaMBDataModelScan::Start(int level) {
  DisableOnError = level >= 2;
  requestedLevel_ = static_cast<std::int8_t>(level);
  SetActive(true);
}

void TlaMBDataModelScan::LowerLevel(int level) {
  if (requestedLevel_.load() != 0 || level >= reachedLevel_.load()) return;
  reachedLevel_ = static_cast<std::int8_t>(level);
  entriesRead_ = 0;
  std::lock_guard lock(lock_);
  entries_.clear();
}

std::int32_t TlaMBDataModelScan::Execute(TModbusSrv& server) {
  const int requested = requestedLevel_.load();
  reachedLevel_ = 0;
  std::int32_t r = kMBSuccess;
  if (requested >= 1) {
    BuildDeviceIdentification();
    r = TakeAnswer(TxRx(server), Response, TakeIdentification, lock_, version_);
    if (r == kMBSuccess) reachedLevel_ = 1;
  }
  if (r == kMBSuccess && requested >= 2) {
    BuildDataModelInfo();
    r = TakeAnswer(TxRx(server), Response, TakeDataModelInfo, lock_, info_);
    if (r == kMBSuccess) reachedLevel_ = 2;
  }
  const std::uint16_t count = GetInfo().Count;
  if (r == kMBSuccess && requested >= 3 && count > 0) {
    {
      std::lock_guard lock(lock_);
      entries_.assign(count, TlaMBDataModelEntry{});
    }
    entriesRead_ = 0;
    for (std::uint16_t index = 0; entriesRead_.load() < count && r == kMBSuccess; ++index) {
      BuildDataModelEntry(index);
      r = TakeAnswer(TxRx(server), Response, TakeDataModelEntry, lock_, entries_[index]);
      PostProgress(index + 1, count);
      entriesRead_ = static_cast<std::uint16_t>(entriesRead_.load() + 1);
    }
    if (r == kMBSuccess && entriesRead_.load() == count) reachedLevel_ = 3;
  }
  requestedLevel_ = 0;
  return r;
}

void TlaMBDataModelScan::Notify() {
  if (OnDone) OnDone(this, GetLastResult());
}

void TlaMBDataModelScan::Progress(int position, int total) {
  if (OnProgress) OnProgress(this, position, total);
}

void TlaMBDataModelScan::OwnerChanged() { LowerLevel(0); }

void TlaMBDataModelScan::UpdateName() { Name = kd::Sprintf("DataModelScan[%d]", SlaveAddress.load()); }

TlaVersionRecord TlaMBDataModelScan::GetVersion() const {
  std::lock_guard lock(lock_);
  return version_;
}

TlaMBDataModelInfo TlaMBDataModelScan::GetInfo() const {
  std::lock_guard lock(lock_);
  return info_;
}

std::vector<TlaMBDataModelEntry> TlaMBDataModelScan::GetEntries() const {
  std::lock_guard lock(lock_);
  return entries_;
}
