#include "Checksum.h"

#include <array>

namespace kd::mb {
namespace {

constexpr std::array<std::uint16_t, 256> MakeCrcTable() {
  std::array<std::uint16_t, 256> table{};
  for (unsigned i = 0; i < 256; ++i) {
    unsigned crc = i;
    for (int bit = 0; bit < 8; ++bit) crc = (crc & 1u) ? (crc >> 1) ^ 0xA001u : crc >> 1;
    table[i] = static_cast<std::uint16_t>(crc);
  }
  return table;
}
constexpr auto kCrcTable = MakeCrcTable();

}  // namespace

std::uint16_t Crc16(std::span<const std::uint8_t> data) {
  std::uint16_t crc = 0xFFFF;
  for (std::uint8_t b : data)
    crc = static_cast<std::uint16_t>((crc >> 8) ^ kCrcTable[(crc ^ b) & 0xFFu]);
  return crc;
}

std::uint8_t Lrc(std::span<const std::uint8_t> data) {
  std::uint8_t sum = 0;
  for (std::uint8_t b : data) sum = static_cast<std::uint8_t>(sum + b);
  return static_cast<std::uint8_t>(-static_cast<int>(sum));
}

}  // namespace kd::mb
