#include "Strings.h"

#include <cctype>

#include "Exception.h"

namespace kd {
namespace {

bool IsBlank(char c) {
  const auto u = static_cast<unsigned char>(c);
  return u <= 32;
}
char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }
char Upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }
int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}
bool IsCommaBlank(char c) {
  const auto u = static_cast<unsigned char>(c);
  return u >= 1 && u <= 32;
}

}  // namespace

std::string TrimLeft(std::string_view text) {
  size_t b = 0;
  while (b < text.size() && IsBlank(text[b])) ++b;
  return std::string(text.substr(b));
}

std::string TrimRight(std::string_view text) {
  size_t e = text.size();
  while (e > 0 && IsBlank(text[e - 1])) --e;
  return std::string(text.substr(0, e));
}

std::string Trim(std::string_view text) {
  size_t b = 0, e = text.size();
  while (b < e && IsBlank(text[b])) ++b;
  while (e > b && IsBlank(text[e - 1])) --e;
  return std::string(text.substr(b, e - b));
}

std::string LowerCase(std::string_view text) {
  std::string r(text);
  for (char& c : r) c = Lower(c);
  return r;
}

std::string UpperCase(std::string_view text) {
  std::string r(text);
  for (char& c : r) c = Upper(c);
  return r;
}

int CompareText(std::string_view a, std::string_view b) {
  const size_t n = a.size() < b.size() ? a.size() : b.size();
  for (size_t i = 0; i < n; ++i) {
    const auto ca = static_cast<unsigned char>(Lower(a[i]));
    const auto cb = static_cast<unsigned char>(Lower(b[i]));
    if (ca != cb) return ca < cb ? -1 : 1;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

bool SameText(std::string_view a, std::string_view b) {
  return a.size() == b.size() && CompareText(a, b) == 0;
}

bool TryParseInteger(std::string_view text, std::int32_t& out) {
  size_t i = 0, n = text.size();
  while (i < n && IsBlank(text[i])) ++i;
  while (n > i && IsBlank(text[n - 1])) --n;
  bool negative = false;
  if (i < n && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  bool hex = false;
  if (i < n && text[i] == '$') {
    hex = true;
    ++i;
  } else if (i + 1 < n && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
    hex = true;
    i += 2;
  }
  if (i >= n) return false;
  std::uint64_t value = 0;
  for (; i < n; ++i) {
    const int d = hex ? HexDigit(text[i]) : (std::isdigit(static_cast<unsigned char>(text[i])) ? text[i] - '0' : -1);
    if (d < 0) return false;
    value = value * (hex ? 16u : 10u) + static_cast<unsigned>(d);
    if (value > 0xFFFFFFFFull) return false;
  }
  std::int64_t signedValue;
  if (hex) {
    // Hexadecimal texts name a 32-bit pattern.
    signedValue = static_cast<std::int32_t>(static_cast<std::uint32_t>(value));
  } else {
    signedValue = static_cast<std::int64_t>(value);
    if (signedValue > (negative ? 2147483648LL : 2147483647LL)) return false;
  }
  if (negative) signedValue = -signedValue;
  out = static_cast<std::int32_t>(signedValue);
  return true;
}

std::int32_t StrToIntDef(std::string_view text, std::int32_t defaultValue) {
  std::int32_t v;
  return TryParseInteger(text, v) ? v : defaultValue;
}

std::int32_t StrToInt(std::string_view text) {
  std::int32_t v;
  if (!TryParseInteger(text, v))
    throw ConvertError("'" + std::string(text) + "' is not a valid integer value");
  return v;
}

std::vector<std::string> SplitLines(std::string_view text) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\r' && text[i] != '\n') continue;
    lines.emplace_back(text.substr(start, i - start));
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
    start = i + 1;
  }
  if (start < text.size()) lines.emplace_back(text.substr(start));
  return lines;
}

std::vector<std::string> SplitCommaText(std::string_view text) {
  std::vector<std::string> items;
  size_t p = 0;
  const size_t n = text.size();
  // A NUL ends the text, as it would a C string.
  const size_t end = [&] {
    const size_t z = text.find('\0');
    return z == std::string_view::npos ? n : z;
  }();
  auto skipBlanks = [&] {
    while (p < end && IsCommaBlank(text[p])) ++p;
  };
  skipBlanks();
  while (p < end) {
    std::string item;
    if (text[p] == '"') {
      ++p;
      while (p < end) {
        if (text[p] == '"') {
          if (p + 1 < end && text[p + 1] == '"') {
            item += '"';
            p += 2;
            continue;
          }
          ++p;
          break;
        }
        item += text[p++];
      }
    } else {
      const size_t b = p;
      while (p < end && !IsCommaBlank(text[p]) && text[p] != ',') ++p;
      item.assign(text.substr(b, p - b));
    }
    items.push_back(std::move(item));
    skipBlanks();
    if (p < end && text[p] == ',') {
      ++p;
      skipBlanks();
    }
  }
  return items;
}

std::string JoinCommaText(const std::vector<std::string>& items) {
  std::string out;
  for (size_t k = 0; k < items.size(); ++k) {
    if (k) out += ',';
    const std::string& s = items[k];
    bool quote = false;
    for (char c : s)
      if (IsBlank(c) || c == ',' || c == '"') quote = true;
    if (!quote) {
      out += s;
      continue;
    }
    out += '"';
    for (char c : s) {
      if (c == '"') out += '"';
      out += c;
    }
    out += '"';
  }
  return out;
}

int StringList::IndexOf(std::string_view line) const {
  for (size_t i = 0; i < lines_.size(); ++i)
    if (SameText(lines_[i], line)) return static_cast<int>(i);
  return -1;
}

int StringList::IndexOfName(std::string_view name) const {
  for (size_t i = 0; i < lines_.size(); ++i) {
    const std::string& l = lines_[i];
    const size_t eq = l.find('=');
    if (eq != std::string::npos && SameText(std::string_view(l).substr(0, eq), name))
      return static_cast<int>(i);
  }
  return -1;
}

std::string StringList::Names(int index) const {
  const std::string& l = (*this)[index];
  const size_t eq = l.find('=');
  return eq == std::string::npos ? std::string() : l.substr(0, eq);
}

std::string StringList::ValueFromIndex(int index) const {
  const std::string& l = (*this)[index];
  const size_t eq = l.find('=');
  return eq == std::string::npos ? std::string() : l.substr(eq + 1);
}

std::string StringList::Values(std::string_view name) const {
  const int i = IndexOfName(name);
  return i < 0 ? std::string() : ValueFromIndex(i);
}

void StringList::SetValue(std::string_view name, std::string_view value) {
  const int i = IndexOfName(name);
  if (value.empty()) {
    if (i >= 0) lines_.erase(lines_.begin() + i);
    return;
  }
  std::string line = std::string(name) + "=" + std::string(value);
  if (i >= 0)
    lines_[static_cast<size_t>(i)] = std::move(line);
  else
    lines_.push_back(std::move(line));
}

std::string StringList::Text() const {
  std::string t;
  for (const auto& l : lines_) {
    t += l;
    t += '\n';
  }
  return t;
}

}  // namespace kd
