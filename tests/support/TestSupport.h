#pragma once
// Helpers for tests that use files, processes and lines:
// - TempDir: a fresh folder, removed with its contents; WriteFile/ReadFile;
// - ScopedEnv: sets an environment variable for a scope (XDG_CONFIG_HOME);
// - FreeTcpPort: a port on 127.0.0.1 that was free a moment ago;
// - CpuTime: what a process has used of the processors so far;
// - ChildProcess: a program with its output readable line by line, killed
//   and reaped when the object goes;
// - SocatPair: two connected pseudo terminals made by socat, optionally
//   reached through links at given paths.
#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>
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

}  // namespace kdtest
