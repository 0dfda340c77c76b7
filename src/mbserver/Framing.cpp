#include "Framing.h"

#include <algorithm>
#include <iterator>

#include "Checksum.h"
#include "MbCodes.h"

namespace kd::mb {
namespace {

std::uint8_t Hi(std::uint16_t v) { return static_cast<std::uint8_t>(v >> 8); }
std::uint8_t Lo(std::uint16_t v) { return static_cast<std::uint8_t>(v & 0xFFu); }
std::uint16_t Word(std::uint8_t hi, std::uint8_t lo) {
  return static_cast<std::uint16_t>((hi << 8) | lo);
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

}  // namespace

int AnswerFrameLength(ByteView head) {
  if (head.size() < 2) return kNeedMore;
  const std::uint8_t fn = head[1];
  if (fn & 0x80u) return 3;
  switch (fn) {
    case 0x03:
      if (head.size() < 3) return kNeedMore;
      return 3 + head[2];
    case 0x06:
    case 0x10:
      return 6;
    default:
      return kBySilence;
  }
}

int RequestFrameLength(ByteView head) {
  if (head.size() < 2) return kNeedMore;
  switch (head[1]) {
    case 0x03:
    case 0x06:
      return 6;
    case 0x10:
      if (head.size() < 7) return kNeedMore;
      return 7 + head[6];
    case 0x41:
    case 0x42:
      return 2;
    case 0x43:
      return 4;
    default:
      return kBySilence;
  }
}

namespace {

// What the answer repeats of the request, or tells of its size, is the request's.
bool FitsRequest(ByteView request, ByteView answer, Fit fit) {
  const bool exact = fit == Fit::Exact;
  // A request too short to tell what its answer holds fits no answer exactly.
  const bool told = request.size() >= 6;
  const std::size_t quantity = told ? Word(request[4], request[5]) : 0;
  auto carries = [&](std::size_t bytes) {
    return told && answer.size() == 3 + bytes && answer[2] == bytes;
  };
  // The request's address and its value or quantity, repeated.
  const bool echoes = told && answer.size() == 6 &&
                      std::equal(answer.begin() + 2, answer.end(), request.begin() + 2);
  switch (request[1]) {
    case 0x01:
    case 0x02: return !exact || carries((quantity + 7) / 8);
    case 0x03:
      if (exact) return carries(2 * quantity);
      return !told || (answer[2] % 2 == 0 && answer[2] >= 2 * quantity);
    case 0x04: return !exact || carries(2 * quantity);
    case 0x05:
    case 0x0F: return !exact || echoes;
    case 0x06:
    case 0x10: return (!exact && !told) || echoes;
    default: return true;
  }
}

}  // namespace

std::int32_t CheckAnswer(ByteView request, ByteView answer, Fit fit) {
  if (request.size() < 2 || answer.size() < 2) return kInvalidAnswer;
  if (answer[0] != request[0]) return kInvalidAnswer;
  const std::uint8_t fn = request[1];
  if (answer[1] == (fn | 0x80u)) {
    if (answer.size() != 3 || answer[2] == 0) return kInvalidAnswer;
    return ExceptionResult(answer[2]);
  }
  if (answer[1] != fn) return kInvalidAnswer;
  const int length = AnswerFrameLength(answer);
  if (length > 0 && answer.size() != static_cast<std::size_t>(length)) return kInvalidAnswer;
  if (length == kNeedMore) return kInvalidAnswer;
  return FitsRequest(request, answer, fit) ? kOk : kInvalidAnswer;
}

Bytes EncodeRtu(ByteView frame) {
  Bytes adu(frame.begin(), frame.end());
  const std::uint16_t crc = Crc16(frame);
  adu.push_back(Lo(crc));
  adu.push_back(Hi(crc));
  return adu;
}

bool RtuCrcValid(ByteView adu) {
  if (adu.size() < 3) return false;
  const std::size_t n = adu.size() - 2;
  return Crc16(adu.first(n)) == Word(adu[n + 1], adu[n]);
}

std::int32_t ParseRtuAnswer(ByteView request, ByteView adu, Bytes& answer, Fit fit) {
  if (adu.size() < 4) return adu.empty() ? kTimeout : kInvalidAnswer;
  if (!RtuCrcValid(adu)) return kBadChecksum;
  const ByteView frame = adu.first(adu.size() - 2);
  const std::int32_t r = CheckAnswer(request, frame, fit);
  if (r == kOk) answer.assign(frame.begin(), frame.end());
  return r;
}

std::string EncodeAscii(ByteView frame) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string text;
  text.reserve(frame.size() * 2 + 5);
  text.push_back(':');
  auto put = [&](std::uint8_t b) {
    text.push_back(kHex[b >> 4]);
    text.push_back(kHex[b & 0x0Fu]);
  };
  for (std::uint8_t b : frame) put(b);
  put(Lrc(frame));
  text += "\r\n";
  return text;
}

AsciiStatus DecodeAscii(std::string_view message, Bytes& frame) {
  // ':' + at least address, function and LRC (6 digits) + CR LF.
  if (message.size() < 9 || message.front() != ':' || !message.ends_with("\r\n"))
    return AsciiStatus::Malformed;
  const std::string_view digits = message.substr(1, message.size() - 3);
  if (digits.size() % 2 != 0 || digits.size() / 2 > kMaxFrame + 1) return AsciiStatus::Malformed;
  Bytes bytes;
  bytes.reserve(digits.size() / 2);
  for (std::size_t i = 0; i < digits.size(); i += 2) {
    const int hi = HexDigit(digits[i]), lo = HexDigit(digits[i + 1]);
    if (hi < 0 || lo < 0) return AsciiStatus::Malformed;
    bytes.push_back(static_cast<std::uint8_t>((hi << 4) | lo));
  }
  const std::uint8_t lrc = bytes.back();
  bytes.pop_back();
  if (Lrc(bytes) != lrc) return AsciiStatus::BadLrc;
  frame = std::move(bytes);
  return AsciiStatus::Ok;
}

std::int32_t ParseAsciiAnswer(ByteView request, std::string_view message, Bytes& answer, Fit fit) {
  Bytes frame;
  switch (DecodeAscii(message, frame)) {
    case AsciiStatus::Malformed: return kInvalidAnswer;
    case AsciiStatus::BadLrc: return kBadChecksum;
    case AsciiStatus::Ok: break;
  }
  const std::int32_t r = CheckAnswer(request, frame, fit);
  if (r == kOk) answer = std::move(frame);
  return r;
}

Bytes EncodeMbap(std::uint16_t transaction, ByteView frame) {
  Bytes message;
  message.reserve(6 + frame.size());
  AppendMbap(message, transaction, frame);
  return message;
}

void AppendMbap(Bytes& out, std::uint16_t transaction, ByteView frame) {
  const auto length = static_cast<std::uint16_t>(frame.size());
  const std::uint8_t header[] = {Hi(transaction), Lo(transaction), 0, 0, Hi(length), Lo(length)};
  out.insert(out.end(), std::begin(header), std::end(header));
  out.insert(out.end(), frame.begin(), frame.end());
}

int MbapMessageLength(ByteView head) {
  if (head.size() < 6) return kNeedMore;
  const std::uint16_t length = Word(head[4], head[5]);
  if (length < 2 || length > kMaxFrame) return kBadHeader;
  return 6 + length;
}

std::optional<MbapMessage> DecodeMbap(ByteView message) {
  const int length = MbapMessageLength(message);
  if (length <= 0 || message.size() != static_cast<std::size_t>(length)) return std::nullopt;
  MbapMessage m;
  m.transaction = Word(message[0], message[1]);
  m.protocol = Word(message[2], message[3]);
  m.frame.assign(message.begin() + 6, message.end());
  return m;
}

std::optional<std::int32_t> ParseTcpAnswer(ByteView request, std::uint16_t transaction,
                                           ByteView message, Bytes& answer, Fit fit) {
  auto m = DecodeMbap(message);
  if (!m) return kInvalidAnswer;
  if (m->transaction != transaction || m->protocol != 0) return std::nullopt;
  const std::int32_t r = CheckAnswer(request, m->frame, fit);
  if (r == kOk) answer = std::move(m->frame);
  return r;
}

Bytes ExceptionFrame(ByteView request, std::uint8_t code) {
  const std::uint8_t slave = request.empty() ? 0 : request[0];
  const std::uint8_t fn = request.size() < 2 ? 0 : request[1];
  return Bytes{slave, static_cast<std::uint8_t>(fn | 0x80u), code};
}

}  // namespace kd::mb
