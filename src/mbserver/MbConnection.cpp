#include "MbConnection.h"

#include "MbCodes.h"

namespace kd::mb {

MbConnection::MbConnection(std::function<std::string(int)> portPath)
    : portPath_(std::move(portPath)) {}

MbConnection::~MbConnection() = default;

bool MbConnection::OpenConnection(const std::string& name, int type) {
  if (type != 1 && type != 2) return false;
  std::lock_guard lock(settingsLock_);
  settings_.name = name;
  settings_.type = type;
  opened_ = true;
  return true;
}

void MbConnection::Update(const std::function<void(ConnectionSettings&)>& change) {
  std::lock_guard lock(settingsLock_);
  change(settings_);
}

std::unique_ptr<MasterTransport> MbConnection::OpenLine(const ConnectionSettings& s) const {
  const LineTiming timing{s.timeout > 0 ? s.timeout : 1000, s.silentInterval};
  if (s.type == 1) {
    if (s.transmissionMode != 0 && s.transmissionMode != 1) return nullptr;
    const std::string path = portPath_(s.comPort);
    const SerialSettings settings{s.baudRate, s.byteSize, s.parity, s.stopBits, s.flowControl};
    SerialPort port;
    if (path.empty() || !port.Open(path, settings)) return nullptr;
    return std::make_unique<SerialMaster>(std::move(port), path, settings, timing,
                                          s.transmissionMode == 1);
  }
  auto tcp = std::make_unique<TcpMaster>(s.host, s.tcpPort, timing);
  if (!tcp->Connect()) return nullptr;
  return tcp;
}

bool MbConnection::Connect() {
  ConnectionSettings s;
  {
    std::lock_guard lock(settingsLock_);
    if (!opened_) return false;
    s = settings_;
  }
  auto line = OpenLine(s);
  // A failed Connect leaves no line, not the one of an earlier Connect.
  std::lock_guard lock(lineLock_);
  line_ = std::move(line);
  return static_cast<bool>(line_);
}

std::int32_t MbConnection::TxRxMessage(ByteView query, Bytes& answer, Fit fit) {
  std::lock_guard lock(lineLock_);
  answer.clear();
  if (!line_) return kPortNotInitialised;
  return line_->Transact(query, answer, fit);
}

std::int32_t MbConnection::Broadcast(ByteView query) {
  std::lock_guard lock(lineLock_);
  if (!line_) return kPortNotInitialised;
  return line_->Broadcast(query);
}

int MbConnection::Retries() const {
  std::lock_guard lock(settingsLock_);
  return settings_.retries;
}

void MbConnection::CloseConnection() {
  {
    std::lock_guard lock(lineLock_);
    line_.reset();
  }
  std::lock_guard lock(settingsLock_);
  opened_ = false;
}

bool MbConnection::IsConnected() const {
  std::lock_guard lock(lineLock_);
  return static_cast<bool>(line_);
}

}  // namespace kd::mb
