#include "peer/Opponent.h"
#include "peer/Peer.h"
#include "session/service/MemoryCable.h"
#include "session/service/SessionService.h"
#include "support/FixedTransferSettings.h"
#include "support/PeerSteps.h"
#include "support/TestEnvironment.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>

#include <gtest/gtest.h>

namespace velmora {
namespace {

using test::pumpUntil;

// One side: a peer over its own session service on one end of an in-memory cable, with what it
// shows recorded as it arrives.
struct Side {
    Side(const MemoryCable& cable, MemoryCable::Side end, const QString& name)
        : name(name),
          settings(test::makeTempFolder(name), false),
          service({test::asSerialCable(cable.providerEntry(end))}),
          peer(service, settings) {
        QObject::connect(&peer, &Peer::chatLineReceived,
                         [this](const QString& from, const QByteArray& text) {
                             chat << from + ": " + QString::fromLatin1(text);
                         });
        QObject::connect(&peer, &Peer::conversationLine,
                         [this](const QString& line) { lines << line; });
        QObject::connect(&peer, &Peer::userMessage,
                         [this](const QString& text) { ADD_FAILURE() << text.toStdString(); });
        QObject::connect(&peer, &Peer::sessionLost, [this] { ++losses; });
        QObject::connect(&peer, &Peer::playerAdded, [this](const TDXPlayPlayer& player) {
            if (player.RemotePlayer) {
                others << player.Name;
            }
        });
    }

    void host() { ASSERT_TRUE(test::connected(test::connectPeer(peer, false, name))); }
    void join() { ASSERT_TRUE(test::connected(test::connectPeer(peer, true, name))); }
    QString incoming(const QString& file) const {
        return QDir(settings.incomingFolder()).filePath(file);
    }
    int received() const {
        return static_cast<int>(lines.filter(QStringLiteral(" received and saved into ")).size());
    }

    QString name;
    test::FixedTransferSettings settings;
    SessionService service;
    Peer peer;
    QStringList chat;
    QStringList lines;
    QStringList others;
    int losses = 0;
};

QString writeFile(const QString& folder, const QString& name, qsizetype size, quint32 seed) {
    QByteArray bytes(size, '\0');
    QRandomGenerator random(seed);
    for (char& byte : bytes) {
        byte = static_cast<char>(random.generate());
    }
    const QString path = QDir(folder).filePath(name);
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
    return path;
}

QByteArray contents(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

struct Connected {
    MemoryCable cable;
    Side ann{cable, MemoryCable::Side::A, QStringLiteral("Ann")};
    Side bob{cable, MemoryCable::Side::B, QStringLiteral("Bob")};

    bool connect() {
        ann.host();
        bob.join();
        // The joining side finds the host already there: no event announces it.
        const TDXPlayPlayer* host = bob.peer.opponent();
        return host != nullptr && host->Name == "Ann" &&
               pumpUntil([&] { return ann.others.contains("Bob"); });
    }
};

TEST(Peer, TwoPeersTalkBothWaysAndSeeTheirOwnLines) {
    Connected c;
    ASSERT_TRUE(c.connect());
    EXPECT_TRUE(c.ann.peer.senderRunning());
    EXPECT_TRUE(c.bob.peer.senderRunning());

    ASSERT_TRUE(c.ann.peer.sendChatLine(QStringLiteral("Hello Bob")));
    ASSERT_TRUE(c.bob.peer.sendChatLine(QStringLiteral("Hello Ann")));
    ASSERT_TRUE(pumpUntil([&] { return c.ann.chat.size() == 2 && c.bob.chat.size() == 2; }));
    EXPECT_EQ(c.ann.chat, (QStringList{"Ann: Hello Bob", "Bob: Hello Ann"}));
    EXPECT_EQ(c.bob.chat, (QStringList{"Bob: Hello Ann", "Ann: Hello Bob"}));

    c.bob.peer.close();
    EXPECT_FALSE(c.bob.peer.sendChatLine(QStringLiteral("nobody hears this")));
    EXPECT_FALSE(c.bob.peer.senderRunning());
    ASSERT_TRUE(pumpUntil([&] { return !c.ann.peer.senderRunning(); }))
        << "the host's sender ends when its caller leaves";
    EXPECT_TRUE(c.ann.peer.isOpen()) << "the host waits for the next caller";
}

TEST(Peer, FilesCrossBothWaysAtOnce) {
    Connected c;
    ASSERT_TRUE(c.connect());
    const QString folder = test::makeTempFolder("sources");
    const QString fromAnn = writeFile(folder, "ann.bin", 200 * 1024, 1);
    const QString fromBob = writeFile(folder, "bob.bin", 150 * 1024 + 7, 2);
    const QString empty = writeFile(folder, "empty.txt", 0, 3);

    c.ann.peer.sendFiles({fromAnn, empty});
    c.bob.peer.sendFiles({fromBob});
    ASSERT_TRUE(pumpUntil([&] { return c.bob.received() == 2 && c.ann.received() == 1; }))
        << c.ann.lines.join("|").toStdString() << c.bob.lines.join("|").toStdString();
    EXPECT_EQ(contents(c.bob.incoming("ann.bin")), contents(fromAnn));
    EXPECT_EQ(contents(c.ann.incoming("bob.bin")), contents(fromBob));
    EXPECT_TRUE(QFile::exists(c.bob.incoming("empty.txt")));
}

TEST(Peer, APulledPlugStopsTheLinesAndTheNextConnectionResumes) {
    Connected c;
    ASSERT_TRUE(c.connect());
    const QString source = writeFile(test::makeTempFolder("sources"), "big.bin", 3 << 20, 4);
    TransfersModel& receiving = c.bob.peer.transfers().model();
    bool cut = false;
    QObject::connect(&receiving, &TransfersModel::progressChanged, [&](int row) {
        if (!cut && receiving.transfer(row).Done > 256 * 1024) {
            cut = true;
            c.cable.cut();
        }
    });
    c.ann.peer.sendFiles({source});
    ASSERT_TRUE(pumpUntil([&] { return c.ann.losses == 1 && c.bob.losses == 1; }));
    EXPECT_FALSE(c.ann.peer.senderRunning());
    EXPECT_FALSE(c.bob.peer.isOpen());
    ASSERT_EQ(receiving.rowCount(), 1);
    EXPECT_EQ(receiving.transfer(0).State, tsStopped);
    const qint64 partial = receiving.transfer(0).Done;
    EXPECT_GT(partial, 0);
    EXPECT_LT(partial, qint64{3} << 20);
    c.ann.peer.transfers().abort({0});
    c.bob.peer.transfers().abort({0});

    // The host's session is gone with the line: both sides connect again and send again.
    c.ann.others.clear();
    ASSERT_TRUE(c.connect());
    qint64 resumedAt = -1;
    QObject::connect(&receiving, &TransfersModel::progressChanged, [&](int row) {
        if (resumedAt < 0) {
            resumedAt = receiving.transfer(row).Done;
        }
    });
    c.ann.peer.sendFiles({source});
    ASSERT_TRUE(pumpUntil([&] { return c.bob.received() == 1; }))
        << c.bob.lines.join("|").toStdString();
    EXPECT_GE(resumedAt, partial) << "the second offer continues the partial file";
    EXPECT_EQ(contents(c.bob.incoming("big.bin")), contents(source));
}

TEST(Opponent, IsTheOtherParticipantOfAnOpenSession) {
    TDXPlayPlayers players;
    EXPECT_EQ(opponentOf(true, players, nullptr), nullptr);
    TDXPlayPlayer* local = players.Add(7, "me", false).get();
    EXPECT_EQ(opponentOf(true, players, local), local);  // alone: the only one
    TDXPlayPlayer* remote = players.Add(9, "you", true).get();
    EXPECT_EQ(opponentOf(true, players, local), remote);
    EXPECT_EQ(opponentOf(false, players, local), local);  // closed: the first entry
    players.Remove(local);
    TDXPlayPlayer* later = players.Add(11, "me again", false).get();
    EXPECT_EQ(opponentOf(true, players, later), remote);  // the first is not the local one
}

}  // namespace
}  // namespace velmora
