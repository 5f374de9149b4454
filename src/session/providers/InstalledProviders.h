#pragma once

#include "session/ServiceProvider.h"
#include "session/link/SerialSettings.h"

#include <QList>
#include <QString>

#include <optional>

namespace velmora {

class ModemPrompts;
class NetworkPrompts;
class SerialPrompts;

// What the providers of this program are made with.
struct ProviderSetup {
    QString dataFolder;                      // where the providers keep their settings
    SerialPrompts* serialPrompts = nullptr;  // asks for the port; may be null with fixed settings
    std::optional<SerialSettings> serialSettings{};  // used without asking when given
    ModemPrompts* modemPrompts = nullptr;  // asks for the modem and number the address leaves out
    NetworkPrompts* networkPrompts = nullptr;  // asks for the passphrase when none is given
    std::optional<QString> passphrase{};       // of network lines, used without asking
};

inline const QString SerialProviderName = QStringLiteral("Serial Connection");
inline const QString ModemProviderName = QStringLiteral("Modem Connection");
inline const QString NetworkProviderName = QStringLiteral("Internet TCP/IP Connection");

// The service providers installed in this program, in the order they are listed.
QList<ProviderEntry> installedProviders(const ProviderSetup& setup);

}  // namespace velmora
