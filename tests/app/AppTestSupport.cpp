#include "AppTestSupport.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QInputDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QPointer>
#include <QTimer>
#include <QVariant>
#include <gtest/gtest.h>

#include <filesystem>
#include <stdexcept>

#include "Registry.h"
#include "ServerRegistry.h"
#include "Winmain.h"

namespace apptest {

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

ModalScript::Handler Message(std::vector<std::string>* texts) {
  return [texts](QWidget* dialog) {
    auto* box = qobject_cast<QMessageBox*>(dialog);
    if (!box) {
      ADD_FAILURE() << "a message box was expected";
      if (auto* d = qobject_cast<QDialog*>(dialog)) d->reject();
      return;
    }
    if (texts) texts->push_back(box->text().toStdString());
    box->accept();
  };
}

ModalScript::Handler Question(bool yes, std::vector<std::string>* texts) {
  return [yes, texts](QWidget* dialog) {
    auto* box = qobject_cast<QMessageBox*>(dialog);
    QAbstractButton* answer = box ? box->button(yes ? QMessageBox::Yes : QMessageBox::No) : nullptr;
    if (!answer) {
      ADD_FAILURE() << "a Yes/No question was expected";
      if (auto* d = qobject_cast<QDialog*>(dialog)) d->reject();
      return;
    }
    if (texts) texts->push_back(box->text().toStdString());
    answer->click();
  };
}

ModalScript::Handler Input(const std::string& text, std::vector<std::string>* seen) {
  return [text, seen](QWidget* dialog) {
    auto* input = qobject_cast<QInputDialog*>(dialog);
    if (!input) {
      ADD_FAILURE() << "a text query was expected";
      if (auto* d = qobject_cast<QDialog*>(dialog)) d->reject();
      return;
    }
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

QStringList LogLines() {
  if (!MainForm) return {};
  const QString text = MainForm->Memo->toPlainText();
  return text.isEmpty() ? QStringList() : text.split('\n');
}

int CountLog(const QString& line) { return static_cast<int>(LogLines().count(line)); }

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
