#pragma once

#include <QtGlobal>

#include <cstdint>
#include <optional>

namespace velmora {

// When the port driver reads the line: whenever the port has bytes (on readiness), or after a
// pause that lets a batch gather in the driver's buffer. No I/O and no clock: the owner tells
// it what each read brought and when, and waits as long as it answers.
//
// A serial driver hands over bytes a few at a time (a UART's FIFO, a pseudo-terminal's line
// discipline): reading on readiness would wake the reader for every few bytes of a long frame.
// Inside a frame the reader therefore pauses, for as long as half the driver's buffer takes at
// the line rate, and never longer than kMaxPauseMs, which is all the end of a frame can be late.
// The buffer itself never fills while the rate is known, so the line never waits for the
// reader. The rate is the port's, or what the reads show when the line is faster (a pseudo-
// terminal, a port set below its line); a read that found the buffer nearly full doubles it.
class ReadPacing {
public:
    // What a driver's receive buffer is taken to hold: a pseudo-terminal and the tty layer of
    // most UART drivers hold about 4 KiB.
    static constexpr qsizetype kDriverBufferBytes = 4096;
    // A paused read aims at this much: a quarter of the buffer, so that a late wake-up does not
    // fill it and the end of a frame on a fast line waits a few milliseconds at most.
    static constexpr qsizetype kBatchBytes = kDriverBufferBytes / 4;
    // A read that brought this much may have found the buffer full: the line may be faster.
    static constexpr qsizetype kNearlyFullBytes = kDriverBufferBytes * 3 / 4;
    // The longest pause: the most the end of a frame waits for its read.
    static constexpr std::int64_t kMaxPauseMs = 20;
    // On a slow line, a frame this long so far carries file data (acknowledgements, keystrokes
    // and short chat lines are shorter) and its rest is read by pauses; a shorter one is read on
    // readiness, so that it is never late.
    static constexpr qsizetype kLongFrameBytes = 64;
    // From this rate on (640 kbaud) a pause of a millisecond already gathers 64 bytes: every
    // frame is read by pauses, so that no read brings a byte or two.
    static constexpr std::int64_t kFastLineBytesPerSecond = 64000;

    // lineBytesPerSecond: what the line is set to carry (baud / 10).
    explicit ReadPacing(std::int64_t lineBytesPerSecond);

    // A read at nowMs brought `bytes`, after which `partialFrameBytes` of a frame have come and
    // its end not yet. The pause before the next read, in milliseconds; nothing: read on
    // readiness.
    std::optional<std::int64_t> afterRead(qsizetype bytes, qsizetype partialFrameBytes,
                                          std::int64_t nowMs);

    // The rate the pauses are sized for, in bytes per second.
    std::int64_t rateBytesPerSecond() const { return m_rate; }

private:
    std::int64_t m_lineRate;
    std::int64_t m_rate;
    // The previous read, when it left a frame unfinished: the rate is measured from it.
    std::optional<std::int64_t> m_midFrameReadMs;
};

}  // namespace velmora
