#pragma once
// A report over a small register image of 20 registers, with a private
// folder for templates, SQL files and databases.
#include <gtest/gtest.h>

#include <string>

#include "TestSupport.h"
#include "Tlaregdatabuffercmp.h"
#include "Tlareporthtmlcmp.h"

namespace reporttest {

// Register 2 a voltage, 3 and 4 strings, 5 a flag word with bit texts; the
// other sections are absent, so those registers hold no bytes.
inline const char* const kModel = R"([DataModel]
RegisterCount=20
MaxBufferSize=40

[2]
Name=Volts
Type=short
FormatNorm=0.1
FormatString=0.0 V

[3]
Name=Label
Type=string
Length=8

[4]
Name=Path
Type=string
Length=200

[5]
Name=Status
Type=short
Boolean=1
Status.0.3="Name=Motor on",True=Running,False=Stopped
Status.0.4=True=<on>,False=off
)";

class ReportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(model.LoadFromFile(dir.Write("model.par", kModel)));
    ASSERT_TRUE(image.CreateRegDataBuffer(&model));
    ASSERT_EQ(image.GetRegisterCount(), 20);
    report.ValueSet = &image;
  }

  // Writes a template into the folder and returns its path.
  std::string Template(const std::string& name, const std::string& text) const {
    return dir.Write(name, text);
  }

  // The expansion of a template text.
  std::string Expand(const std::string& text) {
    return report.CompileModel(Template("t.htm", text));
  }

  void SetBit(int reg, int bit, bool on) {
    image.GetRegister(reg)->SetValueBit(0, static_cast<std::uint8_t>(bit), on);
  }

  kdtest::TempDir dir;
  TlaRegDefsList model;
  TlaRegDataBuffer image;
  TlaReportHtml report;
};

}  // namespace reporttest
