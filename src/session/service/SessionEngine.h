#pragma once

#include "session/Line.h"
#include "session/Transport.h"
#include "session/service/SessionWire.h"

#include <QByteArray>
#include <QList>

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <vector>

namespace velmora {

// The session logic of one two-party session over one line, without I/O, clock, threads or
// randomness: its driver (DirectPlayObject) tells it what the line reports and what the
// application asks, with the time in steady milliseconds, and carries out what it gives back:
// messages for the line (takeOutgoing), events to signal (takeWakeups) and whether to keep the
// line for the next caller (wantsLineKept). Requests to the other side carry a deadline; the
// driver calls onTimer when nextDeadlineMs has come.
//
// The host keeps the session and alone hands out player IDs; the caller asks the host for
// sessions, joins one and asks the host for its player's ID. On a line there is one player on
// each side.
class SessionEngine {
public:
    enum class Role { None, Host, Caller };

    // --- the line ---------------------------------------------------------------------------

    // A new line was started and waits for the other side.
    void lineStarted();
    void lineUp();
    void lineMessage(const QByteArray& bytes);
    void lineDown(LineDown reason);
    // The driver closed the line or let it go: no line any more.
    void lineGone();
    // The messages to send on the line, in order.
    std::vector<QByteArray> takeOutgoing();
    // The messages of takeOutgoing() are on the line: what waited for them happens now.
    void outgoingSent();
    // The host left a caller of a session that migrates: the driver asks the line to wait for
    // the next caller and answers with lineKept.
    bool wantsLineKept() const { return m_lineKeptWanted; }
    void lineKept(bool kept);
    // A line that refused or went down; the driver drops it before bringing up another.
    bool lineIsDead() const;

    // --- time -------------------------------------------------------------------------------

    std::optional<std::int64_t> nextDeadlineMs() const;
    void onTimer(std::int64_t nowMs);

    // --- the application's operations -------------------------------------------------------

    Role role() const { return m_role; }
    // Hosting a new session; the caller of this draws the instance GUID. Forgets any session.
    void host(const wire::Session& session);
    // Forgets the session and the line.
    void close();

    // Waiting for the hellos of a line: readyOutcome() is DP_OK once they agree,
    // DPERR_INCOMPATIBLEPEER when refused, DPERR_CONNECTIONLOST when the line went,
    // DPERR_NOCONNECTION once the deadline passed, nothing while still waiting.
    void awaitReady(std::int64_t deadlineMs);
    std::optional<HRESULT> readyOutcome() const;

    // Requests to the host; each returns a serial (0 when the line is not ready: then it is
    // answered already with its failure). answered() tells when the outcome can be taken.
    std::uint32_t requestSessions(const Guid& application, std::int64_t deadlineMs);
    std::uint32_t requestJoin(const Guid& instance, std::int64_t deadlineMs);
    std::uint32_t requestPlayer(const DPNAME& name, std::shared_ptr<AutoResetEvent> event,
                                std::int64_t deadlineMs);
    bool answered(std::uint32_t serial) const;
    // The sessions found; none when the time ran out.
    QList<wire::Session> takeSessions(std::uint32_t serial);
    HRESULT takeJoinResult(std::uint32_t serial);
    // The result and, on success, the new player's ID.
    std::pair<HRESULT, DPID> takePlayerResult(std::uint32_t serial);
    // The driver stops waiting (a cancel): a late answer is dropped.
    void forget(std::uint32_t serial);

    // The host's own player. DPERR_NOCONNECTION outside a session, DPERR_INVALIDPARAMS when
    // this side has its player already.
    HRESULT createHostPlayer(const DPNAME& name, std::shared_ptr<AutoResetEvent> event, DPID& id);
    HRESULT destroyLocalPlayer(DPID id);
    // Every player, or only those of the other side.
    std::vector<wire::Player> players(bool remoteOnly) const;

    // Checks a message of a local player and queues it for the local players it is addressed
    // to. DP_OK with toLine set when it goes over the line as well (the driver encodes and sends
    // it), else the result.
    HRESULT send(DPID from, DPID to, const void* data, std::uint32_t size, bool& toLine);
    // A DPSYS_SENDCOMPLETE notice for the sender of an asynchronous send.
    void sendCompleted(DPID from, QByteArray notice);
    // The next queued message, DirectPlay's way: DPERR_NOMESSAGES, or DPERR_BUFFERTOOSMALL with
    // the size needed and the message kept.
    HRESULT receive(DPID& from, DPID& to, void* data, std::uint32_t& size);
    // The events to signal, one entry per signal.
    std::vector<std::shared_ptr<AutoResetEvent>> takeWakeups();

private:
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
    enum class Kind { Sessions, Join, Player };
    struct Request {
        Request(Kind kind, std::int64_t deadlineMs) : kind(kind), deadlineMs(deadlineMs) {}

        Kind kind;
        std::int64_t deadlineMs;
        bool answered = false;
        HRESULT result = DP_OK;
        QList<wire::Session> sessions;
        DPNAME name;
        std::shared_ptr<AutoResetEvent> event;
        DPID id = 0;
    };

    void handle(const wire::Hello& m);
    void handle(const wire::Refuse& m);
    void handle(const wire::EnumRequest& m);
    void handle(const wire::EnumReply& m);
    void handle(const wire::JoinRequest& m);
    void handle(const wire::JoinReply& m);
    void handle(const wire::CreatePlayerRequest& m);
    void handle(const wire::CreatePlayerReply& m);
    void handle(const wire::PlayerCreated& m);
    void handle(const wire::PlayerDestroyed& m);
    void handle(const wire::Data& m);
    // Data held until the players it names are known, handled again once one is added.
    void replayEarlyData();

    // What belonged to the line before: nothing is owed on the next one.
    void resetLine(LinkState state);
    std::uint32_t startRequest(Request request, const wire::Message& message);
    Request* awaited(std::uint32_t serial, Kind kind);
    void answerAll(HRESULT result);
    void send(const wire::Message& message);
    bool peerPresent() const;
    bool hasLocalPlayer() const;
    bool hasRemotePlayer() const;
    Player* find(DPID id);
    bool idIsFree(DPID id);
    void addPlayer(Player player);
    DPID newId();
    void queue(DPID from, DPID to, QByteArray data);
    void wake(const std::shared_ptr<AutoResetEvent>& event, std::size_t times);
    void dropRemotePlayers();
    void loseSession();
    void resetSession();

    LinkState m_linkState = LinkState::None;
    Role m_role = Role::None;
    wire::Session m_session;
    bool m_peerJoined = false;     // hosting: the caller on the line has joined
    bool m_peerHasPlayer = false;  // hosting: and has its player
    bool m_lostNoticed = false;
    bool m_refusing = false;  // a refusal is on its way out
    bool m_lineKeptWanted = false;
    std::optional<std::int64_t> m_readyDeadlineMs;
    bool m_readyTimedOut = false;
    std::vector<QByteArray> m_outgoing;
    // Hosting: the notice of a caller's new player, queued once the reply with its ID is on the
    // line, so that nothing the application sends to the player can overtake that reply.
    std::vector<QByteArray> m_noticesAfterSent;
    std::vector<std::shared_ptr<AutoResetEvent>> m_wakeups;
    std::vector<Player> m_players;
    DPID m_highestId = 0;
    std::deque<Queued> m_queue;
    // Calling: data that came before our player's ID or the host's player (bounded).
    static constexpr std::size_t kMaxEarlyData = 256;
    std::vector<wire::Data> m_earlyData;
    std::uint32_t m_nextSerial = 1;
    std::map<std::uint32_t, Request> m_requests;
};

}  // namespace velmora
