#include "session/link/FrameCodec.h"
#include "session/link/LinkEngine.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>

namespace velmora {
namespace {

// The data frames among the bytes an engine wrote.
int dataFramesIn(const QByteArray& bytes) {
    FrameCodec codec(false, 8192);
    int frames = 0;
    for (const QByteArray& body : codec.decode(bytes)) {
        // Data, last data, zero fill, last data of a compressed message.
        frames += body.front() >= 0x20 && body.front() <= 0x23 ? 1 : 0;
    }
    return frames;
}

LinkEngine::Config config(std::uint32_t nonce) {
    LinkEngine::Config c;
    c.baud = 921600;
    c.nonce = nonce;
    return c;
}

TEST(RetransmissionTimer, ALateTimeoutRepeatsOnlyTheOldestFrameAndIsNotDueAgainAtOnce) {
    std::int64_t now = 1000;
    LinkEngine a(config(1), now);
    LinkEngine b(config(2), now);
    for (int i = 0; i < 4; ++i) {
        b.feed(a.takeOutput(now), now);
        a.feed(b.takeOutput(now), now);
    }
    ASSERT_TRUE(a.isUp() && b.isUp());

    // Three frames go at one moment (the line is fast) and reach the other side; every
    // acknowledgement of them is lost.
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(a.send(QByteArray(400, static_cast<char>('a' + i))));
    }
    const QByteArray frames = a.takeOutput(now);
    ASSERT_EQ(dataFramesIn(frames), 3);
    b.feed(frames, now);
    b.takeOutput(now);

    // The timer fires late, long after the frames' timeouts (a busy or suspended machine):
    // the oldest frame goes again, and the answer to it will tell what else is missing.
    now += 3000;
    a.onTimer(now);
    EXPECT_EQ(dataFramesIn(a.takeOutput(now)), 1);
    EXPECT_EQ(a.retransmissions(), 1U);
    ASSERT_TRUE(a.isUp());
    const auto next = a.nextDeadlineMs();
    ASSERT_TRUE(next);
    EXPECT_GT(*next, now) << "the timer must not come due again at the moment it fired";

    // The other frames wait one more (doubled) timeout before the next repeat.
    a.onTimer(now);
    EXPECT_EQ(dataFramesIn(a.takeOutput(now)), 0);
    EXPECT_EQ(a.retransmissions(), 1U);
}

}  // namespace
}  // namespace velmora
