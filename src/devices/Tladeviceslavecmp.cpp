#include "Tladeviceslavecmp.h"

#include <algorithm>
#include <chrono>

#include "Exception.h"
#include "Formats.h"
#include "MainThread.h"
#include "Tladmcollectioncmp.h"
#include "Tlambchainedtransacls.h"
#include "Tlambsimpletransacls.h"
#include "Tlambthreadthr.h"

namespace {

constexpr int kIdentificationPeriod = 10;  // passes between identification attempts
constexpr int kScanPeriod = 10;
// How often a waiting ReadReg/WriteReg looks again when the worker does not wake it.
constexpr std::chrono::milliseconds kWaitPoll(5);

}  // namespace

TlaDeviceSlave::TlaDeviceSlave(kd::Component* owner)
    : TlaMBDevice(owner), deviceSetup_(std::make_unique<TlaMBDeviceSetup>()) {
  deviceSetup_->OnChange = [this](TlaMBDeviceSetup* sender, str_SetupItems& values) {
    DoOnChangeSetup(sender, values);
  };
}

TlaDeviceSlave::~TlaDeviceSlave() {
  if (TlaMBThread* thread = connOwner_.load()) thread->Remove(this);
  {
    auto list = transaList_.LockList();
    while (!list->empty()) {
      TlaMBTransaction* transa = list->front();
      Extract(transa);  // leaves the list, owner cleared, OnExtract
      delete transa;    // owned by this device
    }
  }
  versionTransa_ = nullptr;
  slaveState_ = slaveDisabled;
  deviceSetup_.reset();
  // The register image goes with the base.
}

void TlaDeviceSlave::SetMaxFaultCount(std::uint32_t value) {
  if (value >= 10) maxFaultCount_ = value;
}

// ---------------------------------------------------------------------------
// Transactions and the connection

void TlaDeviceSlave::Add(TlaMBTransaction* transa) {
  if (!transa) return;
  const bool added = transaList_.Add(transa);
  // SetOwnerDevice leaves the former owner and comes back here once more.
  if (transa->GetOwnerDevice() != this) transa->SetOwnerDevice(this);
  if (added && OnAdd) OnAdd(this, transa);
}

void TlaDeviceSlave::Extract(TlaMBTransaction* transa) {
  if (!transa) return;
  const bool removed = transaList_.Remove(transa);
  std::erase(suspended_, transa);
  if (transa->GetOwnerDevice() == this) transa->ClearOwner(this);
  if (removed && OnExtract) OnExtract(this, transa);
}

void TlaDeviceSlave::SetConnOwner(TlaMBThread* thread) {
  if (thread == connOwner_.load()) return;
  if (TlaMBThread* former = connOwner_.load()) former->Remove(this);  // resets connOwner_
  connOwner_ = thread;
  // What was identified on another line does not tell which drive this one reaches.
  identified_ = false;
  if (thread) {
    if (RegDefs()) SuspendTransactions();
    deviceSetup_->SetConnectionName(thread->Setup().Name);
    if (deviceSetup_->GetIsValid()) StartIdentification();
  }
  UpdateSlaveState();
}

void TlaDeviceSlave::SuspendTransactions() {
  modelFits_ = false;
  auto list = transaList_.LockList();
  for (TlaMBTransaction* t : *list) {
    if (t == versionTransa_.load() || !t->GetActive()) continue;
    // One-shot requests (reads until they succeed included) were meant for
    // the former drive; the periodic ones run again for the same drive.
    const bool periodic = !t->DisableOnSuccess.load() && !t->DisableOnError.load();
    if (periodic && std::find(suspended_.begin(), suspended_.end(), t) == suspended_.end())
      suspended_.push_back(t);
    t->SetActive(false);
  }
}

void TlaDeviceSlave::ResumeTransactions() {
  for (TlaMBTransaction* t : suspended_) t->SetActive(true);
  suspended_.clear();
}

bool TlaDeviceSlave::FitsModel(const std::string& version) const {
  // The file the collection would load the version from is the image's.
  return DMColl && RegDefs() && !RegDefs()->FileName.empty() &&
         DMColl->GetVersionFileName(version) == RegDefs()->FileName;
}

void TlaDeviceSlave::ResetConnOwner(TlaMBThread* thread) {
  TlaMBThread* expected = thread;
  connOwner_.compare_exchange_strong(expected, nullptr);
}

void TlaDeviceSlave::StartIdentification() {
  TlaMBDeviceVersion* version = versionTransa_.load();
  if (!version) {
    version = new TlaMBDeviceVersion(this, kIdentificationPeriod);  // owned: joins TransaList
    versionTransa_ = version;
  }
  version->OnDone = [this](TlaMBTransaction* t, std::int32_t r) { DoOnVersion(t, r); };
  version->OnError = [this](TlaMBTransaction* t, std::int32_t r) { DoOnVersionError(t, r); };
  // Repeated every tenth pass until it succeeds.
  version->DisableOnSuccess = true;
  version->DisableOnError = false;
  version->SetActive(true);
}

void TlaDeviceSlave::IncFaultCount() {
  if (!FaultCutOff) return;
  if (++faultCount_ > maxFaultCount_.load()) {
    deviceSetup_->SetEnable(false);  // the count stays: Enable is false
    UpdateSlaveState();
  }
}

void TlaDeviceSlave::RstFaultCount() { faultCount_ = 0; }

TlaSlaveState TlaDeviceSlave::ComputeSlaveState(const TlaMBTransaction* ignore) {
  TlaMBThread* owner = connOwner_.load();
  TlaMBDeviceVersion* version = versionTransa_.load();
  if (!deviceSetup_->GetIsValid()) return slaveSetupInvalid;
  if (faultCount_.load() > maxFaultCount_.load()) return slaveFaultLimit;
  if (!deviceSetup_->GetEnable()) return slaveDisabled;
  if (!owner) return slaveNoConnection;
  if (!owner->IsConnected()) return slaveNotConnected;
  if (!version || !version->GetValid() || !identified_) return slaveVersionPending;
  if (!modelFits_) return slaveNoDataModel;
  auto failed = [ignore](const TlaMBTransaction* t) {
    return t != ignore && t->GetActive() && t->GetLastResult() != 0;
  };
  if (kd::MainThread::IsMainThread()) {
    // The worker may hold the list for a whole pass of time-outs: look at the
    // items as last released instead of waiting. Transactions are destroyed
    // on this thread only, so the pointers stay valid here.
    for (const TlaMBTransaction* t : transaList_.Snapshot())
      if (failed(t)) return slaveTransaError;
  } else {
    auto list = transaList_.LockList();
    for (const TlaMBTransaction* t : *list)
      if (failed(t)) return slaveTransaError;
  }
  return slaveOnline;
}

TlaSlaveState TlaDeviceSlave::UpdateSlaveState() {
  const TlaSlaveState state = ComputeSlaveState();
  if (slaveState_.exchange(state) != state && OnSlaveStateChange) OnSlaveStateChange(this);
  return state;
}

void TlaDeviceSlave::DoOnVersion(TlaMBTransaction*, std::int32_t result) {
  TlaMBDeviceVersion* version = versionTransa_.load();
  // An answer that a newer identification overtook (the request runs again).
  if (!version || version->GetActive()) return;
  if (result == 0) {
    identified_ = true;
    const std::string text = version->GetFullString();
    if (!RegDefs()) {
      TlaRegDefsList* list = DMColl ? DMColl->LoadRegDefsListFor(text) : nullptr;
      if (list && CreateRegDataBuffer(list)) {
        AfterVersionFound();
        if (OnVersionFound) OnVersionFound(this);
        UpdateSlaveState();
        return;
      }
    } else if (FitsModel(text)) {
      modelFits_ = true;
      ResumeTransactions();
      AfterVersionFoundAgain();
      if (OnVersionFound) OnVersionFound(this);
      UpdateSlaveState();
      return;
    }
    // No collection, no model for the version, or the image is of another model.
    if (OnVersionUnknown) OnVersionUnknown(this);
  }
  UpdateSlaveState();
}

void TlaDeviceSlave::DoOnVersionError(TlaMBTransaction*, std::int32_t) {
  if (OnVersionError) OnVersionError(this);
  UpdateSlaveState();
}

void TlaDeviceSlave::DoOnChangeSetup(TlaMBDeviceSetup* sender, str_SetupItems& newvalues) {
  {
    auto list = transaList_.LockList();
    const std::uint8_t address = deviceSetup_->GetModBusAddress();
    for (TlaMBTransaction* t : *list) t->SlaveAddress = address;
  }
  const bool enabled = deviceSetup_->GetEnable();
  if (enabled) faultCount_ = 0;
  // Settings that became valid while attached start the identification now,
  // unless it runs or has been answered on this worker. (A device that
  // disables itself on the worker never gets here with Enable.)
  TlaMBDeviceVersion* version = versionTransa_.load();
  if (enabled && connOwner_.load() && deviceSetup_->GetIsValid() &&
      (!version || (!identified_ && !version->GetActive())))
    StartIdentification();
  UpdateSlaveState();
  if (OnSetupChange) OnSetupChange(sender, newvalues);
}

bool TlaDeviceSlave::CreateRegDataBuffer(TlaRegDefsList* list) {
  const bool built = TlaRegDataBuffer::CreateRegDataBuffer(list);
  if (built) modelFits_ = true;
  return built;
}

// ---------------------------------------------------------------------------
// Operations

bool TlaDeviceSlave::LoadFromIniFile(const std::string& fileName, const std::string& deviceName) {
  const bool loaded = deviceSetup_->LoadFromIniFile(fileName, deviceName);
  UpdateSlaveState();
  return loaded;
}

bool TlaDeviceSlave::LoadFromRegistry(kd::RootKey root, const std::string& keyPath, const std::string& deviceName) {
  bool loaded = false;
  try {
    loaded = deviceSetup_->LoadFromRegistry(root, keyPath, deviceName);
  } catch (...) {
    UpdateSlaveState();  // part of the values may have changed
    throw;
  }
  UpdateSlaveState();
  return loaded;
}

int TlaDeviceSlave::GetTransaCount() { return transaList_.Count(); }

TlaMBTransaction* TlaDeviceSlave::GetTransa(int index) {
  auto list = transaList_.LockList();
  if (index < 0 || index >= static_cast<int>(list->size()))
    throw kd::Exception(kd::Sprintf("GetTransa: List index out of bounds (%d)", index));
  return (*list)[static_cast<std::size_t>(index)];
}

void TlaDeviceSlave::ChangeSlaveAddress(std::uint8_t address) {
  deviceSetup_->SetModBusAddress(address);
  auto list = transaList_.LockList();
  for (TlaMBTransaction* t : *list) t->SlaveAddress = address;
}

TlaMBDataModelScan* TlaDeviceSlave::ExecDataModelScan(TlaTransaEvent onDone, TlaTransaProgressEvent onProgress) {
  if (!dmScanTransa_) dmScanTransa_ = new TlaMBDataModelScan(this, kScanPeriod);  // owned: joins TransaList
  dmScanTransa_->OnDone = std::move(onDone);
  dmScanTransa_->OnProgress = std::move(onProgress);
  dmScanTransa_->Start(3);
  return dmScanTransa_;
}

void TlaDeviceSlave::ReadProperties() {
  if (!modelFits_) return;  // the category comes from the data model
  if (!propertiesTransa_)
    propertiesTransa_ = new TlaMBChainedTransa(this, "Properties", TlaMBChainedTransa::Read);  // owned
  propertiesTransa_->OnDone = OnProperties;
  propertiesTransa_->DisableOnSuccess = true;
  propertiesTransa_->DisableOnError = true;
  propertiesTransa_->SetActive(true);
}

void TlaDeviceSlave::DoOnTransaError(TlaMBTransaction* transa, std::int32_t result) {
  if (OnTransaError) OnTransaError(transa, result);
}

// ---------------------------------------------------------------------------
// Synchronous register access

bool TlaDeviceSlave::CanAccess() const {
  TlaMBThread* owner = connOwner_.load();
  return owner && owner->IsConnected() && slaveState_.load() == slaveOnline;
}

bool TlaDeviceSlave::ReadReg(int address, bool wait) {
  if (address < 0 || address > 0xFFFF || !CanAccess()) return false;
  if (readTransa_ && readTransa_->GetBusy()) return false;
  if (!readTransa_) readTransa_ = new TlaMBReadHoldRegisters(this, 1, 0);  // owned: joins TransaList
  return RunPrivate(readTransa_, address, wait);
}

bool TlaDeviceSlave::WriteReg(int address, bool wait) {
  if (address < 0 || address > 0xFFFF || !CanAccess()) return false;
  if (writeTransa_ && writeTransa_->GetBusy()) return false;
  if (!writeTransa_) writeTransa_ = new TlaMBWriteSingleRegister(this, 0);  // owned: joins TransaList
  return RunPrivate(writeTransa_, address, wait);
}

bool TlaDeviceSlave::RunPrivate(TlaMBSimpleTransa* transa, int address, bool wait) {
  TlaMBThread* owner = connOwner_.load();
  {
    // Under the list lock the worker is outside this device's pass, so it
    // neither runs the transaction nor is about to while it is set up.
    auto list = transaList_.LockList();
    if (transa->GetBusy()) return false;
    transa->SetActive(false);
    transa->SetRange(static_cast<std::uint16_t>(address), 1);
    transa->DisableOnSuccess = true;
    transa->DisableOnError = true;
    transa->SetActive(true);
  }
  if (!wait) return transa->GetLastResult() == 0;

  // The worker clears Active after the run (both disable flags are set).
  kd::MainThread::WaitUntil(
      [&] {
        // Besides the stored state, look at the live one: while another of
        // the device's transactions times out, the worker skips the rest of
        // the device's list, and this run would never come.
        return !transa->GetActive() || connOwner_.load() != owner || !owner->IsConnected() ||
               slaveState_.load() != slaveOnline || ComputeSlaveState(transa) != slaveOnline;
      },
      std::chrono::milliseconds::max(), kWaitPoll);
  if (transa->GetActive()) {
    // The wait ended without the run: the request is withdrawn and fails,
    // rather than reporting an earlier run's result.
    auto list = transaList_.LockList();
    if (transa->GetActive()) {
      transa->SetActive(false);
      return false;
    }
  }
  return transa->GetLastResult() == 0;
}

bool TlaDeviceSlave::ReadReg(const std::string& name, bool wait) { return ReadReg(GetRegister(name), wait); }
bool TlaDeviceSlave::WriteReg(const std::string& name, bool wait) { return WriteReg(GetRegister(name), wait); }

bool TlaDeviceSlave::ReadReg(TlaRegister* reg, bool wait) {
  return reg && ReadReg(static_cast<int>(reg->Definition->RegAddr), wait);
}

bool TlaDeviceSlave::WriteReg(TlaRegister* reg, bool wait) {
  return reg && WriteReg(static_cast<int>(reg->Definition->RegAddr), wait);
}

// ---------------------------------------------------------------------------
// Export, import, listings

void TlaDeviceSlave::ExportToIniFile(const std::string& section, kd::IniFile* ini) {
  if (!ini || !RegDefs()) return;
  const auto blocks = RegDefs()->GetCategoryBlocks("ImportExport");
  // One write of the whole section: a failure part-way leaves the file as it was.
  ini->BeginUpdate();
  try {
    ForEachRegister(blocks.get(), [&](TlaRegister* reg) { reg->SaveToIni(section, ini); });
  } catch (...) {
    ini->CancelUpdate();
    throw;
  }
  ini->EndUpdate();
}

void TlaDeviceSlave::ImportFromIniFile(const std::string& section, const kd::IniFile* ini) {
  if (!ini || !RegDefs()) return;
  const auto blocks = RegDefs()->GetCategoryBlocks("ImportExport");
  ForEachRegister(blocks.get(), [&](TlaRegister* reg) {
    try {
      reg->LoadFromIni(section, ini);
    } catch (const kd::Exception& e) {
      throw kd::ConvertError("ImportFromIniFile: " + reg->Definition->Name + ": " + e.what());
    }
  });
}

void TlaDeviceSlave::CompileValuesList(const TlaRegBlock* blocks, kd::StringList* list) {
  if (!list) return;
  ForEachRegister(blocks, [&](TlaRegister* reg) { reg->Dump(list); });
}

void TlaDeviceSlave::StandardFaultScan(TlaRegister* reg, kd::StringList* list) {
  if (!reg || !list || !reg->Definition->IsIntegerType()) return;
  const TlaRegDefinition& d = *reg->Definition;
  const int bits = std::min(8 * d.GetElementSize(), 32);
  for (int i = 0; i < d.Length; ++i) {
    const auto value = static_cast<std::uint32_t>(reg->GetValueInteger(static_cast<std::uint8_t>(i)));
    for (int j = 0; j < bits; ++j)
      if ((value >> j) & 1u) list->Add(d.GetBitName(static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(j)));
  }
}
