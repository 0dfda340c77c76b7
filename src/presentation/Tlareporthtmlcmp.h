#pragma once
// TlaReportHtml: turns an HTML template file into a report about one register
// image. Tags <#BLOCK>, <#PAR>, <#SWITCH> and <#TABLE> are replaced by other
// template files, register bits and texts, texts of the owner's events and
// HTML tables of SQLite records; the result is kept as a list of lines.
//
// Parameter codes: r, r:a or r:a:b (register index, element, bit).
// Conditions: a parameter code with a bit (false without one), or "I" and a
// text for OnCondition; a leading "!" inverts.
// Descriptors, by their first letter: I (OnDescriptor), D (OnDescription),
// F (another template file), M (OnMessage), S (the rest as it stands),
// V (the display text of a register element or bit, up to its first NUL;
// HTML-escaped where it is written into the page, raw in TABLE parameters).
// Templates and the SQL files of TABLE tags are read whole only when they
// are regular files of at most TlaPageProducer::MaxFileSize bytes; anything
// else raises before it is read.
#include <cstdint>
#include <string>

#include "Component.h"
#include "Event.h"
#include "Strings.h"
#include "Tlaregdatabuffercmp.h"
#include "Tlareporthtmlscanner.h"

class TlaReportHtml;

// A parsed parameter code.
struct TlaParCode {
  int RegIndex = 0;  // used as an unsigned 16-bit register index
  short Element = -1;
  std::int8_t Bit = -1;  // 8 bits: codes from 128 up read as negative
};

using TlaReportConditionEvent = kd::Event<bool(TlaReportHtml* sender, const std::string& tag)>;
using TlaReportTextEvent = kd::Event<std::string(TlaReportHtml* sender, const std::string& tag)>;
using TlaReportDescriptionEvent = kd::Event<std::string(
    TlaReportHtml* sender, const std::string& tag, const TlaParCode& parcode)>;

class TlaReportHtml : public kd::Component {
 public:
  explicit TlaReportHtml(kd::Component* owner = nullptr);
  ~TlaReportHtml() override;
  std::string ClassName() const override { return "TlaReportHtml"; }

  // Templates that include one another deeper than this raise an error
  // (a template that includes itself would never end).
  static constexpr int MaxTemplateDepth = 32;

  TlaRegDataBuffer* ValueSet = nullptr;  // not owned; required for any report
  std::string DatabaseName;              // path of the SQLite file TABLE tags read
  TlaReportConditionEvent OnCondition;
  TlaReportTextEvent OnDescriptor;
  TlaReportDescriptionEvent OnDescription;
  TlaReportTextEvent OnMessage;

  // The lines of the last report.
  const kd::StringList& ReportList() const { return reportList_; }

  // ReportList = the expanded template, split into lines; true when it has
  // at least one line. On an error ReportList keeps its lines and the error
  // passes to the caller.
  bool CreateReport(const std::string& file);
  // The expanded template; empty without ValueSet or file name.
  std::string CompileModel(const std::string& file);

  // The tag handler of the template expander.
  void Tagger(TlaPageProducer* sender, const std::string& tagName, const TlaHtmlTagParams& params,
              std::string& replacement);

  // Raises kd::ConvertError for a part that is empty or no integer.
  static void DecodeParCode(const std::string& text, TlaParCode* code);
  bool DecodeCondition(const std::string& condition);
  std::string DecodeDescriptor(const std::string& descriptor);

  std::string Decode_BLOCK_Tag(const TlaHtmlTagParams& params);
  std::string Decode_PAR_Tag(const TlaHtmlTagParams& params);
  std::string Decode_SWITCH_Tag(const TlaHtmlTagParams& params);
  std::string Decode_TABLE_Tag(const TlaHtmlTagParams& params);

 private:
  // A descriptor's text as it goes into the page: a register text escaped.
  std::string PageText(const std::string& descriptor);
  // IF empty: GET; else THEN when the condition holds, ELSE otherwise.
  std::string ChooseByCondition(const TlaHtmlTagParams& params);
  TlaRegister* RegisterOf(const TlaParCode& code) const;

  kd::StringList reportList_;
  int depth_ = 0;  // templates being expanded
};
