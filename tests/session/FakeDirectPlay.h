#pragma once

// A scripted session service for the component's tests: it records what the component asks for
// and queues the messages a test posts, signalling the player's event as a real service does.

#include "session/AutoResetEvent.h"
#include "session/Transport.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <cstring>
#include <deque>
#include <memory>
#include <mutex>

namespace velmora::test {

struct SentMessage {
    DPID from = 0;
    DPID to = 0;
    std::uint32_t flags = 0;
    QByteArray data;
};

struct RecordedElement {
    Guid type;
    QByteArray data;
};

// What one fake session object does and what it saw; shared by the test and the object.
struct FakeScript {
    HRESULT initializeResult = DP_OK;
    HRESULT enumResult = DP_OK;
    QString refusalText;  // what RefusalText answers
    QList<DPSESSIONDESC2> sessions;
    HRESULT openResult = DP_OK;
    HRESULT createPlayerResult = DP_OK;
    DPID nextPlayerId = 1000;
    QList<QPair<DPID, QString>> remotePlayers;
    std::uint32_t capsFlags = 0;
    HRESULT playerAddressResult = DP_OK;
    QByteArray playerAddress;  // what GetPlayerAddress(0) answers

    // Seen.
    QByteArray address;
    DPSESSIONDESC2 openedDesc;
    std::uint32_t openFlags = 0;
    DPNAME playerName;
    int enumSessionsCalls = 0;
    int getPlayerAddressCalls = 0;
    QList<DPID> destroyed;
    int closes = 0;
    int receives = 0;

    std::mutex mutex;  // guards what follows: touched by senders and posting threads
    std::deque<std::pair<DPID, QByteArray>> queue;
    std::shared_ptr<AutoResetEvent> event;
    QList<SentMessage> sent;

    // Queues a message for the local player, as the line's thread of a real service would.
    void post(DPID from, const QByteArray& data) {
        std::shared_ptr<AutoResetEvent> toSignal;
        {
            const std::lock_guard lock(mutex);
            queue.emplace_back(from, data);
            toSignal = event;
        }
        if (toSignal) {
            toSignal->signal();
        }
    }
    qsizetype queued() {
        const std::lock_guard lock(mutex);
        return queue.size();
    }
    QList<SentMessage> sentMessages() {
        const std::lock_guard lock(mutex);
        return sent;
    }
};

class FakeDirectPlay : public IDirectPlay4 {
public:
    explicit FakeDirectPlay(std::shared_ptr<FakeScript> script) : m_script(std::move(script)) {}

    HRESULT InitializeConnection(const void* address, std::uint32_t) override {
        std::uint32_t total = 0;
        std::memcpy(&total, static_cast<const char*>(address) + 20, 4);
        m_script->address = QByteArray(static_cast<const char*>(address), total);
        return m_script->initializeResult;
    }
    HRESULT EnumSessions(const DPSESSIONDESC2& desc, std::uint32_t, const EnumSessionsCallback& cb,
                         std::uint32_t) override {
        ++m_script->enumSessionsCalls;
        for (const auto& session : m_script->sessions) {
            if (session.guidApplication == desc.guidApplication && !cb(&session, 0)) {
                return m_script->enumResult;
            }
        }
        cb(nullptr, DPESC_TIMEDOUT);
        return m_script->enumResult;
    }
    HRESULT Open(const DPSESSIONDESC2& desc, std::uint32_t flags) override {
        m_script->openedDesc = desc;
        m_script->openFlags = flags;
        return m_script->openResult;
    }
    HRESULT CreatePlayer(DPID* id, const DPNAME& name, std::shared_ptr<AutoResetEvent> event,
                         std::uint32_t) override {
        m_script->playerName = name;
        if (m_script->createPlayerResult != DP_OK) {
            return m_script->createPlayerResult;
        }
        *id = m_script->nextPlayerId;
        bool pending = false;
        {
            const std::lock_guard lock(m_script->mutex);
            m_script->event = std::move(event);
            pending = !m_script->queue.empty();
        }
        if (pending) {
            m_script->event->signal();
        }
        return DP_OK;
    }
    HRESULT EnumPlayers(const EnumPlayersCallback& cb, std::uint32_t) override {
        for (const auto& [id, name] : m_script->remotePlayers) {
            cb(id, DPNAME{!name.isEmpty(), name});
        }
        return DP_OK;
    }
    HRESULT Receive(DPID* from, DPID* to, std::uint32_t, void* data, std::uint32_t* size) override {
        const std::lock_guard lock(m_script->mutex);
        ++m_script->receives;
        if (m_script->queue.empty()) {
            return DPERR_NOMESSAGES;
        }
        const auto& [sender, bytes] = m_script->queue.front();
        if (*size < static_cast<std::uint32_t>(bytes.size())) {
            *size = static_cast<std::uint32_t>(bytes.size());
            return DPERR_BUFFERTOOSMALL;
        }
        *from = sender;
        *to = m_script->nextPlayerId;
        *size = static_cast<std::uint32_t>(bytes.size());
        std::memcpy(data, bytes.constData(), bytes.size());
        m_script->queue.pop_front();
        return DP_OK;
    }
    HRESULT Send(DPID from, DPID to, std::uint32_t flags, const void* data,
                 std::uint32_t size) override {
        const std::lock_guard lock(m_script->mutex);
        m_script->sent.append({from, to, flags, QByteArray(static_cast<const char*>(data), size)});
        return DP_OK;
    }
    HRESULT SendEx(DPID from, DPID to, std::uint32_t flags, const void* data, std::uint32_t size,
                   std::uint32_t, std::uint32_t, void*, std::uint32_t*) override {
        return Send(from, to, flags, data, size);
    }
    HRESULT DestroyPlayer(DPID id) override {
        m_script->destroyed.append(id);
        return DP_OK;
    }
    HRESULT Close() override {
        ++m_script->closes;
        const std::lock_guard lock(m_script->mutex);
        m_script->event.reset();
        return DP_OK;
    }
    HRESULT GetCaps(DPCAPS* caps, std::uint32_t) override {
        caps->dwFlags = m_script->capsFlags;
        return DP_OK;
    }
    QString RefusalText() const override { return m_script->refusalText; }
    HRESULT GetPlayerAddress(DPID, void* data, std::uint32_t* size) override {
        ++m_script->getPlayerAddressCalls;
        if (m_script->playerAddressResult != DP_OK) {
            return m_script->playerAddressResult;
        }
        const auto needed = static_cast<std::uint32_t>(m_script->playerAddress.size());
        if (!data || *size < needed) {
            *size = needed;
            return DPERR_BUFFERTOOSMALL;
        }
        std::memcpy(data, m_script->playerAddress.constData(), needed);
        return DP_OK;
    }

private:
    std::shared_ptr<FakeScript> m_script;
};

// Addresses in the service's layout: a total-size element, then the elements given.
class FakeLobby : public IDirectPlayLobby {
public:
    HRESULT CreateCompoundAddress(const DPCOMPOUNDADDRESSELEMENT* elements, std::uint32_t count,
                                  void* address, std::uint32_t* size) override {
        QByteArray out;
        const auto append = [&out](const Guid& type, const void* data, std::uint32_t length) {
            out.append(reinterpret_cast<const char*>(type.bytes.data()), 16);
            out.append(reinterpret_cast<const char*>(&length), 4);
            out.append(static_cast<const char*>(data), length);
        };
        const std::uint32_t total = 24;
        std::uint32_t whole = total;
        for (std::uint32_t i = 0; i < count; ++i) {
            whole += 20 + elements[i].dwDataSize;
        }
        append(guids::AddressTotalSize, &whole, 4);
        for (std::uint32_t i = 0; i < count; ++i) {
            append(elements[i].guidDataType, elements[i].lpData, elements[i].dwDataSize);
        }
        if (!address || *size < whole) {
            *size = whole;
            return DPERR_BUFFERTOOSMALL;
        }
        std::memcpy(address, out.constData(), whole);
        return DP_OK;
    }
    HRESULT EnumAddress(const EnumAddressCallback& cb, const void* address,
                        std::uint32_t size) override {
        const auto* bytes = static_cast<const char*>(address);
        for (std::uint32_t at = 0; at + 20 <= size;) {
            Guid type;
            std::memcpy(type.bytes.data(), bytes + at, 16);
            std::uint32_t length = 0;
            std::memcpy(&length, bytes + at + 16, 4);
            if (at + 20 + length > size) {
                return DPERR_INVALIDPARAMS;
            }
            if (!cb(type, length, bytes + at + 20)) {
                break;
            }
            at += 20 + length;
        }
        return DP_OK;
    }

    static QList<RecordedElement> split(const QByteArray& address) {
        QList<RecordedElement> elements;
        FakeLobby().EnumAddress(
            [&elements](const Guid& type, std::uint32_t length, const void* data) {
                elements.append({type, QByteArray(static_cast<const char*>(data), length)});
                return true;
            },
            address.constData(), static_cast<std::uint32_t>(address.size()));
        return elements;
    }
};

class FakeSystem : public IDirectPlaySystem {
public:
    std::shared_ptr<FakeScript> script = std::make_shared<FakeScript>();
    QList<QPair<Guid, QString>> providers{{guids::ServiceProviderModem, "Modem Connection"},
                                          {guids::ServiceProviderSerial, "Serial Connection"}};
    bool lobbyFails = false;
    int enumerations = 0;

    HRESULT DirectPlayEnumerate(const EnumProvidersCallback& cb) override {
        ++enumerations;
        for (const auto& [guid, name] : providers) {
            if (!cb(guid, name)) {
                break;
            }
        }
        return DP_OK;
    }
    std::unique_ptr<IDirectPlayLobby> DirectPlayLobbyCreate() override {
        return lobbyFails ? nullptr : std::make_unique<FakeLobby>();
    }
    std::unique_ptr<IDirectPlay4> CreateTransport() override {
        return std::make_unique<FakeDirectPlay>(script);
    }
    std::unique_ptr<IDirectPlay4> DirectPlayCreate(const Guid&) override {
        return std::make_unique<FakeDirectPlay>(script);
    }
};

}  // namespace velmora::test
