#include "RegisterModbusServer.h"

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>

#include "ServerProcess.h"

namespace {

bool IsFile(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::string CurrentDirectory() {
  char buffer[4096];
  return ::getcwd(buffer, sizeof buffer) ? std::string(buffer) : std::string(".");
}

}  // namespace

bool RegisterModbusServer(const std::string& folder, TRegistrationDialogs& dialogs) {
  std::string dir = folder.empty() ? CurrentDirectory() : folder;
  std::string fullName;
  for (;;) {
    if (dir.empty() || dir.back() != '/') dir += '/';
    fullName = dir + kModbusServerFile;
    if (IsFile(fullName)) break;
    dialogs.ShowMessage("MBServer file not found!\r\n \"" + fullName + "\" does not exists.");
    std::string chosen;
    if (!dialogs.SelectDirectory(std::string("Select a new search path for \"") +
                                     kModbusServerFile + "\"",
                                 dir, chosen))
      return false;
    dir = chosen;
  }
  // The registration writes one registry entry; success is told only once
  // the program has reported it by its exit status.
  std::string error;
  const pid_t pid = kd::mb::SpawnProgram(fullName, {"/regserver"}, {-1, -1, dir}, &error);
  if (pid < 0 || kd::mb::FinishProcess(pid, std::chrono::seconds(10)) != 0) {
    dialogs.ShowMessage("MBServer registration unsuccessful!");
    return false;
  }
  dialogs.ShowMessage("MBServer registered!\r\n \"" + fullName + "\"");
  return true;
}
