#include "ServicePeer.h"

#include "session/DXPlay.h"
#include "session/service/MemoryProvider.h"
#include "support/SessionSteps.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

namespace velmora::test {
namespace {

using Side = MemoryCable::Side;

// One side as the application has it: a session component over its own session service.
struct Computer {
    explicit Computer(const MemoryCable& cable, Side side)
        : service({cable.providerEntry(side)}), play(service) {
        play.setGUID(QStringLiteral("{A2196E45-287F-4F8F-987A-382C87886EED}"));
        QObject::connect(
            &play, &TCustomDXPlay::OnAddPlayer,
            [this](TCustomDXPlay&, TDXPlayPlayer& player) { added.append(player.Name); });
        QObject::connect(
            &play, &TCustomDXPlay::OnDeletePlayer,
            [this](TCustomDXPlay&, TDXPlayPlayer& player) { deleted.append(player.Name); });
        QObject::connect(
            &play, &TCustomDXPlay::OnMessage,
            [this](TCustomDXPlay&, TDXPlayPlayer& from, const void* data, std::int32_t size) {
                messages.append({from.Name, QByteArray(static_cast<const char*>(data), size)});
            });
        QObject::connect(&play, &TCustomDXPlay::OnSessionLost, [this](TCustomDXPlay&) { ++lost; });
        QObject::connect(&play, &TCustomDXPlay::OnClose, [this](TCustomDXPlay&) { ++closed; });
    }

    SessionService service;
    TDXPlay play;
    QStringList added;
    QStringList deleted;
    QList<std::pair<QString, QByteArray>> messages;
    int lost = 0;
    int closed = 0;
};

TEST(ComponentOverService, TwoComponentsConnectTalkAndPart) {
    MemoryCable cable;
    Computer host(cable, Side::A);
    Computer caller(cable, Side::B);

    host.play.setProviderName(host.play.ProviderNameFromGUID(guids::ServiceProviderMemory));
    EXPECT_EQ(host.play.ProviderName(), QString::fromLatin1(MemoryProvider::kName));
    test::openSession(host.play, true, QStringLiteral("VelmoraSession"), QStringLiteral("Anna"));
    EXPECT_TRUE(host.play.IsHost());
    EXPECT_EQ(host.added, QStringList{"Anna"});

    caller.play.setProviderName(QStringLiteral("memory CABLE"));
    ASSERT_EQ(test::enumerateSessions(caller.play), DP_OK);
    ASSERT_EQ(caller.play.Sessions().size(), 1);
    test::openSession(caller.play, false, QStringLiteral("velmorasession"), QStringLiteral("Bob"));
    EXPECT_FALSE(caller.play.IsHost());
    EXPECT_EQ(caller.play.Players().Count(), 2);
    EXPECT_EQ(caller.added, QStringList{"Bob"});
    ASSERT_TRUE(eventsUntil([&] { return host.added.size() == 2; }));
    EXPECT_EQ(host.added[1], QStringLiteral("Bob"));

    const QByteArray text("\0\0\0\0hello", 9);
    caller.play.SendMessage(0, text.constData(), static_cast<std::int32_t>(text.size()));
    host.play.SendMessage(caller.play.LocalPlayer()->ID, text.constData(), 9);
    ASSERT_TRUE(
        eventsUntil([&] { return host.messages.size() == 1 && caller.messages.size() == 1; }));
    EXPECT_EQ(host.messages[0], std::make_pair(QStringLiteral("Bob"), text));
    EXPECT_EQ(caller.messages[0], std::make_pair(QStringLiteral("Anna"), text));

    caller.play.Close();
    EXPECT_EQ(caller.closed, 1);
    ASSERT_TRUE(eventsUntil([&] { return host.deleted.size() == 1; }));
    EXPECT_EQ(host.deleted, QStringList{"Bob"});
    EXPECT_TRUE(host.play.Opened());
    EXPECT_EQ(host.lost, 0);
    // The first caller lets its end of the cable go on its worker, after its goodbye: the end
    // is free for another caller only then.
    ASSERT_TRUE(eventsUntil([&] { return !caller.play.Releasing(); }));

    // The cable is pulled under a second caller: both components lose the session.
    Computer second(cable, Side::B);
    second.play.setProviderName(QString::fromLatin1(MemoryProvider::kName));
    ASSERT_EQ(test::enumerateSessions(second.play), DP_OK);
    test::openSession(second.play, false, QStringLiteral("VelmoraSession"), QStringLiteral("Cleo"));
    ASSERT_TRUE(eventsUntil([&] { return host.added.size() == 3; }));
    cable.cut();
    ASSERT_TRUE(eventsUntil([&] { return host.lost == 1 && second.lost == 1; }));
    EXPECT_EQ(host.closed, 1);
    EXPECT_EQ(second.closed, 1);
    EXPECT_FALSE(host.play.Opened());
}

}  // namespace
}  // namespace velmora::test
