// The HTML report: tag syntax, parameter codes, conditions, descriptors,
// BLOCK, PAR and SWITCH tags, nested templates and failures, files that
// cannot be read whole.
#include <gtest/gtest.h>

#include <chrono>
#include <vector>

#include "Exception.h"
#include "ReportFixture.h"

using reporttest::ReportTest;

namespace {

struct CodeCase {
  const char* text;
  int regIndex;
  short element;
  int bit;
};

}  // namespace

TEST(ParCode, Decodes) {
  const CodeCase cases[] = {
      {"5", 5, -1, -1},          {"5:2", 5, 2, -1},      {"5:2:3", 5, 2, 3},
      {"5:0:", 5, 0, -1},        {"7:1:200", 7, 1, -56},  // the bit is kept in 8 signed bits
      {"70000:3", 70000, 3, -1}, {"-1:0:0", -1, 0, 0},
  };
  for (const CodeCase& c : cases) {
    TlaParCode code;
    code.RegIndex = 99;
    TlaReportHtml::DecodeParCode(c.text, &code);
    EXPECT_EQ(code.RegIndex, c.regIndex) << c.text;
    EXPECT_EQ(code.Element, c.element) << c.text;
    EXPECT_EQ(code.Bit, c.bit) << c.text;
  }
}

TEST(ParCode, EmptyOrNonNumericPartsRaise) {
  for (const char* text : {"", "x", "5:", ":1", "5::3", "5:0:3:4", "5:a", "Ia"}) {
    TlaParCode code;
    EXPECT_THROW(TlaReportHtml::DecodeParCode(text, &code), kd::ConvertError) << text;
  }
}

TEST_F(ReportTest, ConditionsReadRegisterBitsAndTheEvent) {
  SetBit(5, 3, true);
  std::vector<std::string> asked;
  report.OnCondition = [&](TlaReportHtml* sender, const std::string& tag) {
    EXPECT_EQ(sender, &report);
    asked.push_back(tag);
    return tag == "b";
  };
  const std::pair<const char*, bool> cases[] = {
      {"5:0:3", true},     {"!5:0:3", false}, {"5:0:4", false}, {"!5:0:4", true},
      {"5:0", false},      {"!5:0", true},    {"5", false},  // no bit: false
      {"99:0:1", false},   {"!99:0:1", true},                // no such register
      {"65541:0:3", true},                                   // index taken as 16 bits
      {"", false},         {"Ib", true},      {"!Ib", false},   {"Ia", false},
  };
  for (const auto& [condition, expected] : cases)
    EXPECT_EQ(report.DecodeCondition(condition), expected) << condition;
  EXPECT_EQ(asked, (std::vector<std::string>{"b", "b", "a"}));

  report.OnCondition = nullptr;  // "I" is then read as a parameter code
  EXPECT_THROW(report.DecodeCondition("Ib"), kd::ConvertError);
  EXPECT_THROW(report.DecodeCondition("!"), kd::ConvertError);
}

TEST_F(ReportTest, Descriptors) {
  SetBit(5, 3, true);
  image.GetRegister(2)->SetValueInteger(0, 125);
  image.GetRegister(3)->SetValueString("<i>&</i>");
  EXPECT_EQ(report.DecodeDescriptor("SHello"), "Hello");
  EXPECT_EQ(report.DecodeDescriptor("S"), "");
  EXPECT_EQ(report.DecodeDescriptor("M12"), "");  // no OnMessage
  EXPECT_EQ(report.DecodeDescriptor("Ix"), "");
  EXPECT_EQ(report.DecodeDescriptor("Dnot a code"), "");  // not parsed without OnDescription
  EXPECT_EQ(report.DecodeDescriptor("V99:0:1"), "99:0:1");
  EXPECT_EQ(report.DecodeDescriptor("V2:0"), "12.5 V");
  EXPECT_EQ(report.DecodeDescriptor("V5:0:3"), "Running");
  EXPECT_EQ(report.DecodeDescriptor("V5:0:2"), "0");
  EXPECT_EQ(report.DecodeDescriptor("V5:0:4"), "off");
  SetBit(5, 4, true);
  EXPECT_EQ(report.DecodeDescriptor("V5:0:4"), "<on>");  // raw here, escaped in the page
  EXPECT_EQ(Expand("<#PAR GET=V5:0:4>"), "&lt;on&gt;");
  EXPECT_EQ(report.DecodeDescriptor("V3:0"), "<i>&</i>");
  EXPECT_EQ(Expand("<#PAR GET=V3:0>"), "&lt;i&gt;&amp;&lt;/i&gt;");
  for (const char* other : {"", "sHello", "vs", "X1", "?"})
    EXPECT_EQ(report.DecodeDescriptor(other), "") << other;
  EXPECT_THROW(report.DecodeDescriptor("Vx"), kd::ConvertError);

  report.OnMessage = [](TlaReportHtml*, const std::string& tag) { return "message " + tag; };
  report.OnDescriptor = [](TlaReportHtml*, const std::string& tag) { return "<b>" + tag + "</b>"; };
  TlaParCode seen;
  report.OnDescription = [&](TlaReportHtml*, const std::string& tag, const TlaParCode& code) {
    seen = code;
    return "about " + tag;
  };
  EXPECT_EQ(report.DecodeDescriptor("M12"), "message 12");
  EXPECT_EQ(report.DecodeDescriptor("Ix"), "<b>x</b>");  // the owner's texts stay markup
  EXPECT_EQ(report.DecodeDescriptor("D7:1:2"), "about 7:1:2");
  EXPECT_EQ(seen.RegIndex, 7);
  EXPECT_EQ(seen.Element, 1);
  EXPECT_EQ(seen.Bit, 2);
  EXPECT_THROW(report.DecodeDescriptor("Dnot a code"), kd::ConvertError);
}

TEST_F(ReportTest, TextWithoutTagsIsKeptAndSplitIntoLines) {
  const std::string text = "<html>\r\n<p>a < b &amp; c > d</p>\n\n<#open tag without end";
  EXPECT_EQ(Expand(text), text);
  ASSERT_TRUE(report.CreateReport(dir.File("t.htm")));
  EXPECT_EQ(report.ReportList().Lines(),
            (std::vector<std::string>{"<html>", "<p>a < b &amp; c > d</p>", "",
                                      "<#open tag without end"}));

  EXPECT_FALSE(report.CreateReport(Template("empty.htm", "")));
  EXPECT_EQ(report.ReportList().Count(), 0);
  EXPECT_TRUE(report.CreateReport(Template("newline.htm", "\n")));
  EXPECT_EQ(report.ReportList().Lines(), (std::vector<std::string>{""}));
}

TEST_F(ReportTest, WithoutValueSetOrFileNameTheReportIsEmpty) {
  ASSERT_TRUE(report.CreateReport(Template("a.htm", "line\n<#PAR GET=SHello>")));
  report.ValueSet = nullptr;
  EXPECT_FALSE(report.CreateReport(dir.File("a.htm")));
  EXPECT_EQ(report.ReportList().Count(), 0);
  EXPECT_EQ(report.CompileModel(dir.File("a.htm")), "");
  report.ValueSet = &image;
  EXPECT_FALSE(report.CreateReport(""));
}

TEST_F(ReportTest, TagSyntax) {
  const std::pair<const char*, const char*> cases[] = {
      {"<#PAR GET=SHello>", "Hello"},
      {"[<#par get=SHello>]", "[Hello]"},  // names without regard to case
      {"<#Par\n\tGet=\"SHello, world > all\" >",
       "Hello, world > all"},               // quoted value, blanks around
      {"<#PAR GET=SOne GET=STwo>", "One"},  // the first of two
      {"<#PAR IF GET=SOne>", "One"},        // a parameter without a value
      {"a<#UNKNOWN x=1>b<#>c", "abc"},      // unknown tags give nothing
      {"<#PAR>", ""},
      {"<#PAR GET=SA><#PAR GET=SB>", "AB"},
      {"<#PAR GET=\"Sopen quote>", "<#PAR GET=\"Sopen quote>"},  // no closing quote: no tag
      {"x <#PAR GET=SA> y <#PAR GET=SB", "x A y <#PAR GET=SB"},
      {"<PAR GET=SA> # <#", "<PAR GET=SA> # <#"},
  };
  for (const auto& [text, expected] : cases) EXPECT_EQ(Expand(text), expected) << text;
}

TEST_F(ReportTest, ParTagChoosesByCondition) {
  const std::string tag = "<#PAR IF=!5:0:3 THEN=Sthen ELSE=Selse GET=Sget>";
  EXPECT_EQ(Expand(tag), "then");
  SetBit(5, 3, true);
  EXPECT_EQ(Expand(tag), "else");
  EXPECT_EQ(Expand("<#PAR IF=5:0 THEN=Sthen ELSE=Selse>"), "else");  // no bit: never THEN
  EXPECT_EQ(Expand("<#PAR IF=5:0:3 ELSE=Selse>"), "");               // THEN absent
  EXPECT_EQ(Expand("<#PAR GET=M12>"), "");
}

TEST_F(ReportTest, SwitchTagCountsConditionsFirstMostSignificant) {
  std::vector<std::string> holding;
  report.OnCondition = [&](TlaReportHtml*, const std::string& tag) {
    return std::find(holding.begin(), holding.end(), tag) != holding.end();
  };
  const std::string gets = " GET0=S0 GET1=S1 GET2=S2 GET3=S3 GET255=Sall>";
  const struct {
    const char* cases;
    std::vector<std::string> holding;
    const char* expected;
  } cases[] = {
      {"Ia:Ib:", {}, "0"},
      {"Ia:Ib:", {"b"}, "1"},
      {"Ia:Ib:", {"a"}, "2"},
      {"Ia:Ib", {"a", "b"}, "3"},  // last ":" may be left out
      {"5:0:3:", {}, "0"},         // three codes without a bit, not one with a bit
      {"Ia:Ia:Ia:Ia:Ia:Ia:Ia:Ia:Ia:", {"a"}, "all"},  // 8 bits: the ninth pushes one out
      {"Ia::Ib:", {"a", "b"}, ""},                    // empty middle condition: n = 5, no GET5
      {"", {"a"}, ""},
  };
  SetBit(5, 3, true);
  for (const auto& c : cases) {
    holding = c.holding;
    EXPECT_EQ(Expand(std::string("<#SWITCH CASE=\"") + c.cases + "\"" + gets), c.expected)
        << c.cases;
  }
}

TEST_F(ReportTest, NestedTemplatesThreeDeep) {
  SetBit(5, 3, true);
  const std::string inner = Template("inner.htm", "[inner <#PAR GET=V5:0:3>]");
  const std::string middle = Template("middle.htm", "[middle <#PAR GET=F" + inner + ">]");
  Template("never.htm", "never");
  const std::string outer =
      Template("outer.htm", "<#block if=5:0:3 then=" + middle + " else=" + dir.File("never.htm") +
                                ">\n<#BLOCK GET=>end");
  ASSERT_TRUE(report.CreateReport(outer));
  EXPECT_EQ(report.ReportList().Lines(),
            (std::vector<std::string>{"[middle [inner Running]]", "end"}));
}

TEST_F(ReportTest, SelfIncludingTemplatesStopAtTheDepthLimit) {
  ASSERT_TRUE(report.CreateReport(Template("ok.htm", "kept")));
  const std::string self = dir.File("self.htm");
  Template("self.htm", "x<#BLOCK GET=" + self + ">");
  const std::string a = dir.File("a.htm"), b = dir.File("b.htm");
  Template("a.htm", "<#PAR GET=F" + b + ">");
  Template("b.htm", "<#BLOCK GET=" + a + ">");
  for (const std::string& file : {self, a}) {
    try {
      report.CreateReport(file);
      ADD_FAILURE() << file;
    } catch (const kd::Exception& e) {
      EXPECT_NE(std::string(e.what()).find("nested more than 32 levels"), std::string::npos)
          << e.what();
    }
    EXPECT_EQ(report.ReportList().Lines(), (std::vector<std::string>{"kept"}));
  }
  // A chain just inside the limit expands.
  std::string next = Template("t31.htm", "31");
  for (int i = 30; i >= 0; --i) {
    // Appended, not summed: g++ 12 warns falsely (-Wrestrict) at -O3.
    const std::string name = std::string("t").append(std::to_string(i)).append(".htm");
    next = Template(name, std::string("<#BLOCK GET=").append(next).append(">"));
  }
  EXPECT_EQ(report.CompileModel(next), "31");
}

TEST_F(ReportTest, FailuresKeepTheLastReport) {
  ASSERT_TRUE(report.CreateReport(Template("ok.htm", "kept")));
  const std::pair<std::string, std::string> cases[] = {
      {dir.File("missing.htm"), "missing.htm"},
      {Template("nested.htm", "a<#BLOCK GET=" + dir.File("gone.htm") + ">"), "gone.htm"},
      {Template("code.htm", "<#PAR GET=V5:x>"), "'x' is not a valid integer"},
      {Template("cond.htm", "<#PAR IF=Iflag THEN=Sa>"), "'Iflag' is not a valid integer"},
      {Template("bit.htm", "<#PAR IF=5:0:40 THEN=Sa>"), "GetValueBit"},
  };
  for (const auto& [file, fragment] : cases) {
    try {
      report.CreateReport(file);
      ADD_FAILURE() << file;
    } catch (const kd::Exception& e) {
      EXPECT_NE(std::string(e.what()).find(fragment), std::string::npos) << e.what();
    }
    EXPECT_EQ(report.ReportList().Lines(), (std::vector<std::string>{"kept"})) << file;
  }
}

// A template, and every file a tag names (BLOCK, an F descriptor, the SQL
// file of TABLE), is read only when it is a regular file within the bound:
// anything else fails at once, in bounded memory, and the last report stays.
TEST_F(ReportTest, FilesThatCannotBeReadWholeFailAtOnce) {
  ASSERT_TRUE(report.CreateReport(Template("ok.htm", "kept")));
  const kdtest::RefusedPaths paths(dir.Path(), ".htm");
  const long memory = kdtest::PeakMemoryKiB();
  for (const auto& [path, reason] : paths.Reasons(16 << 20)) {
    const std::string asTemplate = "PageProducer: Cannot read template file '" + path + "': ";
    const std::pair<std::string, std::string> uses[] = {
        {path, asTemplate},
        {Template("block.htm", "a<#BLOCK GET=" + path + ">"), asTemplate},
        {Template("par.htm", "a<#PAR GET=F" + path + ">"), asTemplate},
        {Template("sql.htm", "a<#TABLE SQL=S" + path + ">"),
         "Decode_TABLE_Tag: Cannot read SQL file '" + path + "': "}};
    for (const auto& [file, error] : uses) {
      SCOPED_TRACE(file + " with " + path);
      const kdtest::FifoWatchdog watchdog(paths.fifo, std::chrono::seconds(10));
      try {
        report.CreateReport(file);
        ADD_FAILURE() << "no error";
      } catch (const kd::Exception& e) {
        EXPECT_EQ(std::string(e.what()), error + reason);
      }
      EXPECT_FALSE(watchdog.Fired()) << "waited for a writer";
      EXPECT_EQ(report.ReportList().Lines(), (std::vector<std::string>{"kept"}));
    }
  }
  EXPECT_LT(kdtest::PeakMemoryKiB() - memory, 64 * 1024) << "KiB more at the peak";
}
