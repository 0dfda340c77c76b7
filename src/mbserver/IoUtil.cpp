#include "IoUtil.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace kd::mb {

void UniqueFd::reset(int fd) {
  if (fd_ >= 0) ::close(fd_);
  fd_ = fd;
}

WaitResult WaitFd(int fd, short events, Clock::time_point deadline, int wake) {
  for (;;) {
    const auto left = std::chrono::ceil<Millis>(deadline - Clock::now()).count();
    pollfd fds[2] = {{fd, events, 0}, {wake, POLLIN, 0}};
    const int n = ::poll(fds, wake >= 0 ? 2 : 1, left > 0 ? static_cast<int>(left) : 0);
    if (n < 0) {
      if (errno == EINTR) continue;
      return WaitResult::Error;
    }
    if (wake >= 0 && fds[1].revents) return WaitResult::Woken;
    if (n == 0) {
      if (Clock::now() >= deadline) return WaitResult::Timeout;
      continue;
    }
    if (fds[0].revents & (events | POLLHUP | POLLERR)) return WaitResult::Ready;
    if (fds[0].revents & POLLNVAL) return WaitResult::Error;
  }
}

bool WriteAll(int fd, std::span<const std::uint8_t> data, Clock::time_point deadline,
              bool socket) {
  std::size_t done = 0;
  while (done < data.size()) {
    const ssize_t n = socket ? ::send(fd, data.data() + done, data.size() - done, MSG_NOSIGNAL)
                             : ::write(fd, data.data() + done, data.size() - done);
    if (n > 0) {
      done += static_cast<std::size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      if (WaitFd(fd, POLLOUT, deadline) != WaitResult::Ready) return false;
      continue;
    }
    return false;
  }
  return true;
}

long ReadAvailable(int fd, std::uint8_t* buffer, std::size_t size) {
  for (;;) {
    const ssize_t n = ::read(fd, buffer, size);
    if (n > 0) return static_cast<long>(n);
    if (n == 0) return -1;
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) return 0;
    return -1;
  }
}

bool SetNonBlocking(int fd) {
  const int flags = ::fcntl(fd, F_GETFL);
  return flags >= 0 && ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0;
}

WakeFd::WakeFd() : fd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

void WakeFd::Signal() {
  const std::uint64_t one = 1;
  [[maybe_unused]] const ssize_t n = ::write(fd_.get(), &one, sizeof one);
}

UniqueFd ListenTcp(const std::string& address, int port, std::string* error) {
  auto fail = [&](const std::string& what) {
    if (error) *error = what;
    return UniqueFd();
  };
  if (port < 0 || port > 65535) return fail("port " + std::to_string(port) + " out of range");
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(static_cast<std::uint16_t>(port));
  const std::string host = address.empty() ? "0.0.0.0" : address;
  if (::inet_pton(AF_INET, host.c_str(), &sa.sin_addr) != 1) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* list = nullptr;
    const int r = ::getaddrinfo(host.c_str(), nullptr, &hints, &list);
    if (r != 0 || !list) return fail("address '" + host + "': " + ::gai_strerror(r));
    sa.sin_addr = reinterpret_cast<const sockaddr_in*>(list->ai_addr)->sin_addr;
    ::freeaddrinfo(list);
  }
  UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
  if (!fd) return fail(std::string("socket: ") + std::strerror(errno));
  const int one = 1;
  ::setsockopt(fd.get(), SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  if (::bind(fd.get(), reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0)
    return fail(std::string("bind: ") + std::strerror(errno));
  if (::listen(fd.get(), SOMAXCONN) != 0)
    return fail(std::string("listen: ") + std::strerror(errno));
  return fd;
}

}  // namespace kd::mb
