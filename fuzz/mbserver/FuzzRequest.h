#pragma once
// The request an answer is checked against: picked by the first input byte.
#include <cstddef>
#include <cstdint>

#include "Framing.h"

inline kd::mb::Bytes FuzzRequest(const std::uint8_t*& data, std::size_t& size) {
  static const kd::mb::Bytes kRequests[] = {
      {0x01, 0x03, 0x00, 0x00, 0x00, 0x0A},
      {0x01, 0x06, 0x00, 0x01, 0x12, 0x34},
      {0x01, 0x10, 0x00, 0x00, 0x00, 0x01, 0x02, 0xAB, 0xCD},
      {0x01, 0x41},
      {0x01, 0x43, 0x00, 0x05},
      {0x01, 0x01, 0x00, 0x00, 0x00, 0x0A},
      {0x01, 0x04, 0x00, 0x00, 0x00, 0x03},
      {0x01, 0x05, 0x00, 0x07, 0xFF, 0x00},
      {0x01, 0x0F, 0x00, 0x10, 0x00, 0x0A, 0x02, 0xFF, 0x03},
  };
  std::uint8_t pick = 0;
  if (size > 0) {
    pick = data[0];
    ++data;
    --size;
  }
  return kRequests[pick % (sizeof kRequests / sizeof kRequests[0])];
}

// Every result is 0, a transport code or an exception code.
inline bool KnownResult(std::int32_t r) {
  return r == 0 || (r >= static_cast<std::int32_t>(0x80040201u) && r <= static_cast<std::int32_t>(0x8004020Au)) ||
         (r > static_cast<std::int32_t>(0x80048200u) && r <= static_cast<std::int32_t>(0x800482FFu));
}
