#include "Appforms.h"

#include <QRect>
#include <QWidget>

#include "IniFile.h"

void WriteFormPosition(QWidget* window, kd::IniFile& ini, const std::string& section) {
  const bool restored =
      !(window->windowState() & (Qt::WindowMaximized | Qt::WindowMinimized | Qt::WindowFullScreen));
  const QRect client = restored ? window->geometry() : window->normalGeometry();
  const QRect frame = window->frameGeometry();
  const QRect now = window->geometry();
  window->setWindowState(Qt::WindowNoState);
  ini.WriteInteger(section, "Top", client.y() - (now.y() - frame.y()));
  ini.WriteInteger(section, "Left", client.x() - (now.x() - frame.x()));
  ini.WriteInteger(section, "Width", client.width() + frame.width() - now.width());
  ini.WriteInteger(section, "Height", client.height() + frame.height() - now.height());
}
