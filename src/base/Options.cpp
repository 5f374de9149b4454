#include "base/Options.h"

#include "base/IniFile.h"

#include <QDir>

#include <algorithm>
#include <cctype>

namespace velmora {

namespace {

const QString Common = QStringLiteral("Common");
const QString Url = QStringLiteral("URL");
const QString Desktop = QStringLiteral("Desktop");
const QString Window = QStringLiteral("Window");

// Hexadecimal digits; anything else gives nothing, so that a damaged value is not restored.
QByteArray bytesFromHex(const QString& text) {
    const QByteArray digits = text.toLatin1();
    const bool hex =
        digits.size() % 2 == 0 && std::all_of(digits.begin(), digits.end(), [](char c) {
            return std::isxdigit(static_cast<unsigned char>(c)) != 0;
        });
    return hex ? QByteArray::fromHex(digits) : QByteArray();
}

}  // namespace

Options Options::defaults(const QString& dataFolder) {
    Options options;
    options.Path = QDir(dataFolder).filePath(QStringLiteral("Incoming")) + QDir::separator();
    return options;
}

Options Options::read(const IniFile& ini, const QString& dataFolder) {
    Options o = defaults(dataFolder);
    o.CheckExtension = ini.intValue(Common, "CheckExtension", o.CheckExtension);
    o.AskExit = ini.intValue(Common, "AskExit", o.AskExit);
    o.Path = ini.stringValue(Common, "Path", o.Path);
    if (o.Path.isEmpty()) {
        o.Path = defaults(dataFolder).Path;
    }
    if (!o.Path.endsWith(QDir::separator())) {
        o.Path += QDir::separator();
    }
    o.AskStop = ini.intValue(Common, "AskStop", o.AskStop);
    o.InternalLoop = ini.intValue(Common, "InternalLoop", o.InternalLoop);
    o.View = ini.intValue(Common, "View", o.View);
    o.c_Connections1 = ini.intValue(Common, "c_Connections1", o.c_Connections1);
    o.c_Editor1 = ini.intValue(Common, "c_Editor1", o.c_Editor1);
    o.TransfersList = ini.intValue(Common, "TransfersList", o.TransfersList);
    o.UserName = ini.stringValue(Common, "UserName", o.UserName);
    o.Mode = ini.intValue(Common, "Mode", o.Mode);
    o.Speed = ini.intValue(Common, "Speed", o.Speed);
    o.Showloader = ini.intValue(Common, "Showloader", o.Showloader);
    o.Reconnect = ini.intValue(Common, "Reconnect", o.Reconnect);
    o.Notify = ini.intValue(Desktop, "Notify", o.Notify);
    o.SendFolder = ini.stringValue(Desktop, "SendFolder", o.SendFolder);
    o.SupportEmail = ini.stringValue(Url, "SupportEmail", o.SupportEmail);
    o.CommonEmail = ini.stringValue(Url, "CommonEmail", o.CommonEmail);
    o.SiteURL = ini.stringValue(Url, "SiteURL", o.SiteURL);
    return o;
}

void Options::write(IniFile& ini) const {
    ini.setValue(Common, "CheckExtension", CheckExtension);
    ini.setValue(Common, "AskExit", AskExit);
    ini.setValue(Common, "AskStop", AskStop);
    ini.setValue(Common, "Path", Path);
    ini.setValue(Common, "UserName", UserName);
    ini.setValue(Common, "InternalLoop", InternalLoop);
    ini.setValue(Common, "View", View);
    ini.setValue(Common, "c_Help", 0);
    ini.setValue(Common, "c_Connections1", c_Connections1);
    ini.setValue(Common, "c_Editor1", c_Editor1);
    ini.setValue(Common, "c_View2", 0);
    ini.setValue(Common, "c_ransfer1", 0);
    ini.setValue(Common, "TransfersList", TransfersList);
    ini.setValue(Common, "UsersList", 0);
    ini.setValue(Common, "Mode", Mode);
    ini.setValue(Common, "Speed", Speed);
    ini.setValue(Common, "Showloader", Showloader);
    ini.setValue(Common, "Reconnect", Reconnect);
    ini.setValue(Desktop, "Notify", Notify);
    ini.setValue(Desktop, "SendFolder", SendFolder);
}

WindowPlacement WindowPlacement::read(const IniFile& ini) {
    return {bytesFromHex(ini.stringValue(Window, "Geometry", QString())),
            bytesFromHex(ini.stringValue(Window, "Splitter", QString()))};
}

void WindowPlacement::write(IniFile& ini) const {
    ini.setValue(Window, "Geometry", QString::fromLatin1(geometry.toHex()));
    ini.setValue(Window, "Splitter", QString::fromLatin1(splitter.toHex()));
}

OptionsFile::OptionsFile(QString dataFolder) : m_dataFolder(std::move(dataFolder)) {}

QString OptionsFile::path() const {
    return QDir(m_dataFolder).filePath(QStringLiteral("options.ini"));
}

Options OptionsFile::load() const {
    return Options::read(IniFile::load(path()), m_dataFolder);
}

bool OptionsFile::save(const Options& options) const {
    IniFile ini = IniFile::load(path());
    options.write(ini);
    return ini.save(path());
}

WindowPlacement OptionsFile::loadPlacement() const {
    return WindowPlacement::read(IniFile::load(path()));
}

bool OptionsFile::savePlacement(const WindowPlacement& placement) const {
    IniFile ini = IniFile::load(path());
    placement.write(ini);
    return ini.save(path());
}

}  // namespace velmora
