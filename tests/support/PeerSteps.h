#pragma once

// The peer's connect sequence run to its end, for tests that need a connected peer.

#include "peer/Peer.h"
#include "session/ServiceProvider.h"
#include "support/TestEnvironment.h"

#include <optional>

namespace velmora::test {

// A provider entry listed as the serial cable's, which the connect sequence chooses for a
// cable: a memory cable then stands in for the serial one.
inline ProviderEntry asSerialCable(ProviderEntry entry) {
    entry.guid = guids::ServiceProviderSerial;
    return entry;
}

// Hosts (calling false) or joins over the cable and runs the event loop until the attempt ends.
inline std::optional<ConnectResult> connectPeer(Peer& peer, bool calling, const QString& playerName,
                                                const QString& sessionName = QStringLiteral("Chat")) {
    std::optional<ConnectResult> result;
    const QMetaObject::Connection ended = QObject::connect(
        &peer, &Peer::connectFinished, [&result](const ConnectResult& r) { result = r; });
    ConnectRequest request;
    request.calling = calling;
    request.sessionName = sessionName;
    request.playerName = playerName;
    peer.connectTo(request);
    pumpUntil([&] { return result.has_value(); });
    QObject::disconnect(ended);
    return result;
}

// Whether the attempt ended with a session.
inline bool connected(const std::optional<ConnectResult>& result) {
    return result && result->outcome == ConnectOutcome::Connected;
}

}  // namespace velmora::test
