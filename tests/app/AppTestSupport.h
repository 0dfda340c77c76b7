#pragma once
// Window tests of the operator program: the Qt event loop pumped with its
// idle-time updates, scripted answers to modal dialogs, a working directory
// and configuration folder of the run's own, and the drive simulator on a
// pseudo terminal behind COM1.
#include <QString>
#include <QStringList>
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "SimProcess.h"
#include "TestSupport.h"

class QWidget;
class TProgramForms;
class TlaRegister;

namespace apptest {

using namespace std::chrono_literals;

// The main of the window tests and benchmarks: runs body (the test or
// benchmark runner) in a QApplication on the offscreen platform when no
// other is asked for (two screens: 1920 x 1080 with 1280 x 1024 to its right), with the program's regional formats and title and the
// Qt main loop behind kd::MainThread, as the program sets them up.
int RunInProgramSetup(int& argc, char** argv, const std::function<int()>& body);

// Pumps the event loop, waiting for events like the program's own loop (so
// the idle-time action updates run), until pred() holds or timeout passes.
bool PumpUntil(const std::function<bool()>& pred, std::chrono::milliseconds timeout = 20s);
// Lets the loop go idle a few times (posted events done, updates run).
void Idle();

// Answers the modal dialogs that open, one handler each, in order.
class ModalScript {
 public:
  using Handler = std::function<void(QWidget* dialog)>;
  explicit ModalScript(std::vector<Handler> handlers);
  ~ModalScript();
  ModalScript(const ModalScript&) = delete;
  ModalScript& operator=(const ModalScript&) = delete;
  // Handlers not used yet.
  int Remaining() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// Records the message box's text (lines broken at '\n') and presses OK.
ModalScript::Handler Message(std::vector<std::string>* texts);
// Records a Yes/No question's text (lines broken at '\n') and answers it.
ModalScript::Handler Question(bool yes, std::vector<std::string>* texts = nullptr);
// Fills a text query (recording its caption and prompt) and presses OK.
ModalScript::Handler Input(const std::string& text, std::vector<std::string>* seen = nullptr);
// Closes the dialog with Cancel.
ModalScript::Handler Cancel();
// Types a file's path into a file dialog (recording its title) and confirms
// it as the operator does, with the dialog's own checks; with force the name
// is handed over without them (a folder, say).
ModalScript::Handler ChooseFile(const std::string& path, std::vector<std::string>* seen = nullptr,
                                bool force = false);
// Prints to a PDF file from a print dialog.
ModalScript::Handler PrintToPdf(const std::string& path);

// A PDF file's text as pdftotext gives it (of one page when page > 0, with
// the page's layout kept; ligatures spelt out), what pdfinfo says of it,
// and its number of pages.
std::string PdfText(const std::string& path, int page = 0);
std::string PdfInfo(const std::string& path);
int PdfPages(const std::string& path);

// The log of the main window, one entry per line.
QStringList LogLines();
int CountLog(const QString& line);
bool Logged(const QString& line);
QString LastLog();

// A register of the program's drive as the drive holds it (read back over a
// local value that differs).
int DriveValue(TlaRegister* reg);

// A run's own working directory (made current) and configuration folder
// (XDG_CONFIG_HOME), both removed at the end.
class ProgramFolder {
 public:
  ProgramFolder();
  ~ProgramFolder();
  ProgramFolder(const ProgramFolder&) = delete;
  ProgramFolder& operator=(const ProgramFolder&) = delete;
  const std::string& Path() const { return work_.Path(); }
  std::string File(const std::string& name) const { return work_.File(name); }
  void WriteIni(const std::string& text) const;
  // The program INI file that comes with the program.
  void WriteSampleIni() const;
  std::string ReadIni() const;
  // Registers the mbserver built here in the run's registry.
  void RegisterServer() const;
  void MapComPort(int n, const std::string& device) const;

 private:
  kdtest::TempDir work_;
  kdtest::TempDir config_;
  kdtest::ScopedEnv xdg_;
  std::string oldDir_;
};

// kd730-sim on one end of a fresh socat pair; COM1 of the run maps to the other.
class SimulatedDrive {
 public:
  SimulatedDrive(const ProgramFolder& folder, const std::vector<std::string>& extraArgs = {});
  kdtest::ChildProcess& Process() { return sim_.Process(); }
  // The drive stops answering (its process is stopped, its line stays open)
  // and answers again.
  void Pause();
  void Resume();
  // The program's end of the line (COM1).
  const std::string& Line() const { return ptys_.B(); }

 private:
  kdtest::SocatPair ptys_;
  kdsim::SimProcess sim_;
};

// The program on the real stack: the sample INI file, the registered
// mbserver, kd730-sim on COM1, the windows made and the main window shown.
class ProgramOnDrive : public ::testing::Test {
 protected:
  ProgramOnDrive();
  ~ProgramOnDrive() override;
  void SetUp() override;
  void TearDown() override;

  ProgramFolder folder_;
  std::unique_ptr<SimulatedDrive> drive_;
  std::unique_ptr<TProgramForms> forms_;
};

// Saves a window (the main window when null) as a picture under the build folder.
void SaveScreenshot(const std::string& name, QWidget* window = nullptr);

}  // namespace apptest

// Readable QStrings in test failures.
inline void PrintTo(const QString& text, std::ostream* out) { *out << '"' << text.toStdString() << '"'; }
