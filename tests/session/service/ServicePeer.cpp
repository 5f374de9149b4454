#include "ServicePeer.h"

#include "session/SystemMessages.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QTimer>

#include <gtest/gtest.h>

namespace velmora::test {

bool eventsUntil(const std::function<bool()>& condition) {
    const QDeadlineTimer deadline(std::chrono::seconds(60));
    QTimer limit;
    limit.start(std::chrono::seconds(60));  // an event at the deadline, to end the last wait
    while (!condition()) {
        if (deadline.hasExpired()) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return true;
}

ServicePeer::ServicePeer(QList<ProviderEntry> providers, const Guid& provider)
    : m_service(std::move(providers)) {
    const auto lobby = m_service.DirectPlayLobbyCreate();
    const DPCOMPOUNDADDRESSELEMENT element{guids::AddressServiceProvider, 16,
                                           provider.bytes.data()};
    std::uint32_t size = 0;
    EXPECT_EQ(lobby->CreateCompoundAddress(&element, 1, nullptr, &size), DPERR_BUFFERTOOSMALL);
    QByteArray address(static_cast<qsizetype>(size), '\0');
    EXPECT_EQ(lobby->CreateCompoundAddress(&element, 1, address.data(), &size), DP_OK);
    m_dp = m_service.CreateTransport();
    EXPECT_EQ(m_dp->InitializeConnection(address.constData(), 0), DP_OK);
}

HRESULT ServicePeer::host(const QString& sessionName, std::uint32_t maxPlayers,
                          const Guid& application, std::uint32_t flags) {
    DPSESSIONDESC2 desc;
    desc.dwSize = 80;
    desc.dwFlags = flags;
    desc.guidApplication = application;
    desc.dwMaxPlayers = maxPlayers;
    desc.sessionName = sessionName;
    return m_dp->Open(desc, DPOPEN_CREATE);
}

HRESULT ServicePeer::enumerate(QList<DPSESSIONDESC2>& sessions, std::uint32_t timeoutMs,
                               const Guid& application) {
    sessions.clear();
    DPSESSIONDESC2 desc;
    desc.dwSize = 80;
    desc.guidApplication = application;
    int timedOutCalls = 0;
    const HRESULT result = m_dp->EnumSessions(
        desc, timeoutMs,
        [&](const DPSESSIONDESC2* session, std::uint32_t flags) {
            if ((flags & DPESC_TIMEDOUT) != 0) {
                EXPECT_EQ(session, nullptr);
                ++timedOutCalls;
                return false;
            }
            EXPECT_EQ(timedOutCalls, 0) << "a session reported after the time-out call";
            sessions.append(*session);
            return true;
        },
        DPENUMSESSIONS_AVAILABLE);
    if (result == DP_OK) {
        EXPECT_EQ(timedOutCalls, 1);
    }
    return result;
}

HRESULT ServicePeer::join() {
    QList<DPSESSIONDESC2> sessions;
    const HRESULT found = enumerate(sessions);
    if (found != DP_OK) {
        return found;
    }
    if (sessions.isEmpty()) {
        return DPERR_NOSESSIONS;
    }
    DPSESSIONDESC2 desc;
    desc.dwSize = 80;
    desc.guidInstance = sessions.first().guidInstance;
    desc.guidApplication = kApplication;
    return m_dp->Open(desc, DPOPEN_JOIN);
}

HRESULT ServicePeer::createPlayer(const QString& name) {
    return m_dp->CreatePlayer(&m_id, DPNAME{true, name}, m_event, 0);
}

void ServicePeer::leave() {
    EXPECT_EQ(m_dp->DestroyPlayer(m_id), DP_OK);
    EXPECT_EQ(m_dp->Close(), DP_OK);
}

std::optional<Received> ServicePeer::tryReceive() {
    Received received;
    auto size = static_cast<std::uint32_t>(m_buffer.size());
    HRESULT result = m_dp->Receive(&received.from, &received.to, DPRECEIVE_ALL,
                                   m_buffer.isEmpty() ? nullptr : m_buffer.data(), &size);
    if (result == DPERR_BUFFERTOOSMALL) {
        m_buffer.resize(static_cast<qsizetype>(size));
        result = m_dp->Receive(&received.from, &received.to, DPRECEIVE_ALL, m_buffer.data(), &size);
    }
    if (result != DP_OK) {
        EXPECT_EQ(result, DPERR_NOMESSAGES);
        return std::nullopt;
    }
    received.data = m_buffer.left(static_cast<qsizetype>(size));
    return received;
}

Received ServicePeer::receive() {
    for (;;) {
        if (std::optional<Received> received = tryReceive()) {
            return *received;
        }
        m_event->wait();
    }
}

QList<std::pair<DPID, QString>> ServicePeer::remotePlayers() {
    QList<std::pair<DPID, QString>> players;
    EXPECT_EQ(m_dp->EnumPlayers(
                  [&players](DPID id, const DPNAME& name) {
                      players.append({id, name.shortName});
                      return true;
                  },
                  DPENUMPLAYERS_REMOTE),
              DP_OK);
    return players;
}

JoinedPair::JoinedPair(std::size_t queueBytes)
    : cable(queueBytes),
      host({cable.providerEntry(MemoryCable::Side::A)}, guids::ServiceProviderMemory),
      caller({cable.providerEntry(MemoryCable::Side::B)}, guids::ServiceProviderMemory) {
    EXPECT_EQ(host.host(QStringLiteral("VelmoraSession")), DP_OK);
    EXPECT_EQ(host.createPlayer(QStringLiteral("Anna")), DP_OK);
    EXPECT_EQ(caller.join(), DP_OK);
    EXPECT_EQ(caller.createPlayer(QStringLiteral("Bob")), DP_OK);
    // The host learns of the caller's player by its notice.
    const Received created = host.receive();
    EXPECT_EQ(created.from, DPID_SYSMSG);
    EXPECT_EQ(systemMessageType(created.data), DPSYS_CREATEPLAYERORGROUP);
}

}  // namespace velmora::test
