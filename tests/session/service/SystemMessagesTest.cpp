#include "session/SystemMessages.h"

#include <gtest/gtest.h>

namespace velmora {
namespace {

TEST(SystemMessages, CreatePlayerRoundTripAndExactLayout) {
    CreatePlayerNotice notice;
    notice.id = 0x11223344;
    notice.currentPlayers = 2;
    notice.name = DPNAME{true, QString::fromUtf8("Zo\u00eb \u20ac")};
    const QByteArray bytes = encodeCreatePlayer(notice);

    // Six words and the five Windows-1252 bytes of the name, with no terminator.
    ASSERT_EQ(bytes.size(), 24 + 5);
    EXPECT_EQ(bytes.left(4), QByteArray("\x03\x00\x00\x00", 4));
    EXPECT_EQ(bytes.mid(8, 4), QByteArray("\x44\x33\x22\x11", 4));
    EXPECT_EQ(bytes.mid(20, 4), QByteArray("\x05\x00\x00\x00", 4));
    EXPECT_EQ(bytes.mid(24), QByteArray("Zo\xeb \x80"));

    const auto decoded = decodeCreatePlayer(bytes);
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->playerType, DPPLAYERTYPE_PLAYER);
    EXPECT_EQ(decoded->id, 0x11223344U);
    EXPECT_EQ(decoded->currentPlayers, 2U);
    EXPECT_TRUE(decoded->name.hasShortName);
    EXPECT_EQ(decoded->name.shortName, notice.name.shortName);

    // A player without a short name carries none.
    notice.name = DPNAME{};
    const auto unnamed = decodeCreatePlayer(encodeCreatePlayer(notice));
    ASSERT_TRUE(unnamed);
    EXPECT_FALSE(unnamed->name.hasShortName);
    EXPECT_TRUE(unnamed->name.shortName.isEmpty());
}

TEST(SystemMessages, TruncatedOrForeignNoticesAreRejected) {
    CreatePlayerNotice notice;
    notice.name = DPNAME{true, QStringLiteral("Anna")};
    const QByteArray create = encodeCreatePlayer(notice);
    EXPECT_FALSE(decodeCreatePlayer(create.left(create.size() - 1)));
    EXPECT_FALSE(decodeCreatePlayer(create.left(20)));
    // A name length far beyond the buffer must not be trusted.
    QByteArray huge = create;
    huge[23] = '\x7F';
    EXPECT_FALSE(decodeCreatePlayer(huge));

    const QByteArray destroy = encodeDestroyPlayer(DestroyPlayerNotice{DPPLAYERTYPE_PLAYER, 7});
    EXPECT_FALSE(decodeDestroyPlayer(destroy.left(11)));
    EXPECT_FALSE(decodeCreatePlayer(destroy));
    EXPECT_FALSE(decodeSendComplete(destroy));
    EXPECT_FALSE(decodeDestroyPlayer(create));

    EXPECT_FALSE(systemMessageType(QByteArray("\x31\x00\x00", 3)));
    EXPECT_EQ(systemMessageType(encodeSessionLost()), DPSYS_SESSIONLOST);
    EXPECT_EQ(systemMessageType(encodeHost()), DPSYS_HOST);
    EXPECT_EQ(encodeSessionLost().size(), 4);
    EXPECT_EQ(encodeHost().size(), 4);
}

TEST(SystemMessages, DestroyAndSendCompleteRoundTrip) {
    const auto destroy = decodeDestroyPlayer(encodeDestroyPlayer({DPPLAYERTYPE_PLAYER, 42}));
    ASSERT_TRUE(destroy);
    EXPECT_EQ(destroy->id, 42U);
    EXPECT_EQ(destroy->playerType, DPPLAYERTYPE_PLAYER);

    const SendCompleteNotice sent{3,         4, DPSEND_GUARANTEED | DPSEND_ASYNC, 99, DPERR_ABORTED,
                                  0xFFFFFFF0};
    const QByteArray bytes = encodeSendComplete(sent);
    ASSERT_EQ(bytes.size(), 28);
    EXPECT_EQ(bytes.mid(20, 4), QByteArray("\xA4\x01\x77\x88", 4));
    const auto decoded = decodeSendComplete(bytes);
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->idFrom, 3U);
    EXPECT_EQ(decoded->idTo, 4U);
    EXPECT_EQ(decoded->flags, DPSEND_GUARANTEED | DPSEND_ASYNC);
    EXPECT_EQ(decoded->msgId, 99U);
    EXPECT_EQ(decoded->hr, DPERR_ABORTED);
    EXPECT_EQ(decoded->sendTime, 0xFFFFFFF0U);
}

}  // namespace
}  // namespace velmora
