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
constexpr std::int64_t kReplyWaitMs = 30000;
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
    void sendAll(const std::vector<QByteArray>& messages) {
        for (const QByteArray& message : messages) {
            if (!send(message)) {
                return;
            }
        }
    }
    void close() { m_line->close(); }
    bool keepForNextPeer() { return m_line->keepForNextPeer(); }
    QString refusalText() const { return m_line->refusalText(); }

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
        if (m_engine.role() != SessionEngine::Role::None) {
            return DPERR_ALREADYINITIALIZED;
        }
    }
    const HRESULT connected = connectIfNeeded();
    if (connected != DP_OK) {
        return connected;
    }
    const std::int64_t deadline =
        nowMs() + (timeoutMs != 0 ? timeoutMs : m_provider->defaultTimeoutMs());
    const HRESULT ready = waitReady(deadline);
    QList<wire::Session> sessions;
    if (ready == DP_OK) {
        std::unique_lock lock(m_mutex);
        const std::uint32_t serial = m_engine.requestSessions(desc.guidApplication, deadline);
        flush(lock);
        if (!waitAnswer(lock, serial)) {
            return DPERR_USERCANCEL;
        }
        sessions = m_engine.takeSessions(serial);
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
        if (m_engine.role() != SessionEngine::Role::None) {
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
        m_engine.lineGone();
        ++m_generation;
    }
    if (previous) {
        previous->close();
        previous.reset();
    }
    if (cancelled()) {
        return DPERR_USERCANCEL;
    }
    std::unique_ptr<Line> line;
    const HRESULT listening = m_provider->listen(line);
    if (listening != DP_OK) {
        return listening;
    }
    if (!line) {
        return DPERR_GENERIC;
    }
    wire::Session session;
    session.instance = randomGuid();
    session.application = desc.guidApplication;
    session.flags = desc.dwFlags;
    session.maxPlayers = desc.dwMaxPlayers;
    session.name = desc.sessionName;
    std::shared_ptr<Link> link;
    {
        const std::lock_guard lock(m_mutex);
        if (m_cancelled) {
            return DPERR_USERCANCEL;  // the line closes unused
        }
        m_engine.host(session);
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
    std::int64_t deadline = 0;
    {
        const std::lock_guard lock(m_mutex);
        deadline = replyDeadlineLocked();
    }
    const HRESULT ready = waitReady(deadline);
    if (ready != DP_OK) {
        return ready;
    }
    std::unique_lock lock(m_mutex);
    const std::uint32_t serial = m_engine.requestJoin(desc.guidInstance, deadline);
    flush(lock);
    if (!waitAnswer(lock, serial)) {
        return DPERR_USERCANCEL;
    }
    return m_engine.takeJoinResult(serial);
}

HRESULT DirectPlayObject::connectIfNeeded() {
    dropDeadLine();
    {
        const std::lock_guard lock(m_mutex);
        if (m_link) {
            return DP_OK;
        }
    }
    if (cancelled()) {
        return DPERR_USERCANCEL;
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
        if (m_cancelled) {
            return DPERR_USERCANCEL;  // the line closes unused
        }
        link = installLocked(std::move(line));
    }
    link->start();
    return DP_OK;
}

HRESULT DirectPlayObject::waitReady(std::int64_t deadlineMs) {
    HRESULT outcome = DP_OK;
    {
        std::unique_lock lock(m_mutex);
        m_engine.awaitReady(deadlineMs);
        if (!waitUntil(lock, [this] { return m_engine.readyOutcome().has_value(); })) {
            return DPERR_USERCANCEL;
        }
        outcome = *m_engine.readyOutcome();
    }
    if (outcome == DPERR_INCOMPATIBLEPEER || outcome == DPERR_CONNECTIONLOST) {
        // The caller is the one to hang up on a peer of another version.
        dropDeadLine();
    }
    return outcome;
}

bool DirectPlayObject::waitAnswer(std::unique_lock<std::mutex>& lock, std::uint32_t serial) {
    if (waitUntil(lock, [this, serial] { return m_engine.answered(serial); })) {
        return true;
    }
    m_engine.forget(serial);
    return false;
}

bool DirectPlayObject::waitUntil(std::unique_lock<std::mutex>& lock,
                                 const std::function<bool()>& condition) {
    for (;;) {
        m_engine.onTimer(nowMs());
        if (m_cancelled) {
            return false;
        }
        if (condition()) {
            return true;
        }
        const std::optional<std::int64_t> deadline = m_engine.nextDeadlineMs();
        const std::int64_t waitMs =
            deadline ? std::max<std::int64_t>(*deadline - nowMs(), 0) : kReplyWaitMs;
        m_changed.wait_for(lock, std::chrono::milliseconds(waitMs));
    }
}

void DirectPlayObject::dropDeadLine() {
    std::shared_ptr<Link> dead;
    std::vector<std::shared_ptr<Link>> retired;
    {
        const std::lock_guard lock(m_mutex);
        retired = std::move(m_retired);
        if (m_link && m_engine.lineIsDead()) {
            dead = std::move(m_link);
            m_engine.lineGone();
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
    if (m_engine.role() == SessionEngine::Role::Host) {
        const HRESULT created = m_engine.createHostPlayer(name, std::move(event), *id);
        flush(lock);
        return created;
    }
    // A caller's player gets its ID from the host.
    const std::uint32_t serial =
        m_engine.requestPlayer(name, std::move(event), replyDeadlineLocked());
    flush(lock);
    if (!waitAnswer(lock, serial)) {
        return DPERR_USERCANCEL;
    }
    const auto [result, newId] = m_engine.takePlayerResult(serial);
    if (result == DP_OK) {
        *id = newId;
    }
    return result;
}

HRESULT DirectPlayObject::EnumPlayers(const EnumPlayersCallback& callback, std::uint32_t flags) {
    if (!callback) {
        return DPERR_INVALIDPARAMS;
    }
    std::vector<wire::Player> players;
    {
        const std::lock_guard lock(m_mutex);
        if (m_engine.role() == SessionEngine::Role::None) {
            return DPERR_NOCONNECTION;
        }
        players = m_engine.players((flags & DPENUMPLAYERS_REMOTE) != 0);
    }
    for (const wire::Player& player : players) {
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
    return m_engine.receive(*from, *to, data, *size);
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
    const std::int64_t started = nowMs();
    std::uint32_t id = 0;
    {
        const std::lock_guard lock(m_mutex);
        id = m_nextMessageId++;
    }
    if (messageId != nullptr) {
        *messageId = id;
    }
    const HRESULT result = sendData(from, to, flags, data, size);
    const auto elapsed = static_cast<std::uint32_t>(nowMs() - started);
    std::unique_lock lock(m_mutex);
    m_engine.sendCompleted(
        from, encodeSendComplete(SendCompleteNotice{from, to, flags, id, result, elapsed}));
    flush(lock);
    return DP_OK;
}

HRESULT DirectPlayObject::sendData(DPID from, DPID to, std::uint32_t flags, const void* data,
                                   std::uint32_t size) {
    if ((data == nullptr && size > 0) || size > kMaxMessageSize) {
        return DPERR_INVALIDPARAMS;
    }
    std::shared_ptr<Link> link;
    {
        std::unique_lock lock(m_mutex);
        bool toLine = false;
        const HRESULT checked = m_engine.send(from, to, data, size, toLine);
        flush(lock);
        if (checked != DP_OK || !toLine) {
            return checked;
        }
        link = m_link;
        if (!link) {
            return DPERR_CONNECTIONLOST;
        }
    }
    return link->send(wire::encodeData(from, to, data, size), (flags & DPSEND_INTERACTIVE) != 0)
               ? DP_OK
               : DPERR_CONNECTIONLOST;
}

HRESULT DirectPlayObject::DestroyPlayer(DPID id) {
    std::unique_lock lock(m_mutex);
    const HRESULT destroyed = m_engine.destroyLocalPlayer(id);
    flush(lock);
    return destroyed;
}

HRESULT DirectPlayObject::Close() {
    std::shared_ptr<Link> link;
    std::vector<std::shared_ptr<Link>> retired;
    {
        const std::lock_guard lock(m_mutex);
        link = std::move(m_link);
        retired = std::move(m_retired);
        ++m_generation;
        m_cancelled = true;
        m_engine.close();
        wakeWaitsLocked();
    }
    if (link) {
        link->close();
    }
    return DP_OK;
}

void DirectPlayObject::CancelWait() {
    {
        const std::lock_guard lock(m_mutex);
        m_cancelled = true;
        wakeWaitsLocked();
    }
    // The provider may be bringing a line up (dialling) on another thread.
    if (m_provider) {
        m_provider->cancelConnect();
    }
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
    std::unique_lock lock(m_mutex);
    if (link.generation != m_generation) {
        return;
    }
    m_refusalText.clear();
    m_engine.lineUp();
    flush(lock);
}

void DirectPlayObject::onLineMessage(Link& link, const QByteArray& bytes) {
    std::unique_lock lock(m_mutex);
    if (link.generation != m_generation) {
        return;
    }
    m_engine.lineMessage(bytes);
    flush(lock);
}

void DirectPlayObject::onLineDown(Link& link, LineDown reason) {
    const QString refusal = reason == LineDown::Refused ? link.refusalText() : QString();
    std::unique_lock lock(m_mutex);
    if (link.generation != m_generation) {
        return;
    }
    if (!refusal.isEmpty()) {
        m_refusalText = refusal;
    }
    m_engine.lineDown(reason);
    if (m_engine.wantsLineKept()) {
        // The same line waits for the next peer: no port is opened again and nobody is asked.
        lock.unlock();
        const bool kept = link.keepForNextPeer();
        lock.lock();
        if (link.generation != m_generation) {
            return;
        }
        m_engine.lineKept(kept);
    }
    flush(lock);
}

QString DirectPlayObject::RefusalText() const {
    const std::lock_guard lock(m_mutex);
    return m_refusalText;
}

std::shared_ptr<DirectPlayObject::Link> DirectPlayObject::installLocked(
    std::unique_ptr<Line> line) {
    if (m_link) {
        m_retired.push_back(std::move(m_link));  // never destroyed with the mutex held
    }
    m_link = std::make_shared<Link>(*this, ++m_generation, std::move(line));
    m_engine.lineStarted();
    return m_link;
}

void DirectPlayObject::flush(std::unique_lock<std::mutex>& lock) {
    for (const std::shared_ptr<AutoResetEvent>& event : m_engine.takeWakeups()) {
        event->signal();
    }
    const std::vector<QByteArray> outgoing = m_engine.takeOutgoing();
    if (!outgoing.empty() && m_link) {
        std::shared_ptr<Link> link = m_link;
        lock.unlock();
        link->sendAll(outgoing);
        lock.lock();
        if (link->generation == m_generation) {
            m_engine.outgoingSent();
            for (const std::shared_ptr<AutoResetEvent>& event : m_engine.takeWakeups()) {
                event->signal();
            }
        } else if (link.use_count() == 1) {
            // Replaced or closed meanwhile, and this is its last owner: this may be its own
            // line's thread, where destroying it would wait for that thread itself.
            m_retired.push_back(std::move(link));
        }
    }
    wakeWaitsLocked();
}

void DirectPlayObject::wakeWaitsLocked() {
    m_changed.notify_all();
}

bool DirectPlayObject::cancelled() const {
    const std::lock_guard lock(m_mutex);
    return m_cancelled;
}

std::int64_t DirectPlayObject::nowMs() const {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                 m_epoch)
        .count();
}

std::int64_t DirectPlayObject::replyDeadlineLocked() const {
    return nowMs() + std::max<std::int64_t>(kReplyWaitMs, m_provider->defaultTimeoutMs());
}

}  // namespace velmora
