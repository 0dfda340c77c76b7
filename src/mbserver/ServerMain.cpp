#include "ServerMain.h"

#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <map>
#include <memory>

#include "CTCPIPServer.h"
#include "MbConnection.h"
#include "ProxyProtocol.h"
#include "ServerRegistry.h"

namespace kd::mb {
namespace {

class Dispatcher {
 public:
  ProxyMessage Handle(const ProxyMessage& in) {
    ProxyMessage out;
    out.op = in.op;
    auto set = [&](auto field) {
      connection_.Update([&](ConnectionSettings& s) { s.*field = in.a; });
    };
    switch (in.op) {
      case Op::Hello: out.a = kProtocolVersion; break;
      case Op::OpenConnection: out.a = connection_.OpenConnection(in.text, in.a); break;
      case Op::SetRetries: set(&ConnectionSettings::retries); break;
      case Op::SetRaiseError:
        connection_.Update([&](ConnectionSettings& s) { s.raiseError = in.a != 0; });
        break;
      case Op::SetBaudRate: set(&ConnectionSettings::baudRate); break;
      case Op::SetComPort: set(&ConnectionSettings::comPort); break;
      case Op::SetByteSize: set(&ConnectionSettings::byteSize); break;
      case Op::SetFlowControl: set(&ConnectionSettings::flowControl); break;
      case Op::SetParity: set(&ConnectionSettings::parity); break;
      case Op::SetSilentInterval: set(&ConnectionSettings::silentInterval); break;
      case Op::SetStopBits: set(&ConnectionSettings::stopBits); break;
      case Op::SetTimeOut: set(&ConnectionSettings::timeout); break;
      case Op::SetTransmissionMode: set(&ConnectionSettings::transmissionMode); break;
      case Op::SetTcpPort: set(&ConnectionSettings::tcpPort); break;
      case Op::SetHost:
        connection_.Update([&](ConnectionSettings& s) { s.host = in.text; });
        break;
      case Op::Connect: out.a = connection_.Connect(); break;
      case Op::TxRxMessage: out.a = connection_.TxRxMessage(in.data, out.data); break;
      case Op::GetRetries: out.a = connection_.Retries(); break;
      case Op::CloseConnection:
        gateways_.clear();
        connection_.CloseConnection();
        break;
      case Op::CreateTCPServer:
        if (connection_.IsConnected()) {
          gateways_[nextGateway_] = std::make_unique<CTCPIPServer>(connection_);
          out.a = nextGateway_++;
        }
        break;
      default: HandleGateway(in, out); break;
    }
    return out;
  }

 private:
  void HandleGateway(const ProxyMessage& in, ProxyMessage& out) {
    auto it = gateways_.find(in.a);
    if (it == gateways_.end()) {  // released, or gone with its connection
      if (in.op == Op::GatewayLocalHostIP) out.text = "127.0.0.1";  // it listens nowhere
      if (in.op == Op::GatewayStop) out.a = 1;  // it listens no more
      return;
    }
    CTCPIPServer& g = *it->second;
    switch (in.op) {
      case Op::GatewaySetAddress: g.SetLocalAddress(in.text); break;
      case Op::GatewaySetPort: g.SetPort(in.b); break;
      case Op::GatewayStart: out.a = g.StartServer(); break;
      case Op::GatewayStop: out.a = g.StopServer(); break;
      case Op::GatewayLocalHostIP: out.text = g.GetLocalHostIP(); break;
      case Op::GatewayRelease: gateways_.erase(it); break;
      default: break;
    }
  }

  MbConnection connection_{ComPortPath};
  std::map<std::int32_t, std::unique_ptr<CTCPIPServer>> gateways_;  // before the connection goes
  std::int32_t nextGateway_ = 1;
};

bool SendAll(int fd, const std::vector<std::uint8_t>& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);  // SIGPIPE ignored
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

std::string SelfPath() {
  char path[4096];
  const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
  return n > 0 ? std::string(path, static_cast<std::size_t>(n)) : std::string();
}

}  // namespace

void ServeChannel(int in, int out) {
  Dispatcher dispatcher;
  std::vector<std::uint8_t> stream;
  std::uint8_t chunk[4096];
  for (;;) {
    const ssize_t n = ::read(in, chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    stream.insert(stream.end(), chunk, chunk + n);
    for (;;) {
      DecodeResult r = DecodeMessage(stream);
      if (r.status == DecodeStatus::Bad) return;
      if (r.status == DecodeStatus::NeedMore) break;
      stream.erase(stream.begin(), stream.begin() + static_cast<long>(r.consumed));
      const auto answer = EncodeMessage(dispatcher.Handle(r.message));
      if (!answer || !SendAll(out, *answer)) return;
    }
  }
}

int ServerMain(const std::vector<std::string>& args) {
  std::signal(SIGPIPE, SIG_IGN);
  const std::string command = args.empty() ? std::string() : args[0];
  try {
    if (command == "/regserver" || command == "--regserver") {
      const std::string self = SelfPath();
      if (self.empty()) throw std::runtime_error("cannot tell its own path");
      RegisterServer(self);
      return 0;
    }
    if (command == "/unregserver" || command == "--unregserver") {
      UnregisterServer();
      return 0;
    }
    if (command == kServeArgument) {
      ServeChannel(kRequestFd, kAnswerFd);
      return 0;
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "mbserver: %s\n", e.what());
    return 1;
  }
  std::fprintf(stderr,
               "usage: mbserver /regserver | --regserver   register this program\n"
               "       mbserver /unregserver               remove the registration\n"
               "The client program starts it by itself to serve a connection.\n");
  return 2;
}

}  // namespace kd::mb
