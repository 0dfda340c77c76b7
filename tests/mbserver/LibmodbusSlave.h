#pragma once
// An independent Modbus slave built on libmodbus, served by a thread: RTU on
// a serial device (one end of a socat pair) or TCP on a port of 127.0.0.1.
// It holds 100 holding registers from address 0, register n starting as
// Value(n); addresses outside them give exception 2 (libmodbus' own answer).
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>

namespace kdtest {

class LibmodbusSlave {
 public:
  static constexpr int kRegisters = 100;
  static std::uint16_t Value(int n) { return static_cast<std::uint16_t>(3 * n + 7); }

  // RTU, slave address 1, on `device` at 19200 baud, even parity, 8 data bits, 1 stop bit.
  static std::unique_ptr<LibmodbusSlave> Rtu(const std::string& device);
  // TCP on 127.0.0.1, on a free port (see Port()); clients one after another.
  static std::unique_ptr<LibmodbusSlave> Tcp();
  ~LibmodbusSlave();

  int Port() const { return port_; }

 private:
  LibmodbusSlave() = default;
  void ServeRtu();
  void ServeTcp();

  void* ctx_ = nullptr;      // modbus_t
  void* mapping_ = nullptr;  // modbus_mapping_t
  int listener_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

}  // namespace kdtest
