#include "Tlareporthtmlcmp.h"

#include <algorithm>
#include <functional>
#include <memory>
#include <new>
#include <vector>

#include "Exception.h"
#include "FileIo.h"
#include "Tlareporthtmltable.h"

namespace {

// Items each followed by ":"; a last item without its ":" runs to the end.
std::vector<std::string> SplitColonList(const std::string& value) {
  std::vector<std::string> items;
  size_t start = 0;
  while (start < value.size()) {
    const size_t colon = value.find(':', start);
    if (colon == std::string::npos) {
      items.push_back(value.substr(start));
      break;
    }
    items.push_back(value.substr(start, colon - start));
    start = colon + 1;
  }
  return items;
}

// Counts the templates being expanded for the time of one expansion.
class DepthGuard {
 public:
  explicit DepthGuard(int& depth) : depth_(depth) { ++depth_; }
  ~DepthGuard() { --depth_; }
  DepthGuard(const DepthGuard&) = delete;
  DepthGuard& operator=(const DepthGuard&) = delete;

 private:
  int& depth_;
};

}  // namespace

TlaReportHtml::TlaReportHtml(kd::Component* owner) : kd::Component(owner) {}

TlaReportHtml::~TlaReportHtml() = default;

bool TlaReportHtml::CreateReport(const std::string& file) {
  reportList_ = kd::StringList(kd::SplitLines(CompileModel(file)));
  return reportList_.Count() > 0;
}

std::string TlaReportHtml::CompileModel(const std::string& file) {
  if (!ValueSet || file.empty()) return {};
  if (depth_ >= MaxTemplateDepth)
    throw kd::Exception("CompileModel: Template '" + file + "' is nested more than " +
                        std::to_string(MaxTemplateDepth) +
                        " levels deep (does a template include itself?).");
  DepthGuard guard(depth_);
  try {
    TlaPageProducer producer;
    producer.TemplateFile = file;
    producer.OnTag = std::bind_front(&TlaReportHtml::Tagger, this);
    std::string page = producer.Content();
    std::erase(page, '\0');  // from the template or an owner's text: never into the page
    return page;
  } catch (const std::bad_alloc&) {
    throw kd::Exception("CompileModel: PageProducer Bad Alloc.");
  }
}

void TlaReportHtml::Tagger(TlaPageProducer*, const std::string& tagName,
                           const TlaHtmlTagParams& params, std::string& replacement) {
  if (kd::SameText(tagName, "BLOCK"))
    replacement = Decode_BLOCK_Tag(params);
  else if (kd::SameText(tagName, "PAR"))
    replacement = Decode_PAR_Tag(params);
  else if (kd::SameText(tagName, "TABLE"))
    replacement = Decode_TABLE_Tag(params);
  else if (kd::SameText(tagName, "SWITCH"))
    replacement = Decode_SWITCH_Tag(params);
}

void TlaReportHtml::DecodeParCode(const std::string& text, TlaParCode* code) {
  *code = TlaParCode{};
  const size_t p = text.find(':');
  if (p == std::string::npos) {
    code->RegIndex = kd::StrToInt(text);
    return;
  }
  code->RegIndex = kd::StrToInt(text.substr(0, p));
  const std::string rest = text.substr(p + 1);
  const size_t q = rest.find(':');
  if (q == std::string::npos) {
    code->Element = static_cast<short>(kd::StrToInt(rest));
    return;
  }
  code->Element = static_cast<short>(kd::StrToInt(rest.substr(0, q)));
  if (q + 1 < rest.size()) code->Bit = static_cast<std::int8_t>(kd::StrToInt(rest.substr(q + 1)));
}

TlaRegister* TlaReportHtml::RegisterOf(const TlaParCode& code) const {
  return ValueSet ? ValueSet->GetRegister(static_cast<std::uint16_t>(code.RegIndex)) : nullptr;
}

bool TlaReportHtml::DecodeCondition(const std::string& condition) {
  if (condition.empty()) return false;
  const bool invert = condition[0] == '!';
  const std::string rest = invert ? condition.substr(1) : condition;
  bool value = false;
  if (!rest.empty() && rest[0] == 'I' && OnCondition) {
    value = OnCondition(this, rest.substr(1));
  } else {
    TlaParCode code;
    DecodeParCode(rest, &code);
    if (code.Bit >= 0) {
      if (TlaRegister* r = RegisterOf(code))
        value = r->GetValueBit(static_cast<std::uint8_t>(code.Element),
                               static_cast<std::uint8_t>(code.Bit));
    }
  }
  return value != invert;
}

std::string TlaReportHtml::DecodeDescriptor(const std::string& descriptor) {
  if (descriptor.empty()) return {};
  const std::string rest = descriptor.substr(1);
  switch (descriptor[0]) {
    case 'I':
      return OnDescriptor ? OnDescriptor(this, rest) : std::string();
    case 'D': {
      if (!OnDescription) return {};
      TlaParCode code;
      DecodeParCode(rest, &code);
      return OnDescription(this, rest, code);
    }
    case 'F':
      return CompileModel(rest);
    case 'M':
      return OnMessage ? OnMessage(this, rest) : std::string();
    case 'S':
      return rest;
    case 'V': {
      TlaParCode code;
      DecodeParCode(rest, &code);
      TlaRegister* r = RegisterOf(code);
      std::string text = r ? r->GetValueBitText(static_cast<std::uint8_t>(code.Element),
                                                static_cast<std::uint8_t>(code.Bit))
                           : rest;
      // A text ends at its first NUL (string registers are padded with them).
      if (const size_t nul = text.find('\0'); nul != std::string::npos) text.resize(nul);
      return text;
    }
    default:
      return {};
  }
}

std::string TlaReportHtml::PageText(const std::string& descriptor) {
  // Register texts are data (a string register holds what the drive sent), never markup.
  const std::string text = DecodeDescriptor(descriptor);
  return !descriptor.empty() && descriptor[0] == 'V' ? HtmlEscape(text) : text;
}

std::string TlaReportHtml::ChooseByCondition(const TlaHtmlTagParams& params) {
  const std::string condition = params.Values("IF");
  if (condition.empty()) return params.Values("GET");
  return DecodeCondition(condition) ? params.Values("THEN") : params.Values("ELSE");
}

std::string TlaReportHtml::Decode_BLOCK_Tag(const TlaHtmlTagParams& params) {
  return CompileModel(ChooseByCondition(params));
}

std::string TlaReportHtml::Decode_PAR_Tag(const TlaHtmlTagParams& params) {
  return PageText(ChooseByCondition(params));
}

std::string TlaReportHtml::Decode_SWITCH_Tag(const TlaHtmlTagParams& params) {
  const std::string cases = params.Values("CASE");
  if (cases.empty()) return {};
  std::uint8_t n = 0;  // the first condition is the most significant bit; higher bits fall off
  for (const std::string& c : SplitColonList(cases))
    n = static_cast<std::uint8_t>((n << 1) | (DecodeCondition(c) ? 1 : 0));
  return PageText(params.Values("GET" + std::to_string(n)));
}

// SQL, TAB, FILTER, FIELD and LABEL descriptors give their raw texts (the
// table producer escapes labels and cells itself); EMPTY goes into the page.
std::string TlaReportHtml::Decode_TABLE_Tag(const TlaHtmlTagParams& params) {
  std::unique_ptr<TlaSqliteDataSet> data;
  if (const std::string sqlFile = DecodeDescriptor(params.Values("SQL")); !sqlFile.empty()) {
    std::string sql;
    if (const kd::FileStatus read = kd::ReadWholeFile(sqlFile, TlaPageProducer::MaxFileSize, sql);
        !read.Ok())
      throw kd::Exception("Decode_TABLE_Tag: Cannot read SQL file '" + sqlFile +
                          "': " + read.Text());
    data = std::make_unique<TlaSqliteDataSet>(DatabaseName);
    data->OpenQuery(sql);
  } else if (const std::string table = DecodeDescriptor(params.Values("TAB")); !table.empty()) {
    data = std::make_unique<TlaSqliteDataSet>(DatabaseName);
    data->OpenTable(table);
  }
  if (!data) return {};

  data->SetFilter(DecodeDescriptor(params.Values("FILTER")));
  if (!data->First()) return PageText(params.Values("EMPTY"));

  TlaHtmlTableProducer table;
  table.DataSet = data.get();
  for (const std::string& field : SplitColonList(params.Values("FIELD")))
    table.Columns.push_back({DecodeDescriptor(field), {}});
  if (table.Columns.empty()) {
    for (int i = 0; i < data->FieldCount(); ++i) table.Columns.push_back({data->FieldName(i), {}});
  }
  const std::vector<std::string> labels = SplitColonList(params.Values("LABEL"));
  for (size_t i = 0; i < labels.size() && i < table.Columns.size(); ++i)
    table.Columns[i].DisplayLabel = DecodeDescriptor(labels[i]);
  return table.Content();
}
