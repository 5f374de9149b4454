#pragma once

#include <QByteArray>
#include <QString>

namespace velmora {

// Text on the wire and in addresses is Windows-1252 (the Western ANSI code page). These convert
// at the edges only. Characters that the code page cannot hold become '?'.
QByteArray toWindows1252(const QString& text);
// Every byte maps to a character; the five bytes the code page leaves undefined map to the
// control characters of the same value, as Windows does.
QString fromWindows1252(const QByteArray& bytes);

}  // namespace velmora
