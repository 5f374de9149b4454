#include "RtfReader.h"

#include "conversation/RtfWriter.h"
#include "conversation/VirtualKeys.h"

#include <Qt>

#include <iterator>
#include <set>

#include <gtest/gtest.h>

namespace velmora {
namespace {

TEST(RtfWriterTest, EscapesAndEncodesSoEveryLineReadsBack) {
    const QString text = QString::fromUtf8(
        "Ann>    back\\slash {braces}\n"
        "Bob>    caf\xC3\xA9 \xE2\x82\xAC 5\tend\n"
        "Bob>    \xD0\x96 and \xF0\x9F\x98\x80\n"
        "\n"
        "last");
    const QByteArray rtf = plainTextToRtf(text);
    EXPECT_TRUE(rtf.startsWith("{\\rtf1\\ansi\\ansicpg1252"));
    EXPECT_TRUE(rtf.contains("back\\\\slash \\{braces\\}"));
    EXPECT_TRUE(rtf.contains("caf\\'e9 \\'80 5\\tab end")) << rtf.constData();
    EXPECT_TRUE(rtf.contains("\\u1046?")) << "a character outside the code page";
    EXPECT_TRUE(rtf.contains("\\u-10179?\\u-8704?")) << "a surrogate pair, unit by unit";
    for (const char byte : rtf) {
        EXPECT_LT(static_cast<unsigned char>(byte), 0x80) << "RTF is 7-bit text";
    }
    EXPECT_EQ(test::readRtfText(rtf), text + "\n");
    EXPECT_EQ(test::readRtfText(plainTextToRtf(QString())), "\n");
}

TEST(VirtualKeysTest, BothSidesAgreeOnEveryKeyTheConversationUses) {
    EXPECT_EQ(virtualKeyFromQtKey(Qt::Key_A), 0x41);
    EXPECT_EQ(virtualKeyFromQtKey(Qt::Key_9), 0x39);
    EXPECT_EQ(virtualKeyFromQtKey(Qt::Key_Return), 0x0D);
    EXPECT_EQ(virtualKeyFromQtKey(Qt::Key_Enter), 0x0D);
    EXPECT_EQ(virtualKeyFromQtKey(Qt::Key_Backspace), 0x08);
    EXPECT_EQ(virtualKeyFromQtKey(Qt::Key_Delete), 0x2E);
    EXPECT_EQ(virtualKeyFromQtKey(Qt::Key_Left), 0x25);
    EXPECT_EQ(virtualKeyFromQtKey(Qt::Key_Down), 0x28);
    EXPECT_EQ(virtualKeyFromQtKey(Qt::Key_F1), 0x70);
    EXPECT_EQ(virtualKeyFromQtKey(Qt::Key_F12), 0x7B);
    EXPECT_EQ(virtualKeyFromQtKey(Qt::Key_Shift), 0x10);
    EXPECT_EQ(virtualKeyFromQtKey(Qt::Key_Control), 0x11);
    EXPECT_EQ(virtualKeyFromQtKey(Qt::Key_Alt), 0x12);
    EXPECT_FALSE(virtualKeyFromQtKey(Qt::Key_F13));
    EXPECT_FALSE(virtualKeyFromQtKey(Qt::Key_Eacute));

    const int keys[] = {Qt::Key_A,      Qt::Key_Z,      Qt::Key_0,        Qt::Key_Backspace,
                        Qt::Key_Delete, Qt::Key_Return, Qt::Key_Tab,      Qt::Key_Left,
                        Qt::Key_Right,  Qt::Key_Up,     Qt::Key_Down,     Qt::Key_Home,
                        Qt::Key_End,    Qt::Key_PageUp, Qt::Key_PageDown, Qt::Key_Insert,
                        Qt::Key_Escape, Qt::Key_F5,     Qt::Key_Shift,    Qt::Key_Control,
                        Qt::Key_Alt,    Qt::Key_Space};
    // Each key its own code: the other side tells them apart.
    std::set<std::uint16_t> codes;
    for (const int key : keys) {
        const auto code = virtualKeyFromQtKey(key);
        ASSERT_TRUE(code) << key;
        codes.insert(*code);
    }
    EXPECT_EQ(codes.size(), std::size(keys));
}

}  // namespace
}  // namespace velmora
