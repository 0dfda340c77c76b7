#include "Tladevicekdslavecmp.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "Tlambchainedtransacls.h"

namespace {

// On the line of the identified drive (a failing transaction included).
bool OnDriveLine(TlaSlaveState state) {
  return state == slaveOnline || state == slaveTransaError;
}

}  // namespace

TlaDeviceKDSlave::TlaDeviceKDSlave(kd::Component* owner) : TlaDeviceSlave(owner) {}

TlaDeviceKDSlave::~TlaDeviceKDSlave() = default;

TlaMBChainedTransa* TlaDeviceKDSlave::NewChained(const char* category, int mode,
                                                 void (TlaDeviceKDSlave::*done)(TlaMBTransaction*, std::int32_t)) {
  auto* transa = new TlaMBChainedTransa(this, category, mode);  // owned: joins TransaList
  transa->OnDone = [this, done](TlaMBTransaction* t, std::int32_t v) { (this->*done)(t, v); };
  transa->OnError = [this](TlaMBTransaction* t, std::int32_t r) { DoOnTransaError(t, r); };
  return transa;
}

void TlaDeviceKDSlave::AfterVersionFound() {
  PrevFaultState_0 = GetRegister(std::string("PrevFaultState_0"));
  PrevFaultState_1 = GetRegister(std::string("PrevFaultState_1"));
  ActFaultState_0 = GetRegister(std::string("ActFaultState_0"));
  ActFaultState_1 = GetRegister(std::string("ActFaultState_1"));
  RegistersSetup();
  EE_ModBusSlave = GetRegister(std::string("EE_ModBusSlave"));
  eeModBusSlaveView_ = std::make_unique<TlaParValue>(this, EE_ModBusSlave, 0);
  AssignDoOnAfterEdit(RegDefs()->GetCategoryBlocks("RamSetup").get());
  if (EE_ModBusSlave) {
    // A value typed into the image while online is the technician's for this drive.
    TlaRegAfterEditEvent hooked = EE_ModBusSlave->OnAfterEdit;
    EE_ModBusSlave->OnAfterEdit = [this, hooked](TlaRegister* reg, bool changed) {
      if (OnDriveLine(GetSlaveState())) modBusSlaveKnown_ = true;
      if (hooked) hooked(reg, changed);
    };
  }

  // Periodic: every pass and every tenth pass, never switched off by a result.
  TlaMBChainedTransa* actState = NewChained("ActState", TlaMBChainedTransa::Read, &TlaDeviceKDSlave::DoOnStateUpdate);
  actState->SetPeriod(1);
  actState->DisableOnSuccess = false;
  actState->DisableOnError = false;
  actState->SetActive(true);
  TlaMBChainedTransa* faultState =
      NewChained("FaultState", TlaMBChainedTransa::Read, &TlaDeviceKDSlave::DoOnFaultUpdate);
  faultState->SetPeriod(10);
  faultState->DisableOnSuccess = false;
  faultState->DisableOnError = false;
  faultState->SetActive(true);

  // Until one run succeeds.
  ramSetupRead_ = NewChained("RamSetup", TlaMBChainedTransa::Read, &TlaDeviceKDSlave::DoOnSetupUpdate);
  ramSetupRead_->SetPeriod(10);
  ramSetupRead_->DisableOnSuccess = true;
  ramSetupRead_->DisableOnError = false;
  ramSetupRead_->SetActive(true);

  // One run per activation.
  ramSetupWrite_ = NewChained("RamSetup", TlaMBChainedTransa::Write, &TlaDeviceKDSlave::DoOnSetupSent);
  ramSetupWrite_->DisableOnSuccess = true;
  ramSetupWrite_->DisableOnError = true;
  eePromSetupWrite_ = NewChained("EEPromSetup", TlaMBChainedTransa::Write, &TlaDeviceKDSlave::DoOnSetupSave);
  eePromSetupWrite_->DisableOnSuccess = true;
  eePromSetupWrite_->DisableOnError = true;
}

TlaRegister* TlaDeviceKDSlave::GetPreFault(int i) const {
  return i == 0 ? PrevFaultState_0 : i == 1 ? PrevFaultState_1 : nullptr;
}

TlaRegister* TlaDeviceKDSlave::GetActFault(int i) const {
  return i == 0 ? ActFaultState_0 : i == 1 ? ActFaultState_1 : nullptr;
}

bool TlaDeviceKDSlave::ReadModBusSlave() {
  if (!EE_ModBusSlave || !ReadReg(EE_ModBusSlave, true)) return false;
  modBusSlaveKnown_ = true;
  return true;
}

TlaSlaveState TlaDeviceKDSlave::UpdateSlaveState() {
  const TlaSlaveState state = TlaDeviceSlave::UpdateSlaveState();
  if (!OnDriveLine(state)) modBusSlaveKnown_ = false;
  return state;
}

void TlaDeviceKDSlave::AfterVersionFoundAgain() {
  if (!SetupKept()) ReadSetup();
}

void TlaDeviceKDSlave::ReadSetup() {
  if (ramSetupRead_ && ModelFits()) ramSetupRead_->SetActive(true);
}

void TlaDeviceKDSlave::SendSetup() { StartSetupWrite(false); }

void TlaDeviceKDSlave::SaveSetup() { StartSetupWrite(true); }

void TlaDeviceKDSlave::StartSetupWrite(bool save) {
  if (!ramSetupWrite_ || !ModelFits()) return;
  saveAfterSend_ = save;
  ramSetupWrite_->SetActive(true);
}

void TlaDeviceKDSlave::AssignDoOnAfterEdit(const TlaRegBlock* blocks) {
  ForEachRegister(blocks, [this](TlaRegister* reg) { HookAfterEdit(reg); });
}

void TlaDeviceKDSlave::HookAfterEdit(TlaRegister* reg) {
  reg->OnAfterEdit = [this](TlaRegister* r, bool changed) { DoOnAfterEdit(r, changed); };
}

void TlaDeviceKDSlave::DoOnAfterEdit(TlaRegister*, bool changed) {
  if (changed) SetupState = setupEdited;
  AfterEdit();
}

void TlaDeviceKDSlave::DoOnStateUpdate(TlaMBTransaction* transa, std::int32_t value) {
  AfterStateUpdate();
  if (OnStateUpdate) OnStateUpdate(transa, value);
}

void TlaDeviceKDSlave::DoOnFaultUpdate(TlaMBTransaction* transa, std::int32_t value) {
  AfterFaultUpdate();
  if (OnFaultUpdate) OnFaultUpdate(transa, value);
}

void TlaDeviceKDSlave::DoOnSetupUpdate(TlaMBTransaction* transa, std::int32_t value) {
  if (SetupState != setupSent) SetupState = setupSynced;
  AfterSetupUpdate();
  if (OnSetupUpdate) OnSetupUpdate(transa, value);
}

void TlaDeviceKDSlave::DoOnSetupSent(TlaMBTransaction* transa, std::int32_t value) {
  if (SetupState == setupEdited) SetupState = setupSent;
  if (OnSetupSent) OnSetupSent(transa, value);
  if (!saveAfterSend_) return;
  saveAfterSend_ = false;
  CopyToEepromTwins();
  if (eePromSetupWrite_) eePromSetupWrite_->SetActive(true);
}

void TlaDeviceKDSlave::DoOnSetupSave(TlaMBTransaction* transa, std::int32_t value) {
  SetupState = setupSynced;
  if (OnSetupSave) OnSetupSave(transa, value);
}

void TlaDeviceKDSlave::CopyToEepromTwins() {
  if (!ramSetupWrite_) return;
  std::vector<std::uint8_t> bytes;
  ForEachRegister(ramSetupWrite_->GetBlocks(), [&](TlaRegister* source) {
    if (source->Definition->RegAddr == source->Definition->RegProg) return;
    TlaRegister* twin = GetRegister(static_cast<int>(source->Definition->RegProg));
    if (!twin) return;
    // Both segments share the image's one lock: read, release, then write.
    // No more than the source holds is copied.
    const auto size = static_cast<std::size_t>(std::min(source->Segment->Size(), twin->Segment->Size()));
    {
      TlaThreadBuffer::ReadAccess from(*source->Segment);
      bytes.assign(from.Data(), from.Data() + size);
    }
    TlaThreadBuffer::WriteAccess to(*twin->Segment);
    if (size) std::memcpy(to.Data(), bytes.data(), size);
  });
}

void TlaDeviceKDSlave::StoreTruncated(TlaRegister* reg, long double raw) {
  if (!reg) return;
  const long double t = std::trunc(raw);
  if (!std::isfinite(t)) return;
  const long double clamped = std::clamp(t, -2147483648.0L, 2147483647.0L);
  reg->SetValueInteger(0, static_cast<int>(clamped));
}
