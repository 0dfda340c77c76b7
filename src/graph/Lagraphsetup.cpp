#include "Lagraphsetup.h"

#include <utility>

#include "Exception.h"
#include "Formats.h"
#include "Strings.h"

namespace {

// The text before the first ',' (the whole text for the last field); the
// field and its ',' are dropped from rest.
std::string_view NextField(std::string_view& rest) {
  const size_t comma = rest.find(',');
  std::string_view field = rest.substr(0, comma);
  rest = comma == std::string_view::npos ? std::string_view() : rest.substr(comma + 1);
  return field;
}

int IntField(std::string_view& rest) { return SetupStrToInt(NextField(rest)); }

}  // namespace

std::string SetupBoolToStr(bool v) { return v ? "true" : "false"; }
bool SetupStrToBool(std::string_view text) { return text == "true"; }

std::string SetupIntToStr(std::int64_t v) { return std::to_string(v); }
int SetupStrToInt(std::string_view text) { return kd::StrToInt(text); }

std::string SetupFloatToStr(double v) { return kd::FloatToStr(v); }
double SetupStrToFloat(std::string_view text) { return kd::StrToFloat(text); }

std::string SetupRectToStr(const kd::TRect& r) {
  return std::to_string(r.left) + "," + std::to_string(r.top) + "," + std::to_string(r.right) + "," +
         std::to_string(r.bottom);
}

kd::TRect SetupStrToRect(std::string_view text) {
  kd::TRect r;
  r.left = IntField(text);
  r.top = IntField(text);
  r.right = IntField(text);
  r.bottom = SetupStrToInt(text);
  return r;
}

std::string SetupPenToStr(const kd::TPen& pen) {
  return std::to_string(pen.Color()) + "," + std::to_string(pen.Mode()) + "," + std::to_string(pen.Style()) +
         "," + std::to_string(pen.Width());
}

void SetupStrToPen(std::string_view text, kd::TPen* pen) {
  if (!pen) return;
  const int color = IntField(text);
  const int mode = IntField(text);
  const int style = IntField(text);
  const int width = SetupStrToInt(text);
  pen->Set(color, mode, style, width);
}

std::string SetupBrushToStr(const kd::TBrush& brush) {
  return std::to_string(brush.Color()) + "," + std::to_string(brush.Style());
}

void SetupStrToBrush(std::string_view text, kd::TBrush* brush) {
  if (!brush) return;
  const int color = IntField(text);
  const int style = SetupStrToInt(text);
  brush->Set(color, style);
}

std::string SetupFontToStr(const kd::TFont& font) {
  std::string s = std::to_string(font.Color()) + "," + font.Name() + "," + std::to_string(font.Size()) + ",";
  if (font.HasStyle(kd::fsBold)) s += "B";
  else if (font.HasStyle(kd::fsItalic)) s += "I";
  else if (font.HasStyle(kd::fsStrikeOut)) s += "S";
  else if (font.HasStyle(kd::fsUnderline)) s += "U";
  return s;
}

void SetupStrToFont(std::string_view text, kd::TFont* font) {
  if (!font) return;
  const int color = IntField(text);
  const std::string name(NextField(text));
  const int size = IntField(text);
  std::uint8_t style = font->Style();
  if (text == "B") style |= kd::fsBold;
  else if (text == "I") style |= kd::fsItalic;
  else if (text == "S") style |= kd::fsStrikeOut;
  else if (text == "U") style |= kd::fsUnderline;
  font->Set(color, name, size, style, font->Orientation());
}

namespace {

// Two floating-point fields split at the first ','; what names the value in
// the error.
std::pair<double, double> FloatPair(std::string_view text, const char* what) {
  const size_t comma = text.find(',');
  if (comma == std::string_view::npos)
    throw kd::ConvertError("'" + std::string(text) + "' is not a valid " + what);
  return {SetupStrToFloat(text.substr(0, comma)), SetupStrToFloat(text.substr(comma + 1))};
}

}  // namespace

std::string SetupPointToStr(const Tla2DPoint& p) { return SetupFloatToStr(p.x) + "," + SetupFloatToStr(p.y); }

Tla2DPoint SetupStrToPoint(std::string_view text) {
  const auto [x, y] = FloatPair(text, "point");
  return {x, y};
}

std::string SetupRangeToStr(const TlaRange& r) { return SetupFloatToStr(r.min) + "," + SetupFloatToStr(r.max); }

TlaRange SetupStrToRange(std::string_view text) {
  const auto [min, max] = FloatPair(text, "range");
  return {min, max};
}

// ---------------------------------------------------------------------------

TlaSetupWriter::TlaSetupWriter(std::string_view header) {
  lines_.emplace_back(header);
  lines_.emplace_back("Begin");
}

void TlaSetupWriter::Key(std::string_view name, const std::string& value) {
  if (!value.empty()) lines_.push_back(std::string(name) + "=" + value);
}

void TlaSetupWriter::Child(const std::string& sectionText) { lines_.push_back(sectionText); }

std::string TlaSetupWriter::Text() const { return kd::Trim(JoinSetupLines(lines_)); }

std::string TlaSetupWriter::Finish() {
  lines_.emplace_back("End");
  return Text();
}

std::vector<std::string> SplitSetupLines(std::string_view text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    lines.emplace_back(line);
    start = end + 1;
  }
  if (!lines.empty() && lines.back().empty()) lines.pop_back();
  return lines;
}

std::string JoinSetupLines(const std::vector<std::string>& lines) {
  std::string text;
  for (size_t i = 0; i < lines.size(); ++i) {
    if (i > 0) text += "\r\n";
    text += lines[i];
  }
  return text;
}

void CheckSetupNesting(const std::vector<std::string>& lines) {
  int depth = 0;
  for (const std::string& line : lines) {
    if (line == "Begin") ++depth;
    else if (line == "End" && --depth < 0) break;
  }
  if (depth != 0) throw kd::Exception("SetSetup: Begin and End do not match");
}

std::vector<std::string> CollectSetupBlock(const std::vector<std::string>& lines, size_t& i) {
  const std::string header = i < lines.size() ? lines[i] : std::string();
  std::vector<std::string> block;
  ++i;
  int depth = 0;
  do {
    if (i >= lines.size()) throw kd::Exception("SetSetup: section " + header + " has no End");
    const std::string& line = lines[i];
    if (line == "Begin") ++depth;
    else if (line == "End") --depth;
    block.push_back(line);
    ++i;
  } while (depth > 0);
  return block;
}

TlaSetupKeys::TlaSetupKeys(const std::vector<std::string>& lines) {
  for (const std::string& line : lines) {
    const size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    values_.try_emplace(kd::LowerCase(std::string_view(line).substr(0, eq)), line.substr(eq + 1));
  }
}

bool TlaSetupKeys::Has(std::string_view name) const { return values_.count(kd::LowerCase(name)) != 0; }

std::string TlaSetupKeys::Text(std::string_view name) const {
  auto it = values_.find(kd::LowerCase(name));
  return it == values_.end() ? std::string() : it->second;
}

bool TlaSetupKeys::Bool(std::string_view name) const { return SetupStrToBool(Text(name)); }

const std::string& TlaSetupKeys::Required(std::string_view name) const {
  auto it = values_.find(kd::LowerCase(name));
  if (it == values_.end() || it->second.empty())
    throw kd::ConvertError("SetSetup: key " + std::string(name) + " is missing");
  return it->second;
}

namespace {

// Converts the value of a key; a conversion error names the key.
template <class F>
auto Keyed(std::string_view name, const std::string& value, F&& convert) -> decltype(convert(value)) {
  try {
    return convert(value);
  } catch (const kd::ConvertError& e) {
    throw kd::ConvertError("SetSetup: key " + std::string(name) + ": " + e.what());
  }
}

}  // namespace

int TlaSetupKeys::Int(std::string_view name) const { return Keyed(name, Required(name), SetupStrToInt); }
double TlaSetupKeys::Float(std::string_view name) const { return Keyed(name, Required(name), SetupStrToFloat); }
kd::TRect TlaSetupKeys::Rect(std::string_view name) const { return Keyed(name, Required(name), SetupStrToRect); }
Tla2DPoint TlaSetupKeys::Point(std::string_view name) const { return Keyed(name, Required(name), SetupStrToPoint); }
TlaRange TlaSetupKeys::Range(std::string_view name) const { return Keyed(name, Required(name), SetupStrToRange); }

void TlaSetupKeys::ReadPen(std::string_view name, kd::TPen& out) const {
  Keyed(name, Required(name), [&](std::string_view v) { SetupStrToPen(v, &out); });
}

void TlaSetupKeys::ReadBrush(std::string_view name, kd::TBrush& out) const {
  Keyed(name, Required(name), [&](std::string_view v) { SetupStrToBrush(v, &out); });
}

void TlaSetupKeys::ReadFont(std::string_view name, kd::TFont& out) const {
  Keyed(name, Required(name), [&](std::string_view v) { SetupStrToFont(v, &out); });
}
