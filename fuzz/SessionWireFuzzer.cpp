// The session service's messages. Half of the inputs go to the message decoder alone: what it
// reads, written and read again, gives the same bytes, and no message cut short reads. The other
// half run a session object, as host or as caller, over a line played by the script: the script
// greets it, answers its requests, hands it any message (raw, or well-formed with fuzzed
// fields), lets the line go down and come up again, and works its players in between. Whatever
// the other side says, the object lists every player once and queues as system notices only
// notices it made itself.

#include "FuzzSupport.h"

#include "session/SystemMessages.h"
#include "session/service/DirectPlayObject.h"
#include "session/service/SessionWire.h"

#include <condition_variable>
#include <functional>
#include <mutex>
#include <set>
#include <thread>

using namespace velmora;
using velmora::fuzz::check;
using velmora::fuzz::FuzzInput;

namespace {

const Guid kApplication = *Guid::fromString("{A2196E45-287F-4F8F-987A-382C87886EED}");

void fuzzDecoder(FuzzInput& input) {
    const QByteArray bytes = input.rest();
    const auto message = wire::decode(bytes);
    if (!message) {
        return;
    }
    const QByteArray written = wire::encode(*message);
    const auto again = wire::decode(written);
    check(again && again->index() == message->index(), "a written message reads back");
    check(wire::encode(*again) == written, "a message written twice gives the same bytes");
    if (!std::holds_alternative<wire::Data>(*message)) {
        for (qsizetype length = 0; length < written.size(); ++length) {
            check(!wire::decode(written.left(length)), "no message cut short reads");
        }
    }
}

// The line the script plays: it remembers the listener and what the object sends.
struct LineState {
    std::mutex mutex;
    std::condition_variable changed;
    LineListener* listener = nullptr;
    int generation = 0;      // lines started so far
    bool listening = false;  // the present line waits for callers, as a host's does
    std::vector<QByteArray> sent;
};

class ScriptLine final : public Line {
public:
    ScriptLine(std::shared_ptr<LineState> state, bool listening)
        : m_state(std::move(state)), m_listening(listening) {}

    void start(LineListener* listener) override {
        const std::lock_guard lock(m_state->mutex);
        m_state->listener = listener;
        m_state->listening = m_listening;
        ++m_state->generation;
        m_state->changed.notify_all();
    }
    bool send(const QByteArray& message) override {
        const std::lock_guard lock(m_state->mutex);
        m_state->sent.push_back(message);
        m_state->changed.notify_all();
        return true;
    }
    void close() override {}

private:
    std::shared_ptr<LineState> m_state;
    bool m_listening;
};

class ScriptProvider final : public ServiceProvider {
public:
    explicit ScriptProvider(std::shared_ptr<LineState> state) : m_state(std::move(state)) {}

    HRESULT initialize(const Address&) override { return DP_OK; }
    std::uint32_t defaultTimeoutMs() const override { return 1000; }
    HRESULT connect(std::unique_ptr<Line>& line) override {
        line = std::make_unique<ScriptLine>(m_state, false);
        return DP_OK;
    }
    HRESULT listen(std::unique_ptr<Line>& line) override {
        line = std::make_unique<ScriptLine>(m_state, true);
        return DP_OK;
    }
    HRESULT modemNames(QStringList&) override { return DP_OK; }

private:
    std::shared_ptr<LineState> m_state;
};

DPNAME nameFrom(FuzzInput& input) {
    return {input.flag(), QString::fromLatin1(input.chunk(12))};
}

class SessionScript {
public:
    explicit SessionScript(FuzzInput& input)
        : m_input(input),
          m_line(std::make_shared<LineState>()),
          m_object(std::make_unique<ScriptProvider>(m_line)) {}

    void run() {
        DPSESSIONDESC2 desc;
        desc.guidApplication = kApplication;
        desc.dwFlags = m_input.flag() ? DPSESSION_MIGRATEHOST : 0;
        desc.dwMaxPlayers = m_input.pick(4);
        desc.sessionName = QStringLiteral("fuzz");
        if (m_input.flag()) {
            check(m_object.Open(desc, DPOPEN_CREATE) == DP_OK, "hosting starts");
            greet();
        } else {
            join(desc);
        }
        for (int ops = 0; ops < 48 && !m_input.atEnd(); ++ops) {
            step();
            checkPlayers();
        }
        receiveAll();
        m_object.Close();
    }

private:
    // The present line's listener and generation.
    std::pair<LineListener*, int> line() {
        const std::lock_guard lock(m_line->mutex);
        return {m_line->listener, m_line->generation};
    }

    bool lineIsUp() {
        const auto [listener, generation] = line();
        return listener != nullptr && m_upGeneration == generation;
    }

    // The line comes up (again) and the other side greets, as a line does only when it is not
    // up and has not ended.
    void greet() {
        const auto [listener, generation] = line();
        if (listener == nullptr || m_upGeneration == generation ||
            m_endedGeneration == generation) {
            return;
        }
        m_upGeneration = generation;
        listener->lineUp();
        listener->lineMessage(wire::encode(wire::Hello{}));
    }

    void lineDown(LineDown reason) {
        const auto [listener, generation] = line();
        if (listener == nullptr || m_endedGeneration == generation) {
            return;
        }
        bool listening = false;
        {
            const std::lock_guard lock(m_line->mutex);
            listening = m_line->listening;
        }
        m_upGeneration = 0;
        // Only a host's line waits for the next caller after a goodbye.
        if (reason != LineDown::PeerClosed || !listening) {
            m_endedGeneration = generation;
        }
        listener->lineDown(reason);
    }

    void deliver(const QByteArray& bytes) {
        if (lineIsUp()) {
            line().first->lineMessage(bytes);
        }
    }

    // Runs an operation that waits for the other side on a thread of its own, the script
    // answering on this one (the line's) as the other side would. When greetFirst, the line
    // comes up as soon as the operation has started it.
    void whileAnswering(const std::function<void()>& operation,
                        const std::function<void(const wire::Message&)>& answer,
                        bool greetFirst = false) {
        bool done = false;
        std::size_t seen = 0;
        {
            const std::lock_guard lock(m_line->mutex);
            seen = m_line->sent.size();
        }
        std::thread worker([&] {
            operation();
            const std::lock_guard lock(m_line->mutex);
            done = true;
            m_line->changed.notify_all();
        });
        if (greetFirst) {
            {
                std::unique_lock lock(m_line->mutex);
                m_line->changed.wait(lock, [&] { return done || m_line->listener != nullptr; });
            }
            greet();
        }
        for (;;) {
            std::vector<QByteArray> fresh;
            {
                std::unique_lock lock(m_line->mutex);
                m_line->changed.wait(lock, [&] { return done || m_line->sent.size() > seen; });
                fresh.assign(m_line->sent.begin() + static_cast<std::ptrdiff_t>(seen),
                             m_line->sent.end());
                seen = m_line->sent.size();
                if (fresh.empty() && done) {
                    break;
                }
            }
            for (const QByteArray& bytes : fresh) {
                if (const auto message = wire::decode(bytes)) {
                    answer(*message);
                }
            }
        }
        worker.join();
    }

    wire::Session sessionFrom() {
        return {Guid{},
                kApplication,
                m_input.flag() ? DPSESSION_MIGRATEHOST : 0u,
                m_input.u8() % 4u,
                m_input.u8(),
                QString::fromLatin1(m_input.chunk(16))};
    }

    // The ID of a known player most of the time, else any.
    DPID someId() {
        std::vector<DPID> ids;
        m_object.EnumPlayers(
            [&ids](DPID id, const DPNAME&) {
                ids.push_back(id);
                return true;
            },
            0);
        if (!ids.empty() && m_input.pick(4) != 0) {
            return ids[static_cast<std::size_t>(m_input.pick(static_cast<int>(ids.size())))];
        }
        return m_input.pick(4) == 0 ? m_input.u32() : m_input.u8();
    }

    void join(const DPSESSIONDESC2& desc) {
        whileAnswering([&] { m_object.Open(desc, DPOPEN_JOIN); },
                       [&](const wire::Message& message) {
                           if (std::holds_alternative<wire::Hello>(message)) {
                               return;
                           }
                           if (const auto* request = std::get_if<wire::JoinRequest>(&message)) {
                               wire::JoinReply reply{
                                   request->serial,
                                   m_input.pick(8) == 0 ? DPERR_NOSESSIONS : DP_OK,
                                   sessionFrom(),
                                   {}};
                               for (int i = 0, n = m_input.pick(4); i < n; ++i) {
                                   reply.players.append({someIdRaw(), nameFrom(m_input)});
                               }
                               deliver(wire::encode(reply));
                           }
                       },
                       true);
    }

    DPID someIdRaw() { return m_input.pick(4) == 0 ? m_input.u32() : m_input.u8(); }

    void step() {
        switch (m_input.pick(12)) {
            case 0:
                deliver(m_input.chunk(200));
                break;
            case 1:
                deliver(wire::encode(wire::PlayerCreated{{someId(), nameFrom(m_input)}}));
                break;
            case 2:
                deliver(wire::encode(wire::PlayerDestroyed{someId()}));
                break;
            case 3: {
                const DPID from = someId();
                const DPID to = m_input.flag() ? DPID_ALLPLAYERS : someId();
                deliver(wire::encodeData(from, to, "data", 4));
                break;
            }
            case 4:
                joinAsCaller();
                break;
            case 5:
                deliver(wire::encode(wire::CreatePlayerRequest{m_input.u8(), nameFrom(m_input)}));
                break;
            case 6:
                createPlayer();
                break;
            case 7: {
                const DPID from = someId();
                const DPID to = m_input.flag() ? DPID_ALLPLAYERS : someId();
                const QByteArray data = m_input.chunk(32);
                if (m_input.flag()) {
                    m_object.Send(from, to, DPSEND_GUARANTEED, data.constData(),
                                  static_cast<std::uint32_t>(data.size()));
                } else {
                    m_object.SendEx(from, to, DPSEND_ASYNC, data.constData(),
                                    static_cast<std::uint32_t>(data.size()), 0, 0, nullptr,
                                    nullptr);
                }
                break;
            }
            case 8:
                receiveAll();
                break;
            case 9:
                m_object.DestroyPlayer(someId());
                break;
            case 10:
                lineDown(static_cast<LineDown>(m_input.pick(3)));
                break;
            default:
                greet();
                break;
        }
    }

    // The other side asks for the sessions and joins the one it was told of (or another).
    void joinAsCaller() {
        std::size_t before = 0;
        {
            const std::lock_guard lock(m_line->mutex);
            before = m_line->sent.size();
        }
        deliver(wire::encode(wire::EnumRequest{m_input.u8(), kApplication}));
        Guid instance;
        {
            const std::lock_guard lock(m_line->mutex);
            for (std::size_t i = before; i < m_line->sent.size(); ++i) {
                const auto reply = wire::decode(m_line->sent[i]);
                if (reply && std::holds_alternative<wire::EnumReply>(*reply) &&
                    !std::get<wire::EnumReply>(*reply).sessions.isEmpty()) {
                    instance = std::get<wire::EnumReply>(*reply).sessions.front().instance;
                }
            }
        }
        if (m_input.pick(4) == 0) {
            instance.bytes[0] ^= 1;
        }
        deliver(wire::encode(wire::JoinRequest{m_input.u8(), instance}));
    }

    void createPlayer() {
        DPID id = 0;
        const DPNAME name = nameFrom(m_input);
        whileAnswering(
            [&] { m_object.CreatePlayer(&id, name, nullptr, 0); },
            [&](const wire::Message& message) {
                if (const auto* request = std::get_if<wire::CreatePlayerRequest>(&message)) {
                    deliver(wire::encode(wire::CreatePlayerReply{
                        request->serial, m_input.pick(8) == 0 ? DPERR_NOTHOST : DP_OK,
                        someIdRaw()}));
                }
            });
    }

    void receiveAll() {
        for (;;) {
            DPID from = 0;
            DPID to = 0;
            char data[64];
            std::uint32_t size = sizeof(data);
            const HRESULT result = m_object.Receive(&from, &to, DPRECEIVE_ALL, data, &size);
            if (result == DPERR_BUFFERTOOSMALL) {
                std::vector<char> larger(size);
                check(m_object.Receive(&from, &to, DPRECEIVE_ALL, larger.data(), &size) == DP_OK,
                      "a message is received with the size asked for");
                checkReceived(from, {larger.data(), size});
                continue;
            }
            if (result != DP_OK) {
                return;
            }
            checkReceived(from, {data, size});
        }
    }

    static void checkReceived(DPID from, SystemMessageBytes message) {
        if (from != DPID_SYSMSG) {
            return;
        }
        const auto type = systemMessageType(message);
        check(type.has_value(), "a system notice has a type");
        switch (*type) {
            case DPSYS_CREATEPLAYERORGROUP:
                check(decodeCreatePlayer(message).has_value(), "a player notice reads");
                break;
            case DPSYS_DESTROYPLAYERORGROUP:
                check(decodeDestroyPlayer(message).has_value(), "a player notice reads");
                break;
            case DPSYS_SENDCOMPLETE:
                check(decodeSendComplete(message).has_value(), "a send notice reads");
                break;
            case DPSYS_SESSIONLOST:
            case DPSYS_HOST:
                break;
            default:
                check(false, "only the object's own notices come from the system");
        }
    }

    void checkPlayers() {
        std::set<DPID> ids;
        m_object.EnumPlayers(
            [&ids](DPID id, const DPNAME&) {
                check(ids.insert(id).second, "every player is listed once");
                return true;
            },
            0);
    }

    FuzzInput& m_input;
    std::shared_ptr<LineState> m_line;
    int m_upGeneration = 0;     // the line that is up; 0: none
    int m_endedGeneration = 0;  // a line that has ended for good
    DirectPlayObject m_object;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzInput input(data, size);
    if (input.flag()) {
        fuzzDecoder(input);
    } else {
        SessionScript(input).run();
    }
    return 0;
}
