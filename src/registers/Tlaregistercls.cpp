#include "Tlaregistercls.h"

#include "Exception.h"
#include "IniFile.h"

TlaRegister::TlaRegister(TlaRegDefinition* definition, std::unique_ptr<TlaThreadBuffer> segment)
    : Definition(definition), Segment(std::move(segment)) {
  if (!Definition || !Segment) throw kd::Exception("TlaRegister: You must specify definition and segment!");
  if (Definition->HasMaxValue)
    MaxBound = std::make_unique<TlaRegBound>(TlaRegBound::KindMax, TlaRegBound::ModeReplace, Definition->MaxValue);
  if (Definition->HasMinValue)
    MinBound = std::make_unique<TlaRegBound>(TlaRegBound::KindMin, TlaRegBound::ModeReplace, Definition->MinValue);
  if (Definition->HasDfltValue)
    DefaultBound =
        std::make_unique<TlaRegBound>(TlaRegBound::KindDefault, TlaRegBound::ModeReplace, Definition->DfltValue);
  HasLimits = (MaxBound || MinBound) ? 1 : 0;
}

TlaRegister::~TlaRegister() = default;

void TlaRegister::MarkRead() {
  if (State != 0 && State != 3) State = 2;
}

bool TlaRegister::AllowEdit(double value) {
  bool allow = true;
  if (OnBeforeEdit) OnBeforeEdit(this, allow, value);
  return allow;
}

void TlaRegister::AfterEdit(bool changed) {
  if (OnAfterEdit) OnAfterEdit(this, changed);
}

// ---------------------------------------------------------------------------
// Reads

bool TlaRegister::GetValueBit(std::uint8_t element, std::uint8_t bit) {
  MarkRead();
  TlaThreadBuffer::ReadAccess access(*Segment);
  return Definition->GetValueBit(access.Data(), element, bit);
}

int TlaRegister::GetValueInteger(std::uint8_t element) {
  MarkRead();
  TlaThreadBuffer::ReadAccess access(*Segment);
  return Definition->GetValueInteger(access.Data(), element);
}

double TlaRegister::GetValueDouble(std::uint8_t element) {
  MarkRead();
  TlaThreadBuffer::ReadAccess access(*Segment);
  return Definition->GetValueDouble(access.Data(), element);
}

int TlaRegister::GetValueBitField(std::uint8_t element, std::uint8_t shift, std::uint8_t width) {
  MarkRead();
  TlaThreadBuffer::ReadAccess access(*Segment);
  return static_cast<int>(Definition->GetValueBitField(access.Data(), element, shift, width));
}

std::string TlaRegister::GetValueText(std::uint8_t element) {
  MarkRead();
  TlaThreadBuffer::ReadAccess access(*Segment);
  return Definition->GetValueText(access.Data(), element);
}

std::string TlaRegister::GetValueBitText(std::uint8_t element, std::uint8_t bit) {
  MarkRead();
  TlaThreadBuffer::ReadAccess access(*Segment);
  return Definition->GetValueBitText(access.Data(), element, bit);
}

std::string TlaRegister::GetBitFieldText(std::uint8_t element, std::uint8_t shift, std::uint8_t width) {
  MarkRead();
  TlaThreadBuffer::ReadAccess access(*Segment);
  return Definition->GetBitFieldText(access.Data(), element, shift, width);
}

std::string TlaRegister::GetValueString() {
  MarkRead();
  TlaThreadBuffer::ReadAccess access(*Segment);
  return Definition->GetValueString(access.Data());
}

// ---------------------------------------------------------------------------
// Writes

void TlaRegister::SetValueBit(std::uint8_t element, std::uint8_t bit, bool value) {
  if (!AllowEdit(value ? 1.0 : 0.0)) return;
  State = 3;
  bool changed;
  {
    TlaThreadBuffer::WriteAccess access(*Segment);
    changed = Definition->SetValueBit(access.Data(), value, element, bit);
  }
  AfterEdit(changed);
}

void TlaRegister::SetValueInteger(std::uint8_t element, int value) {
  if (!AllowEdit(static_cast<double>(static_cast<std::uint32_t>(value)))) return;
  // Bounds are compared in the scaled unit; when both are crossed the maximum wins.
  bool clamped = false;
  double bound = 0.0;
  if (HasLimits) {
    const double raw = Definition->Signed ? static_cast<double>(value)
                                          : static_cast<double>(static_cast<std::uint32_t>(value));
    const double scaled = raw * Definition->FormatNorm + Definition->FormatOffset;
    if (MaxBound && (bound = MaxBound->GetValue()) < scaled)
      clamped = true;
    else if (MinBound && (bound = MinBound->GetValue()) > scaled)
      clamped = true;
  }
  State = 3;
  bool changed;
  {
    TlaThreadBuffer::WriteAccess access(*Segment);
    changed = clamped ? Definition->SetValueDouble(access.Data(), element, bound)
                      : Definition->SetValueInteger(access.Data(), value, element);
  }
  AfterEdit(changed);
}

void TlaRegister::SetValueDouble(std::uint8_t element, double value) {
  if (!AllowEdit(value)) return;
  // When both bounds are crossed the minimum wins.
  if (HasLimits) {
    if (MaxBound) {
      const double max = MaxBound->GetValue();
      if (max < value) value = max;
    }
    if (MinBound) {
      const double min = MinBound->GetValue();
      if (min > value) value = min;
    }
  }
  State = 3;
  bool changed;
  {
    TlaThreadBuffer::WriteAccess access(*Segment);
    changed = Definition->SetValueDouble(access.Data(), element, value);
  }
  AfterEdit(changed);
}

void TlaRegister::SetValueBitField(int value, std::uint8_t element, std::uint8_t shift, std::uint8_t width) {
  if (!AllowEdit(static_cast<double>(value))) return;
  State = 3;
  bool changed;
  {
    TlaThreadBuffer::WriteAccess access(*Segment);
    changed = Definition->SetValueBitField(access.Data(), static_cast<std::uint32_t>(value), element, shift, width);
  }
  AfterEdit(changed);
}

void TlaRegister::SetValueDate(std::uint8_t element, kd::TDateTime value) {
  if (!AllowEdit(value)) return;
  State = 3;
  bool changed;
  {
    TlaThreadBuffer::WriteAccess access(*Segment);
    int century = 0;
    changed = Definition->SetValueDate(access.Data(), element, century, value);
  }
  AfterEdit(changed);
}

void TlaRegister::SetValueTime(std::uint8_t element, kd::TDateTime value) {
  if (!AllowEdit(value)) return;
  State = 3;
  bool changed;
  {
    TlaThreadBuffer::WriteAccess access(*Segment);
    changed = Definition->SetValueTime(access.Data(), element, value);
  }
  AfterEdit(changed);
}

void TlaRegister::SetValueString(const std::string& text) {
  bool changed;
  {
    TlaThreadBuffer::WriteAccess access(*Segment);
    changed = Definition->SetValueString(access.Data(), text);
  }
  State = 3;
  AfterEdit(changed);
}

void TlaRegister::SetValueText(const std::string& text, std::uint8_t element) {
  switch (Definition->Type) {
    case regByte:
    case regShort:
    case regLong:
      SetValueDouble(element, kd::StrToFloat(kd::Trim(text)));
      break;
    case regDate:
      SetValueDate(element, kd::StrToDateTime(kd::Trim(text)));
      break;
    case regTime:
      SetValueTime(element, kd::StrToDateTime(kd::Trim(text)));
      break;
    case regString:
      SetValueString(text);
      break;
    default:
      break;
  }
}

// ---------------------------------------------------------------------------
// Defaults, listing, INI values

bool TlaRegister::IsZero() {
  TlaThreadBuffer::ReadAccess access(*Segment);
  const std::uint8_t* p = access.Data();
  for (int k = 0; k < Segment->Size(); ++k)
    if (p[k] != 0) return false;
  return true;
}

void TlaRegister::SetElementDefault(std::uint8_t element) {
  if (Definition->IsIntegerType() && DefaultBound) SetValueDouble(element, DefaultBound->GetValue());
}

void TlaRegister::SetDefaults() {
  if (!Definition->IsIntegerType()) return;
  for (int i = 0; i < Definition->Length; ++i) SetElementDefault(static_cast<std::uint8_t>(i));
}

void TlaRegister::Dump(kd::StringList* list) {
  if (!list || Definition->Type > regString) return;
  const TlaRegDefinition& d = *Definition;
  if (d.Type == regString) {
    list->Add(d.GetDescr() + ":");
    std::string value = "\t";
    value += GetValueString();
    list->Add(std::move(value));
    return;
  }
  int bitCount = 0;
  switch (d.Type) {
    case regByte: bitCount = 8; break;
    case regShort: bitCount = 16; break;
    case regNone:
    case regLong: bitCount = 32; break;
    default: break;
  }
  // Bits past the element's width would only raise: they are not listed.
  if (bitCount > 8 * d.GetElementSize()) bitCount = 8 * d.GetElementSize();
  // The description line carries the value of an unnamed first element;
  // every other element gets its own indented line.
  std::string line = d.GetDescr() + ":";
  bool pending = true;  // line not yet in the list
  for (int k = 0; k < d.Length; ++k) {
    const auto i = static_cast<std::uint8_t>(k);
    const std::string name = d.GetElementName(i);
    if (!name.empty() || k > 0) {
      if (pending) list->Add(line);
      line = kd::Sprintf("\t[%3d] %s:", k, name.c_str());
    }
    if (!d.Boolean) {
      line += '\t';
      line += GetValueText(i);
    }
    list->Add(line);
    pending = false;
    if (d.Boolean) {
      for (int b = 0; b < bitCount; ++b) {
        const auto bit = static_cast<std::uint8_t>(b);
        const std::string bitName = d.GetBitName(i, bit);
        if (!bitName.empty())
          list->Add(kd::Sprintf("\t\t[%2d] %s:\t%s", b, bitName.c_str(), GetValueBitText(i, bit).c_str()));
      }
    }
  }
  if (pending) list->Add(line);
}

void TlaRegister::SaveToIni(const std::string& section, kd::IniFile* ini) {
  if (!ini) return;
  std::string value;
  for (int i = 0; i < Definition->Length; ++i) {
    if (i) value += ',';
    value += kd::Sprintf("\"%d\"", GetValueInteger(static_cast<std::uint8_t>(i)));
  }
  ini->WriteString(section, Definition->Name, value);
}

void TlaRegister::LoadFromIni(const std::string& section, const kd::IniFile* ini) {
  if (!ini) return;
  if (!ini->ValueExists(section, Definition->Name)) {
    SetDefaults();
    return;
  }
  const std::string value = ini->ReadString(section, Definition->Name, "");
  if (value.empty()) {
    SetDefaults();
    return;
  }
  // Items may have lost their outer quotes to the reader; quotes left at an
  // item's ends are dropped.
  const std::vector<std::string> items = kd::SplitCommaText(value);
  for (std::size_t i = 0; i < Definition->Length && i < items.size(); ++i) {
    std::string item = items[i];
    while (!item.empty() && item.front() == '"') item.erase(0, 1);
    while (!item.empty() && item.back() == '"') item.pop_back();
    SetValueInteger(static_cast<std::uint8_t>(i), kd::StrToInt(item));
  }
}
