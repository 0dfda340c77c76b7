#pragma once
// Test helpers around child processes: a running kd730-sim, and a pair of
// linked pseudo terminals made by socat. Both wait for their program to say it
// is ready (by reading its output, never by sleeping) and end it when destroyed.
#include <sys/types.h>

#include <string>
#include <vector>

namespace kdsim {

// A child process with its stdout (or stderr) read until a line appears.
class ChildProcess {
 public:
  // Starts program with args; the child's readFd (1 or 2) goes to a pipe.
  ChildProcess(const std::string& program, const std::vector<std::string>& args, int readFd);
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // Reads lines until one contains text; returns that line. Raises
  // std::runtime_error (with what was read) on end of output or time-out.
  std::string WaitForLine(const std::string& text, double timeoutSeconds);
  // Everything read from the pipe so far.
  const std::string& Output() const { return output_; }
  // Reads the rest of the output until the child closes it (or the time-out).
  void ReadToEnd(double timeoutSeconds);

  // SIGTERM, then waits (SIGKILL after the grace time); returns the exit
  // status as waitpid reports it, -1 when the child was already reaped.
  int Stop(double graceSeconds = 10.0);
  int Signal(int signal);  // kill(); 0 on success
  int Wait(double timeoutSeconds);  // waitpid status, -1 on time-out
  pid_t Pid() const { return pid_; }

 private:
  bool ReadSome(double timeoutSeconds);
  pid_t pid_ = -1;
  int fd_ = -1;
  std::string output_;
  size_t scanned_ = 0;
};

// kd730-sim started with the given arguments, ready once it printed its
// "listening on ..." line.
class SimProcess {
 public:
  SimProcess(const std::string& executable, const std::vector<std::string>& args,
             double timeoutSeconds = 30.0);
  const std::string& Address() const { return address_; }  // what follows "listening on "
  int TcpPort() const;  // the port of a TCP address, -1 otherwise
  ChildProcess& Process() { return child_; }

 private:
  ChildProcess child_;
  std::string address_;
};

// Two linked pseudo terminals, reachable as dir/name0 and dir/name1.
class PtyPair {
 public:
  explicit PtyPair(const std::string& directory, double timeoutSeconds = 30.0);
  const std::string& First() const { return first_; }
  const std::string& Second() const { return second_; }

 private:
  std::string first_, second_;
  ChildProcess socat_;
};

// A fresh private folder under the temporary directory, removed with its contents.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

}  // namespace kdsim
