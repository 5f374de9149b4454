#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>

namespace velmora {

// The small icon of a file for its offer: the icon of its type from the icon theme, else a
// plain page, encoded as the 318-byte icon field. Theme icons need a GUI application.
QByteArray fileIconField(const QString& path);

// The plain page drawn when the theme has no icon for a file's type.
QImage plainPageImage();

}  // namespace velmora
