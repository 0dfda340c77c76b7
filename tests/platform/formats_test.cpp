// Number and date-time formatting with the program-wide format settings.
#include <gtest/gtest.h>
#include <langinfo.h>
#include <locale.h>

#include <cmath>
#include <limits>
#include <string>
#include <thread>
#include <vector>

#include "Exception.h"
#include "Formats.h"

using namespace kd;

namespace {

// Installs settings for one test and puts the previous ones back.
class ScopedSettings {
 public:
  explicit ScopedSettings(const FormatSettings& s) : saved_(GetFormatSettings()) { SetFormatSettings(s); }
  ~ScopedSettings() { SetFormatSettings(saved_); }

 private:
  FormatSettings saved_;
};

FormatSettings Continental() {
  FormatSettings s;
  s.DecimalSeparator = ',';
  s.ThousandSeparator = '.';
  s.DateSeparator = '.';
  s.TimeSeparator = '-';
  return s;
}

struct NumberCase {
  const char* pattern;
  double value;
  const char* expected;
};

}  // namespace

TEST(FormatFloat, Patterns) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const NumberCase cases[] = {
      // rounding half away from zero on the 15-digit decimal form
      {"0.00", 1.005, "1.01"},
      {"0.00", -2.675, "-2.68"},
      {"0.00", 0.125, "0.13"},
      {"0", 2.5, "3"},
      {"0", -2.5, "-3"},
      {"000.0", 5.25, "005.3"},
      // integer digits beyond the placeholders, '#' and optional decimals
      {"0", 123456, "123456"},
      {"0-00", 12345, "123-45"},
      {"#", 0, ""},
      {"#.##", 0.5, ".5"},
      {"0.##", 1, "1"},
      {"0.0#", 1.25, "1.25"},
      {"0.0#", 1.2, "1.2"},
      // grouping
      {"#,##0.00", 1234567.891, "1'234'567.89"},
      {"#,##0", 999.5, "1'000"},
      {"#,##0", 12, "12"},
      {"#,##0.00", -1234.5, "-1'234.50"},
      {"V #,##0", -1234, "V -1'234"},
      // negative zero prints without sign
      {"0", -0.4, "0"},
      {"0.0", -0.04, "0.0"},
      {"0.0", -0.0, "0.0"},
      // sections
      {"1;1;0", 1, "1"},
      {"1;1;0", 0, "0"},
      {"1;1;0", -1, "1"},
      {"1;1;0", 0.3, "0"},
      {"0.0;(0.0);zero", -2.5, "(2.5)"},
      {"0.0;(0.0);zero", 0, "zero"},
      {"0.0;(0.0);zero", -0.01, "zero"},
      {"0.0;(0.0);zero", 3, "3.0"},
      {"0.0;;zero", -2.5, "-2.5"},
      {"0.0;(0.0)", -0.01, "(0.0)"},
      {"\"a;b\" 0", 7, "a;b 7"},
      // exponent
      {"0.00E+00", 12345, "1.23E+04"},
      {"0.00E+00", 0.00012345, "1.23E-04"},
      {"0.00E+00", 9.999, "1.00E+01"},
      {"0.00E+00", 0, "0.00E+00"},
      {"0.0E-0", 12345, "1.2E4"},
      {"0.0e-00", 0.0012, "1.2e-03"},
      {"00.0E+0", 12345, "12.3E+3"},
      {"0.0E+00", -12345, "-1.2E+04"},
      {"0.0E+00", 1e300, "1.0E+300"},
      // literals
      {"\"V\" 0.0", 3, "V 3.0"},
      {"0.0 V", 230, "230.0 V"},
      {"0%", 50, "50%"},
      {"'#'0", 5, "#5"},
      {"0 'E+'", 5, "5 E+"},
      {"E+0", 5, "E+5"},
      {"abc", -5, "abc"},
      // general form
      {"", 1.5, "1.5"},
      {";(0)", 5, "5"},
      {"0.0", 1e18, "1E18"},
      {"0.0", -2e19, "-2E19"},
      {"0.0", nan, "NAN"},
  };
  for (const NumberCase& c : cases)
    EXPECT_EQ(FormatFloat(c.pattern, c.value), c.expected) << "pattern '" << c.pattern << "' value " << c.value;
}

TEST(FormatFloat, UsesTheSettingsSeparators) {
  ScopedSettings s(Continental());
  EXPECT_EQ(FormatFloat("#,##0.00", 1234567.891), "1.234.567,89");
  EXPECT_EQ(FormatFloat("0.00E+00", 12345), "1,23E+04");
  EXPECT_EQ(FloatToStr(-2.25), "-2,25");
}

TEST(FloatToStr, GeneralForm) {
  const std::pair<double, const char*> cases[] = {
      {0, "0"},
      {-0.0, "0"},
      {0.1, "0.1"},
      {-2.25, "-2.25"},
      {100, "100"},
      {1.0 / 3, "0.333333333333333"},
      {0.0001, "0.0001"},
      {0.00012, "0.00012"},
      {1e-5, "1E-5"},
      {1e-7, "1E-7"},
      {999999999999999, "999999999999999"},
      {1e15, "1E15"},
      {1.5e20, "1.5E20"},
      {123456789012345678.0, "1.23456789012346E17"},
      {std::numeric_limits<double>::infinity(), "INF"},
      {-std::numeric_limits<double>::infinity(), "-INF"},
  };
  for (const auto& [value, expected] : cases) EXPECT_EQ(FloatToStr(value), expected) << value;
}

TEST(FloatToStr, ReadsBackThroughStrToFloat) {
  const std::pair<double, double> cases[] = {
      {0.1, 0.1}, {1e-7, 1e-7}, {-2.25, -2.25}, {1.5e20, 1.5e20}, {-0.0, 0.0},
      {123456789012345678.0, 123456789012346000.0},  // 15 significant digits kept
  };
  for (const auto& [value, readBack] : cases) EXPECT_EQ(StrToFloat(FloatToStr(value)), readBack) << value;
}

TEST(StrToFloat, AcceptsOnlyPlainNumbersWithTheDecimalSeparator) {
  const std::pair<const char*, double> good[] = {
      {" 1.5 ", 1.5}, {"-2", -2}, {"+3.", 3}, {".5", 0.5}, {"1e3", 1000}, {"1.5E-2", 0.015}, {"\t7\n", 7},
  };
  for (const auto& [text, value] : good) {
    double v = 0;
    EXPECT_TRUE(TryStrToFloat(text, v)) << text;
    EXPECT_EQ(v, value) << text;
  }
  for (const char* text : {"1,5", "1'000", "", " ", "abc", "1e", "1.5.2", "--1", "- 1", "inf", "nan", "0x10", "1e999"}) {
    double v = 42;
    EXPECT_FALSE(TryStrToFloat(text, v)) << text;
    EXPECT_EQ(v, 42) << text;
  }
  try {
    StrToFloat("1,5");
    ADD_FAILURE() << "no error";
  } catch (const ConvertError& e) {
    EXPECT_STREQ(e.what(), "'1,5' is not a valid floating point value");
  }
  ScopedSettings s(Continental());
  EXPECT_EQ(StrToFloat("1,5"), 1.5);
  EXPECT_THROW(StrToFloat("1.5"), ConvertError);
}

TEST(Sprintf, AnyLengthAndAlwaysAPoint) {
  EXPECT_EQ(Sprintf("Speed Ref: %3.1lf%%", 12.34), "Speed Ref: 12.3%");
  EXPECT_EQ(Sprintf("%Xh|COM%d|%s", 0xBEEFu, 3, "x"), "BEEFh|COM3|x");
  const std::string longText(1000, 'x');
  EXPECT_EQ(Sprintf("<%s>", longText.c_str()), "<" + longText + ">");
}

TEST(Sprintf, IgnoresACommaLocale) {
  locale_t comma = locale_t(0);
  for (const char* name : {"de_DE.UTF-8", "de_DE", "it_IT.UTF-8", "fr_FR.UTF-8", "de_CH.UTF-8", "nl_NL.UTF-8"}) {
    comma = newlocale(LC_ALL_MASK, name, locale_t(0));
    if (comma != locale_t(0) && std::string(nl_langinfo_l(RADIXCHAR, comma)) == ",") break;
    if (comma != locale_t(0)) freelocale(comma);
    comma = locale_t(0);
  }
  if (comma == locale_t(0)) GTEST_SKIP() << "no locale with a ',' decimal point is installed";
  const locale_t previous = uselocale(comma);
  const std::string printed = Sprintf("%.2f", 1.5);
  const std::string general = FloatToStr(2.25);
  double parsed = 0;
  const bool ok = TryStrToFloat("3.5", parsed);
  uselocale(previous);
  freelocale(comma);
  EXPECT_EQ(printed, "1.50");
  EXPECT_EQ(general, "2.25");
  EXPECT_TRUE(ok);
  EXPECT_EQ(parsed, 3.5);
}

TEST(FormatSettings, ReadableWhileReplaced) {
  const FormatSettings saved = GetFormatSettings();
  std::vector<std::thread> readers;
  for (int t = 0; t < 4; ++t)
    readers.emplace_back([] {
      for (int i = 0; i < 2000; ++i) {
        const char c = GetFormatSettings().DecimalSeparator;
        ASSERT_TRUE(c == '.' || c == ',');
        (void)FormatFloat("0.0", 1.5);
      }
    });
  for (int i = 0; i < 20; ++i) SetFormatSettings(i % 2 ? saved : Continental());
  for (std::thread& r : readers) r.join();
  SetFormatSettings(saved);
  EXPECT_EQ(GetFormatSettings().DecimalSeparator, '.');
}

TEST(DateTime, EncodeDateAndDecodeBack) {
  struct Case {
    int y, m, d;
    double value;
  };
  const Case cases[] = {
      {1899, 12, 30, 0},       {1900, 1, 1, 2},       {1899, 12, 29, -1}, {1970, 1, 1, 25569},
      {2000, 2, 29, 36585},    {2024, 3, 5, 45356},   {1, 1, 1, -693593}, {9999, 12, 31, 2958465},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(EncodeDate(c.y, c.m, c.d), c.value) << c.y << "-" << c.m << "-" << c.d;
    int y = 0, m = 0, d = 0;
    DecodeDate(c.value < 0 ? c.value - 0.75 : c.value + 0.75, y, m, d);  // 18:00 of that day
    EXPECT_EQ(y * 10000 + m * 100 + d, c.y * 10000 + c.m * 100 + c.d) << c.value;
  }
  TDateTime out = 7;
  for (auto [y, m, d] : {std::tuple{2023, 2, 29}, {1900, 2, 29}, {2024, 4, 31}, {2024, 13, 1}, {2024, 0, 1},
                         {2024, 1, 0}, {0, 1, 1}, {10000, 1, 1}}) {
    EXPECT_FALSE(TryEncodeDate(y, m, d, out)) << y << "-" << m << "-" << d;
    EXPECT_THROW(EncodeDate(y, m, d), ConvertError);
  }
  EXPECT_EQ(out, 7);
  EXPECT_TRUE(TryEncodeDate(2000, 2, 29, out));
}

TEST(DateTime, LeapYearsAndMonthLengths) {
  EXPECT_TRUE(IsLeapYear(2024));
  EXPECT_TRUE(IsLeapYear(2000));
  EXPECT_FALSE(IsLeapYear(1900));
  EXPECT_FALSE(IsLeapYear(2023));
  EXPECT_EQ(DaysInMonth(2024, 2), 29);
  EXPECT_EQ(DaysInMonth(1900, 2), 28);
  EXPECT_EQ(DaysInMonth(2023, 4), 30);
  EXPECT_EQ(DaysInMonth(2023, 12), 31);
  EXPECT_EQ(DaysInMonth(2023, 13), 0);
}

TEST(DateTime, TimeFractions) {
  struct Case {
    double value;
    int h, n, s, ms;
  };
  const Case cases[] = {
      {0.5, 12, 0, 0, 0},
      {0.25, 6, 0, 0, 0},
      {EncodeTime(23, 59, 59, 999), 23, 59, 59, 999},
      {EncodeTime(0, 0, 0, 1), 0, 0, 0, 1},
      {45356 + EncodeTime(14, 7, 9, 45), 14, 7, 9, 45},
      {-1.25, 6, 0, 0, 0},  // 29 Dec 1899: the fraction counts forward
  };
  for (const Case& c : cases) {
    int h = -1, n = -1, s = -1, ms = -1;
    DecodeTime(c.value, h, n, s, ms);
    EXPECT_EQ((std::vector{h, n, s, ms}), (std::vector{c.h, c.n, c.s, c.ms})) << c.value;
  }
  EXPECT_EQ(EncodeTime(12, 0, 0, 0), 0.5);
  TDateTime t = 0;
  for (auto [h, n, s, ms] : {std::tuple{24, 0, 0, 0}, {0, 60, 0, 0}, {0, 0, 60, 0}, {0, 0, 0, 1000}, {-1, 0, 0, 0}})
    EXPECT_FALSE(TryEncodeTime(h, n, s, ms, t)) << h << ":" << n << ":" << s << "." << ms;
  EXPECT_THROW(EncodeTime(24, 0, 0, 0), ConvertError);

  // Just short of midnight rounds on to the next day, in date and time alike.
  const double almost = 2 - 1e-10;
  int y = 0, m = 0, d = 0, h = -1, n = -1, s = -1, ms = -1;
  DecodeDate(almost, y, m, d);
  DecodeTime(almost, h, n, s, ms);
  EXPECT_EQ((std::vector{y, m, d, h, n, s, ms}), (std::vector{1900, 1, 1, 0, 0, 0, 0}));
  // Out of range decodes as nothing rather than garbage.
  DecodeDate(1e12, y, m, d);
  EXPECT_EQ((std::vector{y, m, d}), (std::vector{0, 0, 0}));
}

TEST(DateTime, NowAndDate) {
  const TDateTime today = Date();
  const TDateTime now = Now();
  EXPECT_EQ(today, std::trunc(today));
  EXPECT_GE(now, today);
  EXPECT_LT(now, today + 2);
  EXPECT_GT(today, EncodeDate(2020, 1, 1));
}

TEST(FormatDateTime, Patterns) {
  const TDateTime v = EncodeDate(2024, 3, 5) + EncodeTime(14, 7, 9, 45);
  const std::pair<const char*, const char*> cases[] = {
      {"dd/mm/yyyy", "05/03/2024"},
      {"d/m/yy", "5/3/24"},
      {"yyyy-mm-dd", "2024-03-05"},
      {"DD/MM/YYYY", "05/03/2024"},
      {"hh:nn:ss.zzz", "14:07:09.045"},
      {"h:n:s z", "14:7:9 45"},
      {"hh:mm", "14:07"},            // minutes right after the hour
      {"h:m", "14:7"},
      {"hh 'h' mm", "14 h 07"},      // literals between do not matter
      {"mm/dd hh", "03/05 14"},
      {"hh dd mm", "14 05 03"},      // another field in between: month
      {"ddd dddd mmm mmmm", "Tue Tuesday Mar March"},
      {"h:nn am/pm", "2:07 pm"},
      {"hh A/P", "02 P"},
      {"\"dd\" dd 'at' hh", "dd 05 at 14"},
      {"c", "05/03/2024 14:07:09"},
      {"", "05/03/2024 14:07:09"},
      {"[yy]", "[24]"},
  };
  for (const auto& [pattern, expected] : cases) EXPECT_EQ(FormatDateTime(pattern, v), expected) << pattern;

  EXPECT_EQ(FormatDateTime("", EncodeDate(2024, 3, 5)), "05/03/2024");  // midnight: no time
  EXPECT_EQ(FormatDateTime("h:nn AM/PM", EncodeTime(0, 30, 0, 0)), "12:30 AM");
  EXPECT_EQ(FormatDateTime("dddd dd/mm/yyyy", 0), "Saturday 30/12/1899");
  EXPECT_EQ(FormatDateTime("dd/mm/yyyy hh:nn", -1.25), "29/12/1899 06:00");
  EXPECT_EQ(DateToStr(v), "05/03/2024");
  EXPECT_EQ(TimeToStr(v), "14:07:09");
  EXPECT_EQ(DateTimeToStr(v), "05/03/2024 14:07:09");
}

TEST(FormatDateTime, UsesTheSettings) {
  FormatSettings s = Continental();
  s.ShortDateFormat = "yyyy/mm/dd";
  s.LongTimeFormat = "hh:nn";
  ScopedSettings scoped(s);
  const TDateTime v = EncodeDate(2024, 3, 5) + EncodeTime(14, 7, 9, 45);
  EXPECT_EQ(FormatDateTime("dd/mm/yyyy hh:nn", v), "05.03.2024 14-07");
  EXPECT_EQ(FormatDateTime("dd'/'mm", v), "05/03");
  EXPECT_EQ(DateTimeToStr(v), "2024.03.05 14-07");
}

TEST(StrToDateTime, DatesTimesAndBoth) {
  const std::pair<const char*, double> good[] = {
      {"05/03/2024", EncodeDate(2024, 3, 5)},
      {"5/3/2024 14:07", EncodeDate(2024, 3, 5) + EncodeTime(14, 7, 0, 0)},
      {"  05/03/2024 14:07:09 ", EncodeDate(2024, 3, 5) + EncodeTime(14, 7, 9, 0)},
      {"14:07", EncodeTime(14, 7, 0, 0)},
      {"01/01/49", EncodeDate(2049, 1, 1)},
      {"01/01/50", EncodeDate(1950, 1, 1)},
      {"29/12/1899 06:00", -1.25},
  };
  for (const auto& [text, value] : good) {
    TDateTime v = 0;
    EXPECT_TRUE(TryStrToDateTime(text, v)) << text;
    EXPECT_EQ(v, value) << text;
  }
  for (const char* text : {"", "31/02/2024", "05/03/2024 25:00", "05-03-2024", "05/03/2024x", "05/03/202414:07",
                           "14:60", "14", "05/03", "14:07:09:01"}) {
    TDateTime v = 42;
    EXPECT_FALSE(TryStrToDateTime(text, v)) << text;
    EXPECT_EQ(v, 42) << text;
  }
  try {
    StrToDateTime("31/02/2024");
    ADD_FAILURE() << "no error";
  } catch (const ConvertError& e) {
    EXPECT_STREQ(e.what(), "'31/02/2024' is not a valid date and time");
  }
  ScopedSettings s(Continental());
  EXPECT_EQ(StrToDateTime("05.03.2024 14-07"), EncodeDate(2024, 3, 5) + EncodeTime(14, 7, 0, 0));
  EXPECT_THROW(StrToDateTime("05/03/2024"), ConvertError);
}
