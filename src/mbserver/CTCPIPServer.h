#pragma once
// The Modbus-TCP gateway of a connection: a listener on a local address and
// port; each request (unit id = slave address) goes onto the connection, one
// at a time, and its answer back to the client that sent it. A slave that
// does not answer properly (in time, and as the request fixes the answer's
// size, byte count or echo) gives exception 0x0B, a line that is not open 0x0A.
// Unit 0 is a broadcast: sent to the line, never answered. A client that
// shuts down its writing side still gets the answers to what it sent; the
// connection is closed after the last one.
//
// Two threads, neither ever blocking on a client (non-blocking sockets,
// answers queued per client): one accepts and reads the clients' requests,
// the other makes the exchanges on the line and writes the answers back,
// taking the clients' requests in turn so that no client waits behind
// another's queue. Limits (GatewayLimits): connections
// beyond the limit are closed at once; clients silent past the idle time-out
// are dropped; a client that leaves more than a bound of answers unread is
// dropped; a client's requests waiting for the line are bounded (reading
// from it pauses). Running out of descriptors refuses new connections at once.
//
// The limits are read from the registry when the gateway starts:
// HKEY_LOCAL_MACHINE\SOFTWARE\MBServer\TCPIPServer, values "MaxClients"
// (default 128) and "IdleTimeout" in seconds (default 60; 0 never).
// Failures to listen are told on standard error.
#include <chrono>
#include <cstddef>
#include <memory>
#include <mutex>
#include <string>

#include "MbConnection.h"

namespace kd::mb {

struct GatewayLimits {
  int maxClients = 128;
  std::chrono::seconds idleTimeout{60};  // 0: never
  std::size_t maxUnsent = 64 * 1024;     // bytes of answers a client has not read
  std::size_t maxWaiting = 16;           // requests of one client waiting for the line
};

inline constexpr const char* kGatewaySettingsKey = "SOFTWARE\\MBServer\\TCPIPServer";
// The registry's limits; the defaults for values that are missing or out of range.
GatewayLimits ReadGatewayLimits();

class CTCPIPServer {
 public:
  explicit CTCPIPServer(MbConnection& connection);
  ~CTCPIPServer();
  CTCPIPServer(const CTCPIPServer&) = delete;
  CTCPIPServer& operator=(const CTCPIPServer&) = delete;

  // Address to listen on: an IPv4 address or host name; "0.0.0.0" every
  // interface; empty is 127.0.0.1.
  void SetLocalAddress(const std::string& address);
  void SetPort(int port);
  bool StartServer();  // true when listening (also when it already was)
  bool StopServer();   // true when no longer listening
  // An address it listens on: the bound one, or for every interface the first
  // IPv4 address of this host that is not a loopback one (else 127.0.0.1).
  // Not listening: the address it would listen on.
  std::string GetLocalHostIP();

 private:
  class Engine;

  MbConnection& connection_;
  std::mutex lock_;
  std::string address_ = "127.0.0.1";
  int port_ = 502;
  std::unique_ptr<Engine> engine_;
};

}  // namespace kd::mb
