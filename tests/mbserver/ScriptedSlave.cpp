#include "ScriptedSlave.h"

#include <filesystem>
#include <stdexcept>

namespace kdtest {

using kd::mb::Bytes;

ScriptedSlave::ScriptedSlave(Line line, std::uint8_t address) : line_(line), address_(address) {
  if (line == Line::Tcp) {
    auto tcp = kd::mb::ListenTcpSlave("127.0.0.1", 0);
    if (!tcp) throw std::runtime_error("ScriptedSlave: no TCP port");
    port_ = tcp->Port();
    link_ = std::move(tcp);
  } else {
    link_ = kd::mb::CreatePtySlave(line == Line::Ascii, path_);
    if (!link_) throw std::runtime_error("ScriptedSlave: no pseudo terminal");
  }
  Start();
}

ScriptedSlave::ScriptedSlave(Line line, const std::string& device, std::uint8_t address)
    : line_(line), address_(address), path_(device) {
  link_ = kd::mb::OpenSerialSlave(device, kd::mb::SerialSettings{}, line == Line::Ascii);
  if (!link_) throw std::runtime_error("ScriptedSlave: cannot open " + device);
  Start();
}

void ScriptedSlave::Start() {
  for (int i = 0; i < kRegisters; ++i) registers_[i] = static_cast<std::uint16_t>(0x1000 + i);
  thread_ = std::thread([this] { Run(); });
}

ScriptedSlave::~ScriptedSlave() {
  link_->Interrupt();
  thread_.join();
}

void ScriptedSlave::Script(std::vector<Step> steps) {
  std::lock_guard lock(lock_);
  script_.assign(steps.begin(), steps.end());
}

std::uint16_t ScriptedSlave::Register(int n) const {
  std::lock_guard lock(lock_);
  return registers_[n];
}

int ScriptedSlave::Requests() const {
  std::lock_guard lock(lock_);
  return requests_;
}

bool ScriptedSlave::WaitRequests(int count, std::chrono::milliseconds timeout) const {
  std::unique_lock lock(lock_);
  return changed_.wait_for(lock, timeout, [&] { return requests_ >= count; });
}

Bytes ScriptedSlave::AnswerFor(const Bytes& q, std::uint16_t* regs) {
  auto word = [&](std::size_t at) { return static_cast<int>(q[at] << 8 | q[at + 1]); };
  auto exception = [&](std::uint8_t code) {
    return Bytes{q[0], static_cast<std::uint8_t>(q[1] | 0x80), code};
  };
  switch (q[1]) {
    case 0x03: {
      if (q.size() != 6) return exception(3);
      const int first = word(2), count = word(4);
      if (count < 1 || count > 125) return exception(3);
      if (first + count > kRegisters) return exception(2);
      Bytes a{q[0], 0x03, static_cast<std::uint8_t>(2 * count)};
      for (int i = 0; i < count; ++i) {
        a.push_back(static_cast<std::uint8_t>(regs[first + i] >> 8));
        a.push_back(static_cast<std::uint8_t>(regs[first + i] & 0xFF));
      }
      return a;
    }
    case 0x06:
      if (q.size() != 6) return exception(3);
      if (word(2) >= kRegisters) return exception(2);
      regs[word(2)] = static_cast<std::uint16_t>(word(4));
      return q;
    case 0x10: {
      if (q.size() < 7) return exception(3);
      const int first = word(2), count = word(4);
      if (q[6] != 2 * count || q.size() != static_cast<std::size_t>(7 + 2 * count)) return exception(3);
      if (first + count > kRegisters) return exception(2);
      for (int i = 0; i < count; ++i) regs[first + i] = static_cast<std::uint16_t>(word(7 + 2 * static_cast<std::size_t>(i)));
      return Bytes(q.begin(), q.begin() + 6);
    }
    case 0x41:
      return Bytes{q[0], 0x41, 0x00, 0x01, 0x02, 0xDA, 'A', 0x00, 0x00, 0x6E, 'b', 0x00};
    default:
      return exception(1);
  }
}

void ScriptedSlave::Run() {
  while (auto request = link_->Receive(std::chrono::milliseconds(-1))) {
    if (request->frame.empty() || request->frame[0] != address_) continue;
    Handle(*request);
    {
      std::lock_guard lock(lock_);
      ++requests_;
    }
    changed_.notify_all();
  }
}

void ScriptedSlave::Handle(const kd::mb::SlaveRequest& request) {
  Step step;
  Bytes answer;
  {
    std::lock_guard lock(lock_);
    if (!script_.empty()) {
      step = script_.front();
      script_.pop_front();
    }
    answer = AnswerFor(request.frame, registers_);
  }
  Bytes bytes = link_->Encode(request, answer);
  switch (step.what) {
    case Misbehave::None: break;
    case Misbehave::BadChecksum:
      // RTU: the CRC's high byte; ASCII: the LRC's low digit (before CR LF).
      if (line_ == Line::Rtu) bytes.back() ^= 0x5A;
      else if (line_ == Line::Ascii) bytes[bytes.size() - 3] = bytes[bytes.size() - 3] == '0' ? '1' : '0';
      break;
    case Misbehave::WrongSlave: {
      Bytes other = answer;
      other[0] = static_cast<std::uint8_t>(other[0] + 1);
      bytes = link_->Encode(request, other);
      break;
    }
    case Misbehave::Truncated: bytes.resize(bytes.size() - 3); break;
    case Misbehave::Split:
      for (std::uint8_t b : bytes) {
        link_->SendRaw(request, Bytes{b});
        std::this_thread::sleep_for(step.pause);
      }
      return;
    case Misbehave::Glued: {
      const Bytes again = bytes;
      bytes.insert(bytes.end(), again.begin(), again.end());
      break;
    }
    case Misbehave::Noise: bytes.insert(bytes.begin(), {0x00, 0xFF, 0x7E}); break;
    case Misbehave::Silence: return;
    case Misbehave::Late: std::this_thread::sleep_for(step.pause); break;
    case Misbehave::WrongCount:
      if (answer[1] == 0x03 && answer[2] >= 2) {
        answer.resize(answer.size() - 2);
        answer[2] = static_cast<std::uint8_t>(answer[2] - 2);
        bytes = link_->Encode(request, answer);
      }
      break;
    case Misbehave::WrongEcho:
      if (answer.size() == 6 && (answer[1] == 0x06 || answer[1] == 0x10)) {
        answer.back() ^= 0x01;
        bytes = link_->Encode(request, answer);
      }
      break;
    case Misbehave::LateNoise:
      std::this_thread::sleep_for(step.pause);
      link_->SendRaw(request, Bytes{0x00, 0xFF, 0x7E});
      return;
    case Misbehave::ForeignTransaction: {
      kd::mb::SlaveRequest other = request;
      other.transaction = static_cast<std::uint16_t>(request.transaction + 1);
      link_->SendRaw(request, link_->Encode(other, answer));
      break;
    }
    case Misbehave::Hangup: link_->Drop(request); return;
    case Misbehave::Instead: bytes = link_->Encode(request, step.frame); break;
  }
  link_->SendRaw(request, bytes);
}

PluggedSlave::PluggedSlave() : device_(dir_.File("ttyUSB0")), slaveEnd_(dir_.File("slave")) { Plug(); }

PluggedSlave::~PluggedSlave() { Pull(); }

void PluggedSlave::Pull() {
  slave_.reset();
  pair_.reset();
}

void PluggedSlave::Plug() {
  Pull();
  pair_ = std::make_unique<SocatPair>(device_, slaveEnd_);
  slave_ = std::make_unique<ScriptedSlave>(ScriptedSlave::Line::Rtu, slaveEnd_);
  terminal_ = std::filesystem::canonical(device_).string();
}

bool PluggedSlave::LetGoBy(int pid, std::chrono::milliseconds timeout) const {
  namespace fs = std::filesystem;
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    bool held = false;
    std::error_code ec;
    for (const auto& fd : fs::directory_iterator("/proc/" + std::to_string(pid) + "/fd", ec)) {
      const std::string target = fs::read_symlink(fd.path(), ec).string();
      held = held || target == terminal_ || target == terminal_ + " (deleted)";
    }
    if (!held) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

}  // namespace kdtest
