#include "ServicePeer.h"

#include "session/SystemMessages.h"
#include "session/service/MemoryProvider.h"

#include <QtEndian>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace velmora::test {
namespace {

using Side = MemoryCable::Side;

// A memory provider that counts how often it was asked to bring up a line.
struct CountingEntry {
    std::shared_ptr<std::atomic<int>> connects = std::make_shared<std::atomic<int>>(0);

    ProviderEntry entry(const MemoryCable& cable, Side side) const {
        class Counting : public MemoryProvider {
        public:
            Counting(MemoryCable cable, Side side, std::shared_ptr<std::atomic<int>> connects)
                : MemoryProvider(std::move(cable), side), m_connects(std::move(connects)) {}
            HRESULT connect(std::unique_ptr<Line>& line) override {
                ++*m_connects;
                return MemoryProvider::connect(line);
            }

        private:
            std::shared_ptr<std::atomic<int>> m_connects;
        };
        ProviderEntry counted = cable.providerEntry(side);
        counted.create = [cable, side, connects = connects] {
            return std::make_unique<Counting>(cable, side, connects);
        };
        return counted;
    }
};

// A message whose bytes tell its sender's tag, its number and its size apart.
QByteArray numbered(std::uint32_t tag, std::uint32_t number, int size) {
    QByteArray bytes(size, '\0');
    for (int i = 0; i < size; ++i) {
        bytes[i] = static_cast<char>((number * 31 + i) & 0xFF);
    }
    if (size >= 8) {
        qToLittleEndian(tag, bytes.data());
        qToLittleEndian(number, bytes.data() + 4);
    }
    return bytes;
}

std::uint32_t numberOf(const QByteArray& bytes) {
    return qFromLittleEndian<std::uint32_t>(bytes.constData() + 4);
}

std::uint32_t tagOf(const QByteArray& bytes) {
    return qFromLittleEndian<std::uint32_t>(bytes.constData());
}

// The sizes of the messages of the ordering test: mostly small, some at block sizes, a few of
// the largest file block with its header.
int sizeOf(std::uint32_t number) {
    if (number % 400 == 399) {
        return 1048587;
    }
    if (number % 50 == 7) {
        return 65536 + 11;
    }
    return 4 + static_cast<int>((number * 37) % 700);
}

// Takes what arrives at either side, waiting on their events, until `done` holds.
void receiveBoth(JoinedPair& pair, const std::function<void(const Received&)>& atHost,
                 const std::function<void(const Received&)>& atCaller,
                 const std::function<bool()>& done) {
    while (!done()) {
        AutoResetEvent::waitAny(pair.host.event(), pair.caller.event());
        while (const auto m = pair.host.tryReceive()) {
            atHost(*m);
        }
        while (const auto m = pair.caller.tryReceive()) {
            atCaller(*m);
        }
    }
}

TEST(SessionService, EnumeratesAndJoinsAndBothSidesLearnThePlayers) {
    MemoryCable cable;
    CountingEntry counting;
    ServicePeer host({cable.providerEntry(Side::A)}, guids::ServiceProviderMemory);
    ServicePeer caller({counting.entry(cable, Side::B)}, guids::ServiceProviderMemory);

    ASSERT_EQ(host.host(QStringLiteral("VelmoraSession"), 0), DP_OK);
    ASSERT_EQ(host.createPlayer(QStringLiteral("Anna")), DP_OK);
    EXPECT_TRUE(host.remotePlayers().isEmpty());

    QList<DPSESSIONDESC2> sessions;
    ASSERT_EQ(caller.enumerate(sessions), DP_OK);
    ASSERT_EQ(sessions.size(), 1);
    EXPECT_EQ(sessions[0].sessionName, QStringLiteral("VelmoraSession"));
    EXPECT_EQ(sessions[0].guidApplication, kApplication);
    EXPECT_FALSE(sessions[0].guidInstance.isNull());
    EXPECT_EQ(sessions[0].dwFlags, DPSESSION_KEEPALIVE | DPSESSION_MIGRATEHOST);
    EXPECT_EQ(sessions[0].dwCurrentPlayers, 1U);

    // Enumerating again over the line that is up asks the host again without a new connect.
    ASSERT_EQ(caller.enumerate(sessions), DP_OK);
    ASSERT_EQ(sessions.size(), 1);
    EXPECT_EQ(counting.connects->load(), 1);

    DPSESSIONDESC2 join;
    join.dwSize = 80;
    join.guidInstance = sessions[0].guidInstance;
    join.guidApplication = kApplication;
    ASSERT_EQ(caller.dp().Open(join, DPOPEN_JOIN), DP_OK);
    EXPECT_EQ(counting.connects->load(), 1);
    // Joined before its own player exists: the host's player is known already.
    const auto hostPlayers = caller.remotePlayers();
    ASSERT_EQ(hostPlayers.size(), 1);
    EXPECT_EQ(hostPlayers[0], std::make_pair(host.id(), QStringLiteral("Anna")));

    host.event().tryTake();  // what earlier notices signalled
    ASSERT_EQ(caller.createPlayer(QString::fromUtf8("B\u00f6b \u20ac")), DP_OK);
    EXPECT_NE(caller.id(), 0U);
    EXPECT_NE(caller.id(), host.id());
    // The host's event is signalled for the notice (without it, this waits until the test's
    // time is up), and the notice is there once it is.
    host.event().wait();
    const std::optional<Received> received = host.tryReceive();
    ASSERT_TRUE(received);
    const Received& created = *received;
    EXPECT_EQ(created.from, DPID_SYSMSG);
    EXPECT_EQ(created.to, host.id());
    const auto notice = decodeCreatePlayer(created.data);
    ASSERT_TRUE(notice);
    EXPECT_EQ(notice->id, caller.id());
    EXPECT_EQ(notice->name.shortName, QString::fromUtf8("B\u00f6b \u20ac"));
    EXPECT_EQ(notice->currentPlayers, 2U);

    const auto callerPlayers = host.remotePlayers();
    ASSERT_EQ(callerPlayers.size(), 1);
    EXPECT_EQ(callerPlayers[0].first, caller.id());
    // Nothing about its own player is queued for the caller.
    EXPECT_FALSE(caller.tryReceive());

    // Without the remote flag every player is listed.
    int all = 0;
    EXPECT_EQ(caller.dp().EnumPlayers([&all](DPID, const DPNAME&) { return ++all > 0; }, 0), DP_OK);
    EXPECT_EQ(all, 2);
}

TEST(SessionService, EnumerationReportsOnlySessionsOfTheSameApplication) {
    MemoryCable cable;
    ServicePeer host({cable.providerEntry(Side::A)}, guids::ServiceProviderMemory);
    ServicePeer caller({cable.providerEntry(Side::B)}, guids::ServiceProviderMemory);

    // Nobody at the other end: the enumeration times out with nothing found.
    QList<DPSESSIONDESC2> sessions;
    ASSERT_EQ(caller.enumerate(sessions, 100), DP_OK);
    EXPECT_TRUE(sessions.isEmpty());

    // A host of another application answers, with no session of ours.
    ASSERT_EQ(host.host(QStringLiteral("Elsewhere"), 0, kOtherApplication), DP_OK);
    ASSERT_EQ(caller.enumerate(sessions, 30000), DP_OK);
    EXPECT_TRUE(sessions.isEmpty());
    // Under its own application GUID the same session is found.
    ASSERT_EQ(caller.enumerate(sessions, 30000, kOtherApplication), DP_OK);
    ASSERT_EQ(sessions.size(), 1);
    EXPECT_EQ(sessions[0].sessionName, QStringLiteral("Elsewhere"));

    // A join with an instance GUID that is not the host's is refused.
    DPSESSIONDESC2 wrong;
    wrong.guidInstance = kApplication;
    EXPECT_NE(caller.dp().Open(wrong, DPOPEN_JOIN), DP_OK);
}

TEST(SessionService, OperationsOutsideASessionFail) {
    MemoryCable cable;
    SessionService service({cable.providerEntry(Side::A)});
    const auto unbound = service.CreateTransport();
    DPSESSIONDESC2 desc;
    EXPECT_EQ(unbound->Open(desc, DPOPEN_CREATE), DPERR_UNINITIALIZED);
    EXPECT_EQ(unbound->EnumSessions(
                  desc, 10, [](const DPSESSIONDESC2*, std::uint32_t) { return true; }, 0),
              DPERR_UNINITIALIZED);

    ServicePeer peer({cable.providerEntry(Side::A)}, guids::ServiceProviderMemory);
    DPID id = 0;
    EXPECT_EQ(peer.dp().CreatePlayer(&id, DPNAME{}, nullptr, 0), DPERR_NOCONNECTION);
    const char data[4] = {};
    EXPECT_EQ(peer.dp().Send(1, DPID_ALLPLAYERS, DPSEND_GUARANTEED, data, 4), DPERR_NOCONNECTION);
    EXPECT_FALSE(peer.tryReceive());

    // Hosting alone: sending to all goes nowhere and succeeds; a foreign sender is refused.
    ASSERT_EQ(peer.host(QStringLiteral("Alone")), DP_OK);
    EXPECT_EQ(peer.host(QStringLiteral("Twice")), DPERR_ALREADYINITIALIZED);
    ASSERT_EQ(peer.createPlayer(QStringLiteral("Anna")), DP_OK);
    EXPECT_EQ(peer.dp().Send(peer.id(), DPID_ALLPLAYERS, DPSEND_GUARANTEED, data, 4), DP_OK);
    EXPECT_EQ(peer.dp().Send(peer.id() + 7, DPID_ALLPLAYERS, DPSEND_GUARANTEED, data, 4),
              DPERR_INVALIDPARAMS);
    EXPECT_EQ(peer.dp().Send(peer.id(), peer.id() + 7, DPSEND_GUARANTEED, data, 4),
              DPERR_INVALIDPARAMS);
    EXPECT_FALSE(peer.tryReceive());

    DPCAPS caps;
    EXPECT_EQ(peer.dp().GetCaps(&caps, 0), DP_OK);
    EXPECT_NE(caps.dwFlags & DPCAPS_ASYNCSUPPORTED, 0U);
}

TEST(SessionService, ReceiveKeepsAMessageThatDoesNotFit) {
    JoinedPair pair;
    const QByteArray sent = numbered(1, 2, 100);
    ASSERT_EQ(pair.caller.dp().Send(pair.caller.id(), pair.host.id(), DPSEND_GUARANTEED,
                                    sent.constData(), 100),
              DP_OK);
    DPID from = 0;
    DPID to = 0;
    for (std::uint32_t needed = 0; pair.host.dp().Receive(&from, &to, DPRECEIVE_ALL, nullptr,
                                                          &needed) != DPERR_BUFFERTOOSMALL;) {
        pair.host.event().wait();
    }
    QByteArray buffer(10, '\0');
    std::uint32_t size = 10;
    EXPECT_EQ(pair.host.dp().Receive(&from, &to, DPRECEIVE_ALL, buffer.data(), &size),
              DPERR_BUFFERTOOSMALL);
    EXPECT_EQ(size, 100U);
    buffer.resize(200);
    size = 200;
    ASSERT_EQ(pair.host.dp().Receive(&from, &to, DPRECEIVE_ALL, buffer.data(), &size), DP_OK);
    EXPECT_EQ(size, 100U);
    EXPECT_EQ(from, pair.caller.id());
    EXPECT_EQ(to, pair.host.id());
    EXPECT_EQ(buffer.left(100), sent);
    size = 200;
    EXPECT_EQ(pair.host.dp().Receive(&from, &to, DPRECEIVE_ALL, buffer.data(), &size),
              DPERR_NOMESSAGES);
}

TEST(SessionService, MessagesArriveWholeAndInOrderBothWays) {
    JoinedPair pair;
    constexpr std::uint32_t kCount = 2000;
    const auto sender = [](ServicePeer& from, DPID to, std::uint32_t tag) {
        for (std::uint32_t n = 0; n < kCount; ++n) {
            const QByteArray message = numbered(tag, n, sizeOf(n));
            ASSERT_EQ(from.dp().Send(from.id(), to, DPSEND_GUARANTEED, message.constData(),
                                     static_cast<std::uint32_t>(message.size())),
                      DP_OK);
        }
    };
    std::thread hostSends(sender, std::ref(pair.host), DPID_ALLPLAYERS, 1);
    std::thread callerSends(sender, std::ref(pair.caller), pair.host.id(), 2);

    std::uint32_t atHost = 0;
    std::uint32_t atCaller = 0;
    receiveBoth(
        pair,
        [&](const Received& m) {
            EXPECT_EQ(m.from, pair.caller.id());
            EXPECT_EQ(m.data, numbered(2, atHost, sizeOf(atHost))) << "message " << atHost;
            ++atHost;
        },
        [&](const Received& m) {
            EXPECT_EQ(m.from, pair.host.id());
            EXPECT_EQ(m.to, pair.caller.id());
            EXPECT_EQ(m.data, numbered(1, atCaller, sizeOf(atCaller))) << "message " << atCaller;
            ++atCaller;
        },
        [&] { return atHost >= kCount && atCaller >= kCount; });
    hostSends.join();
    callerSends.join();
    EXPECT_EQ(atHost, kCount);
    EXPECT_EQ(atCaller, kCount);
    EXPECT_FALSE(pair.host.tryReceive());
    EXPECT_FALSE(pair.caller.tryReceive());
}

TEST(SessionService, SendsFromSeveralThreadsKeepEachThreadsOrder) {
    JoinedPair pair(16 * 1024);
    constexpr std::uint32_t kThreads = 4;
    constexpr std::uint32_t kEach = 400;
    std::vector<std::thread> threads;
    for (std::uint32_t t = 0; t < kThreads; ++t) {
        threads.emplace_back([&pair, t] {
            for (std::uint32_t n = 0; n < kEach; ++n) {
                const QByteArray message = numbered(t, n, 8 + static_cast<int>(n % 300));
                EXPECT_EQ(pair.caller.dp().Send(pair.caller.id(), DPID_ALLPLAYERS,
                                                DPSEND_GUARANTEED, message.constData(),
                                                static_cast<std::uint32_t>(message.size())),
                          DP_OK);
            }
        });
    }
    // The host answers at the same time from its own thread.
    threads.emplace_back([&pair] {
        for (std::uint32_t n = 0; n < kEach; ++n) {
            const QByteArray message = numbered(9, n, 64);
            EXPECT_EQ(pair.host.dp().Send(pair.host.id(), pair.caller.id(), DPSEND_GUARANTEED,
                                          message.constData(), 64),
                      DP_OK);
        }
    });
    std::vector<std::uint32_t> next(kThreads, 0);
    std::uint32_t total = 0;
    std::uint32_t answers = 0;
    receiveBoth(
        pair,
        [&](const Received& m) {
            const std::uint32_t tag = tagOf(m.data);
            ASSERT_LT(tag, kThreads);
            EXPECT_EQ(m.data, numbered(tag, next[tag], 8 + static_cast<int>(next[tag] % 300)));
            ++next[tag];
            ++total;
        },
        [&](const Received& m) {
            EXPECT_EQ(numberOf(m.data), answers);
            ++answers;
        },
        [&] { return total >= kThreads * kEach && answers >= kEach; });
    for (auto& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(total, kThreads * kEach);
    EXPECT_EQ(answers, kEach);
}

TEST(SessionService, OnePlayerASideWhoseComingAndGoingTheOtherSideNotices) {
    JoinedPair pair;
    DPID second = 0;
    EXPECT_EQ(pair.host.dp().CreatePlayer(&second, DPNAME{true, QStringLiteral("Cleo")},
                                          std::make_shared<AutoResetEvent>(), 0),
              DPERR_INVALIDPARAMS);
    EXPECT_EQ(pair.caller.dp().CreatePlayer(&second, DPNAME{true, QStringLiteral("Cleo")},
                                            std::make_shared<AutoResetEvent>(), 0),
              DPERR_INVALIDPARAMS);

    // A message to all reaches the other player and not the sender.
    const QByteArray hello = numbered(5, 5, 12);
    ASSERT_EQ(pair.caller.dp().Send(pair.caller.id(), DPID_ALLPLAYERS, DPSEND_GUARANTEED,
                                    hello.constData(), 12),
              DP_OK);
    const Received first = pair.host.receive();
    EXPECT_EQ(first.data, hello);
    EXPECT_EQ(first.to, pair.host.id());
    EXPECT_FALSE(pair.caller.tryReceive());

    // The host's player goes and comes back under a new ID.
    const DPID anna = pair.host.id();
    ASSERT_EQ(pair.host.dp().DestroyPlayer(anna), DP_OK);
    const auto destroyed = decodeDestroyPlayer(pair.caller.receive().data);
    ASSERT_TRUE(destroyed);
    EXPECT_EQ(destroyed->id, anna);
    EXPECT_TRUE(pair.caller.remotePlayers().isEmpty());
    EXPECT_EQ(pair.host.dp().DestroyPlayer(anna), DPERR_INVALIDPARAMS);
    ASSERT_EQ(pair.host.createPlayer(QStringLiteral("Cleo")), DP_OK);
    const auto created = decodeCreatePlayer(pair.caller.receive().data);
    ASSERT_TRUE(created);
    EXPECT_EQ(created->id, pair.host.id());
    EXPECT_EQ(created->name.shortName, QStringLiteral("Cleo"));
    EXPECT_EQ(pair.caller.remotePlayers().size(), 1);
}

TEST(SessionService, CallerLeavesAndANewCallerJoinsTheSameSession) {
    JoinedPair pair;
    const DPID leaving = pair.caller.id();
    pair.caller.leave();
    const auto destroyed = decodeDestroyPlayer(pair.host.receive().data);
    ASSERT_TRUE(destroyed);
    EXPECT_EQ(destroyed->id, leaving);
    EXPECT_TRUE(pair.host.remotePlayers().isEmpty());
    EXPECT_FALSE(pair.host.tryReceive()) << "a graceful leave is not a lost session";

    ServicePeer next({pair.cable.providerEntry(Side::B)}, guids::ServiceProviderMemory);
    ASSERT_EQ(next.join(), DP_OK);
    ASSERT_EQ(next.createPlayer(QStringLiteral("Dora")), DP_OK);
    EXPECT_NE(next.id(), leaving);
    const auto created = decodeCreatePlayer(pair.host.receive().data);
    ASSERT_TRUE(created);
    EXPECT_EQ(created->id, next.id());

    const QByteArray message = numbered(3, 4, 40);
    ASSERT_EQ(pair.host.dp().Send(pair.host.id(), DPID_ALLPLAYERS, DPSEND_GUARANTEED,
                                  message.constData(), 40),
              DP_OK);
    EXPECT_EQ(next.receive().data, message);
}

TEST(SessionService, CallerBecomesHostWhenTheHostLeaves) {
    JoinedPair pair;
    const DPID oldHost = pair.host.id();
    pair.host.leave();

    const Received destroyed = pair.caller.receive();
    EXPECT_EQ(destroyed.from, DPID_SYSMSG);
    ASSERT_TRUE(decodeDestroyPlayer(destroyed.data));
    EXPECT_EQ(decodeDestroyPlayer(destroyed.data)->id, oldHost);
    const Received host = pair.caller.receive();
    EXPECT_EQ(systemMessageType(host.data), DPSYS_HOST);
    EXPECT_TRUE(pair.caller.remotePlayers().isEmpty());

    // The new host waits for callers on its side of the cable; one comes from the other side.
    ServicePeer next({pair.cable.providerEntry(Side::A)}, guids::ServiceProviderMemory);
    ASSERT_EQ(next.join(), DP_OK);
    ASSERT_EQ(next.createPlayer(QStringLiteral("Emil")), DP_OK);
    const auto players = next.remotePlayers();
    ASSERT_EQ(players.size(), 1);
    EXPECT_EQ(players[0].first, pair.caller.id());
    const auto created = decodeCreatePlayer(pair.caller.receive().data);
    ASSERT_TRUE(created);
    EXPECT_EQ(created->id, next.id());
    EXPECT_NE(next.id(), pair.caller.id());
}

TEST(SessionService, CutLineLosesTheSessionOnBothSides) {
    JoinedPair pair;
    pair.cable.cut();
    EXPECT_EQ(systemMessageType(pair.host.receive().data), DPSYS_SESSIONLOST);
    EXPECT_EQ(systemMessageType(pair.caller.receive().data), DPSYS_SESSIONLOST);
    const char data[4] = {};
    EXPECT_EQ(pair.caller.dp().Send(pair.caller.id(), DPID_ALLPLAYERS, DPSEND_GUARANTEED, data, 4),
              DPERR_CONNECTIONLOST);
    EXPECT_FALSE(pair.host.tryReceive()) << "the loss is noticed once";
}

// A provider whose line cannot be brought up: the user cancels, or the line is busy.
class FailingProvider : public MemoryProvider {
public:
    FailingProvider(MemoryCable cable, HRESULT result)
        : MemoryProvider(std::move(cable), Side::B), m_result(result) {}
    HRESULT connect(std::unique_ptr<Line>&) override { return m_result; }

private:
    HRESULT m_result;
};

TEST(SessionService, AFailedConnectIsReportedUnchanged) {
    MemoryCable cable;
    for (const HRESULT result : {DPERR_USERCANCEL, DPERR_NOCONNECTION, HRESULT{0x12345}}) {
        ProviderEntry entry = cable.providerEntry(Side::B);
        entry.create = [cable, result] { return std::make_unique<FailingProvider>(cable, result); };
        ServicePeer caller({entry}, guids::ServiceProviderMemory);
        QList<DPSESSIONDESC2> sessions;
        EXPECT_EQ(caller.enumerate(sessions, 50), result);
        DPSESSIONDESC2 join;
        EXPECT_EQ(caller.dp().Open(join, DPOPEN_JOIN), result);
    }
}

TEST(SessionService, WithoutMigrationTheCallerLosesTheSessionWhenTheHostLeaves) {
    MemoryCable cable;
    ServicePeer host({cable.providerEntry(Side::A)}, guids::ServiceProviderMemory);
    ServicePeer caller({cable.providerEntry(Side::B)}, guids::ServiceProviderMemory);
    ASSERT_EQ(host.host(QStringLiteral("Fixed"), 0, kApplication, DPSESSION_KEEPALIVE), DP_OK);
    ASSERT_EQ(host.createPlayer(QStringLiteral("Anna")), DP_OK);
    ASSERT_EQ(caller.join(), DP_OK);
    ASSERT_EQ(caller.createPlayer(QStringLiteral("Bob")), DP_OK);
    host.leave();
    EXPECT_EQ(systemMessageType(caller.receive().data), DPSYS_DESTROYPLAYERORGROUP);
    EXPECT_EQ(systemMessageType(caller.receive().data), DPSYS_SESSIONLOST);
    EXPECT_FALSE(caller.tryReceive());
}

TEST(SessionService, AFullSessionTakesNoCaller) {
    MemoryCable cable;
    ServicePeer host({cable.providerEntry(Side::A)}, guids::ServiceProviderMemory);
    ServicePeer caller({cable.providerEntry(Side::B)}, guids::ServiceProviderMemory);
    ASSERT_EQ(host.host(QStringLiteral("Single"), 1), DP_OK);
    ASSERT_EQ(host.createPlayer(QStringLiteral("Anna")), DP_OK);
    QList<DPSESSIONDESC2> sessions;
    ASSERT_EQ(caller.enumerate(sessions), DP_OK);
    ASSERT_EQ(sessions.size(), 1);
    EXPECT_EQ(sessions[0].dwMaxPlayers, 1U);
    DPSESSIONDESC2 join;
    join.guidInstance = sessions[0].guidInstance;
    EXPECT_EQ(caller.dp().Open(join, DPOPEN_JOIN), DPERR_NOSESSIONS);
    DPID id = 0;
    EXPECT_EQ(caller.dp().CreatePlayer(&id, DPNAME{}, nullptr, 0), DPERR_NOCONNECTION);
}

TEST(SessionService, AsynchronousSendReportsItsCompletion) {
    JoinedPair pair;
    const QByteArray message = numbered(1, 1, 16);
    std::uint32_t messageId = 0;
    ASSERT_EQ(
        pair.caller.dp().SendEx(pair.caller.id(), pair.host.id(), DPSEND_GUARANTEED | DPSEND_ASYNC,
                                message.constData(), 16, 0, 0, nullptr, &messageId),
        DP_OK);
    const auto done = decodeSendComplete(pair.caller.receive().data);
    ASSERT_TRUE(done);
    EXPECT_EQ(done->idFrom, pair.caller.id());
    EXPECT_EQ(done->idTo, pair.host.id());
    EXPECT_EQ(done->msgId, messageId);
    EXPECT_EQ(done->hr, DP_OK);
    EXPECT_EQ(pair.host.receive().data, message);
}

}  // namespace
}  // namespace velmora::test
