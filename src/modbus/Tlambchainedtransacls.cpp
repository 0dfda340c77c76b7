#include "Tlambchainedtransacls.h"

#include "Formats.h"
#include "Tlambdevice.h"

TlaMBChainedTransa::TlaMBChainedTransa(TlaMBDevice* owner, const std::string& category, int mode)
    : TlaMBTransaction(owner) {
  if (owner && owner->RegDefs()) Blocks = owner->RegDefs()->GetCategoryBlocks(category);
  Build(Blocks.get(), mode);
  UpdateName();
}

TlaMBChainedTransa::~TlaMBChainedTransa() {
  LeaveOwner();
  auto parts = Parts.LockList();
  parts->clear();
}

void TlaMBChainedTransa::Build(TlaRegBlock* blocks, int mode) {
  auto parts = Parts.LockList();
  TlaMBDevice* device = GetOwnerDevice();
  const TlaRegDefsList* model = device ? device->RegDefs() : nullptr;
  if (!model) return;
  const int limit = model->MaxBufferSize - 5;
  // A block that is not valid ends the chain.
  for (TlaRegBlock* block = blocks; block && block->Valid; block = block->Next.get()) {
    int size = model->CalcDataBufferSize(block->First, block->Count);
    // Split refuses a one-register block: that one stays whole.
    while (size > limit && block->Split(2)) size = model->CalcDataBufferSize(block->First, block->Count);
    auto segment = device->BufferSegment(block->First, block->Count);
    std::unique_ptr<TlaMBSimpleTransa> piece;
    if (mode == Write)
      piece = std::make_unique<TlaMBWriteMultRegisters>(SlaveAddress.load(), block->First, block->Count,
                                                        std::move(segment), 0);
    else
      piece = std::make_unique<TlaMBReadHoldRegisters>(SlaveAddress.load(), block->First, block->Count,
                                                       std::move(segment), 0);
    piece->SetActive(false);
    parts->push_back(std::move(piece));
  }
}

std::int32_t TlaMBChainedTransa::Execute(TModbusSrv& server) {
  auto parts = Parts.LockList();
  std::int32_t r = kMBSuccess;
  for (std::size_t i = 0; i < parts->size() && r == kMBSuccess; ++i) {
    TlaMBSimpleTransa& piece = *(*parts)[i];
    piece.SlaveAddress = SlaveAddress.load();
    r = piece.Run(server);
  }
  return r;
}

void TlaMBChainedTransa::Notify() { RaiseDoneOrError(OnDone, OnError); }

void TlaMBChainedTransa::OwnerChanged() {
  TlaMBDevice* device = GetOwnerDevice();
  if (!device) return;
  auto parts = Parts.LockList();
  for (auto& piece : *parts) {
    // A range outside the new image leaves the piece without a buffer
    // (never with a segment of the image it was over before).
    auto segment = device->BufferSegment(piece->Address, piece->Count);
    if (segment)
      piece->SetRange(piece->Address, piece->Count, std::move(segment));
    else
      piece->Buffer.reset();
  }
}

void TlaMBChainedTransa::UpdateName() { Name = kd::Sprintf("TlaMBChainedTransa[%d]", SlaveAddress.load()); }

std::vector<TlaMBChainedTransa::PartRange> TlaMBChainedTransa::GetPartRanges() {
  auto parts = Parts.LockList();
  std::vector<PartRange> ranges;
  for (auto& piece : *parts) ranges.push_back({piece->GetAddress(), piece->GetCount()});
  return ranges;
}
