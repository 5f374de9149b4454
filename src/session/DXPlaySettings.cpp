#include "session/DXPlaySettings.h"

#include "session/DXPlayError.h"
#include "session/Transport.h"
#include "session/Windows1252.h"

#include <QByteArray>

namespace velmora {

namespace {

[[noreturn]] void raiseCannotInitialize() {
    throw EDXPlayError(
        QStringLiteral("%1 cannot be initialized").arg(QStringLiteral("DirectPlay")));
}

[[noreturn]] void raiseModemList() {
    throw EDXPlayError(QStringLiteral("Modem list cannot be acquired"));
}

QStringList readModemNames(IDirectPlaySystem& system) {
    const auto lobby = system.DirectPlayLobbyCreate();
    if (!lobby) {
        raiseCannotInitialize();
    }
    const auto modem = system.DirectPlayCreate(guids::ServiceProviderModem);
    if (!modem) {
        raiseCannotInitialize();
    }
    std::uint32_t size = 0;
    if (modem->GetPlayerAddress(0, nullptr, &size) != DPERR_BUFFERTOOSMALL) {
        raiseModemList();
    }
    QByteArray address(static_cast<qsizetype>(size), '\0');
    if (modem->GetPlayerAddress(0, address.data(), &size) != DP_OK) {
        raiseModemList();
    }
    QStringList names;
    const HRESULT walked = lobby->EnumAddress(
        [&names](const Guid& type, std::uint32_t dataSize, const void* data) {
            if (type == guids::AddressModem) {
                // Zero-terminated text; the terminator is looked for within the element only.
                const QByteArray bytes(static_cast<const char*>(data),
                                       static_cast<qsizetype>(dataSize));
                names.append(fromWindows1252Field(bytes));
            }
            return true;
        },
        address.constData(), static_cast<std::uint32_t>(address.size()));
    if (walked != DP_OK) {
        raiseModemList();
    }
    return names;
}

}  // namespace

const QStringList& TDXPlayModemSetting::ModemNames() {
    if (!m_modemNames) {
        m_modemNames = readModemNames(m_system);
    }
    return *m_modemNames;
}

void TDXPlayModemSetting::Assign(const TDXPlayModemSetting& other) {
    Enabled = other.Enabled;
    PhoneNumber = other.PhoneNumber;
    ModemName = other.ModemName;
}

}  // namespace velmora
