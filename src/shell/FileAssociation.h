#pragma once

#include <QString>
#include <QStringList>

#include <functional>

namespace velmora {

// The user's and the system's data and configuration folders that an association reads and
// writes (the XDG variables).
struct XdgFolders {
    QString dataHome;
    QStringList dataDirs;  // the system's data folders, most important first
    QString configHome;
    QStringList configDirs;
    QStringList desktops;  // the names in $XDG_CURRENT_DESKTOP, in lower case

    // The folders from the environment; an unset variable takes the usual default
    // (~/.local/share, /usr/local/share:/usr/share, ~/.config, /etc/xdg).
    static XdgFolders fromEnvironment();
};

// The association of *.vmc files with the program, the freedesktop way: the MIME type
// application/x-velmora-connection, the desktop entry velmora.desktop under $XDG_DATA_HOME, and
// the default application of the type in $XDG_CONFIG_HOME/mimeapps.list.
class FileAssociation {
public:
    static inline const QString MimeType = QStringLiteral("application/x-velmora-connection");
    static inline const QString DesktopEntry = QStringLiteral("velmora.desktop");

    // The user's XDG folders from the environment.
    FileAssociation();
    // Only these two home folders, no system folders.
    FileAssociation(QString dataHome, QString configHome);
    explicit FileAssociation(XdgFolders folders);

    // True when the desktop would open a *.vmc file with velmora.desktop: the MIME database
    // gives the file that type, and the type's default application is that entry.
    bool isAssociated() const;
    // Writes the MIME type, the desktop entry (Exec: the program, quoted where it must be,
    // followed by " %f") and the default, then starts the freedesktop tools, where they are
    // installed, that update the MIME and desktop databases; `updated` learns later, on this
    // thread, whether they did. False when a file could not be written (no tool runs then).
    bool associate(const QString& programPath, std::function<void(bool)> updated = {}) const;

    // The MIME type that the MIME database gives a file of this name, or an empty string.
    QString mimeTypeOfFileName(const QString& fileName) const;
    // The desktop file ID that the desktop opens the type with, or an empty string: the first
    // installed default of the mimeapps.list files (desktop-specific ones first), else the
    // first installed entry that takes the type: the order in which desktops look it up.
    QString defaultApplication(const QString& mimeType) const;

    QString mimeAppsPath() const;
    QString desktopEntryPath() const;
    QString mimePackagePath() const;

    // The program path as the first word of a desktop entry's Exec value.
    static QString execProgram(const QString& programPath);

private:
    XdgFolders m_folders;
};

}  // namespace velmora
