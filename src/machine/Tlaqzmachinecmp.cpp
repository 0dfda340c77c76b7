#include "Tlaqzmachinecmp.h"

#include <utility>

#include "Exception.h"
#include "Tlambsimpletransacls.h"
#include "Tlambthreadthr.h"

namespace {

constexpr std::uint16_t kNoState = 0xFFFF;

// A register read that keeps the name it was given.
class TlaQZPoll : public TlaMBReadHoldRegisters {
 public:
  TlaQZPoll(TlaMBDevice* owner, std::string name, std::uint16_t address, std::uint16_t count)
      : TlaMBReadHoldRegisters(owner, address, count), fixedName_(std::move(name)) {
    UpdateName();
  }
  void UpdateName() override { Name = fixedName_; }

 private:
  std::string fixedName_;
};

int IntegerOf(TlaRegister* reg) {
  try {
    return reg->GetValueInteger(0);
  } catch (const kd::Exception&) {
    return 0;  // a register without elements
  }
}

}  // namespace

TlaQZMachine::TlaQZMachine(kd::Component* owner) : TlaDeviceSlave(owner) {
  OnSlaveStateChange = [this](TlaDeviceSlave*) { UpdateQZNodeState(); };
  UpdateQZNodeState();
}

TlaQZMachine::~TlaQZMachine() {
  // Off the worker first: it may work out the node state while it closes.
  if (TlaMBThread* thread = GetConnOwner()) thread->Remove(this);
  OnSlaveStateChange = nullptr;
}

// ---------------------------------------------------------------------------
// Node state and the periodic reads

std::uint16_t TlaQZMachine::NodeStateFor(TlaSlaveState state, int workerState, bool alarm) {
  switch (state) {
    case slaveSetupInvalid:
      return kNoState;
    case slaveDisabled:
      return 162;
    case slaveNoConnection:
      return 172;
    case slaveNotConnected:
      switch (workerState) {
        case 0:
          return 175;
        case 2:
          return 166;
        case 3:
          return 259;
        default:
          return 164;  // enabled and opening, or just opened
      }
    case slaveVersionPending:
      return 190;
    case slaveNoDataModel:
      return 193;
    case slaveOnline:
      return alarm ? 108 : 163;
    case slaveTransaError:
      return 171;
    case slaveFaultLimit:
      return 174;
    default:
      return kNoState;
  }
}

TlaSlaveState TlaQZMachine::UpdateSlaveState() {
  const TlaSlaveState state = TlaDeviceSlave::UpdateSlaveState();
  const bool lineUp = state >= slaveVersionPending && state <= slaveTransaError;
  if (lineUp_.exchange(lineUp) && !lineUp) CancelTransfers();
  return state;
}

void TlaQZMachine::ResetConnOwner(TlaMBThread* thread) {
  TlaDeviceSlave::ResetConnOwner(thread);
  if (!GetConnOwner()) CancelTransfers();
}

void TlaQZMachine::CancelTransfers() {
  // Under the list lock no run of them goes on (the worker holds it for the
  // device's part of a pass; on the worker itself it is taken again).
  auto list = TransaList().LockList();
  for (TlaMBTransaction* t : *list)
    if (auto* transfer = dynamic_cast<TlaQZTransfer*>(t)) transfer->CancelPending();
}

std::uint16_t TlaQZMachine::UpdateQZNodeState() {
  const TlaSlaveState state = UpdateSlaveState();
  const TlaMBThread* worker = GetConnOwner();
  const std::uint16_t code =
      NodeStateFor(state, worker ? worker->GetState() : 0, state == slaveOnline && GetIsAlarm());
  if (nodeState_.exchange(code) != code && OnMachineStateChange) OnMachineStateChange(this);
  return code;
}

bool TlaQZMachine::GetIsAlarm() const {
  TlaRegister* a1 = GetRegister(std::string("Alarm1"));
  TlaRegister* a2 = GetRegister(std::string("Alarm2"));
  return a1 && a2 && (IntegerOf(a1) != 0 || IntegerOf(a2) != 0);
}

void TlaQZMachine::NewPoll(const char* name, const char* first, int count,
                           TlaDeviceEvent TlaQZMachine::*event, bool updateNodeState) {
  TlaRegister* reg = GetRegister(std::string(first));
  if (!reg) return;
  // Owned: joins TransaList; period and slave address from the settings.
  auto* poll =
      new TlaQZPoll(this, name, reg->Definition->RegAddr, static_cast<std::uint16_t>(count));
  poll->OnDone = [this, event, updateNodeState](TlaMBTransaction*, std::int32_t changed) {
    if (!changed) return;
    if (const TlaDeviceEvent& raise = this->*event) raise(this);
    if (updateNodeState) UpdateQZNodeState();
  };
  poll->OnError = [this](TlaMBTransaction*, std::int32_t) { UpdateQZNodeState(); };
  poll->SetActive(true);
}

void TlaQZMachine::AfterVersionFound() {
  NewPoll("CmdBordo", "CmdBordo", 1, &TlaQZMachine::OnCmdChange, false);
  NewPoll("StateTerra", "StateTerra", 1, &TlaQZMachine::OnStateChange, true);
  NewPoll("Allarmi", "Alarm1", 2, &TlaQZMachine::OnAlarmChange, true);
}

int TlaQZMachine::GetEEPromProgCount() const {
  return QZProgCount(RegDefs(), "ProgCountEE");
}

int TlaQZMachine::GetMemBoxProgCount() const {
  return QZProgCount(RegDefs(), "ProgCountBOX");
}

void TlaQZMachine::CompileAlarmList(kd::StringList* list) {
  TlaRegister* alarm1 = GetRegister(std::string("Alarm1"));
  if (!alarm1 || !list) return;
  const TlaRegBlock block(alarm1->Definition->RegAddr, 2);
  CompileValuesList(&block, list);
}

// ---------------------------------------------------------------------------
// Transfers

bool TlaQZMachine::HasSlotRegisters() const {
  return GetRegister(std::string("NewSelProgEE")) && GetRegister(std::string("ActSelProgEE"));
}

template <class T>
T* TlaQZMachine::Bind(T*& transa, bool create, TlaTransaEvent& onDone,
                      TlaTransaProgressEvent& onProgress, TlaTransaEvent& onError,
                      TlaTransaEvent& onCancel) {
  if (!transa && create) transa = new T(this);  // owned: joins TransaList
  if (!transa) return nullptr;
  transa->OnDone = std::move(onDone);
  transa->OnProgress = std::move(onProgress);
  transa->OnError = std::move(onError);
  transa->OnCancel = std::move(onCancel);
  return transa;
}

TlaQZProgHeaders* TlaQZMachine::CreateProgHeaderTransaction(TlaTransaEvent onDone,
                                                            TlaTransaProgressEvent onProgress,
                                                            TlaTransaEvent onError,
                                                            TlaTransaEvent onCancel) {
  return Bind(progHeaders_, HasSlotRegisters(), onDone, onProgress, onError, onCancel);
}

TlaQZProgMove* TlaQZMachine::CreateProgMoveTransaction(TlaTransaEvent onDone,
                                                       TlaTransaProgressEvent onProgress,
                                                       TlaTransaEvent onError,
                                                       TlaTransaEvent onCancel) {
  return Bind(progMove_, HasSlotRegisters(), onDone, onProgress, onError, onCancel);
}

bool TlaQZMachine::AskForProgHeaders(int first, int last) {
  if (!progHeaders_ || GetSlaveState() != slaveOnline) return false;
  progHeaders_->SetFirstProg(first);
  progHeaders_->SetLastProg(last);
  progHeaders_->SetActive(true);
  return true;
}

bool TlaQZMachine::StartMove(int slot, int mode) {
  if (!progMove_ || GetSlaveState() != slaveOnline) return false;
  progMove_->SetProgNum(slot);
  progMove_->StartMove(mode);
  return true;
}

bool TlaQZMachine::MoveProgToRemote(int slot) {
  if (!progMove_ || GetSlaveState() != slaveOnline) return false;
  // The slot's header changes with it.
  if (progHeaders_) progHeaders_->Reset();
  return StartMove(slot, TlaQZProgMove::ToMachine);
}

bool TlaQZMachine::MoveProgFromRemote(int slot) {
  return StartMove(slot, TlaQZProgMove::FromMachine);
}

bool TlaQZMachine::CompareProgs(int slot) {
  return StartMove(slot, TlaQZProgMove::CompareMode);
}

TlaQZActProgRAM* TlaQZMachine::RequestActProg(std::int8_t mode, TlaTransaEvent& onDone,
                                              TlaTransaProgressEvent& onProgress,
                                              TlaTransaEvent& onError, TlaTransaEvent& onCancel) {
  Bind(actProgRAM_, true, onDone, onProgress, onError, onCancel)->StartRequest(mode);
  return actProgRAM_;
}

TlaQZActProgRAM* TlaQZMachine::ReqActProgNum(TlaTransaEvent onDone,
                                             TlaTransaProgressEvent onProgress,
                                             TlaTransaEvent onError, TlaTransaEvent onCancel) {
  return RequestActProg(1, onDone, onProgress, onError, onCancel);
}

TlaQZActProgRAM* TlaQZMachine::ReqActProgHeader(TlaTransaEvent onDone,
                                                TlaTransaProgressEvent onProgress,
                                                TlaTransaEvent onError, TlaTransaEvent onCancel) {
  return RequestActProg(2, onDone, onProgress, onError, onCancel);
}

TlaQZActProgRAM* TlaQZMachine::ReqActProgRead(TlaTransaEvent onDone,
                                              TlaTransaProgressEvent onProgress,
                                              TlaTransaEvent onError, TlaTransaEvent onCancel) {
  return RequestActProg(3, onDone, onProgress, onError, onCancel);
}
