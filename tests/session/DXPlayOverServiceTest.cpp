// Two session components in one process joined by the session service over a memory cable: what
// the application sees of hosting, joining, messages, leaving and a lost line.

#include "session/DXPlay.h"
#include "session/service/MemoryCable.h"
#include "session/service/SessionService.h"
#include "support/RecordingPeer.h"
#include "support/SessionSteps.h"
#include "support/TestEnvironment.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QStringList>

#include <gtest/gtest.h>

#include <thread>

namespace velmora {
namespace {

using test::pumpUntil;

using Peer = test::RecordingPeer;
using test::numberedMessage;

TEST(DXPlayOverServiceTest, HostAndCallerTalkLeaveAndComeBack) {
    MemoryCable cable;
    Peer ann(cable.providerEntry(MemoryCable::Side::A));
    Peer bob(cable.providerEntry(MemoryCable::Side::B));
    ann.host("Chat", "Ann");
    EXPECT_TRUE(ann.play.IsHost());
    ASSERT_TRUE(bob.join("Bob"));
    EXPECT_EQ(bob.play.SessionName(), "Chat");
    EXPECT_EQ(bob.events, QStringList({"open", "add Bob"}));
    EXPECT_EQ(bob.play.Players().Count(), 2);
    EXPECT_EQ(bob.play.Players().Items(1).Name, "Ann");
    EXPECT_FALSE(bob.play.IsHost());
    ASSERT_TRUE(pumpUntil([&] { return ann.events.size() == 3; }));
    EXPECT_EQ(ann.events, QStringList({"open", "add Ann", "add Bob"}));

    // Messages both ways, small and as large as a file block can be, in order; Bob's from a
    // sender thread while the UI thread delivers.
    const std::vector<int> sizes = {4, 12, 584, 32779, 1048587, 8, 65543};
    std::thread sender([&] {
        for (int i = 0; i < 300; ++i) {
            bob.send(numberedMessage(3, i, sizes[i % sizes.size()]));
        }
    });
    for (int i = 0; i < 300; ++i) {
        ann.send(numberedMessage(0, i, 8 + i));
    }
    ASSERT_TRUE(
        pumpUntil([&] { return ann.messages.size() == 300 && bob.messages.size() == 300; }));
    sender.join();
    for (int i = 0; i < 300; ++i) {
        EXPECT_EQ(ann.messages[i], numberedMessage(3, i, sizes[i % sizes.size()])) << i;
        EXPECT_EQ(bob.messages[i], numberedMessage(0, i, 8 + i)) << i;
    }

    // The caller leaves: the host keeps its session, and a new caller joins it.
    bob.play.Close();
    ASSERT_TRUE(pumpUntil([&] { return ann.events.last() == "delete Bob"; }));
    // Bob's end of the cable is free only once his component has let it go.
    ASSERT_TRUE(pumpUntil([&] { return !bob.play.Releasing(); })) << "the cable's end is let go";
    EXPECT_TRUE(ann.play.Opened());
    EXPECT_EQ(ann.play.Players().Count(), 1);
    Peer carol(cable.providerEntry(MemoryCable::Side::B));
    ASSERT_TRUE(carol.join("Carol"));
    ASSERT_TRUE(pumpUntil([&] { return ann.events.last() == "add Carol"; }));
    carol.send(numberedMessage(0, 7, 12));
    ASSERT_TRUE(pumpUntil([&] { return ann.messages.size() == 301; }));

    // The plug is pulled: both sides lose the session, lost before close.
    cable.cut();
    ASSERT_TRUE(pumpUntil([&] { return !ann.play.Opened() && !carol.play.Opened(); }));
    EXPECT_EQ(ann.events.mid(ann.events.size() - 2), QStringList({"lost", "close"}));
    EXPECT_EQ(carol.events.mid(carol.events.size() - 2), QStringList({"lost", "close"}));
    EXPECT_EQ(ann.play.Players().Count(), 0);
    EXPECT_EQ(ann.play.ProviderName(), "");
}

TEST(DXPlayOverServiceTest, TheCallerBecomesHostWhenTheHostLeaves) {
    MemoryCable cable;
    Peer ann(cable.providerEntry(MemoryCable::Side::A));
    Peer bob(cable.providerEntry(MemoryCable::Side::B));
    ann.host("Chat", "Ann");
    ASSERT_TRUE(bob.join("Bob"));
    ann.play.Close();
    ASSERT_TRUE(pumpUntil([&] { return bob.events.last() == "delete Ann"; }));
    ASSERT_TRUE(pumpUntil([&] { return bob.play.IsHost(); }));
    EXPECT_TRUE(bob.play.Opened());
    EXPECT_FALSE(bob.events.contains("lost"));
}

TEST(DXPlayOverServiceTest, NoSessionUnderAnotherApplication) {
    MemoryCable cable;
    Peer ann(cable.providerEntry(MemoryCable::Side::A));
    Peer bob(cable.providerEntry(MemoryCable::Side::B));
    ann.host("Chat", "Ann");
    bob.play.setGUID("{0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0}");
    bob.play.setProviderName("Memory cable");
    EXPECT_EQ(test::enumerateSessions(bob.play), DP_OK);
    EXPECT_TRUE(bob.play.Sessions().isEmpty());
    bob.play.Close();
}

}  // namespace
}  // namespace velmora
