#include "Tlareporthtmlscanner.h"

#include "Exception.h"
#include "FileIo.h"
#include "Strings.h"

std::string TlaHtmlTagParams::Values(std::string_view name) const {
  for (const auto& [n, v] : items_)
    if (kd::SameText(n, name)) return v;
  return {};
}

namespace {

bool IsBlank(char c) {
  return static_cast<unsigned char>(c) <= 32;
}

// One tag read from the text; closed is false when the text ends first.
struct ScannedTag {
  std::string name;
  TlaHtmlTagParams params;
  bool closed = false;
  size_t end = 0;  // just past the ">"
};

// Reads the tag whose "<#" ends just before pos.
ScannedTag ScanTag(std::string_view text, size_t pos) {
  ScannedTag tag;
  const size_t size = text.size();
  auto runTo = [&](size_t from, auto stop) {
    while (from < size && !stop(text[from])) ++from;
    return from;
  };
  size_t i = runTo(pos, [](char c) { return IsBlank(c) || c == '>'; });
  tag.name.assign(text.substr(pos, i - pos));
  while (i < size) {
    if (IsBlank(text[i])) {
      ++i;
      continue;
    }
    if (text[i] == '>') {
      tag.closed = true;
      tag.end = i + 1;
      return tag;
    }
    const size_t nameEnd = runTo(i, [](char c) { return IsBlank(c) || c == '=' || c == '>'; });
    std::string name(text.substr(i, nameEnd - i));
    std::string value;
    i = nameEnd;
    if (i < size && text[i] == '=') {
      ++i;
      if (i < size && text[i] == '"') {
        const size_t close = text.find('"', i + 1);
        if (close == std::string_view::npos) return tag;  // runs to the end: no tag
        value.assign(text.substr(i + 1, close - i - 1));
        i = close + 1;
      } else {
        const size_t valueEnd = runTo(i, [](char c) { return IsBlank(c) || c == '>'; });
        value.assign(text.substr(i, valueEnd - i));
        i = valueEnd;
      }
    }
    tag.params.Add(std::move(name), std::move(value));
  }
  return tag;
}

}  // namespace

std::string ExpandHtmlTags(std::string_view text, TlaPageProducer* sender,
                           const TlaHtmlTagEvent& onTag) {
  std::string out;
  out.reserve(text.size());
  size_t pos = 0;
  for (;;) {
    const size_t start = text.find("<#", pos);
    if (start == std::string_view::npos) break;
    const ScannedTag tag = ScanTag(text, start + 2);
    // An open tag reaches the end of the text, so no tag can follow it.
    if (!tag.closed) break;
    out.append(text.substr(pos, start - pos));
    std::string replacement;
    if (onTag) onTag(sender, tag.name, tag.params, replacement);
    out += replacement;
    pos = tag.end;
  }
  out.append(text.substr(pos));
  return out;
}

std::string TlaPageProducer::Content() {
  std::string text;
  if (const kd::FileStatus read = kd::ReadWholeFile(TemplateFile, MaxFileSize, text); !read.Ok())
    throw kd::Exception("PageProducer: Cannot read template file '" + TemplateFile +
                        "': " + read.Text());
  return ExpandHtmlTags(text, this, OnTag);
}
