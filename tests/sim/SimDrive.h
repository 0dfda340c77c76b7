#pragma once
// The behaviour of a simulated drive (a KD730, or a KD610 when the data
// model names that model): live values that move with the reference (the
// model's SimMotor), RAM and EEPROM twins, EEPROM kept in a file, fault words,
// and the command register P971 where the model has it (a write of 1 copies
// the RAM setup into its EEPROM twins).
//
// Time is handed in by the caller (seconds on any monotonic scale), so tests
// run the drive on a fake clock.
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "SimDevice.h"
#include "SimMotor.h"
#include "SimRegisterMap.h"

namespace kdsim {

class SimDrive : public SimDevice {
 public:
  // The registers the drive works with; the map must hold them all, else
  // kd::Exception names the first one missing. eepromFile may be empty (the
  // EEPROM then lives in memory only); an existing file is loaded into the
  // EEPROM registers, and the RAM setup starts as a copy of them.
  SimDrive(SimRegisterMap map, std::string eepromFile, double now);

  // Moves the drive on to time now (earlier times are ignored).
  void Update(double now) override;

  const SimRegisterMap& Map() const override { return map_; }

  // A master's write of registers first..first+count-1 (bytes as on the wire,
  // exactly ByteSize(first, count) of them). Read-only registers keep their
  // value, fault words only clear bits; P971 reads 0 again once its command
  // ran. Returns false when the EEPROM could not be kept in its file (the
  // registers hold the new values all the same).
  bool Write(int first, int count, std::span<const std::uint8_t> bytes) override;

  // Fault bits by their name in the data model ("Overcurrent") or as
  // register.bit ("ActFaultState_1.3"); false for an unknown name.
  bool RaiseFault(std::string_view name);
  // A register's raw value (element 0) set by name, as at the drive's own
  // panel; false for an unknown name.
  bool Preset(std::string_view name, std::int32_t value);
  bool ClearFault(std::string_view name);

  // What the simulated terminals and analogue inputs read (raw drive words).
  void SetTerminals(std::uint16_t bits) { inputs_.Terminals = bits; }
  void SetAnalogInputs(std::int32_t aref1, std::int32_t aref2) {
    inputs_.Analog1 = aref1;
    inputs_.Analog2 = aref2;
  }

  // The KD730's speed as a raw drive word (24576 = 100 %), the KD610's output
  // frequency in Hz.
  double Speed() const { return motor_->Speed(); }
  bool IsEeprom(int address) const;

  // 24576 raw counts are 100 % of the drive's speed or current.
  static constexpr double kFullScale = 24576.0;

 private:
  struct FaultBit {
    int word = 0;  // 0 or 1
    int bit = 0;
  };
  std::optional<FaultBit> FindFault(std::string_view name) const;
  // One step of dt seconds; settle jumps to the end of the ramps.
  void Step(double dt, bool settle = false);
  void LoadEeprom();
  bool SaveEeprom();
  // Every register with an EEPROM twin: its bytes into the twin, or back.
  void CopyTwins(bool intoEeprom);

  SimRegisterMap map_;
  std::unique_ptr<SimMotor> motor_;
  std::vector<bool> eeprom_;
  std::string eepromFile_;
  double now_;
  SimInputs inputs_{0, 0, static_cast<std::int32_t>(kFullScale), false};

  int actFault_[2], prevFault_[2];
  int command_;  // P971; -1 when the model has none
};

}  // namespace kdsim
