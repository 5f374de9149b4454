#include "session/modem/ModemList.h"

#include "base/IniFile.h"
#include "session/modem/ModemResults.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace velmora {

namespace {

// Sections are read from [Modem1] on until one has no device; a bound against a damaged file.
constexpr int kMaxModems = 100;

const QString kLastSection = QStringLiteral("Last");

QString deviceKey(const QString& device) {
    return device.contains(QLatin1Char('/')) ? QDir::cleanPath(device)
                                             : QStringLiteral("/dev/") + device;
}

}  // namespace

QString modemListPath(const QString& dataFolder) {
    return QDir(dataFolder).filePath(QStringLiteral("modems.ini"));
}

QList<ModemEntry> usbModems(const QList<SerialPortChoice>& systemPorts) {
    QList<ModemEntry> modems;
    for (const SerialPortChoice& port : systemPorts) {
        if (!port.name.startsWith(QStringLiteral("ttyACM"))) {
            continue;
        }
        ModemEntry modem;
        const QString description =
            port.description.trimmed().isEmpty() ? QStringLiteral("USB modem") : port.description;
        modem.name = QStringLiteral("%1 (%2)").arg(description.trimmed(), port.name);
        modem.device = port.name;
        modems.append(modem);
    }
    return modems;
}

std::optional<ModemEntry> findModem(const QList<ModemEntry>& modems, const QString& name) {
    for (const ModemEntry& modem : modems) {
        if (modem.name.compare(name, Qt::CaseInsensitive) == 0) {
            return modem;
        }
    }
    return std::nullopt;
}

HRESULT readModemList(const QString& dataFolder, const QList<SerialPortChoice>& systemPorts,
                      QList<ModemEntry>& modems, QString& error) {
    modems.clear();
    const QString path = modemListPath(dataFolder);
    const QFileInfo info(path);
    if (info.exists()) {
        QFile file(path);
        if (info.isDir() || info.size() > IniFile::MaximumSize || !file.open(QIODevice::ReadOnly)) {
            error = QStringLiteral("The modem list %1 cannot be read: %2")
                        .arg(path, info.isDir() ? QStringLiteral("it is a folder")
                                   : info.size() > IniFile::MaximumSize
                                       ? QStringLiteral("it is too large")
                                       : file.errorString());
            return MODEMERR_LISTUNREADABLE;
        }
        const IniFile ini = IniFile::fromBytes(file.readAll());
        for (int i = 1; i <= kMaxModems; ++i) {
            const QString section = QStringLiteral("Modem%1").arg(i);
            const QString device = ini.stringValue(section, QStringLiteral("Device"), {});
            if (device.isEmpty()) {
                break;
            }
            ModemEntry modem;
            modem.device = device;
            modem.name = ini.stringValue(section, QStringLiteral("Name"), device);
            modem.initString = ini.stringValue(section, QStringLiteral("Init"), {}).toLatin1();
            modem.pulseDial = ini.stringValue(section, QStringLiteral("Dial"), {})
                                  .compare(QStringLiteral("Pulse"), Qt::CaseInsensitive) == 0;
            modem.baud = ini.intValue(section, QStringLiteral("Baud"), modem.baud);
            modem.flow = flowControlFromName(ini.stringValue(section, QStringLiteral("Flow"), {}))
                             .value_or(FlowControl::None);
            // The first of two modems with one name is the one the name selects.
            if (!findModem(modems, modem.name)) {
                modems.append(modem);
            }
        }
    }
    for (const ModemEntry& usb : usbModems(systemPorts)) {
        const bool configured = std::any_of(modems.begin(), modems.end(), [&](const auto& modem) {
            return deviceKey(modem.device) == deviceKey(usb.device);
        });
        if (!configured && !findModem(modems, usb.name)) {
            modems.append(usb);
        }
    }
    return DP_OK;
}

ModemChoice readLastModemChoice(const QString& dataFolder) {
    const IniFile ini = IniFile::load(modemListPath(dataFolder));
    return {ini.stringValue(kLastSection, QStringLiteral("Modem"), {}),
            ini.stringValue(kLastSection, QStringLiteral("Phone"), {})};
}

bool writeLastModemChoice(const QString& dataFolder, const ModemChoice& choice) {
    const QString path = modemListPath(dataFolder);
    IniFile ini = IniFile::load(path);
    ini.setValue(kLastSection, QStringLiteral("Modem"), choice.modem);
    ini.setValue(kLastSection, QStringLiteral("Phone"), choice.phone);
    return ini.save(path);
}

}  // namespace velmora
