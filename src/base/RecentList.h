#pragma once

#include <QString>
#include <QStringList>

namespace velmora {

// A list file of the data folder (recents.list): one entry per line, each ended by CR LF, in
// order. Reading takes the lines as they are (a lone LF ends a line too); a missing, unreadable
// or oversized file gives an empty list.
namespace RecentList {

constexpr qint64 MaximumSize = 1024 * 1024;

QStringList load(const QString& path);
// Writes a new file beside the old one and renames it over. False when not written.
bool save(const QString& path, const QStringList& entries);

}  // namespace RecentList

}  // namespace velmora
