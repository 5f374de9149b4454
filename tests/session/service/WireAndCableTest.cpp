#include "ServicePeer.h"

#include "session/service/MemoryCable.h"
#include "session/service/SessionWire.h"
#include "support/RecordingListener.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <future>
#include <mutex>
#include <thread>

namespace velmora::test {
namespace {

using Side = MemoryCable::Side;
using Mode = MemoryCable::Mode;

QList<wire::Message> everyKindOfMessage() {
    wire::Session session{kApplication,
                          kOtherApplication,
                          DPSESSION_MIGRATEHOST,
                          2,
                          1,
                          QString::fromUtf8("Caf\u00e9")};
    const wire::Player anna{7, DPNAME{true, QStringLiteral("Anna")}};
    const wire::Player nameless{8, DPNAME{}};
    return {
        wire::Hello{},
        wire::Refuse{},
        wire::EnumRequest{3, kApplication},
        wire::EnumReply{3, {session, session}},
        wire::EnumReply{4, {}},
        wire::JoinRequest{5, kOtherApplication},
        wire::JoinReply{5, DP_OK, session, {anna, nameless}},
        wire::JoinReply{6, DPERR_NOSESSIONS, {}, {}},
        wire::CreatePlayerRequest{9, anna.name},
        wire::CreatePlayerReply{9, DP_OK, 12},
        wire::PlayerCreated{anna},
        wire::PlayerDestroyed{7},
        wire::Data{7, 0, QByteArray("\x00\x01\x02\x03payload", 11)},
        wire::Data{7, 8, QByteArray()},
    };
}

TEST(SessionWire, EveryMessageRoundTripsAndNoCutOneDecodes) {
    for (const wire::Message& message : everyKindOfMessage()) {
        const QByteArray bytes = wire::encode(message);
        const auto decoded = wire::decode(bytes);
        ASSERT_TRUE(decoded) << "type " << message.index();
        EXPECT_EQ(decoded->index(), message.index());
        EXPECT_EQ(wire::encode(*decoded), bytes) << "type " << message.index();
        if (std::holds_alternative<wire::Data>(message)) {
            continue;  // its payload is whatever follows the header
        }
        for (int length = 0; length < bytes.size(); ++length) {
            EXPECT_FALSE(wire::decode(bytes.left(length))) << message.index() << " at " << length;
        }
        EXPECT_FALSE(wire::decode(bytes + '\0')) << "type " << message.index();
    }
    const auto join =
        std::get<wire::JoinReply>(*wire::decode(wire::encode(everyKindOfMessage()[6])));
    EXPECT_EQ(join.session.name, QString::fromUtf8("Caf\u00e9"));
    ASSERT_EQ(join.players.size(), 2);
    EXPECT_EQ(join.players[0].name.shortName, QStringLiteral("Anna"));
    EXPECT_FALSE(join.players[1].name.hasShortName);
    const auto data = std::get<wire::Data>(*wire::decode(wire::encodeData(3, 4, "abcd", 4)));
    EXPECT_EQ(data.from, 3U);
    EXPECT_EQ(data.to, 4U);
    EXPECT_EQ(data.payload, QByteArray("abcd"));
}

TEST(SessionWire, GreetingLayoutIsFixedAndStrangeMessagesAreNotDecoded) {
    // The greeting keeps these bytes in every version of the protocol.
    EXPECT_EQ(wire::encode(wire::Hello{}), QByteArray("\x01\0\0\0VLMS\x01\0\0\0", 12));
    EXPECT_EQ(wire::encode(wire::Refuse{wire::kMagic, 9}),
              QByteArray("\x02\0\0\0VLMS\x09\0\0\0", 12));
    EXPECT_FALSE(wire::decode(QByteArray("\x63\0\0\0anything", 12)));
    EXPECT_FALSE(wire::decode(QByteArray()));
    // A count of sessions far beyond what the bytes can hold.
    QByteArray forged = wire::encode(wire::EnumReply{1, {}});
    forged[8] = '\xFF';
    forged[9] = '\xFF';
    forged[10] = '\xFF';
    EXPECT_FALSE(wire::decode(forged));
    // A text length beyond the end.
    QByteArray longName = wire::encode(wire::PlayerCreated{{1, DPNAME{true, QStringLiteral("x")}}});
    longName[12] = '\x7F';
    EXPECT_FALSE(wire::decode(longName));
}

TEST(MemoryCable, SendBlocksWhileTheOtherSideHasTooMuchQueued) {
    MemoryCable cable(1000);
    RecordingListener a;
    RecordingListener b;
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    b.onMessage = [released, first = true](const QByteArray&) mutable {
        if (first) {
            first = false;
            released.wait();
        }
    };
    const auto endA = cable.plug(Side::A, Mode::Listening);
    const auto endB = cable.plug(Side::B, Mode::Calling);
    ASSERT_TRUE(endA && endB);
    EXPECT_EQ(cable.plug(Side::A, Mode::Calling), nullptr) << "a side takes one end";
    endA->start(&a);
    EXPECT_FALSE(endA->send("early")) << "not up before the other end starts";
    endB->start(&b);
    ASSERT_TRUE(a.waitFor([](const RecordingListener& l) { return l.ups() == 1; }));
    ASSERT_TRUE(b.waitFor([](const RecordingListener& l) { return l.ups() == 1; }));

    std::mutex mutex;
    std::condition_variable counted;
    int sent = 0;
    std::thread sender([&] {
        for (char c : {'1', '2', '3'}) {
            EXPECT_TRUE(endA->send(QByteArray(600, c)));
            const std::lock_guard lock(mutex);
            ++sent;
            counted.notify_all();
        }
    });
    // The first is in b's hands, the second waits in its queue, the third does not fit: a
    // third send in a generous moment means it did not wait.
    {
        std::unique_lock lock(mutex);
        ASSERT_TRUE(counted.wait_for(lock, std::chrono::seconds(60), [&] { return sent >= 2; }));
        EXPECT_FALSE(
            counted.wait_for(lock, std::chrono::milliseconds(50), [&] { return sent == 3; }));
    }
    release.set_value();
    sender.join();
    ASSERT_TRUE(b.waitFor([](const RecordingListener& l) { return l.messages().size() == 3; }));
    EXPECT_EQ(b.messages(), (QList<QByteArray>{QByteArray(600, '1'), QByteArray(600, '2'),
                                               QByteArray(600, '3')}));
    // A message larger than the bound still goes when nothing else is queued.
    EXPECT_TRUE(endA->send(QByteArray(5000, 'x')));
    ASSERT_TRUE(b.waitFor([](const RecordingListener& l) { return l.messages().size() == 4; }));
}

TEST(MemoryCable, GoodbyeCutAndVanishing) {
    MemoryCable cable;
    RecordingListener host;
    const auto listening = cable.plug(Side::A, Mode::Listening);
    listening->start(&host);
    {
        RecordingListener caller;
        auto calling = cable.plug(Side::B, Mode::Calling);
        calling->start(&caller);
        ASSERT_TRUE(host.waitFor([](const RecordingListener& l) { return l.ups() == 1; }));
        ASSERT_TRUE(caller.waitFor([](const RecordingListener& l) { return l.ups() == 1; }));
        // The host's goodbye reaches the caller after what was sent before it.
        ASSERT_TRUE(calling->send("last words"));
        calling->close();
        ASSERT_TRUE(host.waitFor([](const RecordingListener& l) { return l.down().has_value(); }));
        EXPECT_EQ(host.messages(), QList<QByteArray>{"last words"});
        EXPECT_EQ(host.down(), LineDown::PeerClosed);
        EXPECT_FALSE(calling->send("after"));
        EXPECT_FALSE(caller.down()) << "the closing side hears nothing";
    }
    // The listening end waits for the next caller, who may vanish without a goodbye.
    RecordingListener second;
    auto next = cable.plug(Side::B, Mode::Calling);
    ASSERT_NE(next, nullptr);
    next->start(&second);
    ASSERT_TRUE(host.waitFor([](const RecordingListener& l) { return l.ups() == 2; }));
    ASSERT_TRUE(second.waitFor([](const RecordingListener& l) { return l.ups() == 1; }));
    ASSERT_TRUE(listening->send("welcome"));
    ASSERT_TRUE(
        second.waitFor([](const RecordingListener& l) { return l.messages().size() == 1; }));
    next.reset();
    ASSERT_TRUE(host.waitFor([](const RecordingListener& l) { return l.down().has_value(); }));
    EXPECT_EQ(host.down(), LineDown::Lost);

    // A cut takes both ends down and frees both sides.
    RecordingListener third;
    auto again = cable.plug(Side::B, Mode::Calling);
    again->start(&third);
    ASSERT_TRUE(host.waitFor([](const RecordingListener& l) { return l.ups() == 3; }));
    ASSERT_TRUE(third.waitFor([](const RecordingListener& l) { return l.ups() == 1; }));
    cable.cut();
    ASSERT_TRUE(host.waitFor([](const RecordingListener& l) { return l.down().has_value(); }));
    ASSERT_TRUE(third.waitFor([](const RecordingListener& l) { return l.down().has_value(); }));
    EXPECT_EQ(host.down(), LineDown::Lost);
    EXPECT_EQ(third.down(), LineDown::Lost);
    EXPECT_FALSE(listening->send("gone"));
    EXPECT_NE(cable.plug(Side::A, Mode::Listening), nullptr);
    EXPECT_NE(cable.plug(Side::B, Mode::Calling), nullptr);
}

// A raw end that greets with another version whenever it is greeted.
void greetWithVersion(RecordingListener& listener, Line*& line, std::uint32_t version) {
    listener.onMessage = [&line, version](const QByteArray& bytes) {
        const auto message = wire::decode(bytes);
        if (message && std::holds_alternative<wire::Hello>(*message)) {
            line->send(wire::encode(wire::Hello{wire::kMagic, version}));
        }
    };
}

std::optional<wire::Refuse> refusalIn(const QList<QByteArray>& messages) {
    for (const QByteArray& bytes : messages) {
        const auto message = wire::decode(bytes);
        if (message && std::holds_alternative<wire::Refuse>(*message)) {
            return std::get<wire::Refuse>(*message);
        }
    }
    return std::nullopt;
}

TEST(SessionWire, APeerOfAnotherVersionIsRefusedClearly) {
    MemoryCable cable;
    // A caller meets a host of version 2: it refuses, hangs up and says why.
    {
        RecordingListener raw;
        Line* rawLine = nullptr;
        greetWithVersion(raw, rawLine, 2);
        auto hostEnd = cable.plug(Side::A, Mode::Listening);
        rawLine = hostEnd.get();
        hostEnd->start(&raw);
        ServicePeer caller({cable.providerEntry(Side::B)}, guids::ServiceProviderMemory);
        QList<DPSESSIONDESC2> sessions;
        EXPECT_EQ(caller.enumerate(sessions, 30000), DPERR_INCOMPATIBLEPEER);
        ASSERT_TRUE(raw.waitFor([](const RecordingListener& l) { return l.down().has_value(); }));
        const auto refusal = refusalIn(raw.messages());
        ASSERT_TRUE(refusal);
        EXPECT_EQ(refusal->version, wire::kVersion);
        EXPECT_EQ(raw.down(), LineDown::PeerClosed);
    }
    // A host meets a caller of version 2: it refuses it and keeps its session for others.
    ServicePeer host({cable.providerEntry(Side::A)}, guids::ServiceProviderMemory);
    ASSERT_EQ(host.host(QStringLiteral("VelmoraSession")), DP_OK);
    ASSERT_EQ(host.createPlayer(QStringLiteral("Anna")), DP_OK);
    {
        RecordingListener raw;
        Line* rawLine = nullptr;
        greetWithVersion(raw, rawLine, 2);
        auto callerEnd = cable.plug(Side::B, Mode::Calling);
        rawLine = callerEnd.get();
        callerEnd->start(&raw);
        ASSERT_TRUE(raw.waitFor(
            [](const RecordingListener& l) { return refusalIn(l.messages()).has_value(); }));
        // Whatever it asks after the refusal goes unanswered.
        const int before = static_cast<int>(raw.messages().size());
        ASSERT_TRUE(callerEnd->send(wire::encode(wire::EnumRequest{1, kApplication})));
        callerEnd->close();
        EXPECT_EQ(raw.messages().size(), before);
    }
    ServicePeer caller({cable.providerEntry(Side::B)}, guids::ServiceProviderMemory);
    ASSERT_EQ(caller.join(), DP_OK);
    EXPECT_FALSE(host.tryReceive()) << "the refused caller left no trace in the session";
}

TEST(SessionWire, UnknownMessagesAreIgnored) {
    MemoryCable cable;
    ServicePeer host({cable.providerEntry(Side::A)}, guids::ServiceProviderMemory);
    ASSERT_EQ(host.host(QStringLiteral("VelmoraSession")), DP_OK);
    RecordingListener raw;
    Line* rawLine = nullptr;
    greetWithVersion(raw, rawLine, wire::kVersion);
    auto end = cable.plug(Side::B, Mode::Calling);
    rawLine = end.get();
    end->start(&raw);
    ASSERT_TRUE(raw.waitFor([](const RecordingListener& l) { return l.messages().size() == 1; }));
    ASSERT_TRUE(end->send(QByteArray("\x63\0\0\0from a later version", 24)));
    ASSERT_TRUE(end->send(QByteArray("\x0B\0", 2)));
    ASSERT_TRUE(end->send(wire::encode(wire::EnumRequest{77, kApplication})));
    ASSERT_TRUE(raw.waitFor([](const RecordingListener& l) { return l.messages().size() == 2; }));
    const auto reply = wire::decode(raw.messages()[1]);
    ASSERT_TRUE(reply && std::holds_alternative<wire::EnumReply>(*reply));
    EXPECT_EQ(std::get<wire::EnumReply>(*reply).serial, 77U);
    ASSERT_EQ(std::get<wire::EnumReply>(*reply).sessions.size(), 1);
    end->close();
}

}  // namespace
}  // namespace velmora::test
