#include "transfer/FileIcon.h"

#include "transfer/IcoCodec.h"

#include <QGuiApplication>
#include <QIcon>
#include <QMimeDatabase>

namespace velmora {

namespace {

QImage themeImage(const QString& path) {
    if (qobject_cast<QGuiApplication*>(QCoreApplication::instance()) == nullptr) {
        return {};
    }
    const QMimeType type = QMimeDatabase().mimeTypeForFile(path);
    const QIcon icon = QIcon::fromTheme(type.iconName(), QIcon::fromTheme(type.genericIconName()));
    return icon.isNull() ? QImage() : icon.pixmap(16, 16).toImage();
}

}  // namespace

QImage plainPageImage() {
    QImage page(16, 16, QImage::Format_ARGB32);
    page.fill(Qt::transparent);
    constexpr int left = 3;
    constexpr int right = 12;
    constexpr int top = 1;
    constexpr int bottom = 14;
    for (int y = top; y <= bottom; ++y) {
        for (int x = left; x <= right; ++x) {
            const bool edge = x == left || x == right || y == top || y == bottom;
            page.setPixel(x, y, edge ? qRgb(0, 0, 0) : qRgb(255, 255, 255));
        }
    }
    return page;
}

QByteArray fileIconField(const QString& path) {
    const QImage image = themeImage(path);
    return encodeIco16(image.isNull() ? plainPageImage() : image);
}

}  // namespace velmora
