#pragma once
// Text helpers: trimming, letter-case-blind comparison (ASCII), integer texts,
// lines, comma text and name=value lists.
//
// Integer text: optional blanks and sign, then decimal digits, or hexadecimal
// digits after "$" or "0x"; anything else is no integer. Results must fit in
// 32 bits; hexadecimal texts up to FFFFFFFF wrap to the signed value.
//
// Comma text: items separated by a comma or by a run of characters with codes
// 1 to 32, blanks next to a comma belonging to it; an item that begins with a
// double quote runs to the closing double quote, two double quotes inside
// standing for one.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kd {

std::string Trim(std::string_view text);       // drops characters with codes 0..32 at both ends
std::string TrimLeft(std::string_view text);
std::string TrimRight(std::string_view text);
std::string LowerCase(std::string_view text);  // ASCII letters only
std::string UpperCase(std::string_view text);
bool SameText(std::string_view a, std::string_view b);        // ASCII letter case ignored
int CompareText(std::string_view a, std::string_view b);      // <0, 0, >0, letter case ignored

// Integer text as above; false (out untouched) when the text is no integer.
bool TryParseInteger(std::string_view text, std::int32_t& out);
std::int32_t StrToIntDef(std::string_view text, std::int32_t defaultValue);
// The same, raising ConvertError "'<text>' is not a valid integer value".
std::int32_t StrToInt(std::string_view text);

// Lines ended by LF, CR or CR LF; an ending after the last line adds no
// empty line.
std::vector<std::string> SplitLines(std::string_view text);

// Comma text in both directions. Join quotes an item that holds a blank, a
// control character, a comma or a double quote (doubling inner quotes).
std::vector<std::string> SplitCommaText(std::string_view text);
std::string JoinCommaText(const std::vector<std::string>& items);

// An ordered list of lines, with name=value look-ups (names compared without
// regard to letter case; the first matching line wins).
class StringList {
 public:
  StringList() = default;
  explicit StringList(std::vector<std::string> lines) : lines_(std::move(lines)) {}

  int Count() const { return static_cast<int>(lines_.size()); }
  bool Empty() const { return lines_.empty(); }
  const std::string& operator[](int index) const { return lines_.at(static_cast<size_t>(index)); }
  std::string& operator[](int index) { return lines_.at(static_cast<size_t>(index)); }
  const std::vector<std::string>& Lines() const { return lines_; }
  std::vector<std::string>& Lines() { return lines_; }

  void Add(std::string line) { lines_.push_back(std::move(line)); }
  void Clear() { lines_.clear(); }
  int IndexOf(std::string_view line) const;      // letter case ignored; -1 when absent

  // name=value access.
  int IndexOfName(std::string_view name) const;  // -1 when absent
  std::string Names(int index) const;            // text before the first '='; empty without one
  std::string ValueFromIndex(int index) const;   // text after the first '='
  std::string Values(std::string_view name) const;  // empty when absent
  // Replaces the value of the first line with that name, or adds a line;
  // an empty value removes the line.
  void SetValue(std::string_view name, std::string_view value);

  std::string CommaText() const { return JoinCommaText(lines_); }
  void SetCommaText(std::string_view text) { lines_ = SplitCommaText(text); }
  std::string Text() const;                      // lines each ended by "\n"

 private:
  std::vector<std::string> lines_;
};

}  // namespace kd
