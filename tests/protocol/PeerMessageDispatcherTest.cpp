#include "protocol/PeerMessageDispatcher.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using namespace velmora;
using ::testing::_;
using ::testing::AllOf;
using ::testing::Field;
using ::testing::StrictMock;

namespace {

class MockConversation : public ConversationHandler {
public:
    MOCK_METHOD(void, textReceived, (const QString&, const QString&), (override));
    MOCK_METHOD(void, keyStrokeReceived, (const KeyStroke&), (override));
    MOCK_METHOD(void, typedTextReceived, (const QString&, std::uint16_t), (override));
    MOCK_METHOD(void, helloReceived, (const PeerSender&, const PeerHello&), (override));
};

class MockTransfers : public TransferHandler {
public:
    MOCK_METHOD(void, offerReceived, (const PeerSender&, const FileOffer&), (override));
    MOCK_METHOD(void, replyReceived, (const PeerSender&, const FileReply&), (override));
    MOCK_METHOD(void, blockReceived, (const PeerSender&, const FileBlock&), (override));
    MOCK_METHOD(void, controlReceived, (const PeerSender&, const TransferControl&), (override));
    MOCK_METHOD(void, damagedBlockReceived, (const PeerSender&, std::uint8_t), (override));
    MOCK_METHOD(void, offerDetailsReceived, (const PeerSender&, const FileOfferDetails&),
                (override));
    MOCK_METHOD(void, replyDetailsReceived, (const PeerSender&, const FileReplyDetails&),
                (override));
    MOCK_METHOD(void, digestReceived, (const PeerSender&, const FileDigest&), (override));
    MOCK_METHOD(void, restartReceived, (const PeerSender&, const FileRestart&), (override));
    MOCK_METHOD(void, verdictReceived, (const PeerSender&, const FileVerdict&), (override));
    MOCK_METHOD(void, reasonReceived, (const PeerSender&, const TransferReason&), (override));
    MOCK_METHOD(void, progressReceived, (const PeerSender&, const FileProgress&), (override));
};

class Dispatch : public ::testing::Test {
protected:
    bool dispatch(const QByteArray& message) {
        return dispatchPeerMessage(m_sender, message.constData(), message.size(), m_conversation,
                                   m_transfers);
    }

    const PeerSender m_sender{0x12345678u, QStringLiteral("Bob")};
    StrictMock<MockConversation> m_conversation;
    StrictMock<MockTransfers> m_transfers;
};

const auto fromBob =
    AllOf(Field(&PeerSender::id, 0x12345678u), Field(&PeerSender::name, QStringLiteral("Bob")));

}  // namespace

TEST_F(Dispatch, EachKindReachesItsHandlerWithItsValues) {
    EXPECT_CALL(m_conversation, textReceived(QStringLiteral("Bob"), QStringLiteral("h\u00e9")));
    EXPECT_TRUE(dispatch(buildTextMessage({"h\xe9"})));
    EXPECT_CALL(m_conversation, textReceived(QStringLiteral("Bob"), QStringLiteral("h\u00e9")));
    EXPECT_TRUE(dispatch(buildUtf8TextMessage({"h\xc3\xa9"})));
    EXPECT_CALL(m_conversation, typedTextReceived(QStringLiteral("\U0001F600"), 9));
    EXPECT_TRUE(dispatch(buildTypedText({9, "\xf0\x9f\x98\x80"})));
    EXPECT_CALL(m_conversation, helloReceived(fromBob, AllOf(Field(&PeerHello::flags, 1),
                                                             Field(&PeerHello::answer, false))));
    EXPECT_TRUE(dispatch(buildPeerHello({kHelloUtf8Text, false, "Bob"})));

    EXPECT_CALL(m_conversation, keyStrokeReceived(AllOf(Field(&KeyStroke::keyCode, 0x0D),
                                                        Field(&KeyStroke::caret, 42))));
    EXPECT_TRUE(dispatch(buildKeyStroke({0x0D, 32, 42})));

    const QByteArray icon(kIconFieldSize, 'i');
    EXPECT_CALL(m_transfers,
                offerReceived(fromBob, AllOf(Field(&FileOffer::fileName, QByteArray("a.txt")),
                                             Field(&FileOffer::fileSize, 1000),
                                             Field(&FileOffer::transferId, 7),
                                             Field(&FileOffer::icon, icon))));
    EXPECT_TRUE(dispatch(buildFileOffer({"a.txt", 1000, 7, icon})));

    EXPECT_CALL(m_transfers, replyReceived(fromBob, AllOf(Field(&FileReply::offset, 500),
                                                          Field(&FileReply::transferId, 7),
                                                          Field(&FileReply::result, frIdInUse))));
    EXPECT_TRUE(dispatch(buildFileReply({500, 7, frIdInUse, icon})));

    const QByteArray data("xyz");
    EXPECT_CALL(m_transfers, blockReceived(fromBob, _)).WillOnce([](auto&, const FileBlock& b) {
        EXPECT_EQ(b.transferId, 7);
        EXPECT_TRUE(b.last);
        EXPECT_EQ(QByteArray(b.data.data(), static_cast<int>(b.data.size())), "xyz");
    });
    EXPECT_TRUE(dispatch(buildFileBlock({true, 7, 3, bytesOf(data)})));

    EXPECT_CALL(m_transfers,
                controlReceived(fromBob, AllOf(Field(&TransferControl::transferId, 7),
                                               Field(&TransferControl::action, caAbort))));
    EXPECT_TRUE(dispatch(buildTransferControl({7, caAbort})));

    const QByteArray digest(kDigestSize, 'd');
    EXPECT_CALL(m_transfers,
                offerDetailsReceived(fromBob, AllOf(Field(&FileOfferDetails::transferId, 7),
                                                    Field(&FileOfferDetails::utf8Name,
                                                          QByteArray("\xd0\xaf.txt")))));
    EXPECT_TRUE(dispatch(buildFileOfferDetails({7, kCheckSha256, "\xd0\xaf.txt"})));
    EXPECT_CALL(m_transfers, replyDetailsReceived(
                                 fromBob, AllOf(Field(&FileReplyDetails::offset, 500),
                                                Field(&FileReplyDetails::prefixDigest, digest))));
    EXPECT_TRUE(dispatch(buildFileReplyDetails({7, kCheckSha256, 500, digest})));
    EXPECT_CALL(m_transfers, digestReceived(fromBob, Field(&FileDigest::digest, digest)));
    EXPECT_TRUE(dispatch(buildFileDigest({7, digest})));
    EXPECT_CALL(m_transfers, restartReceived(fromBob, Field(&FileRestart::transferId, 7)));
    EXPECT_TRUE(dispatch(buildFileRestart({7})));
    EXPECT_CALL(m_transfers, verdictReceived(fromBob, Field(&FileVerdict::result, fvDamaged)));
    EXPECT_TRUE(dispatch(buildFileVerdict({7, fvDamaged})));
    EXPECT_CALL(m_transfers,
                reasonReceived(fromBob, AllOf(Field(&TransferReason::code, trSourceChanged),
                                              Field(&TransferReason::utf8Detail, "x"))));
    EXPECT_TRUE(dispatch(buildTransferReason({7, trSourceChanged, "x"})));
    EXPECT_CALL(m_transfers, progressReceived(fromBob, Field(&FileProgress::written, 512)));
    EXPECT_TRUE(dispatch(buildFileProgress({7, 512})));
}

TEST_F(Dispatch, ADamagedBlockThatNamesItsTransferIsReported) {
    const QByteArray data("xyz");
    QByteArray badCount = buildFileBlock({false, 9, 1, bytesOf(data)});
    badCount[7] = 0x02;  // Count 0x203: more than 512
    QByteArray badCode = buildFileBlock({false, 9, 1, bytesOf(data)});
    badCode[10] = 8;
    for (const QByteArray& damaged :
         {badCount, badCode, buildFileBlock({false, 9, 2, bytesOf(data)}).left(600),
          buildFileBlock({false, 9, 1, bytesOf(data)}).left(6)}) {
        EXPECT_CALL(m_transfers, damagedBlockReceived(fromBob, 9));
        EXPECT_FALSE(dispatch(damaged));
    }
    // Too short to name a transfer, or naming none: nothing to stop.
    EXPECT_FALSE(dispatch(buildFileBlock({false, 9, 1, bytesOf(data)}).left(5)));
    QByteArray unnamed = badCode;
    unnamed[5] = '\xff';
    EXPECT_FALSE(dispatch(unnamed));
}

TEST_F(Dispatch, UnknownKindsAndMalformedMessagesReachNoHandler) {
    // The strict mocks fail the test on any call.
    for (const std::uint32_t kind : {16u, 17u, 255u, 0x80000000u, 0xFFFFFFFFu}) {
        QByteArray message(600, '\0');
        for (int i = 0; i < 4; ++i) {
            message[i] = static_cast<char>(kind >> (8 * i));
        }
        EXPECT_FALSE(dispatch(message)) << kind;
    }
    EXPECT_FALSE(dispatch(QByteArray()));
    EXPECT_FALSE(dispatch(QByteArray(3, '\0')));
    EXPECT_FALSE(dispatch(buildFileOffer({"a", 1, 1, {}}).left(583)));
    EXPECT_FALSE(dispatch(buildTextMessage({"abc"}).left(8)));
    EXPECT_FALSE(dispatch(buildUtf8TextMessage({"abc"}).left(10)));
    EXPECT_FALSE(dispatch(buildTypedText({0, ""})));
    EXPECT_FALSE(dispatch(buildPeerHello({1, false, "Bob"}).left(7)));
    EXPECT_FALSE(dispatchPeerMessage(m_sender, nullptr, 8, m_conversation, m_transfers));
    const QByteArray control = buildTransferControl({1, caPause});
    EXPECT_FALSE(
        dispatchPeerMessage(m_sender, control.constData(), -1, m_conversation, m_transfers));
}
