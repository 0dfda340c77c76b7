#pragma once
// The program's plain dialogs: message boxes, the exception display, the
// one-line text query, and the dialogs of the server registration.
#include <exception>
#include <string>

#include "RegisterModbusServer.h"

class QWidget;

// A plain message box with the program's title and an OK button.
void ShowMessage(const std::string& text);
// A warning box with Yes and No buttons; true on Yes.
bool WarningYesNo(const std::string& text);
// The application's exception display: a message box with the error's text.
void ShowException(const std::exception& error);
// Runs an event handler; what it raises is shown by the exception display.
template <class Fn>
void Guarded(Fn&& fn) {
  try {
    fn();
  } catch (const std::exception& error) {
    ShowException(error);
  }
}

// A one-line text query; true on OK, with the text in value.
bool InputQuery(const std::string& caption, const std::string& prompt, std::string& value);

// Message boxes without an owner window and the folder selection.
class TAppRegistrationDialogs : public TRegistrationDialogs {
 public:
  void ShowMessage(const std::string& text) override;
  bool SelectDirectory(const std::string& caption, const std::string& start,
                       std::string& chosen) override;
};
