#include "Tlaqzprogramcmp.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <string_view>
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

// Where the "EEProgram" blocks of a model lie in its image, in chain order,
// with their register and byte totals.
struct ProgramLayout {
  struct Piece {
    std::size_t offset, size;
  };
  std::vector<Piece> pieces;
  std::uint32_t registers = 0;
  std::uint32_t bytes = 0;
};

// 0, or the result code of the first bad block: 4 invalid, 3 outside the image.
std::uint8_t LayoutOf(const TlaRegDefsList& model, ProgramLayout& out) {
  const int imageSize = model.CalcDataBufferSize();
  const auto blocks = model.GetCategoryBlocks(kProgramCategory);
  for (const TlaRegBlock* b = blocks.get(); b; b = b->Next.get()) {
    if (!b->Valid) return qzFileBadBlock;
    const int offset = model.CalcDataBufferOffset(b->First);
    const int size = model.CalcDataBufferSize(b->First, b->Count);
    if (offset < 0 || size <= 0 || offset >= imageSize || size > imageSize - offset)
      return qzFileSegment;
    out.registers += b->Count;
    out.bytes += static_cast<std::uint32_t>(size);
    out.pieces.push_back({static_cast<std::size_t>(offset), static_cast<std::size_t>(size)});
  }
  return qzFileDone;
}

// The bytes the lines of a text take in a program file, each ended by CR LF
// (the lines of kd::SplitLines: CR, LF or CR LF ends a line).
std::size_t SavedTextSize(std::string_view text) {
  std::size_t size = 0;
  bool open = false;  // a line without its end so far
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\r' && text[i] != '\n') {
      ++size;
      open = true;
      continue;
    }
    size += 2;
    open = false;
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
  }
  return open ? size + 2 : size;
}

// A present file that may be replaced: a regular file its user may write. A
// file nobody may write stays as it is, also for the superuser.
bool MayReplace(const std::string& fileName) {
  struct stat st {};
  if (::stat(fileName.c_str(), &st) != 0) return errno == ENOENT;
  if (!S_ISREG(st.st_mode)) return false;
  if (::faccessat(AT_FDCWD, fileName.c_str(), W_OK, AT_EACCESS) != 0) return false;
  return (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) != 0;
}

}  // namespace

TlaQZProgram::TlaQZProgram(kd::Component* owner) : TlaRegDataBuffer(owner) {}

TlaQZProgram::~TlaQZProgram() = default;

TlaRegDefsList* TlaQZProgram::ModelFor(const std::string& text) const {
  // An image is built once: an open program takes no other model.
  if (!DMColl || text == currentVersion_ || GetIsOpen()) return nullptr;
  return DMColl->LoadRegDefsListFor(text);
}

bool TlaQZProgram::SetVerString(const std::string& text) {
  TlaRegDefsList* found = ModelFor(text);
  if (!found || !CreateRegDataBuffer(found)) return false;
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

  ProgramLayout program;
  if (const std::uint8_t r = LayoutOf(*RegDefs(), program); r != qzFileDone) return r;
  PutU32(data, kRegTotalAt, program.registers);
  PutU32(data, kByteTotalAt, program.bytes);
  data.reserve(kHeaderSize + program.bytes);
  {
    TlaThreadBuffer::ReadAccess read(*DataBuffer());  // the program as it stands at one moment
    for (const ProgramLayout::Piece& piece : program.pieces)
      data.append(reinterpret_cast<const char*>(read.Data()) + piece.offset, piece.size);
  }
  for (const std::string& line : Lines.Lines()) {
    data += line;
    data += "\r\n";
  }
  // Text a loader would refuse: the file could never be loaded again.
  if (data.size() - kHeaderSize - program.bytes > kMaxTextBytes) return qzFileTotals;
  if (!MayReplace(fileName)) return qzFileIo;
  return kd::ReplaceFile(fileName, data, 0666) == 0 ? qzFileDone : qzFileIo;
}

std::uint8_t TlaQZProgram::LoadFromFile(const std::string& fileName) {
  // Everything is looked at before the program changes, and no more than the
  // model's program and kMaxTextBytes of text is ever read: a file that is no
  // regular file (a device, a FIFO, a folder) is refused before it is read.
  kd::InputFile file;
  if (const kd::FileStatus open = file.Open(fileName); !open.Ok())
    return open.fault == kd::FileFault::Missing ? qzFileMissing : qzFileIo;

  std::string header(kHeaderSize, '\0');
  const ssize_t got = file.Read(header.data(), kHeaderSize);
  if (got < 0) return qzFileIo;
  header.resize(static_cast<std::size_t>(got));
  if (header.size() < kFormatAt + kFormatTag ||
      header.compare(kFormatAt, kFormatTag, kFormat, kFormatTag) != 0)
    return qzFileNotProgram;
  if (header.size() < kHeaderSize) return qzFileTotals;

  const std::string field = header.substr(kVersionAt, kVersionSize);
  const std::string version = field.substr(0, field.find('\0'));
  TlaRegDefsList* model = ModelFor(version);
  if (!model) return qzFileNoImage;
  ProgramLayout program;
  if (const std::uint8_t r = LayoutOf(*model, program); r != qzFileDone) return r;
  if (program.bytes != GetU32(header, kByteTotalAt) ||
      program.registers != GetU32(header, kRegTotalAt))
    return qzFileTotals;
  // The program, then at most kMaxTextBytes of text: the file's size tells
  // before anything is read, the read itself checks it again.
  if (file.Size() < kHeaderSize) return qzFileTotals;
  const std::uintmax_t rest = file.Size() - kHeaderSize;
  if (rest < program.bytes || rest - program.bytes > kMaxTextBytes) return qzFileTotals;
  std::string data(static_cast<std::size_t>(rest) + 1, '\0');
  const ssize_t read = file.Read(data.data(), data.size());
  if (read < 0) return qzFileIo;
  if (static_cast<std::uint64_t>(read) != rest) return qzFileTotals;  // changed while read
  data.resize(static_cast<std::size_t>(rest));

  // Lines that, ended by CR LF, would be too long to be saved again.
  const std::string_view text = std::string_view(data).substr(program.bytes);
  if (SavedTextSize(text) > kMaxTextBytes) return qzFileTotals;

  if (!SetVerString(version)) return qzFileNoImage;
  std::size_t at = 0;
  {
    TlaThreadBuffer::WriteAccess write(*DataBuffer());
    for (const ProgramLayout::Piece& piece : program.pieces) {
      std::memcpy(write.Data() + piece.offset, data.data() + at, piece.size);
      at += piece.size;
    }
  }
  Lines = kd::StringList(kd::SplitLines(text));
  return qzFileDone;
}
