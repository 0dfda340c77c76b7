#include "Tlambbridgecmp.h"

#include <exception>

#include "ModbusSrv.h"
#include "Tlambtransactioncls.h"

TlaMBBridge::TlaMBBridge(kd::Component* owner)
    : kd::Component(owner), setup_(std::make_unique<TlaMBSetup>()) {
  setup_->HostName = HostName;
  setup_->TCPIPPort = TcpPort;
  EnsureServer();
}

TlaMBBridge::~TlaMBBridge() {
  if (serverActive_) {
    if (!StopServer() && OnError) OnError(this, lastError_);
    CloseConnect();
  }
  gateway_.reset();
  server_.reset();  // ends the server process, and a connection left open with it
}

bool TlaMBBridge::EnsureServer() {
  if (server_ && server_->ServerProcessId() != 0) return true;
  gateway_.reset();
  server_.reset();
  try {
    server_ = std::make_unique<TModbusSrv>();
  } catch (const std::exception&) {
    return false;  // not registered, or it cannot be started
  }
  return true;
}

bool TlaMBBridge::OpenConnect() {
  if (connected_) return lastError_ == kMBSuccess;
  if (!setup_->IsValid()) {
    if (server_) server_->CloseConnection();
    lastError_ = kMBOpenFailed;
    return false;
  }
  if (!EnsureServer()) {
    lastError_ = kMBOpenException;
    return false;
  }
  if (!server_->OpenConnection(setup_->Name, setup_->ConnType)) {
    server_->CloseConnection();
    lastError_ = kMBOpenFailed;
    return false;
  }
  setup_->SendTo(*server_);
  if (!server_->Connect()) {
    server_->CloseConnection();
    lastError_ = kMBOpenFailed;
    return false;
  }
  gateway_ = server_->CreateTCPServer();
  connected_ = true;
  lastError_ = kMBSuccess;
  return true;
}

void TlaMBBridge::CloseConnect() {
  if (!connected_) return;
  server_->CloseConnection();  // the server takes the gateway down with it
  gateway_.reset();
  connected_ = false;
  serverActive_ = false;
  lastError_ = kMBSuccess;
}

bool TlaMBBridge::StartServer() {
  if (!connected_) {
    lastError_ = kMBBridgeNotConnected;
  } else if (!serverActive_) {
    lastError_ = kMBBridgeStart;
    if (gateway_) {
      gateway_->Set_LocalAddress(HostName);
      gateway_->Set_TcpPort(TcpPort);
      if (gateway_->StartServer()) {
        serverActive_ = true;
        lastError_ = kMBSuccess;
      }
    }
  }
  return lastError_ == kMBSuccess;
}

bool TlaMBBridge::StopServer() {
  if (serverActive_ && gateway_) {
    lastError_ = gateway_->StopServer() ? kMBSuccess : kMBBridgeStop;
    serverActive_ = false;
  }
  return lastError_ == kMBSuccess;
}

void TlaMBBridge::SetServerActive(bool active) {
  if (serverActive_ && !active) {
    StopServer();
    const std::int32_t stopped = lastError_;
    CloseConnect();
    lastError_ = stopped;  // a failed stop stays told
    if (OnStopServer) OnStopServer(this);
  } else if (!serverActive_ && active) {
    if (OpenConnect()) {
      if (StartServer()) {
        if (OnStartServer) OnStartServer(this);
      } else {
        const std::int32_t failed = lastError_;
        CloseConnect();
        lastError_ = failed;  // the start's failure, not the close's 0
      }
    }
    if (!serverActive_ && OnError) OnError(this, lastError_);
  }
}

std::string TlaMBBridge::GetLocalHostIP() {
  if (connected_ && gateway_) return gateway_->GetLocalHostIP();
  return "127.0.0.1";
}
