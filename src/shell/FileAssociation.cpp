#include "shell/FileAssociation.h"

#include "base/IniFile.h"

#include <QDir>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

namespace velmora {

namespace {

const QString DefaultApplications = QStringLiteral("Default Applications");

bool writeFile(const QString& path, const QByteArray& bytes) {
    if (!QDir().mkpath(QFileInfo(path).absolutePath())) {
        return false;
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        return false;
    }
    file.write(bytes);
    return file.commit();
}

}  // namespace

FileAssociation::FileAssociation()
    : FileAssociation(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation),
                      QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)) {}

FileAssociation::FileAssociation(QString dataHome, QString configHome)
    : m_dataHome(std::move(dataHome)), m_configHome(std::move(configHome)) {}

QString FileAssociation::mimeAppsPath() const {
    return QDir(m_configHome).filePath(QStringLiteral("mimeapps.list"));
}

QString FileAssociation::desktopEntryPath() const {
    return QDir(m_dataHome).filePath(QStringLiteral("applications/") + DesktopEntry);
}

QString FileAssociation::mimePackagePath() const {
    return QDir(m_dataHome).filePath(QStringLiteral("mime/packages/velmora.xml"));
}

bool FileAssociation::isAssociated() const {
    const QString value =
        IniFile::load(mimeAppsPath()).stringValue(DefaultApplications, MimeType, QString());
    // The value may list several entries separated by ';'; the first one is the default.
    return value.section(QLatin1Char(';'), 0, 0).trimmed() == DesktopEntry;
}

bool FileAssociation::associate(const QString& programPath) const {
    const QByteArray mime =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<mime-info xmlns=\"http://www.freedesktop.org/standards/shared-mime-info\">\n"
        "  <mime-type type=\"application/x-velmora-connection\">\n"
        "    <comment>Velmora Connection</comment>\n"
        "    <glob pattern=\"*.vmc\"/>\n"
        "  </mime-type>\n"
        "</mime-info>\n";
    const QByteArray desktop =
        "[Desktop Entry]\n"
        "Type=Application\n"
        "Name=Velmora\n"
        "Comment=Talk and send files over a cable or a modem line\n"
        "Exec=" +
        programPath.toUtf8() +
        " %f\n"
        "Icon=velmora\n"
        "Terminal=false\n"
        "Categories=Network;Chat;FileTransfer;\n"
        "MimeType=application/x-velmora-connection;\n";
    IniFile mimeApps = IniFile::load(mimeAppsPath());
    mimeApps.setValue(DefaultApplications, MimeType, DesktopEntry);
    const bool mimeWritten = writeFile(mimePackagePath(), mime);
    const bool desktopWritten = writeFile(desktopEntryPath(), desktop);
    return mimeWritten && desktopWritten && QDir().mkpath(m_configHome) &&
           mimeApps.save(mimeAppsPath());
}

}  // namespace velmora
