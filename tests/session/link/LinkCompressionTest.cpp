// Compressed messages on the link: negotiated, never worse than plain, safe against a hostile
// peer.

#include "SimulatedLink.h"

#include "base/ByteLayout.h"
#include "session/link/LinkEngine.h"
#include "session/link/MessageCompression.h"

#include <gtest/gtest.h>
#include <zstd.h>

#include <optional>
#include <random>
#include <vector>

namespace velmora {
namespace {

using test::frame;
using test::helloFrom;
using test::SimulatedLink;

LinkEngine::Config config(std::uint32_t nonce, bool compression = true) {
    LinkEngine::Config c;
    c.baud = 115200;
    c.nonce = nonce;
    c.offerCompression = compression;
    return c;
}

// Lines of words, as in a log or a source file.
QByteArray text(qsizetype size, std::uint32_t seed) {
    static const char* const words[] = {"static", "const", "int", "return", "value", "the",
                                        "link",   "frame", "(",   ")",      ";",     "{",
                                        "}",      "error", "12",  "0x7E",   "line",  "\n"};
    std::mt19937 random(seed);
    QByteArray out;
    while (out.size() < size) {
        out.append(words[random() % std::size(words)]);
        out.append(' ');
    }
    out.truncate(size);
    return out;
}

QByteArray noise(qsizetype size, std::uint32_t seed) {
    std::mt19937 random(seed);
    QByteArray out(size, Qt::Uninitialized);
    for (char& byte : out) {
        byte = static_cast<char>(random());
    }
    return out;
}

bool bothUp(const SimulatedLink& link) {
    return link.a.up && link.b.up;
}

TEST(LinkCompressionTest, TextRandomEmptyAndLargestMessagesRoundTripUnderNoise) {
    SimulatedLink link(config(1), config(2), 80);
    for (auto* wire : {&link.aToB, &link.bToA}) {
        wire->impairments.bitErrorRate = 1e-5;
        wire->impairments.dropRate = 1e-5;
    }
    ASSERT_TRUE(link.runUntil([&] { return bothUp(link); }, 5000));
    ASSERT_TRUE(link.a.engine->compressionAgreed());
    ASSERT_TRUE(link.b.engine->compressionAgreed());
    // An empty message first, on fresh streams.
    std::vector<std::pair<QByteArray, Lane>> messages{{QByteArray(), Lane::Ordered}};
    for (std::uint32_t i = 0; i < 12; ++i) {
        messages.emplace_back(text(32779, i), Lane::Ordered);
        messages.emplace_back(text(40 + i, 100 + i), Lane::Interactive);
        messages.emplace_back(i % 3 == 0 ? noise(4000, i) : QByteArray(), Lane::Ordered);
    }
    messages.emplace_back(text(LinkEngine::kMaxMessageBytes, 7), Lane::Ordered);
    messages.emplace_back(noise(LinkEngine::kMaxMessageBytes, 8), Lane::Ordered);
    std::size_t sent = 0;
    ASSERT_TRUE(link.runUntil(
        [&] {
            while (sent < messages.size() &&
                   link.a.engine->canAccept(messages[sent].first.size(), messages[sent].second)) {
                EXPECT_TRUE(link.a.engine->send(messages[sent].first, messages[sent].second));
                EXPECT_TRUE(link.b.engine->send(messages[sent].first, messages[sent].second));
                ++sent;
            }
            return link.a.down || link.b.down ||
                   (link.a.messages.size() == messages.size() &&
                    link.b.messages.size() == messages.size());
        },
        2'000'000));
    ASSERT_FALSE(link.a.down.has_value());
    // Each lane in its order; the interactive lane may overtake.
    for (const auto* side : {&link.a, &link.b}) {
        for (const Lane lane : {Lane::Ordered, Lane::Interactive}) {
            std::vector<QByteArray> expected;
            for (const auto& [message, in] : messages) {
                if (in == lane) {
                    expected.push_back(message);
                }
            }
            std::vector<QByteArray> received;
            for (const QByteArray& message : side->messages) {
                if (std::find(expected.begin(), expected.end(), message) != expected.end()) {
                    received.push_back(message);
                }
            }
            EXPECT_EQ(received, expected);
        }
    }
    // The text shrank to less than half; the noise went as it was.
    const std::uint64_t noiseBytes = 4 * 4000 + LinkEngine::kMaxMessageBytes;
    const auto counts = link.a.engine->compressionCounts();
    EXPECT_GE(counts.compressed, 13U);
    EXPECT_LT(counts.bytesOut, noiseBytes + (counts.bytesIn - noiseBytes) / 2);
}

TEST(LinkCompressionTest, IncompressibleMessagesGoPlain) {
    SimulatedLink link(config(1), config(2), 81);
    ASSERT_TRUE(link.runUntil([&] { return bothUp(link); }, 5000));
    std::int64_t wireBytes = 0;
    link.aToB.onWritten = [&](char) { ++wireBytes; };
    constexpr int kBlocks = 8;
    for (int i = 0; i < kBlocks; ++i) {
        ASSERT_TRUE(link.a.engine->send(noise(32779, i)));
    }
    ASSERT_TRUE(link.runUntil([&] { return link.b.messages.size() == kBlocks; }, 100000));
    for (int i = 0; i < kBlocks; ++i) {
        EXPECT_EQ(link.b.messages[i], noise(32779, i));
    }
    const auto counts = link.a.engine->compressionCounts();
    EXPECT_EQ(counts.compressed, 0U);
    EXPECT_EQ(counts.plain, static_cast<std::uint64_t>(kBlocks));
    EXPECT_EQ(counts.bytesOut, counts.bytesIn);
    // Framing and escapes only: no bigger on the wire than without compression.
    EXPECT_LT(wireBytes, kBlocks * 32779 * 102 / 100);
}

QByteArray compressedMessage(std::uint16_t seq, const QByteArray& bytes) {
    return frame(ByteWriter().u8(0x23).u16(seq).bytes(bytes).take());
}

// What an engine reports when the other side sends these compressed messages.
std::optional<LinkEvent> downAfter(const std::vector<QByteArray>& payloads) {
    LinkEngine engine(config(1), 0);
    engine.feed(helloFrom(2, 1, 0x02 | 0x08 | 0x10), 10);  // takes compression and lanes
    EXPECT_TRUE(engine.compressionAgreed());
    std::uint16_t seq = 0;
    for (const QByteArray& payload : payloads) {
        engine.feed(compressedMessage(seq++, payload), 20);
    }
    for (LinkEvent& event : engine.takeEvents()) {
        if (event.kind == LinkEvent::Kind::Down) {
            return event;
        }
    }
    return std::nullopt;
}

TEST(LinkCompressionTest, BombsAndCorruptStreamsEndTheLineCleanly) {
    // A good message first: the line stays up.
    MessageCompressor compressor;
    const auto good = compressor.compress(text(5000, 1));
    ASSERT_TRUE(good);
    EXPECT_FALSE(downAfter({*good}).has_value());

    // Two megabytes of zeros in a small message, with the link's own window: decoding stops at
    // the limit.
    MessageCompressor bombMaker;
    const auto bomb = bombMaker.compress(QByteArray(2 * LinkEngine::kMaxMessageBytes, '\0'));
    ASSERT_TRUE(bomb);
    EXPECT_LT(bomb->size(), 1000);
    // A one-shot frame that asks for a window larger than the link allows.
    const QByteArray zeros(8 << 20, '\0');
    QByteArray wide(static_cast<qsizetype>(ZSTD_compressBound(zeros.size())), '\0');
    wide.truncate(static_cast<qsizetype>(
        ZSTD_compress(wide.data(), wide.size(), zeros.constData(), zeros.size(), 19)));
    // Bytes that are no zstd stream, and a good message cut short.
    const QByteArray cut = good->left(good->size() / 2);
    for (const QByteArray& hostile : {*bomb, wide, noise(3000, 9), cut}) {
        const auto down = downAfter({hostile});
        ASSERT_TRUE(down.has_value());
        EXPECT_EQ(down->reason, LineDown::Lost);
        EXPECT_EQ(down->cause.fault, LinkFault::BadCompression);
    }
    // A corrupt message after a good one.
    const auto down = downAfter({*good, noise(100, 3)});
    ASSERT_TRUE(down.has_value());
    EXPECT_EQ(down->cause.fault, LinkFault::BadCompression);
}

TEST(LinkCompressionTest, OlderPeerWithoutTheFlagWorksBothWays) {
    for (const auto& [newer, older] : {std::pair{true, false}, std::pair{false, true}}) {
        SimulatedLink link(config(1, newer), config(2, older), 82);
        ASSERT_TRUE(link.runUntil([&] { return bothUp(link); }, 5000));
        EXPECT_FALSE(link.a.engine->compressionAgreed());
        EXPECT_FALSE(link.b.engine->compressionAgreed());
        std::int64_t wireBytes = 0;
        link.aToB.onWritten = [&](char) { ++wireBytes; };
        const QByteArray message = text(32779, 5);
        ASSERT_TRUE(link.a.engine->send(message));
        ASSERT_TRUE(link.b.engine->send(message));
        ASSERT_TRUE(link.runUntil(
            [&] { return link.a.messages.size() == 1 && link.b.messages.size() == 1; }, 20000));
        EXPECT_EQ(link.a.messages[0], message);
        EXPECT_EQ(link.b.messages[0], message);
        EXPECT_GT(wireBytes, message.size()) << "sent plain";
    }
}

// Decodes a lane's messages as the receiver does: compressed ones through the decoder, a plain
// one starts its history over.
std::vector<QByteArray> decodeLane(const std::vector<std::optional<QByteArray>>& sent,
                                   const std::vector<QByteArray>& plain) {
    MessageDecompressor decompressor;
    std::vector<QByteArray> received;
    for (std::size_t i = 0; i < sent.size(); ++i) {
        if (!sent[i]) {
            decompressor.restart();
            received.push_back(plain[i]);
        } else if (auto message = decompressor.decompress(*sent[i], LinkEngine::kMaxMessageBytes)) {
            received.push_back(*message);
        } else {
            received.push_back("undecodable");
        }
    }
    return received;
}

TEST(LinkCompressionTest, TheLevelFollowsTheLineAndFallsForDataThatDoesNotShrink) {
    // Slower lines are worth more processor time per byte.
    const std::int64_t rates[] = {30, 960, 11520, 92160, 300000, 400000, 40'000'000};
    for (std::size_t i = 1; i < std::size(rates); ++i) {
        EXPECT_LE(MessageCompressor::levelForLine(rates[i]),
                  MessageCompressor::levelForLine(rates[i - 1]))
            << rates[i];
    }
    EXPECT_GE(MessageCompressor::levelForLine(960), 17);
    EXPECT_EQ(MessageCompressor::levelForLine(40'000'000), MessageCompressor::kFastLevel);

    // Text, then a compressed file's bytes, then text again: the noise goes plain and what
    // follows it is compressed fast until text shrinks again; then that frame ends and the
    // next begins at the level wanted. Every message decodes, in one decoder, whatever the
    // levels of its frames.
    MessageCompressor compressor;
    const int slow = MessageCompressor::levelForLine(960);
    compressor.setLevel(slow);
    const std::vector<QByteArray> plain = {text(20000, 1),  text(20000, 2), noise(20000, 3),
                                           noise(20000, 4), text(20000, 5), text(20000, 6)};
    std::vector<std::optional<QByteArray>> sent;
    std::vector<int> levels;
    for (const QByteArray& message : plain) {
        sent.push_back(compressor.compress(message));
        levels.push_back(compressor.frameLevel());
    }
    EXPECT_TRUE(sent[0] && sent[1] && sent[4] && sent[5]);
    EXPECT_FALSE(sent[2] || sent[3]);
    EXPECT_EQ(levels[1], slow);
    EXPECT_EQ(levels[4], 0) << "the fast frame ends with the first text after the noise";
    EXPECT_EQ(levels[5], slow);
    EXPECT_EQ(decodeLane(sent, plain), plain);
}

TEST(LinkCompressionTest, TheLevelDropsWhenTheProcessorIsTheLimitAndClimbsBackWithTimeToSpare) {
    CompressionLevelChoice choice;
    constexpr std::int64_t kLine = 960;  // 1000 compressed bytes take about 1.04 s of line
    const int lineLevel = MessageCompressor::levelForLine(kLine);
    ASSERT_EQ(choice.level(kLine), lineLevel);
    // Cheap messages never raise the level above the line's.
    for (int i = 0; i < 2 * CompressionLevelChoice::kCheapToClimb; ++i) {
        choice.compressed(lineLevel, 1000, 1000, kLine);
    }
    EXPECT_EQ(choice.level(kLine), lineLevel);
    // More than half the line time: a step down per such message, to level 1 at the least.
    std::vector<int> levels;
    for (int i = 0; i < 6; ++i) {
        choice.compressed(choice.level(kLine), 1000, 600'000, kLine);
        levels.push_back(choice.level(kLine));
    }
    EXPECT_EQ(levels, (std::vector<int>{17, 9, 3, 1, 1, 1}));
    // Under half but over a tenth keeps the level; only a run of cheap ones climbs a step.
    choice.compressed(1, 1000, 300'000, kLine);
    EXPECT_EQ(choice.level(kLine), 1);
    for (int i = 1; i < CompressionLevelChoice::kCheapToClimb; ++i) {
        choice.compressed(1, 1000, 50'000, kLine);
    }
    EXPECT_EQ(choice.level(kLine), 1);
    choice.compressed(1, 1000, 200'000, kLine);  // the run is broken
    for (int i = 0; i < CompressionLevelChoice::kCheapToClimb; ++i) {
        EXPECT_EQ(choice.level(kLine), 1) << i;
        choice.compressed(1, 1000, 50'000, kLine);
    }
    EXPECT_EQ(choice.level(kLine), 3);
    // A fast line's own level is lower than the ceiling: the ceiling does not raise it.
    EXPECT_EQ(choice.level(40'000'000), MessageCompressor::kFastLevel);
    // Data that went at the fast level for not shrinking does not move the ceiling up.
    for (int i = 0; i < 2 * CompressionLevelChoice::kCheapToClimb; ++i) {
        choice.compressed(MessageCompressor::kFastLevel, 1000, 1, kLine);
    }
    EXPECT_EQ(choice.level(kLine), 3);
}

TEST(LinkCompressionTest, ASlowLinesLevelSavesLineOverAFastOnes) {
    const auto compressedBytes = [](std::int64_t lineRate) {
        MessageCompressor compressor;
        compressor.setLevel(MessageCompressor::levelForLine(lineRate));
        qsizetype total = 0;
        for (std::uint32_t i = 0; i < 8; ++i) {
            const auto compressed = compressor.compress(text(32768, 100 + i % 3));
            total += compressed ? compressed->size() : 32768;
        }
        return total;
    };
    const qsizetype slow = compressedBytes(960);
    const qsizetype fast = compressedBytes(40'000'000);
    EXPECT_LT(slow, fast * 9 / 10);
}

}  // namespace
}  // namespace velmora
