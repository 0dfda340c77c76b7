// kd730-tunedesk: the operator program of the KD730 drive.
#include <QApplication>
#include <exception>

#include "Appdialogs.h"
#include "Qtmainloop.h"
#include "Startup.h"
#include "Winmain.h"

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  try {
    SetRegionalFormats();
    QApplication::setApplicationName(kApplicationTitle);
    QApplication::setQuitOnLastWindowClosed(false);
    TQtMainThread mainThread;
    TProgramForms forms;
    QObject::connect(MainForm, &TMainForm::Closed, &application, &QCoreApplication::quit);
    MainForm->show();
    QApplication::exec();
  } catch (const std::exception& error) {
    ShowException(error);
  }
  return 0;
}
