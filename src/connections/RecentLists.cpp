#include "connections/RecentLists.h"

#include "base/RecentList.h"

#include <QFile>

namespace velmora::RecentLists {

std::optional<QStringList> readPhones(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return std::nullopt;
    }
    return RecentList::load(path);
}

bool writePhones(const QString& path, const QStringList& numbers) {
    return RecentList::save(path, numbers);
}

QStringList readConnections(const QString& path) {
    QStringList names = RecentList::load(path);
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
