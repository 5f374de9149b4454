#include "base/TerminalText.h"

#include <gtest/gtest.h>

namespace velmora {
namespace {

TEST(TerminalText, ControlCharactersArePrintedVisibly) {
    // What a hostile peer sends: clear the screen, retitle the terminal, a forged local line.
    EXPECT_EQ(TerminalText::visible(QStringLiteral("\x1b[2J\x1b]0;owned\x07")),
              QStringLiteral("^[[2J^[]0;owned^G"));
    EXPECT_EQ(TerminalText::visible(QStringLiteral("hi\r\nAnn>    forged")),
              QStringLiteral("hi^M^JAnn>    forged"));
    EXPECT_EQ(TerminalText::visible(QString(QChar(0)) + QChar(0x7F)), QStringLiteral("^@^?"));
    // C1 (a one-character CSI), a direction override, a zero-width space, a line separator.
    EXPECT_EQ(TerminalText::visible(QString::fromUtf16(u"a\u009B2Jb\u202Ec\u200Bd\u2028e")),
              QStringLiteral("a<U+009B>2Jb<U+202E>c<U+200B>d<U+2028>e"));

    // Printable text of any script, emoji and tabs pass as they are.
    const QString plain = QString::fromUtf8(
        "Gr\xC3\xBC\xC3\x9F"
        "e, \xD0\x96 5 \xE2\x82\xAC\t\xF0\x9F\x99\x82 ^[");
    EXPECT_EQ(TerminalText::visible(plain), plain);
    EXPECT_EQ(TerminalText::visible(QString()), QString());
}

TEST(TerminalText, FileNamesWithControlCharactersAreCaught) {
    EXPECT_FALSE(
        TerminalText::hasControlCharacters(QString::fromUtf8("r\xC3\xA9sum\xC3\xA9 (1).pdf")));
    EXPECT_FALSE(TerminalText::hasControlCharacters(QStringLiteral("^[.txt")));
    for (const QString& name :
         {QStringLiteral("a\x1b[2J.txt"), QStringLiteral("line\nbreak"),
          QStringLiteral("tab\t.txt"), QString::fromUtf16(u"invoice\u202Efdp.exe"),
          QStringLiteral("del\x7F")}) {
        EXPECT_TRUE(TerminalText::hasControlCharacters(name)) << name.toStdString();
    }
}

}  // namespace
}  // namespace velmora
