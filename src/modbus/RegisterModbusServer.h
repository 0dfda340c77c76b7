#pragma once
// Registration of the server component by the operator: find the mbserver
// program (asking for its folder when it is not there) and run it with
// "/regserver".
#include <string>

// The message boxes and the folder dialog of the registration; the operator
// program implements them with its dialogs.
class TRegistrationDialogs {
 public:
  virtual ~TRegistrationDialogs() = default;
  virtual void ShowMessage(const std::string& text) = 0;
  // Folder selection with `caption`, starting at `start`; false when cancelled.
  virtual bool SelectDirectory(const std::string& caption, const std::string& start,
                               std::string& chosen) = 0;
};

// File name of the server program.
inline constexpr const char* kModbusServerFile = "mbserver";

// Looks for the server in `folder` (the current directory when empty) and
// registers it. True when the registration ran and reported success.
bool RegisterModbusServer(const std::string& folder, TRegistrationDialogs& dialogs);
