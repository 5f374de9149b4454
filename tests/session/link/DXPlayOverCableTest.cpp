// Two session components in one process over the virtual null-modem cable: real
// pseudo-terminals, the real port driver and link, the serial provider with fixed settings.

#include "cable/NullModemCable.h"
#include "session/DXPlay.h"
#include "session/link/SerialProvider.h"
#include "session/service/SessionService.h"
#include "support/RecordingPeer.h"
#include "support/SessionSteps.h"
#include "support/TestCable.h"
#include "support/TestEnvironment.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QStringList>

#include <gtest/gtest.h>

#include <random>
#include <thread>

namespace velmora {
namespace {

const QString SerialName = QStringLiteral("Serial Connection");

using test::pumpUntil;

ProviderEntry serialEntry(const std::filesystem::path& end) {
    SerialSettings settings;
    settings.portName = QString::fromStdString(end.string());
    settings.baud = 460800;
    const QString folder = test::makeTempFolder(QStringLiteral("data"));
    return {guids::ServiceProviderSerial, SerialName, [folder, settings] {
                return std::make_unique<SerialProvider>(folder, nullptr, settings);
            }};
}

struct Peer : test::RecordingPeer {
    explicit Peer(const std::filesystem::path& end) : RecordingPeer(serialEntry(end)) {}
};

using test::numberedMessage;

// A cable at a rate that keeps the tests short.
constexpr int kCableBaud = 460800;

// Ann hosts on one end of a cable, Bob joins on the other.
struct Connected {
    NullModemCable cable{test::cableIn(QStringLiteral("cable"), kCableBaud)};
    Peer master{cable.linkA()};
    Peer slave{cable.linkB()};

    bool connect() {
        master.host("VelmoraSession", "Ann");
        return slave.join("Bob");
    }
};

TEST(DXPlayOverCableTest, HostJoinTalkCloseAndPulledPlug) {
    NullModemCable cable(test::cableIn(QStringLiteral("cable"), kCableBaud));

    Peer master(cable.linkA());
    Peer slave(cable.linkB());
    master.host("VelmoraSession", "Ann");
    EXPECT_TRUE(master.play.IsHost());
    ASSERT_TRUE(slave.join("Bob"));
    EXPECT_EQ(slave.play.SessionName(), "VelmoraSession");
    EXPECT_EQ(slave.play.Players().Count(), 2);
    ASSERT_TRUE(pumpUntil([&] { return master.events.contains("add Bob"); }));

    // Both ways, a file block among chat lines, from a sender thread and the UI thread.
    std::thread sender([&] {
        for (int i = 0; i < 20; ++i) {
            slave.send(numberedMessage(3, i, i == 10 ? 32779 : 12 + i));
        }
    });
    for (int i = 0; i < 20; ++i) {
        master.send(numberedMessage(0, i, 20 + i));
    }
    ASSERT_TRUE(
        pumpUntil([&] { return master.messages.size() == 20 && slave.messages.size() == 20; }));
    sender.join();
    for (int i = 0; i < 20; ++i) {
        EXPECT_EQ(master.messages[i], numberedMessage(3, i, i == 10 ? 32779 : 12 + i)) << i;
        EXPECT_EQ(slave.messages[i], numberedMessage(0, i, 20 + i)) << i;
    }

    // The caller closes: the master keeps its session and a new caller joins it.
    slave.play.Close();
    ASSERT_TRUE(pumpUntil([&] { return master.events.last() == "delete Bob"; }));
    ASSERT_TRUE(pumpUntil([&] { return !slave.play.Releasing(); })) << "the port is let go";
    EXPECT_TRUE(master.play.Opened());
    Peer again(cable.linkB());
    ASSERT_TRUE(again.join("Carol"));
    ASSERT_TRUE(pumpUntil([&] { return master.events.last() == "add Carol"; }));

    // The plug is pulled: both sides lose the session.
    cable.unplug();
    ASSERT_TRUE(pumpUntil([&] { return !master.play.Opened() && !again.play.Opened(); }));
    EXPECT_EQ(master.events.mid(master.events.size() - 2), QStringList({"lost", "close"}));
    EXPECT_EQ(again.events.mid(again.events.size() - 2), QStringList({"lost", "close"}));
}

TEST(DXPlayOverCableTest, FileBlocksOfEveryBlockSizeCross) {
    Connected pair;
    ASSERT_TRUE(pair.connect());
    Peer& master = pair.master;
    Peer& slave = pair.slave;

    // A file block of each block-size code 1..7: its 11-byte header and the data. The end of a
    // file is padding, so most of each block is zeros: the largest crosses in seconds.
    std::vector<QByteArray> blocks;
    for (const int size : {512, 1024, 2048, 4096, 32768, 65536, 1048576}) {
        QByteArray block = numberedMessage(3, static_cast<int>(blocks.size()) + 1, 11 + 4096);
        block.resize(11 + size);
        blocks.push_back(block);
        master.send(block);
    }
    ASSERT_TRUE(pumpUntil(
        [&] { return static_cast<std::size_t>(slave.messages.size()) == blocks.size(); }));
    for (std::size_t i = 0; i < blocks.size(); ++i) {
        EXPECT_EQ(slave.messages[i], blocks[i]) << "block code " << i + 1;
    }
    EXPECT_TRUE(slave.play.Opened());
}

TEST(DXPlayOverCableTest, ChatLineOvertakesTheFileBlocksBeingSent) {
    Connected pair;
    ASSERT_TRUE(pair.connect());
    Peer& master = pair.master;
    Peer& slave = pair.slave;

    // Four blocks of 32 KiB (about 0.7 s of line each, random bytes) stream from a sender
    // thread; a chat line typed during the first one arrives before that block is complete.
    QByteArray block = numberedMessage(3, 1, 11 + 32768);
    std::mt19937 random(5);
    for (qsizetype i = 8; i < block.size(); ++i) {
        block[i] = static_cast<char>(random());
    }
    std::thread sender([&] {
        for (int i = 0; i < 4; ++i) {
            slave.send(block);
        }
    });
    pumpUntil([] { return false; }, 300);
    const QByteArray chat = numberedMessage(0, 7, 28);
    slave.send(chat);
    ASSERT_TRUE(pumpUntil([&] { return master.messages.size() == 5; }));
    sender.join();
    EXPECT_EQ(master.messages.indexOf(chat), 0);
}

TEST(DXPlayOverCableTest, NoMasterOnTheCableFindsNoSession) {
    NullModemCable cable(test::cableIn(QStringLiteral("cable")));
    Peer slave(cable.linkB());
    slave.play.setProviderName(slave.play.ProviderNameFromGUID(guids::ServiceProviderSerial));
    test::enumerateSessions(slave.play);
    EXPECT_TRUE(slave.play.Sessions().isEmpty());
    slave.play.Close();
}

}  // namespace
}  // namespace velmora
