// The HTML report over the KD730 image:
// - ParTags: a 1 MB template with 10,000 PAR tags (register texts, bit
//   conditions, literals) expanded into the report's lines;
// - TableRows: a TABLE tag over an SQLite table of 10,000 records, with and
//   without a filter.
#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <stdexcept>
#include <string>

#include "Exception.h"
#include "TestSupport.h"
#include "Tlaregdatabuffercmp.h"
#include "Tlareporthtmlcmp.h"

namespace {

constexpr int kTags = 10000;
constexpr size_t kTemplateBytes = 1 << 20;
constexpr int kRows = 10000;

// The KD730 image with a value in every register, and a report over it.
struct Kd730Report {
  TlaRegDefsList model;
  TlaRegDataBuffer image;
  TlaReportHtml report;
  Kd730Report() {
    if (!model.LoadFromFile(std::string(KD_DATA_DIR) + "/KD730_Parameters.par") ||
        !image.CreateRegDataBuffer(&model))
      throw std::runtime_error("KD730 data model not loaded");
    for (int i = 0; i < image.GetRegisterCount(); ++i) {
      TlaRegister* r = image.GetRegister(i);
      if (r->Definition->GetByteSize() > 0 && r->Definition->IsIntegerType())
        r->SetValueInteger(0, 1000 + 37 * i);
    }
    report.ValueSet = &image;
  }
};

// 10,000 PAR tags over every register with bytes, padded to 1 MB.
std::string ParTemplate(const TlaRegDataBuffer& image) {
  std::string text = "<html><body><table>\n";
  const size_t perTag = kTemplateBytes / kTags;
  int reg = 0;
  for (int k = 0; k < kTags; ++k) {
    while (image.GetRegister(reg)->Definition->GetByteSize() == 0)
      reg = (reg + 1) % image.GetRegisterCount();
    const TlaRegDefinition& d = *image.GetRegister(reg)->Definition;
    const std::string code = std::to_string(reg) + ":0";
    std::string line = "<tr><td>" + d.Name + "</td><td>";
    if (k % 5 == 4)
      line += "<#par get=\"SLiteral text\">";
    else if (d.Boolean)
      line += "<#PAR IF=!" + code + ":" + std::to_string(k % 16) + " THEN=\"SNot set\" ELSE=V" +
              code + ":" + std::to_string(k % 16) + ">";
    else
      line += "<#PAR GET=V" + code + ">";
    line += "</td></tr>";
    if (line.size() + 1 < perTag) line.append(perTag - line.size() - 1, ' ');
    text += line + "\n";
    reg = (reg + 1) % image.GetRegisterCount();
  }
  return text + "</table></body></html>\n";
}

void ParTags(benchmark::State& state) {
  Kd730Report r;
  kdtest::TempDir dir;
  const std::string text = ParTemplate(r.image);
  const std::string file = dir.Write("par.htm", text);
  state.counters["template_kB"] = static_cast<double>(text.size()) / 1024.0;
  for (auto _ : state) {
    if (!r.report.CreateReport(file)) state.SkipWithError("empty report");
  }
  state.counters["lines"] = r.report.ReportList().Count();
  if (r.report.ReportList().Text().find("<#") != std::string::npos)
    state.SkipWithError("tags left");
}
BENCHMARK(ParTags)->Unit(benchmark::kMillisecond);

std::string MakeDatabase(const kdtest::TempDir& dir) {
  const std::string file = dir.File("params.db");
  sqlite3* db = nullptr;
  sqlite3_open(file.c_str(), &db);
  std::string sql = "CREATE TABLE Params (Id INTEGER, Name TEXT, Value REAL, Unit TEXT); BEGIN;";
  for (int i = 0; i < kRows; ++i)
    sql += "INSERT INTO Params VALUES (" + std::to_string(i) + ", 'Parameter <" +
           std::to_string(i) + ">', " + std::to_string(i * 0.25) + ", 'V & A');";
  sql += "COMMIT;";
  const int rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr);
  sqlite3_close(db);
  if (rc != SQLITE_OK) throw std::runtime_error("database not made");
  return file;
}

void TableRows(benchmark::State& state) {
  Kd730Report r;
  kdtest::TempDir dir;
  r.report.DatabaseName = MakeDatabase(dir);
  const std::string filter = state.range(0) ? " FILTER=\"SId % 2 = 0\"" : "";
  const std::string file = dir.Write(
      "table.htm",
      "<html><body>\n<#TABLE TAB=SParams FIELD=SId:SName:SValue:SUnit: LABEL=SNumber:SParameter:" +
          filter + " EMPTY=SNone>\n</body></html>\n");
  for (auto _ : state) {
    if (!r.report.CreateReport(file)) state.SkipWithError("empty report");
  }
  state.counters["lines"] = r.report.ReportList().Count();
}
BENCHMARK(TableRows)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
