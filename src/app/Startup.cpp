#include "Startup.h"

#include <QLocale>
#include <clocale>
#include <filesystem>

#include "Dlgtcp.h"
#include "Formats.h"
#include "Modulenetwork.h"
#include "Winabout.h"
#include "Winmain.h"
#include "Winscope.h"
#include "Winsetup.h"

std::string WorkingDirectory() {
  std::error_code ec;
  std::string dir = std::filesystem::current_path(ec).string();
  if (dir.empty() || dir.back() != '/') dir += '/';
  return dir;
}

void SetRegionalFormats() {
  std::setlocale(LC_NUMERIC, "C");
  QLocale::setDefault(QLocale::c());
  kd::FormatSettings settings = kd::GetFormatSettings();
  settings.ThousandSeparator = '\'';
  settings.DecimalSeparator = '.';
  settings.DateSeparator = '/';
  kd::SetFormatSettings(settings);
}

TProgramForms::TProgramForms()
    : mainForm_(std::make_unique<TMainForm>()),
      network_(std::make_unique<TNetwork>()),
      aboutForm_(std::make_unique<TAboutForm>()),
      scopeForm_(std::make_unique<TScopeForm>()),
      tcpForm_(std::make_unique<TTCPForm>()),
      setupForm_(std::make_unique<TKD730Setup>()) {}

TProgramForms::~TProgramForms() = default;
