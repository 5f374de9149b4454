// Both sides' figures of one transfer over a line of a set rate, with the send queue in front of
// it that the serial link has: they count what crossed the line, move as the bytes come, leave
// pauses out and agree with each other.

#include "TransferTestPeers.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace velmora;
using namespace velmora::test;

namespace {

// The two directions of a line that carries bytesPerMs each way. A side's messages wait in its
// queue, and its sender thread takes no block while queueLimit bytes wait (the send call
// blocks); the receiving side gets a message once its last byte has crossed. Each message costs
// its session and framing header as well.
class ThrottledLine {
public:
    static constexpr int kStepMs = 10;
    static constexpr int kOverheadBytes = 12 + 10;

    ThrottledLine(TestLink& link, double bytesPerMs, qsizetype queueLimit)
        : m_link(link), m_bytesPerMs(bytesPerMs), m_queueLimit(queueLimit) {}

    std::uint32_t now() const { return m_now; }

    // One step of kStepMs; the engines' refresh timer runs as it would.
    void step() {
        m_now += kStepMs;
        m_link.a.clock.tick = m_now;
        m_link.b.clock.tick = m_now;
        for (Direction* direction : {&m_ab, &m_ba}) {
            TestPeer& from = direction == &m_ab ? m_link.a : m_link.b;
            while (direction->queued() < m_queueLimit && from.cycle()) {
                takeOutbox(from, *direction);
            }
            takeOutbox(from, *direction);
            direction->budget += m_bytesPerMs * kStepMs;
            while (!direction->messages.empty() &&
                   direction->budget >= direction->messages.front().bytesLeft) {
                direction->budget -= direction->messages.front().bytesLeft;
                const SentMessage message = direction->messages.front().message;
                direction->messages.pop_front();
                m_link.peerOf(message.destination).deliver(message, from);
            }
            if (!direction->messages.empty()) {
                direction->messages.front().bytesLeft -= direction->budget;
                direction->budget = 0.0;
            } else {
                direction->budget = 0.0;  // an idle line saves nothing up
            }
        }
        if (m_now % TransferEngine::kRefreshIntervalMs == 0) {
            m_link.a.engine->refresh();
            m_link.b.engine->refresh();
        }
    }

private:
    struct Queued {
        SentMessage message;
        double bytesLeft = 0.0;
    };
    struct Direction {
        std::deque<Queued> messages;
        double budget = 0.0;
        qsizetype queued() const {
            double bytes = 0.0;
            for (const Queued& queued : messages) {
                bytes += queued.bytesLeft;
            }
            return static_cast<qsizetype>(bytes);
        }
    };

    void takeOutbox(TestPeer& from, Direction& direction) {
        for (SentMessage& message : from.takeOutbox()) {
            const auto bytes = static_cast<double>(message.bytes.size() + kOverheadBytes);
            direction.messages.push_back({std::move(message), bytes});
        }
    }

    TestLink& m_link;
    double m_bytesPerMs;
    qsizetype m_queueLimit;
    std::uint32_t m_now = 0;
    Direction m_ab;
    Direction m_ba;
};

QString text(const TransfersModel& model, int column) {
    return model.data(model.index(0, column)).toString();
}

int TransfersListPercent(const QString& percent) {
    return percent.section(u' ', 0, 0).toInt();
}

double kbPerSecond(const TransfersModel& model) {
    return text(model, colSpeed).section(u' ', 0, 0).toDouble();
}

struct LineCase {
    double bytesPerMs;
    int blockCode;
};

class TransferFiguresTest : public LinkInFolder, public ::testing::WithParamInterface<LineCase> {
protected:
    TransferFiguresTest() : LinkInFolder(QStringLiteral("figures")) {}
};

// 9600 and 115200 baud; a cable's block size, so that the line's queue holds many seconds.
INSTANTIATE_TEST_SUITE_P(Rates, TransferFiguresTest,
                         ::testing::Values(LineCase{0.96, 5}, LineCase{11.52, 5}));

TEST_P(TransferFiguresTest, BothSidesCountWhatCrossedAndAgree) {
    const LineCase line = GetParam();
    link.a.settings.code = line.blockCode;
    // About 70 s of the line.
    const int size = static_cast<int>(line.bytesPerMs * 70'000);
    link.a.engine->sendFiles({source("paced.bin", patternBytes(size, 3))}, link.opponentOf(link.a));
    ThrottledLine throttled(link, line.bytesPerMs, 32768 + 4096);
    TransfersModel& sender = link.a.model();
    TransfersModel& receiver = link.b.model();

    std::int32_t lastCount = 0;
    std::uint32_t lastChange = 0;
    // The rate is measured afresh after a resume: no figures to compare for a moment.
    std::uint32_t compareFrom = 0;
    std::uint32_t longestStill = 0;
    int compared = 0;
    const auto bothRunning = [&] {
        return sender.rowCount() == 1 && receiver.rowCount() == 1 &&
               sender.transfer(0).State == tsRunning && receiver.transfer(0).State == tsRunning;
    };
    // Runs the line until the time given, checking the figures as it goes.
    const auto runUntil = [&](std::uint32_t until) {
        while (throttled.now() < until && (throttled.now() < 1000 || receiver.rowCount() > 0)) {
            throttled.step();
            if (!bothRunning()) {
                continue;
            }
            if (receiver.transfer(0).Done != lastCount) {
                if (lastCount > 0) {
                    longestStill = std::max(longestStill, throttled.now() - lastChange);
                }
                lastCount = receiver.transfer(0).Done;
                lastChange = throttled.now();
            }
            if (throttled.now() % 250 != 0 || throttled.now() < compareFrom ||
                receiver.transfer(0).elapsedMs(throttled.now()) < 5000) {
                continue;
            }
            // After the first seconds: the same bytes and the same speed within 10 %.
            const double sent = sender.transfer(0).counted();
            const double written = receiver.transfer(0).counted();
            EXPECT_NEAR(sent, written, written * 0.1) << throttled.now();
            // The line's rate, less what the headers of the blocks take of it.
            EXPECT_NEAR(kbPerSecond(sender), line.bytesPerMs, line.bytesPerMs * 0.2)
                << throttled.now();
            EXPECT_NEAR(kbPerSecond(receiver), kbPerSecond(sender), kbPerSecond(sender) * 0.1)
                << throttled.now();
            EXPECT_NEAR(TransfersListPercent(text(sender, colPercent)),
                        TransfersListPercent(text(receiver, colPercent)), 2)
                << throttled.now();
            ++compared;
        }
    };
    runUntil(15'000);
    ASSERT_TRUE(bothRunning());
    EXPECT_GT(compared, 20);
    // The receiver's count moves as the bytes come (a block of 512 bytes takes the slower line
    // a little over half a second), not once every large block.
    EXPECT_LE(longestStill, 600U);

    // Paused by the receiver: the clocks stand still on both sides, no speed shows.
    link.b.engine->pause({0});
    runUntil(throttled.now() + 100);
    const QString senderElapsed = text(sender, colElapsed);
    const QString receiverElapsed = text(receiver, colElapsed);
    runUntil(throttled.now() + 20'000);
    for (const TransfersModel* model : {&sender, &receiver}) {
        EXPECT_EQ(model->transfer(0).State, tsPaused);
        EXPECT_EQ(text(*model, colSpeed), "");
        EXPECT_EQ(text(*model, colLeft), "");
    }
    EXPECT_EQ(text(sender, colElapsed), senderElapsed);
    EXPECT_EQ(text(receiver, colElapsed), receiverElapsed);

    // Resumed: Elapsed goes on from where it stood, and the speed is measured afresh, without
    // the pause in it.
    link.b.engine->resume({0});
    compareFrom = throttled.now() + 1500;
    runUntil(throttled.now() + 300);
    EXPECT_GE(text(receiver, colElapsed), receiverElapsed);
    EXPECT_EQ(text(receiver, colSpeed), "?");
    compared = 0;
    runUntil(throttled.now() + 10'000);
    EXPECT_GT(compared, 10);
    EXPECT_NEAR(kbPerSecond(receiver), line.bytesPerMs, line.bytesPerMs * 0.2);

    runUntil(throttled.now() + 100'000);
    EXPECT_EQ(receiver.rowCount(), 0);
    EXPECT_EQ(fileBytes(received(link.b, "paced.bin")), patternBytes(size, 3));
}

}  // namespace
