// Checksums and framing rules without any line.
#include <gtest/gtest.h>

#include "Checksum.h"
#include "Framing.h"
#include "MbCodes.h"

using namespace kd::mb;

TEST(Checksum, KnownValues) {
  // Read 10 registers from 0 of slave 1: the CRC every Modbus tool shows.
  EXPECT_EQ(Crc16(Bytes{0x01, 0x03, 0x00, 0x00, 0x00, 0x0A}), 0xCDC5);
  EXPECT_EQ(EncodeRtu(Bytes{0x01, 0x03, 0x00, 0x00, 0x00, 0x0A}),
            (Bytes{0x01, 0x03, 0x00, 0x00, 0x00, 0x0A, 0xC5, 0xCD}));
  EXPECT_EQ(Lrc(Bytes{0x11, 0x03, 0x00, 0x6B, 0x00, 0x03}), 0x7E);
}

TEST(Framing, AnswerLengthByFunction) {
  struct Case {
    Bytes head;
    int length;
  } cases[] = {
      {{0x01}, kNeedMore},
      {{0x01, 0x03}, kNeedMore},
      {{0x01, 0x03, 0x14}, 23},
      {{0x01, 0x06}, 6},
      {{0x01, 0x10}, 6},
      {{0x01, 0x83}, 3},
      {{0x01, 0xC1}, 3},
      {{0x01, 0x41}, kBySilence},
      {{0x01, 0x43}, kBySilence},
      {{0x01, 0x04}, kBySilence},
  };
  for (const auto& c : cases) EXPECT_EQ(AnswerFrameLength(c.head), c.length) << int(c.head.back());
  EXPECT_EQ(RequestFrameLength(Bytes{1, 0x10, 0, 0, 0, 2, 4}), 11);
  EXPECT_EQ(RequestFrameLength(Bytes{1, 0x43}), 4);
}

TEST(Framing, CheckAnswerCodes) {
  const Bytes read{0x01, 0x03, 0x00, 0x00, 0x00, 0x01};
  struct Case {
    Bytes answer;
    std::int32_t code;
  } cases[] = {
      {{0x01, 0x03, 0x02, 0x12, 0x34}, kOk},
      {{0x02, 0x03, 0x02, 0x12, 0x34}, kInvalidAnswer},  // another slave
      {{0x01, 0x04, 0x02, 0x12, 0x34}, kInvalidAnswer},  // another function
      {{0x01, 0x03, 0x04, 0x12, 0x34}, kInvalidAnswer},  // byte count past the end
      {{0x01, 0x03, 0x02, 0x12}, kInvalidAnswer},
      {{0x01, 0x83, 0x02}, static_cast<std::int32_t>(0x80048202u)},
      {{0x01, 0x83, 0x0B}, static_cast<std::int32_t>(0x8004820Bu)},
      {{0x01, 0x83}, kInvalidAnswer},
      {{0x01, 0x83, 0x00}, kInvalidAnswer},
  };
  for (const auto& c : cases) EXPECT_EQ(CheckAnswer(read, c.answer), c.code);
  // Functions without a length rule take any length.
  EXPECT_EQ(CheckAnswer(Bytes{0x01, 0x41}, Bytes{0x01, 0x41, 1, 2, 3}), kOk);
}

// An answer is taken only when it fits its request: the registers asked, the echo of a write.
TEST(Framing, CheckAnswerAgainstTheRequest) {
  const Bytes read3{0x01, 0x03, 0x00, 0x10, 0x00, 0x03};
  const Bytes write6{0x01, 0x06, 0x00, 0x04, 0x12, 0x34};
  const Bytes write16{0x01, 0x10, 0x00, 0x05, 0x00, 0x02, 0x04, 0xAB, 0xCD, 0x00, 0x01};
  struct Case {
    const Bytes& request;
    Bytes answer;
    std::int32_t code;
  } cases[] = {
      {read3, {0x01, 0x03, 0x06, 1, 2, 3, 4, 5, 6}, kOk},
      {read3, {0x01, 0x03, 0x02, 0x03, 0xE8}, kInvalidAnswer},  // one register: another request's
      {read3, {0x01, 0x03, 0x04, 1, 2, 3, 4}, kInvalidAnswer},
      {read3, {0x01, 0x03, 0x07, 1, 2, 3, 4, 5, 6, 7}, kInvalidAnswer},  // half a word
      // Registers of several words (longs, dates, texts): more than a word each.
      {read3, {0x01, 0x03, 0x08, 1, 2, 3, 4, 5, 6, 7, 8}, kOk},
      {write6, {0x01, 0x06, 0x00, 0x04, 0x12, 0x34}, kOk},
      {write6, {0x01, 0x06, 0x00, 0x05, 0x12, 0x34}, kInvalidAnswer},  // another address
      {write6, {0x01, 0x06, 0x00, 0x04, 0x12, 0x35}, kInvalidAnswer},  // another value
      {write16, {0x01, 0x10, 0x00, 0x05, 0x00, 0x02}, kOk},
      {write16, {0x01, 0x10, 0x00, 0x06, 0x00, 0x02}, kInvalidAnswer},
      {write16, {0x01, 0x10, 0x00, 0x05, 0x00, 0x01}, kInvalidAnswer},
      {write16, {0x01, 0x90, 0x04}, static_cast<std::int32_t>(0x80048204u)},
      {write16, {0x01, 0x83, 0x02}, kInvalidAnswer},  // an exception to another function
      {write6, {0x01, 0x10, 0x00, 0x04, 0x00, 0x01}, kInvalidAnswer},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.answer));
    EXPECT_EQ(CheckAnswer(c.request, c.answer), c.code);
  }
}

TEST(Framing, RtuAnswerChecksCrcBeforeContent) {
  const Bytes read{0x05, 0x03, 0x00, 0x00, 0x00, 0x01};
  Bytes adu = EncodeRtu(Bytes{0x05, 0x03, 0x02, 0xAB, 0xCD});
  Bytes answer;
  EXPECT_EQ(ParseRtuAnswer(read, adu, answer), kOk);
  EXPECT_EQ(answer, (Bytes{0x05, 0x03, 0x02, 0xAB, 0xCD}));
  adu[3] ^= 1;
  answer.clear();
  EXPECT_EQ(ParseRtuAnswer(read, adu, answer), kBadChecksum);
  EXPECT_TRUE(answer.empty());
  EXPECT_EQ(ParseRtuAnswer(read, EncodeRtu(Bytes{0x06, 0x03, 0x02, 0xAB, 0xCD}), answer),
            kInvalidAnswer);
}

TEST(Framing, AsciiRoundTripAndDamage) {
  const Bytes frame{0x11, 0x03, 0x00, 0x6B, 0x00, 0x03};
  const std::string text = EncodeAscii(frame);
  EXPECT_EQ(text, ":1103006B00037E\r\n");
  Bytes back;
  EXPECT_EQ(DecodeAscii(text, back), AsciiStatus::Ok);
  EXPECT_EQ(back, frame);
  EXPECT_EQ(DecodeAscii(":1103006B00037F\r\n", back), AsciiStatus::BadLrc);
  for (const char* bad : {":1103006B00037\r\n", ":1103006B0003ZE\r\n", "1103006B00037E\r\n",
                          ":1103006B00037E\n", ":7E\r\n"})
    EXPECT_EQ(DecodeAscii(bad, back), AsciiStatus::Malformed) << bad;
  Bytes answer;
  EXPECT_EQ(ParseAsciiAnswer(Bytes{0x11, 0x06}, EncodeAscii(Bytes{0x11, 0x86, 0x03}), answer),
            static_cast<std::int32_t>(0x80048203u));
}

TEST(Framing, MbapTransactionsAndHeaders) {
  const Bytes request{0x07, 0x03, 0x00, 0x00, 0x00, 0x01};
  const Bytes message = EncodeMbap(0x1234, Bytes{0x07, 0x03, 0x02, 0x00, 0x2A});
  EXPECT_EQ(message, (Bytes{0x12, 0x34, 0, 0, 0, 5, 0x07, 0x03, 0x02, 0x00, 0x2A}));
  EXPECT_EQ(MbapMessageLength(message), 11);
  Bytes answer;
  EXPECT_EQ(ParseTcpAnswer(request, 0x1234, message, answer), std::optional<std::int32_t>(kOk));
  EXPECT_EQ(answer, (Bytes{0x07, 0x03, 0x02, 0x00, 0x2A}));
  EXPECT_FALSE(ParseTcpAnswer(request, 0x1235, message, answer).has_value());  // foreign: ignored
  Bytes otherProtocol = message;
  otherProtocol[3] = 1;
  EXPECT_FALSE(ParseTcpAnswer(request, 0x1234, otherProtocol, answer).has_value());
  EXPECT_EQ(MbapMessageLength(Bytes{0, 1, 0, 0, 0, 1}), kBadHeader);
  EXPECT_EQ(MbapMessageLength(Bytes{0, 1, 0, 0, 1, 0}), kBadHeader);
  EXPECT_EQ(MbapMessageLength(Bytes{0, 1, 0, 0, 0}), kNeedMore);
}
