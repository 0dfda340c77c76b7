#pragma once
// A serial line through termios.
//
// Setting codes: parity 0 none, 1 odd, 2 even, 3 mark, 4 space; stop bits
// 0 one, 1 one and a half (POSIX has none: two are used), 2 two; flow control
// 0 none, 1 RTS/CTS (CRTSCTS), 2 XON/XOFF (IXON|IXOFF), 8 RTS toggle (RTS
// raised while a frame is sent, for RS-485 converters).
#include <cstdint>
#include <span>
#include <string>
#include <utility>

#include "IoUtil.h"

namespace kd::mb {

struct SerialSettings {
  int baudRate = 19200;
  int byteSize = 8;
  int parity = 0;
  int stopBits = 0;
  int flowControl = 0;
};

class SerialPort {
 public:
  // Opens and configures the device, then drops whatever it still holds.
  // False (and the port closed) when the device cannot be opened or a
  // setting is not possible; `error` tells why.
  bool Open(const std::string& path, const SerialSettings& settings, std::string* error = nullptr);
  void Close() { fd_.reset(); }
  bool IsOpen() const { return static_cast<bool>(fd_); }
  int Fd() const { return fd_.get(); }
  // Hands the configured descriptor over; the port is closed afterwards.
  UniqueFd Release() { return std::move(fd_); }

  // True when the device hung up or reports an error (a pulled adapter, a
  // closed pseudo terminal). A read of none of its bytes tells nothing: a
  // serial device reads 0 bytes when it has none.
  bool HungUp() const;
  // Sends every byte before the deadline (with RTS toggled around it when asked).
  bool Write(std::span<const std::uint8_t> data, Clock::time_point deadline);
  // Time one character takes on the line, in microseconds.
  long CharMicros() const { return charMicros_; }

 private:
  UniqueFd fd_;
  bool rtsToggle_ = false;
  long charMicros_ = 573;
};

}  // namespace kd::mb
