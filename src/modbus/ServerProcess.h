#pragma once
// Starting and ending the server component's processes.
#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

namespace kd::mb {

struct SpawnOptions {
  // When set, given to the child as its descriptors 3 and 4; neither may be 3 or 4 itself.
  int channelIn = -1;
  int channelOut = -1;
  std::string workingDir;   // empty: the caller's
};

// Starts `path` with `args` (argv[1]...), stdin from /dev/null. Returns the
// process id, or -1 with `error` set when the program cannot be started.
pid_t SpawnProgram(const std::string& path, const std::vector<std::string>& args,
                   const SpawnOptions& options, std::string* error);

// Waits up to `timeout` for the process to end; then, if it is still there,
// kills it. Always reaps it. Returns its exit status, or -1 when it did not
// exit by itself (killed or by a signal).
int FinishProcess(pid_t pid, std::chrono::milliseconds timeout);

}  // namespace kd::mb
