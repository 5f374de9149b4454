// Files between two peers: over the in-memory line, and over the virtual cable with bit errors
// and bursts of noise. Every file must arrive whole and be confirmed so on the sending side.

#include "../transfer/TransferTestPeers.h"
#include "cable/NullModemCable.h"
#include "peer/Peer.h"
#include "session/link/SerialProvider.h"
#include "session/service/MemoryCable.h"
#include "session/service/MemoryProvider.h"
#include "session/service/SessionService.h"
#include "support/PeerSteps.h"
#include "support/TestEnvironment.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <gtest/gtest.h>

using namespace velmora;
using namespace velmora::test;

namespace {

// One side: a peer over its own session service, receiving into a folder of its own.
class SessionSide final {
public:
    SessionSide(ProviderEntry provider, const QString& folder, const QString& name)
        : m_service({asSerialCable(std::move(provider))}), m_name(name) {
        settings.incoming = folder + "/in-" + name + "/";
        settings.fallback = settings.incoming;
        settings.code = 3;
        QDir().mkpath(settings.incoming);
        QObject::connect(&m_peer, &Peer::conversationLine,
                         [this](const QString& line) { lines.append(line); });
        QObject::connect(&m_peer, &Peer::transferStatus,
                         [this](const QString& text) { lines.append(text); });
        QObject::connect(&m_peer, &Peer::userMessage,
                         [](const QString& text) { ADD_FAILURE() << qPrintable(text); });
    }

    bool host() { return test::connected(test::connectPeer(m_peer, false, m_name)); }
    bool join() { return test::connected(test::connectPeer(m_peer, true, m_name)); }

    // Whether the other side's participant is there.
    bool otherPresent() const {
        const TDXPlayPlayer* other = m_peer.opponent();
        return other != nullptr && other->RemotePlayer;
    }

    Peer& peer() { return m_peer; }
    const TransfersModel::Outcomes& outcomes() const {
        return m_peer.transfers().model().outcomes();
    }

    FakeSettings settings;
    QStringList lines;

private:
    SessionService m_service;
    Peer m_peer{m_service, settings};
    QString m_name;
};

struct Sent {
    QString name;
    QByteArray bytes;
};

// Ann hosts, Bob joins; each sends its files to the other, and every one must arrive whole and
// verified on both sides.
void exchangeFiles(SessionSide& ann, SessionSide& bob, const QList<Sent>& annFiles, const QList<Sent>& bobFiles,
                   const QString& folder) {
    ASSERT_TRUE(ann.host());
    ASSERT_TRUE(bob.join());
    ASSERT_TRUE(pumpUntil([&] { return ann.otherPresent() && bob.otherPresent(); }));
    const auto send = [&](SessionSide& side, const QList<Sent>& files, const QString& out) {
        QDir().mkpath(out);
        QStringList paths;
        for (const Sent& file : files) {
            paths.append(writtenFile(out + "/" + file.name, file.bytes));
        }
        side.peer().sendFiles(paths);
    };
    send(ann, annFiles, folder + "/out-ann");
    send(bob, bobFiles, folder + "/out-bob");
    const auto all = static_cast<int>(annFiles.size() + bobFiles.size());
    ASSERT_TRUE(pumpUntil(
        [&] {
            return ann.outcomes().verifiedWhole + bob.outcomes().verifiedWhole == 2 * all ||
                   ann.outcomes().failed + bob.outcomes().failed > 0;
        },
        180'000))
        << qPrintable(ann.lines.join('\n') + '\n' + bob.lines.join('\n'));
    EXPECT_EQ(ann.outcomes().failed + bob.outcomes().failed, 0)
        << qPrintable(ann.lines.join('\n') + '\n' + bob.lines.join('\n'));
    for (const Sent& file : annFiles) {
        EXPECT_EQ(fileBytes(bob.settings.incoming + file.name), file.bytes)
            << file.name.toStdString();
    }
    for (const Sent& file : bobFiles) {
        EXPECT_EQ(fileBytes(ann.settings.incoming + file.name), file.bytes)
            << file.name.toStdString();
    }
}

}  // namespace

TEST(PeerFiles, OverTheMemoryLineFilesArriveVerifiedAndAStrangePartIsLeftAlone) {
    const QString folder = makeTempFolder(QStringLiteral("session-memory"));
    MemoryCable cable;
    SessionSide ann(cable.providerEntry(MemoryCable::Side::A), folder, QStringLiteral("ann"));
    SessionSide bob(cable.providerEntry(MemoryCable::Side::B), folder, QStringLiteral("bob"));
    // Bob holds the start of one file, and a ".part" of another file under a sent name.
    const QByteArray resumed = patternBytes(300'000, 1);
    writtenFile(bob.settings.incoming + "resumed.bin.part", resumed.left(100'000));
    writtenFile(bob.settings.incoming + "strange.bin.part", patternBytes(5000, 2));
    exchangeFiles(ann, bob,
                  {{"resumed.bin", resumed},
                   {"strange.bin", patternBytes(20'000, 3)},
                   {QString::fromUtf8("Дом.txt"), "house"}},
                  {{QString::fromUtf8("Кот.txt"), "cat"}, {"back.bin", patternBytes(70'000, 4)}},
                  folder);
    EXPECT_EQ(fileBytes(bob.settings.incoming + "strange.bin.part"), patternBytes(5000, 2));
    EXPECT_FALSE(QFileInfo::exists(bob.settings.incoming + "resumed.bin.part"));
}

TEST(PeerFiles, OverANoisyCableFilesArriveVerified) {
    const QString folder = makeTempFolder(QStringLiteral("session-noisy"));
    CableOptions options;
    options.directory = (folder + "/cable").toStdString();
    options.line.baud = 921600;
    options.line.bitErrorRate = 1e-4;
    options.line.garbageBurstsPerSecond = 10;
    options.line.garbageBurstMaxLength = 32;
    options.seed = 11;
    NullModemCable cable(options);
    const auto serial = [&](const std::filesystem::path& end) {
        SerialSettings settings;
        settings.portName = QString::fromStdString(end.string());
        settings.baud = options.line.baud;
        return ProviderEntry{guids::ServiceProviderSerial, QStringLiteral("Serial Connection"),
                             [settings, folder] {
                                 return std::make_unique<SerialProvider>(folder, nullptr, settings);
                             }};
    };
    SessionSide ann(serial(cable.linkA()), folder, QStringLiteral("ann"));
    SessionSide bob(serial(cable.linkB()), folder, QStringLiteral("bob"));
    exchangeFiles(ann, bob,
                  {{"one.bin", patternBytes(120'000, 5)}, {"two.txt", "a small file\n"}},
                  {{"three.bin", patternBytes(60'000, 6)}}, folder);
}
