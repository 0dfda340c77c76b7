#pragma once
// The real road for the device tests: kd730-sim on a line (Modbus TCP, or RTU
// over a socat pseudo-terminal pair mapped to COM1), the registered mbserver,
// a data-model collection over data/, a queue main loop and a connection
// worker set up the way the operator program sets it up.
#include <modbus.h>
#include <signal.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "MainThread.h"
#include "Registry.h"
#include "ServerRegistry.h"
#include "SimProcess.h"
#include "TestSupport.h"
#include "Tladeviceslavecmp.h"
#include "Tladmcollectioncmp.h"
#include "Tlambthreadthr.h"

namespace devtest {

inline const std::string kSim = KD_SIM_EXE;
inline const std::string kDataDir = KD_DATA_DIR;
inline const std::string kPar = kDataDir + "/KD730_Parameters.par";
inline const std::string kPar110 = kDataDir + "/KD730_Parameters_v110.par";

enum class Line { Tcp, Rtu };

inline std::string LineName(Line line) { return line == Line::Tcp ? "Tcp" : "Rtu"; }

// The simulated drive on its line; "--par" defaults to the 1.04/1.05 model.
class SimLine {
 public:
  SimLine(Line line, std::vector<std::string> args, int tcpPort = 0) : line_(line), port_(tcpPort) {
    if (line == Line::Rtu) {
      ptys_.emplace();
      kd::Registry reg(kd::HKEY_LOCAL_MACHINE);
      if (!reg.OpenKey("HARDWARE\\DEVICEMAP\\SERIALCOMM", true)) throw std::runtime_error("SERIALCOMM");
      reg.WriteString("COM1", ptys_->B());
    }
    Start(std::move(args));
  }

  // Stops the drive and starts it again on the same line (pseudo terminal or port).
  void Restart(std::vector<std::string> args) {
    sim_.reset();
    Start(std::move(args));
  }
  void Stop() { sim_.reset(); }
  // The drive stops answering (the process is stopped, its line stays open).
  void Pause() { ::kill(sim_->Process().Pid(), SIGSTOP); }
  void Resume() { ::kill(sim_->Process().Pid(), SIGCONT); }

  // The operator program's connection settings: "COM1", 19200 baud, even
  // parity, no flow control; over TCP the host and port of the simulator.
  void Configure(TlaMBSetup& s) const {
    s.Name = "COM1";
    s.BaudRate = 19200;
    s.Parity = 2;
    s.FlowCtrl = 0;
    s.PortNumber = 1;
    if (line_ == Line::Tcp) {
      s.ConnType = 2;
      s.HostName = "127.0.0.1";
      s.TCPIPPort = port_;
    }
  }
  int TcpPort() const { return port_; }

 private:
  void Start(std::vector<std::string> args) {
    if (std::find(args.begin(), args.end(), "--par") == args.end()) args.insert(args.end(), {"--par", kPar});
    std::vector<std::string> all;
    if (line_ == Line::Rtu)
      all = {"--rtu", ptys_->A()};
    else
      all = {"--tcp", "127.0.0.1:" + std::to_string(port_)};
    all.insert(all.end(), args.begin(), args.end());
    sim_ = std::make_unique<kdsim::SimProcess>(kSim, all);
    if (line_ == Line::Tcp) port_ = sim_->TcpPort();
  }

  Line line_;
  int port_;
  std::optional<kdtest::SocatPair> ptys_;
  std::unique_ptr<kdsim::SimProcess> sim_;
};

// A holding register of a simulator on TCP, read by an independent master
// (libmodbus); -1 when it cannot be read.
inline int SimRegister(int port, int address, int slave = 1) {
  modbus_t* ctx = modbus_new_tcp("127.0.0.1", port);
  if (!ctx) return -1;
  modbus_set_slave(ctx, slave);
  std::uint16_t value = 0;
  const int got = modbus_connect(ctx) == 0 ? modbus_read_registers(ctx, address, 1, &value) : -1;
  modbus_close(ctx);
  modbus_free(ctx);
  return got == 1 ? value : -1;
}

// Config folder with the registered server, the main loop and the collection.
class Stack {
 public:
  Stack() : env_("XDG_CONFIG_HOME", config_.Path()) {
    kd::mb::RegisterServer(KD_MBSERVER_PATH);
    coll.SetFilePath(kDataDir);
  }

  // Pumps the main loop until pred() holds.
  bool RunUntil(const std::function<bool()>& pred,
                std::chrono::milliseconds timeout = std::chrono::milliseconds(15000)) {
    return loop.RunUntil(pred, timeout);
  }
  // Until the device computes state 6 (as the windows' update actions ask it).
  bool Online(TlaDeviceSlave& dev, std::chrono::milliseconds timeout = std::chrono::milliseconds(15000)) {
    return RunUntil([&] { return dev.UpdateSlaveState() == slaveOnline; }, timeout);
  }
  // The worker's settings for the line (Enabled stays clear), then a device
  // named "Drive" at `address`, enabled, joins the worker.
  static void Attach(TlaDeviceSlave& dev, TlaMBThread& thread, const SimLine& sim, std::uint8_t address = 1,
                     int timeoutMs = 500, int retries = 2) {
    sim.Configure(thread.Setup());
    thread.Setup().Timeout = timeoutMs;
    thread.Setup().Retries = retries;
    dev.DeviceSetup()->SetName("Drive");
    dev.ChangeSlaveAddress(address);
    dev.DeviceSetup()->SetEnable(true);
    thread.Add(&dev);
  }
  // Enabled last: the worker opens the line on its next pass.
  static void Open(TlaMBThread& thread) { thread.Setup().Enabled = true; }
  // Attach, Open, then until the device is online.
  bool Connect(TlaDeviceSlave& dev, TlaMBThread& thread, const SimLine& sim, int timeoutMs = 500,
               int retries = 2) {
    Attach(dev, thread, sim, 1, timeoutMs, retries);
    Open(thread);
    return Online(dev);
  }

  kdtest::TempDir config_;
  kdtest::ScopedEnv env_;
  kd::ScopedQueueLoop loop;
  TlaDMCollection coll;
};

}  // namespace devtest
