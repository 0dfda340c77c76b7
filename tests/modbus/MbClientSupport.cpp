#include "MbClientSupport.h"

#include <stdexcept>

namespace mbtest {

Bytes Contents(TlaThreadBuffer& buffer) {
  TlaThreadBuffer::ReadAccess read(buffer);
  return Bytes(read.Data(), read.Data() + buffer.Size());
}

// ---------------------------------------------------------------------------
// TestDevice

TestDevice::TestDevice(std::uint8_t address, std::int32_t sampleTime, TlaRegDefsList* model)
    : Address(address), SampleTime(sampleTime) {
  if (model) CreateRegDataBuffer(model);
}

TestDevice::~TestDevice() {
  if (TlaMBThread* thread = GetConnOwner()) thread->Remove(this);
  // The device owns the transactions of its list.
  auto list = TransaList().LockList();
  while (!list->empty()) {
    TlaMBTransaction* transa = list->back();
    Extract(transa);
    delete transa;
  }
}

void TestDevice::Add(TlaMBTransaction* transa) {
  if (!transa) return;
  transaList_.Add(transa);
  if (transa->GetOwnerDevice() != this) transa->SetOwnerDevice(this);
}

void TestDevice::Extract(TlaMBTransaction* transa) {
  if (!transa) return;
  if (transaList_.Remove(transa)) ++Extracted;
  transa->ClearOwner(this);
}

void TestDevice::SetConnOwner(TlaMBThread* thread) {
  TlaMBThread* old = connOwner_.load();
  if (thread == old) return;
  if (old) old->Remove(this);
  connOwner_ = thread;
  UpdateSlaveState();
}

void TestDevice::ResetConnOwner(TlaMBThread* thread) {
  if (connOwner_.load() == thread) connOwner_ = nullptr;
}

std::uint8_t TestDevice::UpdateSlaveState() {
  ++StateUpdates;
  TlaMBThread* owner = connOwner_.load();
  State = !owner ? 2 : !owner->IsConnected() ? 3 : 6;
  return State;
}

// ---------------------------------------------------------------------------
// CannedSlave

CannedSlave::CannedSlave(Responder responder) : responder_(std::move(responder)) {
  std::string error;
  link_ = kd::mb::ListenTcpSlave("127.0.0.1", 0, &error);
  if (!link_) throw std::runtime_error("CannedSlave: " + error);
  port_ = link_->Port();
  thread_ = std::thread([this] {
    while (auto request = link_->Receive(kd::mb::Millis(-1))) {
      auto answer = responder_(request->frame);
      ++requests_;
      if (answer) link_->Answer(*request, *answer);
    }
  });
}

CannedSlave::~CannedSlave() {
  link_->Interrupt();
  thread_.join();
}

// ---------------------------------------------------------------------------
// MbClientTest

namespace {
const std::string kSim = KD_SIM_EXE;
const std::string kPar = std::string(KD_DATA_DIR) + "/KD730_Parameters.par";
}  // namespace

MbClientTest::MbClientTest() {
  if (!model_.LoadFromFile(kPar)) throw std::runtime_error("cannot load " + kPar);
}

MbClientTest::~MbClientTest() = default;

std::unique_ptr<kdsim::SimProcess> MbClientTest::StartSimTcp(const std::vector<std::string>& extra) {
  std::vector<std::string> args{"--tcp", "127.0.0.1:0", "--par", kPar, "--slave", "1"};
  args.insert(args.end(), extra.begin(), extra.end());
  return std::make_unique<kdsim::SimProcess>(kSim, args);
}

std::unique_ptr<kdsim::SimProcess> MbClientTest::StartSimRtu(const std::string& path,
                                                             const std::vector<std::string>& extra) {
  std::vector<std::string> args{"--rtu", path, "--par", kPar, "--slave", "1", "--baud", "19200", "--parity", "even"};
  args.insert(args.end(), extra.begin(), extra.end());
  return std::make_unique<kdsim::SimProcess>(kSim, args);
}

std::unique_ptr<TModbusSrv> MbClientTest::OpenTcp(int port, int retries, int timeoutMs) {
  auto srv = std::make_unique<TModbusSrv>();
  if (!srv->OpenConnection("COM1", 2)) throw std::runtime_error("OpenConnection failed");
  srv->Set_Retries(retries);
  srv->Set_TimeOut(timeoutMs);
  srv->Set_TcpPort(port);
  srv->Set_Host("127.0.0.1");
  if (!srv->Connect()) throw std::runtime_error("Connect failed");
  return srv;
}

std::unique_ptr<TModbusSrv> MbClientTest::OpenRtu(int comPort, int retries, int timeoutMs) {
  auto srv = std::make_unique<TModbusSrv>();
  if (!srv->OpenConnection("COM" + std::to_string(comPort), 1)) throw std::runtime_error("OpenConnection failed");
  srv->Set_Retries(retries);
  srv->Set_BaudRate(19200);
  srv->Set_ComPort(comPort);
  srv->Set_ByteSize(8);
  srv->Set_Parity(2);
  srv->Set_SilentInterval(20);
  srv->Set_StopBits(0);
  srv->Set_TimeOut(timeoutMs);
  if (!srv->Connect()) throw std::runtime_error("Connect failed");
  return srv;
}

void MbClientTest::SetTcp(TlaMBSetup& setup, int port, int retries, int timeoutMs) {
  setup.Name = "TCP";
  setup.ConnType = 2;
  setup.HostName = "127.0.0.1";
  setup.TCPIPPort = port;
  setup.Retries = retries;
  setup.Timeout = timeoutMs;
}

void MbClientTest::SetRtu(TlaMBSetup& setup, int comPort, int retries, int timeoutMs) {
  setup.Name = "COM" + std::to_string(comPort);
  setup.ConnType = 1;
  setup.PortNumber = comPort;
  setup.BaudRate = 19200;
  setup.Parity = 2;
  setup.ByteSize = 8;
  setup.StopBits = 0;
  setup.SilentInt = 20;
  setup.FlowCtrl = 0;
  setup.Retries = retries;
  setup.Timeout = timeoutMs;
}

}  // namespace mbtest
