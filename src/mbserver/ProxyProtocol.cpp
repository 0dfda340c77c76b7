#include "ProxyProtocol.h"

namespace kd::mb {
namespace {

constexpr std::size_t kFixed = 1 + 4 + 4 + 2 + 2;

void PutU16(std::vector<std::uint8_t>& out, std::uint16_t v) {
  out.push_back(static_cast<std::uint8_t>(v & 0xFFu));
  out.push_back(static_cast<std::uint8_t>(v >> 8));
}

void PutU32(std::vector<std::uint8_t>& out, std::uint32_t v) {
  for (int shift = 0; shift < 32; shift += 8)
    out.push_back(static_cast<std::uint8_t>((v >> shift) & 0xFFu));
}

std::uint32_t GetU32(std::span<const std::uint8_t> in, std::size_t at) {
  return static_cast<std::uint32_t>(in[at]) | static_cast<std::uint32_t>(in[at + 1]) << 8 |
         static_cast<std::uint32_t>(in[at + 2]) << 16 | static_cast<std::uint32_t>(in[at + 3]) << 24;
}

std::uint16_t GetU16(std::span<const std::uint8_t> in, std::size_t at) {
  return static_cast<std::uint16_t>(in[at] | in[at + 1] << 8);
}

bool IsKnownOp(std::uint8_t op) {
  return op <= static_cast<std::uint8_t>(Op::SetHost) ||
         (op >= static_cast<std::uint8_t>(Op::Connect) &&
          op <= static_cast<std::uint8_t>(Op::CreateTCPServer)) ||
         (op >= static_cast<std::uint8_t>(Op::GatewaySetAddress) &&
          op <= static_cast<std::uint8_t>(Op::GatewayRelease));
}

}  // namespace

std::optional<std::vector<std::uint8_t>> EncodeMessage(const ProxyMessage& m) {
  const std::size_t body = kFixed + m.text.size() + m.data.size();
  if (body > kMaxBody) return std::nullopt;
  std::vector<std::uint8_t> out;
  out.reserve(4 + body);
  PutU32(out, static_cast<std::uint32_t>(body));
  out.push_back(static_cast<std::uint8_t>(m.op));
  PutU32(out, static_cast<std::uint32_t>(m.a));
  PutU32(out, static_cast<std::uint32_t>(m.b));
  PutU16(out, static_cast<std::uint16_t>(m.text.size()));
  out.insert(out.end(), m.text.begin(), m.text.end());
  PutU16(out, static_cast<std::uint16_t>(m.data.size()));
  out.insert(out.end(), m.data.begin(), m.data.end());
  return out;
}

DecodeResult DecodeMessage(std::span<const std::uint8_t> stream) {
  DecodeResult r;
  if (stream.size() < 4) return r;
  const std::uint32_t body = GetU32(stream, 0);
  if (body < kFixed || body > kMaxBody) {
    r.status = DecodeStatus::Bad;
    return r;
  }
  if (stream.size() < 4 + body) return r;
  const auto in = stream.subspan(4, body);
  r.status = DecodeStatus::Bad;
  if (!IsKnownOp(in[0])) return r;
  r.message.op = static_cast<Op>(in[0]);
  r.message.a = static_cast<std::int32_t>(GetU32(in, 1));
  r.message.b = static_cast<std::int32_t>(GetU32(in, 5));
  std::size_t at = 9;
  const std::size_t textSize = GetU16(in, at);
  at += 2;
  if (at + textSize + 2 > in.size()) return r;
  r.message.text.assign(in.begin() + static_cast<long>(at),
                        in.begin() + static_cast<long>(at + textSize));
  at += textSize;
  const std::size_t dataSize = GetU16(in, at);
  at += 2;
  if (at + dataSize != in.size()) return r;
  r.message.data.assign(in.begin() + static_cast<long>(at), in.end());
  r.status = DecodeStatus::Ok;
  r.consumed = 4 + body;
  return r;
}

}  // namespace kd::mb
