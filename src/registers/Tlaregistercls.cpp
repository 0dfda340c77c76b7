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

template <class Codec>
auto TlaRegister::Read(Codec&& codec) {
  if (State != 0 && State != 3) State = 2;
  TlaThreadBuffer::ReadAccess access(*Segment);
  return codec(*Definition, access.Data());
}

template <class Clamp, class Codec>
void TlaRegister::Write(double value, Clamp&& clamp, Codec&& codec) {
  bool allow = true;
  if (OnBeforeEdit) OnBeforeEdit(this, allow, value);
  if (!allow) return;
  auto clamped = clamp();  // bounds read other registers: before the write lock
  State = 3;
  bool changed;
  {
    TlaThreadBuffer::WriteAccess access(*Segment);
    changed = codec(*Definition, access.Data(), clamped);
  }
  if (OnAfterEdit) OnAfterEdit(this, changed);
}

namespace {

constexpr auto kNoClamp = [] { return 0; };

}  // namespace

// ---------------------------------------------------------------------------
// Reads

bool TlaRegister::GetValueBit(std::uint8_t element, std::uint8_t bit) {
  return Read([&](const TlaRegDefinition& d, const std::uint8_t* p) { return d.GetValueBit(p, element, bit); });
}

int TlaRegister::GetValueInteger(std::uint8_t element) {
  return Read([&](const TlaRegDefinition& d, const std::uint8_t* p) { return d.GetValueInteger(p, element); });
}

double TlaRegister::GetValueDouble(std::uint8_t element) {
  return Read([&](const TlaRegDefinition& d, const std::uint8_t* p) { return d.GetValueDouble(p, element); });
}

int TlaRegister::GetValueBitField(std::uint8_t element, std::uint8_t shift, std::uint8_t width) {
  return Read([&](const TlaRegDefinition& d, const std::uint8_t* p) {
    return static_cast<int>(d.GetValueBitField(p, element, shift, width));
  });
}

std::string TlaRegister::GetValueText(std::uint8_t element) {
  return Read([&](const TlaRegDefinition& d, const std::uint8_t* p) { return d.GetValueText(p, element); });
}

std::string TlaRegister::GetValueBitText(std::uint8_t element, std::uint8_t bit) {
  return Read([&](const TlaRegDefinition& d, const std::uint8_t* p) { return d.GetValueBitText(p, element, bit); });
}

std::string TlaRegister::GetBitFieldText(std::uint8_t element, std::uint8_t shift, std::uint8_t width) {
  return Read([&](const TlaRegDefinition& d, const std::uint8_t* p) {
    return d.GetBitFieldText(p, element, shift, width);
  });
}

std::string TlaRegister::GetValueString() {
  return Read([](const TlaRegDefinition& d, const std::uint8_t* p) { return d.GetValueString(p); });
}

// ---------------------------------------------------------------------------
// Writes

void TlaRegister::SetValueBit(std::uint8_t element, std::uint8_t bit, bool value) {
  Write(value ? 1.0 : 0.0, kNoClamp, [&](const TlaRegDefinition& d, std::uint8_t* p, int) {
    return d.SetValueBit(p, value, element, bit);
  });
}

void TlaRegister::SetValueInteger(std::uint8_t element, int value) {
  // Bounds are compared in the scaled unit; when both are crossed the maximum
  // wins. A crossed bound is stored through the scaled setter.
  struct Limit {
    bool clamped = false;
    double bound = 0.0;
  };
  auto clamp = [&] {
    Limit limit;
    if (!HasLimits) return limit;
    const double raw = Definition->Signed ? static_cast<double>(value)
                                          : static_cast<double>(static_cast<std::uint32_t>(value));
    const double scaled = raw * Definition->FormatNorm + Definition->FormatOffset;
    if (MaxBound && (limit.bound = MaxBound->GetValue()) < scaled)
      limit.clamped = true;
    else if (MinBound && (limit.bound = MinBound->GetValue()) > scaled)
      limit.clamped = true;
    return limit;
  };
  Write(static_cast<double>(static_cast<std::uint32_t>(value)), clamp,
        [&](const TlaRegDefinition& d, std::uint8_t* p, const Limit& limit) {
          return limit.clamped ? d.SetValueDouble(p, element, limit.bound) : d.SetValueInteger(p, value, element);
        });
}

void TlaRegister::SetValueDouble(std::uint8_t element, double value) {
  // When both bounds are crossed the minimum wins.
  auto clamp = [&] {
    double v = value;
    if (HasLimits) {
      if (MaxBound) {
        const double max = MaxBound->GetValue();
        if (max < v) v = max;
      }
      if (MinBound) {
        const double min = MinBound->GetValue();
        if (min > v) v = min;
      }
    }
    return v;
  };
  Write(value, clamp, [&](const TlaRegDefinition& d, std::uint8_t* p, double v) {
    return d.SetValueDouble(p, element, v);
  });
}

void TlaRegister::SetValueBitField(int value, std::uint8_t element, std::uint8_t shift, std::uint8_t width) {
  Write(static_cast<double>(value), kNoClamp, [&](const TlaRegDefinition& d, std::uint8_t* p, int) {
    return d.SetValueBitField(p, static_cast<std::uint32_t>(value), element, shift, width);
  });
}

void TlaRegister::SetValueDate(std::uint8_t element, kd::TDateTime value) {
  Write(value, kNoClamp, [&](const TlaRegDefinition& d, std::uint8_t* p, int) {
    int century = 0;
    return d.SetValueDate(p, element, century, value);
  });
}

void TlaRegister::SetValueTime(std::uint8_t element, kd::TDateTime value) {
  Write(value, kNoClamp, [&](const TlaRegDefinition& d, std::uint8_t* p, int) {
    return d.SetValueTime(p, element, value);
  });
}

// No before-edit event for strings; the mark is set after the write.
void TlaRegister::SetValueString(const std::string& text) {
  bool changed;
  {
    TlaThreadBuffer::WriteAccess access(*Segment);
    changed = Definition->SetValueString(access.Data(), text);
  }
  State = 3;
  if (OnAfterEdit) OnAfterEdit(this, changed);
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
