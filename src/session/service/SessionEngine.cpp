#include "session/service/SessionEngine.h"

#include "session/SystemMessages.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace velmora {

// --- the line ---------------------------------------------------------------------------------

void SessionEngine::lineStarted() {
    resetLine(LinkState::Waiting);
}

void SessionEngine::lineUp() {
    // A new peer: whoever was on the line before is gone, if that was not told yet.
    dropRemotePlayers();
    m_linkState = LinkState::Greeting;
    m_peerJoined = false;
    m_peerHasPlayer = false;
    send(wire::Hello{});
}

void SessionEngine::lineMessage(const QByteArray& bytes) {
    const auto message = wire::decode(bytes);
    if (!message) {
        return;  // another version's or a broken message: ignored
    }
    const bool greeting = std::holds_alternative<wire::Hello>(*message) ||
                          std::holds_alternative<wire::Refuse>(*message);
    if (m_refusing || (!greeting && m_linkState != LinkState::Ready)) {
        return;
    }
    std::visit([this](const auto& m) { handle(m); }, *message);
}

void SessionEngine::lineDown(LineDown reason) {
    if (reason == LineDown::PeerClosed) {
        dropRemotePlayers();
        m_peerJoined = false;
        m_peerHasPlayer = false;
        if (m_role == Role::Host) {
            m_linkState = LinkState::Waiting;  // a host's line waits for the next caller
        } else if (m_role == Role::Caller && (m_session.flags & DPSESSION_MIGRATEHOST) != 0) {
            m_linkState = LinkState::Down;
            m_lineKeptWanted = true;
        } else {
            m_linkState = LinkState::Down;
            loseSession();
        }
    } else if (m_role == Role::Host && reason == LineDown::Refused) {
        // A caller of another kind or version: the host's line is kept for the next caller
        // when it can be (see wantsLineKept).
        m_linkState = LinkState::Refused;
        m_lineKeptWanted = true;
    } else {
        m_linkState = reason == LineDown::Refused ? LinkState::Refused : LinkState::Down;
        loseSession();
    }
    answerAll(DPERR_CONNECTIONLOST);
}

void SessionEngine::lineGone() {
    resetLine(LinkState::None);
    answerAll(DPERR_CONNECTIONLOST);
}

std::vector<QByteArray> SessionEngine::takeOutgoing() {
    return std::exchange(m_outgoing, {});
}

void SessionEngine::outgoingSent() {
    for (QByteArray& notice : std::exchange(m_noticesAfterSent, {})) {
        queue(DPID_SYSMSG, 0, std::move(notice));
    }
    if (m_refusing) {
        // Refused only once the refusal is on its way, so that a caller waiting for the
        // greeting does not hang up before the other side can hear why.
        m_refusing = false;
        m_linkState = LinkState::Refused;
        answerAll(DPERR_CONNECTIONLOST);
    }
}

void SessionEngine::lineKept(bool kept) {
    m_lineKeptWanted = false;
    if (!kept) {
        loseSession();
        return;
    }
    m_linkState = LinkState::Waiting;
    if (m_role == Role::Caller) {
        m_role = Role::Host;
        queue(DPID_SYSMSG, 0, encodeHost());
    }
}

bool SessionEngine::lineIsDead() const {
    return m_linkState == LinkState::Refused || m_linkState == LinkState::Down;
}

// --- time -------------------------------------------------------------------------------------

std::optional<std::int64_t> SessionEngine::nextDeadlineMs() const {
    std::optional<std::int64_t> next;
    const auto consider = [&next](std::int64_t at) { next = next ? std::min(*next, at) : at; };
    if (m_readyDeadlineMs && !readyOutcome()) {
        consider(*m_readyDeadlineMs);
    }
    for (const auto& [serial, request] : m_requests) {
        if (!request.answered) {
            consider(request.deadlineMs);
        }
    }
    return next;
}

void SessionEngine::onTimer(std::int64_t nowMs) {
    if (m_readyDeadlineMs && nowMs >= *m_readyDeadlineMs) {
        m_readyTimedOut = true;
    }
    for (auto& [serial, request] : m_requests) {
        if (!request.answered && nowMs >= request.deadlineMs) {
            request.answered = true;
            request.result = DPERR_CONNECTIONLOST;
        }
    }
}

// --- operations -------------------------------------------------------------------------------

void SessionEngine::host(const wire::Session& session) {
    resetSession();
    m_role = Role::Host;
    m_session = session;
}

void SessionEngine::close() {
    lineGone();
    resetSession();
    m_role = Role::None;
    m_readyDeadlineMs.reset();
}

void SessionEngine::awaitReady(std::int64_t deadlineMs) {
    m_readyDeadlineMs = deadlineMs;
    m_readyTimedOut = false;
}

std::optional<HRESULT> SessionEngine::readyOutcome() const {
    switch (m_linkState) {
        case LinkState::Ready:
            return DP_OK;
        case LinkState::Refused:
            return DPERR_INCOMPATIBLEPEER;
        case LinkState::Down:
            return DPERR_CONNECTIONLOST;
        default:
            return m_readyTimedOut ? std::optional<HRESULT>(DPERR_NOCONNECTION) : std::nullopt;
    }
}

std::uint32_t SessionEngine::startRequest(Request request, const wire::Message& message) {
    const std::uint32_t serial = m_nextSerial++;
    if (m_linkState == LinkState::Ready) {
        send(message);
    } else {
        request.answered = true;
        request.result = DPERR_CONNECTIONLOST;
    }
    m_requests.insert_or_assign(serial, std::move(request));
    return serial;
}

std::uint32_t SessionEngine::requestSessions(const Guid& application, std::int64_t deadlineMs) {
    return startRequest(Request(Kind::Sessions, deadlineMs),
                        wire::EnumRequest{m_nextSerial, application});
}

std::uint32_t SessionEngine::requestJoin(const Guid& instance, std::int64_t deadlineMs) {
    return startRequest(Request(Kind::Join, deadlineMs), wire::JoinRequest{m_nextSerial, instance});
}

std::uint32_t SessionEngine::requestPlayer(const DPNAME& name,
                                           std::shared_ptr<AutoResetEvent> event,
                                           std::int64_t deadlineMs) {
    Request request(Kind::Player, deadlineMs);
    request.name = name;
    request.event = std::move(event);
    if (m_role != Role::Caller || hasLocalPlayer()) {
        const std::uint32_t serial = m_nextSerial++;
        request.answered = true;
        request.result = m_role == Role::Caller ? DPERR_INVALIDPARAMS : DPERR_NOCONNECTION;
        m_requests.insert_or_assign(serial, std::move(request));
        return serial;
    }
    return startRequest(std::move(request), wire::CreatePlayerRequest{m_nextSerial, name});
}

bool SessionEngine::answered(std::uint32_t serial) const {
    const auto request = m_requests.find(serial);
    return request == m_requests.end() || request->second.answered;
}

QList<wire::Session> SessionEngine::takeSessions(std::uint32_t serial) {
    const auto request = m_requests.find(serial);
    if (request == m_requests.end()) {
        return {};
    }
    QList<wire::Session> sessions = std::move(request->second.sessions);
    m_requests.erase(request);
    return sessions;
}

HRESULT SessionEngine::takeJoinResult(std::uint32_t serial) {
    const auto request = m_requests.find(serial);
    if (request == m_requests.end()) {
        return DPERR_CONNECTIONLOST;
    }
    const HRESULT result = request->second.result;
    m_requests.erase(request);
    return result;
}

std::pair<HRESULT, DPID> SessionEngine::takePlayerResult(std::uint32_t serial) {
    const auto request = m_requests.find(serial);
    if (request == m_requests.end()) {
        return {DPERR_CONNECTIONLOST, 0};
    }
    const std::pair<HRESULT, DPID> result{request->second.result, request->second.id};
    m_requests.erase(request);
    return result;
}

void SessionEngine::forget(std::uint32_t serial) {
    m_requests.erase(serial);
}

HRESULT SessionEngine::createHostPlayer(const DPNAME& name, std::shared_ptr<AutoResetEvent> event,
                                        DPID& id) {
    if (m_role != Role::Host) {
        return DPERR_NOCONNECTION;
    }
    if (hasLocalPlayer()) {
        return DPERR_INVALIDPARAMS;
    }
    id = newId();
    addPlayer(Player{id, name, true, event});
    wake(event, m_queue.size());
    if (peerPresent()) {
        send(wire::PlayerCreated{{id, name}});
    }
    return DP_OK;
}

HRESULT SessionEngine::destroyLocalPlayer(DPID id) {
    const auto player = std::find_if(m_players.begin(), m_players.end(),
                                     [id](const Player& p) { return p.local && p.id == id; });
    if (player == m_players.end()) {
        return DPERR_INVALIDPARAMS;
    }
    m_players.erase(player);
    if (peerPresent()) {
        send(wire::PlayerDestroyed{id});
    }
    return DP_OK;
}

std::vector<wire::Player> SessionEngine::players(bool remoteOnly) const {
    std::vector<wire::Player> listed;
    for (const Player& player : m_players) {
        if (!player.local || !remoteOnly) {
            listed.push_back({player.id, player.name});
        }
    }
    return listed;
}

HRESULT SessionEngine::send(DPID from, DPID to, const void* data, std::uint32_t size,
                            bool& toLine) {
    toLine = false;
    if (m_role == Role::None) {
        return DPERR_NOCONNECTION;
    }
    const Player* sender = find(from);
    if (sender == nullptr || !sender->local || (to != DPID_ALLPLAYERS && find(to) == nullptr)) {
        return DPERR_INVALIDPARAMS;
    }
    bool remote = false;
    for (const Player& player : m_players) {
        if (player.id == from || (to != DPID_ALLPLAYERS && player.id != to)) {
            continue;
        }
        if (player.local) {
            queue(from, player.id,
                  QByteArray(static_cast<const char*>(data), static_cast<qsizetype>(size)));
        } else {
            remote = true;
        }
    }
    if (!remote) {
        return DP_OK;
    }
    if (m_linkState != LinkState::Ready) {
        return DPERR_CONNECTIONLOST;
    }
    toLine = true;
    return DP_OK;
}

void SessionEngine::sendCompleted(DPID from, QByteArray notice) {
    if (m_role != Role::None) {
        queue(DPID_SYSMSG, from, std::move(notice));
    }
}

HRESULT SessionEngine::receive(DPID& from, DPID& to, void* data, std::uint32_t& size) {
    if (m_queue.empty()) {
        return DPERR_NOMESSAGES;
    }
    const Queued& next = m_queue.front();
    const auto needed = static_cast<std::uint32_t>(next.data.size());
    if (data == nullptr || size < needed) {
        size = needed;
        return DPERR_BUFFERTOOSMALL;
    }
    std::memcpy(data, next.data.constData(), needed);
    size = needed;
    from = next.from;
    to = next.to;
    if (to == 0) {
        const auto local = std::find_if(m_players.begin(), m_players.end(),
                                        [](const Player& p) { return p.local; });
        to = local != m_players.end() ? local->id : 0;
    }
    m_queue.pop_front();
    return DP_OK;
}

std::vector<std::shared_ptr<AutoResetEvent>> SessionEngine::takeWakeups() {
    return std::exchange(m_wakeups, {});
}

// --- messages of the other side ---------------------------------------------------------------

void SessionEngine::handle(const wire::Hello& m) {
    if (m.magic != wire::kMagic || m.version != wire::kVersion) {
        send(wire::Refuse{});
        m_refusing = true;
        // Mid-session, another version ends the session: it cannot go on with this peer.
        if (m_linkState == LinkState::Ready) {
            dropRemotePlayers();
            loseSession();
        }
    } else if (m_linkState == LinkState::Greeting) {
        m_linkState = LinkState::Ready;
    }
}

void SessionEngine::handle(const wire::Refuse& /*m*/) {
    const bool inSession = m_linkState == LinkState::Ready;
    m_linkState = LinkState::Refused;
    if (inSession) {
        dropRemotePlayers();
        loseSession();
    }
    answerAll(DPERR_CONNECTIONLOST);
}

void SessionEngine::handle(const wire::EnumRequest& m) {
    wire::EnumReply reply{m.serial, {}};
    if (m_role == Role::Host && m.application == m_session.application) {
        wire::Session session = m_session;
        session.currentPlayers = static_cast<std::uint32_t>(m_players.size());
        reply.sessions.append(session);
    }
    send(reply);
}

void SessionEngine::handle(const wire::EnumReply& m) {
    if (Request* request = awaited(m.serial, Kind::Sessions)) {
        request->sessions = m.sessions;
    }
}

void SessionEngine::handle(const wire::JoinRequest& m) {
    wire::JoinReply reply;
    reply.serial = m.serial;
    const bool full = m_session.maxPlayers != 0 && m_players.size() >= m_session.maxPlayers;
    if (m_role != Role::Host || m.instance != m_session.instance || m_peerJoined || full) {
        reply.result = DPERR_NOSESSIONS;
    } else {
        m_peerJoined = true;
        reply.session = m_session;
        reply.session.currentPlayers = static_cast<std::uint32_t>(m_players.size());
        for (const Player& player : m_players) {
            reply.players.append({player.id, player.name});
        }
    }
    send(reply);
}

void SessionEngine::handle(const wire::JoinReply& m) {
    Request* request = awaited(m.serial, Kind::Join);
    if (request == nullptr) {
        return;
    }
    request->result = m.result;
    if (m.result != DP_OK) {
        return;
    }
    // Joined from this message on, so that what the host sends next finds the session. The
    // host has one player; more, or one of the system's ID, are not taken.
    resetSession();
    m_role = Role::Caller;
    m_session = m.session;
    for (const wire::Player& player : m.players) {
        if (!hasRemotePlayer() && idIsFree(player.id)) {
            addPlayer(Player{player.id, player.name, false, nullptr});
        }
    }
}

void SessionEngine::handle(const wire::CreatePlayerRequest& m) {
    wire::CreatePlayerReply reply{m.serial, DPERR_NOTHOST, 0};
    if (m_role == Role::Host && m_peerJoined && m_peerHasPlayer) {
        reply.result = DPERR_INVALIDPARAMS;  // one player per side of the line
    } else if (m_role == Role::Host && m_peerJoined) {
        m_peerHasPlayer = true;
        reply.result = DP_OK;
        reply.id = newId();
        addPlayer(Player{reply.id, m.name, false, nullptr});
        m_noticesAfterSent.push_back(encodeCreatePlayer(CreatePlayerNotice{
            DPPLAYERTYPE_PLAYER, reply.id, static_cast<std::uint32_t>(m_players.size()), m.name}));
    }
    send(reply);
}

void SessionEngine::handle(const wire::CreatePlayerReply& m) {
    Request* request = awaited(m.serial, Kind::Player);
    if (request == nullptr) {
        return;
    }
    // An ID that another player has, or the system's, cannot be this player's.
    request->result = m.result == DP_OK && !idIsFree(m.id) ? DPERR_GENERIC : m.result;
    request->id = m.id;
    if (request->result == DP_OK) {
        addPlayer(Player{m.id, request->name, true, request->event});
        wake(request->event, m_queue.size());
        replayEarlyData();
    }
}

void SessionEngine::handle(const wire::PlayerCreated& m) {
    // Only the host gives out IDs, and the host has one player: a caller's announcement, or a
    // second player of the host, is refused.
    if (m_role != Role::Caller || hasRemotePlayer() || !idIsFree(m.player.id)) {
        return;
    }
    addPlayer(Player{m.player.id, m.player.name, false, nullptr});
    queue(DPID_SYSMSG, 0,
          encodeCreatePlayer(CreatePlayerNotice{DPPLAYERTYPE_PLAYER, m.player.id,
                                                static_cast<std::uint32_t>(m_players.size()),
                                                m.player.name}));
    replayEarlyData();
}

void SessionEngine::handle(const wire::PlayerDestroyed& m) {
    const auto player = std::find_if(m_players.begin(), m_players.end(),
                                     [&m](const Player& p) { return !p.local && p.id == m.id; });
    if (player == m_players.end()) {
        return;
    }
    m_players.erase(player);
    m_peerHasPlayer = false;
    queue(DPID_SYSMSG, 0, encodeDestroyPlayer(DestroyPlayerNotice{DPPLAYERTYPE_PLAYER, m.id}));
}

void SessionEngine::handle(const wire::Data& m) {
    const Player* sender = find(m.from);
    if (m_role == Role::Caller && (sender == nullptr || !hasLocalPlayer())) {
        // A chat line may overtake the host's reply with our player's ID, or its announcement
        // of its own player, on the line's interactive lane: it waits for them, in order.
        if (m_earlyData.size() < kMaxEarlyData) {
            m_earlyData.push_back(m);
        }
        return;
    }
    if (m_role == Role::None || sender == nullptr || sender->local) {
        return;
    }
    for (const Player& player : m_players) {
        if (player.local && (m.to == DPID_ALLPLAYERS || player.id == m.to)) {
            queue(m.from, player.id, m.payload);
        }
    }
}

// --- helpers ----------------------------------------------------------------------------------

void SessionEngine::replayEarlyData() {
    std::vector<wire::Data> early;
    early.swap(m_earlyData);
    for (const wire::Data& data : early) {
        handle(data);
    }
}

void SessionEngine::resetLine(LinkState state) {
    m_earlyData.clear();
    m_linkState = state;
    m_refusing = false;
    m_lineKeptWanted = false;
    m_outgoing.clear();
    m_noticesAfterSent.clear();
}

SessionEngine::Request* SessionEngine::awaited(std::uint32_t serial, Kind kind) {
    const auto request = m_requests.find(serial);
    if (request == m_requests.end() || request->second.kind != kind || request->second.answered) {
        return nullptr;
    }
    request->second.answered = true;
    return &request->second;
}

void SessionEngine::answerAll(HRESULT result) {
    for (auto& [serial, request] : m_requests) {
        if (!request.answered) {
            request.answered = true;
            request.result = result;
        }
    }
}

void SessionEngine::send(const wire::Message& message) {
    m_outgoing.push_back(wire::encode(message));
}

bool SessionEngine::peerPresent() const {
    if (m_linkState != LinkState::Ready) {
        return false;
    }
    return m_role == Role::Caller || (m_role == Role::Host && m_peerJoined);
}

bool SessionEngine::hasLocalPlayer() const {
    return std::any_of(m_players.begin(), m_players.end(), [](const Player& p) { return p.local; });
}

bool SessionEngine::hasRemotePlayer() const {
    return std::any_of(m_players.begin(), m_players.end(),
                       [](const Player& p) { return !p.local; });
}

SessionEngine::Player* SessionEngine::find(DPID id) {
    const auto player = std::find_if(m_players.begin(), m_players.end(),
                                     [id](const Player& p) { return p.id == id; });
    return player != m_players.end() ? &*player : nullptr;
}

bool SessionEngine::idIsFree(DPID id) {
    return id != DPID_SYSMSG && find(id) == nullptr;
}

void SessionEngine::addPlayer(Player player) {
    m_highestId = std::max(m_highestId, player.id);
    m_players.push_back(std::move(player));
}

DPID SessionEngine::newId() {
    // The other side may have named any ID: the count wraps around past those in use.
    do {
        ++m_highestId;
    } while (!idIsFree(m_highestId));
    return m_highestId;
}

void SessionEngine::queue(DPID from, DPID to, QByteArray data) {
    m_queue.push_back(Queued{from, to, std::move(data)});
    for (const Player& player : m_players) {
        if (player.local && (to == 0 || player.id == to)) {
            wake(player.event, 1);
        }
    }
}

void SessionEngine::wake(const std::shared_ptr<AutoResetEvent>& event, std::size_t times) {
    if (event) {
        m_wakeups.insert(m_wakeups.end(), times, event);
    }
}

void SessionEngine::dropRemotePlayers() {
    std::vector<DPID> gone;
    std::erase_if(m_players, [&gone](const Player& p) {
        if (!p.local) {
            gone.push_back(p.id);
        }
        return !p.local;
    });
    for (const DPID id : gone) {
        queue(DPID_SYSMSG, 0, encodeDestroyPlayer(DestroyPlayerNotice{DPPLAYERTYPE_PLAYER, id}));
    }
}

void SessionEngine::loseSession() {
    if (m_role != Role::None && !m_lostNoticed) {
        queue(DPID_SYSMSG, 0, encodeSessionLost());
        m_lostNoticed = true;
    }
}

void SessionEngine::resetSession() {
    m_earlyData.clear();
    m_session = wire::Session();
    m_peerJoined = false;
    m_peerHasPlayer = false;
    m_lostNoticed = false;
    m_players.clear();
    m_highestId = 0;
    m_queue.clear();
    m_wakeups.clear();
    m_noticesAfterSent.clear();
    for (auto& [serial, request] : m_requests) {
        if (request.kind == Kind::Player && !request.answered) {
            request.answered = true;
            request.result = DPERR_CONNECTIONLOST;
        }
    }
}

}  // namespace velmora
