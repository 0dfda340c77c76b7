#include "TestSupport.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

extern char** environ;

namespace kdtest {

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "kdtest-XXXXXX").string();
  if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

std::string TempDir::Write(const std::string& name, const std::string& text) const {
  const std::string file = File(name);
  WriteFile(file, text);
  return file;
}

void WriteFile(const std::string& path, const std::string& data) {
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f << data;
  if (!f) throw std::runtime_error("cannot write " + path);
}

std::string ReadFile(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::ostringstream s;
  s << f.rdbuf();
  return s.str();
}

ScopedEnv::ScopedEnv(const std::string& name, const std::optional<std::string>& value) : name_(name) {
  if (const char* old = std::getenv(name.c_str())) old_ = old;
  if (value)
    ::setenv(name.c_str(), value->c_str(), 1);
  else
    ::unsetenv(name.c_str());
}

ScopedEnv::~ScopedEnv() {
  if (old_) ::setenv(name_.c_str(), old_->c_str(), 1);
  else ::unsetenv(name_.c_str());
}

Millis CpuTime(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  const std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
  const auto name = text.rfind(')');  // the command name may hold blanks
  if (name == std::string::npos) return Millis(0);
  std::istringstream fields(text.substr(name + 2));
  std::string field;
  long ticks = 0;
  for (int i = 3; i <= 15 && fields >> field; ++i)
    if (i == 14 || i == 15) ticks += std::stol(field);  // utime, stime
  return Millis(ticks * 1000 / ::sysconf(_SC_CLK_TCK));
}

int FreeTcpPort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof sa;
  int port = 0;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0 &&
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &len) == 0)
    port = ntohs(sa.sin_port);
  ::close(fd);
  if (port == 0) throw std::runtime_error("no free TCP port");
  return port;
}

ChildProcess::ChildProcess(const std::vector<std::string>& argv, int capture) {
  int pipeFds[2] = {-1, -1};
  if (capture != kNone && ::pipe2(pipeFds, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  if (capture & kStdout) posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
  if (capture & kStderr) posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 2);
  std::vector<std::string> copy = argv;
  std::vector<char*> args;
  for (auto& a : copy) args.push_back(a.data());
  args.push_back(nullptr);
  const int rc = ::posix_spawnp(&pid_, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (pipeFds[1] >= 0) ::close(pipeFds[1]);
  out_ = pipeFds[0];
  if (rc != 0) {
    if (out_ >= 0) ::close(out_);
    throw std::runtime_error("cannot start " + argv[0]);
  }
}

ChildProcess::~ChildProcess() {
  if (!reaped_) {
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
  }
  if (out_ >= 0) ::close(out_);
}

bool ChildProcess::ReadLine(std::string& line, Millis timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    const auto nl = pending_.find('\n');
    if (nl != std::string::npos) {
      line = pending_.substr(0, nl);
      pending_.erase(0, nl + 1);
      return true;
    }
    if (out_ < 0) return false;
    const auto left = std::chrono::duration_cast<Millis>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    pollfd p{out_, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
    char buffer[4096];
    const ssize_t n = ::read(out_, buffer, sizeof buffer);
    if (n <= 0) {
      ::close(out_);
      out_ = -1;
      if (!pending_.empty()) {
        line = std::move(pending_);
        pending_.clear();
        return true;
      }
      return false;
    }
    pending_.append(buffer, static_cast<std::size_t>(n));
  }
}

std::string ChildProcess::ReadAll(Millis timeout) {
  std::string all, line;
  while (ReadLine(line, timeout)) all += line + "\n";
  return all;
}

int ChildProcess::Wait(Millis timeout) {
  if (!reaped_) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    // A pidfd turns the wait for the exit into a poll.
    const int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, pid_, 0));
    const auto left = std::chrono::duration_cast<Millis>(deadline - std::chrono::steady_clock::now());
    if (pidfd >= 0) {
      pollfd p{pidfd, POLLIN, 0};
      ::poll(&p, 1, static_cast<int>(std::max<long>(left.count(), 0)));
      ::close(pidfd);
    }
    int status = 0;
    if (::waitpid(pid_, &status, WNOHANG) != pid_) return -1;
    reaped_ = true;
    status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  return status_;
}

void ChildProcess::Signal(int sig) {
  if (!reaped_) ::kill(pid_, sig);
}

SocatPair::SocatPair()
    : socat_({"socat", "-d", "-d", "pty,raw,echo=0", "pty,raw,echo=0"}, ChildProcess::kStderr) {
  AwaitStart();
}

SocatPair::SocatPair(const std::string& linkA, const std::string& linkB)
    : socat_({"socat", "-d", "-d", "pty,raw,echo=0,link=" + linkA, "pty,raw,echo=0,link=" + linkB},
             ChildProcess::kStderr),
      linked_(true) {
  AwaitStart();
  a_ = linkA;
  b_ = linkB;
}

SocatPair::~SocatPair() {
  if (!linked_) return;
  std::error_code ignored;
  std::filesystem::remove(a_, ignored);
  std::filesystem::remove(b_, ignored);
}

void SocatPair::AwaitStart() {
  std::string line;
  while (socat_.ReadLine(line, Millis(10000))) {
    const auto at = line.find("PTY is ");
    if (at != std::string::npos) (a_.empty() ? a_ : b_) = line.substr(at + 7);
    if (line.find("starting data transfer loop") != std::string::npos) break;
  }
  if (a_.empty() || b_.empty()) throw std::runtime_error("socat did not start");
}

RefusedPaths::RefusedPaths(const std::string& dir, const std::string& extension)
    : fifo(dir + "/fifo" + extension),
      folder(dir + "/folder" + extension),
      sparse(dir + "/sparse" + extension),
      device(dir + "/zero" + extension) {
  if (::mkfifo(fifo.c_str(), 0600) != 0) throw std::runtime_error("mkfifo " + fifo);
  std::filesystem::create_directory(folder);
  WriteFile(sparse, "");
  if (::truncate(sparse.c_str(), static_cast<off_t>(kSparseSize)) != 0)
    throw std::runtime_error("truncate " + sparse);
  std::filesystem::create_symlink("/dev/zero", device);
}

std::vector<RefusedPaths::Case> RefusedPaths::Reasons(unsigned long long bound) const {
  return {{fifo, "Not a regular file"},
          {device, "Not a regular file"},
          {folder, "Is a directory"},
          {sparse, "File too large (" + std::to_string(kSparseSize) + " bytes, at most " +
                       std::to_string(bound) + ")"}};
}

std::string RefusedPaths::Changes() const {
  namespace fs = std::filesystem;
  std::error_code ec;
  std::string changes;
  if (!fs::is_fifo(fs::symlink_status(fifo, ec))) changes += fifo + " is no FIFO now; ";
  if (!fs::is_directory(folder, ec) || !fs::is_empty(folder, ec))
    changes += folder + " is no empty folder now; ";
  if (!fs::is_regular_file(fs::symlink_status(sparse, ec)) ||
      fs::file_size(sparse, ec) != kSparseSize)
    changes += sparse + " changed; ";
  if (!fs::is_symlink(fs::symlink_status(device, ec)) || !fs::is_character_file(device, ec))
    changes += device + " is no link to a device now; ";
  return changes;
}

FifoWatchdog::FifoWatchdog(std::string fifo, Millis limit)
    : fifo_(std::move(fifo)), thread_([this, limit] {
        std::unique_lock lock(mutex_);
        if (stop_.wait_for(lock, limit, [this] { return stopping_; })) return;
        fired_ = true;
        while (!stop_.wait_for(lock, Millis(20), [this] { return stopping_; })) {
          const int fd = ::open(fifo_.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
          if (fd >= 0) ::close(fd);
        }
      }) {}

FifoWatchdog::~FifoWatchdog() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  stop_.notify_one();
  thread_.join();
}

long PeakMemoryKiB() {
  rusage usage{};
  ::getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

}  // namespace kdtest
