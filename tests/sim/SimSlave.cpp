#include "SimSlave.h"

#include <algorithm>

#include "Tlaregdefinitioncls.h"
#include "Tlaversionrecordcls.h"

namespace kdsim {

namespace {

constexpr std::uint8_t kIllegalFunction = 1;
constexpr std::uint8_t kIllegalAddress = 2;
constexpr std::uint8_t kIllegalValue = 3;
constexpr std::uint8_t kDeviceFailure = 4;

int Word(std::span<const std::uint8_t> frame, size_t at) { return (frame[at] << 8) | frame[at + 1]; }

void PutWord(std::vector<std::uint8_t>& out, int value) {
  out.push_back(static_cast<std::uint8_t>((value >> 8) & 0xFF));
  out.push_back(static_cast<std::uint8_t>(value & 0xFF));
}

}  // namespace

SimIdentity SimIdentity::Of(std::string_view versionName) {
  TlaVersionRecord record;
  if (!record.Parse(std::string(versionName), "") || record.KDNumber == 0) return {};
  // Digits the name leaves out count as 0.
  const int version = std::max(record.Hundreds, 0) * 100 + std::max(record.Tens, 0) * 10 + std::max(record.Units, 0);
  return {record.KDPNumber, record.KDNumber, record.ModelLetters, static_cast<std::uint16_t>(version),
          record.VersionLetters};
}

std::string SimIdentity::Text() const {
  TlaVersionRecord record;
  record.KDPNumber = KDPNumber;
  record.KDNumber = KDNumber;
  record.ModelLetters = ModelLetters;
  record.SetVersionNumber(Version);
  record.VersionLetters = VersionLetters;
  return record.GetFullString();
}

SimSlave::SimSlave(SimDevice& drive, std::uint8_t address, SimIdentity identity, bool silent)
    : drive_(drive), address_(address), identity_(identity), silent_(silent) {}

int SimSlave::DataLimit() const { return drive_.Map().MaxBufferSize() - 5; }

std::vector<std::uint8_t> SimSlave::Exception(std::uint8_t function, std::uint8_t code) const {
  return {address_, static_cast<std::uint8_t>(function | 0x80), code};
}

std::optional<std::vector<std::uint8_t>> SimSlave::Handle(std::span<const std::uint8_t> request,
                                                          double now) {
  if (silent_ || request.size() < 2 || request[0] != address_) return std::nullopt;
  drive_.Update(now);
  if (!drive_.Answers(request)) return std::nullopt;
  switch (request[1]) {
    case 0x03: return ReadHolding(request);
    case 0x06: return WriteSingle(request);
    case 0x10: return WriteMultiple(request);
    case 0x41: return Identification(request);
    case 0x42: return DataModelInfo(request);
    case 0x43: return DataModelEntry(request);
    default: return Exception(request[1], kIllegalFunction);
  }
}

std::vector<std::uint8_t> SimSlave::ReadHolding(std::span<const std::uint8_t> request) {
  if (request.size() != 6) return Exception(0x03, kIllegalValue);
  int first = Word(request, 2);
  int count = Word(request, 4);
  if (count < 1 || count > 125) return Exception(0x03, kIllegalValue);
  int size = drive_.Map().ByteSize(first, count);
  if (size < 0) return Exception(0x03, kIllegalAddress);
  if (size > DataLimit() || size > 255) return Exception(0x03, kIllegalValue);
  std::vector<std::uint8_t> answer{address_, 0x03, static_cast<std::uint8_t>(size)};
  auto bytes = drive_.Map().Bytes(first, count);
  answer.insert(answer.end(), bytes.begin(), bytes.end());
  return answer;
}

std::vector<std::uint8_t> SimSlave::WriteSingle(std::span<const std::uint8_t> request) {
  if (request.size() < 4) return Exception(0x06, kIllegalValue);
  int first = Word(request, 2);
  int size = drive_.Map().ByteSize(first, 1);
  if (size < 0) return Exception(0x06, kIllegalAddress);
  if (request.size() != 4 + static_cast<size_t>(size)) return Exception(0x06, kIllegalValue);
  if (!drive_.Write(first, 1, request.subspan(4))) return Exception(0x06, kDeviceFailure);
  return {request.begin(), request.end()};
}

std::vector<std::uint8_t> SimSlave::WriteMultiple(std::span<const std::uint8_t> request) {
  if (request.size() < 7) return Exception(0x10, kIllegalValue);
  int first = Word(request, 2);
  int count = Word(request, 4);
  if (count < 1 || count > 123) return Exception(0x10, kIllegalValue);
  int size = drive_.Map().ByteSize(first, count);
  if (size < 0) return Exception(0x10, kIllegalAddress);
  if (request[6] != size || request.size() != 7 + static_cast<size_t>(size) || size > DataLimit())
    return Exception(0x10, kIllegalValue);
  if (!drive_.Write(first, count, request.subspan(7))) return Exception(0x10, kDeviceFailure);
  return {request.begin(), request.begin() + 6};
}

std::vector<std::uint8_t> SimSlave::Identification(std::span<const std::uint8_t> request) const {
  if (request.size() != 2) return Exception(0x41, kIllegalValue);
  std::vector<std::uint8_t> answer{address_, 0x41};
  PutWord(answer, identity_.KDPNumber);
  PutWord(answer, identity_.KDNumber);
  PutWord(answer, identity_.ModelLetters);
  PutWord(answer, identity_.Version);
  PutWord(answer, identity_.VersionLetters);
  return answer;
}

std::vector<std::uint8_t> SimSlave::DataModelInfo(std::span<const std::uint8_t> request) const {
  if (request.size() != 2) return Exception(0x42, kIllegalValue);
  const SimRegisterMap& map = drive_.Map();
  std::vector<std::uint8_t> answer{address_, 0x42};
  PutWord(answer, map.ByteSize(0, map.Count()));
  PutWord(answer, map.Count());
  return answer;
}

std::vector<std::uint8_t> SimSlave::DataModelEntry(std::span<const std::uint8_t> request) const {
  if (request.size() != 4) return Exception(0x43, kIllegalValue);
  const SimRegisterMap& map = drive_.Map();
  int index = Word(request, 2);
  if (index >= map.Count()) return Exception(0x43, kIllegalAddress);
  std::vector<std::uint8_t> answer{address_, 0x43};
  PutWord(answer, map.At(index).RegProg);
  PutWord(answer, map.At(index).GetByteSize());
  return answer;
}

}  // namespace kdsim
