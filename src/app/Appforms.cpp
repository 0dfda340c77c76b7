#include "Appforms.h"

#include <QWidget>

#include "IniFile.h"

void ReadFormPosition(QWidget* window, const kd::IniFile& ini, const std::string& section) {
  window->move(ini.ReadInteger(section, "Left", 0), ini.ReadInteger(section, "Top", 0));
}

QRect RestoredGeometry(const QWidget* window) {
  const bool restored =
      !(window->windowState() & (Qt::WindowMaximized | Qt::WindowMinimized | Qt::WindowFullScreen));
  return restored ? window->geometry() : window->normalGeometry();
}

void WriteFormPosition(QWidget* window, kd::IniFile& ini, const std::string& section) {
  const QRect client = RestoredGeometry(window);
  const QRect frame = window->frameGeometry();
  const QRect now = window->geometry();
  window->setWindowState(Qt::WindowNoState);
  ini.WriteInteger(section, "Top", client.y() - (now.y() - frame.y()));
  ini.WriteInteger(section, "Left", client.x() - (now.x() - frame.x()));
  ini.WriteInteger(section, "Width", client.width() + frame.width() - now.width());
  ini.WriteInteger(section, "Height", client.height() + frame.height() - now.height());
}
