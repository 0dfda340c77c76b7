// kd730-sim: a simulated KD730 (or KD610) drive on a serial line or a TCP port.
#include <unistd.h>

#include <chrono>
#include <iostream>

#include "Exception.h"
#include "SimDrive.h"
#include "SimOptions.h"
#include "SimRegisterMap.h"
#include "SimServer.h"
#include "SimSlave.h"

namespace {

double Seconds() {
  using namespace std::chrono;
  return duration<double>(steady_clock::now().time_since_epoch()).count();
}

std::uint8_t SlaveAddress(const kdsim::SimOptions& options, const kdsim::SimDrive& drive) {
  if (options.Slave != 0) return static_cast<std::uint8_t>(options.Slave);
  // Like the drive: the address kept in its EEPROM counts from the start.
  int stored = drive.Map().GetInt(drive.Map().Find("EE_ModBusSlave"));
  return stored >= 1 && stored <= 247 ? static_cast<std::uint8_t>(stored) : 1;
}

}  // namespace

int main(int argc, char** argv) {
  kdsim::SimOptions options;
  try {
    options = kdsim::ParseSimOptions(std::vector<std::string>(argv + 1, argv + argc));
  } catch (const kdsim::SimUsageError& e) {
    std::cerr << "kd730-sim: " << e.what() << "\n(kd730-sim --help lists the options)\n";
    return 2;
  }
  if (options.Help) {
    std::cout << kdsim::SimUsage();
    return 0;
  }

  // SIGTERM and SIGINT end the service through a descriptor, not a handler.
  const int stopFd = kdsim::StopSignalFd();
  if (stopFd < 0) {
    std::cerr << "kd730-sim: signalfd failed\n";
    return 1;
  }

  try {
    kdsim::SimDrive drive(kdsim::SimRegisterMap(options.ParFile), options.EepromFile, Seconds());
    for (const std::string& fault : options.Faults)
      if (!drive.RaiseFault(fault)) throw kd::Exception("the data model names no fault '" + fault + "'");
    for (const auto& [name, value] : options.Presets)
      if (!drive.Preset(name, value)) throw kd::Exception("the data model names no register '" + name + "'");
    const kdsim::SimIdentity identity = options.Identity.Over(kdsim::SimIdentity::Of(drive.Map().FirstVersion()));
    kdsim::SimSlave slave(drive, SlaveAddress(options, drive), identity, options.Silent);
    kdsim::SimServer server(slave, options, Seconds);
    std::cout << "listening on " << server.Address() << " (slave " << int(slave.Address()) << ", "
              << identity.Text() << (options.Silent ? ", silent" : "") << ")" << std::endl;
    server.Run(stopFd);
  } catch (const std::exception& e) {
    std::cerr << "kd730-sim: " << e.what() << "\n";
    close(stopFd);
    return 1;
  }
  close(stopFd);
  return 0;
}
