#include "connections/RecentLists.h"

#include <QFile>
#include <QSaveFile>

namespace velmora::RecentLists {

std::optional<QStringList> readLines(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.size() > MaximumFileSize) {
        return std::nullopt;
    }
    const QByteArray bytes = file.read(MaximumFileSize);
    QStringList lines;
    qsizetype start = 0;
    while (start < bytes.size()) {
        qsizetype end = bytes.indexOf('\n', start);
        if (end < 0) {
            end = bytes.size();
        }
        QByteArray line = bytes.mid(start, end - start);
        if (line.endsWith('\r')) {
            line.chop(1);
        }
        lines << QString::fromUtf8(line);
        start = end + 1;
    }
    return lines;
}

bool writeLines(const QString& path, const QStringList& entries) {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        return false;
    }
    for (const QString& entry : entries) {
        file.write(entry.toUtf8() + "\r\n");
    }
    return file.commit();
}

QStringList readConnections(const QString& path) {
    QStringList names = readLines(path).value_or(QStringList());
    names.removeIf([](const QString& name) { return name.trimmed().isEmpty(); });
    return names;
}

void addOpenedConnection(QStringList& list, const QString& fileName) {
    const qsizetype found = list.indexOf(fileName);
    if (found >= 0) {
        list.move(found, 0);
    } else {
        list.prepend(fileName);
    }
    if (list.size() > ConnectionsLimit) {
        list.removeLast();
    }
}

bool addPhoneNumber(QStringList& list, const QString& number) {
    if (list.contains(number, Qt::CaseInsensitive)) {
        return false;
    }
    list.prepend(number);
    return true;
}

}  // namespace velmora::RecentLists
