// The proxy's message format: round trip, streams cut anywhere, bad input.
#include <gtest/gtest.h>

#include "ProxyProtocol.h"

using namespace kd::mb;

TEST(ProxyProtocol, RoundTripThroughAStreamCutAnywhere) {
  ProxyMessage m;
  m.op = Op::TxRxMessage;
  m.a = static_cast<std::int32_t>(0x80040201u);
  m.b = -7;
  m.text = "COM1";
  m.data = {0x01, 0x03, 0x00, 0x00, 0x00, 0x0A};
  auto bytes = EncodeMessage(m);
  ASSERT_TRUE(bytes);
  // Two messages back to back, fed a byte at a time.
  std::vector<std::uint8_t> stream = *bytes;
  stream.insert(stream.end(), bytes->begin(), bytes->end());
  for (std::size_t cut = 0; cut < bytes->size(); ++cut)
    EXPECT_EQ(DecodeMessage(std::span(stream).first(cut)).status, DecodeStatus::NeedMore);
  DecodeResult r = DecodeMessage(stream);
  ASSERT_EQ(r.status, DecodeStatus::Ok);
  EXPECT_EQ(r.consumed, bytes->size());
  EXPECT_EQ(r.message.op, m.op);
  EXPECT_EQ(r.message.a, m.a);
  EXPECT_EQ(r.message.b, m.b);
  EXPECT_EQ(r.message.text, m.text);
  EXPECT_EQ(r.message.data, m.data);
}

TEST(ProxyProtocol, RejectsWhatItCannotRead) {
  ProxyMessage m;
  m.op = Op::SetHost;
  m.text = "host";
  auto good = *EncodeMessage(m);

  auto unknownOp = good;
  unknownOp[4] = 0x7F;
  auto shortBody = std::vector<std::uint8_t>{3, 0, 0, 0, 1, 2, 3};
  auto hugeBody = std::vector<std::uint8_t>{0xFF, 0xFF, 0xFF, 0x7F};
  auto textPastEnd = good;
  textPastEnd[13] = 0x40;  // text length beyond the body
  auto spareBytes = good;
  spareBytes[0] = static_cast<std::uint8_t>(spareBytes[0] + 1);
  spareBytes.push_back(0);
  for (const auto& bad : {unknownOp, shortBody, hugeBody, textPastEnd, spareBytes})
    EXPECT_EQ(DecodeMessage(bad).status, DecodeStatus::Bad);

  ProxyMessage tooBig;
  tooBig.data.assign(kMaxBody, 0);
  EXPECT_FALSE(EncodeMessage(tooBig));
}
