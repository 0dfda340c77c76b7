#pragma once
// kd730-sim as a child process of a test: started with the given arguments,
// ready once it printed its "listening on ..." line (read from its output,
// never waited for by sleeping), killed and reaped when the object goes.
#include <string>
#include <vector>

#include "TestSupport.h"

namespace kdsim {

class SimProcess {
 public:
  // Raises std::runtime_error (with the output read) when the line does not come.
  SimProcess(const std::string& executable, const std::vector<std::string>& args,
             kdtest::Millis timeout = kdtest::Millis(30000));
  const std::string& Address() const { return address_; }  // what follows "listening on "
  int TcpPort() const;  // the port of a TCP address, -1 otherwise
  kdtest::ChildProcess& Process() { return child_; }

 private:
  kdtest::ChildProcess child_;
  std::string address_;
};

}  // namespace kdsim
