#include "Tlaversionrecordcls.h"

#include "Formats.h"
#include "Strings.h"

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsAlnum(int c) { return IsDigit(static_cast<char>(c)) || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

int High(std::uint16_t letters) { return letters >> 8; }
int Low(std::uint16_t letters) { return letters & 0xFF; }
std::uint16_t WithHigh(std::uint16_t letters, char c) {
  return static_cast<std::uint16_t>((static_cast<unsigned char>(c) << 8) | (letters & 0xFF));
}
std::uint16_t WithLow(std::uint16_t letters, char c) {
  return static_cast<std::uint16_t>((letters & 0xFF00) | static_cast<unsigned char>(c));
}

// "-AB", "-A" or nothing: the second letter is printed only after a first.
std::string LetterSuffix(std::uint16_t letters) {
  std::string s;
  if (!IsAlnum(High(letters))) return s;
  s = kd::Sprintf("-%c", High(letters));
  if (IsAlnum(Low(letters))) s += kd::Sprintf("%c", Low(letters));
  return s;
}

bool IsSet(int letter) { return letter >= 1 && letter <= 127; }

// A pattern's letters: a first letter given must be equal; so must a second
// given after it.
bool LettersMatch(std::uint16_t pattern, std::uint16_t record) {
  if (!IsSet(High(pattern))) return true;
  if (High(pattern) != High(record)) return false;
  return !IsSet(Low(pattern)) || Low(pattern) == Low(record);
}

}  // namespace

void TlaVersionRecord::SetVersionNumber(std::uint16_t number) {
  Hundreds = number / 100;
  Tens = number % 100 / 10;
  Units = number % 10;
}

std::uint16_t TlaVersionRecord::GetVersionNumber() const {
  return static_cast<std::uint16_t>((Hundreds * 100 + Tens * 10 + Units) & 0xFFFF);
}

std::string TlaVersionRecord::GetKDPString() const {
  return KDPNumber == 0 ? std::string() : kd::Sprintf("KDP%d", KDPNumber);
}

std::string TlaVersionRecord::GetModelString() const {
  return kd::Trim(kd::Sprintf("KD%d", KDNumber) + LetterSuffix(ModelLetters));
}

std::string TlaVersionRecord::GetVersionString(bool dotted) const {
  const std::string number = dotted ? kd::Sprintf("%.2f", GetVersionNumber() * 0.01)
                                    : kd::Sprintf("%d", GetVersionNumber());
  return number + LetterSuffix(VersionLetters);
}

std::string TlaVersionRecord::GetFullString() const {
  std::string s = GetKDPString();
  if (!s.empty()) s += "_";
  return s + kd::Sprintf("%sv%s", GetModelString().c_str(), GetVersionString(false).c_str());
}

bool TlaVersionRecord::Parse(const std::string& text, const std::string& description) {
  enum { Start, K, KD, KDP, Family, Underscore, Model, ModelLetter1, ModelLetter2, AfterModel, Digits,
         EndOfVersion, VersionLetter1, VersionLetter2, Done, Error };
  const std::string s = kd::UpperCase(kd::Trim(text));
  int state = Start;
  int value = Hundreds;  // the version digits accumulate from Hundreds
  bool closed = false;
  auto closeVersion = [&] {
    if (closed) return;
    closed = true;
    Hundreds = Units < 0 ? -1 : value / 100;
  };
  std::size_t i = 0;
  while (i < s.size() && state != Done && state != Error) {
    const char c = s[i];
    bool next = true;  // false: examine c again in the new state
    switch (state) {
      case Start:
        if (c == 'K') state = K;
        break;
      case K:
        state = c == 'D' ? KD : Error;
        break;
      case KD:
        if (c == 'P') state = KDPNumber != 0 ? Error : KDP;
        else if (IsDigit(c)) { state = Model; next = false; }
        else state = Error;
        break;
      case KDP:
        if (IsDigit(c)) { state = Family; next = false; }
        else state = Error;
        break;
      case Family:
        if (IsDigit(c)) KDPNumber = static_cast<std::uint16_t>(KDPNumber * 10 + (c - '0'));
        else state = c == '_' ? Underscore : Done;
        break;
      case Underscore:
        state = c == 'K' ? K : Error;
        break;
      case Model:
        if (IsDigit(c)) KDNumber = static_cast<std::uint16_t>(KDNumber * 10 + (c - '0'));
        else if (c == '-') state = ModelLetter1;
        else if (c == 'V') state = Digits;
        else state = Done;
        break;
      case ModelLetter1:
        if (IsAlnum(static_cast<unsigned char>(c))) { ModelLetters = WithHigh(ModelLetters, c); state = ModelLetter2; }
        else state = c == '*' ? AfterModel : Error;
        break;
      case ModelLetter2:
        if (IsAlnum(static_cast<unsigned char>(c))) { ModelLetters = WithLow(ModelLetters, c); state = AfterModel; }
        else state = c == '*' ? AfterModel : Error;
        break;
      case AfterModel:
        state = c == 'V' ? Digits : Error;
        break;
      case Digits:
        if (c == '*') state = EndOfVersion;
        else if (IsDigit(c)) {
          if (value <= 99999999) value = value * 10 + (c - '0');  // saturates instead of overflowing
          Tens = Units;
          Units = c - '0';
        } else { state = EndOfVersion; next = false; }
        break;
      case EndOfVersion:
        closeVersion();
        state = c == '*' ? Error : c == '-' ? VersionLetter1 : Done;
        break;
      case VersionLetter1:
        if (IsAlnum(static_cast<unsigned char>(c))) { VersionLetters = WithHigh(VersionLetters, c); state = VersionLetter2; }
        else state = c == '*' ? VersionLetter2 : Error;
        break;
      case VersionLetter2:
        if (IsAlnum(static_cast<unsigned char>(c))) VersionLetters = WithLow(VersionLetters, c);
        state = Done;
        break;
    }
    if (next) ++i;
  }
  if (state == Digits || state == EndOfVersion) closeVersion();
  if (state == Error) {
    Text = ">ERROR<";
    return false;
  }
  Text = description;
  return true;
}

bool TlaVersionRecord::Matches(const std::string& pattern) const {
  TlaVersionRecord p;
  if (!p.Parse(pattern, "")) return false;
  if (p.KDPNumber != 0 && p.KDPNumber != KDPNumber) return false;
  if (p.KDNumber != KDNumber) return false;
  if (!LettersMatch(p.ModelLetters, ModelLetters)) return false;
  if (p.Units >= 0) {
    if (p.Units != Units) return false;
    if (p.Tens >= 0) {
      if (p.Tens != Tens) return false;
      if (p.Hundreds >= 0 && p.Hundreds != Hundreds) return false;
    }
  }
  return LettersMatch(p.VersionLetters, VersionLetters);
}
