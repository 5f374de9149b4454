#pragma once

#include "session/AutoResetEvent.h"
#include "session/Transport.h"
#include "session/service/MemoryCable.h"
#include "session/service/SessionService.h"

#include <QByteArray>
#include <QList>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

namespace velmora::test {

inline const Guid kApplication = *Guid::fromString("{A2196E45-287F-4F8F-987A-382C87886EED}");
inline const Guid kOtherApplication = *Guid::fromString("{0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0}");

// Turns the main thread's event loop until the condition holds or a generous time has passed;
// true when it held. For conditions that events delivered to the main thread make true.
bool eventsUntil(const std::function<bool()>& condition);

struct Received {
    DPID from = 0;
    DPID to = 0;
    QByteArray data;
};

// One side of a session, driven only through the service's interfaces: its own SessionService
// with the given providers, a transport bound by a compound address, its player and event.
class ServicePeer {
public:
    ServicePeer(QList<ProviderEntry> providers, const Guid& provider);

    IDirectPlay4& dp() { return *m_dp; }
    DPID id() const { return m_id; }
    AutoResetEvent& event() { return *m_event; }

    HRESULT host(const QString& sessionName, std::uint32_t maxPlayers = 0,
                 const Guid& application = kApplication,
                 std::uint32_t flags = DPSESSION_KEEPALIVE | DPSESSION_MIGRATEHOST);
    HRESULT enumerate(QList<DPSESSIONDESC2>& sessions, std::uint32_t timeoutMs = 0,
                      const Guid& application = kApplication);
    // Enumerates and joins the first session found.
    HRESULT join();
    HRESULT createPlayer(const QString& name);
    // Leaves as the session component does: the player first, then the session.
    void leave();

    // The next queued message, with the buffer-too-small protocol; nullopt when none is queued.
    std::optional<Received> tryReceive();
    // Waits for the next message on the player's event.
    Received receive();
    // The remote players, as EnumPlayers reports them.
    QList<std::pair<DPID, QString>> remotePlayers();

private:
    SessionService m_service;
    std::unique_ptr<IDirectPlay4> m_dp;
    std::shared_ptr<AutoResetEvent> m_event = std::make_shared<AutoResetEvent>();
    DPID m_id = 0;
    QByteArray m_buffer;
};

// A host on side A and a caller on side B of one memory cable, both with a player.
struct JoinedPair {
    explicit JoinedPair(std::size_t queueBytes = MemoryCable::kDefaultQueueBytes);

    MemoryCable cable;
    ServicePeer host;
    ServicePeer caller;
};

}  // namespace velmora::test
