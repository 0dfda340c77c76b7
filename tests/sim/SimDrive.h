#pragma once
// The behaviour of a simulated KD730: live values that move with the
// reference, RAM and EEPROM twins, EEPROM kept in a file, fault words.
//
// Time is handed in by the caller (seconds on any monotonic scale), so tests
// run the drive on a fake clock.
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "SimRegisterMap.h"

namespace kdsim {

class SimDrive {
 public:
  // The registers the drive works with; the map must hold them all, else
  // kd::Exception names the first one missing. eepromFile may be empty (the
  // EEPROM then lives in memory only); an existing file is loaded into the
  // EEPROM registers, and the RAM setup starts as a copy of them.
  SimDrive(SimRegisterMap map, std::string eepromFile, double now);

  // Moves the drive on to time now (earlier times are ignored).
  void Update(double now);

  const SimRegisterMap& Map() const { return map_; }

  // A master's write of registers first..first+count-1 (bytes as on the wire,
  // exactly ByteSize(first, count) of them). Read-only registers keep their
  // value, fault words only clear bits. Returns false when the EEPROM could not
  // be kept in its file (the registers hold the new values all the same).
  bool Write(int first, int count, std::span<const std::uint8_t> bytes);

  // Fault bits by their name in the data model ("Overcurrent") or as
  // register.bit ("ActFaultState_1.3"); false for an unknown name.
  bool RaiseFault(std::string_view name);
  // A register's raw value (element 0) set by name, as at the drive's own
  // panel; false for an unknown name.
  bool Preset(std::string_view name, std::int32_t value);
  bool ClearFault(std::string_view name);

  // What the simulated terminals and analogue inputs read (raw drive words).
  void SetTerminals(std::uint16_t bits) { terminals_ = bits; }
  void SetAnalogInputs(std::int32_t aref1, std::int32_t aref2) {
    analog1_ = aref1;
    analog2_ = aref2;
  }

  double Speed() const { return speed_; }  // raw drive word, 24576 = 100 %
  bool IsEeprom(int address) const;

  // 24576 raw counts are 100 % of the drive's speed or current.
  static constexpr double kFullScale = 24576.0;

 private:
  struct FaultBit {
    int word = 0;  // 0 or 1
    int bit = 0;
  };
  std::optional<FaultBit> FindFault(std::string_view name) const;
  int Need(const char* name) const;
  // One step of dt seconds; settle jumps to the end of the ramps.
  void Step(double dt, bool settle = false);
  void LoadEeprom();
  bool SaveEeprom();
  bool Inverted() const;
  bool InputActive(int bit) const;

  SimRegisterMap map_;
  std::vector<bool> eeprom_;
  std::string eepromFile_;
  double now_;
  double speed_ = 0.0;
  std::uint16_t terminals_ = 0;
  std::int32_t analog1_ = 0;
  std::int32_t analog2_ = static_cast<std::int32_t>(kFullScale);

  // Addresses of the registers the drive works with (-1: not in this model).
  int urV_, icA_, ipA_, accel_, decel_, cfgFlags_, aref1Scale_, offsetAn2_, offsetAn3_;
  int refDig_, virtualInput_, hwLimitVolt_, dcBus_, armatureV_, current_, input_;
  int aref1_, aref2_, armature_, tacho_, actFault_[2], prevFault_[2], heatsink_;
};

}  // namespace kdsim
