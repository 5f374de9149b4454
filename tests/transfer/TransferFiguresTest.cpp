// Both sides' figures of one transfer over a line of a set rate, with the send queue in front of
// it that the serial link has: they count what crossed the line, move as the bytes come, leave
// pauses out and agree with each other.

#include "TransferTestPeers.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <optional>

using namespace velmora;
using namespace velmora::test;

namespace {

// The two directions of a line that carries bytesPerMs each way. A side's messages wait in its
// queue, and its sender thread takes no block while queueLimit bytes wait (the send call
// blocks); the receiving side gets a message once its last byte has crossed. Each message costs
// its session and framing header as well, and 32 or more zeros that end it cost a zero-fill
// frame instead of their length, as the serial link sends them.
class ThrottledLine {
public:
    static constexpr int kStepMs = 10;
    static constexpr int kOverheadBytes = 12 + 10;
    static constexpr int kZeroFillBytes = 7 + 5;
    static constexpr int kLeastZeroFill = 32;

    // The line bytes a message takes.
    static double lineBytes(const QByteArray& message) {
        qsizetype end = message.size();
        while (end > 0 && message[end - 1] == '\0') {
            --end;
        }
        const qsizetype zeros = message.size() - end;
        return static_cast<double>(
            kOverheadBytes + (zeros >= kLeastZeroFill ? end + kZeroFillBytes : message.size()));
    }

    ThrottledLine(TestLink& link, double bytesPerMs, qsizetype queueLimit)
        : m_link(link), m_bytesPerMs(bytesPerMs), m_queueLimit(queueLimit) {}

    std::uint32_t now() const { return m_now; }

    // The size and the count of a file block that crossed.
    struct Crossed {
        int size = 0;
        int count = 0;
    };
    // Notes the data blocks that cross from now on.
    void noteBlocks(std::vector<Crossed>& blocks) { m_blocks = &blocks; }

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
                const auto block = parseFileBlock(bytesOf(message.bytes));
                if (block && !block->last && m_blocks) {
                    m_blocks->push_back(
                        {*blockSizeOfCode(block->blockCode), static_cast<int>(block->data.size())});
                }
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
            const double bytes = lineBytes(message.bytes);
            direction.messages.push_back({std::move(message), bytes});
        }
    }

    TestLink& m_link;
    double m_bytesPerMs;
    qsizetype m_queueLimit;
    std::uint32_t m_now = 0;
    std::vector<Crossed>* m_blocks = nullptr;
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
            // The rates themselves: the texts have one decimal, a step of over 10 % at 9600.
            const double sentRate = sender.transfer(0).Window.rate().value_or(0.0);
            EXPECT_NEAR(receiver.transfer(0).Window.rate().value_or(0.0), sentRate, sentRate * 0.1)
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

// The times at which a count changed, and whether every second from `from` to `to` saw at least
// two of them.
struct Moves {
    std::vector<std::uint32_t> at;
    std::int32_t last = 0;

    void note(std::uint32_t now, std::int32_t count) {
        if (count != last) {
            at.push_back(now);
            last = count;
        }
    }
    // The first second from `from` on with fewer than two changes; none when there is none.
    std::optional<std::uint32_t> stillSecond(std::uint32_t from, std::uint32_t to) const {
        for (std::uint32_t start = from; start + 1000 <= to; start += ThrottledLine::kStepMs) {
            const auto changes = std::count_if(at.begin(), at.end(), [&](std::uint32_t tick) {
                return tick >= start && tick < start + 1000;
            });
            if (changes < 2) {
                return start;
            }
        }
        return std::nullopt;
    }
};

// A file sent over a 9600 baud line with the block size of a cable (32 KiB): the blocks are
// filled only with what the line carries in less than half a second, so that both rows' counts
// move at least twice a second; on a fast line every block is full.
TEST_P(TransferFiguresTest, SlowLinesFillBlocksOnlyPartlySoThatCountsMoveTwiceASecond) {
    const LineCase line = GetParam();
    link.a.settings.code = line.blockCode;
    const int size = static_cast<int>(line.bytesPerMs * 40'000);
    QDir().mkpath(folder + "/out");
    link.a.engine->sendFiles({writtenFile(folder + "/out/filled.bin", patternBytes(size, 5))},
                             link.opponentOf(link.a));
    ThrottledLine throttled(link, line.bytesPerMs, 32768 + 4096);
    std::vector<ThrottledLine::Crossed> blocks;
    throttled.noteBlocks(blocks);
    TransfersModel& sender = link.a.model();
    TransfersModel& receiver = link.b.model();
    Moves sent;
    Moves written;
    std::optional<std::uint32_t> runningFrom;
    int compared = 0;
    // The receiver counts to the sender at most every 250 ms, so the sender's count may lag by
    // what the line carried in that time and one block.
    const double lag = line.bytesPerMs * 250 + 4096;
    while (throttled.now() < 25'000) {
        throttled.step();
        if (!runningFrom && receiver.rowCount() == 1 && !sender.transfer(0).anyWaiting()) {
            runningFrom = throttled.now();
        }
        if (!runningFrom) {
            continue;
        }
        ASSERT_EQ(receiver.rowCount(), 1);
        sent.note(throttled.now(), sender.transfer(0).counted());
        written.note(throttled.now(), receiver.transfer(0).counted());
        if (throttled.now() >= *runningFrom + 1000 &&
            throttled.now() % TransferEngine::kRefreshIntervalMs == 0) {
            const double shown = receiver.transfer(0).counted();
            const double confirmed = sender.transfer(0).counted();
            EXPECT_LE(confirmed, shown) << throttled.now();
            EXPECT_LE(shown - confirmed, lag) << throttled.now();
            if (throttled.now() >= *runningFrom + 3000) {
                EXPECT_NEAR(confirmed, shown, shown * 0.1) << throttled.now();
            }
            ++compared;
        }
    }
    ASSERT_TRUE(runningFrom);
    EXPECT_GT(compared, 80);
    EXPECT_EQ(sent.stillSecond(*runningFrom + 1000, throttled.now()), std::nullopt);
    EXPECT_EQ(written.stillSecond(*runningFrom + 1000, throttled.now()), std::nullopt);

    // Until the rate is known the blocks are full; on the slow line they carry less from then on,
    // yet not so little that their headers take the line. On the fast line the blocks the link
    // took first are small, the later ones 4 KiB, the largest that take it less than 0.4 s.
    ASSERT_GT(blocks.size(), 40U);
    EXPECT_EQ(blocks.front().count, blocks.front().size);
    const bool slow = line.bytesPerMs * 400 < 512;
    for (std::size_t i = blocks.size() * 3 / 4; i + 1 < blocks.size(); ++i) {
        EXPECT_EQ(blocks[i].size, slow ? 512 : 4096) << i;
        if (slow) {
            EXPECT_LT(blocks[i].count, 512) << i;
            EXPECT_GE(blocks[i].count, 256) << i;
        } else {
            EXPECT_EQ(blocks[i].count, blocks[i].size) << i;
        }
    }
}

// The receiver as it is, of the first version (no file check, no progress) or of this one,
// takes partly filled blocks: it writes their counts, a line it stopped resumes from what it
// wrote, and the file arrives whole (verified where it checks).
class PartlyFilledBlocksTest : public ::testing::TestWithParam<bool> {
protected:
    PartlyFilledBlocksTest() : folder(makeTempFolder(QStringLiteral("filled"))), link(folder) {}

    QString folder;
    TestLink link;
};

INSTANTIATE_TEST_SUITE_P(Receivers, PartlyFilledBlocksTest, ::testing::Values(true, false),
                         [](const auto& info) { return info.param ? "FirstVersion" : "Checking"; });

TEST_P(PartlyFilledBlocksTest, AReceiverTakesThemAndResumesFromWhatItWrote) {
    const bool older = GetParam();
    link.b.olderPeer = older;
    link.a.settings.code = 5;
    const QByteArray contents = patternBytes(20'000, 8);
    QDir().mkpath(folder + "/out");
    const QString path = writtenFile(folder + "/out/part.bin", contents);
    link.a.engine->sendFiles({path}, link.opponentOf(link.a));
    // A short queue in front of the line, so that the blocks and the abort do not wait long.
    ThrottledLine throttled(link, 0.96, 1024);
    std::vector<ThrottledLine::Crossed> blocks;
    throttled.noteBlocks(blocks);
    TransfersModel& sender = link.a.model();
    TransfersModel& receiver = link.b.model();
    const auto runFor = [&](std::uint32_t ms) {
        const std::uint32_t until = throttled.now() + ms;
        while (throttled.now() < until) {
            throttled.step();
        }
    };
    runFor(8000);
    const auto partly = [&] {
        return std::count_if(blocks.begin(), blocks.end(), [](const ThrottledLine::Crossed& block) {
            return block.count < block.size;
        });
    };
    ASSERT_GT(partly(), 5);
    ASSERT_EQ(receiver.rowCount(), 1);
    std::int32_t crossed = 0;
    for (const ThrottledLine::Crossed& block : blocks) {
        crossed += block.count;
    }
    EXPECT_EQ(receiver.transfer(0).Done, crossed);
    // The sender's count is what the receiver confirmed, or (first version) what it handed to
    // the line: never less than the receiver wrote, and never a whole queue more.
    EXPECT_LE(sender.transfer(0).counted() - crossed, older ? 1024 + 512 : 0);
    EXPECT_GE(sender.transfer(0).counted(), older ? crossed : crossed - 512);

    // The receiver stops the line; what it wrote stays in its ".part".
    link.b.engine->abort({0});
    runFor(3000);
    ASSERT_TRUE(receiver.transfer(0).ended());
    const std::int32_t kept = receiver.transfer(0).Done;
    const QString partial = link.b.settings.incoming + "part.bin.part";
    EXPECT_EQ(fileBytes(partial), contents.left(kept));
    link.b.engine->clearEnded();

    // Sent again, the file goes on from there in partly filled blocks again.
    blocks.clear();
    link.a.engine->sendAgain({0}, link.opponentOf(link.a));
    runFor(1500);
    ASSERT_EQ(sender.rowCount(), 1);
    ASSERT_EQ(receiver.rowCount(), 1);
    EXPECT_GE(receiver.transfer(0).Done, kept);
    EXPECT_GE(sender.transfer(0).counted(), kept);
    runFor(30'000);
    EXPECT_GT(partly(), 5);
    EXPECT_EQ(receiver.rowCount(), 0);
    EXPECT_EQ(fileBytes(link.b.settings.incoming + "part.bin"), contents);
    if (!older) {
        EXPECT_EQ(link.a.notices.lines.back(), "File part.bin arrived whole and verified.");
        EXPECT_EQ(sender.transfer(0).Confirmed, sender.transfer(0).Size);
    }
    EXPECT_EQ(link.a.model().outcomes().verifiedWhole, older ? 0 : 1);
}
