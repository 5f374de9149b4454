#pragma once

#include <QString>
#include <QStringList>

#include <optional>

namespace velmora {

// The recent connection files (recents.list) and the recent phone numbers (recents.phones): text
// files in the data folder with one entry per line, each line ended by CR LF, newest first.
namespace RecentLists {

inline const QString ConnectionsFileName = QStringLiteral("recents.list");
inline const QString PhonesFileName = QStringLiteral("recents.phones");
// How many connection files the list keeps as files are opened.
constexpr int ConnectionsLimit = 10;

// recents.phones: its lines in order, an empty line being an empty number; nothing when the file
// does not exist or cannot be read.
std::optional<QStringList> readPhones(const QString& path);
bool writePhones(const QString& path, const QStringList& numbers);

// recents.list as the program starts with it: its lines without blank ones (a blank line names
// no file); empty when missing.
QStringList readConnections(const QString& path);

// Makes the opened file the newest entry: an exactly equal entry moves to the top, else the name
// is inserted there; then, above the limit, the last entry goes (one entry only).
void addOpenedConnection(QStringList& list, const QString& fileName);

// Puts a phone number at the top unless the list already holds it without regard to letter case.
// True when it was added.
bool addPhoneNumber(QStringList& list, const QString& number);

}  // namespace RecentLists

}  // namespace velmora
