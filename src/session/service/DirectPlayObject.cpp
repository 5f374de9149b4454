#include "session/service/DirectPlayObject.h"

#include "session/AutoResetEvent.h"
#include "session/SystemMessages.h"
#include "session/Windows1252.h"
#include "session/service/CompoundAddress.h"

#include <QUuid>

#include <algorithm>
#include <cstring>
#include <shared_mutex>
#include <utility>

namespace velmora {

namespace {

// The longest wait for an answer of the other side to a join or a player request; a line that
// goes down ends the wait at once.
constexpr auto kReplyWait = std::chrono::seconds(30);
// The size field of a session description, as DirectPlay's structure has it.
constexpr std::uint32_t kSessionDescSize = 80;

Guid randomGuid() {
    const QByteArray bytes = QUuid::createUuid().toRfc4122();
    Guid guid;
    std::copy(bytes.begin(), bytes.end(), guid.bytes.begin());
    return guid;
}

}  // namespace

// One line and the session object listening to it. A line's calls carry the generation of its
// Link, so that calls of a line already replaced are ignored. A Link is never destroyed on its
// own line's thread: that would wait for the thread itself. It may be destroyed on another
// thread while one of its line's calls is still answering; that answer then goes nowhere.
class DirectPlayObject::Link : public LineListener {
public:
    Link(DirectPlayObject& owner, std::uint64_t generation, std::unique_ptr<Line> line)
        : generation(generation), m_owner(owner), m_line(std::move(line)) {}
    ~Link() override {
        {
            const std::unique_lock guard(m_guard);
            m_stopped = true;
        }
        // Stops the line, waiting for a call in progress, before the listener goes.
        m_line.reset();
    }

    void start() { m_line->start(this); }
    bool send(const QByteArray& message, bool interactive = false) {
        const std::shared_lock guard(m_guard);
        return !m_stopped &&
               (interactive ? m_line->sendInteractive(message) : m_line->send(message));
    }
    void sendAll(const Outgoing& messages) {
        for (const QByteArray& message : messages) {
            if (!send(message)) {
                return;
            }
        }
    }
    void close() { m_line->close(); }

    void lineUp() override { m_owner.onLineUp(*this); }
    void lineMessage(const QByteArray& message) override { m_owner.onLineMessage(*this, message); }
    void lineDown(LineDown reason) override { m_owner.onLineDown(*this, reason); }

    const std::uint64_t generation;

private:
    DirectPlayObject& m_owner;
    std::shared_mutex m_guard;  // sends against the line's destruction
    bool m_stopped = false;
    std::unique_ptr<Line> m_line;
};

DirectPlayObject::DirectPlayObject(QList<ProviderEntry> providers)
    : m_providers(std::move(providers)) {}

DirectPlayObject::DirectPlayObject(std::unique_ptr<ServiceProvider> provider)
    : m_provider(std::move(provider)) {}

DirectPlayObject::~DirectPlayObject() {
    Close();
}

HRESULT DirectPlayObject::InitializeConnection(const void* address, std::uint32_t /*flags*/) {
    if (address == nullptr) {
        return DPERR_INVALIDPARAMS;
    }
    if (m_provider) {
        return DPERR_ALREADYINITIALIZED;
    }
    const auto total = compoundAddressTotalSize(address);
    if (!total) {
        return DPERR_INVALIDPARAMS;
    }
    const auto elements = parseCompoundAddress(address, *total);
    if (!elements || elements->size() < 2 ||
        elements->at(1).dataType != guids::AddressServiceProvider ||
        elements->at(1).data.size() != 16) {
        return DPERR_INVALIDPARAMS;
    }
    Guid providerGuid;
    std::memcpy(providerGuid.bytes.data(), elements->at(1).data.constData(), 16);
    const auto entry = std::find_if(m_providers.begin(), m_providers.end(),
                                    [&](const ProviderEntry& e) { return e.guid == providerGuid; });
    if (entry == m_providers.end() || !entry->create) {
        return DPERR_INVALIDPARAMS;
    }
    std::unique_ptr<ServiceProvider> provider = entry->create();
    if (!provider) {
        return DPERR_GENERIC;
    }
    const HRESULT initialized = provider->initialize(elements->mid(2));
    if (initialized != DP_OK) {
        return initialized;
    }
    m_provider = std::move(provider);
    return DP_OK;
}

HRESULT DirectPlayObject::EnumSessions(const DPSESSIONDESC2& desc, std::uint32_t timeoutMs,
                                       const EnumSessionsCallback& callback,
                                       std::uint32_t /*flags*/) {
    if (!callback) {
        return DPERR_INVALIDPARAMS;
    }
    if (!m_provider) {
        return DPERR_UNINITIALIZED;
    }
    {
        const std::lock_guard lock(m_mutex);
        if (m_role != Role::None) {
            return DPERR_ALREADYINITIALIZED;
        }
    }
    const HRESULT connected = connectIfNeeded();
    if (connected != DP_OK) {
        return connected;
    }
    const auto deadline =
        Clock::now() +
        std::chrono::milliseconds(timeoutMs != 0 ? timeoutMs : m_provider->defaultTimeoutMs());
    const HRESULT ready = waitReady(deadline);
    QList<wire::Session> sessions;
    if (ready == DP_OK) {
        std::unique_lock lock(m_mutex);
        const std::uint32_t serial = m_nextSerial++;
        m_enumSerial = serial;
        m_enumReply.reset();
        request(lock, wire::EnumRequest{serial, desc.guidApplication}, deadline,
                [this] { return m_enumReply.has_value(); });
        sessions = m_enumReply.value_or(QList<wire::Session>());
        m_enumSerial.reset();
        m_enumReply.reset();
    } else if (ready != DPERR_NOCONNECTION) {
        return ready;
    }
    for (const wire::Session& session : sessions) {
        DPSESSIONDESC2 found;
        found.dwSize = kSessionDescSize;
        found.dwFlags = session.flags;
        found.guidInstance = session.instance;
        found.guidApplication = session.application;
        found.dwMaxPlayers = session.maxPlayers;
        found.dwCurrentPlayers = session.currentPlayers;
        found.sessionName = session.name;
        if (!callback(&found, 0)) {
            return DP_OK;
        }
    }
    callback(nullptr, DPESC_TIMEDOUT);
    return DP_OK;
}

HRESULT DirectPlayObject::Open(const DPSESSIONDESC2& desc, std::uint32_t flags) {
    if (!m_provider) {
        return DPERR_UNINITIALIZED;
    }
    {
        const std::lock_guard lock(m_mutex);
        if (m_role != Role::None) {
            return DPERR_ALREADYINITIALIZED;
        }
    }
    if ((flags & DPOPEN_CREATE) != 0) {
        return createSession(desc);
    }
    if ((flags & DPOPEN_JOIN) != 0) {
        return joinSession(desc);
    }
    return DPERR_INVALIDPARAMS;
}

HRESULT DirectPlayObject::createSession(const DPSESSIONDESC2& desc) {
    // A line left over from looking for sessions is not the one to host on.
    std::shared_ptr<Link> previous;
    {
        const std::lock_guard lock(m_mutex);
        previous = std::move(m_link);
        m_linkState = LinkState::None;
        ++m_generation;
    }
    if (previous) {
        previous->close();
        previous.reset();
    }
    std::unique_ptr<Line> line;
    const HRESULT listening = m_provider->listen(line);
    if (listening != DP_OK) {
        return listening;
    }
    if (!line) {
        return DPERR_GENERIC;
    }
    std::shared_ptr<Link> link;
    {
        const std::lock_guard lock(m_mutex);
        resetSessionLocked();
        m_role = Role::Host;
        m_session.instance = randomGuid();
        m_session.application = desc.guidApplication;
        m_session.flags = desc.dwFlags;
        m_session.maxPlayers = desc.dwMaxPlayers;
        m_session.name = desc.sessionName;
        link = installLocked(std::move(line));
    }
    link->start();
    return DP_OK;
}

HRESULT DirectPlayObject::joinSession(const DPSESSIONDESC2& desc) {
    const HRESULT connected = connectIfNeeded();
    if (connected != DP_OK) {
        return connected;
    }
    const auto deadline = replyDeadline();
    const HRESULT ready = waitReady(deadline);
    if (ready != DP_OK) {
        return ready;
    }
    std::unique_lock lock(m_mutex);
    const std::uint32_t serial = m_nextSerial++;
    m_joinSerial = serial;
    m_joinResult.reset();
    const bool answered = request(lock, wire::JoinRequest{serial, desc.guidInstance}, deadline,
                                  [this] { return m_joinResult.has_value(); });
    const HRESULT result = answered ? *m_joinResult : DPERR_CONNECTIONLOST;
    m_joinSerial.reset();
    m_joinResult.reset();
    return result;
}

HRESULT DirectPlayObject::connectIfNeeded() {
    dropDeadLine();
    {
        const std::lock_guard lock(m_mutex);
        if (m_link) {
            return DP_OK;
        }
    }
    std::unique_ptr<Line> line;
    const HRESULT connected = m_provider->connect(line);
    if (connected != DP_OK) {
        return connected;
    }
    if (!line) {
        return DPERR_GENERIC;
    }
    std::shared_ptr<Link> link;
    {
        const std::lock_guard lock(m_mutex);
        link = installLocked(std::move(line));
    }
    link->start();
    return DP_OK;
}

HRESULT DirectPlayObject::waitReady(Clock::time_point deadline) {
    LinkState state = LinkState::None;
    {
        std::unique_lock lock(m_mutex);
        m_changed.wait_until(lock, deadline, [this] {
            return m_linkState == LinkState::Ready || m_linkState == LinkState::Refused ||
                   m_linkState == LinkState::Down;
        });
        state = m_linkState;
    }
    switch (state) {
        case LinkState::Ready:
            return DP_OK;
        case LinkState::Refused:
            // The caller is the one to hang up on a peer of another version.
            dropDeadLine();
            return DPERR_INCOMPATIBLEPEER;
        case LinkState::Down:
            dropDeadLine();
            return DPERR_CONNECTIONLOST;
        default:
            return DPERR_NOCONNECTION;
    }
}

bool DirectPlayObject::request(std::unique_lock<std::mutex>& lock, const wire::Message& message,
                               Clock::time_point deadline, const std::function<bool()>& answered) {
    const std::shared_ptr<Link> link = m_link;
    if (!link || m_linkState != LinkState::Ready) {
        return false;
    }
    lock.unlock();
    const bool sent = link->send(wire::encode(message));
    lock.lock();
    if (!sent) {
        return false;
    }
    return m_changed.wait_until(lock, deadline, [&] {
        return answered() || m_linkState != LinkState::Ready;
    }) && answered();
}

void DirectPlayObject::dropDeadLine() {
    std::shared_ptr<Link> dead;
    std::vector<std::shared_ptr<Link>> retired;
    {
        const std::lock_guard lock(m_mutex);
        retired = std::move(m_retired);
        if (m_linkState == LinkState::Refused || m_linkState == LinkState::Down) {
            dead = std::move(m_link);
            m_linkState = LinkState::None;
            ++m_generation;
        }
    }
    if (dead) {
        dead->close();
    }
}

HRESULT DirectPlayObject::CreatePlayer(DPID* id, const DPNAME& name,
                                       std::shared_ptr<AutoResetEvent> event,
                                       std::uint32_t /*flags*/) {
    if (id == nullptr) {
        return DPERR_INVALIDPARAMS;
    }
    std::unique_lock lock(m_mutex);
    if (m_role == Role::None) {
        return DPERR_NOCONNECTION;
    }
    if (m_role == Role::Host) {
        const DPID newId = newIdLocked();
        addPlayerLocked(Player{newId, name, true, event});
        signalLocked(event, m_queue.size());
        *id = newId;
        const std::shared_ptr<Link> link = peerPresentLocked() ? m_link : nullptr;
        lock.unlock();
        if (link) {
            link->send(wire::encode(wire::PlayerCreated{{newId, name}}));
        }
        return DP_OK;
    }
    // A caller's player gets its ID from the host; the answer adds it (see CreatePlayerReply).
    const std::uint32_t serial = m_nextSerial++;
    m_pendingPlayers[serial] = PendingPlayer{name, std::move(event), std::nullopt, 0};
    const auto answer = [this, serial]() -> const PendingPlayer* {
        const auto pending = m_pendingPlayers.find(serial);
        return pending != m_pendingPlayers.end() && pending->second.result ? &pending->second
                                                                           : nullptr;
    };
    const bool answered = request(lock, wire::CreatePlayerRequest{serial, name}, replyDeadline(),
                                  [&answer] { return answer() != nullptr; });
    const PendingPlayer pending = answered ? *answer() : PendingPlayer{};
    m_pendingPlayers.erase(serial);
    if (!answered) {
        return DPERR_CONNECTIONLOST;
    }
    if (*pending.result == DP_OK) {
        *id = pending.id;
    }
    return *pending.result;
}

HRESULT DirectPlayObject::EnumPlayers(const EnumPlayersCallback& callback, std::uint32_t flags) {
    if (!callback) {
        return DPERR_INVALIDPARAMS;
    }
    std::vector<Player> players;
    {
        const std::lock_guard lock(m_mutex);
        if (m_role == Role::None) {
            return DPERR_NOCONNECTION;
        }
        for (const Player& player : m_players) {
            if (!player.local || (flags & DPENUMPLAYERS_REMOTE) == 0) {
                players.push_back(player);
            }
        }
    }
    for (const Player& player : players) {
        if (!callback(player.id, player.name)) {
            break;
        }
    }
    return DP_OK;
}

HRESULT DirectPlayObject::Receive(DPID* from, DPID* to, std::uint32_t /*flags*/, void* data,
                                  std::uint32_t* size) {
    if (from == nullptr || to == nullptr || size == nullptr) {
        return DPERR_INVALIDPARAMS;
    }
    const std::lock_guard lock(m_mutex);
    if (m_queue.empty()) {
        return DPERR_NOMESSAGES;
    }
    const Queued& next = m_queue.front();
    const auto needed = static_cast<std::uint32_t>(next.data.size());
    if (data == nullptr || *size < needed) {
        *size = needed;
        return DPERR_BUFFERTOOSMALL;
    }
    std::memcpy(data, next.data.constData(), needed);
    *size = needed;
    *from = next.from;
    *to = next.to;
    if (*to == 0) {
        const auto local = std::find_if(m_players.begin(), m_players.end(),
                                        [](const Player& p) { return p.local; });
        *to = local != m_players.end() ? local->id : 0;
    }
    m_queue.pop_front();
    return DP_OK;
}

HRESULT DirectPlayObject::Send(DPID from, DPID to, std::uint32_t flags, const void* data,
                               std::uint32_t size) {
    return sendData(from, to, flags, data, size);
}

HRESULT DirectPlayObject::SendEx(DPID from, DPID to, std::uint32_t flags, const void* data,
                                 std::uint32_t size, std::uint32_t /*priority*/,
                                 std::uint32_t /*timeoutMs*/, void* /*context*/,
                                 std::uint32_t* messageId) {
    if ((flags & DPSEND_ASYNC) == 0) {
        return sendData(from, to, flags, data, size);
    }
    const auto started = Clock::now();
    std::uint32_t id = 0;
    {
        const std::lock_guard lock(m_mutex);
        id = m_nextMessageId++;
    }
    if (messageId != nullptr) {
        *messageId = id;
    }
    const HRESULT result = sendData(from, to, flags, data, size);
    const auto elapsed =
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - started).count();
    const std::lock_guard lock(m_mutex);
    if (m_role != Role::None) {
        queueLocked(DPID_SYSMSG, from,
                    encodeSendComplete(SendCompleteNotice{from, to, flags, id, result,
                                                          static_cast<std::uint32_t>(elapsed)}));
    }
    return DP_OK;
}

HRESULT DirectPlayObject::sendData(DPID from, DPID to, std::uint32_t flags, const void* data,
                                   std::uint32_t size) {
    if ((data == nullptr && size > 0) || size > kMaxMessageSize) {
        return DPERR_INVALIDPARAMS;
    }
    std::shared_ptr<Link> link;
    {
        const std::lock_guard lock(m_mutex);
        if (m_role == Role::None) {
            return DPERR_NOCONNECTION;
        }
        const Player* sender = findLocked(from);
        if (sender == nullptr || !sender->local) {
            return DPERR_INVALIDPARAMS;
        }
        const QByteArray copy(static_cast<const char*>(data), static_cast<qsizetype>(size));
        bool remote = false;
        for (const Player& player : m_players) {
            if (player.id == from || (to != DPID_ALLPLAYERS && player.id != to)) {
                continue;
            }
            if (player.local) {
                queueLocked(from, player.id, copy);
            } else {
                remote = true;
            }
        }
        if (to != DPID_ALLPLAYERS && findLocked(to) == nullptr) {
            return DPERR_INVALIDPARAMS;
        }
        if (!remote) {
            return DP_OK;
        }
        link = m_link;
        if (!link || m_linkState != LinkState::Ready) {
            return DPERR_CONNECTIONLOST;
        }
    }
    return link->send(wire::encodeData(from, to, data, size), (flags & DPSEND_INTERACTIVE) != 0)
               ? DP_OK
               : DPERR_CONNECTIONLOST;
}

HRESULT DirectPlayObject::DestroyPlayer(DPID id) {
    std::shared_ptr<Link> link;
    {
        const std::lock_guard lock(m_mutex);
        const auto player = std::find_if(m_players.begin(), m_players.end(),
                                         [id](const Player& p) { return p.local && p.id == id; });
        if (player == m_players.end()) {
            return DPERR_INVALIDPARAMS;
        }
        m_players.erase(player);
        if (peerPresentLocked()) {
            link = m_link;
        }
    }
    if (link) {
        link->send(wire::encode(wire::PlayerDestroyed{id}));
    }
    return DP_OK;
}

HRESULT DirectPlayObject::Close() {
    std::shared_ptr<Link> link;
    std::vector<std::shared_ptr<Link>> retired;
    {
        const std::lock_guard lock(m_mutex);
        link = std::move(m_link);
        retired = std::move(m_retired);
        ++m_generation;
        m_linkState = LinkState::None;
        resetSessionLocked();
        m_role = Role::None;
    }
    m_changed.notify_all();
    if (link) {
        link->close();
    }
    return DP_OK;
}

HRESULT DirectPlayObject::GetCaps(DPCAPS* caps, std::uint32_t /*flags*/) {
    if (caps == nullptr) {
        return DPERR_INVALIDPARAMS;
    }
    caps->dwFlags = DPCAPS_ASYNCSUPPORTED;
    caps->dwMaxBufferSize = kMaxMessageSize;
    return DP_OK;
}

HRESULT DirectPlayObject::GetPlayerAddress(DPID id, void* data, std::uint32_t* size) {
    if (size == nullptr || id != 0) {
        return DPERR_INVALIDPARAMS;
    }
    if (!m_provider) {
        return DPERR_UNINITIALIZED;
    }
    QStringList names;
    const HRESULT listed = m_provider->modemNames(names);
    if (listed != DP_OK) {
        return listed;
    }
    Address elements;
    for (const QString& name : names) {
        elements.append({guids::AddressModem, toWindows1252(name) + '\0'});
    }
    const QByteArray address = buildCompoundAddress(elements);
    const auto needed = static_cast<std::uint32_t>(address.size());
    if (data == nullptr || *size < needed) {
        *size = needed;
        return DPERR_BUFFERTOOSMALL;
    }
    std::memcpy(data, address.constData(), needed);
    *size = needed;
    return DP_OK;
}

void DirectPlayObject::onLineUp(Link& link) {
    {
        const std::lock_guard lock(m_mutex);
        if (link.generation != m_generation) {
            return;
        }
        m_linkState = LinkState::Greeting;
        m_peerJoined = false;
    }
    m_changed.notify_all();
    link.send(wire::encode(wire::Hello{}));
}

void DirectPlayObject::onLineMessage(Link& link, const QByteArray& bytes) {
    const auto message = wire::decode(bytes);
    if (!message) {
        return;  // another version's or a broken message: ignored
    }
    Outgoing out;
    {
        const std::lock_guard lock(m_mutex);
        if (link.generation != m_generation) {
            return;
        }
        const bool greeting = std::holds_alternative<wire::Hello>(*message) ||
                              std::holds_alternative<wire::Refuse>(*message);
        if (!greeting && m_linkState != LinkState::Ready) {
            return;
        }
        std::visit([this, &out](const auto& m) { handle(m, out); }, *message);
    }
    m_changed.notify_all();
    link.sendAll(out);
    const std::lock_guard lock(m_mutex);
    for (QByteArray& notice : std::exchange(m_noticesAfterReplies, {})) {
        if (link.generation == m_generation) {
            queueLocked(DPID_SYSMSG, 0, std::move(notice));
        }
    }
    if (m_refusing && link.generation == m_generation) {
        m_refusing = false;
        m_linkState = LinkState::Refused;
        m_changed.notify_all();
    }
}

void DirectPlayObject::onLineDown(Link& link, LineDown reason) {
    bool relisten = false;
    {
        const std::lock_guard lock(m_mutex);
        if (link.generation != m_generation) {
            return;
        }
        if (reason == LineDown::PeerClosed) {
            dropRemotePlayersLocked();
            m_peerJoined = false;
            if (m_role == Role::Host) {
                m_linkState = LinkState::Waiting;  // a host's line waits for the next caller
            } else if (m_role == Role::Caller && (m_session.flags & DPSESSION_MIGRATEHOST) != 0) {
                m_role = Role::Host;
                queueLocked(DPID_SYSMSG, 0, encodeHost());
                m_linkState = LinkState::Down;
                relisten = true;
            } else {
                if (m_role == Role::Caller) {
                    queueLocked(DPID_SYSMSG, 0, encodeSessionLost());
                    m_lostNoticed = true;
                }
                m_linkState = LinkState::Down;
            }
        } else {
            m_linkState = reason == LineDown::Refused ? LinkState::Refused : LinkState::Down;
            if (m_role != Role::None && !m_lostNoticed) {
                queueLocked(DPID_SYSMSG, 0, encodeSessionLost());
                m_lostNoticed = true;
            }
        }
    }
    m_changed.notify_all();
    if (!relisten) {
        return;
    }
    // The new host waits for a caller in its turn, when its provider can wait for one.
    std::unique_ptr<Line> line;
    if (m_provider->listen(line) != DP_OK || !line) {
        return;
    }
    std::shared_ptr<Link> fresh;
    {
        const std::lock_guard lock(m_mutex);
        if (link.generation == m_generation && m_role == Role::Host) {
            fresh = installLocked(std::move(line));
        }
    }
    if (fresh) {
        fresh->start();
    }
}

void DirectPlayObject::handle(const wire::Hello& m, Outgoing& out) {
    if (m.magic != wire::kMagic || m.version != wire::kVersion) {
        // Refused only once the refusal is on its way, so that a caller waiting for the
        // greeting does not hang up before the other side can hear why.
        out.push_back(wire::encode(wire::Refuse{}));
        m_refusing = true;
    } else if (m_linkState == LinkState::Greeting) {
        m_linkState = LinkState::Ready;
    }
}

void DirectPlayObject::handle(const wire::Refuse& /*m*/, Outgoing& /*out*/) {
    m_linkState = LinkState::Refused;
}

void DirectPlayObject::handle(const wire::EnumRequest& m, Outgoing& out) {
    wire::EnumReply reply{m.serial, {}};
    if (m_role == Role::Host && m.application == m_session.application) {
        wire::Session session = m_session;
        session.currentPlayers = static_cast<std::uint32_t>(m_players.size());
        reply.sessions.append(session);
    }
    out.push_back(wire::encode(reply));
}

void DirectPlayObject::handle(const wire::EnumReply& m, Outgoing& /*out*/) {
    if (m_enumSerial == m.serial) {
        m_enumReply = m.sessions;
    }
}

void DirectPlayObject::handle(const wire::JoinRequest& m, Outgoing& out) {
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
    out.push_back(wire::encode(reply));
}

void DirectPlayObject::handle(const wire::JoinReply& m, Outgoing& /*out*/) {
    if (m_joinSerial != m.serial) {
        return;
    }
    m_joinSerial.reset();
    m_joinResult = m.result;
    if (m.result != DP_OK) {
        return;
    }
    // Joined from this message on, so that what the host sends next finds the session.
    resetSessionLocked();
    m_role = Role::Caller;
    m_session = m.session;
    for (const wire::Player& player : m.players) {
        if (idIsFreeLocked(player.id)) {
            addPlayerLocked(Player{player.id, player.name, false, nullptr});
        }
    }
}

void DirectPlayObject::handle(const wire::CreatePlayerRequest& m, Outgoing& out) {
    wire::CreatePlayerReply reply{m.serial, DPERR_NOTHOST, 0};
    if (m_role == Role::Host && m_peerJoined) {
        reply.result = DP_OK;
        reply.id = newIdLocked();
        addPlayerLocked(Player{reply.id, m.name, false, nullptr});
        m_noticesAfterReplies.push_back(encodeCreatePlayer(CreatePlayerNotice{
            DPPLAYERTYPE_PLAYER, reply.id, static_cast<std::uint32_t>(m_players.size()), m.name}));
    }
    out.push_back(wire::encode(reply));
}

void DirectPlayObject::handle(const wire::CreatePlayerReply& m, Outgoing& /*out*/) {
    const auto pending = m_pendingPlayers.find(m.serial);
    if (pending == m_pendingPlayers.end() || pending->second.result) {
        return;
    }
    // An ID that another player has, or the system's, cannot be this player's.
    pending->second.result = m.result == DP_OK && !idIsFreeLocked(m.id) ? DPERR_GENERIC : m.result;
    pending->second.id = m.id;
    if (*pending->second.result == DP_OK) {
        addPlayerLocked(Player{m.id, pending->second.name, true, pending->second.event});
        signalLocked(pending->second.event, m_queue.size());
    }
}

void DirectPlayObject::handle(const wire::PlayerCreated& m, Outgoing& /*out*/) {
    if (m_role == Role::None || !idIsFreeLocked(m.player.id)) {
        return;
    }
    addPlayerLocked(Player{m.player.id, m.player.name, false, nullptr});
    queueLocked(DPID_SYSMSG, 0,
                encodeCreatePlayer(CreatePlayerNotice{DPPLAYERTYPE_PLAYER, m.player.id,
                                                      static_cast<std::uint32_t>(m_players.size()),
                                                      m.player.name}));
}

void DirectPlayObject::handle(const wire::PlayerDestroyed& m, Outgoing& /*out*/) {
    const auto player = std::find_if(m_players.begin(), m_players.end(),
                                     [&m](const Player& p) { return !p.local && p.id == m.id; });
    if (player == m_players.end()) {
        return;
    }
    m_players.erase(player);
    queueLocked(DPID_SYSMSG, 0,
                encodeDestroyPlayer(DestroyPlayerNotice{DPPLAYERTYPE_PLAYER, m.id}));
}

void DirectPlayObject::handle(const wire::Data& m, Outgoing& /*out*/) {
    const Player* sender = findLocked(m.from);
    if (m_role == Role::None || sender == nullptr || sender->local) {
        return;
    }
    for (const Player& player : m_players) {
        if (player.local && (m.to == DPID_ALLPLAYERS || player.id == m.to)) {
            queueLocked(m.from, player.id, m.payload);
        }
    }
}

std::shared_ptr<DirectPlayObject::Link> DirectPlayObject::installLocked(
    std::unique_ptr<Line> line) {
    if (m_link) {
        m_retired.push_back(std::move(m_link));  // never destroyed with the mutex held
    }
    m_link = std::make_shared<Link>(*this, ++m_generation, std::move(line));
    m_linkState = LinkState::Waiting;
    m_refusing = false;
    return m_link;
}

bool DirectPlayObject::peerPresentLocked() const {
    if (m_linkState != LinkState::Ready) {
        return false;
    }
    return m_role == Role::Caller || (m_role == Role::Host && m_peerJoined);
}

DirectPlayObject::Player* DirectPlayObject::findLocked(DPID id) {
    const auto player = std::find_if(m_players.begin(), m_players.end(),
                                     [id](const Player& p) { return p.id == id; });
    return player != m_players.end() ? &*player : nullptr;
}

void DirectPlayObject::addPlayerLocked(Player player) {
    m_highestId = std::max(m_highestId, player.id);
    m_players.push_back(std::move(player));
}

bool DirectPlayObject::idIsFreeLocked(DPID id) {
    return id != DPID_SYSMSG && findLocked(id) == nullptr;
}

DPID DirectPlayObject::newIdLocked() {
    // The other side may have named any ID: the count wraps around past those in use.
    do {
        ++m_highestId;
    } while (!idIsFreeLocked(m_highestId));
    return m_highestId;
}

void DirectPlayObject::queueLocked(DPID from, DPID to, QByteArray data) {
    m_queue.push_back(Queued{from, to, std::move(data)});
    for (const Player& player : m_players) {
        if (player.local && (to == 0 || player.id == to)) {
            signalLocked(player.event, 1);
        }
    }
}

void DirectPlayObject::signalLocked(const std::shared_ptr<AutoResetEvent>& event,
                                    std::size_t times) const {
    if (!event) {
        return;
    }
    for (std::size_t i = 0; i < times; ++i) {
        event->signal();
    }
}

void DirectPlayObject::dropRemotePlayersLocked() {
    std::vector<DPID> gone;
    std::erase_if(m_players, [&gone](const Player& p) {
        if (!p.local) {
            gone.push_back(p.id);
        }
        return !p.local;
    });
    for (const DPID id : gone) {
        queueLocked(DPID_SYSMSG, 0,
                    encodeDestroyPlayer(DestroyPlayerNotice{DPPLAYERTYPE_PLAYER, id}));
    }
}

void DirectPlayObject::resetSessionLocked() {
    m_session = wire::Session();
    m_peerJoined = false;
    m_lostNoticed = false;
    m_players.clear();
    m_highestId = 0;
    m_queue.clear();
    m_pendingPlayers.clear();
}

DirectPlayObject::Clock::time_point DirectPlayObject::replyDeadline() const {
    return Clock::now() +
           std::max<Clock::duration>(kReplyWait,
                                     std::chrono::milliseconds(m_provider->defaultTimeoutMs()));
}

}  // namespace velmora
