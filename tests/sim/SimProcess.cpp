#include "SimProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <stdexcept>

extern char** environ;

namespace kdsim {

namespace {

using SteadyClock = std::chrono::steady_clock;

double SecondsLeft(SteadyClock::time_point deadline) {
  return std::chrono::duration<double>(deadline - SteadyClock::now()).count();
}

SteadyClock::time_point Deadline(double seconds) {
  return SteadyClock::now() + std::chrono::duration_cast<SteadyClock::duration>(
                                  std::chrono::duration<double>(seconds));
}

}  // namespace

ChildProcess::ChildProcess(const std::string& program, const std::vector<std::string>& args, int readFd) {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe: " + std::string(std::strerror(errno)));
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, fds[1], readFd);
  std::vector<std::string> argvText{program};
  argvText.insert(argvText.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : argvText) argv.push_back(a.data());
  argv.push_back(nullptr);
  int rc = posix_spawnp(&pid_, program.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(fds[1]);
  if (rc != 0) {
    close(fds[0]);
    pid_ = -1;
    throw std::runtime_error("cannot start " + program + ": " + std::strerror(rc));
  }
  fd_ = fds[0];
}

ChildProcess::~ChildProcess() {
  Stop();
  if (fd_ >= 0) close(fd_);
}

bool ChildProcess::ReadSome(double timeoutSeconds) {
  if (fd_ < 0) return false;
  pollfd p{fd_, POLLIN, 0};
  int ms = timeoutSeconds <= 0 ? 0 : static_cast<int>(timeoutSeconds * 1000) + 1;
  int n = poll(&p, 1, ms);
  if (n <= 0) return false;
  char buffer[4096];
  ssize_t got = read(fd_, buffer, sizeof buffer);
  if (got <= 0) {
    close(fd_);
    fd_ = -1;
    return false;
  }
  output_.append(buffer, static_cast<size_t>(got));
  return true;
}

std::string ChildProcess::WaitForLine(const std::string& text, double timeoutSeconds) {
  auto deadline = Deadline(timeoutSeconds);
  for (;;) {
    size_t end;
    while ((end = output_.find('\n', scanned_)) != std::string::npos) {
      std::string line = output_.substr(scanned_, end - scanned_);
      scanned_ = end + 1;
      if (line.find(text) != std::string::npos) return line;
    }
    double left = SecondsLeft(deadline);
    if (fd_ < 0 || left <= 0)
      throw std::runtime_error("no line with '" + text + "'; output was:\n" + output_);
    ReadSome(left);
  }
}

void ChildProcess::ReadToEnd(double timeoutSeconds) {
  auto deadline = Deadline(timeoutSeconds);
  while (fd_ >= 0 && SecondsLeft(deadline) > 0) ReadSome(SecondsLeft(deadline));
}

int ChildProcess::Signal(int signal) { return pid_ > 0 ? kill(pid_, signal) : -1; }

int ChildProcess::Wait(double timeoutSeconds) {
  if (pid_ <= 0) return -1;
  // The pidfd becomes readable when the child ends.
  int pidfd = static_cast<int>(syscall(SYS_pidfd_open, pid_, 0));
  if (pidfd >= 0) {
    pollfd p{pidfd, POLLIN, 0};
    int ms = timeoutSeconds <= 0 ? 0 : static_cast<int>(timeoutSeconds * 1000) + 1;
    int n;
    do n = poll(&p, 1, ms);
    while (n < 0 && errno == EINTR);
    close(pidfd);
    if (n == 0) return -1;
  }
  int status = 0;
  pid_t r;
  do r = waitpid(pid_, &status, pidfd >= 0 ? 0 : WNOHANG);
  while (r < 0 && errno == EINTR);
  if (r == 0) return -1;
  pid_ = -1;
  return r < 0 ? -1 : status;
}

int ChildProcess::Stop(double graceSeconds) {
  if (pid_ <= 0) return -1;
  kill(pid_, SIGTERM);
  int status = Wait(graceSeconds);
  if (pid_ > 0) {
    kill(pid_, SIGKILL);
    status = Wait(graceSeconds);
  }
  return status;
}

SimProcess::SimProcess(const std::string& executable, const std::vector<std::string>& args,
                       double timeoutSeconds)
    : child_(executable, args, STDOUT_FILENO) {
  std::string line = child_.WaitForLine("listening on ", timeoutSeconds);
  std::string rest = line.substr(line.find("listening on ") + 13);
  address_ = rest.substr(0, rest.find(' '));
}

int SimProcess::TcpPort() const {
  auto colon = address_.rfind(':');
  if (colon == std::string::npos || address_.starts_with("/")) return -1;
  return std::atoi(address_.c_str() + colon + 1);
}

PtyPair::PtyPair(const std::string& directory, double timeoutSeconds)
    : first_(directory + "/pty0"),
      second_(directory + "/pty1"),
      socat_("socat",
             {"-d", "-d", "pty,raw,echo=0,link=" + first_, "pty,raw,echo=0,link=" + second_},
             STDERR_FILENO) {
  socat_.WaitForLine("starting data transfer loop", timeoutSeconds);
}

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "kdsim-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

}  // namespace kdsim
