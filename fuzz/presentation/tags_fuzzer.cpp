// Template texts and parameter codes from outside: the tag scanner, the code
// parser and the PAR and SWITCH tags over a register image must not crash;
// text without tags passes unchanged, and tags that give nothing never make
// a text longer; no NUL byte comes out of a register text (the string
// register is NUL-padded) or of a tag whose parameters hold none.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "Exception.h"
#include "Tlareporthtmlcmp.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

// A report over a small image with a flag word, a scaled value and a string.
struct Fixture {
  std::string path = "/tmp/kd-report-fuzz-" + std::to_string(getpid()) + ".par";
  TlaRegDefsList model;
  TlaRegDataBuffer image;
  TlaReportHtml report;

  Fixture() {
    {
      std::ofstream out(path);
      out << "[DataModel]\nRegisterCount=8\n\n"
             "[0]\nName=Flags\nType=short\nBoolean=1\nFlags.0.1=True=On,False=Off\n\n"
             "[1]\nName=Volts\nType=short\nLength=2\nFormatNorm=0.1\nFormatString=0.0 V\n\n"
             "[2]\nName=Text\nType=string\nLength=4\n\n"
             "[3]\nName=Wide\nType=long\n";
    }
    model.LoadFromFile(path);
    std::remove(path.c_str());
    image.CreateRegDataBuffer(&model);
    image.GetRegister(0)->SetValueInteger(0, 0x5A);
    image.GetRegister(2)->SetValueString("<&");  // and two NULs
    report.ValueSet = &image;
    report.OnCondition = [](TlaReportHtml*, const std::string& tag) { return tag.size() % 2 == 1; };
    report.OnMessage = [](TlaReportHtml*, const std::string& tag) { return tag; };
  }
};

Fixture& Report() {
  static Fixture fixture;
  return fixture;
}

// PAR and SWITCH tags, unless a descriptor would name a template file.
void Dispatch(TlaPageProducer* sender, const std::string& name, const TlaHtmlTagParams& params,
              std::string& replacement) {
  for (int i = 0; i < params.Count(); ++i)
    if (!params.Value(i).empty() && params.Value(i)[0] == 'F') return;
  if (!kd::SameText(name, "PAR") && !kd::SameText(name, "SWITCH")) return;
  Report().report.Tagger(sender, name, params, replacement);
  for (int i = 0; i < params.Count(); ++i)
    if (params.Value(i).find('\0') != std::string::npos) return;
  Check(replacement.find('\0') == std::string::npos);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);

  const std::string stripped = ExpandHtmlTags(text, nullptr, {});
  Check(stripped.size() <= text.size());
  if (text.find("<#") == std::string::npos) Check(stripped == text);

  int tags = 0;
  ExpandHtmlTags(
      text, nullptr,
      [&](TlaPageProducer*, const std::string&, const TlaHtmlTagParams& params, std::string&) {
        ++tags;
        for (int i = 0; i < params.Count(); ++i)
          Check(params.Name(i).find('>') == std::string::npos);
      });
  Check(tags == 0 || text.find("<#") != std::string::npos);

  TlaParCode code;
  try {
    TlaReportHtml::DecodeParCode(text, &code);
    if (text.find(':') == std::string::npos) Check(code.Element == -1 && code.Bit == -1);
  } catch (const kd::ConvertError&) {
  }

  try {
    Report().report.DecodeCondition(text);
  } catch (const kd::Exception&) {
  }
  if (text.empty() || text[0] != 'F') {
    try {
      const std::string described = Report().report.DecodeDescriptor(text);
      if (!text.empty() && text[0] == 'V') Check(described.find('\0') == std::string::npos);
    } catch (const kd::Exception&) {
    }
  }
  try {
    ExpandHtmlTags(text, nullptr, Dispatch);
  } catch (const kd::Exception&) {
  }
  return 0;
}
