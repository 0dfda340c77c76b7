#pragma once
// The messages between the client proxy and the mbserver process over their
// two pipes. Every call is one request and one answer, each sent as
//
//   u32 body length | body
//   body: u8 op | i32 a | i32 b | u16 n, n bytes text | u16 m, m bytes data
//
// all integers little-endian, the body at most kMaxBody bytes. The answer
// carries the op of its request. Meaning of a, b, text and data per op:
//
//   op                     request                 answer
//   Hello                  a = kProtocolVersion    a = kProtocolVersion
//   OpenConnection         a = type, text = name   a = ok
//   Set* (13 setters)      a = value (SetHost: text)  -
//   Connect                -                       a = connected
//   TxRxMessage            data = query            a = result code, data = answer
//   GetRetries             -                       a = retries
//   CloseConnection        -                       -
//   CreateTCPServer        -                       a = gateway id (0: none)
//   GatewaySetAddress      a = id, text = address  -
//   GatewaySetPort         a = id, b = port        -
//   GatewayStart/Stop      a = id                  a = ok
//   GatewayLocalHostIP     a = id                  text = address
//   GatewayRelease         a = id                  -
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace kd::mb {

inline constexpr std::int32_t kProtocolVersion = 1;
inline constexpr std::size_t kMaxBody = 4096;

enum class Op : std::uint8_t {
  Hello = 0x00,
  OpenConnection = 0x01,
  SetRetries, SetRaiseError, SetBaudRate, SetComPort, SetByteSize, SetFlowControl, SetParity,
  SetSilentInterval, SetStopBits, SetTimeOut, SetTransmissionMode, SetTcpPort, SetHost,
  Connect = 0x10,
  TxRxMessage, GetRetries, CloseConnection, CreateTCPServer,
  GatewaySetAddress = 0x20,
  GatewaySetPort, GatewayStart, GatewayStop, GatewayLocalHostIP, GatewayRelease,
};

struct ProxyMessage {
  Op op = Op::Hello;
  std::int32_t a = 0;
  std::int32_t b = 0;
  std::string text;
  std::vector<std::uint8_t> data;
};

// Length prefix and body; nullopt when text or data are too long to fit.
std::optional<std::vector<std::uint8_t>> EncodeMessage(const ProxyMessage& message);

enum class DecodeStatus { NeedMore, Ok, Bad };
struct DecodeResult {
  DecodeStatus status = DecodeStatus::NeedMore;
  std::size_t consumed = 0;  // bytes of the stream the message took (Ok only)
  ProxyMessage message;
};
// Decodes the message at the front of a received stream. Bad: the stream is
// not of this protocol (unknown op, length out of range, inner lengths that
// do not add up) and cannot be read on.
DecodeResult DecodeMessage(std::span<const std::uint8_t> stream);

}  // namespace kd::mb
