// TABLE tags over a real SQLite file made by the test: fields, labels,
// filters, escaping, queries from files, and database failures.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <filesystem>
#include <stdexcept>

#include "Exception.h"
#include "ReportFixture.h"

namespace {

// Runs SQL on a database file, creating it.
void Exec(const std::string& file, const std::string& sql) {
  sqlite3* db = nullptr;
  const int rc = sqlite3_open(file.c_str(), &db);
  char* error = nullptr;
  if (rc == SQLITE_OK) sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error);
  const std::string message = error ? error : (rc != SQLITE_OK ? sqlite3_errmsg(db) : "");
  sqlite3_free(error);
  sqlite3_close(db);
  if (!message.empty()) throw std::runtime_error(message);
}

class ReportTable : public reporttest::ReportTest {
 protected:
  void SetUp() override {
    ReportTest::SetUp();
    report.DatabaseName = dir.File("params.db");
    Exec(report.DatabaseName,
         "CREATE TABLE \"Drive Params\" (Name TEXT, Value REAL, Note TEXT);"
         "INSERT INTO \"Drive Params\" VALUES ('Speed', 1500, 'rpm'), ('Ramp', 2.5, NULL),"
         " ('Trip', 3, '<script>alert(\"x\")</script>'), ('A&B', 0, 'it''s');");
  }

  // The expansion's error text; empty when it succeeds.
  std::string ErrorOf(const std::string& text) {
    try {
      Expand(text);
    } catch (const kd::Exception& e) {
      return e.what();
    }
    return {};
  }
};

}  // namespace

TEST_F(ReportTable, FieldsLabelsAndEscapedCells) {
  EXPECT_EQ(
      Expand("<#TABLE TAB=\"SDrive Params\" FIELD=Snote:SNAME: LABEL=\"SRemark:S<Name>:Sextra:\">"),
      "<table>\n"
      "<tr><th>Remark</th><th>&lt;Name&gt;</th></tr>\n"
      "<tr><td>rpm</td><td>Speed</td></tr>\n"
      "<tr><td></td><td>Ramp</td></tr>\n"
      "<tr><td>&lt;script&gt;alert(&quot;x&quot;)&lt;/script&gt;</td><td>Trip</td></tr>\n"
      "<tr><td>it&#39;s</td><td>A&amp;B</td></tr>\n"
      "</table>");
}

TEST_F(ReportTable, WithoutFieldsEveryColumnIsShown) {
  EXPECT_EQ(
      Expand(
          "<#TABLE TAB=\"SDrive Params\" FILTER=\"SValue > 2 AND Value < 100\" LABEL=SParameter>"),
      "<table>\n"
      "<tr><th>Parameter</th><th>Value</th><th>Note</th></tr>\n"
      "<tr><td>Ramp</td><td>2.5</td><td></td></tr>\n"
      "<tr><td>Trip</td><td>3.0</td>"
      "<td>&lt;script&gt;alert(&quot;x&quot;)&lt;/script&gt;</td></tr>\n"
      "</table>");
}

TEST_F(ReportTable, QueryFromFileWithFilter) {
  const std::string sql = dir.Write("q.sql",
                                    "-- parameters by value\nSELECT Name, Value * 2 AS Twice\n"
                                    "FROM \"Drive Params\" ORDER BY Value DESC; -- done\n");
  EXPECT_EQ(
      Expand("<#TABLE SQL=S" + sql + " FILTER=\"STwice < 100 -- small only\" FIELD=SName:STwice:>"),
      "<table>\n<tr><th>Name</th><th>Twice</th></tr>\n"
      "<tr><td>Trip</td><td>6.0</td></tr>\n<tr><td>Ramp</td><td>5.0</td></tr>\n"
      "<tr><td>A&amp;B</td><td>0.0</td></tr>\n</table>");
  // The SQL descriptor comes first; TAB is not read then.
  EXPECT_EQ(Expand("<#TABLE SQL=S" + sql + " TAB=Snothing FILTER=\"STwice > 6\" FIELD=SName:>"),
            "<table>\n<tr><th>Name</th></tr>\n<tr><td>Speed</td></tr>\n</table>");
}

TEST_F(ReportTable, EmptyResultsAndNoSource) {
  EXPECT_EQ(
      Expand("<#TABLE TAB=\"SDrive Params\" FILTER=\"SValue > 1e6\" EMPTY=\"SNo parameters\">"),
      "No parameters");
  EXPECT_EQ(Expand("<#TABLE TAB=\"SDrive Params\" FILTER=\"SValue > 1e6\">"), "");
  EXPECT_EQ(Expand("[<#TABLE SQL=M1 TAB=>]"), "[]");  // SQL descriptor without text, no TAB
  EXPECT_EQ(Expand("[<#TABLE>]"), "[]");
  report.DatabaseName.clear();  // not opened without SQL or TAB
  EXPECT_EQ(Expand("[<#TABLE FIELD=SName>]"), "[]");
}

TEST_F(ReportTable, DatabaseFailuresCarryTheMessageAndChangeNothing) {
  const std::string update = dir.Write("update.sql", "UPDATE \"Drive Params\" SET Value = 0;");
  const std::string two = dir.Write("two.sql", "SELECT 1; SELECT 2;");
  const std::string bad = dir.Write("bad.sql", "SELEKT Name FROM \"Drive Params\"");
  const std::string nul =
      dir.Write("nul.sql", std::string("SELECT 1;") + '\0' + "DELETE FROM \"Drive Params\"");
  const std::pair<std::string, std::string> cases[] = {
      {"<#TABLE TAB=SMissing>", "no such table: Missing"},
      {"<#TABLE SQL=S" + bad + ">", "syntax error"},
      {"<#TABLE SQL=S" + dir.File("none.sql") + ">", "none.sql"},
      {"<#TABLE SQL=S" + update + ">", "must not change the database"},
      {"<#TABLE SQL=S" + two + ">", "more than one statement"},
      {"<#TABLE SQL=S" + nul + ">", "NUL byte"},
      {"<#TABLE TAB=\"SDrive Params\" FILTER=\"SNoSuchColumn = 1\">",
       "no such column: NoSuchColumn"},
      {"<#TABLE TAB=\"SDrive Params\" FILTER=\"S1); PRAGMA user_version = 7; --\">",
       "more than one statement"},
      {"<#TABLE TAB=\"SDrive Params\" FIELD=SName:SPrice:>", "Field 'Price' not found"},
  };
  const std::string before = kdtest::ReadFile(report.DatabaseName);
  for (const auto& [text, fragment] : cases) {
    const std::string error = ErrorOf(text);
    EXPECT_NE(error.find(fragment), std::string::npos) << text << ": " << error;
  }
  EXPECT_EQ(kdtest::ReadFile(report.DatabaseName), before);

  report.DatabaseName = dir.File("absent.db");
  EXPECT_NE(ErrorOf("<#TABLE TAB=SParams>").find("unable to open database file"),
            std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(report.DatabaseName));  // not created
  report.DatabaseName = dir.Write("text.db", "not a database at all, just text");
  EXPECT_NE(ErrorOf("<#TABLE TAB=SParams>").find("file is not a database"), std::string::npos);
  report.DatabaseName.clear();
  EXPECT_NE(ErrorOf("<#TABLE TAB=SParams>").find("No database name"), std::string::npos);
}

TEST_F(ReportTable, FailureInsideAReportKeepsTheLastLines) {
  ASSERT_TRUE(report.CreateReport(
      Template("ok.htm", "<#TABLE TAB=\"SDrive Params\" FIELD=SName: FILTER=\"SValue=3\">")));
  ASSERT_EQ(report.ReportList().Count(), 4);
  EXPECT_THROW(report.CreateReport(Template("bad.htm", "text\n<#TABLE TAB=SMissing>")),
               kd::Exception);
  EXPECT_EQ(report.ReportList()[2], "<tr><td>Trip</td></tr>");
}

TEST_F(ReportTable, RegisterTextsEndAtTheirFirstNulAndNoNulReachesThePage) {
  image.GetRegister(3)->SetValueString("Value=3");  // 7 of 8 characters: one NUL after it
  ASSERT_EQ(image.GetRegister(3)->GetValueString(), std::string("Value=3") + '\0');
  EXPECT_EQ(report.DecodeDescriptor("V3:0"), "Value=3");
  EXPECT_EQ(Expand("<#TABLE TAB=\"SDrive Params\" FIELD=SName: FILTER=V3:0>"),
            "<table>\n<tr><th>Name</th></tr>\n<tr><td>Trip</td></tr>\n</table>");

  Exec(report.DatabaseName,
       "CREATE TABLE Bytes (Name TEXT, Data);"
       "INSERT INTO Bytes VALUES (CAST(x'61006200' AS TEXT), x'00FF4100'), ('empty', x'');");
  const std::string nul(1, '\0');
  const std::pair<std::string, std::string> cases[] = {
      {"[<#PAR GET=V3:0>]", "[Value=3]"},
      {"<#TABLE TAB=SBytes>",  // a text ends at its NUL; a BLOB is written in hexadecimal
       "<table>\n<tr><th>Name</th><th>Data</th></tr>\n"
       "<tr><td>a</td><td>X&#39;00FF4100&#39;</td></tr>\n"
       "<tr><td>empty</td><td>X&#39;&#39;</td></tr>\n</table>"},
      {"a" + nul + "b<#PAR GET=\"S1" + nul + "2\">", "ab12"},  // template bytes and literals
  };
  for (const auto& [text, expected] : cases) {
    EXPECT_EQ(Expand(text), expected);
    ASSERT_TRUE(report.CreateReport(dir.File("t.htm")));
    for (const std::string& line : report.ReportList().Lines())
      EXPECT_EQ(line.find('\0'), std::string::npos) << line;
  }
}

TEST_F(ReportTable, TableParametersGetRawRegisterTextsThePageGetsThemEscaped) {
  Exec(report.DatabaseName,
       "CREATE TABLE \"R&D\" (\"<x>\" TEXT); INSERT INTO \"R&D\" VALUES ('a<b');");
  const std::string sql =
      dir.Write("it's&.sql", "SELECT Name FROM \"Drive Params\" WHERE Value = 3");
  struct Case {
    std::string path, label, text, expected;
  };
  const Case cases[] = {
      {"Value<3", "", "<#TABLE TAB=\"SDrive Params\" FIELD=SName: FILTER=V4:0>",
       "<table>\n<tr><th>Name</th></tr>\n<tr><td>Ramp</td></tr>\n<tr><td>A&amp;B</td></tr>\n"
       "</table>"},
      {"R&D", "<x>", "<#TABLE TAB=V4:0 FIELD=V3: LABEL=V3:>",  // the label escaped once
       "<table>\n<tr><th>&lt;x&gt;</th></tr>\n<tr><td>a&lt;b</td></tr>\n</table>"},
      {sql, "", "<#TABLE SQL=V4:0>", "<table>\n<tr><th>Name</th></tr>\n<tr><td>Trip</td></tr>\n</table>"},
      {"<b>", "", "<#PAR GET=V4:0>|<#SWITCH CASE=Ia GET0=V4:0>", "&lt;b&gt;|&lt;b&gt;"},
      {"Value>1e6", "<&>", "<#TABLE TAB=\"SDrive Params\" FILTER=V4:0 EMPTY=V3:0>", "&lt;&amp;&gt;"},
  };
  report.OnCondition = [](TlaReportHtml*, const std::string&) { return false; };
  for (const Case& c : cases) {
    image.GetRegister(4)->SetValueString(c.path);
    image.GetRegister(3)->SetValueString(c.label);
    EXPECT_EQ(report.DecodeDescriptor("V4:0"), c.path);
    EXPECT_EQ(ErrorOf(c.text), "") << c.text;
    if (HasFailure()) continue;
    EXPECT_EQ(Expand(c.text), c.expected) << c.text;
  }
}
