#include "Tlaregdefinitioncls.h"

#include <cmath>
#include <cstddef>
#include <string_view>

#include "Exception.h"
#include "IniFile.h"

namespace {

constexpr const char* kTypeNames[8] = {"none", "byte", "short", "long", "date", "time", "string", ""};
constexpr int kElementSizes[7] = {2, 2, 2, 4, 6, 6, 2};

std::size_t At(int offset) { return static_cast<std::size_t>(offset); }

// Truncation toward zero of a date-time number (always well inside int).
std::int32_t TruncToInt(double value) {
  if (!(value > -2147483648.0 && value < 2147483648.0)) return 0;
  return static_cast<std::int32_t>(value);
}

// (value - offset) / norm, truncated toward zero, as 32 bits for the integer
// store. Values past the 32-bit range saturate (at the signed range for a
// signed register; below zero an unsigned register keeps the two's
// complement pattern, which the store then clamps). A zero norm or a NaN gives 0.
std::uint32_t RawFromScaled(double value, double norm, double offset, bool isSigned) {
  if (norm == 0.0) return 0;
  const double raw = std::trunc((value - offset) / norm);
  if (std::isnan(raw)) return 0;
  const double high = isSigned ? 2147483647.0 : 4294967295.0;
  const double clamped = raw > high ? high : raw < -2147483648.0 ? -2147483648.0 : raw;
  return static_cast<std::uint32_t>(static_cast<std::int64_t>(clamped) & 0xFFFFFFFF);
}

// Key of the coded-value item for a value: "Code" and the value truncated
// toward zero; empty for a value that no integer names (NaN, out of range).
std::string CodeKey(double value) {
  const double n = std::trunc(value);
  if (!(n > -9.2e18 && n < 9.2e18)) return {};
  return kd::Sprintf("Code%lld", static_cast<long long>(n));
}

std::uint64_t FieldMask(std::uint8_t width) {
  return width >= 32 ? 0xFFFFFFFFull : ((1ull << width) - 1);
}

bool StoreByte(std::uint8_t* bytes, int offset, std::uint8_t value) {
  const bool changed = bytes[At(offset)] != value;
  bytes[At(offset)] = value;
  return changed;
}

}  // namespace

TlaRegDefinition::TlaRegDefinition() { Clear(); }

TlaRegDefinition::~TlaRegDefinition() = default;

void TlaRegDefinition::Clear() {
  RegAddr = 0;
  RegProg = 0;
  Signed = false;
  Boolean = false;
  Name.clear();
  ExtraLines.Clear();
  Type = regNone;
  Length = 1;
  HasMaxValue = HasMinValue = HasDfltValue = false;
  MaxValue = MinValue = DfltValue = 0.0;
  UseFormat.clear();
  FormatNorm = 1.0;
  FormatOffset = 0.0;
  FormatString.clear();
  FormatMask.clear();
  FormatPrintf.clear();
}

bool TlaRegDefinition::LoadFromSection(std::uint16_t address, const kd::IniFile& ini) {
  Clear();
  RegAddr = address;
  const std::string section = std::to_string(address);
  if (!ini.SectionExists(section)) return false;

  RegProg = static_cast<std::uint16_t>(ini.ReadInteger(section, "RegProg", address) & 0xFFFF);
  Name = ini.ReadString(section, "Name", section);
  SetTypeName(kd::LowerCase(kd::Trim(ini.ReadString(section, "Type", "none"))));

  kd::StringList lines;
  ini.ReadSectionValues(section, lines);  // each key once, in file order
  for (std::string& line : lines.Lines())
    if (line.compare(0, Name.size(), Name) == 0) ExtraLines.Add(std::move(line));
  ExtraLines.SetValue("Descr", ini.ReadString(section, "Descr", ""));

  Length = static_cast<std::uint8_t>(ini.ReadInteger(section, "Length", 1) & 0xFF);
  if (Type <= regLong) {
    Signed = ini.ReadBool(section, "Signed", false);
    Boolean = ini.ReadBool(section, "Boolean", false);
    HasMaxValue = ini.ValueExists(section, "MaxValue");
    MaxValue = ini.ReadFloat(section, "MaxValue", 0.0);
    HasMinValue = ini.ValueExists(section, "MinValue");
    MinValue = ini.ReadFloat(section, "MinValue", 0.0);
    HasDfltValue = ini.ValueExists(section, "DfltValue");
    DfltValue = ini.ReadFloat(section, "DfltValue", 0.0);
  }

  UseFormat = ini.ReadString(section, "UseFormat", "");
  if (OnUseFormat) OnUseFormat(this, UseFormat);
  const std::string& formats = !UseFormat.empty() && ini.SectionExists(UseFormat) ? UseFormat : section;
  FormatNorm = ini.ReadFloat(formats, "FormatNorm", 1.0);
  FormatOffset = ini.ReadFloat(formats, "FormatOffset", 0.0);
  FormatString = ini.ReadString(formats, "FormatString", "");
  FormatMask = ini.ReadString(formats, "FormatMask", "");
  FormatPrintf = ini.ReadString(formats, "FormatPrintf", IsIntegerType() ? "%d" : "%s");
  return true;
}

std::string TlaRegDefinition::GetTypeName() const { return Type < 8 ? kTypeNames[Type] : std::string(); }

void TlaRegDefinition::SetTypeName(const std::string& name) {
  for (std::uint8_t code = 0; code < 8; ++code) {  // "" is code 7
    if (name == kTypeNames[code]) {
      Type = code;
      return;
    }
  }
  std::int32_t number = 0;
  Type = kd::TryParseInteger(name, number) ? static_cast<TlaRegisterType>(static_cast<std::uint32_t>(number) & 0xFF)
                                           : regNone;
}

int TlaRegDefinition::GetElementSize() const { return Type < 7 ? kElementSizes[Type] : 0; }

// ---------------------------------------------------------------------------
// Word level

std::uint8_t TlaRegDefinition::GetByte(const std::uint8_t* bytes, int element) {
  return bytes[At(2 * element + 1)];
}

bool TlaRegDefinition::SetByte(std::uint8_t* bytes, std::uint32_t value, int element) {
  bytes[At(2 * element)] = 0;
  return StoreByte(bytes, 2 * element + 1, static_cast<std::uint8_t>(value & 0xFF));
}

std::uint16_t TlaRegDefinition::GetShort(const std::uint8_t* bytes, int element) {
  return static_cast<std::uint16_t>(bytes[At(2 * element)] << 8 | bytes[At(2 * element + 1)]);
}

bool TlaRegDefinition::SetShort(std::uint8_t* bytes, std::uint32_t value, int element) {
  bool changed = StoreByte(bytes, 2 * element, static_cast<std::uint8_t>(value >> 8 & 0xFF));
  changed |= StoreByte(bytes, 2 * element + 1, static_cast<std::uint8_t>(value & 0xFF));
  return changed;
}

std::uint32_t TlaRegDefinition::GetLong(const std::uint8_t* bytes, int element) {
  const std::uint8_t* p = bytes + At(4 * element);
  return static_cast<std::uint32_t>(p[0]) << 24 | static_cast<std::uint32_t>(p[1]) << 16 |
         static_cast<std::uint32_t>(p[2]) << 8 | static_cast<std::uint32_t>(p[3]);
}

bool TlaRegDefinition::SetLong(std::uint8_t* bytes, std::uint32_t value, int element) {
  bool changed = false;
  for (int k = 0; k < 4; ++k)
    changed |= StoreByte(bytes, 4 * element + k, static_cast<std::uint8_t>(value >> (24 - 8 * k) & 0xFF));
  return changed;
}

std::uint32_t TlaRegDefinition::ExtractBitField(std::uint32_t value, std::uint8_t shift, std::uint8_t width) {
  if (shift >= 32) return 0;
  return static_cast<std::uint32_t>((static_cast<std::uint64_t>(value) >> shift) & FieldMask(width));
}

std::uint32_t TlaRegDefinition::InsertBitField(std::uint32_t value, std::uint32_t field, std::uint8_t shift,
                                               std::uint8_t width) {
  if (shift >= 32) return value;
  const std::uint64_t mask = FieldMask(width);
  const auto clear = static_cast<std::uint32_t>((mask << shift) & 0xFFFFFFFFu);
  const auto set = static_cast<std::uint32_t>(((field & mask) << shift) & 0xFFFFFFFFu);
  return (value & ~clear) | set;
}

// ---------------------------------------------------------------------------
// Integer and scaled values

std::int32_t TlaRegDefinition::GetValueInteger(const std::uint8_t* bytes, std::uint8_t element) const {
  if (!bytes) throw kd::Exception("GetValueInteger: Bad buffer pointer.");
  if (element >= Length) throw kd::Exception("GetValueInteger: Index out of range!");
  switch (Type) {
    case regNone:
    case regShort: {
      const std::uint16_t v = GetShort(bytes, element);
      return Signed ? static_cast<std::int16_t>(v) : static_cast<std::int32_t>(v);
    }
    case regByte:
    case regString: {
      const std::uint8_t v = GetByte(bytes, element);
      return Signed ? static_cast<std::int8_t>(v) : static_cast<std::int32_t>(v);
    }
    case regLong:
      return static_cast<std::int32_t>(GetLong(bytes, element));
    case regDate:
      return TruncToInt(GetValueDate(bytes, element, 0));
    case regTime:
      return TruncToInt(GetValueTime(bytes, element));
    default:
      return 0;
  }
}

bool TlaRegDefinition::SetValueInteger(std::uint8_t* bytes, std::int32_t value, std::uint8_t element) const {
  if (!bytes) throw kd::Exception("SetValueInteger: Bad buffer pointer.");
  if (element >= Length) throw kd::Exception("SetValueInteger: Index out of range!");
  if (IsIntegerType() && GetElementSize() == 2) {
    // Byte registers are clamped to the word range too.
    if (Signed) {
      if (value < -32768) value = -32768;
      if (value > 32767) value = 32767;
    } else if (static_cast<std::uint32_t>(value) > 65535u) {
      value = 65535;
    }
  }
  const auto bits = static_cast<std::uint32_t>(value);
  int century = 0;
  switch (Type) {
    case regNone:
    case regShort:
      return SetShort(bytes, bits & 0xFFFF, element);
    case regByte:
    case regString:
      return SetByte(bytes, bits & 0xFF, element);
    case regLong:
      return SetLong(bytes, bits, element);
    case regDate:
      return SetValueDate(bytes, element, century, static_cast<double>(value));
    case regTime:
      return SetValueTime(bytes, element, static_cast<double>(value));
    default:
      return false;
  }
}

double TlaRegDefinition::GetValueDouble(const std::uint8_t* bytes, std::uint8_t element) const {
  if (Type == regString) throw kd::Exception("GetValueDouble: Wrong data type!");
  const std::int32_t raw = GetValueInteger(bytes, element);
  const double r = Signed ? static_cast<double>(raw) : static_cast<double>(static_cast<std::uint32_t>(raw));
  return FormatNorm * r + FormatOffset;
}

bool TlaRegDefinition::SetValueDouble(std::uint8_t* bytes, std::uint8_t element, double value) const {
  if (Type == regString) throw kd::Exception("SetValueDouble: Wrong data type!");
  const std::uint32_t raw = RawFromScaled(value, FormatNorm, FormatOffset, Signed);
  return SetValueInteger(bytes, static_cast<std::int32_t>(raw), element);
}

// ---------------------------------------------------------------------------
// Bits and bit fields

void TlaRegDefinition::CheckBit(const char* operation, int bit) const {
  if (bit >= 8 * GetElementSize()) throw kd::Exception(std::string(operation) + ": Bit index out of range.");
}

void TlaRegDefinition::CheckField(const char* operation, int shift, int width) const {
  if (shift + width - 1 >= 8 * GetElementSize())
    throw kd::Exception(std::string(operation) + ": Bit index out of range.");
}

bool TlaRegDefinition::GetValueBit(const std::uint8_t* bytes, std::uint8_t element, std::uint8_t bit) const {
  CheckBit("GetValueBit", bit);
  return ExtractBitField(static_cast<std::uint32_t>(GetValueInteger(bytes, element)), bit, 1) != 0;
}

bool TlaRegDefinition::SetValueBit(std::uint8_t* bytes, bool state, std::uint8_t element, std::uint8_t bit) const {
  CheckBit("SetValueBit", bit);
  const auto v = static_cast<std::uint32_t>(GetValueInteger(bytes, element));
  return SetValueInteger(bytes, static_cast<std::int32_t>(InsertBitField(v, state ? 1u : 0u, bit, 1)), element);
}

std::uint32_t TlaRegDefinition::GetValueBitField(const std::uint8_t* bytes, std::uint8_t element,
                                                 std::uint8_t shift, std::uint8_t width) const {
  CheckField("GetValueBitField", shift, width);
  return ExtractBitField(static_cast<std::uint32_t>(GetValueInteger(bytes, element)), shift, width);
}

bool TlaRegDefinition::SetValueBitField(std::uint8_t* bytes, std::uint32_t field, std::uint8_t element,
                                        std::uint8_t shift, std::uint8_t width) const {
  CheckField("SetValueBitField", shift, width);
  const auto v = static_cast<std::uint32_t>(GetValueInteger(bytes, element));
  return SetValueInteger(bytes, static_cast<std::int32_t>(InsertBitField(v, field, shift, width)), element);
}

// ---------------------------------------------------------------------------
// Dates and times: three words per element, each value in the low byte.

kd::TDateTime TlaRegDefinition::GetValueDate(const std::uint8_t* bytes, std::uint8_t element,
                                             std::uint16_t yearBase) const {
  if (!bytes) throw kd::Exception("GetValueDate: Bad buffer pointer.");
  if (Type != regDate) throw kd::Exception("GetValueDate: Wrong data type!");
  if (element >= Length) throw kd::Exception("GetValueDate: Index out of range.");
  const int base = 3 * element;
  const int d = GetByte(bytes, base), m = GetByte(bytes, base + 1), y = GetByte(bytes, base + 2);
  kd::TDateTime out = 0.0;
  if (d >= 1 && d <= 31 && m >= 1 && m <= 12 && kd::TryEncodeDate(y + yearBase, m, d, out)) return out;
  return 0.0;
}

bool TlaRegDefinition::SetValueDate(std::uint8_t* bytes, std::uint8_t element, int& century,
                                    kd::TDateTime value) const {
  if (!bytes) throw kd::Exception("SetValueDate: Bad buffer pointer.");
  if (Type != regDate) throw kd::Exception("SetValueDate: Wrong data type!");
  if (element >= Length) throw kd::Exception("SetValueDate: Index out of range.");
  int year = 0, month = 0, day = 0;
  kd::DecodeDate(value, year, month, day);
  century = year / 100 * 100;
  const int base = 3 * element;
  bool changed = SetByte(bytes, static_cast<std::uint32_t>(day), base);
  changed |= SetByte(bytes, static_cast<std::uint32_t>(month), base + 1);
  changed |= SetByte(bytes, static_cast<std::uint32_t>(year % 100), base + 2);
  return changed;
}

kd::TDateTime TlaRegDefinition::GetValueTime(const std::uint8_t* bytes, std::uint8_t element) const {
  if (!bytes) throw kd::Exception("GetValueTime: Bad buffer pointer.");
  if (Type != regTime) throw kd::Exception("GetValueTime: Wrong data type!");
  if (element >= Length) throw kd::Exception("GetValueTime: Index out of range.");
  const int base = 3 * element;
  const int s = GetByte(bytes, base), n = GetByte(bytes, base + 1), h = GetByte(bytes, base + 2);
  kd::TDateTime out = 0.0;
  if (h <= 23 && n <= 59 && s <= 59 && kd::TryEncodeTime(h, n, s, 0, out)) return out;
  return 0.0;
}

bool TlaRegDefinition::SetValueTime(std::uint8_t* bytes, std::uint8_t element, kd::TDateTime value) const {
  if (!bytes) throw kd::Exception("SetValueTime: Bad buffer pointer.");
  if (Type != regTime) throw kd::Exception("SetValueTime: Wrong data type!");
  if (element >= Length) throw kd::Exception("SetValueTime: Index out of range.");
  const bool changed = GetValueTime(bytes, element) != value;
  int hour = 0, minute = 0, second = 0, msec = 0;
  kd::DecodeTime(value, hour, minute, second, msec);
  const int base = 3 * element;
  SetByte(bytes, static_cast<std::uint32_t>(second), base);
  SetByte(bytes, static_cast<std::uint32_t>(minute), base + 1);
  SetByte(bytes, static_cast<std::uint32_t>(hour), base + 2);
  return changed;
}

// ---------------------------------------------------------------------------
// Strings: one character per word, in the low byte.

std::string TlaRegDefinition::GetValueString(const std::uint8_t* bytes) const {
  if (!bytes) throw kd::Exception("GetValueString: Bad format pointer.");
  if (Type != regString) throw kd::Exception("GetValueString: Wrong data type!");
  std::string text(Length, '\0');
  for (int j = 0; j < Length; ++j) text[At(j)] = static_cast<char>(GetByte(bytes, j));
  return text;
}

bool TlaRegDefinition::SetValueString(std::uint8_t* bytes, const std::string& text) const {
  if (!bytes) throw kd::Exception("SetValueString: Bad format pointer.");
  if (Type != regString) throw kd::Exception("SetValueString: Wrong data type!");
  // Words past the end of the text are cleared; as SetByte has it, clearing a
  // high byte is no change.
  const std::string trimmed = kd::Trim(text);
  bool changed = false;
  for (int j = 0; j < Length; ++j) {
    const auto c = At(j) < trimmed.size() ? static_cast<std::uint8_t>(trimmed[At(j)]) : std::uint8_t{0};
    changed |= SetByte(bytes, c, j);
  }
  return changed;
}

std::string TlaRegDefinition::GetValueText(const std::uint8_t* bytes, std::uint8_t element) const {
  switch (Type) {
    case regDate:
      return kd::FormatDateTime(FormatString, GetValueDate(bytes, element, 0));
    case regTime:
      return kd::FormatDateTime(FormatString, GetValueTime(bytes, element));
    case regString:
      return GetValueString(bytes);
    default:
      if (Boolean) return kd::Sprintf("0x%X", static_cast<unsigned>(GetValueInteger(bytes, element)));
      return kd::FormatFloat(FormatString, GetValueDouble(bytes, element));
  }
}

// ---------------------------------------------------------------------------
// Register texts

std::string TlaRegDefinition::ItemOf(const std::string& lineKey, const std::string& itemKey) const {
  const std::string raw = ExtraLines.Values(lineKey);
  if (raw.empty()) return {};
  return kd::StringList(kd::SplitCommaText(raw)).Values(itemKey);
}

std::string TlaRegDefinition::GetDescr() const {
  std::string text = ExtraLines.Values(Name);
  if (text.empty()) text = ExtraLines.Values("Descr");
  return text.empty() ? Name : text;
}

std::string TlaRegDefinition::GetElementName(std::uint8_t element) const {
  return ExtraLines.Values(kd::Sprintf("%s.%d", Name.c_str(), element));
}

std::string TlaRegDefinition::GetBitName(std::uint8_t element, std::uint8_t bit) const {
  const std::string key = kd::Sprintf("%s.%d.%d", Name.c_str(), element, bit);
  const std::string name = ItemOf(key, "Name");
  return name.empty() ? ExtraLines.Values(key) : name;
}

std::string TlaRegDefinition::GetBitFieldName(std::uint8_t element, std::uint8_t shift, std::uint8_t width) const {
  return ItemOf(kd::Sprintf("%s.%d.%d_%d", Name.c_str(), element, shift, width), "Name");
}

std::string TlaRegDefinition::GetCodedText(std::uint8_t element, double value) const {
  const std::string code = CodeKey(value);
  const std::string text =
      code.empty() ? std::string() : ItemOf(kd::Sprintf("%s.%d_Coded", Name.c_str(), element), code);
  return text.empty() ? kd::FormatFloat(FormatString, value) : text;
}

std::string TlaRegDefinition::GetBitStateTexts(std::uint8_t element, std::uint8_t bit, bool state) const {
  const std::string text = ItemOf(kd::Sprintf("%s.%d.%d", Name.c_str(), element, bit), state ? "True" : "False");
  if (!text.empty()) return text;
  return kd::FormatFloat(FormatString.empty() ? std::string_view("1;1;0") : std::string_view(FormatString),
                         state ? 1.0 : 0.0);
}

std::string TlaRegDefinition::GetBitFieldTexts(std::uint8_t element, std::uint8_t shift, std::uint8_t width,
                                               int value) const {
  const std::string text =
      ItemOf(kd::Sprintf("%s.%d.%d_%d", Name.c_str(), element, shift, width), kd::Sprintf("Field%d", value));
  return text.empty() ? kd::Sprintf("%d (%Xh)", value, static_cast<unsigned>(value)) : text;
}

std::string TlaRegDefinition::GetValueBitText(const std::uint8_t* bytes, std::uint8_t element,
                                              std::uint8_t bit) const {
  if (Type == regDate || Type == regTime) return GetValueText(bytes, element);
  if (Type == regString) return GetValueString(bytes);
  if (Boolean) return GetBitStateTexts(element, bit, GetValueBit(bytes, element, bit));
  return GetValueText(bytes, element);
}

std::string TlaRegDefinition::GetBitFieldText(const std::uint8_t* bytes, std::uint8_t element, std::uint8_t shift,
                                              std::uint8_t width) const {
  if (Type == regDate || Type == regTime) return GetValueText(bytes, element);
  if (Type == regString) return GetValueString(bytes);
  if (Boolean)
    return GetBitFieldTexts(element, shift, width,
                            static_cast<int>(GetValueBitField(bytes, element, shift, width)));
  return GetValueText(bytes, element);
}
