#include "session/net/AttemptThrottle.h"

#include <algorithm>

namespace velmora {

void AttemptThrottle::refused(std::int64_t nowMs) {
    m_refusals = std::min(m_refusals + 1, 16);  // past 30 s the doubling no longer matters
    const std::int64_t pause = std::min(kFirstPauseMs << (m_refusals - 1), kLongestPauseMs);
    m_nextCallerAtMs = nowMs + pause;
}

void AttemptThrottle::admitted() {
    m_refusals = 0;
    m_nextCallerAtMs = 0;
}

}  // namespace velmora
