#include "session/Windows1252.h"

#include <gtest/gtest.h>

using velmora::fromWindows1252;
using velmora::toWindows1252;

TEST(Windows1252, MapsTheHighControlRangeBothWaysAndReplacesWhatItCannotHold) {
    const QString text = QStringLiteral("A\u20AC\u2122\u00E9\u0178\u00FF");
    const QByteArray bytes = toWindows1252(text);
    EXPECT_EQ(bytes, QByteArray("A\x80\x99\xE9\x9F\xFF"));
    EXPECT_EQ(fromWindows1252(bytes), text);

    // Outside the code page: a CJK character and a character beyond the basic plane, one '?' each.
    EXPECT_EQ(toWindows1252(QStringLiteral("x\u4E2Dy\U0001F600z")), QByteArray("x?y?z"));

    // The undefined bytes come back as the control characters of the same value and go out again.
    const QByteArray undefined("\x81\x8D\x8F\x90\x9D", 5);
    EXPECT_EQ(toWindows1252(fromWindows1252(undefined)), undefined);
    EXPECT_EQ(fromWindows1252(QByteArray("\0a", 2)).size(), 2);
}
