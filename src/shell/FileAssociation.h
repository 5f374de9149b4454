#pragma once

#include <QString>

namespace velmora {

// The association of *.vmc files with the program, the freedesktop way: the MIME type
// application/x-velmora-connection, the desktop entry velmora.desktop under $XDG_DATA_HOME, and
// the default application of the type in $XDG_CONFIG_HOME/mimeapps.list.
class FileAssociation {
public:
    static inline const QString MimeType = QStringLiteral("application/x-velmora-connection");
    static inline const QString DesktopEntry = QStringLiteral("velmora.desktop");

    // Folders as given; the default constructor takes the user's XDG folders.
    FileAssociation();
    FileAssociation(QString dataHome, QString configHome);

    // True when the default application of the type is velmora.desktop.
    bool isAssociated() const;
    // Writes the MIME type, the desktop entry (Exec: program followed by " %f") and the default.
    // False when one of the files could not be written.
    bool associate(const QString& programPath) const;

    QString mimeAppsPath() const;
    QString desktopEntryPath() const;
    QString mimePackagePath() const;

private:
    QString m_dataHome;
    QString m_configHome;
};

}  // namespace velmora
