#include "protocol/ChatLine.h"
#include "protocol/PeerMessages.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <vector>

using namespace velmora;

namespace {

std::uint32_t u32At(const QByteArray& bytes, int at) {
    return static_cast<std::uint8_t>(bytes[at]) |
           static_cast<std::uint32_t>(static_cast<std::uint8_t>(bytes[at + 1])) << 8 |
           static_cast<std::uint32_t>(static_cast<std::uint8_t>(bytes[at + 2])) << 16 |
           static_cast<std::uint32_t>(static_cast<std::uint8_t>(bytes[at + 3])) << 24;
}

std::uint16_t u16At(const QByteArray& bytes, int at) {
    return static_cast<std::uint16_t>(static_cast<std::uint8_t>(bytes[at]) |
                                      static_cast<std::uint8_t>(bytes[at + 1]) << 8);
}

std::uint8_t u8At(const QByteArray& bytes, int at) {
    return static_cast<std::uint8_t>(bytes[at]);
}

QByteArray sampleIcon() {
    QByteArray icon(kIconFieldSize, '\0');
    for (int i = 0; i < icon.size(); ++i) {
        icon[i] = static_cast<char>(i * 7 + 1);
    }
    return icon;
}

// The bytes written in hex, a space between fields (QByteArray::fromHex skips it).
QByteArray fromHex(const char* hex) {
    return QByteArray::fromHex(hex);
}

}  // namespace

TEST(PeerMessages, BlockSizeCodesMapOneToSevenAndNothingElse) {
    const std::vector<int> expected{512, 1024, 2048, 4096, 32768, 65536, 1048576};
    for (int code = 1; code <= 7; ++code) {
        EXPECT_EQ(blockSizeOfCode(code), expected[code - 1]) << code;
    }
    for (int code : {-1, 0, 8, 255}) {
        EXPECT_FALSE(blockSizeOfCode(code).has_value()) << code;
    }
}

TEST(PeerMessages, TextMessageLayoutAndParsing) {
    const QByteArray built = buildTextMessage({QByteArray("Hi\xe9", 3)});
    EXPECT_EQ(built, fromHex("00000000 0300 4869e9 00 00"));

    const auto parsed = parseTextMessage(bytesOf(built));
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->text, QByteArray("Hi\xe9", 3));

    // Length 0: the smallest valid message, and an empty text.
    EXPECT_EQ(buildTextMessage({}), fromHex("0000000000000000"));
    const auto empty = parseTextMessage(bytesOf(fromHex("0000000000000000")));
    ASSERT_TRUE(empty);
    EXPECT_TRUE(empty->text.isEmpty());

    // The text ends at its first zero byte even when Length says more.
    const auto cut = parseTextMessage(bytesOf(fromHex("00000000 0500 41420043440000")));
    ASSERT_TRUE(cut);
    EXPECT_EQ(cut->text, QByteArray("AB"));

    // Without the trailing zero and reserved byte the text is still complete.
    const auto bare = parseTextMessage(bytesOf(fromHex("00000000 0200 4142")));
    ASSERT_TRUE(bare);
    EXPECT_EQ(bare->text, QByteArray("AB"));

    // Length beyond the message's end, and a wrong kind.
    EXPECT_FALSE(parseTextMessage(bytesOf(fromHex("00000000 0300 4142"))));
    EXPECT_FALSE(parseTextMessage(bytesOf(fromHex("01000000 0000 0000"))));
}

TEST(PeerMessages, TextLongerThanTheLengthFieldIsCut) {
    const QByteArray text(70000, 'x');
    const QByteArray built = buildTextMessage({text});
    EXPECT_EQ(built.size(), 65535 + 8);
    EXPECT_EQ(u16At(built, 4), 65535);
    const auto parsed = parseTextMessage(bytesOf(built));
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->text, text.left(65535));
}

TEST(PeerMessages, FileOfferLayoutAndParsing) {
    const QByteArray icon = sampleIcon();
    const QByteArray built = buildFileOffer({"report.txt", 0x01020304, 254, icon});
    ASSERT_EQ(built.size(), 584);
    EXPECT_EQ(u32At(built, 0), 1u);
    EXPECT_EQ(u8At(built, 4), 10);
    EXPECT_EQ(built.mid(5, 10), QByteArray("report.txt"));
    EXPECT_EQ(built.mid(15, 245), QByteArray(245, '\0'));
    EXPECT_EQ(u32At(built, 260), 0x01020304u);
    EXPECT_EQ(u8At(built, 264), 254);
    EXPECT_EQ(built.mid(265, 318), icon);
    EXPECT_EQ(u8At(built, 583), 0);

    const auto parsed = parseFileOffer(bytesOf(built));
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->fileName, QByteArray("report.txt"));
    EXPECT_EQ(parsed->fileSize, 0x01020304);
    EXPECT_EQ(parsed->transferId, 254);
    EXPECT_EQ(parsed->icon, icon);

    // A negative size travels as its two's complement; a short icon is padded with zeros.
    const QByteArray negative = buildFileOffer({"a", -2, 0, QByteArray("ab")});
    EXPECT_EQ(u32At(negative, 260), 0xFFFFFFFEu);
    EXPECT_EQ(negative.mid(265, 3), QByteArray("ab\0", 3));
    EXPECT_EQ(parseFileOffer(bytesOf(negative))->fileSize, -2);
}

TEST(PeerMessages, FileOfferNameIsCutTo255AndBytesAfterTheNameAreIgnored) {
    const QByteArray longName(300, 'n');
    const QByteArray built = buildFileOffer({longName, 1, 3, sampleIcon()});
    EXPECT_EQ(u8At(built, 4), 255);
    EXPECT_EQ(built.mid(5, 255), longName.left(255));
    EXPECT_EQ(u32At(built, 260), 1u);
    EXPECT_EQ(parseFileOffer(bytesOf(built))->fileName, longName.left(255));

    QByteArray garbage = buildFileOffer({"ab", 1, 3, sampleIcon()});
    garbage[7] = 'Z';
    EXPECT_EQ(parseFileOffer(bytesOf(garbage))->fileName, QByteArray("ab"));
}

TEST(PeerMessages, FileReplyLayoutAndParsing) {
    const QByteArray icon = sampleIcon();
    const QByteArray built = buildFileReply({1000, 17, frAccepted, icon});
    ASSERT_EQ(built.size(), 328);
    EXPECT_EQ(built.left(10), fromHex("02000000 e8030000 11 00"));
    EXPECT_EQ(built.mid(10), icon);

    const auto parsed = parseFileReply(bytesOf(built));
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->offset, 1000);
    EXPECT_EQ(parsed->transferId, 17);
    EXPECT_EQ(parsed->result, frAccepted);
    EXPECT_EQ(parsed->icon, icon);

    for (const FileReplyResult result : {frBlocked, frIdInUse}) {
        const QByteArray reply = buildFileReply({0, 5, result, icon});
        EXPECT_EQ(u8At(reply, 9), result);
        EXPECT_EQ(parseFileReply(bytesOf(reply))->result, result);
    }

    QByteArray unknown = built;
    unknown[9] = 3;
    EXPECT_FALSE(parseFileReply(bytesOf(unknown)));
}

TEST(PeerMessages, FileBlockLayoutAndParsing) {
    const QByteArray data("hello");
    const QByteArray built = buildFileBlock({false, 9, 1, bytesOf(data)});
    ASSERT_EQ(built.size(), 523);
    EXPECT_EQ(built.left(16), fromHex("03000000 00 09 05000000 01 68656c6c6f"));
    EXPECT_EQ(built.mid(16), QByteArray(523 - 16, '\0'));

    const auto parsed = parseFileBlock(bytesOf(built));
    ASSERT_TRUE(parsed);
    EXPECT_FALSE(parsed->last);
    EXPECT_EQ(parsed->transferId, 9);
    EXPECT_EQ(parsed->blockCode, 1);
    EXPECT_EQ(QByteArray(parsed->data.data(), static_cast<int>(parsed->data.size())), data);

    // Every code gives the full length, also for the end-of-file message.
    for (std::uint8_t code = 1; code <= 7; ++code) {
        const QByteArray end = buildFileBlock({true, 4, code, {}});
        EXPECT_EQ(end.size(), *blockSizeOfCode(code) + 11) << int(code);
        EXPECT_EQ(u8At(end, 4), 1);
        EXPECT_EQ(u32At(end, 6), 0u);
        const auto parsedEnd = parseFileBlock(bytesOf(end));
        ASSERT_TRUE(parsedEnd);
        EXPECT_TRUE(parsedEnd->last);
        EXPECT_TRUE(parsedEnd->data.empty());
    }

    // A full block uses all of its data.
    const QByteArray full(4096, 'f');
    const QByteArray fullBlock = buildFileBlock({false, 1, 4, bytesOf(full)});
    EXPECT_EQ(fullBlock.size(), 4107);
    EXPECT_EQ(parseFileBlock(bytesOf(fullBlock))->data.size(), 4096u);
}

TEST(PeerMessages, FileBlockBuilderRefusesWhatCannotBeSent) {
    const QByteArray tooMuch(513, 'x');
    EXPECT_TRUE(buildFileBlock({false, 1, 1, bytesOf(tooMuch)}).isEmpty());
    EXPECT_TRUE(buildFileBlock({false, 1, 0, {}}).isEmpty());
    EXPECT_TRUE(buildFileBlock({false, 1, 8, {}}).isEmpty());
}

TEST(PeerMessages, MalformedFileBlocksAreInvalid) {
    const QByteArray good = buildFileBlock({false, 2, 1, bytesOf(QByteArray("abc"))});
    ASSERT_TRUE(parseFileBlock(bytesOf(good)));

    const auto with = [&](int at, std::uint32_t value, int width) {
        QByteArray changed = good;
        for (int i = 0; i < width; ++i) {
            changed[at + i] = static_cast<char>(value >> (8 * i));
        }
        return parseFileBlock(bytesOf(changed));
    };
    EXPECT_FALSE(with(10, 0, 1)) << "block code 0";
    EXPECT_FALSE(with(10, 8, 1)) << "block code 8";
    EXPECT_FALSE(with(6, 0xFFFFFFFF, 4)) << "count -1";
    EXPECT_FALSE(with(6, 513, 4)) << "count above the block size";
    EXPECT_TRUE(with(6, 512, 4)) << "count of the whole block";
    EXPECT_FALSE(with(5, 255, 1)) << "identifier 255";
    // A block that claims a larger code than its length holds.
    EXPECT_FALSE(with(10, 2, 1));
}

TEST(PeerMessages, KeyStrokeAndTransferControlLayouts) {
    const QByteArray key = buildKeyStroke({0x0025, 32, 0xBEEF});
    EXPECT_EQ(key, fromHex("04000000 2500 20 00 efbe 0000"));
    const auto parsedKey = parseKeyStroke(bytesOf(key));
    ASSERT_TRUE(parsedKey);
    EXPECT_EQ(parsedKey->keyCode, 0x25);
    EXPECT_EQ(parsedKey->charCode, 32);
    EXPECT_EQ(parsedKey->caret, 0xBEEF);

    const auto typed = parseKeyStroke(bytesOf(fromHex("04000000 0000 e9 ff 0100 ffff")));
    ASSERT_TRUE(typed);
    EXPECT_EQ(typed->keyCode, 0);
    EXPECT_EQ(typed->charCode, 0xE9);
    EXPECT_EQ(typed->caret, 1);

    for (const TransferAction action : {caResume, caPause, caAbort}) {
        const QByteArray control = buildTransferControl({200, action});
        EXPECT_EQ(control, fromHex("05000000 c8") + char(action) + QByteArray(2, '\0'));
        const auto parsed = parseTransferControl(bytesOf(control));
        ASSERT_TRUE(parsed);
        EXPECT_EQ(parsed->transferId, 200);
        EXPECT_EQ(parsed->action, action);
    }
    EXPECT_FALSE(parseTransferControl(bytesOf(fromHex("05000000 01 03 0000"))));
    EXPECT_FALSE(parseTransferControl(bytesOf(fromHex("05000000 ff 00 0000"))));
}

TEST(PeerMessages, IdentifierOutsideTheRangeIsRejectedInRepliesButAnOfferIsRead) {
    // An offer with 255 is read, so that its sender gets an answer.
    QByteArray offer = buildFileOffer({"a", 1, 0, sampleIcon()});
    offer[264] = static_cast<char>(255);
    ASSERT_TRUE(parseFileOffer(bytesOf(offer)));
    EXPECT_EQ(parseFileOffer(bytesOf(offer))->transferId, 255);
    QByteArray reply = buildFileReply({0, 0, frAccepted, sampleIcon()});
    reply[8] = static_cast<char>(255);
    EXPECT_FALSE(parseFileReply(bytesOf(reply)));
}

TEST(PeerMessages, EveryTruncationOfEveryKindIsRejectedWithoutReadingPastTheEnd) {
    const QByteArray icon = sampleIcon();
    const QByteArray blockData(600, 'd');
    struct Case {
        const char* name;
        QByteArray message;
        std::function<bool(MessageBytes)> parses;
        int minimum;  // the shortest prefix that still parses
    };
    const std::vector<Case> cases{
        {"text", buildTextMessage({"abcdef"}),
         [](MessageBytes m) { return parseTextMessage(m).has_value(); }, 12},
        {"offer", buildFileOffer({"name", 9, 1, icon}),
         [](MessageBytes m) { return parseFileOffer(m).has_value(); }, 584},
        {"reply", buildFileReply({9, 1, frAccepted, icon}),
         [](MessageBytes m) { return parseFileReply(m).has_value(); }, 328},
        {"block", buildFileBlock({false, 1, 2, bytesOf(blockData)}),
         [](MessageBytes m) { return parseFileBlock(m).has_value(); }, 1035},
        {"key", buildKeyStroke({0, 'a', 3}),
         [](MessageBytes m) { return parseKeyStroke(m).has_value(); }, 12},
        {"control", buildTransferControl({1, caPause}),
         [](MessageBytes m) { return parseTransferControl(m).has_value(); }, 8},
        {"offer details", buildFileOfferDetails({1, kCheckSha256, "n\xc3\xa9"}),
         [](MessageBytes m) { return parseFileOfferDetails(m).has_value(); }, 11},
        {"reply details", buildFileReplyDetails({1, kCheckSha256, 5, QByteArray(32, 'p')}),
         [](MessageBytes m) { return parseFileReplyDetails(m).has_value(); }, 44},
        {"digest", buildFileDigest({1, QByteArray(32, 'q')}),
         [](MessageBytes m) { return parseFileDigest(m).has_value(); }, 40},
        {"restart", buildFileRestart({1}),
         [](MessageBytes m) { return parseFileRestart(m).has_value(); }, 8},
        {"verdict", buildFileVerdict({1, fvIncomplete}),
         [](MessageBytes m) { return parseFileVerdict(m).has_value(); }, 8},
        {"hello", buildPeerHello({kHelloUtf8Text, false, "B\xc3\xb8"}),
         [](MessageBytes m) { return parsePeerHello(m).has_value(); }, 11},
        {"utf-8 text", buildUtf8TextMessage({"\xe6\x97\xa5!"}),
         [](MessageBytes m) { return parseUtf8TextMessage(m).has_value(); }, 12},
        {"typed text", buildTypedText({3, "\xf0\x9f\x98\x80"}),
         [](MessageBytes m) { return parseTypedText(m).has_value(); }, 12},
    };
    for (const Case& c : cases) {
        for (int length = 0; length <= c.message.size(); ++length) {
            // A copy of exactly this length, so that a read past its end is caught by the
            // sanitizers and valgrind.
            const std::vector<char> prefix(c.message.begin(), c.message.begin() + length);
            EXPECT_EQ(c.parses({prefix.data(), prefix.size()}), length >= c.minimum)
                << c.name << " at length " << length;
        }
    }
    EXPECT_FALSE(messageKindOf(bytesOf(QByteArray(3, '\0'))));
    EXPECT_EQ(messageKindOf(bytesOf(fromHex("07000001"))), 0x01000007u);
}

TEST(PeerMessages, FileCheckLayoutsAndParsing) {
    const QByteArray digest =
        fromHex("000102030405060708090a0b0c0d0e0f 101112131415161718191a1b1c1d1e1f");
    EXPECT_EQ(buildFileOfferDetails({0x2A, kCheckSha256, "\xd0\xaf.txt"}),
              fromHex("06000000 2a 01 0600 d0af2e747874"));
    const auto offerDetails =
        parseFileOfferDetails(bytesOf(fromHex("06000000 2a 01 0200 6162 ffff")));  // later fields
    ASSERT_TRUE(offerDetails);
    EXPECT_EQ(offerDetails->transferId, 0x2A);
    EXPECT_EQ(offerDetails->flags, kCheckSha256);
    EXPECT_EQ(offerDetails->utf8Name, "ab");
    // A name longer than the limit is left out of a built message and refused in a parsed one.
    EXPECT_EQ(buildFileOfferDetails({1, kCheckSha256, QByteArray(1024, 'n')}).size(), 8);
    QByteArray tooLong = buildFileOfferDetails({1, kCheckSha256, QByteArray(1023, 'n')});
    EXPECT_TRUE(parseFileOfferDetails(bytesOf(tooLong)));
    tooLong.append('n');
    tooLong[6] = 0x00;
    tooLong[7] = 0x04;
    EXPECT_FALSE(parseFileOfferDetails(bytesOf(tooLong)));

    EXPECT_EQ(buildFileReplyDetails({0x2A, kCheckSha256, 0x01020304, digest}),
              fromHex("07000000 2a 01 0000 04030201") + digest);
    const auto replyDetails = parseFileReplyDetails(
        bytesOf(buildFileReplyDetails({3, kCheckSha256, 1000, digest.left(5)})));
    ASSERT_TRUE(replyDetails);
    EXPECT_EQ(replyDetails->offset, 1000);
    EXPECT_EQ(replyDetails->prefixDigest, digest.left(5) + QByteArray(27, '\0'));

    EXPECT_EQ(buildFileDigest({0x2A, digest}), fromHex("08000000 2a 000000") + digest);
    EXPECT_EQ(parseFileDigest(bytesOf(buildFileDigest({9, digest})))->digest, digest);
    EXPECT_EQ(buildFileRestart({0x2A}), fromHex("09000000 2a 000000"));
    EXPECT_EQ(buildFileVerdict({0x2A, fvDamaged}), fromHex("0a000000 2a 01 0000"));
    EXPECT_EQ(parseFileVerdict(bytesOf(buildFileVerdict({4, fvIncomplete})))->result, fvIncomplete);

    // The identifier 255 and verdicts past 2 are refused.
    for (QByteArray message :
         {buildFileOfferDetails({1, 1, "a"}), buildFileReplyDetails({1, 1, 0, digest}),
          buildFileDigest({1, digest}), buildFileRestart({1}), buildFileVerdict({1, fvWhole})}) {
        message[4] = '\xff';
        EXPECT_FALSE(parseFileOfferDetails(bytesOf(message)) ||
                     parseFileReplyDetails(bytesOf(message)) || parseFileDigest(bytesOf(message)) ||
                     parseFileRestart(bytesOf(message)) || parseFileVerdict(bytesOf(message)));
    }
    EXPECT_FALSE(parseFileVerdict(bytesOf(fromHex("0a000000 01 03 0000"))));
}

TEST(PeerMessages, ReasonAndProgressLayoutsAndParsing) {
    EXPECT_EQ(buildTransferReason({0x2A, trBlocked, {}}), fromHex("0b000000 2a 01 0000"));
    EXPECT_EQ(buildTransferReason({0x2A, trCannotWrite, "full"}),
              fromHex("0b000000 2a 03 0400 66756c6c"));
    // A reason of a later version is kept as it came; bytes after the layout are ignored.
    const auto later = parseTransferReason(bytesOf(fromHex("0b000000 07 63 0200 6869 ffff")));
    ASSERT_TRUE(later);
    EXPECT_EQ(later->transferId, 7);
    EXPECT_EQ(later->code, 0x63);
    EXPECT_EQ(later->utf8Detail, "hi");
    // A detail past the limit is cut at a character's start when built, refused when read.
    QByteArray detail = QByteArray(1022, 'a') + "\xc3\xa9";
    const QByteArray built = buildTransferReason({1, trCannotRead, detail});
    EXPECT_EQ(built.size(), 8 + 1022);
    EXPECT_EQ(parseTransferReason(bytesOf(built))->utf8Detail, QByteArray(1022, 'a'));
    QByteArray tooLong = buildTransferReason({1, trCannotRead, QByteArray(1023, 'a')}) + "a";
    tooLong[6] = 0x00;
    tooLong[7] = 0x04;
    EXPECT_FALSE(parseTransferReason(bytesOf(tooLong)));

    EXPECT_EQ(buildFileProgress({0x2A, 0x01020304}), fromHex("0c000000 2a 000000 04030201"));
    EXPECT_EQ(parseFileProgress(bytesOf(buildFileProgress({3, 70000})))->written, 70000);
    // A negative count and the identifier 255 are refused.
    EXPECT_FALSE(parseFileProgress(bytesOf(buildFileProgress({3, -1}))));
    for (QByteArray message : {buildTransferReason({1, 0, {}}), buildFileProgress({1, 0})}) {
        message[4] = '\xff';
        EXPECT_FALSE(parseTransferReason(bytesOf(message)) || parseFileProgress(bytesOf(message)));
    }
}

TEST(PeerMessages, Utf8TextLayoutsAndParsing) {
    // The hello: kind 13, flags, answer, name length, the UTF-8 name.
    const QByteArray hello = buildPeerHello({kHelloUtf8Text, true, "J\xc3\xb6rg"});
    EXPECT_EQ(hello, fromHex("0d000000 01 01 0500 4ac3b67267"));
    const auto readHello = parsePeerHello(bytesOf(hello + "later fields"));
    ASSERT_TRUE(readHello) << "bytes after the layout are for later versions";
    EXPECT_EQ(readHello->flags, kHelloUtf8Text);
    EXPECT_TRUE(readHello->answer);
    EXPECT_EQ(readHello->utf8Name, "J\xc3\xb6rg");
    EXPECT_EQ(buildPeerHello({kHelloUtf8Text, false, QByteArray(1024, 'n')}),
              fromHex("0d000000010000 00"))
        << "a name past 1023 bytes is left out";
    QByteArray longName = buildPeerHello({0, false, QByteArray(1023, 'n')});
    longName[6] = 0x00;
    longName[7] = 0x04;  // NameLength 1024, with 1023 bytes there
    EXPECT_FALSE(parsePeerHello(bytesOf(longName + "n")));

    // The instance follows the name when bit 1 says so; a later field may follow it.
    const QByteArray instance = fromHex("00112233445566778899aabbccddeeff");
    const QByteArray withInstance =
        buildPeerHello({kHelloUtf8Text | kHelloInstance, false, "Al", instance});
    EXPECT_EQ(withInstance, fromHex("0d000000 03 00 0200 416c 00112233445566778899aabbccddeeff"));
    const auto readInstance = parsePeerHello(bytesOf(withInstance + "later"));
    ASSERT_TRUE(readInstance);
    EXPECT_EQ(readInstance->flags, kHelloUtf8Text | kHelloInstance);
    EXPECT_EQ(readInstance->utf8Name, "Al");
    EXPECT_EQ(readInstance->instance, instance);
    // An instance of another size is not sent, nor is the bit; one cut short is not read.
    EXPECT_EQ(buildPeerHello({kHelloUtf8Text | kHelloInstance, false, "Al", "short"}),
              fromHex("0d000000 01 00 0200 416c"));
    const auto cutShort = parsePeerHello(bytesOf(withInstance.left(withInstance.size() - 1)));
    ASSERT_TRUE(cutShort) << "the rest of the hello still holds";
    EXPECT_EQ(cutShort->flags, kHelloUtf8Text);
    EXPECT_TRUE(cutShort->instance.isEmpty());
    // A hello without the bit has no instance, whatever follows its name.
    EXPECT_TRUE(parsePeerHello(bytesOf(hello + instance))->instance.isEmpty());

    // The example of the wire protocol's description.
    EXPECT_EQ(buildPeerHello({kHelloUtf8Text, false, QStringLiteral("B\u014db").toUtf8()}),
              fromHex("0d000000 01 00 0400 42c58d62"));
    const QString greeting = QStringLiteral("\u041f\u0440\u0438\u0432\u0435\u0442 \u65e5\u672c");
    EXPECT_EQ(buildChatMessage(greeting, true),
              fromHex("0e000000 13000000 d09fd180d0b8d0b2d0b5d182 20 e697a5 e69cac"));
    EXPECT_EQ(buildChatMessage(greeting, false), fromHex("00000000 0900 3f3f3f3f3f3f203f3f 0000"));
    EXPECT_EQ(buildTypedText({0, QStringLiteral("\U0001F600").toUtf8()}),
              fromHex("0f000000 0000 0400 f09f9880"));

    // A chat line: kind 14, a 32-bit length, the UTF-8 bytes; it stops at a zero byte.
    const QByteArray text = buildUtf8TextMessage({"\xd0\x96 \xe4\xb8\xad"});
    EXPECT_EQ(text, fromHex("0e000000 06000000 d09620e4b8ad"));
    EXPECT_EQ(parseUtf8TextMessage(bytesOf(text))->text, "\xd0\x96 \xe4\xb8\xad");
    EXPECT_EQ(parseUtf8TextMessage(bytesOf(buildUtf8TextMessage({QByteArray("ab\0cd", 5)})))->text,
              "ab");
    const QByteArray longest(kMaxUtf8TextLength + 5, 'x');
    EXPECT_EQ(parseUtf8TextMessage(bytesOf(buildUtf8TextMessage({longest})))->text.size(),
              kMaxUtf8TextLength);

    // Typed text: kind 15, caret, length, the UTF-8 bytes of whole characters; never empty.
    const QByteArray typed = buildTypedText({0x1234, "\xf0\x9f\x98\x80"});
    EXPECT_EQ(typed, fromHex("0f000000 3412 0400 f09f9880"));
    const auto readTyped = parseTypedText(bytesOf(typed));
    ASSERT_TRUE(readTyped);
    EXPECT_EQ(readTyped->caret, 0x1234);
    EXPECT_EQ(readTyped->text, "\xf0\x9f\x98\x80");
    EXPECT_FALSE(parseTypedText(bytesOf(buildTypedText({1, ""}))));
}

TEST(ChatLine, FormatsTheLineAndBuildsItForEitherPeer) {
    EXPECT_EQ(formatChatLine(QStringLiteral("Ann"), QStringLiteral("Caf\u00e9")),
              QStringLiteral("Ann>    Caf\u00e9"));
    EXPECT_EQ(formatChatLine(QStringLiteral("Ann"), {}), QStringLiteral("Ann>    "));

    const QString line = QStringLiteral("\u20ac5 \u4e2d \U0001F600");
    const auto old = parseTextMessage(bytesOf(buildChatMessage(line, false)));
    ASSERT_TRUE(old);
    EXPECT_EQ(old->text, QByteArray("\x80"
                                    "5 ? ?"))
        << "one '?' for each character outside the code page, an emoji's two units included";
    EXPECT_EQ(textAsSent(line, false), QStringLiteral("\u20ac5 ? ?"));
    const auto utf8 = parseUtf8TextMessage(bytesOf(buildChatMessage(line, true)));
    ASSERT_TRUE(utf8);
    EXPECT_EQ(utf8->text, line.toUtf8());
    EXPECT_EQ(textAsSent(line, true), line);

    // A key's characters: one TypedText, or a KeyStroke for each Windows-1252 byte.
    const QString typed = QStringLiteral("e\u0301\u00fc");
    const QList<QByteArray> whole = buildTypedMessages(typed, 7, true);
    ASSERT_EQ(whole.size(), 1);
    EXPECT_EQ(parseTypedText(bytesOf(whole[0]))->text, typed.toUtf8());
    const QList<QByteArray> bytes = buildTypedMessages(typed, 7, false);
    ASSERT_EQ(bytes.size(), 3);
    const QByteArray expected("e?\xfc");
    for (int i = 0; i < 3; ++i) {
        const auto stroke = parseKeyStroke(bytesOf(bytes[i]));
        ASSERT_TRUE(stroke);
        EXPECT_EQ(stroke->keyCode, 0);
        EXPECT_EQ(stroke->charCode, static_cast<std::uint8_t>(expected[i]));
        EXPECT_EQ(stroke->caret, 7 + i);
    }
}
