#include "base/DataFolder.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#include <pwd.h>
#include <unistd.h>

namespace velmora {

QString dataFolder(const QString& executableFolder) {
    const QString fromEnvironment = qEnvironmentVariable("VELMORA_HOME");
    if (!fromEnvironment.isEmpty()) {
        return QDir(fromEnvironment).absolutePath();
    }
    const QFileInfo program(executableFolder);
    if (program.isDir() && program.isWritable()) {
        return program.absoluteFilePath();
    }
    const QString folder =
        QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + "/velmora";
    QDir().mkpath(folder);
    return folder;
}

QString helpFolder(const QString& executableFolder) {
    const QString beside = QDir(executableFolder).filePath(QStringLiteral("Help"));
    if (QFileInfo(beside).isDir()) {
        return beside;
    }
    return QDir::cleanPath(executableFolder + QStringLiteral("/../share/velmora/Help"));
}

QString loginName() {
    const passwd* entry = getpwuid(geteuid());
    return entry != nullptr ? QString::fromLocal8Bit(entry->pw_name) : QString();
}

}  // namespace velmora
