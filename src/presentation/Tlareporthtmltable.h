#pragma once
// The data side of the HTML report: a record set read from an SQLite file
// (a table by name or one query), filtered by an SQL expression, and the
// writer that turns it into an HTML table. The database is opened read-only:
// a report never changes it. Failures raise kd::Exception carrying SQLite's
// message.
#include <memory>
#include <string>
#include <string_view>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

// Text with the characters that HTML reads as markup written as entities.
std::string HtmlEscape(std::string_view text);

class TlaSqliteDataSet {
 public:
  // Opens the database file read-only; raises when it cannot.
  explicit TlaSqliteDataSet(const std::string& databaseName);
  ~TlaSqliteDataSet();
  TlaSqliteDataSet(const TlaSqliteDataSet&) = delete;
  TlaSqliteDataSet& operator=(const TlaSqliteDataSet&) = delete;

  // Every record of a table, or of one read-only statement.
  void OpenTable(const std::string& tableName);
  void OpenQuery(const std::string& sql);
  bool Active() const { return statement_ != nullptr; }
  // An SQL expression that records must satisfy; empty for every record.
  // The data set must be open.
  void SetFilter(const std::string& filter);
  void Close();

  // Record walk: First and Next tell whether there is a current record.
  bool First();
  bool Next();
  bool Eof() const { return eof_; }

  int FieldCount() const;
  std::string FieldName(int index) const;
  int FindField(std::string_view name) const;  // letter case ignored; -1 when absent
  // Of the current record: NULL gives empty, a text ends at its first NUL, a
  // BLOB is written as its SQL literal X'hex digits'. Never holds a NUL.
  std::string FieldText(int index) const;

 private:
  struct DbClose {
    void operator()(sqlite3* db) const;
  };
  struct StmtFinalize {
    void operator()(sqlite3_stmt* s) const;
  };
  using Statement = std::unique_ptr<sqlite3_stmt, StmtFinalize>;

  [[noreturn]] void Fail(const std::string& what) const;
  Statement Prepare(const std::string& sql) const;
  bool Step();

  std::unique_ptr<sqlite3, DbClose> db_;
  std::string source_;  // the unfiltered statement's text
  Statement statement_;
  bool eof_ = true;
};

// One column of a table: the data set's field and the header text.
struct TlaHtmlTableColumn {
  std::string FieldName;
  std::string DisplayLabel;  // the data set's field name when empty
};

// An HTML table of a data set: one header row of the columns' labels, one
// row per record from the current one to the end.
class TlaHtmlTableProducer {
 public:
  std::vector<TlaHtmlTableColumn> Columns;
  TlaSqliteDataSet* DataSet = nullptr;  // not owned

  // Raises when a column names a field the data set does not have.
  std::string Content();
};
