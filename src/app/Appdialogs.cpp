#include "Appdialogs.h"

#include <QCoreApplication>
#include <QFileDialog>
#include <QInputDialog>
#include <QMessageBox>

#include "Apptext.h"

namespace {

// Message texts separate their lines with "\r\n" or "\n\r"; a label breaks
// lines at '\n' only.
QString DisplayText(const std::string& text) {
  QString s = ToQString(text);
  s.replace(QLatin1String("\r\n"), QLatin1String("\n"));
  s.replace(QLatin1String("\n\r"), QLatin1String("\n"));
  s.replace(QLatin1Char('\r'), QLatin1Char('\n'));
  return s;
}

void Box(QMessageBox::Icon icon, const std::string& text) {
  QMessageBox box(icon, QCoreApplication::applicationName(), DisplayText(text), QMessageBox::Ok);
  box.exec();
}

}  // namespace

void ShowMessage(const std::string& text) { Box(QMessageBox::NoIcon, text); }

bool WarningYesNo(const std::string& text) {
  QMessageBox box(QMessageBox::Warning, QCoreApplication::applicationName(), DisplayText(text),
                  QMessageBox::Yes | QMessageBox::No);
  box.setDefaultButton(QMessageBox::No);
  return box.exec() == QMessageBox::Yes;
}

void ShowException(const std::exception& error) { Box(QMessageBox::Critical, error.what()); }

bool InputQuery(const std::string& caption, const std::string& prompt, std::string& value) {
  QInputDialog dialog;
  dialog.setInputMode(QInputDialog::TextInput);
  dialog.setWindowTitle(ToQString(caption));
  dialog.setLabelText(ToQString(prompt));
  dialog.setTextValue(ToQString(value));
  if (dialog.exec() != QDialog::Accepted) return false;
  value = FromQString(dialog.textValue());
  return true;
}

void TAppRegistrationDialogs::ShowMessage(const std::string& text) { ::ShowMessage(text); }

bool TAppRegistrationDialogs::SelectDirectory(const std::string& caption, const std::string& start,
                                              std::string& chosen) {
  QFileDialog dialog(nullptr, ToQString(caption), ToQString(start));
  dialog.setFileMode(QFileDialog::Directory);
  dialog.setOption(QFileDialog::ShowDirsOnly);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return false;
  chosen = FromQString(dialog.selectedFiles().constFirst());
  return true;
}
