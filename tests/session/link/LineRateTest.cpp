// A line slower than its ports (a modem, a terminal server, a slow cable behind a fast adapter):
// the link measures what the line carries and sizes its frames and the bytes in flight from
// that, so that a chat line does not wait behind seconds of file data in buffers.

#include "SimulatedLink.h"

#include "session/link/LinkEngine.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

namespace velmora {
namespace {

using test::linkConfig;
using test::SimulatedLink;

// Pieces of a file, small enough that a slow line delivers many in the test's time.
constexpr qsizetype kBlockBytes = 4096;
constexpr qsizetype kChatBytes = 20 + 8 + 12;

QByteArray randomBlock(std::uint32_t seed) {
    QByteArray block(kBlockBytes, '\0');
    std::mt19937 random(seed);
    for (char& byte : block) {
        byte = static_cast<char>(random());
    }
    return block;
}

struct Streamed {
    std::int64_t worstChatMs = -1;
    double fileBytesPerSecond = 0;
};

// Blocks stream from a for as long as the test runs; chat lines go now and then, the first
// after long without one (when the frames are the large ones).
Streamed streamWithChat(SimulatedLink& link) {
    Streamed result;
    if (!link.runUntil([&] { return link.a.up && link.b.up; }, 5000)) {
        return result;
    }
    LinkEngine& a = *link.a.engine;
    std::uint32_t blocks = 0;
    const auto keepStreaming = [&] {
        while (a.canAccept(kBlockBytes)) {
            a.send(randomBlock(blocks++));
        }
        return false;
    };
    link.runUntil(keepStreaming, 15000);
    const std::int64_t from = link.nowMs();
    const std::size_t blocksBefore = link.b.messages.size();
    for (const std::int64_t gapMs : {0, 700, 1900, 3100}) {
        link.runUntil(keepStreaming, gapMs);
        const std::size_t arrived = link.b.messages.size();
        const std::int64_t sentAt = link.nowMs();
        const QByteArray chat(kChatBytes, 'c');
        a.send(chat, Lane::Interactive);
        if (!link.runUntil(
                [&] {
                    keepStreaming();
                    return std::find(link.b.messages.begin() + static_cast<qsizetype>(arrived),
                                     link.b.messages.end(), chat) != link.b.messages.end();
                },
                30000)) {
            return result;
        }
        result.worstChatMs = std::max(result.worstChatMs, link.nowMs() - sentAt);
    }
    link.runUntil(keepStreaming, 20000);
    // From the first block that arrived after the chat lines to the last.
    std::vector<std::int64_t> blockTimes;
    for (std::size_t i = blocksBefore; i < link.b.messages.size(); ++i) {
        if (link.b.messages[i].size() == kBlockBytes && link.b.messageAtMs[i] > from) {
            blockTimes.push_back(link.b.messageAtMs[i]);
        }
    }
    if (blockTimes.size() >= 2) {
        result.fileBytesPerSecond = static_cast<double>(blockTimes.size() - 1) * kBlockBytes *
                                    1000.0 /
                                    static_cast<double>(blockTimes.back() - blockTimes.front());
    }
    return result;
}

TEST(LineRate, AChatLineOnALineSlowerThanItsPortsWaitsNoLongerThanOnItsOwnRate) {
    for (const double bitErrorRate : {0.0, 1e-4}) {
        // The ports at 115200, the line at 9600.
        SimulatedLink link(linkConfig(115200, 1), linkConfig(115200, 2), 70, 9600);
        link.aToB.impairments.bitErrorRate = bitErrorRate;
        link.bToA.impairments.bitErrorRate = bitErrorRate;
        const Streamed streamed = streamWithChat(link);
        ASSERT_GE(streamed.worstChatMs, 0) << bitErrorRate;
        EXPECT_LE(streamed.worstChatMs, 600) << bitErrorRate;
        // The line stays busy all the same (frames of 80 to 128 bytes, one in ten lost to noise).
        EXPECT_GE(streamed.fileBytesPerSecond, (bitErrorRate > 0 ? 0.75 : 0.85) * 960)
            << bitErrorRate;
        const LinkEngine& a = *link.a.engine;
        EXPECT_GE(a.lineBytesPerSecond(), 850) << bitErrorRate;
        EXPECT_LE(a.lineBytesPerSecond(), 960) << bitErrorRate;
        EXPECT_LE(a.basePayloadBytes(), 128) << bitErrorRate;
        EXPECT_LE(a.latencyPayloadBytes(), 88) << bitErrorRate;
    }
}

TEST(LineRate, ALineAsFastAsItsPortsKeepsThePortsFramesAndRate) {
    SimulatedLink link(linkConfig(115200, 1), linkConfig(115200, 2), 71);
    const Streamed streamed = streamWithChat(link);
    ASSERT_GE(streamed.worstChatMs, 0);
    EXPECT_LE(streamed.worstChatMs, 150);
    EXPECT_GE(streamed.fileBytesPerSecond, 0.97 * 11520);
    EXPECT_EQ(link.a.engine->lineBytesPerSecond(), 11520);
    EXPECT_EQ(link.a.engine->basePayloadBytes(), 1024);
}

TEST(LineRate, AFastLineThatNowAndThenStopsKeepsNoQueueInFrontOfAChatLine) {
    // 3 Mbaud, stopping for 10 ms every 250 ms (a receiver late to read): the pacing by the
    // port's rate alone would let the bytes the line did not carry gather in front of a chat
    // line, up to the back-pressure bound (about 150 ms of line).
    SimulatedLink link(linkConfig(3'000'000, 1), linkConfig(3'000'000, 2), 72);
    link.aToB.impairments.stallEveryMs = 250;
    link.aToB.impairments.stallMs = 10;
    const Streamed streamed = streamWithChat(link);
    ASSERT_GE(streamed.worstChatMs, 0);
    // The bytes in flight: the round trip, 25 ms for the ends' wake-ups and two frames of
    // 7 ms; a stall may come on top.
    EXPECT_LE(streamed.worstChatMs, 60);
    // The line is kept busy whenever it carries (96 % of the time), less headers and escapes.
    EXPECT_GE(streamed.fileBytesPerSecond, 0.93 * 0.96 * 300'000);
    EXPECT_EQ(link.a.engine->lineBytesPerSecond(), 300'000);
    EXPECT_EQ(link.a.engine->basePayloadBytes(), 2048);
}

// A port without a rate of its own (a pseudo-terminal) over a slow and a fast line: the link
// learns what the line carries, never keeps more than the stated bound on the way (at first a
// few small frames), and keeps the line busy.
TEST(LineRate, APortWithoutARateLearnsTheLineAndKeepsItsFlightShort) {
    struct Case {
        int lineBaud;
        std::int64_t chatMs;  // the chat line's goal at this rate
        double leastShare;    // of the line carried as file data
    };
    for (const Case& line : {Case{9600, 600, 0.88}, Case{4'000'000, 60, 0.95}}) {
        LinkEngine::Config configA = linkConfig(115200, 1);
        LinkEngine::Config configB = linkConfig(115200, 2);
        configA.portHasRate = false;
        configB.portHasRate = false;
        SimulatedLink link(configA, configB, 73, line.lineBaud);
        const std::int64_t lineRate = line.lineBaud / 10;
        ASSERT_TRUE(link.runUntil([&] { return link.a.up && link.b.up; }, 5000));
        LinkEngine& a = *link.a.engine;

        // Before anything is measured: a few small frames, well under a second of a 9600 line.
        a.send(randomBlock(0));
        link.step();
        EXPECT_LE(link.aToB.bytesOnTheWay(), 600) << line.lineBaud;

        qsizetype mostOnTheWay = 0;
        std::uint32_t blocks = 1;
        const auto streamAndWatch = [&] {
            while (a.canAccept(kBlockBytes)) {
                a.send(randomBlock(blocks++));
            }
            mostOnTheWay = std::max(mostOnTheWay, link.aToB.bytesOnTheWay());
            return false;
        };
        link.runUntil(streamAndWatch, 3000);
        mostOnTheWay = 0;  // from here on the line is measured
        link.runUntil(streamAndWatch, 5000);
        EXPECT_GE(a.lineBytesPerSecond(), 0.9 * lineRate) << line.lineBaud;
        EXPECT_LE(a.lineBytesPerSecond(), lineRate * 21 / 20) << line.lineBaud;
        // At most 150 ms of line and two frames (a new one goes while less than one frame and
        // the flight are on the way).
        const qsizetype frameBytes = a.basePayloadBytes() + 8;
        EXPECT_LE(mostOnTheWay, lineRate * 150 / 1000 + 2 * frameBytes) << line.lineBaud;

        const Streamed streamed = streamWithChat(link);
        ASSERT_GE(streamed.worstChatMs, 0) << line.lineBaud;
        EXPECT_LE(streamed.worstChatMs, line.chatMs) << line.lineBaud;
        // The line stays busy: frames of 128 bytes on the slow line, of 2 KiB on the fast one.
        EXPECT_GE(streamed.fileBytesPerSecond, line.leastShare * lineRate) << line.lineBaud;
    }
}

}  // namespace
}  // namespace velmora
