#pragma once

#include "session/ServiceProvider.h"
#include "session/Transport.h"
#include "session/service/SessionWire.h"

#include <QList>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace velmora {

// The session object of the session service: one two-party session over one line of a service
// provider. The host keeps the session and hands out player IDs; the caller asks the host for
// sessions, joins one and asks the host for its player's ID. Everything the two sides say to each
// other is a message of session/service/SessionWire.h.
//
// The line's calls arrive on the line's thread; every operation may come from the UI thread and
// Send/SendEx from any thread as well. One mutex guards the state; nothing is called out while it
// is held except the signalling of a player's event.
class DirectPlayObject : public IDirectPlay4 {
public:
    // Not yet bound: InitializeConnection chooses among the providers.
    explicit DirectPlayObject(QList<ProviderEntry> providers);
    // Bound to a provider already.
    explicit DirectPlayObject(std::unique_ptr<ServiceProvider> provider);
    ~DirectPlayObject() override;

    DirectPlayObject(const DirectPlayObject&) = delete;
    DirectPlayObject& operator=(const DirectPlayObject&) = delete;

    HRESULT InitializeConnection(const void* address, std::uint32_t flags) override;
    HRESULT EnumSessions(const DPSESSIONDESC2& desc, std::uint32_t timeoutMs,
                         const EnumSessionsCallback& callback, std::uint32_t flags) override;
    HRESULT Open(const DPSESSIONDESC2& desc, std::uint32_t flags) override;
    HRESULT CreatePlayer(DPID* id, const DPNAME& name, std::shared_ptr<AutoResetEvent> event,
                         std::uint32_t flags) override;
    HRESULT EnumPlayers(const EnumPlayersCallback& callback, std::uint32_t flags) override;
    // Every flag value takes the next message of any player (DPRECEIVE_ALL).
    HRESULT Receive(DPID* from, DPID* to, std::uint32_t flags, void* data,
                    std::uint32_t* size) override;
    HRESULT Send(DPID from, DPID to, std::uint32_t flags, const void* data,
                 std::uint32_t size) override;
    // With DPSEND_ASYNC the message is sent as by Send and a DPSYS_SENDCOMPLETE notice follows.
    HRESULT SendEx(DPID from, DPID to, std::uint32_t flags, const void* data, std::uint32_t size,
                   std::uint32_t priority, std::uint32_t timeoutMs, void* context,
                   std::uint32_t* messageId) override;
    HRESULT DestroyPlayer(DPID id) override;
    HRESULT Close() override;
    HRESULT GetCaps(DPCAPS* caps, std::uint32_t flags) override;
    HRESULT GetPlayerAddress(DPID id, void* data, std::uint32_t* size) override;

    // The largest message Send takes.
    static constexpr std::uint32_t kMaxMessageSize = 16 * 1024 * 1024;

private:
    class Link;
    using Clock = std::chrono::steady_clock;

    enum class Role { None, Host, Caller };
    enum class LinkState {
        None,      // no line
        Waiting,   // started, the other side is not there
        Greeting,  // up, our hello sent, the other side's not yet read
        Ready,     // both hellos agree: session messages may flow
        Refused,   // the other side speaks another version
        Down,      // the line is gone
    };
    struct Player {
        DPID id = 0;
        DPNAME name;
        bool local = false;
        std::shared_ptr<AutoResetEvent> event;
    };
    struct Queued {
        DPID from = 0;
        DPID to = 0;  // 0: whichever local player there is
        QByteArray data;
    };
    struct PendingPlayer {
        DPNAME name;
        std::shared_ptr<AutoResetEvent> event;
        std::optional<HRESULT> result;
        DPID id = 0;
    };
    using Outgoing = std::vector<QByteArray>;

    // Called by a Link on its line's thread.
    void onLineUp(Link& link);
    void onLineMessage(Link& link, const QByteArray& bytes);
    void onLineDown(Link& link, LineDown reason);

    void handle(const wire::Hello& m, Outgoing& out);
    void handle(const wire::Refuse& m, Outgoing& out);
    void handle(const wire::EnumRequest& m, Outgoing& out);
    void handle(const wire::EnumReply& m, Outgoing& out);
    void handle(const wire::JoinRequest& m, Outgoing& out);
    void handle(const wire::JoinReply& m, Outgoing& out);
    void handle(const wire::CreatePlayerRequest& m, Outgoing& out);
    void handle(const wire::CreatePlayerReply& m, Outgoing& out);
    void handle(const wire::PlayerCreated& m, Outgoing& out);
    void handle(const wire::PlayerDestroyed& m, Outgoing& out);
    void handle(const wire::Data& m, Outgoing& out);

    HRESULT createSession(const DPSESSIONDESC2& desc);
    HRESULT joinSession(const DPSESSIONDESC2& desc);
    // Joining: brings up a line through the provider unless one is there.
    HRESULT connectIfNeeded();
    // Waits until the hellos are exchanged. DPERR_NOCONNECTION when the time is up first.
    HRESULT waitReady(Clock::time_point deadline);
    // Sends one request and waits until `answered` holds or the line goes; the mutex is held on
    // entry and on return.
    bool request(std::unique_lock<std::mutex>& lock, const wire::Message& message,
                 Clock::time_point deadline, const std::function<bool()>& answered);
    // Closes and drops the current line when it refused us or is gone.
    void dropDeadLine();
    HRESULT sendData(DPID from, DPID to, std::uint32_t flags, const void* data,
                     std::uint32_t size);

    // The helpers below run with the mutex held.
    std::shared_ptr<Link> installLocked(std::unique_ptr<Line> line);
    bool peerPresentLocked() const;
    Player* findLocked(DPID id);
    // Whether a player may take this ID: not the system's, and no other player's.
    bool idIsFreeLocked(DPID id);
    void addPlayerLocked(Player player);
    DPID newIdLocked();
    void queueLocked(DPID from, DPID to, QByteArray data);
    void signalLocked(const std::shared_ptr<AutoResetEvent>& event, std::size_t times) const;
    void dropRemotePlayersLocked();
    void resetSessionLocked();
    Clock::time_point replyDeadline() const;

    const QList<ProviderEntry> m_providers;
    std::unique_ptr<ServiceProvider> m_provider;

    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::shared_ptr<Link> m_link;
    std::vector<std::shared_ptr<Link>> m_retired;  // lines replaced from their own thread
    std::uint64_t m_generation = 0;
    LinkState m_linkState = LinkState::None;
    Role m_role = Role::None;
    wire::Session m_session;
    bool m_peerJoined = false;  // hosting: the caller on the line has joined
    bool m_lostNoticed = false;
    bool m_refusing = false;  // a refusal is being sent on the line's thread
    // Hosting: the notice of a caller's new player, told once the reply with its ID is on the
    // line, so that nothing the application sends to the player can overtake that reply.
    std::vector<QByteArray> m_noticesAfterReplies;
    std::vector<Player> m_players;
    DPID m_highestId = 0;
    std::deque<Queued> m_queue;
    std::uint32_t m_nextSerial = 1;
    std::optional<std::uint32_t> m_enumSerial;
    std::optional<QList<wire::Session>> m_enumReply;
    std::optional<std::uint32_t> m_joinSerial;
    std::optional<HRESULT> m_joinResult;
    std::map<std::uint32_t, PendingPlayer> m_pendingPlayers;
    std::uint32_t m_nextMessageId = 1;
};

}  // namespace velmora
