#pragma once
// Modbus framing without I/O: RTU (CRC-16), ASCII (LRC) and TCP (MBAP header).
//
// A "frame" here is what the client hands over and gets back: the slave
// address, the function code and the data, without checksum or TCP header.
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace kd::mb {

using Bytes = std::vector<std::uint8_t>;
using ByteView = std::span<const std::uint8_t>;

// Largest frame that fits into an RTU or TCP message (address + 253 bytes of PDU).
inline constexpr std::size_t kMaxFrame = 254;

// Length rule of a frame that is still arriving.
inline constexpr int kNeedMore = 0;      // not enough bytes to tell yet
inline constexpr int kBySilence = -1;    // the function code does not tell: the line's silence ends it

// Total length of an answer frame (without checksum) whose first bytes are
// `head`: exception answers, functions 3, 6 and 16 by their length; every
// other function ends by silence.
int AnswerFrameLength(ByteView head);
// The same for request frames (slave side): 3, 6, 16, 0x41, 0x42, 0x43.
int RequestFrameLength(ByteView head);

// How closely an answer must fit its request.
enum class Fit {
  // Function 3 carries whole words, at least one per register asked (a
  // register of a data model may take several words: the caller, who knows
  // the model, checks the exact size); functions 6 and 16 echo the request's
  // address and value or quantity.
  Model,
  // Every answer the request fixes: functions 1 and 2 carry ceil(quantity / 8)
  // bytes, 3 and 4 two per register, 5 and 6 echo the request, 15 and 16 its
  // address and quantity.
  Exact,
};

// Checks an answer frame against its request: slave address, function code,
// exception answer, length for the functions that fix it, and that it answers
// this request as `fit` asks. The answers of other functions (0x41 to 0x43)
// are passed on whatever their length: their callers check it.
// Returns 0 or a result code.
std::int32_t CheckAnswer(ByteView request, ByteView answer, Fit fit = Fit::Model);

// RTU: frame followed by its CRC (low byte first).
Bytes EncodeRtu(ByteView frame);
// True when the last two bytes of `adu` are the CRC of the rest.
bool RtuCrcValid(ByteView adu);
// A complete RTU answer (CRC included) to `request`: result code, and the
// frame without CRC in `answer` when the result is 0.
std::int32_t ParseRtuAnswer(ByteView request, ByteView adu, Bytes& answer, Fit fit = Fit::Model);

// ASCII: ':' + hexadecimal digits of frame and LRC + CR LF.
std::string EncodeAscii(ByteView frame);
// The text of one message from ':' up to and including LF. On success the
// frame (LRC checked and dropped) is stored in `frame`.
enum class AsciiStatus { Ok, Malformed, BadLrc };
AsciiStatus DecodeAscii(std::string_view message, Bytes& frame);
std::int32_t ParseAsciiAnswer(ByteView request, std::string_view message, Bytes& answer,
                              Fit fit = Fit::Model);

// TCP: MBAP header (transaction id, protocol 0, length, unit id = slave address) + PDU.
Bytes EncodeMbap(std::uint16_t transaction, ByteView frame);
// The same message appended to `out`.
void AppendMbap(Bytes& out, std::uint16_t transaction, ByteView frame);
// Total length of an MBAP message from its first bytes: kNeedMore, -2 when
// the header is impossible (length field below 2 or above 254), else the count.
inline constexpr int kBadHeader = -2;
int MbapMessageLength(ByteView head);
struct MbapMessage {
  std::uint16_t transaction = 0;
  std::uint16_t protocol = 0;
  Bytes frame;  // unit id + PDU
};
// A complete MBAP message as MbapMessageLength measured it; nullopt otherwise.
std::optional<MbapMessage> DecodeMbap(ByteView message);
// A complete MBAP answer to `request` sent with `transaction`: nullopt when it
// belongs to another transaction or protocol (to be ignored), else the result
// code with the frame in `answer`.
std::optional<std::int32_t> ParseTcpAnswer(ByteView request, std::uint16_t transaction,
                                           ByteView message, Bytes& answer, Fit fit = Fit::Model);

// Answer frame for a Modbus exception.
Bytes ExceptionFrame(ByteView request, std::uint8_t code);

}  // namespace kd::mb
