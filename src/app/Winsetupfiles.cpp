#include "Winsetupfiles.h"

#include <QFileDialog>
#include <QTextEdit>
#include <cstdint>
#include <exception>
#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>

#include "Apptext.h"
#include "Exception.h"
#include "FileIo.h"
#include "Formats.h"
#include "IniFile.h"
#include "Strings.h"
#include "Tladevicekd730cmp.h"
#include "Tlaparvaluecls.h"
#include "Tlaprintrtfdoc.h"
#include "Winmain.h"
#include "Winsetup.h"

namespace {

// Setup files.
constexpr const char* kSetupFilter =
    "KD730 Cfg Files (*.730)|*.730|Text Files (*.txt)|*.txt|All Files (*.*)|*.*";
constexpr const char* kSetupSection = "KD730_Cfg";
constexpr const char* kDefaultCompany = "Morvane Tessil s.n.c.";
constexpr const char* kDefaultWeb = "www.morvane-tessil.example";
constexpr const char* kUnknown = "- unknown -";
constexpr const char* kNoAddress = "---";
// A setup file holds a few kilobytes: a larger file is not read at all.
constexpr std::uintmax_t kMaxSetupFileSize = 1024 * 1024;

// "Description|patterns|..." pairs as Qt's name filters, one per pair: the
// description without its own bracketed patterns, then the patterns in
// brackets; "*.*" means every file, which is "*" here.
QStringList NameFilters(const QString& filter) {
  const QStringList parts = filter.split('|');
  QStringList filters;
  for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
    QStringList patterns = parts[i + 1].split(';', Qt::SkipEmptyParts);
    for (QString& pattern : patterns) {
      pattern = pattern.trimmed();
      if (pattern == "*.*") pattern = "*";
    }
    QString description = parts[i].trimmed();
    const qsizetype open = description.lastIndexOf('(');
    if (open > 0 && description.endsWith(')')) description = description.left(open).trimmed();
    filters << description + " (" + patterns.join(' ') + ")";
  }
  return filters;
}

// The number of the first line that is not INI text (a section, a
// key=value line, a comment or a blank line, without control characters
// other than tabs); 0 when every line is.
int FirstNonIniLine(std::string_view text) {
  if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);
  int number = 0;
  while (!text.empty()) {
    ++number;
    const std::size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    if (line.ends_with('\r')) line.remove_suffix(1);
    for (const char c : line)
      if (static_cast<unsigned char>(c) < 32 && c != '\t') return number;
    const std::string t = kd::Trim(line);
    if (t.empty() || t[0] == ';' || t[0] == '#') continue;
    const std::size_t eq = t.find('=');
    const bool ok = t[0] == '[' ? t.find(']') != std::string::npos
                                : eq != std::string::npos && !kd::Trim(t.substr(0, eq)).empty();
    if (!ok) return number;
  }
  return 0;
}

// The text of a setup file, read once, for an import or an export
// (operation names which); refuses what cannot be a setup file, before
// anything is imported from it or written for it: the one rule of both. A
// file that does not exist is an empty one when mayBeNew.
std::string ReadSetupFile(const std::string& operation, const std::string& fileName,
                          bool mayBeNew) {
  const std::string quoted = "'" + fileName + "'";
  const std::string what = operation + ": " + quoted;
  std::string text;
  const kd::FileStatus read = kd::ReadWholeFile(fileName, kMaxSetupFileSize, text);
  switch (read.fault) {
    case kd::FileFault::None:
      break;
    case kd::FileFault::Missing:
      if (mayBeNew) return {};
      [[fallthrough]];
    case kd::FileFault::Unreadable:
      throw kd::Exception(operation + ": cannot read " + quoted + ": " + read.Text());
    case kd::FileFault::Folder:
      throw kd::Exception(what + " is a folder, not a setup file");
    case kd::FileFault::NotRegular:
      throw kd::Exception(what + " is not a regular file");
    case kd::FileFault::TooLarge:
      throw kd::Exception(
          kd::Sprintf("%s is too large for a setup file (%ju bytes, at most %ju)", what.c_str(),
                      read.size, read.maxSize));
  }
  if (const int line = FirstNonIniLine(text))
    throw kd::Exception(kd::Sprintf("%s is not a setup file (line %d is not INI text)",
                                    what.c_str(), line));
  return text;
}

// The slave address the drive keeps, read from it now (the image may hold an
// edit never saved); "---" when the drive cannot be read. The Field bus page
// shows what was read.
std::string StoredSlaveAddress(TKD730Setup& window, TlaDeviceKD730& d) {
  if (!d.ReadModBusSlave()) return kNoAddress;
  window.RefreshListView(window.lvModBusSlave);
  return d.EE_ModBusSlave->GetValueText(0);
}

// The window's file dialog made ready for a setup file: title, must-exist
// check (else the overwrite prompt). True with the chosen file's name when
// confirmed.
bool RunSetupFileDialog(QFileDialog* dialog, const char* title, bool mustExist,
                        std::string& fileName) {
  dialog->setWindowTitle(title);
  dialog->setDefaultSuffix("730");
  dialog->setNameFilters(NameFilters(kSetupFilter));
  dialog->setFileMode(mustExist ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
  dialog->setOption(QFileDialog::DontConfirmOverwrite, mustExist);
  if (dialog->exec() != QDialog::Accepted || dialog->selectedFiles().isEmpty()) return false;
  fileName = FromQString(dialog->selectedFiles().constFirst());
  return true;
}

}  // namespace

void ExportSetupFile(TKD730Setup& window) {
  std::string fileName;
  if (!RunSetupFileDialog(window.Dialog, "Export configuration to file", false, fileName)) return;
  MainForm->Log("Export drive setup to file: " + fileName);
  try {
    // A file there already keeps its other lines, so it must be one that
    // "From File ..." reads: nothing is written into any other.
    const std::string text = ReadSetupFile("Export", fileName, true);
    const kd::IniFile programIni(MainForm->IniFileName());
    // One write of the whole file: a failure leaves it as it was.
    kd::IniFile file(fileName, kd::IniText{text});
    file.BeginUpdate();
    file.WriteString("Header", "Owner", "KD730_TnDsk");
    file.WriteString("Header", "Version", "1.02");
    file.WriteString("Header", "Company",
                     programIni.ReadString("AboutForm", "Company", kDefaultCompany));
    file.WriteString("Header", "Web", programIni.ReadString("AboutForm", "Web", kDefaultWeb));
    if (TlaDeviceKD730* d = window.Device()) d->ExportToIniFile(kSetupSection, &file);
    file.EndUpdate();
  } catch (...) {
    MainForm->Log("Error: Drive setup NOT exported!");
    throw;
  }
  MainForm->Log("Drive setup exported!");
}

void ImportSetupFile(TKD730Setup& window) {
  std::string fileName;
  if (!RunSetupFileDialog(window.Dialog, "Import configuration to file", true, fileName)) return;
  MainForm->Log("Import drive setup from file: " + fileName);
  std::string text;
  try {
    text = ReadSetupFile("Import", fileName, false);
  } catch (...) {
    MainForm->Log("Error: Drive setup NOT imported!");
    throw;
  }
  const kd::IniFile file(fileName, kd::IniText{text});
  MainForm->Log(" -> Creator: " + file.ReadString("Header", "Owner", kUnknown));
  MainForm->Log(" -> Version: " + file.ReadString("Header", "Version", kUnknown));
  try {
    if (TlaDeviceKD730* d = window.Device()) d->ImportFromIniFile(kSetupSection, &file);
  } catch (...) {
    // The registers whose values converted hold them now: show the image.
    window.RefreshSetup();
    MainForm->Log(
        "Error: Drive setup only partly imported! Please verify before send or save to drive.");
    throw;
  }
  MainForm->Log("Drive setup imported! Please verify before send or save to drive.");
  window.RefreshSetup();
}

void PrintSetupReport(TKD730Setup& window) {
  MainForm->Log("Print drive setup.");
  TlaDeviceKD730* d = window.Device();
  if (!d) return;
  kd::StringList lines;
  const std::string separator(56, '_');
  const auto dump = [&](std::initializer_list<TlaRegister*> regs) {
    for (TlaRegister* reg : regs)
      if (reg) reg->Dump(&lines);
  };
  const auto gain = [&](const char* format, TlaParValue* view) {
    if (view) lines.Add(kd::Sprintf(format, view->GetValue()));
  };
  const auto endSection = [&] {
    lines.Add(separator);
    lines.Add("");
  };

  lines.Add(separator);
  lines.Add("  KD730 Tuning Desk 1.02");
  lines.Add("    Report date:\t" + kd::DateTimeToStr(kd::Now()));
  lines.Add("    Modbus slave:\t\t" + StoredSlaveAddress(window, *d));
  endSection();
  dump({d->UrV, d->IcA, d->IpA, d->NomSpeed, d->RxI});
  endSection();
  dump({d->Accel, d->Decel});
  endSection();
  dump({d->TachoVKrpm, d->TachoRin});
  endSection();
  lines.Add("Current Loop Setup:");
  gain("\tProportional Gain:\t%.4lf", d->Current_P.get());
  gain("\tIntegral Gain:\t%.4lf", d->Current_I.get());
  endSection();
  lines.Add("Speed Loop Setup:");
  gain("\tProportional Gain:\t%.4lf", d->Speed_P.get());
  gain("\tIntegral Gain:\t%.4lf", d->Speed_I.get());
  gain("\tDerivative Gain:\t%.4lf", d->Speed_D.get());
  endSection();
  dump({d->OffsetAn2Ext, d->ARef1_scale});
  lines.Add("");
  dump({d->OffsetAn3Ext});
  lines.Add("");
  if (d->InputFilter) lines.Add(d->InputFilter->GetName() + ": " + d->InputFilter->GetValueText());
  endSection();
  dump({d->CfgFlags});
  lines.Add(separator);

  // A hidden rich-text control on the window holds the report while it prints.
  const auto report = std::make_unique<QTextEdit>(&window);
  report->hide();
  report->clear();
  report->setPlainText(LinesText(lines));
  window.laPrintDoc->Doc = report.get();
  window.laPrintDoc->Title = "KD730_TnDsk_Report";
  window.laPrintDoc->Execute(true);
}
