// The interactive lane: chat lines and keystrokes overtake file blocks, each lane in its order.

#include "SimulatedLink.h"

#include "base/ByteLayout.h"
#include "session/link/LinkEngine.h"

#include <gtest/gtest.h>

#include <functional>
#include <random>

namespace velmora {
namespace {

using test::SimulatedLink;

LinkEngine::Config config(int baud, std::uint32_t nonce, bool lanes = true) {
    LinkEngine::Config c;
    c.baud = baud;
    c.nonce = nonce;
    c.offerLanes = lanes;
    return c;
}

// A message that names its lane and its number in that lane, with random bytes after.
QByteArray tagged(Lane lane, std::uint32_t index, qsizetype size) {
    QByteArray message =
        ByteWriter().u8(static_cast<std::uint8_t>(lane)).u32(index).u32(size).take();
    std::mt19937 random(index * 31 + static_cast<std::uint32_t>(lane));
    while (message.size() < size) {
        message.append(static_cast<char>(random()));
    }
    return message;
}

Lane laneOf(const QByteArray& message) {
    return static_cast<Lane>(message.at(0));
}

constexpr qsizetype kBlockBytes = 32768 + 11 + 12;
constexpr qsizetype kChatBytes = 20 + 8 + 12;

bool bothUp(const SimulatedLink& link) {
    return link.a.up && link.b.up;
}

// Blocks stream from a while chat lines go both ways now and then; what each side received,
// split by lane, is every message once, whole, in order.
void runMixed(SimulatedLink& link, int blocks, int chats) {
    ASSERT_TRUE(link.runUntil([&] { return bothUp(link); }, 5000));
    ASSERT_TRUE(link.a.engine->lanesAgreed());
    int sentBlocks = 0;
    int sentChatsA = 0;
    int sentChatsB = 0;
    std::mt19937 random(7);
    const auto arrived = [](const SimulatedLink::Side& side, Lane lane) {
        return std::count_if(side.messages.begin(), side.messages.end(),
                             [lane](const QByteArray& m) { return laneOf(m) == lane; });
    };
    ASSERT_TRUE(link.runUntil(
        [&] {
            LinkEngine& a = *link.a.engine;
            while (sentBlocks < blocks && a.canAccept(kBlockBytes)) {
                EXPECT_TRUE(a.send(tagged(Lane::Ordered, sentBlocks++, kBlockBytes)));
            }
            if (random() % 200 == 0 && sentChatsA < chats) {
                EXPECT_TRUE(
                    a.send(tagged(Lane::Interactive, sentChatsA++, kChatBytes), Lane::Interactive));
            }
            if (random() % 200 == 0 && sentChatsB < chats) {
                EXPECT_TRUE(
                    link.b.engine->send(tagged(Lane::Interactive, sentChatsB++, 4 + random() % 300),
                                        Lane::Interactive));
            }
            return link.a.down || link.b.down ||
                   (arrived(link.b, Lane::Ordered) == blocks &&
                    arrived(link.b, Lane::Interactive) == chats &&
                    arrived(link.a, Lane::Interactive) == chats);
        },
        3'600'000));
    ASSERT_FALSE(link.a.down.has_value());
    ASSERT_FALSE(link.b.down.has_value());
    for (const auto* side : {&link.a, &link.b}) {
        std::array<std::uint32_t, 2> next{};
        for (const QByteArray& message : side->messages) {
            const Lane lane = laneOf(message);
            const std::uint32_t index = next[static_cast<std::size_t>(lane)]++;
            ASSERT_EQ(message, tagged(lane, index, message.size()));
        }
    }
}

TEST(LinkLanesTest, InterleavedLanesArriveWholeOnceAndInOrderUnderNoise) {
    SimulatedLink clean(config(115200, 1), config(115200, 2), 50);
    runMixed(clean, 20, 40);

    SimulatedLink noisy(config(115200, 3), config(115200, 4), 51);
    for (auto* wire : {&noisy.aToB, &noisy.bToA}) {
        wire->impairments.bitErrorRate = 2e-5;
        wire->impairments.dropRate = 1e-5;
        wire->impairments.garbagePerMs = 0.001;
    }
    runMixed(noisy, 20, 40);

    SimulatedLink slow(config(9600, 5), config(9600, 6), 52);
    slow.aToB.impairments.bitErrorRate = 1e-5;
    slow.bToA.impairments.dropRate = 1e-5;
    runMixed(slow, 3, 10);
}

// The time from sending a chat line in the middle of a block to its arrival, and when that
// block arrived.
struct ChatInBlock {
    std::int64_t chatLatencyMs = -1;
    std::int64_t chatAtMs = -1;
    std::int64_t blockAtMs = -1;
};

ChatInBlock chatInTheMiddleOfABlock(int baud, bool lanesA, bool lanesB) {
    SimulatedLink link(config(baud, 1, lanesA), config(baud, 2, lanesB), 60);
    ChatInBlock result;
    if (!link.runUntil([&] { return bothUp(link); }, 5000)) {
        return result;
    }
    LinkEngine& a = *link.a.engine;
    a.send(tagged(Lane::Ordered, 0, kBlockBytes));
    a.send(tagged(Lane::Ordered, 1, kBlockBytes));
    const std::int64_t blockMs = kBlockBytes * 10'000 / baud;
    // Half-way through the second block, two seconds after an earlier chat line, as in a
    // conversation.
    link.runUntil([] { return false; }, blockMs * 3 / 2 - 2000);
    a.send(tagged(Lane::Interactive, 0, kChatBytes), Lane::Interactive);
    link.runUntil([] { return false; }, 2000);
    const std::int64_t sentAt = link.nowMs();
    a.send(tagged(Lane::Interactive, 1, kChatBytes), Lane::Interactive);
    link.runUntil([&] { return link.b.messages.size() == 4; }, 20 * blockMs);
    for (std::size_t i = 0; i < link.b.messages.size(); ++i) {
        const QByteArray& message = link.b.messages[i];
        if (message == tagged(Lane::Interactive, 1, kChatBytes)) {
            result.chatAtMs = link.b.messageAtMs[i];
            result.chatLatencyMs = result.chatAtMs - sentAt;
        } else if (message == tagged(Lane::Ordered, 1, kBlockBytes)) {
            result.blockAtMs = link.b.messageAtMs[i];
        }
    }
    return result;
}

TEST(LinkLanesTest, ChatLineSentInTheMiddleOfABlockArrivesBeforeThatBlockEnds) {
    for (const int baud : {115200, 9600}) {
        const ChatInBlock chat = chatInTheMiddleOfABlock(baud, true, true);
        ASSERT_GE(chat.chatAtMs, 0) << baud;
        ASSERT_GE(chat.blockAtMs, 0) << baud;
        EXPECT_LT(chat.chatAtMs, chat.blockAtMs) << baud;
        // The frame in progress (about 100 ms of line) and the chat line's own frame.
        const std::int64_t chatLineMs = (kChatBytes + 16) * 10'000 / baud;
        EXPECT_LE(chat.chatLatencyMs, 130 + chatLineMs) << baud;
    }
}

TEST(LinkLanesTest, OlderPeerWithoutLanesWorksBothWaysInOneOrder) {
    // Either side without the lane: the chat line waits its turn behind the block, as it did.
    for (const auto& [lanesA, lanesB] : {std::pair{true, false}, std::pair{false, true}}) {
        const ChatInBlock chat = chatInTheMiddleOfABlock(115200, lanesA, lanesB);
        ASSERT_GE(chat.chatAtMs, 0);
        EXPECT_GT(chat.chatAtMs, chat.blockAtMs);
    }
    // Messages of both kinds go both ways with a peer of the first version, which has neither
    // the lane nor compression.
    auto first = config(115200, 2, false);
    first.offerCompression = false;
    SimulatedLink older(config(115200, 1, true), first, 61);
    ASSERT_TRUE(older.runUntil([&] { return bothUp(older); }, 5000));
    EXPECT_FALSE(older.a.engine->lanesAgreed());
    EXPECT_FALSE(older.b.engine->lanesAgreed());
    EXPECT_FALSE(older.a.engine->compressionAgreed());
    const std::vector<std::pair<QByteArray, Lane>> sent{
        {tagged(Lane::Ordered, 0, kBlockBytes), Lane::Ordered},
        {tagged(Lane::Interactive, 0, kChatBytes), Lane::Interactive},
        {tagged(Lane::Ordered, 1, 300), Lane::Ordered},
    };
    for (const auto& [message, lane] : sent) {
        ASSERT_TRUE(older.a.engine->send(message, lane));
        ASSERT_TRUE(older.b.engine->send(message, lane));
    }
    ASSERT_TRUE(older.runUntil(
        [&] { return older.a.messages.size() == 3 && older.b.messages.size() == 3; }, 20000));
    for (std::size_t i = 0; i < sent.size(); ++i) {
        EXPECT_EQ(older.a.messages[i], sent[i].first);
        EXPECT_EQ(older.b.messages[i], sent[i].first);
    }
}

// Line bytes per frame written by a while it streams blocks for the given time.
double bytesPerFrame(SimulatedLink& link, std::int64_t forMs, int& blocks) {
    std::int64_t bytes = 0;
    std::int64_t flags = 0;
    link.aToB.onWritten = [&](char byte) {
        ++bytes;
        flags += byte == 0x7E ? 1 : 0;
    };
    link.runUntil(
        [&] {
            while (link.a.engine->canAccept(kBlockBytes)) {
                link.a.engine->send(tagged(Lane::Ordered, blocks++, kBlockBytes));
            }
            return false;
        },
        forMs);
    link.aToB.onWritten = nullptr;
    return flags > 0 ? static_cast<double>(bytes) / static_cast<double>(flags) : 0.0;
}

TEST(LinkLanesTest, FramesStayShortWhileInteractiveTrafficIsRecentAndGrowBackAfter) {
    constexpr int kBaud = 9600;
    SimulatedLink link(config(kBaud, 1), config(kBaud, 2), 70);
    ASSERT_TRUE(link.runUntil([&] { return bothUp(link); }, 5000));
    int blocks = 0;
    const double quiet = bytesPerFrame(link, 20000, blocks);
    link.a.engine->send(tagged(Lane::Interactive, 0, kChatBytes), Lane::Interactive);
    const double talking = bytesPerFrame(link, 5000, blocks);
    // About 100 ms of line at most while talking (acks of the other side do not count here).
    EXPECT_LE(talking * 10'000 / kBaud, 110) << talking;
    EXPECT_GT(quiet, talking * 1.2) << quiet << " " << talking;
    link.runUntil([] { return false; }, 10000);
    const double after = bytesPerFrame(link, 20000, blocks);
    EXPECT_GT(after, talking * 1.2) << after << " " << talking;
}

// The receiver of a file sends its counts in the interactive lane four times a second: they say
// nothing of a user about to type, and must not slow the file by shortening its frames.
TEST(LinkLanesTest, InteractiveMessagesComingBackDoNotSlowTheBlocks) {
    constexpr int kBaud = 9600;
    constexpr qsizetype kSmallBlockBytes = 512 + 11 + 12;  // a slow line's blocks
    SimulatedLink link(config(kBaud, 1), config(kBaud, 2), 71);
    ASSERT_TRUE(link.runUntil([&] { return bothUp(link); }, 5000));
    std::uint32_t blocks = 0;
    // Block bytes b receives while a streams for the time; `alongside` runs at every step.
    const auto streamed = [&](std::int64_t forMs, const std::function<void()>& alongside) {
        const std::size_t before = link.b.messages.size();
        link.runUntil(
            [&] {
                while (link.a.engine->canAccept(kSmallBlockBytes)) {
                    link.a.engine->send(tagged(Lane::Ordered, blocks++, kSmallBlockBytes));
                }
                alongside();
                return false;
            },
            forMs);
        return std::count_if(link.b.messages.begin() + static_cast<std::ptrdiff_t>(before),
                             link.b.messages.end(),
                             [](const QByteArray& m) { return laneOf(m) == Lane::Ordered; });
    };
    streamed(5000, [] {});  // up to speed
    const auto quiet = streamed(60000, [] {});
    std::uint32_t counts = 0;
    std::int64_t nextCountMs = link.nowMs();
    const auto counted = streamed(60000, [&] {
        if (link.nowMs() >= nextCountMs) {
            link.b.engine->send(tagged(Lane::Interactive, counts++, 12 + 12), Lane::Interactive);
            nextCountMs += 250;
        }
    });
    EXPECT_GE(counts, 240U);
    EXPECT_GT(counted, quiet * 0.95) << counted << " " << quiet;
}

}  // namespace
}  // namespace velmora
