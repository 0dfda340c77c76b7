#include "MasterTransport.h"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <system_error>

#include "MbCodes.h"

namespace kd::mb {
namespace {

using std::chrono::microseconds;

constexpr std::size_t kMaxAdu = 256;
constexpr std::size_t kMaxAsciiMessage = 2 * (kMaxFrame + 1) + 3;

constexpr std::uint64_t kStopTag = 0;  // the port's events are tagged from 1 on

}  // namespace

SerialMaster::SerialMaster(SerialPort port, std::string path, SerialSettings settings,
                           LineTiming timing, bool ascii)
    : path_(std::move(path)), settings_(settings), timing_(timing), ascii_(ascii),
      watch_(::epoll_create1(EPOLL_CLOEXEC)), port_(std::move(port)) {
  const auto silent = microseconds(std::max(timing_.silentMs, 0) * 1000L);
  gap_ = std::max({silent, microseconds(port_.CharMicros() * 7 / 2), microseconds(1750)});
  epoll_event ev{};
  ev.events = EPOLLIN;
  ev.data.u64 = kStopTag;
  if (!watch_ || !stop_.get() || ::epoll_ctl(watch_.get(), EPOLL_CTL_ADD, stop_.get(), &ev) != 0)
    return;  // not watched: a hang-up shows at the next request
  Watched();
  try {
    watcher_ = std::thread([this] { Watch(); });
  } catch (const std::system_error&) {
    // Not watched either.
  }
}

SerialMaster::~SerialMaster() {
  {
    std::lock_guard lock(lock_);
    stopping_ = true;
  }
  stop_.Signal();
  if (watcher_.joinable()) watcher_.join();
}

void SerialMaster::Watched() {
  epoll_event ev{};
  ev.events = EPOLLHUP | EPOLLERR;
  ev.data.u64 = ++opened_;
  if (watch_) ::epoll_ctl(watch_.get(), EPOLL_CTL_ADD, port_.Fd(), &ev);
}

void SerialMaster::Watch() {
  for (;;) {
    epoll_event e{};
    const int n = ::epoll_wait(watch_.get(), &e, 1, -1);
    if (n < 0 && errno == EINTR) continue;
    std::lock_guard lock(lock_);
    if (stopping_ || n < 0) return;
    // An event of the port as it is now, not of one closed since.
    if (n == 1 && e.data.u64 == opened_ && port_.IsOpen()) Lost(kPortRead, "hang-up or read error");
  }
}

Millis SerialMaster::FrameTime(std::size_t bytes) const {
  return std::chrono::ceil<Millis>(microseconds(port_.CharMicros() * static_cast<long>(bytes)));
}

bool SerialMaster::AwaitQuietLine() {
  const auto silent = Millis(std::max(timing_.silentMs, 0));
  // Settling, the line must stay quiet for a whole time-out, and the wait
  // ends within about one.
  const auto interval = settle_ ? Millis(timing_.timeoutMs) : silent;
  auto quietAt = std::max(lastActivity_ + interval, drainUntil_);
  // lastActivity_ lies ahead while a broadcast frame may still be on the wire.
  const auto limit =
      std::max({Clock::now(), settle_ ? quietAt : lastActivity_, drainUntil_}) + 2 * silent + gap_;
  std::array<std::uint8_t, 256> junk{};
  for (;;) {
    long n = 0;
    while ((n = ReadAvailable(port_.Fd(), junk.data(), junk.size())) > 0)
      quietAt = std::max(quietAt, Clock::now() + interval);
    if (n < 0 && port_.HungUp()) return false;
    const auto now = Clock::now();
    if (now >= quietAt || now >= limit) {
      // Found quiet for a time-out after a success: trusted again. Else the
      // next success settles once more.
      if (settle_) suspect_ = now < quietAt;
      settle_ = false;
      return true;
    }
    if (WaitFd(port_.Fd(), POLLIN, std::min(quietAt, limit)) == WaitResult::Error) return false;
  }
}

bool SerialMaster::Ready() {
  // A port found hung up here is opened again at once: the device may be back.
  for (int attempt = 0; attempt < 2; ++attempt) {
    if (!port_.IsOpen()) {
      if (!port_.Open(path_, settings_)) return false;
      Watched();
      if (told_) std::fprintf(stderr, "mbserver: %s: the port is open again\n", path_.c_str());
      told_ = false;
      lastActivity_ = Clock::now();
      drainUntil_ = {};
      suspect_ = settle_ = false;
    }
    if (AwaitQuietLine()) return true;
    Lost(kPortRead, "hang-up or read error");
  }
  return false;
}

std::int32_t SerialMaster::Lost(std::int32_t code, const char* what) {
  if (watch_ && port_.IsOpen()) ::epoll_ctl(watch_.get(), EPOLL_CTL_DEL, port_.Fd(), nullptr);
  port_.Close();
  if (!told_)
    std::fprintf(stderr, "mbserver: %s: %s; the port is closed and each request opens it again\n",
                 path_.c_str(), what);
  told_ = true;
  return code;
}

std::optional<Clock::time_point> SerialMaster::Send(ByteView request) {
  const std::string ascii = ascii_ ? EncodeAscii(request) : std::string();
  const Bytes rtu = ascii_ ? Bytes() : EncodeRtu(request);
  const ByteView adu = ascii_ ? ByteView(reinterpret_cast<const std::uint8_t*>(ascii.data()),
                                         ascii.size())
                              : ByteView(rtu);
  const bool sent = port_.Write(adu, Clock::now() + Millis(timing_.timeoutMs) + FrameTime(adu.size()));
  lastActivity_ = Clock::now();
  if (!sent) return std::nullopt;
  return lastActivity_ + FrameTime(adu.size());  // the driver may still be sending it
}

std::int32_t SerialMaster::Transact(ByteView request, Bytes& answer, Fit fit) {
  std::lock_guard lock(lock_);
  answer.clear();
  if (request.size() < 2 || request.size() > kMaxFrame) return kPortWrite;
  if (!Ready()) return kPortWrite;
  if (!Send(request)) return Lost(kPortWrite, "write error");
  const auto firstByte = lastActivity_ + Millis(timing_.timeoutMs);
  const std::int32_t r =
      ascii_ ? ReadAscii(request, answer, fit, firstByte) : ReadRtu(request, answer, fit, firstByte);
  if (r == kPortRead) return Lost(r, "hang-up or read error");
  if (r == kTimeout || r == kInvalidAnswer || r == kBadChecksum) {
    // Whatever answers this request, or the earlier ones, may still come.
    drainUntil_ = Clock::now() + Millis(timing_.timeoutMs);
    suspect_ = true;
    settle_ = false;
  } else {
    settle_ = suspect_;  // an answer came: a second one may follow
  }
  return r;
}

std::int32_t SerialMaster::Broadcast(ByteView request) {
  std::lock_guard lock(lock_);
  if (request.size() < 2 || request.size() > kMaxFrame) return kPortWrite;
  if (!Ready()) return kPortWrite;
  // No answer comes: the line is free once the frame is out and the line was quiet after it.
  const auto sent = Send(request);
  if (!sent) return Lost(kPortWrite, "write error");
  lastActivity_ = *sent;
  return kOk;
}

std::int32_t SerialMaster::ReadRtu(ByteView request, Bytes& answer, Fit fit,
                                   Clock::time_point firstByte) {
  const auto frameEnd = firstByte + FrameTime(kMaxAdu) + gap_;
  Bytes buffer;
  buffer.reserve(kMaxAdu);
  std::array<std::uint8_t, 256> chunk{};
  bool bySilence = false;
  for (;;) {
    if (!bySilence) {
      // A foreign header cannot be sized: it ends when the line goes silent.
      const bool foreign = (!buffer.empty() && buffer[0] != request[0]) ||
                           (buffer.size() >= 2 && (buffer[1] & 0x7Fu) != request[1]);
      const int length = foreign ? kBySilence : AnswerFrameLength(buffer);
      if (length == kBySilence) {
        bySilence = true;
      } else if (length > 0 && buffer.size() >= static_cast<std::size_t>(length) + 2) {
        return ParseRtuAnswer(request, ByteView(buffer).first(static_cast<std::size_t>(length) + 2),
                              answer, fit);
      }
    }
    Clock::time_point until = buffer.empty() ? firstByte : frameEnd;
    if (bySilence) until = std::min(frameEnd, lastActivity_ + gap_);
    const WaitResult w = WaitFd(port_.Fd(), POLLIN, until);
    if (w == WaitResult::Error) return kPortRead;
    if (w == WaitResult::Timeout) {
      if (buffer.empty()) {
        lastActivity_ = Clock::now();  // a late answer may still come: keep the line quiet
        return kTimeout;
      }
      if (bySilence && buffer.size() <= kMaxAdu) return ParseRtuAnswer(request, buffer, answer, fit);
      return kInvalidAnswer;  // cut short
    }
    const long n = ReadAvailable(port_.Fd(), chunk.data(), chunk.size());
    if (n < 0) return kPortRead;
    if (n == 0) continue;
    lastActivity_ = Clock::now();
    if (buffer.size() <= kMaxAdu)
      buffer.insert(buffer.end(), chunk.begin(), chunk.begin() + n);
  }
}

std::int32_t SerialMaster::ReadAscii(ByteView request, Bytes& answer, Fit fit,
                                     Clock::time_point firstByte) {
  const auto end = firstByte + FrameTime(kMaxAsciiMessage) + gap_;
  std::string message;
  bool overflow = false;
  std::array<std::uint8_t, 256> chunk{};
  for (;;) {
    const WaitResult w = WaitFd(port_.Fd(), POLLIN, message.empty() ? firstByte : end);
    if (w == WaitResult::Error) return kPortRead;
    if (w == WaitResult::Timeout) {
      lastActivity_ = Clock::now();
      return message.empty() ? kTimeout : kInvalidAnswer;
    }
    const long n = ReadAvailable(port_.Fd(), chunk.data(), chunk.size());
    if (n < 0) return kPortRead;
    lastActivity_ = Clock::now();
    for (long i = 0; i < n; ++i) {
      const char c = static_cast<char>(chunk[static_cast<std::size_t>(i)]);
      if (c == ':') {  // a start character always begins a new message
        message.assign(1, c);
        overflow = false;
        continue;
      }
      if (message.empty()) continue;  // noise before the start
      if (message.size() >= kMaxAsciiMessage) overflow = true;
      else message.push_back(c);
      if (c == '\n')
        return overflow ? kInvalidAnswer : ParseAsciiAnswer(request, message, answer, fit);
    }
  }
}

TcpMaster::TcpMaster(std::string host, int port, LineTiming timing)
    : host_(std::move(host)), port_(port), timing_(timing) {}

bool TcpMaster::Connect() { return ConnectBefore(Clock::now() + Millis(timing_.timeoutMs)); }

bool TcpMaster::ConnectBefore(Clock::time_point deadline) {
  sock_.reset();
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* list = nullptr;
  if (port_ <= 0 || port_ > 65535 ||
      ::getaddrinfo(host_.c_str(), std::to_string(port_).c_str(), &hints, &list) != 0)
    return false;
  std::unique_ptr<addrinfo, decltype(&::freeaddrinfo)> guard(list, &::freeaddrinfo);
  for (addrinfo* ai = list; ai; ai = ai->ai_next) {
    UniqueFd s(::socket(ai->ai_family, ai->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC,
                        ai->ai_protocol));
    if (!s) continue;
    if (::connect(s.get(), ai->ai_addr, ai->ai_addrlen) != 0) {
      if (errno != EINPROGRESS || WaitFd(s.get(), POLLOUT, deadline) != WaitResult::Ready)
        continue;
      int err = 0;
      socklen_t len = sizeof err;
      if (::getsockopt(s.get(), SOL_SOCKET, SO_ERROR, &err, &len) != 0 || err != 0) continue;
    }
    const int one = 1;
    ::setsockopt(s.get(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    const int flags = ::fcntl(s.get(), F_GETFL);
    ::fcntl(s.get(), F_SETFL, flags & ~O_NONBLOCK);
    receiveTimeout_ = 0;
    sock_ = std::move(s);
    return true;
  }
  return false;
}

bool TcpMaster::ReceiveTimeoutBefore(Clock::time_point deadline) {
  const auto left = std::chrono::ceil<Millis>(deadline - Clock::now()).count();
  if (left <= 0) return false;
  // In 50 ms steps, so that most exchanges find the value already set.
  const long wanted = (left + 49) / 50 * 50;
  if (wanted != receiveTimeout_) {
    const timeval tv{wanted / 1000, (wanted % 1000) * 1000};
    ::setsockopt(sock_.get(), SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    ::setsockopt(sock_.get(), SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
    receiveTimeout_ = wanted;
  }
  return true;
}

std::int32_t TcpMaster::Broadcast(ByteView request) {
  if (request.size() < 2 || request.size() > kMaxFrame) return kPortWrite;
  const auto deadline = Clock::now() + Millis(timing_.timeoutMs);
  for (int attempt = 0; attempt < 2; ++attempt) {
    if (!sock_ && !ConnectBefore(deadline)) return kPortWrite;
    if (ReceiveTimeoutBefore(deadline) &&
        WriteAll(sock_.get(), EncodeMbap(++transaction_, request), deadline, true))
      return kOk;
    sock_.reset();  // broken: made again once
  }
  return kPortWrite;
}

std::int32_t TcpMaster::Transact(ByteView request, Bytes& answer, Fit fit) {
  answer.clear();
  if (request.size() < 2 || request.size() > kMaxFrame) return kPortWrite;
  const auto deadline = Clock::now() + Millis(timing_.timeoutMs);
  // Late answers to earlier requests need no flush here: they carry older
  // transaction ids and are passed over below. A connection that the peer
  // closed meanwhile shows as a broken one and is made again.
  bool reconnected = false;
  if (!sock_) {
    if (!ConnectBefore(deadline)) return kPortWrite;
    reconnected = true;
  }
  for (;;) {
    const std::uint16_t tid = ++transaction_;
    const Bytes message = EncodeMbap(tid, request);
    const bool writeFailed =
        !ReceiveTimeoutBefore(deadline) || !WriteAll(sock_.get(), message, deadline, true);
    bool broken = writeFailed;
    Bytes buffer;
    std::array<std::uint8_t, 512> chunk{};
    while (!broken) {
      const int length = MbapMessageLength(buffer);
      if (length == kBadHeader) {
        sock_.reset();  // the stream cannot be framed any more
        return kInvalidAnswer;
      }
      if (length > 0 && buffer.size() >= static_cast<std::size_t>(length)) {
        const auto size = static_cast<std::size_t>(length);
        auto r = ParseTcpAnswer(request, tid, ByteView(buffer).first(size), answer, fit);
        buffer.erase(buffer.begin(), buffer.begin() + length);
        if (r) return *r;
        continue;  // another transaction's answer: not ours
      }
      // A blocking receive bounded by the socket's time-out: one system call per answer.
      if (!ReceiveTimeoutBefore(deadline)) return kTimeout;
      const ssize_t n = ::recv(sock_.get(), chunk.data(), chunk.size(), 0);
      if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) continue;
      if (n <= 0) broken = true;
      else buffer.insert(buffer.end(), chunk.begin(), chunk.begin() + n);
    }
    // The connection broke: reconnect once and send the request again.
    sock_.reset();
    if (reconnected || !ConnectBefore(deadline)) return writeFailed ? kPortWrite : kPortRead;
    reconnected = true;
  }
}

}  // namespace kd::mb
