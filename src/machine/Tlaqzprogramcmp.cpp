#include "Tlaqzprogramcmp.h"

#include <cerrno>
#include <cstring>
#include <memory>
#include <vector>

#include "Exception.h"
#include "FileIo.h"
#include "Tladmcollectioncmp.h"

namespace {

constexpr char kProgramCategory[] = "EEProgram";
constexpr char kTitle[] = "Quarzo Program\n\r";
constexpr char kFormat[] = "QZPv100\n\r";
constexpr std::size_t kFormatTag = 7;  // "QZPv100"
constexpr std::size_t kTitleAt = 0, kFormatAt = 20, kVersionAt = 40, kVersionSize = 30;
constexpr std::size_t kRegTotalAt = 72, kByteTotalAt = 76;

void PutText(std::string& header, std::size_t at, std::size_t size, const std::string& text) {
  header.replace(at, std::min(size, text.size()), text, 0, std::min(size, text.size()));
}

void PutU32(std::string& header, std::size_t at, std::uint32_t value) {
  for (std::size_t i = 0; i < 4; ++i) header[at + i] = static_cast<char>((value >> (8 * i)) & 0xFF);
}

std::uint32_t GetU32(const std::string& data, std::size_t at) {
  std::uint32_t value = 0;
  for (std::size_t i = 0; i < 4; ++i)
    value |= static_cast<std::uint32_t>(static_cast<unsigned char>(data[at + i])) << (8 * i);
  return value;
}

// The segments of the "EEProgram" blocks of an image, in chain order, with
// the register total; 0, or the result code of the first bad block.
struct ProgramSegments {
  std::vector<std::unique_ptr<TlaThreadBuffer>> segments;
  std::uint32_t registers = 0;
  std::uint32_t bytes = 0;
};

std::uint8_t CollectSegments(const TlaRegDataBuffer& image, ProgramSegments& out) {
  const auto blocks = image.RegDefs()->GetCategoryBlocks(kProgramCategory);
  for (const TlaRegBlock* b = blocks.get(); b; b = b->Next.get()) {
    if (!b->Valid) return qzFileBadBlock;
    auto segment = image.BufferSegment(b->First, b->Count);
    if (!segment) return qzFileSegment;
    out.registers += b->Count;
    out.bytes += static_cast<std::uint32_t>(segment->Size());
    out.segments.push_back(std::move(segment));
  }
  return qzFileDone;
}

}  // namespace

TlaQZProgram::TlaQZProgram(kd::Component* owner) : TlaRegDataBuffer(owner) {}

TlaQZProgram::~TlaQZProgram() = default;

bool TlaQZProgram::SetVerString(const std::string& text) {
  if (!DMColl || text == currentVersion_) return false;
  TlaRegDefsList* found = DMColl->LoadRegDefsListFor(text);
  if (!found || (GetIsOpen() && found == RegDefs())) return false;
  if (!CreateRegDataBuffer(found)) return false;
  currentVersion_ = text;
  return true;
}

std::string TlaQZProgram::HeaderText(const char* registerName) const {
  TlaRegister* reg = GetRegister(std::string(registerName));
  if (!reg) return {};
  try {
    return reg->GetValueText(0);
  } catch (const kd::Exception&) {
    return {};  // a register the codec cannot show (no elements)
  }
}

std::string TlaQZProgram::GetProgName() const {
  return HeaderText("EE_NomeProgramma");
}
std::string TlaQZProgram::GetProgClie() const {
  return HeaderText("EE_NomeCliente");
}
std::string TlaQZProgram::GetProgMate() const {
  return HeaderText("EE_Materiale");
}
std::string TlaQZProgram::GetProgDate() const {
  return HeaderText("EE_DataVariazione");
}

void TlaQZProgram::RenameProg(const std::string& name) {
  if (TlaRegister* reg = GetRegister(std::string("EE_NomeProgramma"))) reg->SetValueText(name, 0);
}

std::uint8_t TlaQZProgram::SaveToFile(const std::string& fileName) {
  if (GetBufferSize() <= 0 || GetRegisterCount() <= 0 || !DMColl) return qzFileNoImage;
  // A file whose version the collection cannot name could never be loaded again.
  const std::string version = DMColl->GetVersionString(RegDefs());
  if (version.empty()) return qzFileNoImage;

  std::string data(kHeaderSize, '\0');
  PutText(data, kTitleAt, 20, kTitle);
  PutText(data, kFormatAt, 20, kFormat);
  PutText(data, kVersionAt, kVersionSize, version + "\n\r");

  ProgramSegments program;
  if (const std::uint8_t r = CollectSegments(*this, program); r != qzFileDone) return r;
  PutU32(data, kRegTotalAt, program.registers);
  PutU32(data, kByteTotalAt, program.bytes);
  data.reserve(kHeaderSize + program.bytes);
  for (const auto& segment : program.segments) {
    TlaThreadBuffer::ReadAccess read(*segment);
    data.append(reinterpret_cast<const char*>(read.Data()),
                static_cast<std::size_t>(segment->Size()));
  }
  for (const std::string& line : Lines.Lines()) {
    data += line;
    data += "\r\n";
  }
  return kd::ReplaceFile(fileName, data, 0666) == 0 ? qzFileDone : qzFileIo;
}

std::uint8_t TlaQZProgram::LoadFromFile(const std::string& fileName) {
  std::string data;
  if (const int error = kd::ReadWholeFile(fileName, data); error != 0)
    return error == ENOENT || error == ENOTDIR ? qzFileMissing : qzFileIo;
  if (data.size() < kFormatAt + kFormatTag ||
      data.compare(kFormatAt, kFormatTag, kFormat, kFormatTag) != 0)
    return qzFileNotProgram;
  if (data.size() < kHeaderSize) return qzFileTotals;

  const std::string field = data.substr(kVersionAt, kVersionSize);
  const std::string version = field.substr(0, field.find('\0'));
  const std::uint32_t registerTotal = GetU32(data, kRegTotalAt);
  const std::uint32_t byteTotal = GetU32(data, kByteTotalAt);

  const std::string formerVersion = currentVersion_;
  if (!SetVerString(version)) return qzFileNoImage;
  // SetVerString built a new image (an image is built once): a failure from
  // here on takes it down again.
  ProgramSegments program;
  std::uint8_t r = CollectSegments(*this, program);
  if (r == qzFileDone && (program.bytes != byteTotal || program.registers != registerTotal ||
                          data.size() - kHeaderSize < program.bytes))
    r = qzFileTotals;
  if (r != qzFileDone) {
    DestroyRegDataBuffer();
    currentVersion_ = formerVersion;
    return r;
  }
  std::size_t at = kHeaderSize;
  for (const auto& segment : program.segments) {
    const auto size = static_cast<std::size_t>(segment->Size());
    TlaThreadBuffer::WriteAccess write(*segment);
    std::memcpy(write.Data(), data.data() + at, size);
    at += size;
  }
  Lines = kd::StringList(kd::SplitLines(std::string_view(data).substr(at)));
  return qzFileDone;
}
