#include "Tlathreadbuffercls.h"

#include "Exception.h"

TlaThreadBuffer::TlaThreadBuffer(int size) : owned_(std::make_unique<Owned>()) {
  size_ = size > 0 ? size : 0;
  // At least one byte, so that even an empty image has a valid address for
  // the zero-length segments of registers that take no bytes.
  owned_->data = std::make_unique<std::uint8_t[]>(static_cast<std::size_t>(size_ > 0 ? size_ : 1));
  sync_ = &owned_->sync;
  data_ = owned_->data.get();
}

TlaThreadBuffer::TlaThreadBuffer(kd::MREWSync* sync, std::uint8_t* data, int size) {
  if (!sync || !data) throw kd::Exception("You must specify access structure and buffer pointer!");
  sync_ = sync;
  data_ = data;
  size_ = size > 0 ? size : 0;
}

TlaThreadBuffer::~TlaThreadBuffer() = default;

std::unique_ptr<TlaThreadBuffer> TlaThreadBuffer::Segment(int offset, int length) const {
  if (offset < 0 || length < 0 || offset >= size_ || size_ - offset < length) return nullptr;
  return std::make_unique<TlaThreadBuffer>(sync_, data_ + offset, length);
}

std::uint8_t* TlaThreadBuffer::BeginRead() {
  sync_->BeginRead();
  return data_;
}

void TlaThreadBuffer::EndRead() { sync_->EndRead(); }

std::uint8_t* TlaThreadBuffer::BeginWrite() {
  sync_->BeginWrite();
  return data_;
}

void TlaThreadBuffer::EndWrite() { sync_->EndWrite(); }
