#pragma once
// What a simulated slave serves: registers that move on with time and take a
// master's writes (the drive, the moulding machine).
#include <cstdint>
#include <span>

#include "SimRegisterMap.h"

namespace kdsim {

class SimDevice {
 public:
  virtual ~SimDevice() = default;
  // Moves the device on to time now (seconds on any monotonic scale).
  virtual void Update(double now) = 0;
  virtual const SimRegisterMap& Map() const = 0;
  // A master's write of registers first..first+count-1 (exactly
  // ByteSize(first, count) bytes, as on the wire); false: the device refuses
  // it (the slave answers exception 4).
  virtual bool Write(int first, int count, std::span<const std::uint8_t> bytes) = 0;
  // False: the device leaves this request (a frame for it) unanswered.
  virtual bool Answers(std::span<const std::uint8_t> /*request*/) { return true; }
};

}  // namespace kdsim
