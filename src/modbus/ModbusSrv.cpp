#include "ModbusSrv.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <mutex>
#include <optional>

#include "Exception.h"
#include "Framing.h"
#include "IoUtil.h"
#include "MbCodes.h"
#include "ProxyProtocol.h"
#include "ServerMain.h"
#include "ServerProcess.h"
#include "ServerRegistry.h"

namespace kd::mb {

// The pipes to one server process and the process itself.
class ProxyChannel {
 public:
  // Raises kd::Exception when the server cannot be started or does not greet.
  explicit ProxyChannel(const std::string& executable) {
    int requests[2], answers[2];
    if (::pipe2(requests, O_CLOEXEC) != 0) throw kd::Exception("TModbusSrv: no pipe for the server");
    toServer_.reset(requests[1]);
    UniqueFd childIn(requests[0]);
    if (::pipe2(answers, O_CLOEXEC) != 0) throw kd::Exception("TModbusSrv: no pipe for the server");
    fromServer_.reset(answers[0]);
    UniqueFd childOut(answers[1]);
    // Never 3 or 4 themselves, so that the child's dup2 onto them is real.
    childIn = UniqueFd(::fcntl(childIn.get(), F_DUPFD_CLOEXEC, 10));
    childOut = UniqueFd(::fcntl(childOut.get(), F_DUPFD_CLOEXEC, 10));
    std::string error;
    pid_ = SpawnProgram(executable, {kServeArgument}, {childIn.get(), childOut.get(), {}}, &error);
    // Only the server holds those ends now: its exit closes the pipes.
    childIn.reset();
    childOut.reset();
    if (pid_ < 0)
      throw kd::Exception("TModbusSrv: cannot start '" + executable + "': " + error);
    ProxyMessage hello;
    hello.a = kProtocolVersion;
    auto answer = Call(hello, std::chrono::seconds(10));
    if (!answer || answer->a != kProtocolVersion) {
      if (answer) Lost();  // no destructor runs after this throw: end the process here
      throw kd::Exception("TModbusSrv: '" + executable + "' is not a working Modbus server");
    }
  }

  ~ProxyChannel() {
    toServer_.reset();  // the server leaves when its request pipe closes
    fromServer_.reset();
    if (pid_ > 0) FinishProcess(pid_, std::chrono::seconds(3));
  }

  // One request, one answer within `budget` (by default the connection's
  // Budget); nullopt when the server is gone.
  std::optional<ProxyMessage> Call(const ProxyMessage& request) { return Call(request, Budget()); }
  std::optional<ProxyMessage> Call(const ProxyMessage& request, Millis budget) {
    std::lock_guard lock(lock_);
    if (!toServer_) return std::nullopt;
    const auto deadline = Clock::now() + budget;
    auto bytes = EncodeMessage(request);
    if (!bytes) return ProxyMessage{request.op, 0, 0, {}, {}};  // too large to send: nothing done
    if (!Send(*bytes)) return Lost();
    std::vector<std::uint8_t> stream;
    std::uint8_t chunk[4096];
    for (;;) {
      DecodeResult r = DecodeMessage(stream);
      if (r.status == DecodeStatus::Ok && r.consumed == stream.size() && r.message.op == request.op)
        return std::move(r.message);
      if (r.status != DecodeStatus::NeedMore) return Lost();
      if (WaitFd(fromServer_.get(), POLLIN, deadline) != WaitResult::Ready) return Lost();
      const long n = ::read(fromServer_.get(), chunk, sizeof chunk);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return Lost();
      stream.insert(stream.end(), chunk, chunk + n);
    }
  }

  int Pid() const {
    std::lock_guard lock(lock_);
    return toServer_ ? pid_ : 0;
  }

  // Time a call may take: the line's time-out twice (the drain after a
  // failed exchange, then the exchange), three silent intervals, a long frame
  // each way at the line's speed, and a margin.
  Millis Budget() const {
    std::lock_guard lock(lock_);
    const long transmit = baud_ > 0 ? 512L * 11 * 1000 / baud_ : 0;
    return Millis(2L * std::max(timeout_, 0) + 3L * std::max(silent_, 0) + transmit + 1000);
  }
  void SetTiming(std::optional<int> timeout, std::optional<int> silent, std::optional<int> baud) {
    std::lock_guard lock(lock_);
    if (timeout) timeout_ = *timeout > 0 ? *timeout : 1000;
    if (silent) silent_ = *silent;
    if (baud) baud_ = *baud;
  }

 private:
  // Writes a request. A server that has gone must not raise SIGPIPE in this
  // program: the signal is blocked in this thread for the write, and one it
  // left pending is taken before it is unblocked.
  bool Send(const std::vector<std::uint8_t>& bytes) {
    sigset_t pipe, old;
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe, &old);
    std::size_t done = 0;
    bool ok = true;
    while (ok && done < bytes.size()) {
      const ssize_t n = ::write(toServer_.get(), bytes.data() + done, bytes.size() - done);
      if (n > 0) done += static_cast<std::size_t>(n);
      else if (n < 0 && errno == EINTR) continue;
      else ok = false;
    }
    if (!ok && errno == EPIPE) {
      const timespec none{0, 0};
      sigtimedwait(&pipe, nullptr, &none);
    }
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
    return ok;
  }

  // The server died, hung or broke the protocol: end it for good.
  std::nullopt_t Lost() {
    toServer_.reset();
    fromServer_.reset();
    FinishProcess(pid_, Millis(0));
    pid_ = -1;
    return std::nullopt;
  }

  mutable std::mutex lock_;
  UniqueFd toServer_;
  UniqueFd fromServer_;
  pid_t pid_ = -1;
  int timeout_ = 1000;
  int silent_ = 20;
  int baud_ = 19200;
};

}  // namespace kd::mb

using kd::mb::Op;
using kd::mb::ProxyMessage;

namespace {

ProxyMessage Request(Op op, std::int32_t a = 0, std::string text = {}) {
  ProxyMessage m;
  m.op = op;
  m.a = a;
  m.text = std::move(text);
  return m;
}

}  // namespace

TModbusSrv::TModbusSrv(kd::Component* owner) : kd::Component(owner) {
  const std::string executable = kd::mb::RegisteredServer();
  if (executable.empty()) throw kd::Exception("TModbusSrv: the Modbus server is not registered");
  channel_ = std::make_shared<kd::mb::ProxyChannel>(executable);
}

TModbusSrv::~TModbusSrv() = default;

bool TModbusSrv::OpenConnection(const std::string& name, int type) {
  auto r = channel_->Call(Request(Op::OpenConnection, type, name));
  return r && r->a != 0;
}

void TModbusSrv::Set(Op op, int value) { channel_->Call(Request(op, value)); }

void TModbusSrv::Set_Retries(int value) { Set(Op::SetRetries, value); }
void TModbusSrv::Set_RaiseError(bool value) { Set(Op::SetRaiseError, value); }
void TModbusSrv::Set_BaudRate(int value) {
  channel_->SetTiming(std::nullopt, std::nullopt, value);
  Set(Op::SetBaudRate, value);
}
void TModbusSrv::Set_ComPort(int value) { Set(Op::SetComPort, value); }
void TModbusSrv::Set_ByteSize(int value) { Set(Op::SetByteSize, value); }
void TModbusSrv::Set_FlowControl(int value) { Set(Op::SetFlowControl, value); }
void TModbusSrv::Set_Parity(int value) { Set(Op::SetParity, value); }
void TModbusSrv::Set_SilentInterval(int ms) {
  channel_->SetTiming(std::nullopt, ms, std::nullopt);
  Set(Op::SetSilentInterval, ms);
}
void TModbusSrv::Set_StopBits(int value) { Set(Op::SetStopBits, value); }
void TModbusSrv::Set_TimeOut(int ms) {
  channel_->SetTiming(ms, std::nullopt, std::nullopt);
  Set(Op::SetTimeOut, ms);
}
void TModbusSrv::Set_TransmissionMode(int value) { Set(Op::SetTransmissionMode, value); }
void TModbusSrv::Set_TcpPort(int value) { Set(Op::SetTcpPort, value); }
void TModbusSrv::Set_Host(const std::string& host) { channel_->Call(Request(Op::SetHost, 0, host)); }

bool TModbusSrv::Connect() {
  auto r = channel_->Call(Request(Op::Connect));
  return r && r->a != 0;
}

std::int32_t TModbusSrv::TxRxMessage(const std::vector<std::uint8_t>& query, int queryLength,
                                     std::vector<std::uint8_t>& response, int /*respLength*/,
                                     std::vector<std::uint8_t>& bytesRead) {
  response.clear();
  bytesRead.clear();
  ProxyMessage m = Request(Op::TxRxMessage);
  const auto n = std::min(query.size(), static_cast<std::size_t>(std::max(queryLength, 0)));
  if (n > kd::mb::kMaxFrame) return kd::mb::kPortWrite;  // no line takes it; may not fit a message
  m.data.assign(query.begin(), query.begin() + static_cast<long>(n));
  auto r = channel_->Call(m);
  if (!r) return kd::mb::kServerLost;
  response = std::move(r->data);
  return r->a;
}

int TModbusSrv::get_Retries() {
  auto r = channel_->Call(Request(Op::GetRetries));
  return r ? r->a : 0;
}

void TModbusSrv::CloseConnection() { channel_->Call(Request(Op::CloseConnection)); }

std::shared_ptr<TCTCPIPServer> TModbusSrv::CreateTCPServer() {
  auto r = channel_->Call(Request(Op::CreateTCPServer));
  if (!r || r->a == 0) return nullptr;
  return std::make_shared<TCTCPIPServer>(channel_, r->a);
}

int TModbusSrv::ServerProcessId() const { return channel_->Pid(); }

TCTCPIPServer::TCTCPIPServer(std::shared_ptr<kd::mb::ProxyChannel> channel, int id)
    : channel_(std::move(channel)), id_(id) {}

TCTCPIPServer::~TCTCPIPServer() { channel_->Call(Request(Op::GatewayRelease, id_)); }

void TCTCPIPServer::Set_LocalAddress(const std::string& address) {
  channel_->Call(Request(Op::GatewaySetAddress, id_, address));
}

void TCTCPIPServer::Set_TcpPort(int port) {
  ProxyMessage m = Request(Op::GatewaySetPort, id_);
  m.b = port;
  channel_->Call(m);
}

bool TCTCPIPServer::StartServer() {
  auto r = channel_->Call(Request(Op::GatewayStart, id_));
  return r && r->a != 0;
}

bool TCTCPIPServer::StopServer() {
  auto r = channel_->Call(Request(Op::GatewayStop, id_));
  return r && r->a != 0;
}

std::string TCTCPIPServer::GetLocalHostIP() {
  auto r = channel_->Call(Request(Op::GatewayLocalHostIP, id_));
  return r ? r->text : std::string("127.0.0.1");
}
