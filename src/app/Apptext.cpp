#include "Apptext.h"

#include <QStringDecoder>
#include <QStringList>

QString ToQString(const std::string& text) {
  QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
  QString s = utf8.decode(QByteArrayView(text.data(), static_cast<qsizetype>(text.size())));
  if (!utf8.hasError()) return s;
  return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

std::string FromQString(const QString& text) { return text.toStdString(); }

QString LinesText(const kd::StringList& lines) {
  QStringList out;
  for (const std::string& line : lines.Lines()) out << ToQString(line);
  return out.join('\n');
}
