#include "support/TestEnvironment.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

#include <cstdlib>
#include <memory>

namespace velmora::test {

namespace {

QTemporaryDir& rootFolder() {
    static QTemporaryDir folder(QDir::tempPath() + QStringLiteral("/velmora-test-XXXXXX"));
    return folder;
}

void pointInto(const char* variable, const QString& path) {
    QDir().mkpath(path);
    qputenv(variable, QFile::encodeName(path));
}

}  // namespace

QString prepareTestEnvironment() {
    const QString root = rootFolder().path();
    pointInto("VELMORA_HOME", root + QStringLiteral("/velmora-home"));
    pointInto("HOME", root + QStringLiteral("/home"));
    pointInto("XDG_DATA_HOME", root + QStringLiteral("/xdg-data"));
    pointInto("XDG_CONFIG_HOME", root + QStringLiteral("/xdg-config"));
    pointInto("XDG_CACHE_HOME", root + QStringLiteral("/xdg-cache"));
    pointInto("XDG_STATE_HOME", root + QStringLiteral("/xdg-state"));
    pointInto("XDG_RUNTIME_DIR", root + QStringLiteral("/xdg-runtime"));
    QFile::setPermissions(root + QStringLiteral("/xdg-runtime"),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    qputenv("XDG_DATA_DIRS", QFile::encodeName(root + QStringLiteral("/xdg-data-dirs")));
    qputenv("XDG_CONFIG_DIRS", QFile::encodeName(root + QStringLiteral("/xdg-config-dirs")));
    return root;
}

QString makeTempFolder(const QString& prefix) {
    static int counter = 0;
    const QString path = rootFolder().path() + QStringLiteral("/%1-%2").arg(prefix).arg(++counter);
    QDir(path).removeRecursively();
    QDir().mkpath(path);
    return path;
}

bool writeFile(const QString& path, const QByteArray& bytes) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

QByteArray readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool pumpUntil(const std::function<bool()>& done, int limitMs) {
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > limitMs) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return true;
}

}  // namespace velmora::test
