#pragma once
// Client proxies of the Modbus server component.
//
// Creating a TModbusSrv looks up the registered mbserver executable and
// starts one server process for this proxy, connected by a pipe each way; every
// method is one request and one answer to that process. Byte arrays are
// frames: slave address first, no checksum, no TCP header. Result codes are
// 32-bit values: 0, 0x80040201 and up for transport failures, 0x80048200 +
// exception code for exception answers.
//
// A server process that dies or stops answering never blocks the caller:
// the call gives up after the connection's time-out plus a margin, the process
// is ended, and this and every later call fail (TxRxMessage with
// kd::mb::kServerLost, 0x80040209; the flags with false). A new proxy starts a
// fresh server.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "Component.h"

namespace kd::mb {
class ProxyChannel;
enum class Op : std::uint8_t;
}

class TCTCPIPServer;

class TModbusSrv : public kd::Component {
 public:
  // Raises kd::Exception when the server is not registered or cannot be started.
  explicit TModbusSrv(kd::Component* owner = nullptr);
  ~TModbusSrv() override;

  bool OpenConnection(const std::string& name, int type);  // type 1 serial, 2 TCP
  void Set_Retries(int value);
  void Set_RaiseError(bool value);
  void Set_BaudRate(int value);
  void Set_ComPort(int value);
  void Set_ByteSize(int value);
  void Set_FlowControl(int value);
  void Set_Parity(int value);
  void Set_SilentInterval(int ms);
  void Set_StopBits(int value);
  void Set_TimeOut(int ms);
  void Set_TransmissionMode(int value);
  void Set_TcpPort(int value);
  void Set_Host(const std::string& host);
  bool Connect();
  // Sends the first queryLength bytes of query (all of them when it is
  // larger than the array); more than a frame holds gives 0x80040208.
  // respLength and bytesRead are not used (bytesRead is cleared).
  std::int32_t TxRxMessage(const std::vector<std::uint8_t>& query, int queryLength,
                           std::vector<std::uint8_t>& response, int respLength,
                           std::vector<std::uint8_t>& bytesRead);
  int get_Retries();
  void CloseConnection();
  // The gateway of this connection; null when the connection is not open or
  // the server is gone.
  std::shared_ptr<TCTCPIPServer> CreateTCPServer();

  // Process id of the server serving this proxy; 0 once it is gone.
  int ServerProcessId() const;

 private:
  void Set(kd::mb::Op op, int value);
  std::shared_ptr<kd::mb::ProxyChannel> channel_;
};

// The Modbus-TCP gateway of one connection, inside that connection's server.
class TCTCPIPServer {
 public:
  TCTCPIPServer(std::shared_ptr<kd::mb::ProxyChannel> channel, int id);
  ~TCTCPIPServer();
  TCTCPIPServer(const TCTCPIPServer&) = delete;
  TCTCPIPServer& operator=(const TCTCPIPServer&) = delete;

  void Set_LocalAddress(const std::string& address);
  void Set_TcpPort(int port);
  bool StartServer();
  bool StopServer();
  std::string GetLocalHostIP();

 private:
  std::shared_ptr<kd::mb::ProxyChannel> channel_;
  int id_;
};
