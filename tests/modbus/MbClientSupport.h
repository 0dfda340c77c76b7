#pragma once
// Test equipment for the transactions and the connection worker:
// - TestDevice: a small slave device with the seven operations the worker
//   and the transactions call, counting what they did;
// - CannedSlave: a Modbus-TCP slave whose answers a test function gives
//   (any bytes, or silence), for answers no correct slave sends;
// - MbClientTest: a private registry with this build's mbserver, a main
//   loop on the test thread, the data model, the simulator, and connections
//   opened through the server proxy.
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "MainThread.h"
#include "MbSlave.h"
#include "ModbusSrv.h"
#include "ProxyTestBase.h"
#include "ScriptedSlave.h"
#include "SimProcess.h"
#include "Tlambdevice.h"
#include "Tlambthreadthr.h"
#include "Tlambtransactioncls.h"
#include "Tlaregdefslistcmp.h"
#include "Tlathreadbuffercls.h"

namespace mbtest {

using Bytes = std::vector<std::uint8_t>;

// A buffer's bytes, read under its lock.
Bytes Contents(TlaThreadBuffer& buffer);

// The two lines a test runs over, and their names for parameterised tests.
enum class Line { Tcp, Rtu };
inline std::string LineName(const testing::TestParamInfo<Line>& p) { return p.param == Line::Tcp ? "Tcp" : "Rtu"; }

// The scripted slave counts a request once it has answered it: wait for
// `count` of them, then tell how many there were.
inline int Handled(const kdtest::ScriptedSlave& slave, int count) {
  slave.WaitRequests(count, std::chrono::seconds(5));
  return slave.Requests();
}

class TestDevice : public TlaMBDevice {
 public:
  TestDevice(std::uint8_t address, std::int32_t sampleTime, TlaRegDefsList* model = nullptr);
  ~TestDevice() override;

  void Add(TlaMBTransaction* transa) override;
  void Extract(TlaMBTransaction* transa) override;
  void SetConnOwner(TlaMBThread* thread) override;
  void ResetConnOwner(TlaMBThread* thread) override;
  void IncFaultCount() override { ++FaultCount; }
  void RstFaultCount() override {
    FaultCount = 0;
    ++FaultResets;
  }
  // 2 no connection owner, 3 owner not connected, 6 otherwise.
  std::uint8_t UpdateSlaveState() override;
  std::uint8_t GetModBusAddress() const override { return Address; }
  std::int32_t GetSampleTime() const override { return SampleTime; }
  bool GetEnable() const override { return Enable; }

  std::atomic<std::uint8_t> Address;
  std::atomic<std::int32_t> SampleTime;
  std::atomic<bool> Enable{true};
  std::atomic<int> FaultCount{0};
  std::atomic<int> FaultResets{0};
  std::atomic<int> StateUpdates{0};
  std::atomic<std::uint8_t> State{1};
  std::atomic<int> Extracted{0};
};

class CannedSlave {
 public:
  // The answer to a request frame (slave address first), or nullopt for silence.
  using Responder = std::function<std::optional<Bytes>(const Bytes& request)>;
  explicit CannedSlave(Responder responder);
  ~CannedSlave();
  CannedSlave(const CannedSlave&) = delete;
  CannedSlave& operator=(const CannedSlave&) = delete;
  int Port() const { return port_; }
  int Requests() const { return requests_.load(); }

 private:
  Responder responder_;
  std::unique_ptr<kd::mb::TcpSlaveLink> link_;
  int port_ = 0;
  std::atomic<int> requests_{0};
  std::thread thread_;
};

class MbClientTest : public ProxyTest {
 protected:
  MbClientTest();
  ~MbClientTest() override;

  // kd730-sim with the shipped data model, slave 1 unless told.
  std::unique_ptr<kdsim::SimProcess> StartSimTcp(const std::vector<std::string>& extra = {});
  std::unique_ptr<kdsim::SimProcess> StartSimRtu(const std::string& path,
                                                 const std::vector<std::string>& extra = {});
  // An open connection to 127.0.0.1:port, or over COM n, as a worker opens it.
  std::unique_ptr<TModbusSrv> OpenTcp(int port, int retries = 0, int timeoutMs = 1000);
  std::unique_ptr<TModbusSrv> OpenRtu(int comPort, int retries = 0, int timeoutMs = 1000);

  // Settings of a worker's connection.
  static void SetTcp(TlaMBSetup& setup, int port, int retries = 0, int timeoutMs = 1000);
  static void SetRtu(TlaMBSetup& setup, int comPort, int retries = 0, int timeoutMs = 1000);

  bool RunUntil(const std::function<bool()>& pred, std::chrono::milliseconds timeout = std::chrono::seconds(20)) {
    return loop_.RunUntil(pred, timeout);
  }

  kd::ScopedQueueLoop loop_;
  TlaRegDefsList model_;  // KD730_Parameters.par: 62 registers of 2 bytes, MaxBufferSize 40
};

}  // namespace mbtest
