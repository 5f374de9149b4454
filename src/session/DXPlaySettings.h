#pragma once

#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>

namespace velmora {

class IDirectPlaySystem;

// The modem settings of the session component.
class TDXPlayModemSetting {
public:
    explicit TDXPlayModemSetting(IDirectPlaySystem& system) : m_system(system) {}

    bool Enabled = false;
    QString PhoneNumber;  // empty when hosting
    QString ModemName;    // one of ModemNames

    // The installed modems, asked of the modem provider on first use and kept; after a failed
    // read the next read asks again. Raises EDXPlayError.
    const QStringList& ModemNames();

    // Copies Enabled, PhoneNumber and ModemName.
    void Assign(const TDXPlayModemSetting& other);

private:
    IDirectPlaySystem& m_system;
    std::optional<QStringList> m_modemNames;
};

struct TDXPlayTCPIPSetting {
    bool Enabled = false;
    QString HostName;
    std::uint16_t Port = 0;  // 0 = none
};

}  // namespace velmora
