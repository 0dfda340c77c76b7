#pragma once
// TlaMBBridge: turns the PC into a Modbus-TCP gateway. It opens a connection
// of its own through the server component (Setup), asks the server for the
// connection's gateway and starts it on HostName:TcpPort, so that Modbus-TCP
// clients reach the slaves of that connection. It has no worker: every call
// runs on the calling (main) thread and waits for the server.
//
// LastError: 0, -1 (the connection did not open), -4 (no server component),
// -5 (gateway started without a connection), -6 (the gateway did not start:
// the server's standard error says why), -7 (it did not stop).
#include <cstdint>
#include <memory>
#include <string>

#include "Component.h"
#include "Event.h"
#include "Tlambsetupcls.h"

class TModbusSrv;
class TCTCPIPServer;
class TlaMBBridge;

using TlaBridgeEvent = kd::Event<void(TlaMBBridge* sender)>;
using TlaBridgeErrorEvent = kd::Event<void(TlaMBBridge* sender, std::int32_t lasterr)>;

class TlaMBBridge : public kd::Component {
 public:
  // Starts the server component (when it cannot be started now, OpenConnect tries again).
  explicit TlaMBBridge(kd::Component* owner = nullptr);
  // An active gateway is stopped (a failure raises OnError) and the connection closed.
  ~TlaMBBridge() override;
  std::string ClassName() const override { return "TlaMBBridge"; }

  // --- Published ---------------------------------------------------------
  std::string HostName = "127.0.0.1";  // the gateway's local address ("0.0.0.0": every one)
  std::int32_t TcpPort = 502;          // the gateway's port
  TlaBridgeEvent OnStartServer;
  TlaBridgeEvent OnStopServer;
  TlaBridgeErrorEvent OnError;

  // The connection's settings (HostName and TCPIPPort there are the line's, for ConnType 2).
  TlaMBSetup& Setup() { return *setup_; }
  bool GetConnected() const { return connected_; }
  bool GetServerActive() const { return serverActive_; }
  std::int32_t GetLastError() const { return lastError_; }

  // Opens the connection and takes its gateway; true when connected (also
  // when it already was and nothing failed since).
  bool OpenConnect();
  void CloseConnect();  // also takes the gateway down
  // The gateway on HostName:TcpPort; an active one is left as it is.
  bool StartServer();
  bool StopServer();
  // Starts (opening the connection first) or stops (closing it after) the
  // gateway: OnStartServer or OnStopServer; OnError when it is not active
  // after a start was asked.
  void SetServerActive(bool active);
  // An address the gateway listens on; "127.0.0.1" while disconnected.
  std::string GetLocalHostIP();

 private:
  bool EnsureServer();

  std::unique_ptr<TlaMBSetup> setup_;
  std::unique_ptr<TModbusSrv> server_;
  std::shared_ptr<TCTCPIPServer> gateway_;  // while connected
  bool connected_ = false;
  bool serverActive_ = false;
  std::int32_t lastError_ = 0;
};
