#include "Formats.h"

#include <locale.h>

#include <algorithm>
#include <atomic>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <mutex>
#include <vector>

#include "Exception.h"
#include "Strings.h"

namespace kd {
namespace {

// ---------------------------------------------------------------------------
// Settings: every object ever handed out stays alive until exit, so a
// reference from GetFormatSettings never dangles; readers only load the
// atomic pointer.

struct SettingsStore {
  std::mutex mutex;
  std::vector<std::unique_ptr<const FormatSettings>> all;
  std::atomic<const FormatSettings*> current{nullptr};

  SettingsStore() {
    all.push_back(std::make_unique<const FormatSettings>());
    current.store(all.back().get(), std::memory_order_release);
  }
};

SettingsStore& Store() {
  static SettingsStore store;
  return store;
}

// ---------------------------------------------------------------------------
// The "C" locale for the C library's number conversions.

class CLocale {
 public:
  CLocale() : locale_(newlocale(LC_ALL_MASK, "C", locale_t(0))) {}
  ~CLocale() {
    if (locale_ != locale_t(0)) freelocale(locale_);
  }
  CLocale(const CLocale&) = delete;
  CLocale& operator=(const CLocale&) = delete;
  locale_t Get() const { return locale_; }

 private:
  locale_t locale_;
};

locale_t TheCLocale() {
  static CLocale locale;
  return locale.Get();
}

// Switches the calling thread to the "C" locale for its lifetime.
class ScopedCLocale {
 public:
  ScopedCLocale() {
    const locale_t c = TheCLocale();
    if (c != locale_t(0)) previous_ = uselocale(c);
  }
  ~ScopedCLocale() {
    if (previous_ != locale_t(0)) uselocale(previous_);
  }
  ScopedCLocale(const ScopedCLocale&) = delete;
  ScopedCLocale& operator=(const ScopedCLocale&) = delete;

 private:
  locale_t previous_ = locale_t(0);
};

// ---------------------------------------------------------------------------
// Decimal digits of a non-negative double: value = 0.digits x 10^point, no
// trailing zeros in digits; zero has no digits.

struct Decimal {
  std::string digits;
  int point = 0;

  bool IsZero() const { return digits.empty(); }
  void StripTrailingZeros() {
    while (!digits.empty() && digits.back() == '0') digits.pop_back();
    if (digits.empty()) point = 0;
  }
  // Keeps the first count digits, rounding half away from zero.
  void RoundTo(int count) {
    if (count < 0) {
      digits.clear();
      point = 0;
      return;
    }
    const auto n = static_cast<size_t>(count);
    if (n >= digits.size()) return;
    const bool up = digits[n] >= '5';
    digits.resize(n);
    if (up) {
      size_t i = n;
      while (i > 0 && digits[i - 1] == '9') digits[--i] = '0';
      if (i == 0) {
        digits.insert(digits.begin(), '1');
        ++point;
      } else {
        ++digits[i - 1];
      }
    }
    StripTrailingZeros();
  }
  // Digit at position i (0 = first after "0."); zeros outside.
  char At(int i) const {
    return (i >= 0 && static_cast<size_t>(i) < digits.size()) ? digits[static_cast<size_t>(i)] : '0';
  }
};

constexpr int kSignificantDigits = 15;

// The value to 15 significant digits (as the general form prints it).
Decimal ToDecimal(double value) {
  Decimal d;
  value = std::fabs(value);
  if (value == 0 || !std::isfinite(value)) return d;
  char buf[64];
  const auto res = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::scientific,
                                 kSignificantDigits - 1);
  const std::string_view text(buf, static_cast<size_t>(res.ptr - buf));
  const size_t e = text.find('e');
  for (size_t i = 0; i < e; ++i)
    if (text[i] != '.') d.digits.push_back(text[i]);
  int exponent = 0;
  const char* first = text.data() + e + 1;
  if (*first == '+') ++first;
  std::from_chars(first, text.data() + text.size(), exponent);
  d.point = exponent + 1;
  d.StripTrailingZeros();
  return d;
}

// ---------------------------------------------------------------------------
// Number patterns.

struct PatternToken {
  enum Kind { Literal, Digit, Point, Exponent } kind = Literal;
  std::string text;        // Literal
  char letter = 'E';       // Exponent: 'E' or 'e'
  bool plusSign = false;   // Exponent: "E+" shows a plus sign
  int minDigits = 0;       // Exponent: the zeros after the sign
};

struct NumberSection {
  std::vector<PatternToken> tokens;
  int intCount = 0;     // digit placeholders before the decimal point
  int intForced = 0;    // of those, from the first '0' on
  int decimals = 0;     // digit placeholders after the decimal point
  int fracForced = 0;   // of those, up to the last '0'
  bool grouping = false;
  bool exponent = false;

  bool HasPlaceholders() const { return intCount + decimals > 0; }
};

void AddLiteral(std::vector<PatternToken>& tokens, std::string_view text) {
  if (tokens.empty() || tokens.back().kind != PatternToken::Literal) tokens.push_back({});
  tokens.back().text.append(text);
}

// The index just past a quoted run starting at i (the run's text in out).
size_t ReadQuoted(std::string_view s, size_t i, std::string& out) {
  const char quote = s[i];
  const size_t close = s.find(quote, i + 1);
  const size_t end = close == std::string_view::npos ? s.size() : close;
  out.assign(s.substr(i + 1, end - i - 1));
  return close == std::string_view::npos ? s.size() : close + 1;
}

NumberSection ParseSection(std::string_view s) {
  NumberSection sec;
  bool pointSeen = false;
  int firstIntZero = -1;
  for (size_t i = 0; i < s.size();) {
    const char c = s[i];
    if (c == '"' || c == '\'') {
      std::string text;
      i = ReadQuoted(s, i, text);
      AddLiteral(sec.tokens, text);
      continue;
    }
    if (!sec.exponent && (c == '0' || c == '#')) {
      if (!pointSeen) {
        if (c == '0' && firstIntZero < 0) firstIntZero = sec.intCount;
        ++sec.intCount;
      } else {
        ++sec.decimals;
        if (c == '0') sec.fracForced = sec.decimals;
      }
      sec.tokens.push_back({PatternToken::Digit, {}, c, false, 0});
      ++i;
      continue;
    }
    if (!sec.exponent && c == '.' && !pointSeen) {
      pointSeen = true;
      sec.tokens.push_back({PatternToken::Point, {}, '.', false, 0});
      ++i;
      continue;
    }
    if (!sec.exponent && c == ',') {
      if (!pointSeen) sec.grouping = true;
      ++i;
      continue;
    }
    if (!sec.exponent && (c == 'E' || c == 'e') && i + 1 < s.size() &&
        (s[i + 1] == '+' || s[i + 1] == '-') && sec.HasPlaceholders()) {
      PatternToken t{PatternToken::Exponent, {}, c, s[i + 1] == '+', 0};
      i += 2;
      while (i < s.size() && s[i] == '0') {
        ++t.minDigits;
        ++i;
      }
      sec.exponent = true;
      sec.tokens.push_back(t);
      continue;
    }
    AddLiteral(sec.tokens, std::string_view(&s[i], 1));
    ++i;
  }
  sec.intForced = firstIntZero < 0 ? 0 : sec.intCount - firstIntZero;
  if (sec.exponent) sec.grouping = false;
  return sec;
}

// Splits at ';' outside quotes; sections after the third are ignored.
std::vector<std::string_view> SplitSections(std::string_view pattern) {
  std::vector<std::string_view> sections;
  size_t start = 0;
  char quote = 0;
  for (size_t i = 0; i < pattern.size() && sections.size() < 3; ++i) {
    const char c = pattern[i];
    if (quote) {
      if (c == quote) quote = 0;
    } else if (c == '"' || c == '\'') {
      quote = c;
    } else if (c == ';') {
      sections.push_back(pattern.substr(start, i - start));
      start = i + 1;
    }
  }
  if (sections.size() < 3) sections.push_back(pattern.substr(start));
  return sections;
}

// The rounded digits of x under the section, split into the integer digits to
// show and the fraction digits to show.
struct RoundedNumber {
  std::string intDigits;
  std::string fracDigits;
  int exponent = 0;
  bool zero = true;
};

RoundedNumber RoundForSection(const NumberSection& sec, double x) {
  RoundedNumber r;
  Decimal d = ToDecimal(x);
  int intLen = 0;
  int fracStart = 0;
  if (sec.exponent) {
    const int k = std::max(1, sec.intCount);
    d.RoundTo(k + sec.decimals);
    r.exponent = d.IsZero() ? 0 : d.point - k;
    intLen = k;
    fracStart = k;
    for (int i = 0; i < k; ++i) r.intDigits.push_back(d.At(i));
  } else {
    d.RoundTo(d.point + sec.decimals);
    intLen = std::max(0, d.point);
    fracStart = d.point;
    for (int i = 0; i < intLen; ++i) r.intDigits.push_back(d.At(i));
    if (static_cast<int>(r.intDigits.size()) < sec.intForced)
      r.intDigits.insert(0, static_cast<size_t>(sec.intForced) - r.intDigits.size(), '0');
  }
  for (int i = 0; i < sec.decimals; ++i) r.fracDigits.push_back(d.At(fracStart + i));
  while (static_cast<int>(r.fracDigits.size()) > sec.fracForced && r.fracDigits.back() == '0')
    r.fracDigits.pop_back();
  r.zero = d.IsZero();
  return r;
}

std::string FormatSection(const NumberSection& sec, double x, bool negative) {
  std::string out;
  if (!sec.HasPlaceholders()) {
    for (const PatternToken& t : sec.tokens)
      if (t.kind == PatternToken::Literal) out += t.text;
    return out;
  }
  const FormatSettings& fs = GetFormatSettings();
  const RoundedNumber r = RoundForSection(sec, x);
  const int len = static_cast<int>(r.intDigits.size());
  bool signDone = !negative || r.zero;

  auto emitInt = [&](int from, int to) {  // digits [from, to) of intDigits
    for (int q = from; q < to; ++q) {
      out.push_back(r.intDigits[static_cast<size_t>(q)]);
      const int power = len - 1 - q;
      if (sec.grouping && power > 0 && power % 3 == 0) out.push_back(fs.ThousandSeparator);
    }
  };

  int intIndex = 0;
  int fracIndex = 0;
  for (const PatternToken& t : sec.tokens) {
    if (!signDone && (t.kind == PatternToken::Digit || t.kind == PatternToken::Point)) {
      out.push_back('-');
      signDone = true;
    }
    switch (t.kind) {
      case PatternToken::Literal:
        out += t.text;
        break;
      case PatternToken::Digit:
        if (intIndex < sec.intCount) {
          // Digits beyond the placeholders all go to the first one.
          const int j = intIndex++;
          const int shift = sec.intCount - len;  // > 0: leading placeholders stay empty
          if (j == 0 && shift < 0)
            emitInt(0, 1 - shift);
          else if (j - shift >= 0)
            emitInt(j - shift, j - shift + 1);
        } else {
          const int j = fracIndex++;
          if (j < static_cast<int>(r.fracDigits.size())) out.push_back(r.fracDigits[static_cast<size_t>(j)]);
        }
        break;
      case PatternToken::Point:
        if (sec.intCount == 0) emitInt(0, len);
        if (!r.fracDigits.empty()) out.push_back(fs.DecimalSeparator);
        break;
      case PatternToken::Exponent: {
        out.push_back(t.letter);
        if (r.exponent < 0)
          out.push_back('-');
        else if (t.plusSign)
          out.push_back('+');
        std::string e = std::to_string(std::abs(r.exponent));
        if (static_cast<int>(e.size()) < t.minDigits) e.insert(0, static_cast<size_t>(t.minDigits) - e.size(), '0');
        out += e;
        break;
      }
    }
  }
  return out;
}

constexpr double kFixedLimit = 1e18;

// ---------------------------------------------------------------------------
// Date-time helpers.

constexpr std::int64_t kMsPerDay = 86400000;
constexpr std::int64_t kMinDay = -693593;   // 1 January 1
constexpr std::int64_t kMaxDay = 2958465;   // 31 December 9999
constexpr std::int64_t kUnixEpochDay = 25569;  // 1 January 1970

// Days since 1 January 1970 of a proleptic Gregorian date.
std::int64_t DaysFromCivil(std::int64_t y, int m, int d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const std::int64_t yoe = y - era * 400;
  const std::int64_t doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  const std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

void CivilFromDays(std::int64_t z, int& year, int& month, int& day) {
  z += 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const std::int64_t doe = z - era * 146097;
  const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const std::int64_t mp = (5 * doy + 2) / 153;
  day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  year = static_cast<int>(yoe + era * 400 + (month <= 2));
}

// A value split into its day number and the time of day in milliseconds,
// rounded to the millisecond; a time that rounds up to midnight moves on to
// the next day. valid is false outside the years 1..9999 or for NaN/Inf.
struct DayAndTime {
  std::int64_t day = 0;
  std::int64_t ms = 0;
  bool valid = false;
};

DayAndTime Split(TDateTime value) {
  DayAndTime r;
  if (!std::isfinite(value) || value < static_cast<double>(kMinDay - 1) ||
      value > static_cast<double>(kMaxDay + 1))
    return r;
  const double whole = std::trunc(value);
  r.day = static_cast<std::int64_t>(whole);
  r.ms = std::llround(std::fabs(value - whole) * static_cast<double>(kMsPerDay));
  if (r.ms >= kMsPerDay) {
    r.ms = 0;
    ++r.day;
  }
  r.valid = r.day >= kMinDay && r.day <= kMaxDay;
  if (!r.valid) r.day = r.ms = 0;
  return r;
}

// Date and time of day joined as the values count them: the sign belongs to
// the day part, the fraction counts forward from the day's midnight.
TDateTime Compose(TDateTime date, TDateTime time) { return date < 0 ? date - time : date + time; }

const char* const kShortDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
const char* const kLongDays[] = {"Sunday", "Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday"};
const char* const kShortMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                    "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
const char* const kLongMonths[] = {"January", "February", "March",     "April",   "May",      "June",
                                   "July",    "August",   "September", "October", "November", "December"};

std::string Padded(int value, int width) {
  std::string s = std::to_string(value);
  if (static_cast<int>(s.size()) < width) s.insert(0, static_cast<size_t>(width) - s.size(), '0');
  return s;
}

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool StartsWithNoCase(std::string_view s, size_t i, std::string_view word) {
  return s.size() - i >= word.size() && SameText(s.substr(i, word.size()), word);
}

// True when the pattern holds an am/pm or a/p marker outside quotes.
bool HasHalfDayMarker(std::string_view p) {
  for (size_t i = 0; i < p.size(); ++i) {
    if (p[i] == '"' || p[i] == '\'') {
      const size_t close = p.find(p[i], i + 1);
      if (close == std::string_view::npos) return false;
      i = close;
    } else if (StartsWithNoCase(p, i, "am/pm") || StartsWithNoCase(p, i, "a/p")) {
      return true;
    }
  }
  return false;
}

struct DateTimeParts {
  DayAndTime dt;
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, msec = 0, weekday = 0;
};

DateTimeParts PartsOf(TDateTime value) {
  DateTimeParts p;
  p.dt = Split(value);
  if (!p.dt.valid) return p;
  CivilFromDays(p.dt.day - kUnixEpochDay, p.year, p.month, p.day);
  p.hour = static_cast<int>(p.dt.ms / 3600000);
  p.minute = static_cast<int>(p.dt.ms / 60000 % 60);
  p.second = static_cast<int>(p.dt.ms / 1000 % 60);
  p.msec = static_cast<int>(p.dt.ms % 1000);
  p.weekday = static_cast<int>(((p.dt.day % 7) + 13) % 7);  // day 0 was a Saturday
  return p;
}

size_t RunLength(std::string_view s, size_t i) {
  const char c = Lower(s[i]);
  size_t n = 1;
  while (i + n < s.size() && Lower(s[i + n]) == c) ++n;
  return n;
}

void AppendDateTime(std::string& out, std::string_view pattern, const DateTimeParts& p, int depth) {
  const FormatSettings& fs = GetFormatSettings();
  const bool twelveHour = HasHalfDayMarker(pattern);
  bool afterHour = false;
  for (size_t i = 0; i < pattern.size();) {
    const char c = pattern[i];
    const char lc = Lower(c);
    const size_t run = RunLength(pattern, i);
    bool token = true;
    size_t used = 1;
    switch (lc) {
      case '"':
      case '\'': {
        std::string text;
        i = ReadQuoted(pattern, i, text);
        out += text;
        continue;
      }
      case '/':
        out.push_back(fs.DateSeparator);
        token = false;
        break;
      case ':':
        out.push_back(fs.TimeSeparator);
        token = false;
        break;
      case 'c':
        if (depth < 2) {
          AppendDateTime(out, fs.ShortDateFormat, p, depth + 1);
          if (p.dt.ms != 0) {
            out.push_back(' ');
            AppendDateTime(out, fs.LongTimeFormat, p, depth + 1);
          }
        }
        break;
      case 'd':
        used = std::min<size_t>(run, 4);
        if (used == 1) out += std::to_string(p.day);
        else if (used == 2) out += Padded(p.day, 2);
        else if (p.dt.valid) out += (used == 3 ? kShortDays : kLongDays)[p.weekday];
        break;
      case 'm':
        used = std::min<size_t>(run, 4);
        if (afterHour && used <= 2) {
          out += used == 1 ? std::to_string(p.minute) : Padded(p.minute, 2);
        } else if (used <= 2) {
          out += used == 1 ? std::to_string(p.month) : Padded(p.month, 2);
        } else if (p.month >= 1) {
          out += (used == 3 ? kShortMonths : kLongMonths)[p.month - 1];
        }
        break;
      case 'y':
        used = std::min<size_t>(run, 4);
        out += used <= 2 ? Padded(p.year % 100, 2) : Padded(p.year, 4);
        break;
      case 'h': {
        used = std::min<size_t>(run, 2);
        int h = p.hour;
        if (twelveHour) h = h % 12 == 0 ? 12 : h % 12;
        out += used == 1 ? std::to_string(h) : Padded(h, 2);
        break;
      }
      case 'n':
        used = std::min<size_t>(run, 2);
        out += used == 1 ? std::to_string(p.minute) : Padded(p.minute, 2);
        break;
      case 's':
        used = std::min<size_t>(run, 2);
        out += used == 1 ? std::to_string(p.second) : Padded(p.second, 2);
        break;
      case 'z':
        used = run >= 3 ? 3 : run;
        out += used == 3 ? Padded(p.msec, 3) : std::to_string(p.msec);
        break;
      case 'a':
        if (StartsWithNoCase(pattern, i, "am/pm")) {
          const bool lower = c == 'a';
          out += p.hour < 12 ? (lower ? "am" : "AM") : (lower ? "pm" : "PM");
          used = 5;
        } else if (StartsWithNoCase(pattern, i, "a/p")) {
          const bool lower = c == 'a';
          out.push_back(p.hour < 12 ? (lower ? 'a' : 'A') : (lower ? 'p' : 'P'));
          used = 3;
        } else {
          out.push_back(c);
          token = false;
        }
        break;
      default:
        out.push_back(c);
        token = false;
        break;
    }
    if (token) afterHour = lc == 'h';
    i += used;
  }
}

// Reads numbers separated by sep at i, field k having 1..widths[k] digits;
// the number of fields read (stops at the first one missing).
size_t ReadFields(std::string_view s, size_t& i, char sep, const std::vector<size_t>& widths,
                  std::vector<int>& values, size_t& lastDigits) {
  values.clear();
  for (size_t k = 0; k < widths.size(); ++k) {
    size_t j = i;
    if (k > 0) {
      if (j >= s.size() || s[j] != sep) break;
      ++j;
    }
    int value = 0;
    size_t count = 0;
    while (j < s.size() && s[j] >= '0' && s[j] <= '9' && count < widths[k]) {
      value = value * 10 + (s[j] - '0');
      ++j;
      ++count;
    }
    if (count == 0) break;
    values.push_back(value);
    lastDigits = count;
    i = j;
  }
  return values.size();
}

// Day, month, year; a one- or two-digit year lies in 1950..2049.
bool ParseDate(std::string_view s, size_t& i, TDateTime& out) {
  std::vector<int> f;
  size_t yearDigits = 0;
  if (ReadFields(s, i, GetFormatSettings().DateSeparator, {2, 2, 4}, f, yearDigits) != 3) return false;
  if (yearDigits <= 2) f[2] += f[2] < 50 ? 2000 : 1900;
  return TryEncodeDate(f[2], f[1], f[0], out);
}

// Hours and minutes, seconds optional.
bool ParseTime(std::string_view s, size_t& i, TDateTime& out) {
  std::vector<int> f;
  size_t digits = 0;
  if (ReadFields(s, i, GetFormatSettings().TimeSeparator, {2, 2, 2}, f, digits) < 2) return false;
  return TryEncodeTime(f[0], f[1], f.size() > 2 ? f[2] : 0, 0, out);
}

}  // namespace

// ---------------------------------------------------------------------------

const FormatSettings& GetFormatSettings() { return *Store().current.load(std::memory_order_acquire); }

void SetFormatSettings(const FormatSettings& settings) {
  SettingsStore& store = Store();
  std::lock_guard lock(store.mutex);
  store.all.push_back(std::make_unique<const FormatSettings>(settings));
  store.current.store(store.all.back().get(), std::memory_order_release);
}

std::string Sprintf(const char* format, ...) {
  std::va_list args;
  va_start(args, format);
  std::string s = VSprintf(format, args);
  va_end(args);
  return s;
}

std::string VSprintf(const char* format, std::va_list args) {
  ScopedCLocale c;
  char small[256];
  std::va_list copy;
  va_copy(copy, args);
  const int n = std::vsnprintf(small, sizeof small, format, copy);
  va_end(copy);
  if (n < 0) return {};
  if (static_cast<size_t>(n) < sizeof small) return std::string(small, static_cast<size_t>(n));
  std::string s(static_cast<size_t>(n), '\0');
  va_copy(copy, args);
  std::vsnprintf(s.data(), s.size() + 1, format, copy);
  va_end(copy);
  return s;
}

std::string FloatToStr(double value) {
  if (std::isnan(value)) return "NAN";
  if (std::isinf(value)) return value < 0 ? "-INF" : "INF";
  const Decimal d = ToDecimal(value);
  if (d.IsZero()) return "0";
  const char sep = GetFormatSettings().DecimalSeparator;
  std::string out = value < 0 ? "-" : "";
  const int exponent = d.point - 1;
  if (exponent >= kSignificantDigits || exponent < -4) {
    out.push_back(d.digits[0]);
    if (d.digits.size() > 1) {
      out.push_back(sep);
      out.append(d.digits, 1);
    }
    out.push_back('E');
    out += std::to_string(exponent);
    return out;
  }
  if (d.point <= 0) {
    out.push_back('0');
    out.push_back(sep);
    out.append(static_cast<size_t>(-d.point), '0');
    out += d.digits;
    return out;
  }
  for (int i = 0; i < d.point; ++i) out.push_back(d.At(i));
  if (static_cast<int>(d.digits.size()) > d.point) {
    out.push_back(sep);
    out.append(d.digits, static_cast<size_t>(d.point));
  }
  return out;
}

std::string FormatFloat(std::string_view pattern, double value) {
  if (pattern.empty() || !std::isfinite(value)) return FloatToStr(value);
  const std::vector<std::string_view> sections = SplitSections(pattern);
  const NumberSection first = ParseSection(sections[0]);
  const double x = std::fabs(value);

  size_t chosen = 0;
  if (value < 0 && sections.size() > 1 && !sections[1].empty()) chosen = 1;
  if (sections.size() > 2 && !sections[2].empty() && (first.exponent || x < kFixedLimit) &&
      RoundForSection(first, x).zero)
    chosen = 2;
  if (sections[chosen].empty()) return FloatToStr(value);

  const NumberSection sec = chosen == 0 ? first : ParseSection(sections[chosen]);
  if (!sec.exponent && sec.HasPlaceholders() && x >= kFixedLimit) return FloatToStr(value);
  return FormatSection(sec, chosen == 2 ? 0.0 : x, chosen == 0 && value < 0);
}

bool TryStrToFloat(std::string_view text, double& out) {
  const std::string t = Trim(text);
  const char sep = GetFormatSettings().DecimalSeparator;
  std::string normal;
  size_t i = 0;
  if (i < t.size() && (t[i] == '+' || t[i] == '-')) normal.push_back(t[i++]);
  size_t digits = 0;
  for (; i < t.size() && t[i] >= '0' && t[i] <= '9'; ++i, ++digits) normal.push_back(t[i]);
  if (i < t.size() && t[i] == sep) {
    normal.push_back('.');
    for (++i; i < t.size() && t[i] >= '0' && t[i] <= '9'; ++i, ++digits) normal.push_back(t[i]);
  }
  if (digits == 0) return false;
  if (i < t.size() && (t[i] == 'e' || t[i] == 'E')) {
    normal.push_back('e');
    ++i;
    if (i < t.size() && (t[i] == '+' || t[i] == '-')) normal.push_back(t[i++]);
    size_t expDigits = 0;
    for (; i < t.size() && t[i] >= '0' && t[i] <= '9'; ++i, ++expDigits) normal.push_back(t[i]);
    if (expDigits == 0) return false;
  }
  if (i != t.size()) return false;
  const locale_t c = TheCLocale();
  if (c == locale_t(0)) return false;
  const double v = strtod_l(normal.c_str(), nullptr, c);
  if (std::isinf(v)) return false;  // overflow
  out = v;
  return true;
}

double StrToFloat(std::string_view text) {
  double v = 0;
  if (!TryStrToFloat(text, v)) throw ConvertError("'" + std::string(text) + "' is not a valid floating point value");
  return v;
}

bool IsLeapYear(int year) { return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0); }

int DaysInMonth(int year, int month) {
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month < 1 || month > 12) return 0;
  return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

bool TryEncodeDate(int year, int month, int day, TDateTime& out) {
  if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month))
    return false;
  out = static_cast<TDateTime>(DaysFromCivil(year, month, day) + kUnixEpochDay);
  return true;
}

TDateTime EncodeDate(int year, int month, int day) {
  TDateTime v = 0;
  if (!TryEncodeDate(year, month, day, v)) throw ConvertError("Invalid argument to date encode");
  return v;
}

bool TryEncodeTime(int hour, int minute, int second, int msec, TDateTime& out) {
  if (hour < 0 || hour >= 24 || minute < 0 || minute >= 60 || second < 0 || second >= 60 || msec < 0 ||
      msec >= 1000)
    return false;
  const std::int64_t ms = ((hour * 60 + minute) * 60 + second) * 1000 + msec;
  out = static_cast<double>(ms) / static_cast<double>(kMsPerDay);
  return true;
}

TDateTime EncodeTime(int hour, int minute, int second, int msec) {
  TDateTime v = 0;
  if (!TryEncodeTime(hour, minute, second, msec, v)) throw ConvertError("Invalid argument to time encode");
  return v;
}

void DecodeDate(TDateTime value, int& year, int& month, int& day) {
  const DateTimeParts p = PartsOf(value);
  year = p.year;
  month = p.month;
  day = p.day;
}

void DecodeTime(TDateTime value, int& hour, int& minute, int& second, int& msec) {
  const DateTimeParts p = PartsOf(value);
  hour = p.hour;
  minute = p.minute;
  second = p.second;
  msec = p.msec;
}

TDateTime Now() {
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  std::tm tm{};
  localtime_r(&ts.tv_sec, &tm);
  TDateTime date = 0, time = 0;
  TryEncodeDate(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, date);
  // A leap second (tm_sec 60) counts as the last second of the minute.
  TryEncodeTime(tm.tm_hour, tm.tm_min, std::min(tm.tm_sec, 59), static_cast<int>(ts.tv_nsec / 1000000), time);
  return Compose(date, time);
}

TDateTime Date() { return std::trunc(Now()); }

std::string FormatDateTime(std::string_view pattern, TDateTime value) {
  std::string out;
  AppendDateTime(out, pattern.empty() ? std::string_view("c") : pattern, PartsOf(value), 0);
  return out;
}

std::string DateToStr(TDateTime value) { return FormatDateTime(GetFormatSettings().ShortDateFormat, value); }
std::string TimeToStr(TDateTime value) { return FormatDateTime(GetFormatSettings().LongTimeFormat, value); }
std::string DateTimeToStr(TDateTime value) { return FormatDateTime("c", value); }

bool TryStrToDateTime(std::string_view text, TDateTime& out) {
  const std::string t = Trim(text);
  size_t i = 0;
  TDateTime date = 0, time = 0;
  if (ParseDate(t, i, date)) {
    if (i < t.size()) {
      size_t j = i;
      while (j < t.size() && t[j] == ' ') ++j;
      if (j == i || !ParseTime(t, j, time)) return false;
      i = j;
    }
  } else {
    i = 0;
    if (!ParseTime(t, i, time)) return false;
  }
  if (i != t.size()) return false;
  out = Compose(date, time);
  return true;
}

TDateTime StrToDateTime(std::string_view text) {
  TDateTime v = 0;
  if (!TryStrToDateTime(text, v)) throw ConvertError("'" + std::string(text) + "' is not a valid date and time");
  return v;
}

}  // namespace kd
