#include "CTCPIPServer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <ifaddrs.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <exception>
#include <system_error>
#include <thread>
#include <unordered_map>
#include <vector>

#include "MbCodes.h"
#include "Registry.h"

namespace kd::mb {
namespace {

// epoll tags; clients are numbered from kFirstClient on and never reused.
constexpr std::uint64_t kWakeTag = 0;
constexpr std::uint64_t kListenerTag = 1;
constexpr std::uint64_t kFirstClient = 2;

// How long accepting pauses when no descriptor is left even to refuse with.
constexpr Millis kAcceptPause(200);

// The first IPv4 address of this host that is not a loopback one, else 127.0.0.1.
std::string HostAddress() {
  std::string result = "127.0.0.1";
  ifaddrs* list = nullptr;
  if (::getifaddrs(&list) != 0) return result;
  for (ifaddrs* a = list; a; a = a->ifa_next) {
    if (!a->ifa_addr || a->ifa_addr->sa_family != AF_INET) continue;
    const auto* in = reinterpret_cast<const sockaddr_in*>(a->ifa_addr);
    if ((ntohl(in->sin_addr.s_addr) >> 24) == 127) continue;
    char text[INET_ADDRSTRLEN] = {};
    if (::inet_ntop(AF_INET, &in->sin_addr, text, sizeof text)) {
      result = text;
      break;
    }
  }
  ::freeifaddrs(list);
  return result;
}

}  // namespace

GatewayLimits ReadGatewayLimits() {
  GatewayLimits limits;
  try {
    Registry reg(HKEY_LOCAL_MACHINE);
    if (!reg.OpenKeyReadOnly(kGatewaySettingsKey)) return limits;
    auto read = [&](const char* name, int fallback) {
      try {
        return reg.ValueExists(name) ? reg.ReadInteger(name) : fallback;
      } catch (const std::exception&) {
        return fallback;  // of another type
      }
    };
    const int clients = read("MaxClients", limits.maxClients);
    if (clients >= 1) limits.maxClients = clients;
    const int idle = read("IdleTimeout", static_cast<int>(limits.idleTimeout.count()));
    if (idle >= 0) limits.idleTimeout = std::chrono::seconds(idle);
  } catch (const std::exception&) {
    // A damaged registry: the defaults.
  }
  return limits;
}

// The two threads of a listening gateway; destroying it stops them.
//
// The clients' thread accepts, reads requests and keeps the idle time-out;
// the line's thread makes the exchanges and writes each answer to its
// client itself, waking the clients' thread only when an answer could not
// be written whole, or a client's reading is to resume. A client's state is
// shared under its own lock; locks are taken in the order: a client, the
// jobs, the notices.
class CTCPIPServer::Engine {
 public:
  Engine(MbConnection& connection, UniqueFd listener, GatewayLimits limits, std::string name);
  ~Engine();
  Engine(const Engine&) = delete;
  Engine& operator=(const Engine&) = delete;
  bool Started() const { return started_; }
  // The address the listener is bound to (0.0.0.0 for every interface).
  std::string BoundAddress() const;

 private:
  struct Request {
    std::uint16_t transaction = 0;
    Bytes frame;
  };
  struct Client {
    Client(std::uint64_t i, UniqueFd f) : id(i), fd(std::move(f)) {}
    const std::uint64_t id;
    const UniqueFd fd;           // open while either thread holds the client
    std::uint32_t interest = 0;  // clients' thread only
    Bytes in;                    // clients' thread only: a request still arriving
    std::mutex lock;             // guards what follows
    Bytes out;                   // answers from outStart on are not sent yet
    std::size_t outStart = 0;
    std::deque<Request> waiting;  // requests not yet handed to the line
    bool atLine = false;          // one of its requests is with the line
    bool broken = false;          // to be dropped (write failed, too much unread)
    bool ended = false;           // it sent all it will (shut down its writing side)
    bool gone = false;            // dropped
    Clock::time_point heard;      // last request, or last answer handed over
    // Ended, and every request of it answered and written: to be closed.
    bool Finished() const { return ended && !atLine && waiting.empty() && outStart == out.size(); }
  };
  using ClientPtr = std::shared_ptr<Client>;
  struct Job {
    ClientPtr client;
    Request request;
  };

  // The clients' thread.
  void Serve();
  void AcceptAll();
  // One connection taken off the queue and closed again (no descriptor left).
  bool RefuseWithSpare();
  void PauseAccepting(Clock::time_point now);
  bool Receive(const ClientPtr& client);
  void UpdateInterest(Client& c);
  void TakeNotices();
  void Drop(std::uint64_t id);
  void Sweep(Clock::time_point now);
  int WaitMillis(Clock::time_point now) const;
  // One line on standard error per episode of refusals.
  void Tell(bool& told, const char* what);

  // Either thread, with the client's lock held.
  // Sends what it can of the client's answers; false when it is to be dropped.
  bool Flush(Client& c);
  // Hands the client's next request to the line unless one is there already.
  void Submit(const ClientPtr& c);

  // Ends both threads (those that run).
  void Stop();

  // The line's thread.
  void RunLine();
  // One exchange: false for a broadcast (no answer), else true with the answer in `answer`.
  bool Exchange(const Bytes& frame, Bytes& answer);
  // Wakes the clients' thread to look at the client.
  void Notice(std::uint64_t id);

  MbConnection& connection_;
  GatewayLimits limits_;
  std::string name_;  // address:port, for messages
  UniqueFd listener_;
  UniqueFd epoll_;
  UniqueFd wake_;   // eventfd: notices, or stop
  UniqueFd spare_;  // held back to refuse connections with when descriptors run out
  bool started_ = false;
  std::atomic<bool> stop_{false};

  std::mutex jobsLock_;
  std::condition_variable jobsReady_;
  std::deque<Job> jobs_;  // at most one per client, in the order they came
  std::mutex noticesLock_;
  std::vector<std::uint64_t> notices_;

  // Clients' thread only.
  std::unordered_map<std::uint64_t, ClientPtr> clients_;
  std::vector<Request> arrived_;  // Receive's, kept for its capacity
  std::uint64_t nextId_ = kFirstClient;
  Clock::time_point nextSweep_ = Clock::time_point::max();
  Clock::time_point acceptPausedUntil_ = Clock::time_point::min();
  bool acceptPaused_ = false;
  bool toldFull_ = false;
  bool toldNoFds_ = false;

  std::thread serveThread_;
  std::thread lineThread_;
};

CTCPIPServer::Engine::Engine(MbConnection& connection, UniqueFd listener, GatewayLimits limits,
                             std::string name)
    : connection_(connection),
      limits_(limits),
      name_(std::move(name)),
      listener_(std::move(listener)),
      epoll_(::epoll_create1(EPOLL_CLOEXEC)),
      wake_(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)),
      spare_(::open("/dev/null", O_RDONLY | O_CLOEXEC)) {
  if (!epoll_ || !wake_) return;
  epoll_event ev{};
  ev.events = EPOLLIN;
  ev.data.u64 = kWakeTag;
  if (::epoll_ctl(epoll_.get(), EPOLL_CTL_ADD, wake_.get(), &ev) != 0) return;
  ev.data.u64 = kListenerTag;
  if (::epoll_ctl(epoll_.get(), EPOLL_CTL_ADD, listener_.get(), &ev) != 0) return;
  try {
    serveThread_ = std::thread([this] { Serve(); });
    lineThread_ = std::thread([this] { RunLine(); });
  } catch (const std::system_error&) {
    Stop();  // the one that did start
    return;
  }
  started_ = true;
}

CTCPIPServer::Engine::~Engine() { Stop(); }

void CTCPIPServer::Engine::Stop() {
  {
    std::lock_guard lock(jobsLock_);
    stop_ = true;
  }
  jobsReady_.notify_all();
  const std::uint64_t one = 1;
  if (wake_) (void)!::write(wake_.get(), &one, sizeof one);
  if (serveThread_.joinable()) serveThread_.join();
  if (lineThread_.joinable()) lineThread_.join();  // after the exchange on the line, if one runs
}

std::string CTCPIPServer::Engine::BoundAddress() const {
  sockaddr_in sa{};
  socklen_t len = sizeof sa;
  char text[INET_ADDRSTRLEN] = {};
  if (::getsockname(listener_.get(), reinterpret_cast<sockaddr*>(&sa), &len) != 0 ||
      !::inet_ntop(AF_INET, &sa.sin_addr, text, sizeof text))
    return "127.0.0.1";
  return text;
}

void CTCPIPServer::Engine::Tell(bool& told, const char* what) {
  if (told) return;
  told = true;
  std::fprintf(stderr, "mbserver: gateway %s: %s\n", name_.c_str(), what);
}

// ---------------------------------------------------------------------------
// The clients' thread

void CTCPIPServer::Engine::Serve() {
  std::array<epoll_event, 64> events{};
  while (!stop_) {
    const int n = ::epoll_wait(epoll_.get(), events.data(), static_cast<int>(events.size()),
                               WaitMillis(Clock::now()));
    if (n < 0 && errno != EINTR) {
      std::fprintf(stderr, "mbserver: gateway %s: %s\n", name_.c_str(), std::strerror(errno));
      return;
    }
    for (int i = 0; i < n; ++i) {
      const epoll_event& e = events[static_cast<std::size_t>(i)];
      if (e.data.u64 == kWakeTag) {
        std::uint64_t count = 0;
        (void)!::read(wake_.get(), &count, sizeof count);
        continue;
      }
      if (e.data.u64 == kListenerTag) {
        AcceptAll();
        continue;
      }
      auto it = clients_.find(e.data.u64);
      if (it == clients_.end()) continue;  // dropped earlier in this round
      const ClientPtr c = it->second;
      bool keep = !(e.events & (EPOLLERR | EPOLLHUP));
      if (keep && (e.events & EPOLLOUT)) {
        std::lock_guard lock(c->lock);
        keep = Flush(*c) && !c->Finished();
      }
      if (keep && (e.events & EPOLLIN)) keep = Receive(c);
      if (keep)
        UpdateInterest(*c);
      else
        Drop(c->id);
    }
    TakeNotices();
    const auto now = Clock::now();
    if (now >= nextSweep_) Sweep(now);
    if (acceptPaused_ && now >= acceptPausedUntil_) {
      epoll_event ev{};
      ev.events = EPOLLIN;
      ev.data.u64 = kListenerTag;
      ::epoll_ctl(epoll_.get(), EPOLL_CTL_MOD, listener_.get(), &ev);
      acceptPaused_ = false;
    }
  }
}

int CTCPIPServer::Engine::WaitMillis(Clock::time_point now) const {
  Clock::time_point until = nextSweep_;
  if (acceptPaused_) until = std::min(until, acceptPausedUntil_);
  if (until == Clock::time_point::max()) return -1;
  const auto left = std::chrono::ceil<Millis>(until - now).count();
  return static_cast<int>(std::clamp<long>(left, 0, 60'000));
}

void CTCPIPServer::Engine::AcceptAll() {
  // Bounded per round, so that a flood of connections never starves the clients.
  for (int round = 0; round < 256; ++round) {
    UniqueFd fd(::accept4(listener_.get(), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC));
    if (!fd) {
      switch (errno) {
        case EAGAIN:
#if EAGAIN != EWOULDBLOCK
        case EWOULDBLOCK:
#endif
          return;
        case EINTR:
        case ECONNABORTED:
        case EPROTO:
          continue;
        case EMFILE:
        case ENFILE:
        case ENOBUFS:
        case ENOMEM:
          Tell(toldNoFds_, "no file descriptor left: new connections are refused");
          if (RefuseWithSpare()) continue;
          PauseAccepting(Clock::now());
          return;
        default:
          PauseAccepting(Clock::now());
          return;
      }
    }
    toldNoFds_ = false;
    if (clients_.size() >= static_cast<std::size_t>(limits_.maxClients)) {
      Tell(toldFull_, "client limit reached: new connections are refused");
      continue;  // closed at once
    }
    const int one = 1;
    ::setsockopt(fd.get(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    const std::uint64_t id = nextId_++;
    epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.u64 = id;
    if (::epoll_ctl(epoll_.get(), EPOLL_CTL_ADD, fd.get(), &ev) != 0) continue;
    auto c = std::make_shared<Client>(id, std::move(fd));
    c->interest = EPOLLIN;
    c->heard = Clock::now();  // no other thread knows it yet
    if (limits_.idleTimeout.count() > 0)
      nextSweep_ = std::min(nextSweep_, c->heard + limits_.idleTimeout);
    clients_.emplace(id, std::move(c));
  }
}

bool CTCPIPServer::Engine::RefuseWithSpare() {
  if (!spare_) return false;
  spare_.reset();
  const bool taken =
      UniqueFd(::accept4(listener_.get(), nullptr, nullptr, SOCK_CLOEXEC)).get() >= 0;
  spare_ = UniqueFd(::open("/dev/null", O_RDONLY | O_CLOEXEC));
  return taken;
}

void CTCPIPServer::Engine::PauseAccepting(Clock::time_point now) {
  epoll_event ev{};
  ev.data.u64 = kListenerTag;
  ::epoll_ctl(epoll_.get(), EPOLL_CTL_MOD, listener_.get(), &ev);
  acceptPaused_ = true;
  acceptPausedUntil_ = now + kAcceptPause;
}

bool CTCPIPServer::Engine::Receive(const ClientPtr& client) {
  Client& c = *client;
  std::array<std::uint8_t, 4096> chunk;
  std::vector<Request>& arrived = arrived_;
  arrived.clear();
  std::size_t room = 0;
  {
    std::lock_guard lock(c.lock);
    room = limits_.maxWaiting - std::min(limits_.maxWaiting, c.waiting.size());
  }
  bool ended = false;
  while (arrived.size() < room) {
    const ssize_t n = ::recv(c.fd.get(), chunk.data(), chunk.size(), MSG_DONTWAIT);
    if (n == 0) {  // the client sends no more: what it sent is still answered
      ended = true;
      break;
    }
    if (n < 0) {
      if (errno == EINTR) continue;
      if (errno == EAGAIN || errno == EWOULDBLOCK) break;
      return false;
    }
    c.in.insert(c.in.end(), chunk.begin(), chunk.begin() + n);
    std::size_t used = 0;
    for (;;) {
      const ByteView rest = ByteView(c.in).subspan(used);
      const int length = MbapMessageLength(rest);
      if (length == kBadHeader) return false;  // the stream cannot be framed
      if (length == kNeedMore || rest.size() < static_cast<std::size_t>(length)) break;
      auto m = DecodeMbap(rest.first(static_cast<std::size_t>(length)));
      used += static_cast<std::size_t>(length);
      if (m && m->protocol == 0) arrived.push_back({m->transaction, std::move(m->frame)});
    }
    c.in.erase(c.in.begin(), c.in.begin() + static_cast<long>(used));
    if (static_cast<std::size_t>(n) < chunk.size()) break;
  }
  std::lock_guard lock(c.lock);
  c.ended = c.ended || ended;
  if (!arrived.empty()) {
    c.heard = Clock::now();
    for (Request& r : arrived) c.waiting.push_back(std::move(r));
    Submit(client);
  }
  return !c.Finished();
}

void CTCPIPServer::Engine::Submit(const ClientPtr& c) {
  if (c->atLine || c->waiting.empty()) return;
  {
    std::lock_guard lock(jobsLock_);
    jobs_.push_back({c, std::move(c->waiting.front())});
  }
  c->waiting.pop_front();
  c->atLine = true;
  jobsReady_.notify_one();
}

bool CTCPIPServer::Engine::Flush(Client& c) {
  while (c.outStart < c.out.size()) {
    const ssize_t n = ::send(c.fd.get(), c.out.data() + c.outStart, c.out.size() - c.outStart,
                             MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n > 0) {
      c.outStart += static_cast<std::size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
    return false;
  }
  if (c.outStart == c.out.size()) {
    c.out.clear();
    c.outStart = 0;
    return true;
  }
  // A client that does not read its answers is dropped past the bound.
  if (c.out.size() - c.outStart > limits_.maxUnsent) return false;
  if (c.outStart >= 4096) {
    c.out.erase(c.out.begin(), c.out.begin() + static_cast<long>(c.outStart));
    c.outStart = 0;
  }
  return true;
}

void CTCPIPServer::Engine::UpdateInterest(Client& c) {
  std::uint32_t wanted = 0;
  {
    std::lock_guard lock(c.lock);
    if (!c.ended && c.waiting.size() < limits_.maxWaiting) wanted |= EPOLLIN;
    if (c.outStart < c.out.size()) wanted |= EPOLLOUT;
  }
  if (wanted == c.interest) return;
  epoll_event ev{};
  ev.events = wanted;
  ev.data.u64 = c.id;
  if (::epoll_ctl(epoll_.get(), EPOLL_CTL_MOD, c.fd.get(), &ev) == 0) c.interest = wanted;
}

void CTCPIPServer::Engine::TakeNotices() {
  std::vector<std::uint64_t> ids;
  {
    std::lock_guard lock(noticesLock_);
    ids.swap(notices_);
  }
  for (std::uint64_t id : ids) {
    auto it = clients_.find(id);
    if (it == clients_.end()) continue;  // gone meanwhile
    const ClientPtr c = it->second;
    bool drop = false;
    {
      std::lock_guard lock(c->lock);
      drop = c->broken || c->Finished();
    }
    if (drop)
      Drop(id);
    else
      UpdateInterest(*c);
  }
}

void CTCPIPServer::Engine::Drop(std::uint64_t id) {
  auto it = clients_.find(id);
  if (it == clients_.end()) return;
  const ClientPtr c = it->second;
  {
    std::lock_guard lock(c->lock);
    c->gone = true;
    if (c->atLine) {  // not yet taken by the line: no need to make that exchange
      std::lock_guard jobs(jobsLock_);
      auto job =
          std::find_if(jobs_.begin(), jobs_.end(), [&](const Job& j) { return j.client == c; });
      if (job != jobs_.end()) jobs_.erase(job);
    }
  }
  // The line may still hold the client (and its descriptor) for a while.
  ::epoll_ctl(epoll_.get(), EPOLL_CTL_DEL, c->fd.get(), nullptr);
  ::shutdown(c->fd.get(), SHUT_RDWR);
  clients_.erase(it);
  if (clients_.size() < static_cast<std::size_t>(limits_.maxClients)) toldFull_ = false;
}

void CTCPIPServer::Engine::Sweep(Clock::time_point now) {
  nextSweep_ = Clock::time_point::max();
  if (limits_.idleTimeout.count() <= 0) return;
  std::vector<std::uint64_t> idle;
  for (auto& [id, c] : clients_) {
    std::lock_guard lock(c->lock);
    const bool busy = c->atLine || !c->waiting.empty();
    const auto expires = busy ? now + limits_.idleTimeout : c->heard + limits_.idleTimeout;
    if (expires <= now)
      idle.push_back(id);
    else
      nextSweep_ = std::min(nextSweep_, expires);
  }
  for (std::uint64_t id : idle) Drop(id);
}

// ---------------------------------------------------------------------------
// The line's thread

void CTCPIPServer::Engine::RunLine() {
  Bytes answer;  // kept for its capacity
  for (;;) {
    Job job;
    {
      std::unique_lock lock(jobsLock_);
      jobsReady_.wait(lock, [this] { return stop_.load() || !jobs_.empty(); });
      if (stop_) return;
      job = std::move(jobs_.front());
      jobs_.pop_front();
    }
    const bool answered = Exchange(job.request.frame, answer);
    Client& c = *job.client;
    bool notice = false;
    {
      std::lock_guard lock(c.lock);
      if (c.gone) continue;
      const bool paused = c.waiting.size() >= limits_.maxWaiting;
      c.atLine = false;
      c.heard = Clock::now();
      if (answered) {
        AppendMbap(c.out, job.request.transaction, answer);
        c.broken = !Flush(c);
        notice = c.broken || c.outStart < c.out.size();  // to drop it, or to write the rest
      }
      if (!c.broken) Submit(job.client);
      notice = notice || c.Finished();  // to close it
      notice = notice || (paused && c.waiting.size() < limits_.maxWaiting);  // to read again
    }
    if (notice) Notice(c.id);
  }
}

bool CTCPIPServer::Engine::Exchange(const Bytes& frame, Bytes& answer) {
  if (!frame.empty() && frame[0] == 0) {
    connection_.Broadcast(frame);  // no answer, whatever the line did
    return false;
  }
  // A client gets only answers that fit its request.
  const std::int32_t r = connection_.TxRxMessage(frame, answer, Fit::Exact);
  if (r == kOk) return true;
  std::uint8_t code = kExGatewayTarget;  // the slave did not answer properly
  if (IsExceptionResult(r))
    code = static_cast<std::uint8_t>(r & 0xFF);
  else if (r == kPortNotInitialised || r == kPortWrite)
    code = kExGatewayPath;  // the line is down
  answer = ExceptionFrame(frame, code);
  return true;
}

void CTCPIPServer::Engine::Notice(std::uint64_t id) {
  {
    std::lock_guard lock(noticesLock_);
    notices_.push_back(id);
  }
  const std::uint64_t one = 1;
  (void)!::write(wake_.get(), &one, sizeof one);
}

// ---------------------------------------------------------------------------
// CTCPIPServer

CTCPIPServer::CTCPIPServer(MbConnection& connection) : connection_(connection) {}

CTCPIPServer::~CTCPIPServer() { StopServer(); }

void CTCPIPServer::SetLocalAddress(const std::string& address) {
  std::lock_guard lock(lock_);
  address_ = address.empty() ? "127.0.0.1" : address;
}

void CTCPIPServer::SetPort(int port) {
  std::lock_guard lock(lock_);
  port_ = port;
}

bool CTCPIPServer::StartServer() {
  std::lock_guard lock(lock_);
  if (engine_) return true;
  const std::string name = address_ + ":" + std::to_string(port_);
  std::string error;
  UniqueFd listener = port_ > 0 ? ListenTcp(address_, port_, &error) : UniqueFd();
  if (port_ <= 0) error = "no port";
  if (listener) {
    auto engine =
        std::make_unique<Engine>(connection_, std::move(listener), ReadGatewayLimits(), name);
    if (engine->Started()) {
      engine_ = std::move(engine);
      return true;
    }
    error = std::strerror(errno);
  }
  std::fprintf(stderr, "mbserver: gateway cannot listen on %s: %s\n", name.c_str(), error.c_str());
  return false;
}

bool CTCPIPServer::StopServer() {
  std::lock_guard lock(lock_);
  engine_.reset();
  return true;
}

std::string CTCPIPServer::GetLocalHostIP() {
  std::lock_guard lock(lock_);
  const std::string address = engine_ ? engine_->BoundAddress() : address_;
  return address == "0.0.0.0" ? HostAddress() : address;
}

}  // namespace kd::mb
