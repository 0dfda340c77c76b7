#pragma once
// Modbus checksums: CRC-16 of RTU frames (sent low byte first) and the LRC of
// ASCII frames.
#include <cstdint>
#include <span>

namespace kd::mb {

std::uint16_t Crc16(std::span<const std::uint8_t> data);
std::uint8_t Lrc(std::span<const std::uint8_t> data);

}  // namespace kd::mb
