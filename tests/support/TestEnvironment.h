#pragma once

#include <QByteArray>
#include <QString>

#include <functional>

namespace velmora::test {

// Points VELMORA_HOME, HOME and every XDG folder into one temporary folder that lives as long as
// the test process. Returns that folder.
QString prepareTestEnvironment();

// A new empty folder under the test process's temporary folder.
QString makeTempFolder(const QString& prefix);

// Writes the bytes, making the folder first; false when the file cannot be written.
bool writeFile(const QString& path, const QByteArray& bytes);
// The file's bytes; empty when it cannot be read.
QByteArray readFile(const QString& path);

// Runs the event loop until done() holds; false when it still does not after limitMs (a hang
// is a failure, not a wait: the limit is far above what the awaited exchange needs).
bool pumpUntil(const std::function<bool()>& done, int limitMs = 60000);

}  // namespace velmora::test
