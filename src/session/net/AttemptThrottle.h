#pragma once

#include <cstdint>

namespace velmora {

// How a host slows down the guessing of its passphrase: after each caller whose key proof
// failed, the next caller is taken only after a pause, 1 s doubling to at most 30 s; a caller
// that proves the key ends the pauses. No clock of its own: times are steady milliseconds.
class AttemptThrottle {
public:
    static constexpr std::int64_t kFirstPauseMs = 1000;
    static constexpr std::int64_t kLongestPauseMs = 30000;

    void refused(std::int64_t nowMs);
    void admitted();
    // When the next caller may be taken.
    std::int64_t nextCallerAtMs() const { return m_nextCallerAtMs; }

private:
    int m_refusals = 0;
    std::int64_t m_nextCallerAtMs = 0;
};

}  // namespace velmora
