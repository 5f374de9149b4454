#pragma once

// A small reader of the RTF subset a conversation export uses, independent of the writer: it
// gives back the text (paragraphs as lines) so tests can compare it with the view.

#include "session/Windows1252.h"

#include <QByteArray>
#include <QString>

namespace velmora::test {

inline QString readRtfText(const QByteArray& rtf) {
    QString text;
    int depth = 0;
    int skipDepth = -1;  // inside a destination group such as the font table
    int skipChars = 0;   // fallback characters after a \uN
    for (qsizetype i = 0; i < rtf.size(); ++i) {
        const char c = rtf[i];
        if (c == '{') {
            ++depth;
            continue;
        }
        if (c == '}') {
            if (depth == skipDepth) {
                skipDepth = -1;
            }
            --depth;
            continue;
        }
        if (c == '\r' || c == '\n') {
            continue;
        }
        const bool skipping = skipDepth >= 0;
        if (c != '\\') {
            if (skipChars > 0) {
                --skipChars;
            } else if (!skipping) {
                text += QChar(c);
            }
            continue;
        }
        const char next = i + 1 < rtf.size() ? rtf[i + 1] : '\0';
        if (next == '\\' || next == '{' || next == '}') {
            if (!skipping) {
                text += QChar(next);
            }
            ++i;
            continue;
        }
        if (next == '\'') {
            const QByteArray byte = QByteArray::fromHex(rtf.mid(i + 2, 2));
            if (!skipping) {
                text += fromWindows1252(byte);
            }
            i += 3;
            continue;
        }
        qsizetype end = i + 1;
        while (end < rtf.size() && std::isalpha(static_cast<unsigned char>(rtf[end]))) {
            ++end;
        }
        const QByteArray word = rtf.mid(i + 1, end - i - 1);
        qsizetype numberEnd = end;
        if (numberEnd < rtf.size() && (rtf[numberEnd] == '-' || std::isdigit(rtf[numberEnd]))) {
            ++numberEnd;
            while (numberEnd < rtf.size() &&
                   std::isdigit(static_cast<unsigned char>(rtf[numberEnd]))) {
                ++numberEnd;
            }
        }
        const int number = rtf.mid(end, numberEnd - end).toInt();
        i = numberEnd < rtf.size() && rtf[numberEnd] == ' ' ? numberEnd : numberEnd - 1;
        if (word == "fonttbl") {
            skipDepth = depth;
        } else if (skipping) {
        } else if (word == "par") {
            text += QChar('\n');
        } else if (word == "tab") {
            text += QChar('\t');
        } else if (word == "u") {
            text += QChar(static_cast<char16_t>(static_cast<std::int16_t>(number)));
            skipChars = 1;
        }
    }
    return text;
}

}  // namespace velmora::test
