#pragma once
// The Modbus side of a simulated device (the drive, the moulding machine): one
// request frame in, the answer out. Frames begin with the slave address and
// carry no checksum or TCP header (the transport adds and removes those).
//
// Functions: 3, 6, 16 over the register map; 0x41 identification (12-byte
// answer); 0x42 data-model information (first word: image size in bytes,
// second: register count); 0x43 data-model entry (RegProg and byte size of the
// register at the index). Exceptions: 1 unknown function, 2 address outside the
// map, 3 bad count or length (also a transfer above the model's MaxBufferSize - 5
// data bytes), 4 a write the device refuses (the drive: EEPROM not kept).
// Frames for another slave address, and those the device does not answer
// (SimDevice::Answers), get no answer.
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "SimDevice.h"

namespace kdsim {

struct SimIdentity {
  std::uint16_t KDPNumber = 7;
  std::uint16_t KDNumber = 730;
  std::uint16_t ModelLetters = 0xFFFF;    // first letter high byte, 0xFF absent
  std::uint16_t Version = 105;
  std::uint16_t VersionLetters = 0xFFFF;

  // The identity a version name stands for ("KDP6_KD610v102"); the default
  // one above when the name does not parse or names no model.
  static SimIdentity Of(std::string_view versionName);
  // As the program prints and looks it up ("KDP7_KD730v105").
  std::string Text() const;
};

class SimSlave {
 public:
  SimSlave(SimDevice& drive, std::uint8_t address, SimIdentity identity, bool silent);

  // The answer to a request frame, or nothing (other slave, silent, empty frame).
  // now: the time in seconds on the drive's clock.
  std::optional<std::vector<std::uint8_t>> Handle(std::span<const std::uint8_t> request, double now);

  std::uint8_t Address() const { return address_; }

 private:
  std::vector<std::uint8_t> ReadHolding(std::span<const std::uint8_t> request);
  std::vector<std::uint8_t> WriteSingle(std::span<const std::uint8_t> request);
  std::vector<std::uint8_t> WriteMultiple(std::span<const std::uint8_t> request);
  std::vector<std::uint8_t> Identification(std::span<const std::uint8_t> request) const;
  std::vector<std::uint8_t> DataModelInfo(std::span<const std::uint8_t> request) const;
  std::vector<std::uint8_t> DataModelEntry(std::span<const std::uint8_t> request) const;
  std::vector<std::uint8_t> Exception(std::uint8_t function, std::uint8_t code) const;
  int DataLimit() const;

  SimDevice& drive_;
  std::uint8_t address_;
  SimIdentity identity_;
  bool silent_;
};

}  // namespace kdsim
