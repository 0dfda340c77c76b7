// Register definitions: the big-endian value codec over every type.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <memory>
#include <vector>

#include "Exception.h"
#include "Formats.h"
#include "Tlaregdefinitioncls.h"

using Bytes = std::vector<std::uint8_t>;

namespace {

std::unique_ptr<TlaRegDefinition> Def(TlaRegisterType type, bool isSigned = false, std::uint8_t length = 1) {
  auto d = std::make_unique<TlaRegDefinition>();
  d->Name = std::string("R");  // not a plain literal: g++ 12 warns falsely (-Wrestrict) at -O3
  d->Type = type;
  d->Signed = isSigned;
  d->Length = length;
  return d;
}

// Expects a kd::Exception with exactly this text.
void ExpectError(const std::function<void()>& call, const std::string& text) {
  try {
    call();
    ADD_FAILURE() << "no exception, expected: " << text;
  } catch (const kd::Exception& e) {
    EXPECT_EQ(std::string(e.what()), text);
  }
}

}  // namespace

TEST(Codec, IntegerStoreClampsAndTruncatesByType) {
  struct Case {
    TlaRegisterType type;
    bool isSigned;
    std::int32_t value;
    Bytes stored;
    std::int32_t readBack;
  };
  const Case cases[] = {
      {regShort, false, -1, {0xFF, 0xFF}, 65535},
      {regShort, false, 70000, {0xFF, 0xFF}, 65535},
      {regShort, true, 40000, {0x7F, 0xFF}, 32767},
      {regShort, true, -40000, {0x80, 0x00}, -32768},
      {regNone, false, 0x1234, {0x12, 0x34}, 0x1234},
      {regByte, false, 300, {0x00, 0x2C}, 44},  // clamped to 16 bits, not to 8
      {regByte, true, -128, {0x00, 0x80}, -128},
      {regByte, true, 40000, {0x00, 0xFF}, -1},  // 32767 then the low byte
      {regLong, false, 0x12345678, {0x12, 0x34, 0x56, 0x78}, 0x12345678},
      {regLong, true, -1, {0xFF, 0xFF, 0xFF, 0xFF}, -1},
      {regString, false, 0x141, {0x00, 0x41}, 0x41},
  };
  for (const Case& c : cases) {
    auto d = Def(c.type, c.isSigned);
    Bytes b(c.stored.size(), 0xEE);
    EXPECT_TRUE(d->SetValueInteger(b.data(), c.value, 0)) << int(c.type) << " " << c.value;
    EXPECT_EQ(b, c.stored) << int(c.type) << " " << c.value;
    EXPECT_EQ(d->GetValueInteger(b.data(), 0), c.readBack) << int(c.type) << " " << c.value;
  }
}

TEST(Codec, SignExtensionOnRead) {
  Bytes fffe = {0xFF, 0xFE};
  EXPECT_EQ(Def(regShort, true)->GetValueInteger(fffe.data(), 0), -2);
  EXPECT_EQ(Def(regShort, false)->GetValueInteger(fffe.data(), 0), 65534);
  Bytes ones = {0xFF, 0xFF, 0xFF, 0xFF};
  EXPECT_EQ(Def(regLong, true)->GetValueDouble(ones.data(), 0), -1.0);
  EXPECT_EQ(Def(regLong, false)->GetValueDouble(ones.data(), 0), 4294967295.0);
}

TEST(Codec, ChangedFlagFollowsTheStoredBytes) {
  auto d = Def(regShort, false, 2);
  Bytes b = {0, 0, 0x12, 0x34};
  EXPECT_TRUE(d->SetValueInteger(b.data(), 7, 1));
  EXPECT_FALSE(d->SetValueInteger(b.data(), 7, 1));
  EXPECT_EQ(b, (Bytes{0, 0, 0, 7}));
  // Clearing a byte register's high byte is no change.
  auto byteDef = Def(regByte);
  Bytes c = {0x01, 0x05};
  EXPECT_FALSE(byteDef->SetValueInteger(c.data(), 5, 0));
  EXPECT_EQ(c, (Bytes{0x00, 0x05}));
}

TEST(Codec, UnknownTypeTakesNoBytes) {
  auto d = Def(9);
  EXPECT_EQ(d->GetByteSize(), 0);
  EXPECT_EQ(d->GetTypeName(), "");
  Bytes b = {0xAA};
  EXPECT_EQ(d->GetValueInteger(b.data(), 0), 0);
  EXPECT_FALSE(d->SetValueInteger(b.data(), 5, 0));
  EXPECT_EQ(b[0], 0xAA);
}

TEST(Codec, ScaledValuesTruncateTowardZero) {
  struct Case {
    bool isSigned;
    double norm, offset, value;
    Bytes stored;
  };
  const Case cases[] = {
      {true, 0.5, 10, 9.0, {0xFF, 0xFE}},   // (9 - 10) / 0.5 = -2
      {true, 1, 0, 2.99, {0x00, 0x02}},
      {true, 1, 0, -2.7, {0xFF, 0xFE}},
      {false, 0.5, 10, 9.0, {0xFF, 0xFF}},  // -2 clamped as unsigned
      {true, 0, 5, 123.0, {0x00, 0x00}},    // no scale: raw 0
      {true, 1, 0, std::nan(""), {0x00, 0x00}},
      {true, 1, 0, 1e300, {0x7F, 0xFF}},     // saturates, no wrap in the low 32 bits
      {false, 1, 0, 1e300, {0xFF, 0xFF}},
      {true, 1, 0, -std::numeric_limits<double>::infinity(), {0x80, 0x00}},
  };
  for (const Case& c : cases) {
    auto d = Def(regShort, c.isSigned);
    d->FormatNorm = c.norm;
    d->FormatOffset = c.offset;
    Bytes b = {0x55, 0x55};
    d->SetValueDouble(b.data(), 0, c.value);
    EXPECT_EQ(b, c.stored) << c.norm << " " << c.offset << " " << c.value;
  }
  auto d = Def(regShort, true);
  d->FormatNorm = 0.5;
  d->FormatOffset = 10;
  Bytes b = {0x00, 0x04};
  EXPECT_DOUBLE_EQ(d->GetValueDouble(b.data(), 0), 12.0);
  // A long: values past 32 bits saturate; negative values keep their pattern.
  const std::pair<bool, double> longs[] = {{true, 3e9}, {false, 5e9}, {false, -2.0}, {true, -3e9}};
  const std::uint32_t stored[] = {0x7FFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFEu, 0x80000000u};
  for (int k = 0; k < 4; ++k) {
    auto l = Def(regLong, longs[k].first);
    Bytes x(4, 0);
    l->SetValueDouble(x.data(), 0, longs[k].second);
    EXPECT_EQ(TlaRegDefinition::GetLong(x.data(), 0), stored[k]) << longs[k].second;
  }
}

TEST(Codec, BitsAndBitFields) {
  auto s = Def(regShort);
  Bytes b = {0x80, 0x00};
  EXPECT_TRUE(s->GetValueBit(b.data(), 0, 15));
  EXPECT_TRUE(s->SetValueBit(b.data(), true, 0, 0));
  EXPECT_FALSE(s->SetValueBit(b.data(), true, 0, 0));
  EXPECT_EQ(b, (Bytes{0x80, 0x01}));
  EXPECT_TRUE(s->SetValueBit(b.data(), false, 0, 15));
  EXPECT_EQ(b, (Bytes{0x00, 0x01}));

  Bytes z = {0, 0};
  EXPECT_TRUE(s->SetValueBitField(z.data(), 0x1F, 0, 4, 4));  // the field keeps its 4 bits
  EXPECT_EQ(z, (Bytes{0x00, 0xF0}));
  EXPECT_EQ(s->GetValueBitField(z.data(), 0, 4, 4), 0xFu);
  EXPECT_EQ(s->GetValueBitField(z.data(), 0, 12, 4), 0u);

  // A byte register's element is a word: bits 8..15 read 0 and are lost.
  auto byteDef = Def(regByte);
  Bytes c = {0x00, 0x01};
  EXPECT_FALSE(byteDef->GetValueBit(c.data(), 0, 9));
  EXPECT_FALSE(byteDef->SetValueBit(c.data(), true, 0, 9));
  EXPECT_EQ(c, (Bytes{0x00, 0x01}));

  // A long: bits 0..31 and a 32-bit field.
  auto l = Def(regLong);
  Bytes d = {0x80, 0x00, 0x00, 0x01};
  EXPECT_TRUE(l->GetValueBit(d.data(), 0, 31));
  EXPECT_EQ(l->GetValueBitField(d.data(), 0, 0, 32), 0x80000001u);
  EXPECT_TRUE(l->SetValueBitField(d.data(), 0xFFFFFFFFu, 0, 0, 32));
  EXPECT_EQ(d, (Bytes{0xFF, 0xFF, 0xFF, 0xFF}));
  EXPECT_EQ(TlaRegDefinition::ExtractBitField(0xFFFFFFFFu, 40, 8), 0u);
  EXPECT_EQ(TlaRegDefinition::InsertBitField(0x12u, 0xFFu, 0, 0), 0x12u);
}

TEST(Codec, ErrorsAreRaisedBeforeAnyByteChanges) {
  auto s = Def(regShort, false, 2);
  auto date = Def(regDate);
  auto time = Def(regTime);
  auto str = Def(regString, false, 2);
  Bytes b(12, 0x11);
  std::uint8_t* p = b.data();
  int century = 0;
  const std::pair<std::function<void()>, std::string> cases[] = {
      {[&] { s->GetValueInteger(nullptr, 0); }, "GetValueInteger: Bad buffer pointer."},
      {[&] { s->GetValueInteger(p, 2); }, "GetValueInteger: Index out of range!"},
      {[&] { s->SetValueInteger(nullptr, 1, 0); }, "SetValueInteger: Bad buffer pointer."},
      {[&] { s->SetValueInteger(p, 1, 2); }, "SetValueInteger: Index out of range!"},
      {[&] { s->SetValueDouble(p, 2, 1.0); }, "SetValueInteger: Index out of range!"},
      {[&] { str->GetValueDouble(p, 0); }, "GetValueDouble: Wrong data type!"},
      {[&] { str->SetValueDouble(p, 0, 1.0); }, "SetValueDouble: Wrong data type!"},
      {[&] { s->GetValueBit(p, 0, 16); }, "GetValueBit: Bit index out of range."},
      {[&] { s->SetValueBit(p, true, 0, 16); }, "SetValueBit: Bit index out of range."},
      {[&] { s->GetValueBitField(p, 0, 13, 4); }, "GetValueBitField: Bit index out of range."},
      {[&] { s->SetValueBitField(p, 1, 0, 13, 4); }, "SetValueBitField: Bit index out of range."},
      {[&] { date->GetValueDate(nullptr, 0, 0); }, "GetValueDate: Bad buffer pointer."},
      {[&] { s->GetValueDate(p, 0, 0); }, "GetValueDate: Wrong data type!"},
      {[&] { date->GetValueDate(p, 1, 0); }, "GetValueDate: Index out of range."},
      {[&] { date->SetValueDate(nullptr, 0, century, 1.0); }, "SetValueDate: Bad buffer pointer."},
      {[&] { s->SetValueDate(p, 0, century, 1.0); }, "SetValueDate: Wrong data type!"},
      {[&] { date->SetValueDate(p, 1, century, 1.0); }, "SetValueDate: Index out of range."},
      {[&] { time->GetValueTime(nullptr, 0); }, "GetValueTime: Bad buffer pointer."},
      {[&] { date->GetValueTime(p, 0); }, "GetValueTime: Wrong data type!"},
      {[&] { time->GetValueTime(p, 1); }, "GetValueTime: Index out of range."},
      {[&] { time->SetValueTime(nullptr, 0, 0.5); }, "SetValueTime: Bad buffer pointer."},
      {[&] { date->SetValueTime(p, 0, 0.5); }, "SetValueTime: Wrong data type!"},
      {[&] { time->SetValueTime(p, 1, 0.5); }, "SetValueTime: Index out of range."},
      {[&] { str->GetValueString(nullptr); }, "GetValueString: Bad format pointer."},
      {[&] { s->GetValueString(p); }, "GetValueString: Wrong data type!"},
      {[&] { str->SetValueString(nullptr, "x"); }, "SetValueString: Bad format pointer."},
      {[&] { s->SetValueString(p, "x"); }, "SetValueString: Wrong data type!"},
      {[&] { s->GetValueText(p, 2); }, "GetValueInteger: Index out of range!"},
  };
  for (const auto& [call, text] : cases) ExpectError(call, text);
  EXPECT_EQ(b, Bytes(12, 0x11));
}

TEST(Codec, Dates) {
  auto d = Def(regDate);
  Bytes b = {0x00, 0x0F, 0x00, 0x03, 0x00, 0x0B};
  EXPECT_EQ(d->GetValueDate(b.data(), 0, 0), kd::EncodeDate(11, 3, 15));
  EXPECT_EQ(d->GetValueDate(b.data(), 0, 2000), kd::EncodeDate(2011, 3, 15));
  EXPECT_EQ(d->GetValueInteger(b.data(), 0), static_cast<int>(kd::EncodeDate(11, 3, 15)));
  // Impossible stored dates read as 0.0 without an error.
  const Bytes impossible[] = {{0, 0, 0, 3, 0, 11}, {0, 15, 0, 13, 0, 11}, {0, 31, 0, 2, 0, 11}, {0, 15, 0, 3, 0, 0}};
  for (const Bytes& x : impossible) EXPECT_EQ(d->GetValueDate(x.data(), 0, 0), 0.0);

  Bytes z(6, 0);
  int century = 0;
  EXPECT_TRUE(d->SetValueDate(z.data(), 0, century, kd::EncodeDate(2011, 3, 15) + 0.75));
  EXPECT_EQ(z, b);
  EXPECT_EQ(century, 2000);
  EXPECT_FALSE(d->SetValueDate(z.data(), 0, century, kd::EncodeDate(2011, 3, 15)));
  EXPECT_FALSE(d->SetValueDate(z.data(), 0, century, kd::EncodeDate(1911, 3, 15)));  // same two-digit year
  EXPECT_EQ(century, 1900);
}

TEST(Codec, Times) {
  auto t = Def(regTime, false, 2);
  Bytes b = {0x00, 0x1E, 0x00, 0x2D, 0x00, 0x0C, 0x00, 0x00, 0x00, 0x00, 0x00, 0x18};
  EXPECT_EQ(t->GetValueTime(b.data(), 0), kd::EncodeTime(12, 45, 30, 0));
  EXPECT_EQ(t->GetValueTime(b.data(), 1), 0.0);  // hour 24
  EXPECT_TRUE(t->SetValueTime(b.data(), 1, kd::EncodeTime(6, 7, 8, 900)));
  EXPECT_EQ(Bytes(b.begin() + 6, b.end()), (Bytes{0x00, 0x08, 0x00, 0x07, 0x00, 0x06}));
  EXPECT_FALSE(t->SetValueTime(b.data(), 1, kd::EncodeTime(6, 7, 8, 0)));
  EXPECT_TRUE(t->SetValueTime(b.data(), 1, 1.0 + kd::EncodeTime(6, 7, 8, 0)));  // a date part counts as a change
}

TEST(Codec, Strings) {
  auto s = Def(regString, false, 4);
  Bytes b = {0x00, 0x41, 0x00, 0x42, 0x00, 0x00, 0x00, 0x00};
  EXPECT_EQ(s->GetValueString(b.data()), std::string("AB\0\0", 4));
  EXPECT_EQ(s->GetValueText(b.data(), 3), std::string("AB\0\0", 4));

  Bytes w(8, 0x11);
  EXPECT_TRUE(s->SetValueString(w.data(), "  ABCD  "));
  EXPECT_EQ(w, (Bytes{0, 'A', 0, 'B', 0, 'C', 0, 'D'}));
  EXPECT_FALSE(s->SetValueString(w.data(), "ABCDEF"));  // cut to Length: the same bytes
  EXPECT_TRUE(s->SetValueString(w.data(), "AB"));
  EXPECT_EQ(w, b);  // the words past the text are cleared
  EXPECT_FALSE(s->SetValueString(w.data(), "AB"));
  // A stray high byte is cleared, but the text reads the same: no change.
  Bytes stray = {0x01, 0x41, 0x00, 0x42, 0x80, 0x00, 0x00, 0x00};
  EXPECT_FALSE(s->SetValueString(stray.data(), "AB"));
  EXPECT_EQ(stray, b);
}

TEST(Codec, DisplayText) {
  auto flags = Def(regShort);
  flags->Boolean = true;
  Bytes a5 = {0x00, 0xA5};
  EXPECT_EQ(flags->GetValueText(a5.data(), 0), "0xA5");
  flags->Signed = true;
  Bytes ones = {0xFF, 0xFF};
  EXPECT_EQ(flags->GetValueText(ones.data(), 0), "0xFFFFFFFF");

  auto n = Def(regShort, true);
  n->FormatNorm = 0.1;
  n->FormatString = "0.0 V";
  Bytes v = {0x00, 0x7B};
  EXPECT_EQ(n->GetValueText(v.data(), 0), "12.3 V");
  n->FormatString.clear();
  EXPECT_EQ(n->GetValueText(v.data(), 0), "12.3");

  auto d = Def(regDate);
  d->FormatString = "dd/mm/yyyy";
  Bytes date = {0x00, 0x0F, 0x00, 0x03, 0x00, 0x0B};
  EXPECT_EQ(d->GetValueText(date.data(), 0), "15/03/0011");
  auto t = Def(regTime);
  t->FormatString = "hh:nn:ss";
  Bytes time = {0x00, 0x1E, 0x00, 0x2D, 0x00, 0x0C};
  EXPECT_EQ(t->GetValueText(time.data(), 0), "12:45:30");
}

TEST(Codec, TypeNamesAndSizes) {
  const std::pair<const char*, int> names[] = {{"none", 0}, {"byte", 1}, {"short", 2}, {"long", 3},
                                               {"date", 4}, {"time", 5}, {"string", 6}, {"3", 3},
                                               {"float", 0}, {"260", 4}, {"0x06", 6}, {"Short", 0},
                                               {"", 7}};
  TlaRegDefinition d;
  for (const auto& [name, code] : names) {
    d.SetTypeName(name);
    EXPECT_EQ(d.Type, code) << name;
  }
  const int sizes[] = {2, 2, 2, 4, 6, 6, 2, 0};
  for (int code = 0; code < 8; ++code) {
    d.Type = static_cast<TlaRegisterType>(code);
    EXPECT_EQ(d.GetElementSize(), sizes[code]) << code;
  }
  d.Type = regLong;
  d.Length = 3;
  EXPECT_EQ(d.GetByteSize(), 12);
  EXPECT_TRUE(d.IsIntegerType());
  d.Type = regNone;
  EXPECT_FALSE(d.IsIntegerType());
}

// Elements past byte 255 of a long register are addressed at their own bytes.
TEST(Codec, LongRegistersAddressEveryElement) {
  auto d = Def(regDate, false, 60);  // 360 bytes
  Bytes b(360, 0);
  int century = 0;
  d->SetValueDate(b.data(), 50, century, kd::EncodeDate(2011, 3, 15));
  EXPECT_EQ(b[301], 15);
  EXPECT_EQ(d->GetValueDate(b.data(), 7, 2000), 0.0);  // element 7 (bytes 42..47) untouched
  EXPECT_EQ(d->GetValueDate(b.data(), 50, 2000), kd::EncodeDate(2011, 3, 15));
}
