#include "session/link/ReadPacing.h"

#include <algorithm>

namespace velmora {

ReadPacing::ReadPacing(std::int64_t lineBytesPerSecond)
    : m_lineRate(std::max<std::int64_t>(lineBytesPerSecond, 1)), m_rate(m_lineRate) {}

std::optional<std::int64_t> ReadPacing::afterRead(qsizetype bytes, qsizetype partialFrameBytes,
                                                  std::int64_t nowMs) {
    if (bytes > 0 && m_midFrameReadMs && nowMs > *m_midFrameReadMs) {
        // Within a frame the bytes come at the line's rate, so what came since the last read
        // measures it; a nearly full buffer may have held the line back, so then it is more.
        const std::int64_t seen = bytes * 1000 / (nowMs - *m_midFrameReadMs);
        if (bytes >= kNearlyFullBytes) {
            m_rate = 2 * std::max(m_rate, seen);
        } else {
            m_rate = std::max({m_lineRate, seen, m_rate / 2});
        }
    }
    if (bytes == 0 || partialFrameBytes == 0) {
        // Nothing came, or a frame just ended: what comes next may be short and is read at once.
        m_midFrameReadMs.reset();
        return std::nullopt;
    }
    m_midFrameReadMs = nowMs;
    if (partialFrameBytes < kLongFrameBytes && m_rate < kFastLineBytesPerSecond) {
        return std::nullopt;
    }
    const std::int64_t pauseMs = kBatchBytes * 1000 / m_rate;
    if (pauseMs < 1) {
        return std::nullopt;  // so fast that every read on readiness brings a batch
    }
    return std::min(pauseMs, kMaxPauseMs);
}

}  // namespace velmora
