// qzmachine-sim: a simulated moulding machine on a serial line or a TCP port.
#include <unistd.h>

#include <chrono>
#include <iostream>

#include "Exception.h"
#include "SimMachine.h"
#include "SimOptions.h"
#include "SimServer.h"
#include "SimSlave.h"
#include "Strings.h"

namespace {

double Seconds() {
  using namespace std::chrono;
  return duration<double>(steady_clock::now().time_since_epoch()).count();
}

const char kUsage[] =
    "Usage: qzmachine-sim (--rtu PATH | --tcp HOST:PORT) [options]\n"
    "A simulated moulding machine: a Modbus slave for tests and demonstrations.\n"
    "\n"
    "Line, identity and registers: the options of kd730-sim (--rtu, --baud, --parity,\n"
    "--stop, --tcp, --slave, --kdp, --model, --model-letters, --version,\n"
    "--version-letters, --set NAME=VALUE, --silent); the identity defaults to the data\n"
    "model's first version name, the slave address to 1.\n"
    "\n"
    "Machine:\n"
    "  --par FILE             data model (default QZ420_Machine.par)\n"
    "  --select-delay MS      time until a slot selection is confirmed (default 50)\n"
    "  --fail-select SLOT     refuse the selection of this slot (exception 4)\n"
    "  --hold-select SLOT     never confirm the selection of this slot\n"
    "  --drop-after N         answer N reads or writes of the program registers,\n"
    "                         then nothing at all any more (the line dropped)\n"
    "  --help                 this text\n"
    "\n"
    "The slot-selection handshake: write slot + 1 to NewSelProgEE, then read\n"
    "ActSelProgEE until it holds the same value; the slot's program is then in the\n"
    "EEProgram registers, and writes to them go into the slot. Slots are numbered\n"
    "from 0, the EEPROM slots first, then the memory box.\n"
    "\n"
    "When ready it prints one line \"listening on ADDRESS (...)\" and serves until\n"
    "SIGTERM or SIGINT.\n";

struct MachineOptions {
  kdsim::SimMachine::Settings settings;
  bool help = false;
};

int Number(const std::string& option, const std::string& text, int low, int high) {
  std::int32_t value = 0;
  if (!kd::TryParseInteger(text, value) || value < low || value > high)
    throw kdsim::SimUsageError(option + ": '" + text + "' is not a number from " +
                               std::to_string(low) + " to " + std::to_string(high));
  return value;
}

// Takes the machine's own options out of args; the rest are the line's.
MachineOptions TakeMachineOptions(std::vector<std::string>& args) {
  MachineOptions m;
  std::vector<std::string> rest{"--par", "QZ420_Machine.par"};
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto value = [&]() -> const std::string& {
      if (i + 1 >= args.size()) throw kdsim::SimUsageError(a + ": value missing");
      return args[++i];
    };
    if (a == "--help" || a == "-h") {
      m.help = true;
    } else if (a == "--select-delay") {
      m.settings.SelectDelay = Number(a, value(), 0, 600000) / 1000.0;
    } else if (a == "--fail-select") {
      m.settings.FailSelect = Number(a, value(), 0, 65534);
    } else if (a == "--hold-select") {
      m.settings.HoldSelect = Number(a, value(), 0, 65534);
    } else if (a == "--drop-after") {
      m.settings.DropAfter = Number(a, value(), 0, 1000000);
    } else {
      rest.push_back(a);
    }
  }
  args = std::move(rest);
  return m;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  MachineOptions machineOptions;
  kdsim::SimOptions options;
  try {
    machineOptions = TakeMachineOptions(args);
    if (machineOptions.help) {
      std::cout << kUsage;
      return 0;
    }
    options = kdsim::ParseSimOptions(args);
  } catch (const kdsim::SimUsageError& e) {
    std::cerr << "qzmachine-sim: " << e.what() << "\n(qzmachine-sim --help lists the options)\n";
    return 2;
  }

  // SIGTERM and SIGINT end the service through a descriptor, not a handler.
  const int stopFd = kdsim::StopSignalFd();
  if (stopFd < 0) {
    std::cerr << "qzmachine-sim: signalfd failed\n";
    return 1;
  }

  int status = 0;
  try {
    kdsim::SimMachine machine(options.ParFile, machineOptions.settings, Seconds());
    for (const auto& [name, value] : options.Presets) {
      const int address = machine.Map().Find(name);
      if (address < 0) throw kd::Exception("the data model names no register '" + name + "'");
      machine.Registers().SetInt(address, value);
    }
    const kdsim::SimIdentity identity =
        options.Identity.Over(kdsim::SimIdentity::Of(machine.Map().FirstVersion()));
    const auto address = static_cast<std::uint8_t>(options.Slave != 0 ? options.Slave : 1);
    kdsim::SimSlave slave(machine, address, identity, options.Silent);
    kdsim::SimServer server(slave, options, Seconds);
    std::cout << "listening on " << server.Address() << " (slave " << int(slave.Address()) << ", "
              << identity.Text() << ", " << machine.SlotCount() << " program slots"
              << (options.Silent ? ", silent" : "") << ")" << std::endl;
    server.Run(stopFd);
  } catch (const std::exception& e) {
    std::cerr << "qzmachine-sim: " << e.what() << "\n";
    status = 1;
  }
  close(stopFd);
  return status;
}
