#pragma once
// Window positions in the program INI file.
#include <QRect>
#include <string>

class QWidget;

namespace kd {
class IniFile;
}

// Moves the window to Left and Top of section (0 where missing).
void ReadFormPosition(QWidget* window, const kd::IniFile& ini, const std::string& section);

// The window's geometry when restored, also of a maximised or minimised one.
QRect RestoredGeometry(const QWidget* window);

// Sets the window's state to normal and writes Top, Left, Width and Height of
// its restored frame (also of a maximised or minimised window) into section.
void WriteFormPosition(QWidget* window, kd::IniFile& ini, const std::string& section);
