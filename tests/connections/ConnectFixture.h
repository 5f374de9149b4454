#pragma once

// A session component over the scripted fake service, with a modem list and sessions to find,
// shared by the tests of the connect steps, the status and the dialogs.

#include "session/FakeDirectPlay.h"

#include "peer/Peer.h"
#include "session/DXPlay.h"
#include "support/FixedTransferSettings.h"

#include <QByteArray>
#include <QStringList>

namespace velmora::test {

inline const QString ApplicationGuid = QStringLiteral("{5B1C7A10-3E0D-4A55-9A77-0B2C6E1D9F31}");

// A compound address that lists the given modems, as the modem provider answers for them.
inline QByteArray modemListAddress(const QStringList& modems) {
    QByteArray address;
    for (const QString& modem : modems) {
        const QByteArray data = modem.toLatin1() + '\0';
        const auto size = static_cast<std::uint32_t>(data.size());
        address += QByteArray(reinterpret_cast<const char*>(guids::AddressModem.bytes.data()), 16);
        address += QByteArray(reinterpret_cast<const char*>(&size), 4) + data;
    }
    return address;
}

// A peer over the fake service; `play` is its session component.
struct ConnectFixture {
    FakeSystem system;
    FixedTransferSettings settings;
    Peer peer{system, settings};
    TCustomDXPlay& play = peer.session();

    explicit ConnectFixture(const QStringList& modems = {"Internal Modem", "USB Modem"}) {
        // The dialogs also offer the network.
        system.providers.append({guids::ServiceProviderTcpIp, "Internet TCP/IP Connection"});
        play.setGUID(ApplicationGuid);
        system.script->playerAddress = modemListAddress(modems);
        system.script->remotePlayers.clear();
    }

    FakeScript& script() { return *system.script; }

    // Lets the other computer host sessions with these names.
    void hostElsewhere(const QStringList& names) {
        script().sessions.clear();
        int n = 1;
        for (const QString& name : names) {
            DPSESSIONDESC2 desc;
            desc.guidApplication = *Guid::fromString(ApplicationGuid);
            desc.guidInstance = *Guid::fromString(
                QStringLiteral("{%1-0000-0000-0000-000000000000}").arg(n++, 8, 10, QChar(u'0')));
            desc.sessionName = name;
            script().sessions.append(desc);
        }
        script().remotePlayers = {{2000, "Host"}};
    }
};

}  // namespace velmora::test
