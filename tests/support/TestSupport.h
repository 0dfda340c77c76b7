#pragma once
// Helpers for tests that use files, processes and lines:
// - TempDir: a fresh folder, removed with its contents; WriteFile/ReadFile;
// - ScopedEnv: sets an environment variable for a scope (XDG_CONFIG_HOME);
// - FreeTcpPort: a port on 127.0.0.1 that was free a moment ago;
// - CpuTime: what a process has used of the processors so far;
// - ChildProcess: a program with its output readable line by line, killed
//   and reaped when the object goes;
// - SocatPair: two connected pseudo terminals made by socat, optionally
//   reached through links at given paths;
// - RefusedPaths, FifoWatchdog, PeakMemoryKiB: paths no whole-file reader
//   may read, and the bounds in time and memory of a test that reads them.
#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace kdtest {

using Millis = std::chrono::milliseconds;

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& Path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }
  // Writes text into a file of the folder; returns its path.
  std::string Write(const std::string& name, const std::string& text) const;

 private:
  std::string path_;
};

// Whole files, bytes as they are; WriteFile raises std::runtime_error on failure.
void WriteFile(const std::string& path, const std::string& data);
std::string ReadFile(const std::string& path);

class ScopedEnv {
 public:
  // Without a value the variable is unset for the scope.
  ScopedEnv(const std::string& name, const std::optional<std::string>& value);
  ~ScopedEnv();
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  std::string name_;
  std::optional<std::string> old_;
};

int FreeTcpPort();

// CPU time (user and system) a process has used so far.
Millis CpuTime(pid_t pid);

class ChildProcess {
 public:
  enum Capture { kNone = 0, kStdout = 1, kStderr = 2 };
  // Starts argv[0] (searched on PATH); raises std::runtime_error when it cannot.
  explicit ChildProcess(const std::vector<std::string>& argv, int capture = kStdout);
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  pid_t Pid() const { return pid_; }
  // The next line of the captured output (without the newline); false at
  // the end of the output or after the timeout.
  bool ReadLine(std::string& line, Millis timeout);
  // All captured output up to its end (or the timeout).
  std::string ReadAll(Millis timeout);
  // Exit status, or -1 when it was ended by a signal or is still running after the timeout.
  int Wait(Millis timeout);
  void Signal(int sig);

 private:
  pid_t pid_ = -1;
  int out_ = -1;
  std::string pending_;
  bool reaped_ = false;
  int status_ = -1;
};

class SocatPair {
 public:
  SocatPair();  // raises std::runtime_error when socat does not come up
  // The two ends also reached by the paths `linkA` and `linkB` (symbolic
  // links, as a device node that comes and goes with its adapter); A() and
  // B() are the links. The links are removed when the pair goes.
  SocatPair(const std::string& linkA, const std::string& linkB);
  ~SocatPair();
  SocatPair(const SocatPair&) = delete;
  SocatPair& operator=(const SocatPair&) = delete;
  const std::string& A() const { return a_; }
  const std::string& B() const { return b_; }

 private:
  void AwaitStart();

  ChildProcess socat_;
  std::string a_, b_;
  bool linked_ = false;
};

// Paths that a reader of whole files must refuse at once and in bounded
// memory, made in the folder dir with names ending in extension: a FIFO
// nobody writes, a folder, a sparse file of 3 GiB (no disk used), and a
// symbolic link to the device /dev/zero.
struct RefusedPaths {
  RefusedPaths(const std::string& dir, const std::string& extension);
  std::string fifo, folder, sparse, device;
  static constexpr unsigned long long kSparseSize = 3ull << 30;

  struct Case {
    std::string path, reason;
  };
  // Each path with the reason the file reader words for it under a bound.
  std::vector<Case> Reasons(unsigned long long bound) const;
  // What became of the paths since they were made; empty while each is as made.
  std::string Changes() const;
};

// Lets a reader that waits on a FIFO go on, so that a test fails instead of
// hanging: unless destroyed within limit, it opens the FIFO's writing end
// (again every few milliseconds until destroyed) and records that it fired.
class FifoWatchdog {
 public:
  FifoWatchdog(std::string fifo, Millis limit);
  ~FifoWatchdog();
  FifoWatchdog(const FifoWatchdog&) = delete;
  FifoWatchdog& operator=(const FifoWatchdog&) = delete;
  bool Fired() const { return fired_; }

 private:
  std::string fifo_;
  std::atomic<bool> fired_{false};
  std::mutex mutex_;
  std::condition_variable stop_;
  bool stopping_ = false;
  std::thread thread_;
};

// The most memory the process has held at once so far (resident, KiB).
long PeakMemoryKiB();

}  // namespace kdtest
