#include "SimOptions.h"

#include <cctype>
#include <cmath>
#include <limits>

#include "Formats.h"
#include "Strings.h"

namespace kdsim {

namespace {

int Number(const std::string& option, const std::string& text, int low, int high) {
  std::int32_t value = 0;
  if (!kd::TryParseInteger(text, value) || value < low || value > high)
    throw SimUsageError(option + ": '" + text + "' is not a number from " + std::to_string(low) + " to " +
                        std::to_string(high));
  return value;
}

}  // namespace

SimIdentity SimIdentityOptions::Over(SimIdentity model) const {
  return {KDPNumber.value_or(model.KDPNumber), KDNumber.value_or(model.KDNumber),
          ModelLetters.value_or(model.ModelLetters), Version.value_or(model.Version),
          VersionLetters.value_or(model.VersionLetters)};
}

std::uint16_t LettersWord(const std::string& letters) {
  if (letters.size() > 2) throw SimUsageError("'" + letters + "': at most two letters");
  std::uint16_t word = 0xFFFF;
  for (size_t i = 0; i < letters.size(); ++i) {
    auto c = static_cast<unsigned char>(letters[i]);
    if (!std::isalnum(c)) throw SimUsageError("'" + letters + "': letters and digits only");
    int shift = i == 0 ? 8 : 0;
    word = static_cast<std::uint16_t>((word & ~(0xFF << shift)) | (c << shift));
  }
  return word;
}

std::string SimUsage() {
  return "Usage: kd730-sim (--rtu PATH | --tcp HOST:PORT) [options]\n"
         "A simulated KD730 DC drive (or KD610 inverter): a Modbus slave for tests and\n"
         "demonstrations.\n"
         "\n"
         "Line:\n"
         "  --rtu PATH             serve Modbus RTU on a serial device or pseudo terminal\n"
         "  --baud N               baud rate (default 19200)\n"
         "  --parity none|even|odd parity (default even)\n"
         "  --stop 1|2             stop bits (default 1)\n"
         "  --tcp HOST:PORT        serve Modbus TCP; PORT 0 picks a free port\n"
         "\n"
         "Drive:\n"
         "  --par FILE             data model that sizes the registers (default KD730_Parameters.par)\n"
         "  --slave N              slave address 1..247 (default: EE_ModBusSlave from the EEPROM, else 1)\n"
         "  --eeprom FILE          file that keeps the EEPROM registers across restarts\n"
         "  --fault NAME           raise a fault at start: its bit name (\"Overcurrent\") or\n"
         "                         REGISTER.BIT (\"ActFaultState_1.3\"); may be repeated\n"
         "  --set NAME=VALUE       a register's raw value at start (\"RefDig=6144\"); may be repeated\n"
         "  --silent               never answer (for time-out tests)\n"
         "  --late ADDRESS:MS      answer the first read (function 3) from register ADDRESS\n"
         "                         MS milliseconds late (for time-out tests)\n"
         "  --latency MS           answer every other request MS milliseconds after it came\n"
         "\n"
         "Identity answered to function 0x41 (defaults: the first name of the data\n"
         "model's version list, KDP7_KD730v105 for the KD730 file, KDP6_KD610v102 for\n"
         "the KD610 file):\n"
         "  --kdp N                family number (0 for none)\n"
         "  --model N              model number\n"
         "  --model-letters XY     up to two model letters\n"
         "  --version N            firmware version, 105 or 1.05\n"
         "  --version-letters XY   up to two version letters\n"
         "\n"
         "  --help                 this text\n"
         "\n"
         "When ready it prints one line \"listening on ADDRESS (...)\" (the TCP address with\n"
         "the port chosen, or the device path) and serves until SIGTERM or SIGINT.\n"
         "\n"
         "Modbus: functions 3, 6 and 16 over the registers of the data model; 0x41 the\n"
         "identity; 0x42 the image size in bytes and the register count; 0x43 INDEX the\n"
         "RegProg and byte size of one register. Exception 2 for an address outside the\n"
         "map, 3 for a bad count or a transfer of more than MaxBufferSize - 5 data bytes,\n"
         "1 for any other function; frames for other slave addresses get no answer.\n"
         "\n"
         "The KD730: with CfgFlags bit 0 set (the default) the speed follows RefDig along\n"
         "the Accel/Decel ramps (CfgFlags bit 5), unless the inhibit input (VirtualInput\n"
         "bit 2, CfgFlags bit 2 inverts) or a fault stops it; current, armature voltage\n"
         "and DC bus move with it. Writes to the Properties and ActState registers are\n"
         "ignored. Writing 0 to a bit of ActFaultState_0/1 clears that fault, which moves\n"
         "to PrevFaultState_0/1. The RAM setup starts from the EEPROM registers (EE_...),\n"
         "and every write of an EEPROM register is saved to the --eeprom file.\n"
         "\n"
         "The KD610 (a data model of model 610): with one run input active (bit 0\n"
         "forward, bit 1 reverse of VirtualInput with CfgFlags bit 0 set, else of the\n"
         "terminals) the output frequency follows VirtualRef in percent of FrHz (bit 2\n"
         "SpeedJog, bit 3 SpeedFast instead) along the Accel/Decel ramps (CfgFlags bit\n"
         "2), unless a fault stops it; the output voltage follows the V/f characteristic.\n"
         "Writing 1 to P971 copies the RAM setup into its EEPROM twins and saves them;\n"
         "P971 then reads 0.\n";
}

SimOptions ParseSimOptions(const std::vector<std::string>& args) {
  SimOptions o;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto value = [&]() -> const std::string& {
      if (i + 1 >= args.size()) throw SimUsageError(a + ": value missing");
      return args[++i];
    };
    if (a == "--help" || a == "-h") {
      o.Help = true;
    } else if (a == "--rtu") {
      o.RtuPath = value();
      if (o.RtuPath.empty()) throw SimUsageError("--rtu: empty path");
    } else if (a == "--tcp") {
      const std::string& v = value();
      auto colon = v.rfind(':');
      if (colon == std::string::npos || colon == 0) throw SimUsageError("--tcp: HOST:PORT expected");
      o.TcpHost = v.substr(0, colon);
      o.TcpPort = Number(a, v.substr(colon + 1), 0, 65535);
    } else if (a == "--baud") {
      o.Baud = Number(a, value(), 50, 4000000);
    } else if (a == "--parity") {
      const std::string& v = value();
      if (v == "none") o.Parity = 'N';
      else if (v == "even") o.Parity = 'E';
      else if (v == "odd") o.Parity = 'O';
      else throw SimUsageError("--parity: none, even or odd");
    } else if (a == "--stop") {
      o.StopBits = Number(a, value(), 1, 2);
    } else if (a == "--par") {
      o.ParFile = value();
    } else if (a == "--slave") {
      o.Slave = Number(a, value(), 1, 247);
    } else if (a == "--kdp") {
      o.Identity.KDPNumber = static_cast<std::uint16_t>(Number(a, value(), 0, 65535));
    } else if (a == "--model") {
      o.Identity.KDNumber = static_cast<std::uint16_t>(Number(a, value(), 0, 65535));
    } else if (a == "--model-letters") {
      o.Identity.ModelLetters = LettersWord(value());
    } else if (a == "--version") {
      const std::string& v = value();
      double dotted = 0.0;
      if (v.find('.') != std::string::npos && kd::TryStrToFloat(v, dotted) && dotted >= 0 && dotted <= 9.99)
        o.Identity.Version = static_cast<std::uint16_t>(std::lround(dotted * 100.0));
      else
        o.Identity.Version = static_cast<std::uint16_t>(Number(a, v, 0, 999));
    } else if (a == "--version-letters") {
      o.Identity.VersionLetters = LettersWord(value());
    } else if (a == "--eeprom") {
      o.EepromFile = value();
    } else if (a == "--fault") {
      o.Faults.push_back(value());
    } else if (a == "--set") {
      const std::string& v = value();
      const auto equals = v.find('=');
      if (equals == std::string::npos || equals == 0) throw SimUsageError("--set: NAME=VALUE expected");
      constexpr std::int32_t low = std::numeric_limits<std::int32_t>::min();
      constexpr std::int32_t high = std::numeric_limits<std::int32_t>::max();
      o.Presets.emplace_back(v.substr(0, equals), Number(a, v.substr(equals + 1), low, high));
    } else if (a == "--silent") {
      o.Silent = true;
    } else if (a == "--late") {
      const std::string& v = value();
      const auto colon = v.find(':');
      if (colon == std::string::npos) throw SimUsageError("--late: ADDRESS:MS expected");
      o.LateAddress = Number(a, v.substr(0, colon), 0, 65535);
      o.LateMs = Number(a, v.substr(colon + 1), 0, 60000);
    } else if (a == "--latency") {
      o.LatencyMs = Number(a, value(), 0, 60000);
    } else {
      throw SimUsageError("unknown option '" + a + "'");
    }
  }
  if (o.Help) return o;
  if (o.RtuPath.empty() == o.TcpHost.empty()) throw SimUsageError("give exactly one of --rtu and --tcp");
  return o;
}

}  // namespace kdsim
