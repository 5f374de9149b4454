#pragma once

#include <QByteArray>
#include <QString>

namespace velmora {

class IniFile;

// The option values kept in options.ini. Integer options keep whatever number the file holds;
// the users of each decide what an unexpected value means.
struct Options {
    int CheckExtension = 1;
    int AskExit = 1;
    QString Path;
    int AskStop = 1;
    int InternalLoop = 0;
    int View = 1;
    int c_Connections1 = 1;
    int c_Editor1 = 1;
    int TransfersList = 1;
    QString UserName;
    int Mode = 1;
    int Speed = 4;
    int Showloader = 1;
    int Reconnect = 1;  // a lost line is tried again and its transfers go on
    // [Desktop]: 1: a chat line or a file that arrives while the window is not active is told by
    // a desktop notification and the taskbar's attention hint.
    int Notify = 1;
    // [Desktop]: the folder the Send file dialog last chose from; empty before the first choice.
    QString SendFolder;
    QString SupportEmail = QStringLiteral("support@oskvale.example");
    QString CommonEmail = QStringLiteral("info@oskvale.example");
    QString SiteURL = QStringLiteral("https://www.oskvale.example/velmora/");

    // The defaults, with Path in the Incoming folder of the data folder.
    static Options defaults(const QString& dataFolder);

    // Reads every key in order; a key that is absent or does not read takes its default. Path is
    // made to end with the separator; an empty Path becomes the default folder.
    static Options read(const IniFile& ini, const QString& dataFolder);

    // Writes the [Common] keys in their order, the four unused keys as 0, then the [Desktop]
    // keys. Other content is kept.
    void write(IniFile& ini) const;
};

// Where the main window was when the program last ended, in the [Window] section of options.ini,
// which the option keys leave alone: the window's geometry (QWidget::saveGeometry) and its
// splitter's state (QSplitter::saveState), each as hexadecimal digits. Empty when not known.
struct WindowPlacement {
    QByteArray geometry;
    QByteArray splitter;

    static WindowPlacement read(const IniFile& ini);
    void write(IniFile& ini) const;
};

// options.ini in the data folder.
class OptionsFile {
public:
    explicit OptionsFile(QString dataFolder);

    QString path() const;
    Options load() const;
    // Rewrites the keys of the options into the file, keeping the rest. False when not written.
    bool save(const Options& options) const;
    WindowPlacement loadPlacement() const;
    // Rewrites the [Window] section, keeping the rest. False when not written.
    bool savePlacement(const WindowPlacement& placement) const;

private:
    QString m_dataFolder;
};

}  // namespace velmora
