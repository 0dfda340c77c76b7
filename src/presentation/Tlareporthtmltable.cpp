#include "Tlareporthtmltable.h"

#include <sqlite3.h>

#include "Exception.h"
#include "Strings.h"

std::string HtmlEscape(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&#39;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

namespace {

std::string QuoteIdentifier(const std::string& name) {
  std::string out = "\"";
  for (const char c : name) {
    out += c;
    if (c == '"') out += '"';
  }
  return out + "\"";
}

// A statement's text without the ";" and blanks after it, so that it can
// stand inside another statement.
std::string StatementBody(const char* sql) {
  std::string text = sql ? sql : "";
  while (!text.empty() && (text.back() == ';' || static_cast<unsigned char>(text.back()) <= 32))
    text.pop_back();
  return text;
}

constexpr int kBusyTimeoutMs = 2000;

}  // namespace

void TlaSqliteDataSet::DbClose::operator()(sqlite3* db) const {
  sqlite3_close_v2(db);
}
void TlaSqliteDataSet::StmtFinalize::operator()(sqlite3_stmt* s) const {
  sqlite3_finalize(s);
}

TlaSqliteDataSet::TlaSqliteDataSet(const std::string& databaseName) {
  if (databaseName.empty()) throw kd::Exception("Database: No database name given.");
  sqlite3* raw = nullptr;
  // Read-only and never created: a missing file is an error, not a new database.
  const int rc = sqlite3_open_v2(databaseName.c_str(), &raw, SQLITE_OPEN_READONLY, nullptr);
  db_.reset(raw);
  if (rc != SQLITE_OK) {
    const std::string message = raw ? sqlite3_errmsg(raw) : sqlite3_errstr(rc);
    throw kd::Exception("Database: " + message + " '" + databaseName + "'");
  }
  sqlite3_busy_timeout(db_.get(), kBusyTimeoutMs);
}

TlaSqliteDataSet::~TlaSqliteDataSet() = default;

void TlaSqliteDataSet::Fail(const std::string& what) const {
  throw kd::Exception("Database: " + what);
}

TlaSqliteDataSet::Statement TlaSqliteDataSet::Prepare(const std::string& sql) const {
  // SQLite reads a text only up to a NUL byte: the rest would be dropped unseen.
  if (sql.find('\0') != std::string::npos) Fail("The SQL text holds a NUL byte.");
  const char* begin = sql.c_str();
  const char* end = begin + sql.size();
  const char* tail = nullptr;
  sqlite3_stmt* raw = nullptr;
  if (sqlite3_prepare_v2(db_.get(), begin, static_cast<int>(sql.size()), &raw, &tail) != SQLITE_OK)
    Fail(sqlite3_errmsg(db_.get()));
  Statement statement(raw);
  if (!statement) Fail("The SQL text holds no statement.");
  // What follows the statement may be blanks and comments only.
  while (tail && tail < end) {
    sqlite3_stmt* more = nullptr;
    const char* next = nullptr;
    if (sqlite3_prepare_v2(db_.get(), tail, static_cast<int>(end - tail), &more, &next) !=
        SQLITE_OK)
      Fail(sqlite3_errmsg(db_.get()));
    if (more) {
      sqlite3_finalize(more);
      Fail("The SQL text holds more than one statement.");
    }
    if (!next || next <= tail) break;
    tail = next;
  }
  if (!sqlite3_stmt_readonly(statement.get()))
    Fail("A report statement must not change the database.");
  if (sqlite3_column_count(statement.get()) == 0) Fail("The statement gives no records.");
  return statement;
}

void TlaSqliteDataSet::OpenTable(const std::string& tableName) {
  Close();
  Statement statement = Prepare("SELECT * FROM " + QuoteIdentifier(tableName));
  source_ = sqlite3_sql(statement.get());
  statement_ = std::move(statement);
}

void TlaSqliteDataSet::OpenQuery(const std::string& sql) {
  Close();
  Statement statement = Prepare(sql);
  source_ = StatementBody(sqlite3_sql(statement.get()));
  statement_ = std::move(statement);
}

void TlaSqliteDataSet::SetFilter(const std::string& filter) {
  if (!Active()) Fail("The data set is not open.");
  // Line breaks keep a comment at the end of either text from swallowing the rest.
  statement_ = Prepare(
      filter.empty() ? source_ : "SELECT * FROM (\n" + source_ + "\n) WHERE (\n" + filter + "\n)");
  eof_ = true;
}

void TlaSqliteDataSet::Close() {
  statement_.reset();
  source_.clear();
  eof_ = true;
}

bool TlaSqliteDataSet::Step() {
  switch (sqlite3_step(statement_.get())) {
    case SQLITE_ROW:
      eof_ = false;
      return true;
    case SQLITE_DONE:
      eof_ = true;
      return false;
    default:
      eof_ = true;
      Fail(sqlite3_errmsg(db_.get()));
  }
}

bool TlaSqliteDataSet::First() {
  if (!Active()) return false;
  sqlite3_reset(statement_.get());
  return Step();
}

bool TlaSqliteDataSet::Next() {
  if (!Active() || eof_) return false;
  return Step();
}

int TlaSqliteDataSet::FieldCount() const {
  return Active() ? sqlite3_column_count(statement_.get()) : 0;
}

std::string TlaSqliteDataSet::FieldName(int index) const {
  if (index < 0 || index >= FieldCount()) return {};
  const char* name = sqlite3_column_name(statement_.get(), index);
  return name ? name : "";
}

int TlaSqliteDataSet::FindField(std::string_view name) const {
  for (int i = 0; i < FieldCount(); ++i)
    if (kd::SameText(FieldName(i), name)) return i;
  return -1;
}

std::string TlaSqliteDataSet::FieldText(int index) const {
  if (eof_ || index < 0 || index >= FieldCount()) return {};
  sqlite3_stmt* s = statement_.get();
  switch (sqlite3_column_type(s, index)) {
    case SQLITE_NULL:
      return {};
    case SQLITE_BLOB: {
      const auto* bytes = static_cast<const unsigned char*>(sqlite3_column_blob(s, index));
      const int size = sqlite3_column_bytes(s, index);
      static constexpr char kHex[] = "0123456789ABCDEF";
      std::string text = "X'";
      for (int i = 0; i < size; ++i) {
        text += kHex[bytes[i] >> 4];
        text += kHex[bytes[i] & 0xF];
      }
      return text + "'";
    }
    default: {
      // Up to the first NUL, as SQLite's own text functions read it.
      const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(s, index));
      return text ? std::string(text) : std::string();
    }
  }
}

std::string TlaHtmlTableProducer::Content() {
  if (!DataSet || !DataSet->Active()) return {};
  std::vector<int> fields;
  std::string out = "<table>\n<tr>";
  for (const TlaHtmlTableColumn& c : Columns) {
    const int field = DataSet->FindField(c.FieldName);
    if (field < 0) throw kd::Exception("TableProducer: Field '" + c.FieldName + "' not found.");
    fields.push_back(field);
    out += "<th>" +
           HtmlEscape(c.DisplayLabel.empty() ? DataSet->FieldName(field) : c.DisplayLabel) +
           "</th>";
  }
  out += "</tr>\n";
  for (; !DataSet->Eof(); DataSet->Next()) {
    out += "<tr>";
    for (const int field : fields) out += "<td>" + HtmlEscape(DataSet->FieldText(field)) + "</td>";
    out += "</tr>\n";
  }
  return out + "</table>";
}
