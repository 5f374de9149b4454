#include "session/link/ReadPacing.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <deque>
#include <limits>
#include <optional>
#include <string>

namespace velmora {
namespace {

// How a line hands over its bytes: at a rate, in chunks (a UART's FIFO, a pseudo-terminal's
// writes), frame after frame of one size.
struct Delivery {
    std::string name;
    std::int64_t lineBytesPerSecond = 0;
    std::int64_t chunkBytes = 0;
    std::int64_t frameBytes = 0;
    // What the port is set to; 0: the line's own rate.
    std::int64_t portBytesPerSecond = 0;
};

struct Reading {
    int reads = 0;
    int shortReads = 0;  // reads of fewer than 16 bytes
    std::int64_t stalledUs = 0;
    std::int64_t durationUs = 0;
    std::int64_t worstFrameEndUs = 0;  // from a frame's last byte to its read
    std::int64_t longestPauseMs = 0;
    std::int64_t bytes = 0;
};

// A fake port on a virtual clock (microseconds): the line puts chunks into a driver buffer of
// ReadPacing::kDriverBufferBytes and waits while it is full; the reader reads all of it on
// readiness or when the pause the policy gave is over, exactly as the port driver does.
Reading readLine(const Delivery& line, std::int64_t totalBytes) {
    const std::int64_t portRate =
        line.portBytesPerSecond > 0 ? line.portBytesPerSecond : line.lineBytesPerSecond;
    ReadPacing pacing(portRate);
    constexpr std::int64_t kNever = std::numeric_limits<std::int64_t>::max();
    Reading result;
    std::int64_t now = 0;
    std::int64_t chunkDue = 0;
    std::int64_t delivered = 0;
    std::int64_t buffered = 0;
    std::int64_t read = 0;
    std::deque<std::pair<std::int64_t, std::int64_t>> frameEnds;  // position, arrival
    std::optional<std::int64_t> wakeAt;                           // paused until
    while (read < totalBytes) {
        const std::int64_t chunkAt = delivered < totalBytes ? chunkDue : kNever;
        const std::int64_t readAt = wakeAt.value_or(buffered > 0 ? now : kNever);
        const std::int64_t chunk = std::min(line.chunkBytes, totalBytes - delivered);
        if (chunkAt <= readAt && buffered + chunk <= ReadPacing::kDriverBufferBytes) {
            now = std::max(now, chunkAt);
            buffered += chunk;
            delivered += chunk;
            for (std::int64_t end =
                     (delivered - chunk) / line.frameBytes * line.frameBytes + line.frameBytes;
                 end <= delivered; end += line.frameBytes) {
                frameEnds.emplace_back(end, now);
            }
            chunkDue = now + chunk * 1'000'000 / line.lineBytesPerSecond;
            continue;
        }
        if (chunkAt <= readAt) {
            // The buffer is full: the line waits for the reader.
            result.stalledUs += readAt - std::max(now, chunkAt);
            chunkDue = readAt;
        }
        EXPECT_NE(readAt, kNever) << line.name << ": the reader waits for nothing";
        if (readAt == kNever) {
            break;
        }
        now = readAt;
        read += buffered;
        ++result.reads;
        result.shortReads += buffered > 0 && buffered < 16 ? 1 : 0;
        while (!frameEnds.empty() && frameEnds.front().first <= read) {
            result.worstFrameEndUs =
                std::max(result.worstFrameEndUs, now - frameEnds.front().second);
            frameEnds.pop_front();
        }
        const auto pause = pacing.afterRead(buffered, read % line.frameBytes, now / 1000);
        buffered = 0;
        if (pause) {
            result.longestPauseMs = std::max(result.longestPauseMs, *pause);
            wakeAt = now + *pause * 1000;
        } else {
            wakeAt.reset();
        }
    }
    result.durationUs = now;
    result.bytes = read;
    return result;
}

// One second of the line's bytes, at least 64 KiB.
std::int64_t secondOf(const Delivery& line) {
    return std::max<std::int64_t>(line.lineBytesPerSecond, 65536);
}

TEST(ReadPacing, AFastLineIsReadInBatchesAndNeverWaitsForTheReader) {
    for (const Delivery& line : {
             Delivery{"921600 baud, 16-byte FIFO", 92160, 16, 4104},
             Delivery{"3 Mbaud, byte by byte", 300000, 1, 4104},
             Delivery{"3 Mbaud, 64-byte chunks", 300000, 64, 4104},
             Delivery{"4 Mbaud, 16-byte FIFO", 400000, 16, 4104},
             Delivery{"4 Mbaud, short frames", 400000, 16, 300},
         }) {
        const Reading reading = readLine(line, secondOf(line));
        EXPECT_EQ(reading.stalledUs, 0) << line.name;
        EXPECT_GE(reading.bytes / reading.reads, 256) << line.name;
        // Only the read that follows a frame's end may be short, and not even that often.
        EXPECT_LE(reading.shortReads, reading.bytes / line.frameBytes + 1) << line.name;
        EXPECT_LE(reading.longestPauseMs, ReadPacing::kMaxPauseMs) << line.name;
        EXPECT_LE(reading.worstFrameEndUs, ReadPacing::kMaxPauseMs * 1000) << line.name;
    }
}

TEST(ReadPacing, ASlowLineWakesTheReaderRarelyAndEndsFramesInTime) {
    for (const Delivery& line : {
             Delivery{"9600 baud, byte by byte", 960, 1, 136},
             Delivery{"115200 baud, 16-byte FIFO", 11520, 16, 1032},
             Delivery{"115200 baud, byte by byte", 11520, 1, 1032},
             Delivery{"115200 baud, a few dozen bytes every 2 ms", 11520, 23, 1032},
         }) {
        const Reading reading = readLine(line, 4 * line.lineBytesPerSecond);
        EXPECT_EQ(reading.stalledUs, 0) << line.name;
        EXPECT_LE(reading.worstFrameEndUs, ReadPacing::kMaxPauseMs * 1000) << line.name;
        // The start of each frame on readiness (it may be a keystroke), then a read every
        // kMaxPauseMs at most.
        const double seconds = reading.durationUs / 1e6;
        const double frames = static_cast<double>(reading.bytes) / line.frameBytes;
        const double starts =
            frames * (static_cast<double>(ReadPacing::kLongFrameBytes) / line.chunkBytes + 1);
        EXPECT_LE(reading.reads, starts + seconds * (1000.0 / ReadPacing::kMaxPauseMs + 1))
            << line.name;
    }
}

TEST(ReadPacing, APortSetBelowItsLineLearnsTheLinesRate) {
    for (const Delivery& line : {
             Delivery{"3 Mbaud behind a port set to 115200", 300000, 64, 4104, 11520},
             Delivery{"a pseudo-terminal behind a port set to 4 Mbaud", 40'000'000, 4096, 4104,
                      400000},
         }) {
        const Reading reading = readLine(line, 20 * secondOf(line));
        // A few reads find the buffer full while the rate is learnt; then none.
        EXPECT_LT(reading.stalledUs, 60'000) << line.name;
        const double rate = reading.bytes * 1e6 / reading.durationUs;
        EXPECT_GT(rate, 0.9 * static_cast<double>(line.lineBytesPerSecond)) << line.name;
    }
}

TEST(ReadPacing, AShortFrameOnASlowLineAndANewFrameAreReadOnReadiness) {
    ReadPacing pacing(11520);
    EXPECT_FALSE(pacing.afterRead(16, 16, 0)) << "maybe a keystroke";
    EXPECT_EQ(pacing.afterRead(16, ReadPacing::kLongFrameBytes, 1), ReadPacing::kMaxPauseMs);
    EXPECT_FALSE(pacing.afterRead(200, 0, 21)) << "a frame ended";
    EXPECT_EQ(pacing.afterRead(64, 64, 30), ReadPacing::kMaxPauseMs);
    EXPECT_FALSE(pacing.afterRead(0, 64, 50)) << "nothing came: the frame stalled";
}

TEST(ReadPacing, TheRateFallsBackToThePortsWhenTheLineSlowsAgain) {
    ReadPacing pacing(11520);
    // Full buffers: the line is far faster than the port says.
    std::int64_t now = 0;
    pacing.afterRead(100, 100, now);
    for (int i = 0; i < 4; ++i) {
        now += 20;
        pacing.afterRead(ReadPacing::kDriverBufferBytes, 100, now);
    }
    EXPECT_GT(pacing.rateBytesPerSecond(), 1'000'000);
    // Then the line carries its port's rate: a few reads later the pauses are the long ones.
    std::optional<std::int64_t> pause;
    for (int i = 0; i < 12; ++i) {
        now += pause.value_or(1);
        pause =
            pacing.afterRead(std::max<std::int64_t>(pause.value_or(1) * 11520 / 1000, 1), 100, now);
    }
    EXPECT_EQ(pacing.rateBytesPerSecond(), 11520);
    EXPECT_EQ(pause, ReadPacing::kMaxPauseMs);
}

}  // namespace
}  // namespace velmora
