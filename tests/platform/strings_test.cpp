// Integer texts, lines, comma text in both directions, name=value lists.
#include <gtest/gtest.h>

#include "Exception.h"
#include "Strings.h"

using namespace kd;
using Items = std::vector<std::string>;

TEST(Strings, IntegerTexts) {
  struct Case { std::string text; bool ok; std::int32_t value; } cases[] = {
      {"0", true, 0},
      {"42", true, 42},
      {"  -17 ", true, -17},
      {"+8", true, 8},
      {"\t12\r\n", true, 12},
      {"2147483647", true, 2147483647},
      {"-2147483648", true, -2147483647 - 1},
      {"0x1F", true, 31},
      {"0X1f", true, 31},
      {"$ff", true, 255},
      {" $7FFFFFFF ", true, 2147483647},
      {"0xFFFFFFFF", true, -1},
      {"$80000000", true, -2147483647 - 1},
      {"-$10", true, -16},
      {"007", true, 7},
      {"2147483648", false, 0},
      {"-2147483649", false, 0},
      {"4294967296", false, 0},
      {"0x100000000", false, 0},
      {"99999999999999999999", false, 0},
      {"", false, 0},
      {"   ", false, 0},
      {"-", false, 0},
      {"$", false, 0},
      {"0x", false, 0},
      {"12abc", false, 0},
      {"1 2", false, 0},
      {"- 5", false, 0},
      {"1.5", false, 0},
      {"1e3", false, 0},
      {"0xG", false, 0},
      {"h10", false, 0},
  };
  for (const auto& c : cases) {
    std::int32_t v = 12345;
    EXPECT_EQ(TryParseInteger(c.text, v), c.ok) << "'" << c.text << "'";
    EXPECT_EQ(v, c.ok ? c.value : 12345) << "'" << c.text << "'";  // untouched on failure
    EXPECT_EQ(StrToIntDef(c.text, -99), c.ok ? c.value : -99) << "'" << c.text << "'";
  }
  EXPECT_EQ(StrToInt(" 0x10"), 16);
  try {
    StrToInt("12abc");
    ADD_FAILURE() << "no error";
  } catch (const ConvertError& e) {
    EXPECT_STREQ(e.what(), "'12abc' is not a valid integer value");
  }
}

TEST(Strings, SplitLinesAtEveryLineEnd) {
  struct Case { std::string text; Items lines; } cases[] = {
      {"", {}},
      {"\n", {""}},
      {"a\r\nb\nc\rd", {"a", "b", "c", "d"}},
      {"a\n\r\nb\r\r", {"a", "", "b", ""}},  // LF then CR LF: two ends; CR CR too
      {"last line open", {"last line open"}},
      {std::string("nul\0inside\n", 11), {std::string("nul\0inside", 10)}},  // not cut at a NUL
  };
  for (const auto& c : cases) EXPECT_EQ(SplitLines(c.text), c.lines) << "'" << c.text << "'";
}

TEST(Strings, SplitCommaText) {
  struct Case { std::string text; Items items; } cases[] = {
      {"", {}},
      {"  \t ", {}},
      {"a,b,c", {"a", "b", "c"}},
      {"a b\tc", {"a", "b", "c"}},
      {"a , b ,c", {"a", "b", "c"}},
      {"a\r\n,\r\nb", {"a", "b"}},
      {std::string("a\x01" "b\x1F" "c\x20" "d"), {"a", "b", "c", "d"}},
      {"a\x7F" "b", {"a\x7F" "b"}},  // 127 is no separator
      {"a,,b", {"a", "", "b"}},
      {"a, ,b", {"a", "", "b"}},
      {",a", {"", "a"}},
      {"a,", {"a"}},  // the separators after a trailing comma go with it
      {"a,,", {"a", ""}},
      {"\"a b\",c", {"a b", "c"}},
      {"\"x,y\"", {"x,y"}},
      {"\"say \"\"hi\"\"\"", {"say \"hi\""}},
      {"\"\"", {""}},
      {"\"\",\"\"", {"", ""}},
      {"Name=\"Motor on\"", {"Name=\"Motor", "on\""}},  // quotes count only at the start of an item
      {"\"Name=Motor on\",True=Running", {"Name=Motor on", "True=Running"}},
      {"\"unclosed, to the end", {"unclosed, to the end"}},
      {"ab\"c", {"ab\"c"}},
      {std::string("a,b\0,c", 6), {"a", "b"}},  // NUL ends the text
  };
  for (const auto& c : cases) EXPECT_EQ(SplitCommaText(c.text), c.items) << "'" << c.text << "'";
}

TEST(Strings, JoinCommaTextAndRoundTrip) {
  struct Case { Items items; std::string text; } cases[] = {
      {{}, ""},
      {{"a", "b"}, "a,b"},
      {{"a b", "c"}, "\"a b\",c"},
      {{"x,y"}, "\"x,y\""},
      {{"say \"hi\""}, "\"say \"\"hi\"\"\""},
      {{"tab\there"}, "\"tab\there\""},
      {{"a", "", "b"}, "a,,b"},
      {{"Name=Motor on", "True=Running"}, "\"Name=Motor on\",True=Running"},
  };
  for (const auto& c : cases) EXPECT_EQ(JoinCommaText(c.items), c.text);

  const Items roundTrip[] = {
      {"plain", "with blank", " lead", "trail ", "comma,inside", "\"quoted\"", "a\"b", "line\r\nbreak"},
      {"", "middle empty", ""},  // an empty last item is lost; the first stays
  };
  EXPECT_EQ(SplitCommaText(JoinCommaText(roundTrip[0])), roundTrip[0]);
  EXPECT_EQ(SplitCommaText(JoinCommaText(roundTrip[1])), (Items{"", "middle empty"}));
}

TEST(Strings, NameValueLookUpsIgnoreLetterCase) {
  StringList list(Items{"Name=Motor on", "no equals", "TRUE=Running", "true=shadowed", "Empty=", "=nameless"});
  EXPECT_EQ(list.IndexOfName("name"), 0);
  EXPECT_EQ(list.Values("True"), "Running");  // the first match wins
  EXPECT_EQ(list.Values("no equals"), "");
  EXPECT_EQ(list.IndexOfName("no equals"), -1);
  EXPECT_EQ(list.IndexOfName("empty"), 4);
  EXPECT_EQ(list.IndexOfName(""), 5);
  EXPECT_EQ(list.Names(1), "");
  EXPECT_EQ(list.ValueFromIndex(0), "Motor on");
  EXPECT_EQ(list.IndexOf("NO EQUALS"), 1);

  list.SetValue("true", "Go");  // replaces the first line with that name
  EXPECT_EQ(list[2], "true=Go");
  EXPECT_EQ(list[3], "true=shadowed");
  list.SetValue("New", "1");
  EXPECT_EQ(list[list.Count() - 1], "New=1");
  list.SetValue("NAME", "");  // an empty value removes the line
  EXPECT_EQ(list.IndexOfName("Name"), -1);
  EXPECT_EQ(list.Count(), 6);

  StringList items;
  items.SetCommaText("Code0=Idle,Code1=Run,\"Code2=Fault reset\"");
  EXPECT_EQ(items.Values("code2"), "Fault reset");
  EXPECT_EQ(items.CommaText(), "Code0=Idle,Code1=Run,\"Code2=Fault reset\"");
}
