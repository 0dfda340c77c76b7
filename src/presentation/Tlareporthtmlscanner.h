#pragma once
// The template expander of the HTML report: finds the tags of a template text
// and replaces each with the text a handler gives for it.
//
// A tag is "<#", its name, then blank-separated parameters name=value and
// ">". A value that begins with a double quote runs to the next double quote
// (so it may hold blanks and ">"); a parameter without "=" has an empty
// value. A tag that is not closed before the end of the text is no tag: it
// and the rest of the text are kept as they stand.
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

class TlaPageProducer;

// The parameters of one tag, in the order written.
class TlaHtmlTagParams {
 public:
  void Add(std::string name, std::string value) {
    items_.emplace_back(std::move(name), std::move(value));
  }
  int Count() const { return static_cast<int>(items_.size()); }
  const std::string& Name(int index) const { return items_.at(static_cast<size_t>(index)).first; }
  const std::string& Value(int index) const { return items_.at(static_cast<size_t>(index)).second; }
  // The value of the first parameter with that name (letter case ignored);
  // empty when there is none.
  std::string Values(std::string_view name) const;

 private:
  std::vector<std::pair<std::string, std::string>> items_;
};

// Gives the replacement of one tag; a replacement left empty removes the tag.
using TlaHtmlTagEvent =
    std::function<void(TlaPageProducer* sender, const std::string& tagName,
                       const TlaHtmlTagParams& params, std::string& replacement)>;

// The text with every tag replaced by what onTag gives for it (nothing
// without a handler). Linear in the length of the text.
std::string ExpandHtmlTags(std::string_view text, TlaPageProducer* sender,
                           const TlaHtmlTagEvent& onTag);

// A template file and its tag handler.
class TlaPageProducer {
 public:
  // The most a template (or another file a tag names) may hold.
  static constexpr std::uintmax_t MaxFileSize = 16 << 20;

  std::string TemplateFile;
  TlaHtmlTagEvent OnTag;

  // The expanded template; raises kd::Exception when the file cannot be
  // read whole (missing, no regular file, past MaxFileSize, unreadable).
  std::string Content();
};
