#include "Tlaparvaluecls.h"

#include <cmath>
#include <cstdint>
#include <limits>

#include "Formats.h"
#include "Tladeviceslavecmp.h"
#include "Tlaregistercls.h"

namespace {

// A double truncated toward zero into an int; false for NaN, infinities and
// values outside the int range.
bool TruncToInt(double value, int& out) {
  const double t = std::trunc(value);
  if (!std::isfinite(t) || t < static_cast<double>(std::numeric_limits<int>::min()) ||
      t > static_cast<double>(std::numeric_limits<int>::max()))
    return false;
  out = static_cast<int>(t);
  return true;
}

// An integer value of a bound (truncated toward zero; 0 when it has none or
// it is no number).
std::uint32_t BoundBits(const TlaRegBound* bound) {
  if (!bound) return 0;
  const double t = std::trunc(bound->GetValue());
  if (!std::isfinite(t) || t < -2147483648.0 || t > 4294967295.0) return 0;
  return static_cast<std::uint32_t>(static_cast<std::int64_t>(t) & 0xFFFFFFFF);
}

}  // namespace

// ---------------------------------------------------------------------------
// TlaParValue

TlaParValue::TlaParValue(TlaDeviceSlave* device, TlaRegister* reg, std::uint8_t element)
    : Element(element), Register(reg), Device(device) {}

TlaParValue::~TlaParValue() = default;

bool TlaParValue::HasMax() { return Register && Register->MaxBound; }
bool TlaParValue::HasMin() { return Register && Register->MinBound; }
bool TlaParValue::HasDefault() { return Register && Register->DefaultBound; }

double TlaParValue::GetMax() { return HasMax() ? Register->MaxBound->GetValue() : 0.0; }
double TlaParValue::GetMin() { return HasMin() ? Register->MinBound->GetValue() : 0.0; }
double TlaParValue::GetDefault() { return HasDefault() ? Register->DefaultBound->GetValue() : 0.0; }

std::string TlaParValue::CodedText(double value) const {
  return Register ? Register->Definition->GetCodedText(Element, value) : std::string();
}

std::string TlaParValue::GetMaxText() { return HasMax() ? CodedText(GetMax()) : std::string(); }
std::string TlaParValue::GetMinText() { return HasMin() ? CodedText(GetMin()) : std::string(); }
std::string TlaParValue::GetDefaultText() { return HasDefault() ? CodedText(GetDefault()) : std::string(); }

void TlaParValue::SetValue(double value) {
  if (Register) Register->SetValueDouble(Element, value);
}

double TlaParValue::GetValue() { return Register ? Register->GetValueDouble(Element) : 0.0; }

std::string TlaParValue::GetName() {
  if (!Register) return {};
  std::string name = Register->Definition->GetElementName(Element);
  return name.empty() ? Register->Definition->GetDescr() : name;
}

std::string TlaParValue::GetValueText() { return Register ? Register->GetValueText(Element) : std::string(); }

void TlaParValue::SetDefault() {
  if (Register) Register->SetElementDefault(Element);
}

void TlaParValue::FillValueList(TlaParValueList* list, bool withLimits) {
  if (!list || !Register) return;
  list->clear();
  if (!withLimits) return;
  if (HasDefault()) list->push_back({GetDefaultText() + " (dflt)", parCodeDefault});
  if (HasMax()) list->push_back({GetMaxText() + " (max)", parCodeMax});
  if (HasMin()) list->push_back({GetMinText() + " (min)", parCodeMin});
}

void TlaParValue::AddDefaultRows(TlaParValueList* list, bool withLimits) {
  if (!withLimits || !HasDefault()) return;
  list->push_back({GetDefaultText() + " (dflt)", parCodeDefault});
  list->push_back({parSeparatorText, parCodeSeparator});
}

std::uint32_t TlaParValue::DefaultBits() { return Register ? BoundBits(Register->DefaultBound.get()) : 0; }

void TlaParValue::Dump(kd::StringList* list) {
  if (list) list->Add(GetName() + ":\t" + GetValueText());
}

bool TlaParValue::Read() { return Device && Register && Device->ReadReg(Register, true); }
bool TlaParValue::Write() { return Device && Register && Device->WriteReg(Register, true); }

// ---------------------------------------------------------------------------
// TlaParFrac16

namespace {

constexpr double kFraction = 3.0517578125e-05;  // 1/32768

// 2^(bound of the scale register taken as an unsigned number), or 1 without it.
double ScaleFactor(const TlaRegBound* scaleBound) {
  return scaleBound ? std::pow(2.0, static_cast<double>(BoundBits(scaleBound))) : 1.0;
}

}  // namespace

TlaParFrac16::TlaParFrac16(TlaDeviceSlave* device, TlaRegister* gain, TlaRegister* scale, std::uint8_t element)
    : TlaParValue(device, gain, element), ScaleRegister(scale) {}

double TlaParFrac16::BoundProduct(std::unique_ptr<TlaRegBound> TlaRegister::*bound) {
  if (!Register) return 0.0;
  const TlaRegBound* gain = (Register->*bound).get();
  return (gain ? gain->GetValue() : 0.0) * ScaleFactor(ScaleRegister ? (ScaleRegister->*bound).get() : nullptr);
}

double TlaParFrac16::GetMax() { return BoundProduct(&TlaRegister::MaxBound); }
double TlaParFrac16::GetMin() { return BoundProduct(&TlaRegister::MinBound); }
double TlaParFrac16::GetDefault() { return BoundProduct(&TlaRegister::DefaultBound); }

double TlaParFrac16::GetValue() {
  if (!Register) return 0.0;
  double value = Register->GetValueInteger(Element) * kFraction;
  if (ScaleRegister) {
    const auto e = static_cast<std::uint32_t>(ScaleRegister->GetValueInteger(Element));
    value *= std::pow(2.0, static_cast<double>(e));
  }
  return value;
}

void TlaParFrac16::SetValue(double value) {
  if (!Register || !std::isfinite(value)) return;
  if (Register->HasLimits) {
    if (HasMax() && GetMax() < value) value = GetMax();
    if (HasMin() && GetMin() > value) value = GetMin();
  }
  int exponent = 0;
  while (value >= 1.0 || value <= -1.0) {
    value *= 0.5;
    ++exponent;
  }
  const int mantissa = static_cast<int>(std::trunc(value * 32768.0));  // |value| < 1: always in range
  Register->SetValueInteger(Element, mantissa);
  if (ScaleRegister) ScaleRegister->SetValueInteger(Element, exponent);
}

void TlaParFrac16::SetDefault() {
  if (Register) Register->SetElementDefault(Element);
  if (ScaleRegister) ScaleRegister->SetElementDefault(Element);
}

bool TlaParFrac16::Read() {
  if (!Device || !Register || !ScaleRegister) return false;
  return Device->ReadReg(Register, true) && Device->ReadReg(ScaleRegister, true);
}

bool TlaParFrac16::Write() {
  if (!Device || !Register || !ScaleRegister) return false;
  return Device->WriteReg(Register, true) && Device->WriteReg(ScaleRegister, true);
}

// ---------------------------------------------------------------------------
// TlaParEncoded

std::string TlaParEncoded::GetValueText() {
  if (!Register) return {};
  const auto code = static_cast<std::uint32_t>(Register->GetValueInteger(Element));
  return CodedText(static_cast<double>(code));
}

void TlaParEncoded::FillValueList(TlaParValueList* list, bool withLimits) {
  if (!list || !Register) return;
  list->clear();
  AddDefaultRows(list, withLimits);
  if (!HasMax()) return;
  int last = 0;
  if (!TruncToInt(GetMax(), last)) return;
  for (int n = 0; n <= last; ++n) list->push_back({CodedText(n), n});
}

// ---------------------------------------------------------------------------
// TlaParBoolField

TlaParBoolField::TlaParBoolField(TlaDeviceSlave* device, TlaRegister* reg, std::uint8_t bit, std::uint8_t element)
    : TlaParValue(device, reg, element), Bit(bit) {}

bool TlaParBoolField::HasMax() { return true; }
double TlaParBoolField::GetMax() { return 1.0; }
bool TlaParBoolField::HasMin() { return true; }
double TlaParBoolField::GetMin() { return 0.0; }

double TlaParBoolField::GetDefault() {
  return Register ? static_cast<double>(TlaRegDefinition::ExtractBitField(DefaultBits(), Bit, 1)) : 0.0;
}

std::string TlaParBoolField::StateText(double value) {
  return Register ? Register->Definition->GetBitStateTexts(Element, Bit, value != 0.0) : std::string();
}

std::string TlaParBoolField::GetMaxText() { return StateText(GetMax()); }
std::string TlaParBoolField::GetMinText() { return StateText(GetMin()); }
std::string TlaParBoolField::GetDefaultText() { return HasDefault() ? StateText(GetDefault()) : std::string(); }

void TlaParBoolField::SetValue(double value) {
  if (Register) Register->SetValueBit(Element, Bit, value != 0.0);
}

double TlaParBoolField::GetValue() { return Register && Register->GetValueBit(Element, Bit) ? 1.0 : 0.0; }

std::string TlaParBoolField::GetName() {
  return Register ? Register->Definition->GetBitName(Element, Bit) : std::string();
}

std::string TlaParBoolField::GetValueText() {
  return Register ? Register->GetValueBitText(Element, Bit) : std::string();
}

void TlaParBoolField::SetDefault() {
  if (HasDefault()) Register->SetValueBitField(static_cast<int>(GetDefault()), Element, Bit, 1);
}

void TlaParBoolField::FillValueList(TlaParValueList* list, bool withLimits) {
  if (!list || !Register) return;
  list->clear();
  AddDefaultRows(list, withLimits);
  list->push_back({StateText(0.0), 0});
  list->push_back({StateText(1.0), 1});
}

// ---------------------------------------------------------------------------
// TlaParBitField

TlaParBitField::TlaParBitField(TlaDeviceSlave* device, TlaRegister* reg, std::uint8_t firstBit,
                               std::uint8_t bitCount, std::uint8_t element)
    : TlaParValue(device, reg, element), FirstBit(firstBit), BitCount(bitCount) {}

bool TlaParBitField::HasMax() { return true; }
double TlaParBitField::GetMax() { return std::ldexp(1.0, BitCount) - 1.0; }
bool TlaParBitField::HasMin() { return true; }
double TlaParBitField::GetMin() { return 0.0; }

double TlaParBitField::GetDefault() {
  return Register ? static_cast<double>(TlaRegDefinition::ExtractBitField(DefaultBits(), FirstBit, BitCount))
                  : 0.0;
}

std::string TlaParBitField::FieldText(int value) {
  return Register ? Register->Definition->GetBitFieldTexts(Element, FirstBit, BitCount, value) : std::string();
}

std::string TlaParBitField::GetMaxText() { return Register ? FieldText(static_cast<int>(GetMax())) : std::string(); }
std::string TlaParBitField::GetMinText() { return FieldText(0); }
std::string TlaParBitField::GetDefaultText() {
  return HasDefault() ? FieldText(static_cast<int>(GetDefault())) : std::string();
}

int TlaParBitField::GetField() { return Register ? Register->GetValueBitField(Element, FirstBit, BitCount) : -1; }

void TlaParBitField::SetField(int value) {
  if (Register) Register->SetValueBitField(value, Element, FirstBit, BitCount);
}

void TlaParBitField::SetValue(double value) {
  int field = 0;
  if (TruncToInt(value, field)) SetField(field);
}

double TlaParBitField::GetValue() { return Register ? GetField() : 0.0; }

std::string TlaParBitField::GetName() {
  return Register ? Register->Definition->GetBitFieldName(Element, FirstBit, BitCount) : std::string();
}

std::string TlaParBitField::GetValueText() { return Register ? FieldText(GetField()) : std::string(); }

void TlaParBitField::SetDefault() {
  if (HasDefault()) SetField(static_cast<int>(GetDefault()));
}

void TlaParBitField::FillValueList(TlaParValueList* list, bool withLimits) {
  if (!list || !Register) return;
  list->clear();
  AddDefaultRows(list, withLimits);
  const auto last = static_cast<std::int64_t>(GetMax());
  for (std::int64_t n = 0; n <= last; ++n) list->push_back({FieldText(static_cast<int>(n)), static_cast<int>(n)});
}
