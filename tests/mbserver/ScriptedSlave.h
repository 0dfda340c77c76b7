#pragma once
// A Modbus slave that misbehaves on request, on a new pseudo terminal or a
// given serial device (RTU or ASCII) or on a TCP port of 127.0.0.1. It answers functions 3, 6 and 16 over
// 100 holding registers (register n starts as 0x1000 + n; addresses past them
// give exception 2), 0x41 with a 12-byte identification, and exception 1 to
// anything else; requests for other slave addresses get no answer.
//
// Script(...) lists what to do to the answers of the next requests, one
// step per request; when the script is used up it answers correctly again.
//
//   kdtest::ScriptedSlave slave(kdtest::ScriptedSlave::Line::Rtu);
//   slave.Script({{kdtest::Misbehave::BadChecksum}});
//   ... the client opens slave.Path() and sends requests ...
//   slave.WaitRequests(1, 2s);
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "MbSlave.h"
#include "TestSupport.h"

namespace kdtest {

enum class Misbehave {
  None,
  BadChecksum,         // last CRC byte or an LRC digit changed (serial lines)
  WrongSlave,          // a valid answer from another slave address
  Truncated,           // the answer without its last three bytes
  Split,               // the answer byte by byte, `pause` between bytes
  Glued,               // the answer twice in one write
  Noise,               // three stray bytes right before the answer
  Silence,             // no answer
  Late,                // the answer after `pause`
  WrongCount,          // function 3: a consistent answer with one register less than asked
  WrongEcho,           // functions 6 and 16: the echo with its last byte (value, quantity) changed
  LateNoise,           // no answer, but three stray bytes after `pause`
  ForeignTransaction,  // TCP: first an answer with another transaction id, then the right one
  Hangup,              // TCP: the connection is closed instead of an answer
  Instead,             // the step's `frame` (slave address first) instead of the answer
};

struct Step {
  Step(Misbehave w = Misbehave::None, std::chrono::milliseconds p = {}, kd::mb::Bytes f = {})
      : what(w), pause(p), frame(std::move(f)) {}
  Misbehave what;
  std::chrono::milliseconds pause;
  kd::mb::Bytes frame;  // Instead
};

class ScriptedSlave {
 public:
  enum class Line { Rtu, Ascii, Tcp };
  explicit ScriptedSlave(Line line, std::uint8_t address = 1);
  // RTU or ASCII on an existing serial device (one end of a socat pair); it
  // serves until the device hangs up.
  ScriptedSlave(Line line, const std::string& device, std::uint8_t address = 1);
  ~ScriptedSlave();
  ScriptedSlave(const ScriptedSlave&) = delete;
  ScriptedSlave& operator=(const ScriptedSlave&) = delete;

  const std::string& Path() const { return path_; }  // serial lines
  int Port() const { return port_; }                 // TCP

  void Script(std::vector<Step> steps);
  std::uint16_t Register(int n) const;
  // Requests handled so far (answered, or not answered by the script).
  int Requests() const;
  bool WaitRequests(int count, std::chrono::milliseconds timeout) const;

  // The answer a correct slave gives to `request` (a frame).
  static kd::mb::Bytes AnswerFor(const kd::mb::Bytes& request, std::uint16_t* registers);
  static constexpr int kRegisters = 100;

 private:
  void Start();
  void Run();
  void Handle(const kd::mb::SlaveRequest& request);

  Line line_;
  std::uint8_t address_;
  std::string path_;
  int port_ = 0;
  std::unique_ptr<kd::mb::SlaveLink> link_;
  mutable std::mutex lock_;
  mutable std::condition_variable changed_;
  std::deque<Step> script_;
  std::uint16_t registers_[kRegisters];
  int requests_ = 0;
  std::thread thread_;
};

// A scripted RTU slave behind a socat pair whose client end is reached by a
// path that comes and goes, as the device node of a USB adapter does.
class PluggedSlave {
 public:
  PluggedSlave();  // plugged in
  ~PluggedSlave();
  const std::string& Device() const { return device_; }  // the path the client opens
  // The slave and both ends go: the client's port hangs up, the path is gone.
  void Pull();
  // A new pair and slave at the same paths.
  void Plug();
  // True when, within `timeout`, process `pid` holds no descriptor of the
  // terminal that was last plugged in.
  bool LetGoBy(int pid, std::chrono::milliseconds timeout) const;

 private:
  TempDir dir_;
  std::string device_, slaveEnd_;
  std::string terminal_;  // what device_ leads to
  std::unique_ptr<SocatPair> pair_;
  std::unique_ptr<ScriptedSlave> slave_;
};

}  // namespace kdtest
