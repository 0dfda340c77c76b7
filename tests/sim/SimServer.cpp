#include "SimServer.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <thread>

#include "Exception.h"

namespace kdsim {

namespace {

// A host name or address as the numeric IPv4 address the listener takes.
std::string Ipv4Address(const std::string& host) {
  in_addr numeric{};
  if (host.empty() || inet_pton(AF_INET, host.c_str(), &numeric) == 1) return host;
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (int rc = getaddrinfo(host.c_str(), nullptr, &hints, &found); rc != 0)
    throw kd::Exception("SimServer: '" + host + "': " + gai_strerror(rc));
  char text[INET_ADDRSTRLEN] = "";
  inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in*>(found->ai_addr)->sin_addr, text, sizeof text);
  freeaddrinfo(found);
  return text;
}

}  // namespace

int StopSignalFd() {
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGTERM);
  sigaddset(&stopSignals, SIGINT);
  sigprocmask(SIG_BLOCK, &stopSignals, nullptr);
  signal(SIGPIPE, SIG_IGN);
  return signalfd(-1, &stopSignals, SFD_CLOEXEC);
}

SimServer::SimServer(SimSlave& slave, const SimOptions& options, std::function<double()> clock)
    : slave_(slave), clock_(std::move(clock)), lateAddress_(options.LateAddress), lateMs_(options.LateMs),
      latencyMs_(options.LatencyMs) {
  if (!options.RtuPath.empty()) {
    kd::mb::SerialSettings settings;
    settings.baudRate = options.Baud;
    settings.parity = options.Parity == 'O' ? 1 : options.Parity == 'E' ? 2 : 0;
    settings.stopBits = options.StopBits == 2 ? 2 : 0;
    link_ = kd::mb::OpenSerialSlave(options.RtuPath, settings, false);
    if (!link_) throw kd::Exception("SimServer: cannot open '" + options.RtuPath + "'");
    address_ = options.RtuPath;
  } else {
    std::string host = Ipv4Address(options.TcpHost);
    std::string error;
    auto tcp = kd::mb::ListenTcpSlave(host, options.TcpPort, &error);
    if (!tcp)
      throw kd::Exception("SimServer: cannot listen on " + options.TcpHost + ":" +
                          std::to_string(options.TcpPort) + ": " + error);
    address_ = (host.empty() ? "0.0.0.0" : host) + ":" + std::to_string(tcp->Port());
    link_ = std::move(tcp);
  }
}

SimServer::~SimServer() = default;

void SimServer::Run(int stopFd) {
  // A watcher ends the waiting Receive when stopFd becomes readable.
  std::atomic<bool> stopping{false};
  kd::mb::WakeFd done;
  std::thread watcher([&] {
    pollfd fds[2] = {{stopFd, POLLIN, 0}, {done.get(), POLLIN, 0}};
    while (poll(fds, 2, -1) < 0 && errno == EINTR) {
    }
    if (fds[0].revents != 0) stopping = true;
    link_->Interrupt();
  });
  while (auto request = link_->Receive(kd::mb::Millis(-1))) {
    auto answer = slave_.Handle(request->frame, clock_());
    if (!answer) continue;
    const auto& f = request->frame;
    int delay = latencyMs_;
    if (lateAddress_ >= 0 && f.size() >= 4 && f[1] == 0x03 && (f[2] << 8 | f[3]) == lateAddress_) {
      lateAddress_ = -1;  // once
      delay = lateMs_;
    }
    if (delay > 0) std::this_thread::sleep_for(std::chrono::milliseconds(delay));
    link_->Answer(*request, *answer);
  }
  done.Signal();
  watcher.join();
  if (!stopping) throw kd::Exception("SimServer: the line '" + address_ + "' is gone");
}

}  // namespace kdsim
