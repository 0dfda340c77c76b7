#include "Tlaregdatabuffercmp.h"

TlaRegDataBuffer::TlaRegDataBuffer(kd::Component* owner) : kd::Component(owner) {}

TlaRegDataBuffer::~TlaRegDataBuffer() { DestroyRegDataBuffer(); }

bool TlaRegDataBuffer::CreateRegDataBuffer(TlaRegDefsList* list) {
  if (!list || dataBuffer_ || !registers_.empty()) return false;
  try {
    regDefs_ = list;
    dataBuffer_ = std::make_unique<TlaThreadBuffer>(list->CalcDataBufferSize());
    const int count = list->RegisterCount();
    registers_.reserve(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
      const auto index = static_cast<std::uint16_t>(i);
      std::unique_ptr<TlaThreadBuffer> segment = BufferSegment(index, 1);
      if (!segment) {
        // A register that takes no bytes still gets a (zero-length) segment.
        segment = std::make_unique<TlaThreadBuffer>(
            dataBuffer_->Sync(), dataBuffer_->Data() + list->CalcDataBufferOffset(index), 0);
      }
      registers_.push_back(std::make_unique<TlaRegister>(list->Find(index), std::move(segment)));
    }
    return true;
  } catch (...) {
    DestroyRegDataBuffer();
    regDefs_ = nullptr;
    return false;
  }
}

void TlaRegDataBuffer::DestroyRegDataBuffer() {
  // Registers first: their segments share the buffer's memory and lock.
  while (!registers_.empty()) registers_.pop_back();
  registers_.shrink_to_fit();
  dataBuffer_.reset();
}

std::unique_ptr<TlaThreadBuffer> TlaRegDataBuffer::BufferSegment(std::uint16_t first, std::uint16_t count) const {
  if (!regDefs_ || !dataBuffer_) return nullptr;
  const int offset = regDefs_->CalcDataBufferOffset(first);
  const int length = regDefs_->CalcDataBufferSize(first, count);
  if (offset < 0 || length <= 0) return nullptr;
  return dataBuffer_->Segment(offset, length);
}

TlaRegister* TlaRegDataBuffer::GetRegister(int index) const {
  return index >= 0 && index < GetRegisterCount() ? registers_[static_cast<std::size_t>(index)].get() : nullptr;
}

TlaRegister* TlaRegDataBuffer::GetRegister(const std::string& name) const {
  for (const auto& r : registers_)
    if (r->Definition->Name == name) return r.get();
  return nullptr;
}

int TlaRegDataBuffer::GetBufferSize() const {
  return regDefs_ && dataBuffer_ ? regDefs_->CalcDataBufferSize() : 0;
}

int TlaRegDataBuffer::GetRegisterCount() const {
  return regDefs_ && dataBuffer_ ? static_cast<int>(registers_.size()) : 0;
}
