#pragma once
// Texts between the core (std::string, UTF-8 or 8-bit from data-model files)
// and the widgets.
#include <QString>
#include <string>

#include "Strings.h"

// UTF-8 when the bytes are valid UTF-8, else Latin-1, so that no byte of an
// 8-bit text is lost.
QString ToQString(const std::string& text);
std::string FromQString(const QString& text);

// The lines of a list as one text, '\n' between them (a memo's text).
QString LinesText(const kd::StringList& lines);
