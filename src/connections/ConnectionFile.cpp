#include "connections/ConnectionFile.h"

#include "base/IniFile.h"

#include <limits>

namespace velmora::ConnectionFile {

QString withExtension(const QString& fileName) {
    if (fileName.contains(Extension, Qt::CaseSensitive)) {
        return fileName;
    }
    return fileName + Extension;
}

int readInteger(const QString& text) {
    QString digits = text.trimmed();
    bool negative = false;
    if (digits.startsWith(u'-')) {
        negative = true;
        digits.remove(0, 1);
    }
    int base = 10;
    if (digits.startsWith(QStringLiteral("0x")) || digits.startsWith(QStringLiteral("0X"))) {
        base = 16;
        digits.remove(0, 2);
    } else if (digits.startsWith(u'$')) {
        base = 16;
        digits.remove(0, 1);
    }
    // QString::toLongLong accepts a sign and blanks of its own; only plain digits are numbers.
    if (digits.isEmpty() || digits.front() == u'+' || digits.front() == u'-' ||
        digits.front().isSpace()) {
        return 0;
    }
    bool ok = false;
    const qlonglong value = digits.toLongLong(&ok, base);
    if (!ok) {
        return 0;
    }
    const qlonglong signedValue = negative ? -value : value;
    if (signedValue < std::numeric_limits<int>::min() ||
        signedValue > std::numeric_limits<int>::max()) {
        return 0;
    }
    return static_cast<int>(signedValue);
}

ConnectionSettings read(const QString& path) {
    const IniFile ini = IniFile::load(path);
    const auto integer = [&ini](const QString& key) {
        return readInteger(ini.stringValue(Section, key, QString()));
    };
    ConnectionSettings settings;
    settings.Provider = integer(QStringLiteral("Provider"));
    settings.SessionName = ini.stringValue(Section, QStringLiteral("SessionName"), QString());
    settings.ModemName = ini.stringValue(Section, QStringLiteral("ModemName"), QString());
    settings.PhoneNumber = ini.stringValue(Section, QStringLiteral("PhoneNumber"), QString());
    settings.IsHost = integer(QStringLiteral("IsHost"));
    settings.HostName = ini.stringValue(Section, QStringLiteral("HostName"), QString());
    const int port = integer(QStringLiteral("Port"));
    settings.Port = port > 0 && port <= 65535 ? port : 0;
    return settings;
}

bool write(const QString& path, const ConnectionSettings& settings) {
    IniFile ini = IniFile::load(path);
    if (settings.Provider) {
        ini.setValue(Section, QStringLiteral("Provider"), *settings.Provider);
    }
    ini.setValue(Section, QStringLiteral("SessionName"), settings.SessionName);
    ini.setValue(Section, QStringLiteral("ModemName"), settings.ModemName);
    ini.setValue(Section, QStringLiteral("PhoneNumber"), settings.PhoneNumber);
    ini.setValue(Section, QStringLiteral("IsHost"), settings.IsHost);
    if (settings.Provider == NetworkProviderIndex) {
        ini.setValue(Section, QStringLiteral("HostName"), settings.HostName);
        ini.setValue(Section, QStringLiteral("Port"), settings.Port);
    }
    return ini.save(path);
}

}  // namespace velmora::ConnectionFile
