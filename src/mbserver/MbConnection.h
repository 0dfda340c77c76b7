#pragma once
// One connection of the server component: the settings that the client sends
// one by one, then Connect opens the line and TxRxMessage exchanges frames.
// Every member may be called from any thread; exchanges run one at a time.
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "Framing.h"
#include "MasterTransport.h"

namespace kd::mb {

struct ConnectionSettings {
  std::string name;
  int type = 0;  // 1 serial, 2 TCP
  int retries = 0;
  bool raiseError = false;  // kept; results are always returned as codes
  int baudRate = 19200;
  int comPort = 0;
  int byteSize = 8;
  int flowControl = 0;
  int parity = 0;
  int silentInterval = 20;  // ms
  int stopBits = 0;
  int timeout = 1000;  // ms; not positive means 1000
  int transmissionMode = 0;  // 0 RTU, 1 ASCII
  int tcpPort = 502;
  std::string host;
};

class MbConnection {
 public:
  // `portPath` maps a COM port number to a device path.
  explicit MbConnection(std::function<std::string(int)> portPath);
  ~MbConnection();

  bool OpenConnection(const std::string& name, int type);
  // Settings; they take effect at the next Connect.
  void Update(const std::function<void(ConnectionSettings&)>& change);
  bool Connect();
  // One exchange; an answer that does not `fit` the query is an invalid answer.
  std::int32_t TxRxMessage(ByteView query, Bytes& answer, Fit fit = Fit::Model);
  // A request that gets no answer (slave address 0): sent, not waited for.
  std::int32_t Broadcast(ByteView query);
  int Retries() const;
  void CloseConnection();
  bool IsConnected() const;

 private:
  std::unique_ptr<MasterTransport> OpenLine(const ConnectionSettings& s) const;

  std::function<std::string(int)> portPath_;
  mutable std::mutex settingsLock_;
  ConnectionSettings settings_;
  bool opened_ = false;
  mutable std::mutex lineLock_;  // one exchange at a time; held while the line changes
  std::unique_ptr<MasterTransport> line_;
};

}  // namespace kd::mb
