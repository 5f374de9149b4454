#include "session/net/AttemptThrottle.h"

#include <gtest/gtest.h>

namespace velmora {
namespace {

TEST(AttemptThrottleTest, PausesDoubleAfterEachRefusalUpToTheLongestAndEndOnAdmission) {
    AttemptThrottle throttle;
    EXPECT_EQ(throttle.nextCallerAtMs(), 0) << "the first caller is taken at once";
    std::int64_t now = 5000;
    std::int64_t expected = AttemptThrottle::kFirstPauseMs;
    for (int refusal = 0; refusal < 8; ++refusal) {
        throttle.refused(now);
        EXPECT_EQ(throttle.nextCallerAtMs() - now, expected) << "after refusal " << refusal + 1;
        now = throttle.nextCallerAtMs();
        expected = std::min(expected * 2, AttemptThrottle::kLongestPauseMs);
    }
    // Many more refusals never overflow the pause.
    for (int refusal = 0; refusal < 100; ++refusal) {
        throttle.refused(now);
    }
    EXPECT_EQ(throttle.nextCallerAtMs() - now, AttemptThrottle::kLongestPauseMs);
    throttle.admitted();
    EXPECT_EQ(throttle.nextCallerAtMs(), 0);
    throttle.refused(now);
    EXPECT_EQ(throttle.nextCallerAtMs() - now, AttemptThrottle::kFirstPauseMs);
}

}  // namespace
}  // namespace velmora
