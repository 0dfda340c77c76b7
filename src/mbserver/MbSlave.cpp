#include "MbSlave.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <pty.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <deque>
#include <map>

namespace kd::mb {
namespace {

Clock::time_point DeadlineOf(Millis timeout) {
  return timeout.count() < 0 ? Clock::time_point::max() : Clock::now() + timeout;
}

class SerialSlave : public SlaveLink {
 public:
  SerialSlave(UniqueFd fd, UniqueFd keepOpen, bool ascii, int silentMs, long charMicros)
      : fd_(std::move(fd)), keepOpen_(std::move(keepOpen)), ascii_(ascii),
        gap_(std::max({std::chrono::microseconds(silentMs * 1000L),
                       std::chrono::microseconds(charMicros * 7 / 2),
                       std::chrono::microseconds(1750)})) {}

  std::optional<SlaveRequest> Receive(Millis timeout) override {
    const auto deadline = DeadlineOf(timeout);
    std::array<std::uint8_t, 512> chunk{};
    for (;;) {
      if (auto frame = Extract(false)) return SlaveRequest{std::move(*frame), 0, 0};
      const auto until = buffer_.empty() ? deadline : std::min(deadline, lastByte_ + gap_);
      const WaitResult w = WaitFd(fd_.get(), POLLIN, until, wake_.get());
      if (w == WaitResult::Woken || w == WaitResult::Error) return std::nullopt;
      if (w == WaitResult::Timeout) {
        if (!buffer_.empty() && Clock::now() >= lastByte_ + gap_) {
          // The line went silent: the bytes so far are all of this frame.
          if (auto frame = Extract(true)) return SlaveRequest{std::move(*frame), 0, 0};
          buffer_.clear();
        }
        if (Clock::now() >= deadline) return std::nullopt;
        continue;
      }
      const long n = ReadAvailable(fd_.get(), chunk.data(), chunk.size());
      if (n < 0) return std::nullopt;
      lastByte_ = Clock::now();
      if (buffer_.size() < 4096) buffer_.insert(buffer_.end(), chunk.begin(), chunk.begin() + n);
    }
  }

  Bytes Encode(const SlaveRequest&, ByteView frame) const override {
    if (!ascii_) return EncodeRtu(frame);
    const std::string text = EncodeAscii(frame);
    return Bytes(text.begin(), text.end());
  }

  bool SendRaw(const SlaveRequest&, ByteView bytes) override {
    return WriteAll(fd_.get(), bytes, Clock::now() + std::chrono::seconds(2), false);
  }

 private:
  // A complete frame from the front of the buffer, when there is one.
  std::optional<Bytes> Extract(bool silent) {
    if (ascii_) return ExtractAscii();
    if (buffer_.size() < 4) return std::nullopt;
    const int length = RequestFrameLength(buffer_);
    std::size_t size;
    if (length > 0) {
      size = static_cast<std::size_t>(length) + 2;
      if (buffer_.size() < size) return std::nullopt;
    } else if (silent) {
      size = buffer_.size();
    } else {
      return std::nullopt;
    }
    const ByteView adu = ByteView(buffer_).first(size);
    std::optional<Bytes> frame;
    if (RtuCrcValid(adu)) frame = Bytes(adu.begin(), adu.end() - 2);
    buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<long>(size));
    if (!frame && !silent) buffer_.clear();  // out of step: start again after the next silence
    return frame;
  }

  std::optional<Bytes> ExtractAscii() {
    for (;;) {
      auto start = std::find(buffer_.begin(), buffer_.end(), ':');
      buffer_.erase(buffer_.begin(), start);
      auto lf = std::find(buffer_.begin(), buffer_.end(), '\n');
      if (lf == buffer_.end()) return std::nullopt;
      const std::string message(buffer_.begin(), lf + 1);
      buffer_.erase(buffer_.begin(), lf + 1);
      Bytes frame;
      if (DecodeAscii(message, frame) == AsciiStatus::Ok) return frame;
    }
  }

  UniqueFd fd_;
  UniqueFd keepOpen_;  // pty: the client side stays open, so the line never hangs up
  bool ascii_;
  std::chrono::microseconds gap_;
  Bytes buffer_;
  Clock::time_point lastByte_{};
};

struct TcpClient {
  UniqueFd fd;
  Bytes in;
};

class TcpSlave : public TcpSlaveLink {
 public:
  TcpSlave(UniqueFd listener, int port) : listener_(std::move(listener)), port_(port) {}
  int Port() const override { return port_; }

  std::optional<SlaveRequest> Receive(Millis timeout) override {
    const auto deadline = DeadlineOf(timeout);
    std::array<std::uint8_t, 1024> chunk{};
    for (;;) {
      if (!queue_.empty()) {
        SlaveRequest r = std::move(queue_.front());
        queue_.pop_front();
        return r;
      }
      std::vector<pollfd> fds{{wake_.get(), POLLIN, 0}, {listener_.get(), POLLIN, 0}};
      std::vector<int> ids;
      for (auto& [id, c] : clients_) {
        fds.push_back({c.fd.get(), POLLIN, 0});
        ids.push_back(id);
      }
      int wait = -1;
      if (deadline != Clock::time_point::max()) {
        const auto left = std::chrono::ceil<Millis>(deadline - Clock::now()).count();
        wait = static_cast<int>(std::clamp<long>(left, 0, 1 << 30));
      }
      const int n = ::poll(fds.data(), fds.size(), wait);
      if (n < 0 && errno != EINTR) return std::nullopt;
      if (fds[0].revents) return std::nullopt;
      if (n <= 0) {
        if (Clock::now() >= deadline) return std::nullopt;
        continue;
      }
      if (fds[1].revents & POLLIN) Accept();
      for (std::size_t i = 0; i < ids.size(); ++i) {
        if (!fds[i + 2].revents) continue;
        auto it = clients_.find(ids[i]);
        const long got = ReadAvailable(it->second.fd.get(), chunk.data(), chunk.size());
        if (got < 0) {
          clients_.erase(it);
          continue;
        }
        it->second.in.insert(it->second.in.end(), chunk.begin(), chunk.begin() + got);
        if (!Split(ids[i], it->second.in)) clients_.erase(it);
      }
    }
  }

  Bytes Encode(const SlaveRequest& to, ByteView frame) const override {
    return EncodeMbap(to.transaction, frame);
  }

  void Drop(const SlaveRequest& from) override { clients_.erase(from.client); }

  bool SendRaw(const SlaveRequest& to, ByteView bytes) override {
    auto it = clients_.find(to.client);
    if (it == clients_.end()) return false;
    if (WriteAll(it->second.fd.get(), bytes, Clock::now() + std::chrono::seconds(2), true))
      return true;
    clients_.erase(it);
    return false;
  }

 private:
  void Accept() {
    UniqueFd fd(::accept4(listener_.get(), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC));
    if (!fd) return;
    const int one = 1;
    ::setsockopt(fd.get(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    clients_[nextId_++] = TcpClient{std::move(fd), {}};
  }

  // Moves the complete messages of a client's input to the queue; false
  // when the stream cannot be framed.
  bool Split(int id, Bytes& in) {
    for (;;) {
      const int length = MbapMessageLength(in);
      if (length == kBadHeader) return false;
      if (length == kNeedMore || in.size() < static_cast<std::size_t>(length)) return true;
      auto m = DecodeMbap(ByteView(in).first(static_cast<std::size_t>(length)));
      in.erase(in.begin(), in.begin() + length);
      if (m && m->protocol == 0) queue_.push_back({std::move(m->frame), id, m->transaction});
    }
  }

  UniqueFd listener_;
  int port_;
  std::map<int, TcpClient> clients_;
  int nextId_ = 1;
  std::deque<SlaveRequest> queue_;
};

}  // namespace

std::unique_ptr<SlaveLink> OpenSerialSlave(const std::string& path, const SerialSettings& settings,
                                           bool ascii, int silentMs) {
  SerialPort port;
  if (!port.Open(path, settings)) return nullptr;
  const long charMicros = port.CharMicros();
  return std::make_unique<SerialSlave>(port.Release(), UniqueFd(), ascii, silentMs, charMicros);
}

std::unique_ptr<SlaveLink> CreatePtySlave(bool ascii, std::string& path, int silentMs) {
  int master = -1, slave = -1;
  termios raw{};
  ::cfmakeraw(&raw);
  raw.c_cflag |= CLOCAL | CREAD;
  if (::openpty(&master, &slave, nullptr, &raw, nullptr) != 0) return nullptr;
  UniqueFd m(master), s(slave);
  ::fcntl(master, F_SETFD, FD_CLOEXEC);
  ::fcntl(slave, F_SETFD, FD_CLOEXEC);
  if (!SetNonBlocking(master)) return nullptr;
  char name[128] = {};
  if (::ttyname_r(slave, name, sizeof name) != 0) return nullptr;
  path = name;
  return std::make_unique<SerialSlave>(std::move(m), std::move(s), ascii, silentMs, 573);
}

std::unique_ptr<TcpSlaveLink> ListenTcpSlave(const std::string& address, int port,
                                             std::string* error) {
  UniqueFd fd = ListenTcp(address, port, error);
  if (!fd) return nullptr;
  sockaddr_in sa{};
  socklen_t len = sizeof sa;
  ::getsockname(fd.get(), reinterpret_cast<sockaddr*>(&sa), &len);
  return std::make_unique<TcpSlave>(std::move(fd), ntohs(sa.sin_port));
}

}  // namespace kd::mb
