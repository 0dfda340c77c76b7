#pragma once
// Start-up of the operator program: the regional formats of the run and the
// program's windows and data module, created in their fixed order and
// destroyed in the reverse one.
#include <memory>
#include <string>

class TMainForm;
class TNetwork;
class TAboutForm;
class TScopeForm;
class TTCPForm;
class TKD730Setup;

// The program's title.
inline constexpr const char* kApplicationTitle = "KD730 Tuning Desk v1.02";

// The current working directory with a trailing '/': the folder of the
// program INI file and of the data-model files.
std::string WorkingDirectory();

// Decimal '.', thousands '\'', date '/' for the whole run, whatever the
// system's locale (and C-library number conversions in the "C" locale, which
// the QApplication replaced by the system's). Call after the QApplication.
void SetRegionalFormats();

// MainForm, Network, AboutForm, ScopeForm, TCPForm, KD730Setup, in this order; each global is set
// by its object's constructor and cleared by its destructor.
class TProgramForms {
 public:
  TProgramForms();
  ~TProgramForms();
  TProgramForms(const TProgramForms&) = delete;
  TProgramForms& operator=(const TProgramForms&) = delete;

 private:
  // Declared in creation order: destroyed in the reverse one.
  std::unique_ptr<TMainForm> mainForm_;
  std::unique_ptr<TNetwork> network_;
  std::unique_ptr<TAboutForm> aboutForm_;
  std::unique_ptr<TScopeForm> scopeForm_;
  std::unique_ptr<TTCPForm> tcpForm_;
  std::unique_ptr<TKD730Setup> setupForm_;
};
