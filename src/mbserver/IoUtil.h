#pragma once
// Small POSIX helpers for the transport: an owning file descriptor, deadlines
// and waits that block in poll (never spin).
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace kd::mb {

using Clock = std::chrono::steady_clock;
using Millis = std::chrono::milliseconds;

class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  ~UniqueFd() { reset(); }
  UniqueFd(UniqueFd&& other) noexcept : fd_(other.release()) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;

  int get() const { return fd_; }
  explicit operator bool() const { return fd_ >= 0; }
  int release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
  }
  void reset(int fd = -1);

 private:
  int fd_ = -1;
};

enum class WaitResult { Ready, Timeout, Woken, Error };

// Waits until `fd` is ready for `events` (POLLIN/POLLOUT) or the deadline
// passes. A second descriptor `wake` (or -1), when readable, ends the wait
// with Woken.
WaitResult WaitFd(int fd, short events, Clock::time_point deadline, int wake = -1);

// Writes every byte before the deadline (descriptor may be non-blocking).
// Sockets are written with MSG_NOSIGNAL. False on error or time-out.
bool WriteAll(int fd, std::span<const std::uint8_t> data, Clock::time_point deadline,
              bool socket);

// Reads what is available now without waiting: bytes read, 0 when nothing
// is there, -1 on error or end of stream.
long ReadAvailable(int fd, std::uint8_t* buffer, std::size_t size);

bool SetNonBlocking(int fd);

// A non-blocking IPv4 listening socket on address:port (an address or host
// name; empty or "0.0.0.0" every interface; port 0 a free one). An invalid
// descriptor, with `error` telling why ("bind: Address already in use"),
// when it cannot be made.
UniqueFd ListenTcp(const std::string& address, int port, std::string* error = nullptr);

// A descriptor that becomes readable, for good, once Signal is called.
class WakeFd {
 public:
  WakeFd();
  int get() const { return fd_.get(); }
  void Signal();

 private:
  UniqueFd fd_;
};

}  // namespace kd::mb
