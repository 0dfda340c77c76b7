#pragma once
// Shared by the machine tests: the shipped machine data model, the bytes of
// a program in a register image, and texts as a window would show them.
#include <cstdint>
#include <string>
#include <vector>

#include "Tlaregdatabuffercmp.h"

namespace qztest {

using Bytes = std::vector<std::uint8_t>;

inline const std::string kDataDir = KD_DATA_DIR;
inline const std::string kMachineVersion = "KDP9_KD420v210";
inline constexpr int kSlots = 15;  // 10 EEPROM slots, 5 in the memory box
inline constexpr int kProgramRegisters = 244;
inline constexpr int kProgramBytes = 574;  // three strings, a date, 240 words

// The "EEProgram" registers' bytes of an image, in block order, and back.
inline Bytes ProgramBytes(const TlaRegDataBuffer& image) {
  Bytes bytes;
  auto blocks = image.RegDefs()->GetCategoryBlocks("EEProgram");
  for (const TlaRegBlock* b = blocks.get(); b && b->Valid; b = b->Next.get()) {
    auto segment = image.BufferSegment(b->First, b->Count);
    TlaThreadBuffer::ReadAccess read(*segment);
    bytes.insert(bytes.end(), read.Data(), read.Data() + segment->Size());
  }
  return bytes;
}

inline void SetProgramBytes(const TlaRegDataBuffer& image, const Bytes& bytes) {
  std::size_t at = 0;
  auto blocks = image.RegDefs()->GetCategoryBlocks("EEProgram");
  for (const TlaRegBlock* b = blocks.get(); b && b->Valid; b = b->Next.get()) {
    auto segment = image.BufferSegment(b->First, b->Count);
    TlaThreadBuffer::WriteAccess write(*segment);
    for (int i = 0; i < segment->Size(); ++i) write.Data()[i] = bytes.at(at++);
  }
}

// A string register's text up to its first zero character.
inline std::string Shown(const std::string& text) {
  return text.substr(0, text.find('\0'));
}

}  // namespace qztest
