#include "session/ports/SerialPortList.h"

#include <QDir>
#include <QFileInfo>
#include <QSerialPortInfo>

namespace velmora {

namespace {

QString describe(const QSerialPortInfo& info, const QString& device) {
    QString text = info.description();
    if (!info.manufacturer().isEmpty() && !text.contains(info.manufacturer())) {
        text += QStringLiteral(" (%1)").arg(info.manufacturer());
    }
    if (text.isEmpty() && device.startsWith(QStringLiteral("/dev/pts/"))) {
        text = QStringLiteral("pseudo-terminal");
    }
    return text.trimmed();
}

}  // namespace

std::vector<SerialPortEntry> listSerialPorts(const QStringList& devices,
                                             const QString& byIdFolder) {
    QStringList paths = devices;
    if (paths.isEmpty()) {
        for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
            paths.append(info.systemLocation());
        }
    }
    const QDir byId(byIdFolder);
    const QStringList links = byId.entryList(QDir::System | QDir::Files | QDir::NoDotAndDotDot);
    std::vector<SerialPortEntry> entries;
    for (const QString& path : paths) {
        const QString canonical = QFileInfo(path).canonicalFilePath();
        const QString device = canonical.isEmpty() ? path : canonical;
        SerialPortEntry entry{
            device, describe(QSerialPortInfo(device), device), {}, diagnosePort(device)};
        for (const QString& link : links) {
            if (QFileInfo(byId.filePath(link)).canonicalFilePath() == device) {
                entry.stableNames.append(byId.filePath(link));
            }
        }
        entries.push_back(std::move(entry));
    }
    return entries;
}

}  // namespace velmora
