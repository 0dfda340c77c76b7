#include "AppTestSupport.h"

#include <QApplication>
#include <QCoreApplication>
#include <QComboBox>
#include <QDialog>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QLineEdit>
#include <QPrintDialog>
#include <QInputDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QPointer>
#include <QTimer>
#include <QVariant>
#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <stdexcept>

#include "Modulenetwork.h"
#include "Qtmainloop.h"
#include "Registry.h"
#include "ServerRegistry.h"
#include "Startup.h"
#include "Tladevicekd730cmp.h"
#include "Winmain.h"

namespace apptest {

int RunInProgramSetup(int& argc, char** argv, const std::function<int()>& body) {
  // The offscreen platform with two screens side by side (screens.json).
  const char* platform = std::getenv("QT_QPA_PLATFORM");
  if (!platform || std::strcmp(platform, "offscreen") == 0)
    setenv("QT_QPA_PLATFORM", "offscreen:configfile=" KD_SCREENS_FILE, 1);
  QApplication app(argc, argv);
  SetRegionalFormats();
  QApplication::setApplicationName(kApplicationTitle);
  TQtMainThread mainThread;
  return body();
}

bool PumpUntil(const std::function<bool()>& pred, std::chrono::milliseconds timeout) {
  QElapsedTimer clock;
  clock.start();
  // Wakes the wait now and then: pred() may depend on other threads and processes.
  QTimer tick;
  tick.start(5);
  for (;;) {
    QCoreApplication::sendPostedEvents();
    if (pred()) return true;
    if (clock.hasExpired(timeout.count())) return false;
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
  }
}

void Idle() {
  int rounds = 0;
  PumpUntil([&] { return ++rounds > 3; });
}

struct ModalScript::Impl {
  std::vector<Handler> handlers;
  std::size_t next = 0;
  QPointer<QWidget> answered;  // the dialog last answered, while it is open
  QTimer timer;
};

ModalScript::ModalScript(std::vector<Handler> handlers) : impl_(std::make_unique<Impl>()) {
  impl_->handlers = std::move(handlers);
  QObject::connect(&impl_->timer, &QTimer::timeout, [impl = impl_.get()] {
    if (impl->answered && !impl->answered->isVisible()) impl->answered = nullptr;
    QWidget* dialog = QApplication::activeModalWidget();
    if (!dialog || !dialog->isVisible() || dialog == impl->answered) return;
    if (impl->next >= impl->handlers.size()) return;
    impl->answered = dialog;
    impl->handlers[impl->next++](dialog);
  });
  impl_->timer.start(2);
}

ModalScript::~ModalScript() = default;

int ModalScript::Remaining() const { return static_cast<int>(impl_->handlers.size() - impl_->next); }

namespace {

// A dialog other than the one the script expected: a failure, and closed.
void Unexpected(QWidget* dialog, const char* expected) {
  ADD_FAILURE() << expected << " was expected";
  if (auto* d = qobject_cast<QDialog*>(dialog)) d->reject();
}

}  // namespace

ModalScript::Handler Message(std::vector<std::string>* texts) {
  return [texts](QWidget* dialog) {
    auto* box = qobject_cast<QMessageBox*>(dialog);
    if (!box) return Unexpected(dialog, "a message box");
    if (texts) texts->push_back(box->text().toStdString());
    box->accept();
  };
}

ModalScript::Handler Question(bool yes, std::vector<std::string>* texts) {
  return [yes, texts](QWidget* dialog) {
    auto* box = qobject_cast<QMessageBox*>(dialog);
    QAbstractButton* answer = box ? box->button(yes ? QMessageBox::Yes : QMessageBox::No) : nullptr;
    if (!answer) return Unexpected(dialog, "a Yes/No question");
    if (texts) texts->push_back(box->text().toStdString());
    answer->click();
  };
}

ModalScript::Handler Input(const std::string& text, std::vector<std::string>* seen) {
  return [text, seen](QWidget* dialog) {
    auto* input = qobject_cast<QInputDialog*>(dialog);
    if (!input) return Unexpected(dialog, "a text query");
    if (seen) {
      seen->push_back(input->windowTitle().toStdString());
      seen->push_back(input->labelText().toStdString());
      seen->push_back(input->textValue().toStdString());
    }
    input->setTextValue(QString::fromStdString(text));
    input->accept();
  };
}

ModalScript::Handler Cancel() {
  return [](QWidget* dialog) {
    if (auto* d = qobject_cast<QDialog*>(dialog)) d->reject();
  };
}

ModalScript::Handler ChooseFile(const std::string& path, std::vector<std::string>* seen, bool force) {
  return [path, seen, force](QWidget* dialog) {
    auto* files = qobject_cast<QFileDialog*>(dialog);
    if (!files) return Unexpected(dialog, "a file dialog");
    if (seen) seen->push_back(files->windowTitle().toStdString());
    // Typed into the name field, as the operator may type a whole path.
    auto* name = files->findChild<QLineEdit*>("fileNameEdit");
    if (!name) {
      ADD_FAILURE() << "the file dialog has no name field";
      files->reject();
      return;
    }
    name->setText(QString::fromStdString(path));
    QDialog* asDialog = files;  // accept and done are public there
    if (force) {
      asDialog->done(QDialog::Accepted);
      return;
    }
    // Later, so that the script's timer can answer the dialog's own questions.
    QTimer::singleShot(0, files, [asDialog, path] {
      asDialog->accept();
      if (asDialog->isVisible()) {
        ADD_FAILURE() << "the file dialog kept " << path;
        asDialog->reject();
      }
    });
  };
}

ModalScript::Handler PrintToPdf(const std::string& path) {
  return [path](QWidget* dialog) {
    auto* print = qobject_cast<QPrintDialog*>(dialog);
    auto* printers = print ? print->findChild<QComboBox*>("printers") : nullptr;
    auto* file = print ? print->findChild<QLineEdit*>("filename") : nullptr;
    const int pdf = printers ? printers->findText("PDF", Qt::MatchContains) : -1;
    if (!file || pdf < 0) return Unexpected(dialog, "a print dialog offering a PDF file");
    printers->setCurrentIndex(pdf);
    file->setText(QString::fromStdString(path));
    print->accept();
  };
}

std::string PdfText(const std::string& path, int page) {
  std::vector<std::string> argv{"pdftotext"};
  if (page > 0) argv.insert(argv.end(), {"-layout", "-f", std::to_string(page), "-l", std::to_string(page)});
  argv.insert(argv.end(), {path, "-"});
  kdtest::ChildProcess tool(argv);
  std::string text = tool.ReadAll(30s);
  EXPECT_EQ(tool.Wait(30s), 0) << "pdftotext " << path;
  // The fonts' ligatures as their letters.
  const std::pair<const char*, const char*> ligatures[] = {
      {"\uFB00", "ff"}, {"\uFB01", "fi"}, {"\uFB02", "fl"}, {"\uFB03", "ffi"}, {"\uFB04", "ffl"}};
  for (const auto& [ligature, letters] : ligatures)
    for (auto at = text.find(ligature); at != std::string::npos; at = text.find(ligature, at))
      text.replace(at, std::strlen(ligature), letters);
  return text;
}

std::string PdfInfo(const std::string& path) {
  kdtest::ChildProcess tool({"pdfinfo", path});
  std::string info = tool.ReadAll(30s);
  EXPECT_EQ(tool.Wait(30s), 0) << "pdfinfo " << path;
  return info;
}

int PdfPages(const std::string& path) {
  const std::string info = PdfInfo(path);
  const auto at = info.find("\nPages:");
  return at == std::string::npos ? -1 : std::atoi(info.c_str() + at + 7);
}

QStringList LogLines() {
  if (!MainForm) return {};
  const QString text = MainForm->Memo->toPlainText();
  return text.isEmpty() ? QStringList() : text.split('\n');
}

int CountLog(const QString& line) { return static_cast<int>(LogLines().count(line)); }

bool Logged(const QString& line) { return LogLines().contains(line); }

QString LastLog() {
  const QStringList lines = LogLines();
  return lines.isEmpty() ? QString() : lines.last();
}

int DriveValue(TlaRegister* reg) {
  reg->SetValueInteger(0, reg->GetValueInteger(0) ^ 0x55);
  EXPECT_TRUE(Network->laDevice->ReadReg(reg, true));
  return reg->GetValueInteger(0);
}

ProgramFolder::ProgramFolder() : xdg_("XDG_CONFIG_HOME", config_.Path()) {
  oldDir_ = std::filesystem::current_path().string();
  for (const char* file : {"KD730_Parameters.par", "KD730_Parameters_v110.par"})
    std::filesystem::copy_file(std::string(KD_DATA_DIR) + "/" + file, work_.File(file));
  std::filesystem::current_path(work_.Path());
}

ProgramFolder::~ProgramFolder() {
  std::error_code ec;
  std::filesystem::current_path(oldDir_, ec);
}

void ProgramFolder::WriteIni(const std::string& text) const { work_.Write("KD730_TuneDesk.ini", text); }

void ProgramFolder::WriteSampleIni() const {
  WriteIni(kdtest::ReadFile(std::string(KD_DATA_DIR) + "/KD730_TuneDesk.ini"));
}

std::string ProgramFolder::ReadIni() const { return kdtest::ReadFile(File("KD730_TuneDesk.ini")); }

void ProgramFolder::RegisterServer() const { kd::mb::RegisterServer(KD_MBSERVER_PATH); }

void ProgramFolder::MapComPort(int n, const std::string& device) const {
  kd::Registry reg(kd::HKEY_LOCAL_MACHINE);
  if (!reg.OpenKey("HARDWARE\\DEVICEMAP\\SERIALCOMM", true)) throw std::runtime_error("registry");
  reg.WriteString("COM" + std::to_string(n), device);
}

namespace {

std::vector<std::string> SimArgs(const std::string& line, const std::vector<std::string>& extra) {
  std::vector<std::string> args{"--rtu", line, "--par", std::string(KD_DATA_DIR) + "/KD730_Parameters.par"};
  args.insert(args.end(), extra.begin(), extra.end());
  return args;
}

}  // namespace

SimulatedDrive::SimulatedDrive(const ProgramFolder& folder, const std::vector<std::string>& extraArgs)
    : sim_(KD_SIM_EXE, SimArgs(ptys_.A(), extraArgs)) {
  folder.MapComPort(1, ptys_.B());
}

void SimulatedDrive::Pause() { sim_.Process().Signal(SIGSTOP); }

void SimulatedDrive::Resume() { sim_.Process().Signal(SIGCONT); }

ProgramOnDrive::ProgramOnDrive() = default;

ProgramOnDrive::~ProgramOnDrive() = default;

void ProgramOnDrive::SetUp() {
  folder_.WriteSampleIni();
  folder_.RegisterServer();
  drive_ = std::make_unique<SimulatedDrive>(folder_);
  forms_ = std::make_unique<TProgramForms>();
  MainForm->show();
}

void ProgramOnDrive::TearDown() { forms_.reset(); }

void SaveScreenshot(const std::string& name, QWidget* window) {
  if (!window) window = MainForm;
  std::filesystem::create_directories(KD_SCREENSHOT_DIR);
  // The offscreen cursor stays where the window was shown (on its first button).
  for (QWidget* w : window->findChildren<QWidget*>()) w->setAttribute(Qt::WA_UnderMouse, false);
  window->update();
  QCoreApplication::sendPostedEvents();
  EXPECT_TRUE(window->grab().save(QString::fromStdString(std::string(KD_SCREENSHOT_DIR) + "/" + name)));
}

}  // namespace apptest
