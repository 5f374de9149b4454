// Files between two whole sides, each a session component with its transfer engine and sender
// thread: over the in-memory line, and over the virtual cable with bit errors and bursts of
// noise. Every file must arrive whole and be confirmed so on the sending side.

#include "TransferTestPeers.h"
#include "cable/NullModemCable.h"
#include "protocol/PeerMessageDispatcher.h"
#include "session/DXPlay.h"
#include "session/UiHandOver.h"
#include "session/link/SerialProvider.h"
#include "session/service/MemoryCable.h"
#include "session/service/MemoryProvider.h"
#include "session/service/SessionService.h"
#include "support/RecordingPeer.h"
#include "support/TestEnvironment.h"
#include "transfer/SendThreadLifetime.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <gtest/gtest.h>

using namespace velmora;
using namespace velmora::test;

namespace {

// One side as the window runs it: the session component, the transfer engine with the sender
// thread while the session is open, received messages dispatched on this (the UI) thread.
class SessionSide final : public TransferNotices {
public:
    SessionSide(ProviderEntry provider, const QString& folder, const QString& name)
        : m_service({std::move(provider)}),
          m_play(m_service),
          m_engine(
              settings, *this, m_clock,
              [this](std::uint32_t to, const QByteArray& message) {
                  m_play.SendMessage(to, message.constData(),
                                     static_cast<std::int32_t>(message.size()));
              },
              [this] { return static_cast<std::uint32_t>(m_random()); }, {}, QLocale::c()),
          m_random(static_cast<std::uint32_t>(qHash(name))) {
        settings.incoming = folder + "/in-" + name + "/";
        settings.fallback = settings.incoming;
        settings.code = 3;
        QDir().mkpath(settings.incoming);
        m_play.setGUID(RecordingPeerGuid);
        m_play.setExceptionDisplay([](const QString& text) { ADD_FAILURE() << qPrintable(text); });
        m_play.OnOpen = [this](TCustomDXPlay&) {
            m_sendThread = startSendThread(m_engine, m_handOver,
                                           [this](std::uint32_t to, const QByteArray& message) {
                                               return m_play.TrySendMessage(to, message);
                                           });
        };
        m_play.OnClose = [this](TCustomDXPlay&) {
            stopSendThread(m_sendThread, m_handOver);
            m_engine.stopAll();
        };
        m_play.OnMessage = [this](TCustomDXPlay&, TDXPlayPlayer& from, const void* data,
                                  std::int32_t size) {
            dispatchPeerMessage({from.ID, from.Name}, static_cast<const char*>(data), size,
                                m_conversation, m_engine);
        };
        m_name = name;
    }

    ~SessionSide() override {
        stopSendThread(m_sendThread, m_handOver);
        m_play.Close();
    }

    void host(const QString& provider) {
        m_play.setProviderName(provider);
        m_play.OpenSession(true, QStringLiteral("Files"), m_name);
    }

    bool join(const QString& provider) {
        m_play.setProviderName(provider);
        if (m_play.EnumerateSessions(0) != DP_OK || m_play.Sessions().isEmpty()) {
            return false;
        }
        m_play.OpenSession(false, m_play.Sessions().first().Name, m_name);
        return true;
    }

    std::optional<Opponent> opponent() const {
        for (int i = 0; i < m_play.Players().Count(); ++i) {
            if (m_play.Players().Items(i).RemotePlayer) {
                return Opponent{m_play.Players().Items(i).ID, false};
            }
        }
        return std::nullopt;
    }

    TransferEngine& engine() { return m_engine; }
    const TransfersModel::Outcomes& outcomes() const { return m_engine.model().outcomes(); }

    void showTransferStatus(const QString& text) override { lines.append(text); }
    void appendConversationLine(const QString& line) override { lines.append(line); }
    void showMessage(const QString& text) override { ADD_FAILURE() << qPrintable(text); }

    FakeSettings settings;
    QStringList lines;

private:
    SessionService m_service;
    UiHandOver m_handOver;
    SystemTransferClock m_clock;
    TDXPlay m_play;
    IgnoreConversation m_conversation;
    TransferEngine m_engine;
    std::mt19937 m_random;
    std::unique_ptr<TSendThread> m_sendThread;
    QString m_name;
};

bool pumpUntil(const std::function<bool()>& done, int limitMs = 180'000) {
    QElapsedTimer waited;
    waited.start();
    while (!done()) {
        if (waited.elapsed() > limitMs) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

struct Sent {
    QString name;
    QByteArray bytes;
};

// Ann hosts, Bob joins; each sends its files to the other, and every one must arrive whole and
// verified on both sides.
void exchangeFiles(SessionSide& ann, SessionSide& bob, const QString& provider,
                   const QList<Sent>& annFiles, const QList<Sent>& bobFiles,
                   const QString& folder) {
    ann.host(provider);
    ASSERT_TRUE(bob.join(provider));
    ASSERT_TRUE(pumpUntil([&] { return ann.opponent() && bob.opponent(); }));
    const auto send = [&](SessionSide& side, const QList<Sent>& files, const QString& out) {
        QDir().mkpath(out);
        QStringList paths;
        for (const Sent& file : files) {
            paths.append(writeFile(out + "/" + file.name, file.bytes));
        }
        side.engine().sendFiles(paths, side.opponent());
    };
    send(ann, annFiles, folder + "/out-ann");
    send(bob, bobFiles, folder + "/out-bob");
    const auto all = static_cast<int>(annFiles.size() + bobFiles.size());
    ASSERT_TRUE(pumpUntil([&] {
        return ann.outcomes().verifiedWhole + bob.outcomes().verifiedWhole == 2 * all ||
               ann.outcomes().failed + bob.outcomes().failed > 0;
    })) << qPrintable(ann.lines.join('\n') + '\n' + bob.lines.join('\n'));
    EXPECT_EQ(ann.outcomes().failed + bob.outcomes().failed, 0)
        << qPrintable(ann.lines.join('\n') + '\n' + bob.lines.join('\n'));
    for (const Sent& file : annFiles) {
        EXPECT_EQ(readFile(bob.settings.incoming + file.name), file.bytes)
            << file.name.toStdString();
    }
    for (const Sent& file : bobFiles) {
        EXPECT_EQ(readFile(ann.settings.incoming + file.name), file.bytes)
            << file.name.toStdString();
    }
}

}  // namespace

TEST(SessionTransferTest, OverTheMemoryLineFilesArriveVerifiedAndAStrangePartIsLeftAlone) {
    const QString folder = makeTempFolder(QStringLiteral("session-memory"));
    MemoryCable cable;
    SessionSide ann(cable.providerEntry(MemoryCable::Side::A), folder, QStringLiteral("ann"));
    SessionSide bob(cable.providerEntry(MemoryCable::Side::B), folder, QStringLiteral("bob"));
    // Bob holds the start of one file, and a ".part" of another file under a sent name.
    const QByteArray resumed = patternBytes(300'000, 1);
    writeFile(bob.settings.incoming + "resumed.bin.part", resumed.left(100'000));
    writeFile(bob.settings.incoming + "strange.bin.part", patternBytes(5000, 2));
    exchangeFiles(ann, bob, QString::fromLatin1(MemoryProvider::kName),
                  {{"resumed.bin", resumed},
                   {"strange.bin", patternBytes(20'000, 3)},
                   {QString::fromUtf8("Дом.txt"), "house"}},
                  {{QString::fromUtf8("Кот.txt"), "cat"}, {"back.bin", patternBytes(70'000, 4)}},
                  folder);
    EXPECT_EQ(readFile(bob.settings.incoming + "strange.bin.part"), patternBytes(5000, 2));
    EXPECT_FALSE(QFileInfo::exists(bob.settings.incoming + "resumed.bin.part"));
}

TEST(SessionTransferTest, OverANoisyCableFilesArriveVerified) {
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
    exchangeFiles(ann, bob, QStringLiteral("Serial Connection"),
                  {{"one.bin", patternBytes(120'000, 5)}, {"two.txt", "a small file\n"}},
                  {{"three.bin", patternBytes(60'000, 6)}}, folder);
}
