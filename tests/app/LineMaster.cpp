#include "LineMaster.h"

#include <gtest/gtest.h>
#include <modbus.h>

#include <algorithm>
#include <cstdint>
#include <string>

namespace apptest {

namespace {

constexpr int kFrame = 16;

// One exchange, tried up to three times (the line may still hold what the
// program's server left on it).
template <class Fn>
bool OnTheLine(const std::string& device, Fn&& exchange) {
  // No parity: a pseudo terminal passes the bytes whatever the parity, and
  // refuses a parity change on a line opened for the first time (EINVAL).
  modbus_t* ctx = modbus_new_rtu(device.c_str(), 19200, 'N', 8, 1);
  if (!ctx) return false;
  modbus_set_slave(ctx, 1);
  modbus_set_response_timeout(ctx, 2, 0);
  bool done = false;
  if (modbus_connect(ctx) == 0) {
    modbus_flush(ctx);
    for (int attempt = 0; attempt < 3 && !done; ++attempt) done = exchange(ctx);
    modbus_close(ctx);
  }
  modbus_free(ctx);
  return done;
}

}  // namespace

std::vector<int> ReadDriveRegisters(const SimulatedDrive& drive, int first, int count) {
  std::vector<std::uint16_t> words(static_cast<std::size_t>(count));
  const bool read = OnTheLine(drive.Line(), [&](modbus_t* ctx) {
    // In frames the drive takes (its buffer holds 20 registers).
    for (int at = 0; at < count; at += kFrame) {
      const int n = std::min(kFrame, count - at);
      if (modbus_read_registers(ctx, first + at, n, words.data() + at) != n) return false;
    }
    return true;
  });
  EXPECT_TRUE(read) << "registers " << first << " to " << first + count - 1;
  if (!read) return std::vector<int>(words.size(), -1);
  return std::vector<int>(words.begin(), words.end());
}

void WriteDriveRegister(const SimulatedDrive& drive, int address, int value) {
  EXPECT_TRUE(OnTheLine(drive.Line(),
                        [&](modbus_t* ctx) {
                          return modbus_write_register(ctx, address,
                                                       static_cast<std::uint16_t>(value)) == 1;
                        }))
      << "register " << address;
}

}  // namespace apptest
