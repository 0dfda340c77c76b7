#pragma once
// Value codecs of the graph setup text and the line-level helpers that the
// section writers and readers share.
//
// Setup text: CR LF separated lines; a section is a header line ("[laGraph]",
// ...), "Begin", key=value lines, child sections, "End". Readers raise
// kd::ConvertError for a missing or unreadable number and kd::Exception for a
// section without its End.
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "Lacanvas.h"
#include "Lagraphtypes.h"

std::string SetupBoolToStr(bool v);
bool SetupStrToBool(std::string_view text);  // true only for exactly "true"
std::string SetupIntToStr(std::int64_t v);
int SetupStrToInt(std::string_view text);
std::string SetupFloatToStr(double v);
double SetupStrToFloat(std::string_view text);
std::string SetupRectToStr(const kd::TRect& r);
kd::TRect SetupStrToRect(std::string_view text);
std::string SetupPenToStr(const kd::TPen& pen);
void SetupStrToPen(std::string_view text, kd::TPen* pen);  // nothing without a pen
std::string SetupBrushToStr(const kd::TBrush& brush);
void SetupStrToBrush(std::string_view text, kd::TBrush* brush);
// color,name,size, then the first of B, I, S, U that the style holds.
std::string SetupFontToStr(const kd::TFont& font);
// Sets colour, name and size and adds the style of the letter (others kept).
void SetupStrToFont(std::string_view text, kd::TFont* font);
std::string SetupPointToStr(const Tla2DPoint& p);
Tla2DPoint SetupStrToPoint(std::string_view text);
std::string SetupRangeToStr(const TlaRange& r);
TlaRange SetupStrToRange(std::string_view text);

// Builds one section: header, "Begin", keys, children, "End".
class TlaSetupWriter {
 public:
  TlaSetupWriter() = default;  // key lines only
  explicit TlaSetupWriter(std::string_view header);
  void Key(std::string_view name, const std::string& value);  // empty values are left out
  void Child(const std::string& sectionText);
  std::string Text() const;  // the lines joined by CR LF, trimmed
  std::string Finish();      // adds "End", then Text()

 private:
  std::vector<std::string> lines_;
};

std::vector<std::string> SplitSetupLines(std::string_view text);
std::string JoinSetupLines(const std::vector<std::string>& lines);  // CR LF between lines

// Raises when the "Begin" and "End" lines do not pair up: a text that lost
// an "End" would otherwise read as other sections nested wrongly.
void CheckSetupNesting(const std::vector<std::string>& lines);

// From a header at lines[i]: the block from the next line ("Begin") to its
// matching "End"; i is left on the line after the block. Raises when the
// lines run out before the block is closed.
std::vector<std::string> CollectSetupBlock(const std::vector<std::string>& lines, size_t& i);

// Key look-up over a whole section text: the first line with the key
// anywhere (children included), names compared without regard to case.
class TlaSetupKeys {
 public:
  explicit TlaSetupKeys(const std::vector<std::string>& lines);
  bool Has(std::string_view name) const;
  std::string Text(std::string_view name) const;  // empty when missing
  bool Bool(std::string_view name) const;         // false when missing
  int Int(std::string_view name) const;           // the readers below raise when missing
  double Float(std::string_view name) const;
  kd::TRect Rect(std::string_view name) const;
  Tla2DPoint Point(std::string_view name) const;
  TlaRange Range(std::string_view name) const;
  // Apply the value to out; a font keeps the styles the value does not name,
  // so readers take a fresh one to get the written style alone. A bad value
  // leaves out unchanged.
  void ReadPen(std::string_view name, kd::TPen& out) const;
  void ReadBrush(std::string_view name, kd::TBrush& out) const;
  void ReadFont(std::string_view name, kd::TFont& out) const;

 private:
  const std::string& Required(std::string_view name) const;
  std::unordered_map<std::string, std::string> values_;
};
