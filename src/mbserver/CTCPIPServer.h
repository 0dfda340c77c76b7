#pragma once
// The Modbus-TCP gateway of a connection: a listener on a local address and
// port; each request (unit id = slave address) goes onto the connection, one
// at a time, and its answer back to the client that sent it. A slave that
// does not answer properly gives exception 0x0B, a line that is not open 0x0A.
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "MbConnection.h"
#include "MbSlave.h"

namespace kd::mb {

class CTCPIPServer {
 public:
  explicit CTCPIPServer(MbConnection& connection);
  ~CTCPIPServer();
  CTCPIPServer(const CTCPIPServer&) = delete;
  CTCPIPServer& operator=(const CTCPIPServer&) = delete;

  void SetLocalAddress(const std::string& address);
  void SetPort(int port);
  bool StartServer();  // true when listening (also when it already was)
  bool StopServer();   // true when no longer listening
  // The first IPv4 address of this host that is not a loopback one, else "127.0.0.1".
  static std::string GetLocalHostIP();

 private:
  void Serve();

  MbConnection& connection_;
  std::mutex lock_;
  std::string address_ = "127.0.0.1";
  int port_ = 502;
  std::unique_ptr<TcpSlaveLink> link_;
  std::thread worker_;
};

}  // namespace kd::mb
