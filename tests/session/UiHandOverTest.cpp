#include "session/UiHandOver.h"

#include "support/TestEnvironment.h"

#include <QTimer>

#include <gtest/gtest.h>

#include <atomic>
#include <optional>
#include <thread>

namespace velmora {
namespace {

using Reply = std::function<void(std::optional<int>)>;

// A worker asks; the UI thread shows the question and goes on with its own events until the
// answer comes from one of them, as a dialog answered by the user does.
TEST(UiHandOver, AWorkerWaitsForAnAnswerWhileTheUiThreadRunsOn) {
    UiHandOver handOver;
    Reply pending;
    std::atomic<bool> answered{false};
    std::optional<int> got;
    std::thread worker([&] {
        got = handOver.askOnUiThread<int>([&](Reply reply) { pending = std::move(reply); });
        answered = true;
    });
    ASSERT_TRUE(test::pumpUntil([&] { return static_cast<bool>(pending); }));
    bool ranMeanwhile = false;
    QTimer::singleShot(0, [&] { ranMeanwhile = true; });
    ASSERT_TRUE(test::pumpUntil([&] { return ranMeanwhile; }));
    EXPECT_FALSE(answered);
    QTimer::singleShot(0, [&] { pending(42); });
    ASSERT_TRUE(test::pumpUntil([&] { return answered.load(); }));
    worker.join();
    EXPECT_EQ(got, 42);
}

TEST(UiHandOver, OnTheUiThreadOnlyAnImmediateAnswerCounts) {
    UiHandOver handOver;
    EXPECT_EQ(handOver.askOnUiThread<int>([](const Reply& reply) { reply(7); }), 7);
    EXPECT_EQ(handOver.askOnUiThread<int>([](const Reply& reply) { reply(std::nullopt); }),
              std::nullopt);
    // It cannot wait for a later one, which then goes nowhere.
    Reply late;
    EXPECT_EQ(handOver.askOnUiThread<int>([&](Reply reply) { late = std::move(reply); }),
              std::nullopt);
    late(3);
}

}  // namespace
}  // namespace velmora
