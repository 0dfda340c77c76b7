#pragma once
// The slave side of a Modbus line, for the drive simulator and test slaves:
// listen on a serial device, a new pseudo terminal or a TCP port, receive
// request frames, send answers.
//
//   std::string path;
//   auto link = kd::mb::CreatePtySlave(false, path);   // RTU on a new pty
//   while (auto request = link->Receive(kd::mb::Millis(-1)))
//     link->Answer(*request, MakeAnswer(request->frame));
//
// A link is used by one thread; Interrupt may be called from any thread.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "Framing.h"
#include "IoUtil.h"
#include "SerialPort.h"

namespace kd::mb {

struct SlaveRequest {
  Bytes frame;                    // slave address + PDU, checksum checked and dropped
  int client = 0;                 // TCP: the connection it came from
  std::uint16_t transaction = 0;  // TCP: MBAP transaction id
};

class SlaveLink {
 public:
  virtual ~SlaveLink() = default;
  // Waits for the next request, for any slave address; a negative timeout
  // waits without limit. nullopt after the timeout, after Interrupt or when
  // the line is gone. Frames with a bad checksum are dropped.
  virtual std::optional<SlaveRequest> Receive(Millis timeout) = 0;
  // The bytes that answer `frame` to `to` on this link (checksum or MBAP header added).
  virtual Bytes Encode(const SlaveRequest& to, ByteView frame) const = 0;
  // Sends bytes exactly as given (for scripted faults); false when they cannot be sent.
  virtual bool SendRaw(const SlaveRequest& to, ByteView bytes) = 0;
  bool Answer(const SlaveRequest& to, ByteView frame) { return SendRaw(to, Encode(to, frame)); }
  // TCP: closes the connection `from` came on; a serial line stays as it is.
  virtual void Drop(const SlaveRequest& from) { (void)from; }
  // Ends a waiting Receive, and every later one.
  void Interrupt() { wake_.Signal(); }

 protected:
  WakeFd wake_;
};

// RTU or ASCII on a serial device (for example one end of a socat pair).
// nullptr when the device cannot be opened.
std::unique_ptr<SlaveLink> OpenSerialSlave(const std::string& path, const SerialSettings& settings,
                                           bool ascii, int silentMs = 2);
// RTU or ASCII on a new pseudo terminal; `path` receives the device path
// that the client opens.
std::unique_ptr<SlaveLink> CreatePtySlave(bool ascii, std::string& path, int silentMs = 2);

class TcpSlaveLink : public SlaveLink {
 public:
  virtual int Port() const = 0;  // the port it listens on
};
// Modbus TCP on address:port (port 0: a free one, see Port()); any number of
// clients. nullptr (and `error` set) when the port cannot be bound.
std::unique_ptr<TcpSlaveLink> ListenTcpSlave(const std::string& address, int port,
                                             std::string* error = nullptr);

}  // namespace kd::mb
