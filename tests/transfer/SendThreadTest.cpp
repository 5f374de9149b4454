#include "transfer/SendThread.h"
#include "transfer/SendThreadLifetime.h"

#include "TransferTestPeers.h"
#include "session/UiHandOver.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>

#include <atomic>

using namespace velmora;
using namespace velmora::test;

namespace {

// Side a sends through a real sender thread; the test's main thread is the UI thread of both
// sides and carries the messages between them.
class SendThreadTest : public LinkInFolder {
protected:
    SendThreadTest() : LinkInFolder(QStringLiteral("thread")) {
        thread = std::make_unique<TSendThread>(
            [this](std::function<void()> work) { return handOver.runOnUiThread(std::move(work)); },
            [this](BlockCursor& cursor) {
                ++prepared;
                return link.a.engine->prepareBlock(cursor);
            },
            [this](std::uint32_t destination, const QByteArray& bytes) {
                // The thread sends; the message is queued like the session would.
                sent.push(destination, bytes);
                return true;
            },
            [this] { handOver.wake(); });
    }

    ~SendThreadTest() override { stop(); }

    // Runs the UI thread's events and delivers messages until the condition holds.
    bool pumpUntil(const std::function<bool()>& done, int limitMs = 60'000) {
        QElapsedTimer waited;
        waited.start();
        while (!done()) {
            if (waited.elapsed() > limitMs) {
                return false;
            }
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
            sent.deliverTo(link.b, link.a);
            link.deliverAll();
        }
        return true;
    }

    // Ends the thread the way the UI thread must: the wait runs pending hand-overs.
    void stop() {
        if (!thread) {
            return;
        }
        thread->requestStop();
        handOver.waitUntil([this] { return thread->hasEnded(); });
        thread->wait();
    }

    QString source(const QString& name, const QByteArray& bytes) {
        QDir().mkpath(folder + "/out");
        return writtenFile(folder + "/out/" + name, bytes);
    }

    // Messages the thread sent, kept apart from those of the UI thread until delivered.
    struct ThreadOutbox {
        void push(std::uint32_t destination, const QByteArray& bytes) {
            const std::lock_guard lock(mutex);
            messages.push_back({destination, bytes});
        }
        void deliverTo(TestPeer& to, TestPeer& from) {
            std::deque<SentMessage> taken;
            {
                const std::lock_guard lock(mutex);
                taken.swap(messages);
            }
            for (const SentMessage& message : taken) {
                to.deliver(message, from);
            }
        }
        std::mutex mutex;
        std::deque<SentMessage> messages;
    };

    UiHandOver handOver;
    ThreadOutbox sent;
    std::atomic<int> prepared{0};
    std::unique_ptr<TSendThread> thread;
};

}  // namespace

TEST_F(SendThreadTest, SendsSeveralFilesWholeAtLowPriority) {
    link.a.settings.code = 4;
    const QByteArray one = patternBytes(70'000, 1);
    const QByteArray two = patternBytes(33'333, 2);
    // The session's own way of starting and stopping it.
    stop();
    thread = startSendThread(*link.a.engine, handOver,
                             [this](std::uint32_t destination, const QByteArray& bytes) {
                                 sent.push(destination, bytes);
                                 return true;
                             });
    EXPECT_EQ(thread->priority(), QThread::LowPriority);
    link.a.engine->sendFiles({source("one", one), source("two", two)}, link.opponentOf(link.a));
    ASSERT_TRUE(pumpUntil([&] {
        return link.a.model().outcomes().verifiedWhole == 2 && link.b.model().rowCount() == 0;
    }));
    EXPECT_EQ(fileBytes(link.b.settings.incoming + "one"), one);
    EXPECT_EQ(fileBytes(link.b.settings.incoming + "two"), two);
    stopSendThread(thread, handOver);
    EXPECT_FALSE(thread);
    stopSendThread(thread, handOver);
}

TEST_F(SendThreadTest, SuspendedThreadPreparesNoBlocks) {
    // 2048 blocks of 512 bytes: still under way when suspended again.
    const QByteArray bytes = patternBytes(1 << 20, 3);
    link.a.engine->sendFiles({source("s", bytes)}, link.opponentOf(link.a));
    link.deliverAll();
    thread->suspend();
    EXPECT_TRUE(thread->isSuspended());
    thread->startSending();
    // However long the UI thread runs, a suspended thread prepares nothing.
    QElapsedTimer waited;
    waited.start();
    while (waited.elapsed() < 200) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    EXPECT_EQ(prepared.load(), 0);
    EXPECT_EQ(link.a.model().transfer(0).Done, 0);

    thread->resume();
    EXPECT_FALSE(thread->isSuspended());
    ASSERT_TRUE(pumpUntil([&] { return prepared.load() >= 4; }));
    // Suspended mid-transfer: at most the cycle already under way goes on.
    thread->suspend();
    ASSERT_TRUE(pumpUntil([&] { return sent.messages.empty(); }));
    QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    const int before = prepared.load();
    waited.restart();
    while (waited.elapsed() < 200) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    EXPECT_LE(prepared.load(), before + 1);
    EXPECT_EQ(link.a.model().rowCount(), 1);
    thread->resume();
    ASSERT_TRUE(pumpUntil([&] { return link.b.model().rowCount() == 0; }));
    EXPECT_EQ(fileBytes(link.b.settings.incoming + "s"), bytes);
}

TEST_F(SendThreadTest, StoppingWhileTheThreadWaitsForAHandOverDoesNotDeadlock) {
    link.a.engine->sendFiles({source("d", patternBytes(1 << 20, 4))}, link.opponentOf(link.a));
    link.deliverAll();
    thread->startSending();
    ASSERT_TRUE(pumpUntil([&] { return prepared.load() >= 3; }));
    // The UI thread stops handling events: the thread is soon blocked in a hand-over.
    link.a.engine->stopAll(QStringLiteral("the connection was lost"));
    stop();
    EXPECT_TRUE(thread->hasEnded());
    ASSERT_EQ(link.a.model().rowCount(), 1);
    EXPECT_EQ(link.a.model().transfer(0).State, tsStopped);
}

TEST_F(SendThreadTest, ALostLineEndsThePreparingOfBlocks) {
    stop();
    std::atomic<int> sends{0};
    // The session takes three blocks, then the line is lost.
    thread = startSendThread(*link.a.engine, handOver,
                             [&](std::uint32_t destination, const QByteArray& bytes) {
                                 if (++sends > 3) {
                                     return false;
                                 }
                                 sent.push(destination, bytes);
                                 return true;
                             });
    link.a.engine->sendFiles({source("lost", patternBytes(1 << 20, 5))}, link.opponentOf(link.a));
    ASSERT_TRUE(pumpUntil([&] { return sends.load() >= 4; }));
    QElapsedTimer waited;
    waited.start();
    while (waited.elapsed() < 200) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    // The rest of the file is neither read nor counted as sent; the line stays listed.
    EXPECT_EQ(sends.load(), 4);
    ASSERT_EQ(link.a.model().rowCount(), 1);
    EXPECT_LT(link.a.model().transfer(0).Done, 1 << 20);
    stopSendThread(thread, handOver);
    EXPECT_FALSE(thread);
}
