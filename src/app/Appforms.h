#pragma once
// Window positions in the program INI file.
#include <QPoint>
#include <QRect>
#include <QSize>
#include <string>

class QWidget;

namespace kd {
class IniFile;
}

// Places the window from section: Left and Top (0 where missing) are its
// frame's position and, withSize, Width and Height (its present size where
// missing) its inner size; PlaceOnScreen then makes it land on a screen,
// and again once the window manager has framed it after its first show.
void ReadFormPosition(QWidget* window, const kd::IniFile& ini, const std::string& section,
                      bool withSize = false);

// Moves the window's frame to framePos and resizes it to size, both held so
// that the window, with its frame as far as the window system knows it,
// stands whole on an available screen (the one the place overlaps most, else
// the nearest) at a size between its minimum and that screen's; a place
// already whole on a screen is kept as it is.
void PlaceOnScreen(QWidget* window, const QPoint& framePos, const QSize& size);

// The window's geometry when restored, also of a maximised or minimised one.
QRect RestoredGeometry(const QWidget* window);

// Sets the window's state to normal and writes Top, Left, Width and Height of
// its restored frame (also of a maximised or minimised window) into section.
void WriteFormPosition(QWidget* window, kd::IniFile& ini, const std::string& section);
