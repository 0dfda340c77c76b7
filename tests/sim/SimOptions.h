#pragma once
// Command line of kd730-sim.
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "Exception.h"
#include "SimSlave.h"

namespace kdsim {

// The identity fields given on the command line.
struct SimIdentityOptions {
  std::optional<std::uint16_t> KDPNumber, KDNumber, ModelLetters, Version, VersionLetters;
  // The fields given, the model's own for the others.
  SimIdentity Over(SimIdentity model) const;
};

struct SimOptions {
  // Exactly one of the two is set.
  std::string RtuPath;
  std::string TcpHost;
  int TcpPort = -1;  // 0: pick a free one

  int Baud = 19200;
  char Parity = 'E';  // 'N', 'E' or 'O'
  int StopBits = 1;

  std::string ParFile = "KD730_Parameters.par";
  int Slave = 0;  // 0: the address kept in the EEPROM (EE_ModBusSlave), else 1
  SimIdentityOptions Identity;  // over the data model's own (its first version name)
  std::string EepromFile;
  std::vector<std::string> Faults;
  // Registers set at start (--set NAME=VALUE): name and raw value of element 0.
  std::vector<std::pair<std::string, std::int32_t>> Presets;
  bool Silent = false;
  // --late ADDRESS:MS: the first read (function 3) from register ADDRESS is
  // answered MS milliseconds late; -1 none.
  int LateAddress = -1;
  int LateMs = 0;
  int LatencyMs = 0;  // --latency MS: every other answer MS milliseconds after its request
  bool Help = false;
};

class SimUsageError : public kd::Exception {
 public:
  using kd::Exception::Exception;
};

// Raises SimUsageError with a one-line reason for a bad command line.
SimOptions ParseSimOptions(const std::vector<std::string>& args);
std::string SimUsage();

// Letters as the drive sends them: up to two ASCII letters or digits, first in
// the high byte, 0xFF for an absent one ("" is 0xFFFF, "AB" is 0x4142).
std::uint16_t LettersWord(const std::string& letters);

}  // namespace kdsim
