#pragma once
// Window positions in the program INI file.
#include <string>

class QWidget;

namespace kd {
class IniFile;
}

// Sets the window's state to normal and writes Top, Left, Width and Height of
// its restored frame (also of a maximised or minimised window) into section.
void WriteFormPosition(QWidget* window, kd::IniFile& ini, const std::string& section);
