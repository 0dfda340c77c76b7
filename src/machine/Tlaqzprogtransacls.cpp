#include "Tlaqzprogtransacls.h"

#include <algorithm>
#include <chrono>

#include "Exception.h"
#include "Formats.h"
#include "Tlambdevice.h"
#include "Tlathreadbuffercls.h"

namespace {

constexpr char kNewSel[] = "NewSelProgEE";
constexpr char kActSel[] = "ActSelProgEE";
// The header registers, in the order their bytes follow one another.
constexpr const char* kHeaderRegisters[] = {"EE_NomeProgramma", "EE_NomeCliente", "EE_Materiale",
                                            "EE_DataVariazione"};

int SlotsOf(const TlaMBDevice* device) {
  const TlaRegDefsList* model = device ? device->RegDefs() : nullptr;
  return QZProgCount(model, "ProgCountEE") + QZProgCount(model, "ProgCountBOX");
}

// Clears `flag` when the scope ends, also when the body raises.
struct FlagScope {
  std::atomic<bool>& flag;
  explicit FlagScope(std::atomic<bool>& f) : flag(f) { flag = true; }
  ~FlagScope() { flag = false; }
};

}  // namespace

int QZProgCount(const TlaRegDefsList* model, const char* key) {
  if (!model) return 0;
  std::int32_t count = 0;
  if (!kd::TryParseInteger(model->AddOnInfo.Values(key), count) || count < 0) return 0;
  return count;
}

// ---------------------------------------------------------------------------
// TlaQZTransfer

void TlaQZTransfer::Staged::TakeInto(TlaMBDevice& device) const {
  TlaThreadBuffer* image = device.DataBuffer();
  if (!image || pieces.empty()) return;
  TlaThreadBuffer::WriteAccess write(*image);
  for (const auto& [offset, bytes] : pieces)
    std::copy(bytes.begin(), bytes.end(), write.Data() + offset);
}

std::int32_t TlaQZTransfer::ReadBlock(TModbusSrv& server, TlaMBDevice& device, std::uint16_t first,
                                      std::uint16_t count, Way way, Staged* staged,
                                      bool& differs) {
  const auto segment = device.BufferSegment(first, count);
  const int offset = device.RegDefs() ? device.RegDefs()->CalcDataBufferOffset(first) : -1;
  if (!segment || offset < 0 || (way == Way::Take && !staged)) return kMBNoData;
  bool changed = false;
  const std::int32_t r = ReadRegisters(server, first, count, *segment, false, changed);
  if (r != kMBSuccess) return r;
  if (changed) differs = true;
  if (way == Way::Take) {
    const std::uint8_t* data = Response.data() + 3;  // ReadRegisters checked the size
    staged->pieces.emplace_back(offset, std::vector<std::uint8_t>(data, data + segment->Size()));
  }
  return kMBSuccess;
}

std::int32_t TlaQZTransfer::TransferCategory(TModbusSrv& server, TlaMBDevice& device,
                                             const std::string& category, Way way,
                                             Staged* staged, bool& differs,
                                             const std::atomic<bool>* abort) {
  const TlaRegDefsList* model = device.RegDefs();
  if (!model) return kMBNoData;
  const auto blocks = model->GetCategoryBlocks(category);
  const int total = blocks ? blocks->GetTotalCount() : 0;
  const int limit = model->MaxBufferSize - 5;
  int done = 0;
  for (TlaRegBlock* b = blocks.get(); b;) {
    if (abort && abort->load()) return kMBSpecialFailed;
    if (!b->Valid) return kMBNoData;
    // Cut already at the limit; the halves are looked at again.
    if (model->CalcDataBufferSize(b->First, b->Count) >= limit) {
      if (!b->Split(2)) return kMBSpecialFailed;
      continue;
    }
    std::int32_t r;
    if (way == Way::Send) {
      const auto segment = device.BufferSegment(b->First, b->Count);
      if (!segment) return kMBNoData;
      {
        TlaThreadBuffer::ReadAccess image(*segment);
        BuildWriteMultRegisters(b->First, b->Count, image.Data(), segment->Size());
      }
      r = TxRx(server);  // the answer is not examined
    } else {
      r = ReadBlock(server, device, b->First, b->Count, way, staged, differs);
    }
    if (r != kMBSuccess) return r;
    done += b->Count;
    PostProgress(done, total);
    b = b->Next.get();
  }
  return kMBSuccess;
}

// ---------------------------------------------------------------------------
// TlaQZActProgRAM

TlaQZActProgRAM::TlaQZActProgRAM(TlaMBDevice* owner) : TlaQZTransfer(owner) {
  DisableOnSuccess = true;
  DisableOnError = true;
  UpdateName();
}

TlaQZActProgRAM::~TlaQZActProgRAM() {
  LeaveOwner();
}

void TlaQZActProgRAM::StartRequest(std::int8_t mode) {
  mode_ = mode;
  SetActive(true);
}

std::int32_t TlaQZActProgRAM::Execute(TModbusSrv& server) {
  const std::int8_t mode = mode_.exchange(0);
  TlaMBDevice* device = GetOwnerDevice();
  if (!device) return kMBSpecialFailed;
  lastMode_ = 0;
  if (mode <= 0) return kMBSuccess;
  bool differs = false;  // not asked for here
  Staged staged;
  std::int32_t r = kMBNoData;
  if (TlaRegister* number = device->GetRegister(std::string("ActNumProg")))
    r = ReadBlock(server, *device, number->Definition->RegAddr, 1, Way::Take, &staged, differs);
  if (r == kMBSuccess && mode == 2)
    r = TransferCategory(server, *device, "ActProgHeader", Way::Take, &staged, differs);
  if (r == kMBSuccess && mode == 3)
    r = TransferCategory(server, *device, "ActProgram", Way::Take, &staged, differs);
  if (r != kMBSuccess) return r;
  staged.TakeInto(*device);
  lastMode_ = mode;
  return r;
}

bool TlaQZActProgRAM::CancelPending() {
  const bool pending = GetActive();
  SetActive(false);
  mode_ = 0;
  if (pending) PostCancel();
  return pending;
}

void TlaQZActProgRAM::Notify() {
  if (OnDone) OnDone(this, GetLastResult());
}

void TlaQZActProgRAM::Progress(int position, int total) {
  if (OnProgress) OnProgress(this, position, total);
}

void TlaQZActProgRAM::Cancel() {
  if (OnCancel) OnCancel(this, 0);
}

void TlaQZActProgRAM::OwnerChanged() {
  lastMode_ = 0;
}

void TlaQZActProgRAM::UpdateName() {
  Name = kd::Sprintf("ActProgRAM[%d]", SlaveAddress.load());
}

// ---------------------------------------------------------------------------
// TlaQZProgEEProm

TlaQZProgEEProm::TlaQZProgEEProm(TlaMBDevice* owner) : TlaQZTransfer(owner) {
  DisableOnSuccess = true;
  DisableOnError = true;
  if (const TlaRegDefsList* model = owner ? owner->RegDefs() : nullptr) {
    const TlaRegDefinition* newSel = model->Find(std::string(kNewSel));
    const TlaRegDefinition* actSel = model->Find(std::string(kActSel));
    if (newSel && actSel) {
      hasSelect_ = true;
      newSelAddress_ = newSel->RegAddr;
      actSelAddress_ = actSel->RegAddr;
    }
  }
  UpdateName();
}

TlaQZProgEEProm::~TlaQZProgEEProm() {
  LeaveOwner();
}

std::int32_t TlaQZProgEEProm::Execute(TModbusSrv& server) {
  if (!GetOwnerDevice() || executing_.exchange(true)) return kMBSpecialFailed;
  FlagScope executing(executing_);
  resuming_ = running_.load();
  if (!resuming_) {
    // One slot transfer at a time: the machine has one selection.
    if (SlotsTaken()) {
      ContinueNextPass();
      return kMBSuccess;
    }
    running_ = true;
    Abort = false;
    selSlot_ = -1;
  }
  std::int32_t r;
  try {
    r = DoExecute(server);
  } catch (...) {
    EndTransfer();
    throw;
  }
  if (r == kSelectPending) {
    ContinueNextPass();
    return kMBSuccess;
  }
  lastOk_ = r == kMBSuccess && !Abort.load();
  EndTransfer();
  return r;
}

void TlaQZProgEEProm::EndTransfer() {
  selSlot_ = -1;
  resuming_ = false;
  running_ = false;
}

bool TlaQZProgEEProm::SlotsTaken() const {
  TlaMBDevice* device = GetOwnerDevice();
  if (!device) return false;
  auto list = device->TransaList().LockList();  // held already within the worker's pass
  for (TlaMBTransaction* t : *list) {
    const auto* other = dynamic_cast<const TlaQZProgEEProm*>(t);
    if (other && other != this && other->GetRunning()) return true;
  }
  return false;
}

bool TlaQZProgEEProm::CancelPending() {
  const bool pending = GetActive() || running_.load();
  SetActive(false);
  EndTransfer();
  if (pending) PostCancel();
  return pending;
}

std::int32_t TlaQZProgEEProm::SelectProg(TModbusSrv& server, int slot) {
  if (slot < 0 || slot >= SlotsOf(GetOwnerDevice())) return kMBSpecialFailed;
  if (!hasSelect_) return kMBNoData;
  const int waiting = selSlot_.exchange(-1);  // set again only while it waits
  if (Abort.load()) return kMBSpecialFailed;
  const auto value = static_cast<std::uint16_t>(slot + 1);
  if (waiting != slot) {
    const std::uint8_t word[2] = {static_cast<std::uint8_t>(value >> 8),
                                  static_cast<std::uint8_t>(value & 0xFF)};
    BuildWriteSingleRegister(newSelAddress_, word, 2);
    if (const std::int32_t r = TxRx(server); r != kMBSuccess) return r;
    selDeadline_ =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(SelectTimeoutMs.load());
  }
  // The machine confirms once the slot is in place; a machine that keeps
  // answering without confirming ends the handshake after the time-out.
  BuildReadHoldRegisters(actSelAddress_, 1);
  if (const std::int32_t r = TxRx(server); r != kMBSuccess) return r;
  if (Response.size() != 5 || Response[2] != 2) return kMBAnswerSize;
  if ((Response[3] << 8 | Response[4]) == value) return kMBSuccess;
  if (std::chrono::steady_clock::now() >= selDeadline_) return kMBSpecialFailed;
  selSlot_ = slot;
  return kSelectPending;
}

void TlaQZProgEEProm::Notify() {
  RaiseDoneOrError(OnDone, OnError);
}

void TlaQZProgEEProm::Progress(int position, int total) {
  if (OnProgress) OnProgress(this, position, total);
}

void TlaQZProgEEProm::Cancel() {
  if (OnCancel) OnCancel(this, 0);
}

void TlaQZProgEEProm::OwnerChanged() {
  lastOk_ = false;
  EndTransfer();
}

void TlaQZProgEEProm::UpdateName() {
  Name = kd::Sprintf("SelProgEE[%d]", SlaveAddress.load());
}

void TlaQZProgEEProm::Reset() {
  lastOk_ = false;
}

// ---------------------------------------------------------------------------
// TlaQZProgHeaders

TlaQZProgHeaders::TlaQZProgHeaders(TlaMBDevice* owner)
    : TlaQZProgEEProm(owner),
      slotCount_(static_cast<std::uint16_t>(std::min(SlotsOf(owner), 0xFFFF))) {
  if (owner && owner->RegDefs()) blocks_ = owner->RegDefs()->GetCategoryBlocks("EEProgHeader");
  headers_.resize(slotCount_);
  lastProg_ = static_cast<std::uint16_t>(slotCount_ - 1);
  Reset();
  UpdateName();
}

TlaQZProgHeaders::~TlaQZProgHeaders() {
  LeaveOwner();
}

void TlaQZProgHeaders::UpdateName() {
  Name = kd::Sprintf("ProgHeaderEE[%d]", SlaveAddress.load());
}

void TlaQZProgHeaders::Reset() {
  TlaQZProgEEProm::Reset();
  index_ = 0;
  std::lock_guard lock(headersLock_);
  for (str_ProgHeader& h : headers_) h = {"?????", "-----", "-----", "-----"};
}

void TlaQZProgHeaders::SetFirstProg(int n) {
  if (GetRunning() || n < 0 || n == firstProg_.load() || n >= slotCount_) return;
  firstProg_ = static_cast<std::uint16_t>(n);
  Reset();
}

void TlaQZProgHeaders::SetLastProg(int n) {
  if (GetRunning() || n < 0 || n == lastProg_.load() || n >= slotCount_) return;
  lastProg_ = static_cast<std::uint16_t>(n);
  Reset();
}

str_ProgHeader TlaQZProgHeaders::GetHeader(int slot) const {
  std::lock_guard lock(headersLock_);
  if (slot < 0 || slot >= static_cast<int>(headers_.size())) return {};
  return headers_[static_cast<std::size_t>(slot)];
}

std::int32_t TlaQZProgHeaders::DoExecute(TModbusSrv& server) {
  const TlaRegDefsList* model = GetOwnerDevice()->RegDefs();
  const TlaRegBlock* block = blocks_.get();
  const int size =
      model && block && block->Valid ? model->CalcDataBufferSize(block->First, block->Count) : -1;
  // The header registers one after the other, each by its own codec.
  const TlaRegDefinition* definitions[4] = {};
  for (int k = 0; model && k < 4; ++k) definitions[k] = model->Find(std::string(kHeaderRegisters[k]));
  const int first = firstProg_.load();
  const int last = lastProg_.load();  // the setters leave both alone while it runs
  if (!Resuming()) next_ = 0;
  index_ = static_cast<std::uint16_t>(next_);
  std::int32_t r = kMBSuccess;
  while (next_ <= last - first && r == kMBSuccess && !Abort.load()) {
    const int slot = first + next_;
    r = SelectProg(server, slot);
    if (r == kSelectPending) return r;
    if (r != kMBSuccess) break;
    if (size < 0) {
      r = kMBNoData;
    } else {
      BuildReadHoldRegisters(block->First, block->Count);
      r = TxRx(server);
      if (r == kMBSuccess &&
          (Response.size() != static_cast<std::size_t>(size) + 3 || Response[2] != size))
        r = kMBAnswerSize;
    }
    if (r == kMBSuccess) {
      str_ProgHeader header = GetHeader(slot);
      std::string* texts[] = {&header.Name, &header.Client, &header.Material, &header.Date};
      int offset = 0;
      for (int k = 0; k < 4; ++k) {
        const TlaRegDefinition* d = definitions[k];
        if (!d) continue;
        if (offset + d->GetByteSize() > size) break;
        try {
          *texts[k] = d->GetValueText(Response.data() + 3 + offset, 0);
        } catch (const kd::Exception&) {
          // A register the codec cannot show keeps its placeholder.
        }
        offset += d->GetByteSize();
      }
      std::lock_guard lock(headersLock_);
      if (slot < static_cast<int>(headers_.size()))
        headers_[static_cast<std::size_t>(slot)] = header;
    }
    PostProgress(next_ + 1, last - first + 1);
    index_ = static_cast<std::uint16_t>(++next_);
  }
  if (r == kMBSuccess && Abort.load()) r = kMBSpecialFailed;
  lastProg_ = static_cast<std::uint16_t>(first + next_ - 1);
  return r;
}

// ---------------------------------------------------------------------------
// TlaQZProgMove

TlaQZProgMove::TlaQZProgMove(TlaMBDevice* owner) : TlaQZProgEEProm(owner) {
  UpdateName();
}

TlaQZProgMove::~TlaQZProgMove() {
  LeaveOwner();
}

void TlaQZProgMove::UpdateName() {
  Name = kd::Sprintf("ProgMove[%d]", SlaveAddress.load());
}

void TlaQZProgMove::SetProgNum(int n) {
  if (!GetRunning()) progNum_ = static_cast<std::uint16_t>(n);
}

void TlaQZProgMove::StartMove(int mode) {
  if (GetRunning()) return;
  moveMode_ = static_cast<std::uint8_t>(mode);
  SetActive(true);
}

std::int32_t TlaQZProgMove::DoExecute(TModbusSrv& server) {
  if (!Resuming()) differs_ = false;
  std::int32_t r = SelectProg(server, progNum_.load());
  if (r != kMBSuccess) return r;  // a failure, or kSelectPending
  Way way;
  switch (moveMode_.load()) {
    case 0:
      return kMBSuccess;
    case FromMachine:
      way = Way::Take;
      break;
    case ToMachine:
      way = Way::Send;
      break;
    case CompareMode:
      way = Way::Compare;
      break;
    default:
      return kMBSpecialFailed;
  }
  TlaMBDevice& device = *GetOwnerDevice();
  bool differs = false;
  Staged staged;
  r = TransferCategory(server, device, "EEProgram", way, &staged, differs, &Abort);
  if (differs) differs_ = true;
  if (r == kMBSuccess) staged.TakeInto(device);
  return r;
}
