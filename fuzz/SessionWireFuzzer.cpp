// The session service's messages. Half of the inputs go to the message decoder alone: what it
// reads, written and read again, gives the same bytes, and no message cut short reads. The other
// half run a session object, as host or as caller, over a line played by the script: the script
// greets it, answers its requests, hands it any message (raw, or well-formed with fuzzed
// fields), lets the line go down and come up again, and works its players in between. Whatever
// the other side says, the object lists every player once and queues as system notices only
// notices it made itself.

#include "FuzzSupport.h"

#include "session/SystemMessages.h"
#include "session/service/SessionEngine.h"
#include "session/service/SessionWire.h"

#include <set>
#include <vector>

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

DPNAME nameFrom(FuzzInput& input) {
    return {input.flag(), QString::fromLatin1(input.chunk(12))};
}

// A session engine, as host or as caller, over a line played by the script: the script greets
// it, answers its requests, hands it any message (raw, or well-formed with fuzzed fields), lets
// the line go down and come up again, moves the clock, and works its players in between.
class SessionScript {
public:
    explicit SessionScript(FuzzInput& input) : m_input(input) {}

    void run() {
        if (m_input.flag()) {
            m_engine.host(sessionFrom());
            m_engine.lineStarted();
            greet();
        } else {
            m_engine.lineStarted();
            greet();
            join();
        }
        for (int ops = 0; ops < 64 && !m_input.atEnd(); ++ops) {
            step();
            carry();
            checkPlayers();
        }
        receiveAll();
        m_engine.close();
        check(m_engine.players(false).empty(), "a closed engine has no players");
    }

private:
    // What the engine sent, decoded, as the driver would hand it to the line; then what waited
    // for it.
    std::vector<wire::Message> carry() {
        std::vector<wire::Message> sent;
        for (const QByteArray& bytes : m_engine.takeOutgoing()) {
            const auto message = wire::decode(bytes);
            check(message.has_value(), "everything the engine sends reads");
            sent.push_back(*message);
        }
        m_engine.outgoingSent();
        m_engine.takeWakeups();
        return sent;
    }

    void deliver(const QByteArray& bytes) {
        if (m_up) {
            m_engine.lineMessage(bytes);
        }
    }

    void greet() {
        if (m_up) {
            return;
        }
        m_up = true;
        m_engine.lineUp();
        const std::uint32_t version = m_input.pick(8) == 0 ? m_input.u8() : wire::kVersion;
        m_engine.lineMessage(wire::encode(wire::Hello{wire::kMagic, version}));
    }

    void lineDown(LineDown reason) {
        m_up = false;
        m_engine.lineDown(reason);
        if (m_engine.wantsLineKept()) {
            m_engine.lineKept(m_input.flag());
        }
        if (m_engine.lineIsDead()) {
            // The driver drops a dead line; a caller brings up a new one.
            m_engine.lineGone();
            m_engine.lineStarted();
        }
    }

    wire::Session sessionFrom() {
        return {Guid{},
                kApplication,
                m_input.flag() ? DPSESSION_MIGRATEHOST : 0u,
                m_input.u8() % 4u,
                m_input.u8(),
                QString::fromLatin1(m_input.chunk(16))};
    }

    DPID someIdRaw() { return m_input.pick(4) == 0 ? m_input.u32() : m_input.u8(); }

    // The ID of a known player most of the time, else any.
    DPID someId() {
        const std::vector<wire::Player> players = m_engine.players(false);
        if (!players.empty() && m_input.pick(4) != 0) {
            return players[static_cast<std::size_t>(m_input.pick(static_cast<int>(players.size())))]
                .id;
        }
        return someIdRaw();
    }

    void join() {
        m_engine.awaitReady(m_now + 1000);
        const std::uint32_t serial = m_engine.requestJoin(Guid{}, m_now + 30000);
        for (const wire::Message& message : carry()) {
            if (const auto* request = std::get_if<wire::JoinRequest>(&message)) {
                wire::JoinReply reply{request->serial,
                                      m_input.pick(8) == 0 ? DPERR_NOSESSIONS : DP_OK,
                                      sessionFrom(),
                                      {}};
                for (int i = 0, n = m_input.pick(4); i < n; ++i) {
                    reply.players.append({someIdRaw(), nameFrom(m_input)});
                }
                deliver(wire::encode(reply));
            }
        }
        if (m_engine.answered(serial)) {
            m_engine.takeJoinResult(serial);
        }
    }

    void step() {
        switch (m_input.pick(14)) {
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
                bool toLine = false;
                m_engine.send(from, to, data.constData(), static_cast<std::uint32_t>(data.size()),
                              toLine);
                if (m_input.flag()) {
                    m_engine.sendCompleted(from, encodeSendComplete({from, to, 0, 1, DP_OK, 0}));
                }
                break;
            }
            case 8:
                receiveAll();
                break;
            case 9:
                m_engine.destroyLocalPlayer(someId());
                break;
            case 10:
                lineDown(static_cast<LineDown>(m_input.pick(3)));
                break;
            case 11:
                deliver(wire::encode(wire::Refuse{}));
                break;
            case 12:
                m_now += m_input.u16();
                m_engine.onTimer(m_now);
                break;
            default:
                greet();
                break;
        }
    }

    // The other side asks for the sessions and joins the one it was told of (or another).
    void joinAsCaller() {
        deliver(wire::encode(wire::EnumRequest{m_input.u8(), kApplication}));
        Guid instance;
        for (const wire::Message& message : carry()) {
            if (const auto* reply = std::get_if<wire::EnumReply>(&message)) {
                if (!reply->sessions.isEmpty()) {
                    instance = reply->sessions.front().instance;
                }
            }
        }
        if (m_input.pick(4) == 0) {
            instance.bytes[0] ^= 1;
        }
        deliver(wire::encode(wire::JoinRequest{m_input.u8(), instance}));
    }

    void createPlayer() {
        const DPNAME name = nameFrom(m_input);
        if (m_engine.role() == SessionEngine::Role::Host) {
            DPID id = 0;
            m_engine.createHostPlayer(name, nullptr, id);
            return;
        }
        const std::uint32_t serial = m_engine.requestPlayer(name, nullptr, m_now + 30000);
        for (const wire::Message& message : carry()) {
            if (const auto* request = std::get_if<wire::CreatePlayerRequest>(&message)) {
                if (m_input.pick(8) != 0) {
                    deliver(wire::encode(wire::CreatePlayerReply{
                        request->serial, m_input.pick(8) == 0 ? DPERR_NOTHOST : DP_OK,
                        someIdRaw()}));
                }
            }
        }
        if (m_engine.answered(serial)) {
            m_engine.takePlayerResult(serial);
        }
    }

    void receiveAll() {
        for (;;) {
            DPID from = 0;
            DPID to = 0;
            char data[64];
            std::uint32_t size = sizeof(data);
            const HRESULT result = m_engine.receive(from, to, data, size);
            if (result == DPERR_BUFFERTOOSMALL) {
                std::vector<char> larger(size);
                check(m_engine.receive(from, to, larger.data(), size) == DP_OK,
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
                check(false, "only the engine's own notices come from the system");
        }
    }

    // Every player once, none with the system's ID, and one on each side of the line at most.
    void checkPlayers() {
        std::set<DPID> ids;
        const std::vector<wire::Player> everyone = m_engine.players(false);
        for (const wire::Player& player : everyone) {
            check(ids.insert(player.id).second, "every player is listed once");
            check(player.id != DPID_SYSMSG, "no player has the system's ID");
        }
        const std::size_t remote = m_engine.players(true).size();
        check(remote <= 1, "one player on the other side at most");
        check(everyone.size() - remote <= 1, "one player on this side at most");
    }

    FuzzInput& m_input;
    SessionEngine m_engine;
    std::int64_t m_now = 0;
    bool m_up = false;  // the line is up and greeted
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
