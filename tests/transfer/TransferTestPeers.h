#pragma once

// Two sides of a connection joined in memory: each side's messages queue up and are delivered
// to the other side's dispatcher when the test pumps, and the sender thread's cycles are run by
// hand, so every exchange is deterministic.

#include "protocol/PeerMessageDispatcher.h"
#include "transfer/TransferClock.h"
#include "transfer/TransferEngine.h"
#include "transfer/TransferServices.h"

#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <random>
#include <vector>

namespace velmora::test {

class FakeClock final : public TransferClock {
public:
    std::uint32_t tickCount() const override { return tick; }

    std::uint32_t tick = 0;
};

class RecordingNotices final : public TransferNotices {
public:
    void showTransferStatus(const QString& text) override { statuses.push_back(text); }
    void appendConversationLine(const QString& line) override { lines.push_back(line); }
    void showMessage(const QString& text) override { messages.push_back(text); }

    std::vector<QString> statuses;
    std::vector<QString> lines;
    std::vector<QString> messages;
};

class FakeSettings final : public TransferSettings {
public:
    QString incomingFolder() const override { return incoming; }
    void setIncomingFolder(const QString& folder) override { incoming = folder; }
    QString defaultIncomingFolder() const override { return fallback; }
    bool blockIncoming() const override { return blocked; }
    bool internalLoop() const override { return loop; }
    int blockSizeCode() const override { return code; }

    QString incoming;
    QString fallback;
    bool blocked = false;
    bool loop = false;
    int code = 1;
};

class IgnoreConversation final : public ConversationHandler {
public:
    void textReceived(const QString&, const QString&) override {}
    void keyStrokeReceived(const KeyStroke&) override {}
};

struct SentMessage {
    std::uint32_t destination = 0;
    QByteArray bytes;
};

// A byte pattern that shows any misplaced block.
inline QByteArray patternBytes(int size, int seed) {
    QByteArray bytes(size, Qt::Uninitialized);
    std::minstd_rand generator(static_cast<std::uint32_t>(seed) + 1);
    for (char& byte : bytes) {
        byte = static_cast<char>(generator() & 0xFF);
    }
    return bytes;
}

// The path, once the bytes are written there; empty when they cannot be.
inline QString writtenFile(const QString& path, const QByteArray& bytes) {
    return writeFile(path, bytes) ? path : QString();
}

// A ".part" as this program leaves it, marked for a file of offeredSize bytes; the path, or
// empty when it cannot be written or marked.
inline QString markedPartial(const QString& path, const QByteArray& bytes,
                             std::int32_t offeredSize) {
    return writeFile(path, bytes) && FileReceiver::markPartial(path, offeredSize) ? path
                                                                                  : QString();
}

// The file's bytes; "<missing>" when there is no such file, so that it never equals empty bytes.
inline QByteArray fileBytes(const QString& path) {
    return QFile::exists(path) ? readFile(path) : QByteArray("<missing>");
}

// One side: its engine with fake services, and the messages it has sent and not yet delivered.
class TestPeer {
public:
    // The kinds after 5, which a peer of the first version neither sends nor reads.
    static bool isFileCheckMessage(const QByteArray& bytes) {
        const auto kind = messageKindOf(bytesOf(bytes));
        return kind && *kind > static_cast<std::uint32_t>(MessageKind::TransferControl);
    }

    TestPeer(std::uint32_t id, QString name, const QString& folder, std::uint32_t seed)
        : id(id), name(std::move(name)), m_generator(seed) {
        settings.incoming = folder + QStringLiteral("/in-") + this->name + QLatin1Char('/');
        settings.fallback = folder + QStringLiteral("/default-") + this->name + QLatin1Char('/');
        QDir().mkpath(settings.incoming);
        engine = std::make_unique<TransferEngine>(
            settings, notices, clock,
            [this](std::uint32_t destination, const QByteArray& bytes) {
                if (olderPeer && isFileCheckMessage(bytes)) {
                    return;
                }
                const std::lock_guard lock(m_mutex);
                outbox.push_back({destination, bytes});
            },
            [this] { return static_cast<std::uint32_t>(m_generator()); },
            [](const QString&) { return QByteArray(kIconFieldSize, '\x5A'); }, QLocale::c());
    }

    TransfersModel& model() { return engine->model(); }

    std::deque<SentMessage> takeOutbox() {
        const std::lock_guard lock(m_mutex);
        return std::exchange(outbox, {});
    }

    // One cycle of the sender thread; the block joins the outbox as the thread would send it.
    bool cycle() {
        auto block = engine->prepareBlock(cursor);
        if (!block) {
            return false;
        }
        const std::lock_guard lock(m_mutex);
        outbox.push_back({block->destination, block->message});
        return true;
    }

    void deliver(const SentMessage& message, TestPeer& from) {
        if (olderPeer && isFileCheckMessage(message.bytes)) {
            return;  // an unknown kind to a peer of the first version
        }
        dispatchPeerMessage({from.id, from.name}, message.bytes.constData(),
                            static_cast<int>(message.bytes.size()), conversation, *engine);
    }

    std::uint32_t id;
    QString name;
    FakeClock clock;
    RecordingNotices notices;
    FakeSettings settings;
    IgnoreConversation conversation;
    std::unique_ptr<TransferEngine> engine;
    BlockCursor cursor;
    std::deque<SentMessage> outbox;
    // Plays a Velmora of the first version: the file check's kinds go neither out nor in.
    bool olderPeer = false;

private:
    std::mutex m_mutex;
    std::mt19937 m_generator;
};

// Two sides and the line between them. Messages to a side's own participant loop back.
class TestLink {
public:
    explicit TestLink(const QString& folder)
        : a(1, QStringLiteral("alice"), folder, 11), b(2, QStringLiteral("bob"), folder, 22) {}

    Opponent opponentOf(const TestPeer& peer) const { return {&peer == &a ? b.id : a.id, false}; }

    // Delivers every queued message, the answers they cause included. Returns how many.
    int deliverAll() {
        int delivered = 0;
        for (bool any = true; any;) {
            any = false;
            for (TestPeer* from : {&a, &b}) {
                for (const SentMessage& message : from->takeOutbox()) {
                    peerOf(message.destination).deliver(message, *from);
                    ++delivered;
                    any = true;
                }
            }
        }
        return delivered;
    }

    // Runs sender cycles on both sides and delivers, until nothing moves any more.
    void runToEnd(int maxCycles = 100000) {
        deliverAll();
        for (int i = 0; i < maxCycles; ++i) {
            const bool moved = a.cycle() | b.cycle();
            if (deliverAll() == 0 && !moved && !busy()) {
                return;
            }
        }
    }

    // Whether a side still has work for its cycles: a file to send, or a resumed prefix to
    // read back before it answers an offer.
    bool busy() {
        for (TestPeer* peer : {&a, &b}) {
            for (int row = 0; row < peer->model().rowCount(); ++row) {
                const TTransfer& transfer = peer->model().transfer(row);
                const bool sending = transfer.Outgoing && !transfer.anyWaiting();
                const bool hashing = !transfer.Outgoing && transfer.hashingPrefix();
                if (transfer.State == tsRunning && (sending || hashing)) {
                    return true;
                }
            }
        }
        return false;
    }

    TestPeer& peerOf(std::uint32_t id) { return id == a.id ? a : b; }

    TestPeer a;
    TestPeer b;
};

// A fixture: the link in a temporary folder of the test's own, and the files it sends and
// receives there.
class LinkInFolder : public ::testing::Test {
protected:
    explicit LinkInFolder(const QString& prefix) : folder(makeTempFolder(prefix)), link(folder) {}

    // A file to send, written under the folder's "out".
    QString source(const QString& name, const QByteArray& bytes) {
        QDir().mkpath(folder + "/out");
        return writtenFile(folder + "/out/" + name, bytes);
    }

    // Where a file sent to `peer` arrives.
    static QString received(const TestPeer& peer, const QString& name) {
        return peer.settings.incoming + name;
    }

    QString folder;
    TestLink link;
};

}  // namespace velmora::test
