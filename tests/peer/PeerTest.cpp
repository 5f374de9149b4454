#include "peer/Opponent.h"
#include "peer/Peer.h"
#include "protocol/PeerMessages.h"
#include "session/service/MemoryCable.h"
#include "session/service/SessionService.h"
#include "support/FixedTransferSettings.h"
#include "support/PeerSteps.h"
#include "support/SessionSteps.h"
#include "support/TestEnvironment.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>

#include <gtest/gtest.h>

#include <optional>

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
        QObject::connect(
            &peer, &Peer::chatLineReceived,
            [this](const QString& from, const QString& text) { chat << from + ": " + text; });
        QObject::connect(&peer, &Peer::conversationLine,
                         [this](const QString& line) { lines << line; });
        QObject::connect(&peer, &Peer::userMessage,
                         [this](const QString& text) { ADD_FAILURE() << text.toStdString(); });
        QObject::connect(&peer, &Peer::sessionLost, [this] { ++losses; });
        QObject::connect(&peer, &Peer::charactersReplaced, [this] { ++replaced; });
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
    int replaced = 0;
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
    EXPECT_EQ(test::readFile(c.bob.incoming("ann.bin")), test::readFile(fromAnn));
    EXPECT_EQ(test::readFile(c.ann.incoming("bob.bin")), test::readFile(fromBob));
    EXPECT_TRUE(QFile::exists(c.bob.incoming("empty.txt")));
}

TEST(Peer, APulledPlugStopsTheLinesAndTheNextConnectionResumes) {
    Connected c;
    // Not trying to get the line back: the lines end with it.
    c.ann.peer.setReconnect(false);
    c.bob.peer.setReconnect(false);
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
    EXPECT_EQ(test::readFile(c.bob.incoming("big.bin")), test::readFile(source));
}

TEST(Peer, ALostLineOfAPortOnTheNetworkIsTriedAgainWithoutWaitingForADevice) {
    Connected c;
    // The faces name the cable's port by its address at a terminal server: no file to watch.
    for (Side* side : {&c.ann, &c.bob}) {
        side->peer.setCableDevice([] { return QStringLiteral("tcp://127.0.0.1:9"); });
    }
    ASSERT_TRUE(c.connect());
    // Who the other side is comes with its hello: a line lost before both hellos arrived has
    // nothing to take back.
    ASSERT_TRUE(
        pumpUntil([&] { return c.ann.peer.sendsUtf8Text() && c.bob.peer.sendsUtf8Text(); }));
    int back = 0;
    for (Side* side : {&c.ann, &c.bob}) {
        QObject::connect(&side->peer, &Peer::lineBack, [&back] { ++back; });
    }
    c.cable.cut();
    ASSERT_TRUE(pumpUntil([&] { return back == 2; }, 20000));
    EXPECT_EQ(c.ann.losses + c.bob.losses, 0);
}

// A Velmora of the first version: the session component alone, which shows chat lines in
// Windows-1252 and passes over every kind it does not know.
struct OlderSide {
    OlderSide(const MemoryCable& cable, MemoryCable::Side end)
        : service({cable.providerEntry(end)}), play(service) {
        play.setGUID(Peer::ApplicationGuid);
        play.setAsync(false);
        play.setProviderName(cable.providerEntry(end).name);
        QObject::connect(
            &play, &TCustomDXPlay::OnMessage,
            [this](TCustomDXPlay&, TDXPlayPlayer&, const void* data, std::int32_t size) {
                received << QByteArray(static_cast<const char*>(data), size);
            });
    }
    void join(const QString& name) { ASSERT_TRUE(test::joinFirstSession(play, name)); }
    void say(const QByteArray& windows1252) {
        const QByteArray message = buildTextMessage({windows1252});
        play.SendMessage(DPID_ALLPLAYERS, message.constData(), message.size());
    }
    // The texts of the kind 0 messages it got, and the kinds of all.
    QList<QByteArray> texts() const {
        QList<QByteArray> result;
        for (const QByteArray& message : received) {
            if (const auto text = parseTextMessage(bytesOf(message))) {
                result << text->text;
            }
        }
        return result;
    }
    QList<std::uint32_t> kinds() const {
        QList<std::uint32_t> result;
        for (const QByteArray& message : received) {
            result << messageKindOf(bytesOf(message)).value_or(0xFFFFFFFF);
        }
        return result;
    }

    SessionService service;
    TDXPlay play;
    QList<QByteArray> received;
};

// Lines in several scripts, as users type them.
const QStringList Scripts{
    QStringLiteral("Gr\u00fc\u00dfe aus K\u00f6ln, \u00e7a va? \u0152uvre \u2014 \u20ac5"),
    QStringLiteral("\u65e5\u672c\u8a9e\u3067\u3053\u3093\u306b\u3061\u306f \u4e2d\u6587"),
    QStringLiteral("\u041f\u0440\u0438\u0432\u0435\u0442, \u043c\u0438\u0440!"),
    QStringLiteral("\u0645\u0631\u062d\u0628\u0627 \u0628\u0627\u0644\u0639\u0627\u0644\u0645"),
    QStringLiteral("\U0001F600 \U0001F44D\U0001F3FD \U0001F469\u200D\U0001F4BB e\u0301"),
};

TEST(PeerText, TwoCurrentPeersTalkInEveryScriptAndUnderTheirWholeNames) {
    MemoryCable cable;
    const QString annName = QStringLiteral("Ann \u00c5str\u00f6m \u5b89");
    const QString bobName = QStringLiteral("\u0411\u043e\u0431 \U0001F600");
    Side ann(cable, MemoryCable::Side::A, annName);
    Side bob(cable, MemoryCable::Side::B, bobName);
    ann.host();
    bob.join();
    ASSERT_TRUE(pumpUntil([&] {
        return ann.peer.sendsUtf8Text() && bob.peer.sendsUtf8Text() &&
               bob.peer.opponent()->Name == annName && ann.peer.opponent() != nullptr &&
               ann.peer.opponent()->Name == bobName;
    })) << "the hellos give each side the other's UTF-8 name";

    for (const QString& line : Scripts) {
        ASSERT_TRUE(ann.peer.sendChatLine(line));
        ASSERT_TRUE(bob.peer.sendChatLine(line + QStringLiteral(" <")));
    }
    const auto all = [](const QStringList& chat, int count) { return chat.size() == count; };
    ASSERT_TRUE(pumpUntil([&] { return all(ann.chat, 10) && all(bob.chat, 10); }));
    for (const QString& line : Scripts) {
        const QString fromAnn = annName + ": " + line;
        const QString fromBob = bobName + ": " + line + " <";
        for (const Side* side : {&ann, &bob}) {
            // Byte for byte: the UTF-8 of what arrived is the UTF-8 of what was typed.
            const auto has = [&](const QString& expected) {
                return std::any_of(side->chat.begin(), side->chat.end(), [&](const QString& got) {
                    return got.toUtf8() == expected.toUtf8();
                });
            };
            EXPECT_TRUE(has(fromAnn)) << side->name.toStdString() << ": " << line.toStdString();
            EXPECT_TRUE(has(fromBob)) << side->name.toStdString() << ": " << line.toStdString();
        }
    }
    EXPECT_EQ(ann.replaced + bob.replaced, 0) << "no notice between current peers";
}

TEST(PeerText, AnOlderPeerGetsWindows1252AndTheSenderIsToldOnce) {
    MemoryCable cable;
    Side ann(cable, MemoryCable::Side::A, QStringLiteral("Ann"));
    OlderSide old(cable, MemoryCable::Side::B);
    ann.host();
    old.join(QStringLiteral("Old"));
    ASSERT_TRUE(pumpUntil([&] { return ann.others.contains("Old"); }));

    const QString first =
        QStringLiteral("Gr\u00fc\u00dfe, \u65e5\u672c\u8a9e \u2014 hi \U0001F600");
    const QString second = QStringLiteral("\u041f\u0440\u0438 \u0645\u0631 caf\u00e9");
    ASSERT_TRUE(ann.peer.sendChatLine(first));
    ASSERT_TRUE(ann.peer.sendChatLine(QStringLiteral("plain")));
    ASSERT_TRUE(ann.peer.sendChatLine(second));
    old.say("Caf\xe9 \x80 \x97 ok");
    ASSERT_TRUE(pumpUntil([&] { return old.texts().size() == 3 && ann.chat.size() == 4; }));

    EXPECT_EQ(old.texts(), (QList<QByteArray>{"Gr\xfc\xdf"
                                              "e, ??? \x97 hi ?",
                                              "plain", "??? ?? caf\xe9"}));
    EXPECT_FALSE(ann.peer.sendsUtf8Text());
    EXPECT_FALSE(old.kinds().contains(12))
        << "no UTF-8 line to a peer that never said it reads them";
    EXPECT_TRUE(old.kinds().contains(13)) << "the hello an older peer passes over";
    // The own copies show what the other side got; its lines arrive whole.
    EXPECT_EQ(ann.chat, (QStringList{QStringLiteral("Ann: Gr\u00fc\u00dfe, ??? \u2014 hi ?"),
                                     "Ann: plain", QStringLiteral("Ann: ??? ?? caf\u00e9"),
                                     QStringLiteral("Old: Caf\u00e9 \u20ac \u2014 ok")}));
    EXPECT_EQ(ann.replaced, 1) << "told once per conversation";
    EXPECT_EQ(ann.peer.sendTypedText(QStringLiteral("\u00fc\u4e2d"), 0), QStringLiteral("\u00fc?"));
    EXPECT_EQ(ann.replaced, 1);

    // The next conversation is told again.
    old.play.Close();
    ASSERT_TRUE(pumpUntil([&] { return !ann.peer.senderRunning() && !old.play.Releasing(); }));
    OlderSide again(cable, MemoryCable::Side::B);
    again.join(QStringLiteral("Again"));
    ASSERT_TRUE(pumpUntil([&] { return ann.others.contains("Again"); }));
    ASSERT_TRUE(ann.peer.sendChatLine(QStringLiteral("\u4e2d")));
    ASSERT_TRUE(pumpUntil([&] { return again.texts().size() == 1; }));
    EXPECT_EQ(again.texts().first(), "?");
    EXPECT_EQ(ann.replaced, 2);
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
