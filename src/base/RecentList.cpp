#include "base/RecentList.h"

#include <QFile>
#include <QSaveFile>

namespace velmora::RecentList {

QStringList load(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.size() > MaximumSize) {
        return {};
    }
    const QByteArray bytes = file.readAll();
    QStringList entries;
    for (QByteArray line : bytes.split('\n')) {
        if (line.endsWith('\r')) {
            line.chop(1);
        }
        entries << QString::fromLocal8Bit(line);
    }
    // The line end of the last entry leaves one empty piece behind it.
    if (bytes.isEmpty() || bytes.endsWith('\n')) {
        entries.removeLast();
    }
    return entries;
}

bool save(const QString& path, const QStringList& entries) {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        return false;
    }
    for (const QString& entry : entries) {
        file.write(entry.toLocal8Bit() + "\r\n");
    }
    return file.commit();
}

}  // namespace velmora::RecentList
