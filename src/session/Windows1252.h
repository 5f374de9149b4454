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
// A zero-terminated Windows-1252 string, as an address element holds one: the text before the
// first zero byte, or all of it when there is none.
QString fromWindows1252Field(const QByteArray& field);

}  // namespace velmora
