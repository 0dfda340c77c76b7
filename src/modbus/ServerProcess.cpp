#include "ServerProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>

extern char** environ;

namespace kd::mb {

pid_t SpawnProgram(const std::string& path, const std::vector<std::string>& args,
                   const SpawnOptions& options, std::string* error) {
  auto fail = [&](int err) {
    if (error) *error = std::strerror(err);
    return pid_t(-1);
  };
  if (::access(path.c_str(), X_OK) != 0) return fail(errno);
  std::vector<std::string> argvText{path};
  argvText.insert(argvText.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& a : argvText) argv.push_back(a.data());
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  std::unique_ptr<posix_spawn_file_actions_t, int (*)(posix_spawn_file_actions_t*)> guard(
      &actions, posix_spawn_file_actions_destroy);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  // dup2 onto itself would keep close-on-exec: the sources are never 3 or 4.
  for (int fd : {options.channelIn, options.channelOut})
    if (fd == 3 || fd == 4) return fail(EBADF);
  if (options.channelIn >= 0) posix_spawn_file_actions_adddup2(&actions, options.channelIn, 3);
  if (options.channelOut >= 0) posix_spawn_file_actions_adddup2(&actions, options.channelOut, 4);
  if (!options.workingDir.empty())
    posix_spawn_file_actions_addchdir_np(&actions, options.workingDir.c_str());
  pid_t pid = -1;
  const int rc = ::posix_spawn(&pid, path.c_str(), &actions, nullptr, argv.data(), environ);
  if (rc != 0) return fail(rc);
  return pid;
}

int FinishProcess(pid_t pid, std::chrono::milliseconds timeout) {
  if (pid <= 0) return -1;
  int status = 0;
  const int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
  if (pidfd >= 0) {
    pollfd p{pidfd, POLLIN, 0};
    int rc;
    do {
      rc = ::poll(&p, 1, static_cast<int>(timeout.count()));
    } while (rc < 0 && errno == EINTR);
    ::close(pidfd);
  }
  const pid_t r = ::waitpid(pid, &status, WNOHANG);
  if (r < 0) return -1;  // not our child (any more)
  if (r == 0) {
    ::kill(pid, SIGKILL);
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace kd::mb
