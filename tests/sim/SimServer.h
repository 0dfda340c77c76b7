#pragma once
// The simulated drive on a line: Modbus RTU on a serial device (or pseudo
// terminal), or Modbus TCP with any number of clients, through the slave side
// of the server component's transport library.
#include <functional>
#include <memory>
#include <string>

#include "MbSlave.h"
#include "SimOptions.h"
#include "SimSlave.h"

namespace kdsim {

// SIGTERM and SIGINT as a descriptor that becomes readable when one comes
// (blocked as signals from now on); SIGPIPE ignored. -1 when it cannot be made.
int StopSignalFd();

class SimServer {
 public:
  // Opens the line; raises kd::Exception when it cannot. clock: seconds on
  // the drive's clock.
  SimServer(SimSlave& slave, const SimOptions& options, std::function<double()> clock);
  ~SimServer();

  // The device path, or the TCP address with the port actually bound ("127.0.0.1:40123").
  const std::string& Address() const { return address_; }

  // Serves until stopFd is readable (returns normally) or the line is gone
  // (raises kd::Exception).
  void Run(int stopFd);

 private:
  SimSlave& slave_;
  std::function<double()> clock_;
  std::string address_;
  std::unique_ptr<kd::mb::SlaveLink> link_;
  int lateAddress_;  // the first read from it is answered lateMs_ late; -1 none
  int lateMs_;
  int latencyMs_;  // every other answer
};

}  // namespace kdsim
