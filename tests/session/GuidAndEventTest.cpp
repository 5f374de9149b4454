#include "session/AutoResetEvent.h"
#include "session/Guid.h"

#include <gtest/gtest.h>

#include <thread>

using velmora::AutoResetEvent;
using velmora::Guid;

TEST(Guid, ParsesRegistryFormIntoWindowsByteOrderAndPrintsItUpperCase)
{
    const auto guid = Guid::fromString(QStringLiteral("{a2196e45-287f-4f8f-987a-382c87886eed}"));
    ASSERT_TRUE(guid.has_value());
    const std::array<std::uint8_t, 16> expected{0x45, 0x6E, 0x19, 0xA2, 0x7F, 0x28, 0x8F, 0x4F,
                                                0x98, 0x7A, 0x38, 0x2C, 0x87, 0x88, 0x6E, 0xED};
    EXPECT_EQ(guid->bytes, expected);
    EXPECT_EQ(guid->toString(), QStringLiteral("{A2196E45-287F-4F8F-987A-382C87886EED}"));
    EXPECT_TRUE(Guid{}.isNull());
    EXPECT_EQ(Guid{}.toString(), QStringLiteral("{00000000-0000-0000-0000-000000000000}"));

    for (const char* bad : {"", "A2196E45-287F-4F8F-987A-382C87886EED", "{A2196E45-287F-4F8F-987A}",
                            "{G2196E45-287F-4F8F-987A-382C87886EED}",
                            "{A2196E45-287F-4F8F-987A-382C87886EED}x"}) {
        EXPECT_FALSE(Guid::fromString(QString::fromLatin1(bad)).has_value()) << bad;
    }
}

TEST(AutoResetEvent, ASignalIsTakenByOneWaitAndWaitAnyPrefersTheFirst)
{
    AutoResetEvent first;
    AutoResetEvent second;
    EXPECT_FALSE(first.tryTake());
    first.signal();
    EXPECT_TRUE(first.tryTake());
    EXPECT_FALSE(first.tryTake());

    first.signal();
    second.signal();
    EXPECT_EQ(AutoResetEvent::waitAny(first, second), 0);
    EXPECT_EQ(AutoResetEvent::waitAny(first, second), 1);

    std::thread signaller([&] { second.signal(); });
    EXPECT_EQ(AutoResetEvent::waitAny(first, second), 1);
    signaller.join();
    EXPECT_FALSE(second.tryTake());
}
