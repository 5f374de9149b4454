#include "session/AutoResetEvent.h"
#include "session/SystemMessages.h"
#include "session/service/SessionEngine.h"
#include "session/service/SessionWire.h"

#include <gtest/gtest.h>

#include <memory>

namespace velmora::test {
namespace {

const Guid kApp = *Guid::fromString("{A2196E45-287F-4F8F-987A-382C87886EED}");
const Guid kInstance = *Guid::fromString("{0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0}");
constexpr std::int64_t kDeadline = 30000;

// Two engines joined by hand, on a virtual clock: what one gives for the line is handed to the
// other, as a driver would, until nothing moves any more.
struct EnginePair {
    SessionEngine host;
    SessionEngine caller;
    std::shared_ptr<AutoResetEvent> hostEvent = std::make_shared<AutoResetEvent>();
    std::shared_ptr<AutoResetEvent> callerEvent = std::make_shared<AutoResetEvent>();
    DPID hostId = 0;
    DPID callerId = 0;

    explicit EnginePair(std::uint32_t flags = DPSESSION_KEEPALIVE | DPSESSION_MIGRATEHOST) {
        host.host({kInstance, kApp, flags, 0, 0, QStringLiteral("Session")});
        EXPECT_EQ(host.createHostPlayer(DPNAME{true, QStringLiteral("Anna")}, hostEvent, hostId),
                  DP_OK);
        host.lineStarted();
        caller.lineStarted();
        host.lineUp();
        caller.lineUp();
        exchange();
    }

    // Moves messages both ways until both engines are quiet.
    void exchange() {
        for (bool moved = true; moved;) {
            moved = carry(host, caller) | carry(caller, host);
        }
    }
    static bool carry(SessionEngine& from, SessionEngine& to) {
        const std::vector<QByteArray> messages = from.takeOutgoing();
        from.outgoingSent();
        for (const QByteArray& message : messages) {
            to.lineMessage(message);
        }
        return !messages.empty();
    }

    void join() {
        ASSERT_EQ(caller.readyOutcome(), DP_OK);
        const std::uint32_t found = caller.requestSessions(kApp, kDeadline);
        exchange();
        ASSERT_TRUE(caller.answered(found));
        const QList<wire::Session> sessions = caller.takeSessions(found);
        ASSERT_EQ(sessions.size(), 1);
        const std::uint32_t joining = caller.requestJoin(sessions.first().instance, kDeadline);
        exchange();
        ASSERT_EQ(caller.takeJoinResult(joining), DP_OK);
        const std::uint32_t player =
            caller.requestPlayer(DPNAME{true, QStringLiteral("Bob")}, callerEvent, kDeadline);
        exchange();
        const auto [result, id] = caller.takePlayerResult(player);
        ASSERT_EQ(result, DP_OK);
        callerId = id;
        EXPECT_EQ(nextNotice(host), DPSYS_CREATEPLAYERORGROUP);
    }

    // The type of the next queued system notice; 0 when none is queued.
    static std::uint32_t nextNotice(SessionEngine& engine) {
        DPID from = 1;
        DPID to = 0;
        QByteArray buffer(256, '\0');
        auto size = static_cast<std::uint32_t>(buffer.size());
        if (engine.receive(from, to, buffer.data(), size) != DP_OK) {
            return 0;
        }
        EXPECT_EQ(from, DPID_SYSMSG);
        return systemMessageType(buffer.left(static_cast<qsizetype>(size))).value_or(0);
    }
    static std::vector<std::uint32_t> notices(SessionEngine& engine) {
        std::vector<std::uint32_t> types;
        while (const std::uint32_t type = nextNotice(engine)) {
            types.push_back(type);
        }
        return types;
    }
};

using Notices = std::vector<std::uint32_t>;

TEST(SessionEngine, JoinsOnlyAfterTheGreetingAndTheHostGivesOutTheIds) {
    EnginePair pair;
    pair.join();
    EXPECT_NE(pair.callerId, pair.hostId);
    EXPECT_NE(pair.callerId, DPID_SYSMSG);
    ASSERT_EQ(pair.caller.players(true).size(), 1U);
    EXPECT_EQ(pair.caller.players(true).front().id, pair.hostId);

    // Data both ways, to the addressed local player only.
    bool toLine = false;
    EXPECT_EQ(pair.host.send(pair.hostId, pair.callerId, "ping", 4, toLine), DP_OK);
    EXPECT_TRUE(toLine);
    EXPECT_EQ(pair.host.send(pair.hostId + 40, pair.callerId, "ping", 4, toLine),
              DPERR_INVALIDPARAMS);
    pair.caller.lineMessage(wire::encodeData(pair.hostId, pair.callerId, "ping", 4));
    DPID from = 0;
    DPID to = 0;
    std::uint32_t size = 0;
    EXPECT_EQ(pair.caller.receive(from, to, nullptr, size), DPERR_BUFFERTOOSMALL);
    EXPECT_EQ(size, 4U);
    char bytes[4];
    ASSERT_EQ(pair.caller.receive(from, to, bytes, size), DP_OK);
    EXPECT_EQ(from, pair.hostId);
    EXPECT_EQ(to, pair.callerId);
    EXPECT_EQ(QByteArray(bytes, 4), QByteArray("ping"));
    // One wake-up per queued message of a player, none for the other side's.
    EXPECT_FALSE(pair.caller.takeWakeups().empty());
}

TEST(SessionEngine, DataThatOvertakesTheCallersPlayerWaitsForIt) {
    EnginePair pair;
    const std::uint32_t found = pair.caller.requestSessions(kApp, kDeadline);
    pair.exchange();
    const std::uint32_t joining =
        pair.caller.requestJoin(pair.caller.takeSessions(found).first().instance, kDeadline);
    pair.exchange();
    ASSERT_EQ(pair.caller.takeJoinResult(joining), DP_OK);
    const std::uint32_t player =
        pair.caller.requestPlayer(DPNAME{true, QStringLiteral("Bob")}, pair.callerEvent, kDeadline);
    EnginePair::carry(pair.caller, pair.host);
    // The host's reply with Bob's ID is on its line; a chat line to everybody overtakes it.
    const std::vector<QByteArray> reply = pair.host.takeOutgoing();
    pair.host.outgoingSent();
    pair.caller.lineMessage(wire::encodeData(pair.hostId, DPID_ALLPLAYERS, "chat", 4));
    for (const QByteArray& message : reply) {
        pair.caller.lineMessage(message);
    }
    pair.exchange();
    const auto [result, id] = pair.caller.takePlayerResult(player);
    ASSERT_EQ(result, DP_OK);
    // Nothing is lost: after the notices, the chat line waits for Bob.
    DPID from = 0;
    DPID to = 0;
    QByteArray buffer(64, '\0');
    bool delivered = false;
    for (int i = 0; i < 8 && !delivered; ++i) {
        auto size = static_cast<std::uint32_t>(buffer.size());
        if (pair.caller.receive(from, to, buffer.data(), size) != DP_OK) {
            break;
        }
        delivered = from == pair.hostId && buffer.left(static_cast<qsizetype>(size)) == "chat";
    }
    EXPECT_TRUE(delivered);
    EXPECT_EQ(to, id);
}

TEST(SessionEngine, WaitsEndOnTheVirtualClock) {
    SessionEngine caller;
    caller.lineStarted();
    caller.awaitReady(5000);
    EXPECT_EQ(caller.nextDeadlineMs(), 5000);
    caller.onTimer(4999);
    EXPECT_FALSE(caller.readyOutcome());
    caller.onTimer(5000);
    EXPECT_EQ(caller.readyOutcome(), DPERR_NOCONNECTION);
    EXPECT_FALSE(caller.nextDeadlineMs());

    // An unanswered join fails at its deadline, and a late answer is dropped.
    EnginePair pair;
    const std::uint32_t joining = pair.caller.requestJoin(kInstance, 1000 + kDeadline);
    pair.host.takeOutgoing();  // the host never hears of it
    std::vector<QByteArray> request = pair.caller.takeOutgoing();
    ASSERT_EQ(request.size(), 1U);
    pair.caller.onTimer(1000 + kDeadline - 1);
    EXPECT_FALSE(pair.caller.answered(joining));
    pair.caller.onTimer(1000 + kDeadline);
    ASSERT_TRUE(pair.caller.answered(joining));
    EXPECT_EQ(pair.caller.takeJoinResult(joining), DPERR_CONNECTIONLOST);
    pair.host.lineMessage(request.front());
    pair.exchange();
    EXPECT_EQ(pair.caller.role(), SessionEngine::Role::None);

    // A line that goes down answers what waits at once.
    const std::uint32_t asking = pair.caller.requestSessions(kApp, kDeadline);
    pair.caller.lineDown(LineDown::Lost);
    EXPECT_TRUE(pair.caller.answered(asking));
    EXPECT_TRUE(pair.caller.takeSessions(asking).isEmpty());
    EXPECT_EQ(pair.caller.readyOutcome(), DPERR_CONNECTIONLOST);
}

TEST(SessionEngine, WhenTheHostLeavesTheCallerHostsOnItsLineOrLosesTheSession) {
    {
        EnginePair pair;
        pair.join();
        pair.caller.lineDown(LineDown::PeerClosed);
        ASSERT_TRUE(pair.caller.wantsLineKept());
        pair.caller.lineKept(true);
        EXPECT_EQ(pair.caller.role(), SessionEngine::Role::Host);
        EXPECT_EQ(EnginePair::notices(pair.caller),
                  (Notices{DPSYS_DESTROYPLAYERORGROUP, DPSYS_HOST}));
        // The next caller finds the session on the same line.
        SessionEngine next;
        next.lineStarted();
        pair.caller.lineUp();
        next.lineUp();
        for (int i = 0; i < 3; ++i) {
            EnginePair::carry(pair.caller, next);
            EnginePair::carry(next, pair.caller);
        }
        const std::uint32_t found = next.requestSessions(kApp, kDeadline);
        for (int i = 0; i < 2; ++i) {
            EnginePair::carry(next, pair.caller);
            EnginePair::carry(pair.caller, next);
        }
        ASSERT_EQ(next.takeSessions(found).size(), 1);
    }
    {
        // A modem line after the hang-up cannot wait for a call: the session is lost.
        EnginePair pair;
        pair.join();
        pair.caller.lineDown(LineDown::PeerClosed);
        ASSERT_TRUE(pair.caller.wantsLineKept());
        pair.caller.lineKept(false);
        EXPECT_EQ(pair.caller.role(), SessionEngine::Role::Caller);
        EXPECT_TRUE(pair.caller.lineIsDead());
        EXPECT_EQ(EnginePair::notices(pair.caller),
                  (Notices{DPSYS_DESTROYPLAYERORGROUP, DPSYS_SESSIONLOST}));
    }
}

TEST(SessionEngine, AHelloOfAnotherVersionMidSessionLosesTheSessionOnBothSides) {
    EnginePair pair;
    pair.join();
    pair.host.lineMessage(wire::encode(wire::Hello{wire::kMagic, wire::kVersion + 1}));
    pair.exchange();
    EXPECT_EQ(EnginePair::notices(pair.host),
              (Notices{DPSYS_DESTROYPLAYERORGROUP, DPSYS_SESSIONLOST}));
    EXPECT_EQ(EnginePair::notices(pair.caller),
              (Notices{DPSYS_DESTROYPLAYERORGROUP, DPSYS_SESSIONLOST}));
    bool toLine = false;
    EXPECT_EQ(pair.caller.send(pair.callerId, DPID_ALLPLAYERS, "text", 4, toLine), DP_OK);
    EXPECT_FALSE(toLine) << "nobody is left to send to";
}

TEST(SessionEngine, ARefusedCallerLeavesTheWaitingHostAsItWas) {
    EnginePair pair;
    // The link refuses a caller of another version: the host keeps its session and its line.
    pair.host.lineDown(LineDown::Refused);
    ASSERT_TRUE(pair.host.wantsLineKept());
    pair.host.lineKept(true);
    EXPECT_EQ(pair.host.role(), SessionEngine::Role::Host);
    EXPECT_TRUE(EnginePair::notices(pair.host).empty()) << "no session lost";
    EXPECT_FALSE(pair.host.lineIsDead());

    // A caller of another session version is refused, and the host waits on.
    pair.host.lineUp();
    pair.host.takeOutgoing();
    pair.host.lineMessage(wire::encode(wire::Hello{wire::kMagic, 7}));
    pair.host.takeOutgoing();
    pair.host.outgoingSent();
    pair.host.lineDown(LineDown::PeerClosed);
    EXPECT_FALSE(pair.host.wantsLineKept());
    EXPECT_TRUE(EnginePair::notices(pair.host).empty());
    EXPECT_FALSE(pair.host.lineIsDead());

    // The joining side hears why.
    SessionEngine caller;
    caller.lineStarted();
    caller.lineUp();
    caller.awaitReady(kDeadline);
    caller.lineMessage(wire::encode(wire::Refuse{wire::kMagic, 7}));
    EXPECT_EQ(caller.readyOutcome(), DPERR_INCOMPATIBLEPEER);
}

TEST(SessionEngine, ACallerCannotInventPlayers) {
    EnginePair pair;
    pair.join();
    const std::size_t players = pair.host.players(false).size();
    // An announcement from the caller, with a free ID or the host's own name, is refused.
    pair.host.lineMessage(wire::encode(wire::PlayerCreated{{77, {true, QStringLiteral("Anna")}}}));
    pair.host.lineMessage(wire::encode(wire::Data{77, pair.hostId, "forged"}));
    EXPECT_EQ(pair.host.players(false).size(), players);
    EXPECT_TRUE(EnginePair::notices(pair.host).empty()) << "no player, no message from it";
    // A second player for the same line is refused.
    pair.host.lineMessage(
        wire::encode(wire::CreatePlayerRequest{99, {true, QStringLiteral("Twin")}}));
    const std::vector<QByteArray> reply = pair.host.takeOutgoing();
    ASSERT_EQ(reply.size(), 1U);
    const auto decoded = wire::decode(reply.front());
    ASSERT_TRUE(decoded && std::holds_alternative<wire::CreatePlayerReply>(*decoded));
    EXPECT_NE(std::get<wire::CreatePlayerReply>(*decoded).result, DP_OK);
    EXPECT_EQ(pair.host.players(false).size(), players);

    // A player of a peer that vanished does not stay beside the next peer's.
    pair.host.lineDown(LineDown::Lost);
    pair.host.lineGone();
    pair.host.lineStarted();
    pair.host.lineUp();
    EXPECT_TRUE(pair.host.players(true).empty());

    // The caller takes no second player of the host either.
    pair.caller.lineMessage(wire::encode(wire::PlayerCreated{{55, {true, QStringLiteral("Hal")}}}));
    EXPECT_EQ(pair.caller.players(true).size(), 1U);
    EXPECT_TRUE(EnginePair::notices(pair.caller).empty());
}

}  // namespace
}  // namespace velmora::test
