#pragma once
// Result codes of the server component, as the client sees them.
#include <cstdint>

namespace kd::mb {

inline constexpr std::int32_t kOk = 0;
inline constexpr std::int32_t kTimeout = static_cast<std::int32_t>(0x80040201u);
inline constexpr std::int32_t kInvalidAnswer = static_cast<std::int32_t>(0x80040202u);
inline constexpr std::int32_t kBadChecksum = static_cast<std::int32_t>(0x80040203u);
inline constexpr std::int32_t kPortWrite = static_cast<std::int32_t>(0x80040208u);
inline constexpr std::int32_t kPortRead = static_cast<std::int32_t>(0x80040209u);
inline constexpr std::int32_t kPortNotInitialised = static_cast<std::int32_t>(0x8004020Au);
inline constexpr std::int32_t kExceptionBase = static_cast<std::int32_t>(0x80048200u);

// The proxy's code for a server process that died or stopped answering:
// its answer could not be read, so it is the port read error.
inline constexpr std::int32_t kServerLost = kPortRead;

inline constexpr std::int32_t ExceptionResult(std::uint8_t code) { return kExceptionBase + code; }
inline constexpr bool IsExceptionResult(std::int32_t r) {
  return r > kExceptionBase && r <= kExceptionBase + 0xFF;
}

// Modbus exception codes the gateway answers with.
inline constexpr std::uint8_t kExGatewayPath = 0x0A;
inline constexpr std::uint8_t kExGatewayTarget = 0x0B;

}  // namespace kd::mb
