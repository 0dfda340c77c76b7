#pragma once
// The client (master) side of one Modbus line: one request out, one answer
// back, with the result codes of MbCodes.h.
//
// Timing on a serial line:
// - before a request the line must have been quiet for the silent interval;
//   bytes that arrive meanwhile (late answers to earlier requests, noise)
//   are dropped, never taken as the next answer;
// - after a time-out, a damaged answer or one that does not fit its request,
//   the line is drained: what arrives within one more time-out is dropped
//   before the next request goes out;
// - a line drained so is trusted again only once an exchange has succeeded
//   and the line then stayed quiet for a time-out: until then what arrives
//   before the next request is dropped (a slow slave's answer to a retry may
//   follow the late answer that the retry took);
// - the answer must begin within the time-out; an answer whose length its
//   function code tells (exceptions, 3, 6, 16) ends with its last byte, any
//   other ends when the line has been silent for the silent interval (at
//   least 3.5 characters).
//
// A serial port that hangs up or fails to read or write is closed; each
// later request opens it again first (and fails at once while it cannot).
// While no request runs, a thread of its own watches the port, so that one
// that hangs up is closed also on an idle line.
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "Framing.h"
#include "IoUtil.h"
#include "SerialPort.h"

namespace kd::mb {

struct LineTiming {
  int timeoutMs = 1000;
  int silentMs = 20;
};

class MasterTransport {
 public:
  virtual ~MasterTransport() = default;
  // `request` is a frame (slave address first); `answer` receives the
  // answer frame when the result is 0. An answer that does not `fit` the
  // request is an invalid answer.
  virtual std::int32_t Transact(ByteView request, Bytes& answer, Fit fit) = 0;
  // Sends a request that gets no answer (slave address 0, broadcast) and
  // returns once it is sent: 0 or a transport failure.
  virtual std::int32_t Broadcast(ByteView request) = 0;
};

// RTU (ascii false) or ASCII framing over a serial port, opened on `path`
// with `settings` (SerialMaster opens it again after a failure).
class SerialMaster : public MasterTransport {
 public:
  SerialMaster(SerialPort port, std::string path, SerialSettings settings, LineTiming timing,
               bool ascii);
  ~SerialMaster() override;
  SerialMaster(const SerialMaster&) = delete;
  SerialMaster& operator=(const SerialMaster&) = delete;
  std::int32_t Transact(ByteView request, Bytes& answer, Fit fit) override;
  std::int32_t Broadcast(ByteView request) override;

 private:
  // The watching thread: closes the port when it hangs up or reports an error.
  void Watch();
  // The port was opened: it is watched from now on.
  void Watched();
  // Drops what arrives until the line has been quiet for the silent interval
  // (and the drain after a failure is over), or for a time-out after the
  // first success since; false when the port failed.
  bool AwaitQuietLine();
  // An open port with a quiet line: false when the port cannot be opened.
  bool Ready();
  // Sends the request: when it has left the line, or nullopt when it could not be sent.
  std::optional<Clock::time_point> Send(ByteView request);
  std::int32_t ReadRtu(ByteView request, Bytes& answer, Fit fit, Clock::time_point firstByte);
  std::int32_t ReadAscii(ByteView request, Bytes& answer, Fit fit, Clock::time_point firstByte);
  Millis FrameTime(std::size_t bytes) const;
  // Closes the failed port (told once on standard error); returns `code`.
  std::int32_t Lost(std::int32_t code, const char* what);

  const std::string path_;
  const SerialSettings settings_;
  LineTiming timing_;
  bool ascii_;
  std::chrono::microseconds gap_;
  UniqueFd watch_;  // epoll: hang-up and error of the port, and stop_
  WakeFd stop_;

  std::mutex lock_;  // what follows: held for an exchange, or by the watching thread
  SerialPort port_;
  Clock::time_point lastActivity_{};
  Clock::time_point drainUntil_{};  // after a failed exchange
  bool suspect_ = false;            // an exchange failed since the line was last found quiet
  bool settle_ = false;             // suspect, and an exchange has succeeded since
  bool told_ = false;               // the loss of the port was told
  std::uint64_t opened_ = 0;        // how often the port was opened: the tag of its events
  bool stopping_ = false;

  std::thread watcher_;  // started last
};

// Modbus TCP (MBAP header, unit id = slave address) to host:port.
class TcpMaster : public MasterTransport {
 public:
  TcpMaster(std::string host, int port, LineTiming timing);
  // Opens the connection; false when it cannot be made within the time-out.
  bool Connect();
  std::int32_t Transact(ByteView request, Bytes& answer, Fit fit) override;
  // An answer that comes all the same is passed over by the next Transact.
  std::int32_t Broadcast(ByteView request) override;

 private:
  bool ConnectBefore(Clock::time_point deadline);
  // Sets the socket's time-outs to about the time left; false when none is left.
  bool ReceiveTimeoutBefore(Clock::time_point deadline);

  std::string host_;
  int port_;
  LineTiming timing_;
  UniqueFd sock_;
  std::uint16_t transaction_ = 0;
  long receiveTimeout_ = 0;  // ms, as last set on the socket
};

}  // namespace kd::mb
