#pragma once
// TlaThreadBuffer: a byte image guarded by one multi-reader/single-writer lock.
// The owning form creates the lock and zero-filled memory; a segment shares the
// lock and a slice of its parent's memory and must be destroyed before it.
// Every access is bracketed by BeginRead/EndRead or BeginWrite/EndWrite (or the
// ReadAccess/WriteAccess guards below), held for one short operation.
#include <cstdint>
#include <memory>

#include "MREWSync.h"

class TlaThreadBuffer {
 public:
  // Owning form: size bytes, all 0 (a negative size counts as 0).
  explicit TlaThreadBuffer(int size);
  // Sharing form over a parent's lock and memory; raises kd::Exception when
  // either pointer is null.
  TlaThreadBuffer(kd::MREWSync* sync, std::uint8_t* data, int size);
  ~TlaThreadBuffer();
  TlaThreadBuffer(const TlaThreadBuffer&) = delete;
  TlaThreadBuffer& operator=(const TlaThreadBuffer&) = delete;

  // A sharing buffer over [offset, offset + length) of this one, or null when
  // the range does not lie inside it (offset at or past the end, a length that
  // passes the end, or a negative offset or length).
  std::unique_ptr<TlaThreadBuffer> Segment(int offset, int length) const;

  std::uint8_t* BeginRead();
  void EndRead();
  std::uint8_t* BeginWrite();
  void EndWrite();

  kd::MREWSync* Sync() const { return sync_; }
  int Size() const { return size_; }
  std::uint8_t* Data() const { return data_; }
  bool OwnsData() const { return owned_ != nullptr; }

  // Scoped read or write access: the lock is released on every path out.
  class ReadAccess {
   public:
    explicit ReadAccess(TlaThreadBuffer& buffer) : buffer_(buffer), data_(buffer.BeginRead()) {}
    ~ReadAccess() { buffer_.EndRead(); }
    ReadAccess(const ReadAccess&) = delete;
    ReadAccess& operator=(const ReadAccess&) = delete;
    const std::uint8_t* Data() const { return data_; }

   private:
    TlaThreadBuffer& buffer_;
    const std::uint8_t* data_;
  };
  class WriteAccess {
   public:
    explicit WriteAccess(TlaThreadBuffer& buffer) : buffer_(buffer), data_(buffer.BeginWrite()) {}
    ~WriteAccess() { buffer_.EndWrite(); }
    WriteAccess(const WriteAccess&) = delete;
    WriteAccess& operator=(const WriteAccess&) = delete;
    std::uint8_t* Data() const { return data_; }

   private:
    TlaThreadBuffer& buffer_;
    std::uint8_t* data_;
  };

 private:
  struct Owned {
    kd::MREWSync sync;
    std::unique_ptr<std::uint8_t[]> data;
  };
  std::unique_ptr<Owned> owned_;  // set in the owning form only
  kd::MREWSync* sync_ = nullptr;
  int size_ = 0;
  std::uint8_t* data_ = nullptr;
};
