#include "SimProcess.h"

#include <cstdlib>
#include <stdexcept>

namespace kdsim {

namespace {

std::vector<std::string> Argv(const std::string& executable, const std::vector<std::string>& args) {
  std::vector<std::string> argv{executable};
  argv.insert(argv.end(), args.begin(), args.end());
  return argv;
}

}  // namespace

SimProcess::SimProcess(const std::string& executable, const std::vector<std::string>& args,
                       kdtest::Millis timeout)
    : child_(Argv(executable, args), kdtest::ChildProcess::kStdout) {
  const std::string ready = "listening on ";
  std::string line, seen;
  while (child_.ReadLine(line, timeout)) {
    auto at = line.find(ready);
    if (at != std::string::npos) {
      std::string rest = line.substr(at + ready.size());
      address_ = rest.substr(0, rest.find(' '));
      return;
    }
    seen += line + "\n";
  }
  throw std::runtime_error("kd730-sim did not get ready; its output was:\n" + seen);
}

int SimProcess::TcpPort() const {
  auto colon = address_.rfind(':');
  if (colon == std::string::npos || address_.starts_with("/")) return -1;
  return std::atoi(address_.c_str() + colon + 1);
}

}  // namespace kdsim
