#include "base/TerminalText.h"

#include <QChar>
#include <QList>

#include <algorithm>

namespace velmora::TerminalText {

namespace {

constexpr char32_t Delete = 0x7F;
constexpr char32_t Tab = u'\t';

bool isHidden(char32_t codePoint) {
    if (codePoint < 0x20 || codePoint == Delete) {
        return true;
    }
    switch (QChar::category(codePoint)) {
        case QChar::Other_Control:  // C1
        case QChar::Other_Format:   // direction marks and overrides, zero-width characters
        case QChar::Separator_Line:
        case QChar::Separator_Paragraph:
            return true;
        default:
            return false;
    }
}

QString shown(char32_t codePoint) {
    if (codePoint < 0x20 || codePoint == Delete) {
        // Caret notation: the character 64 places up, DEL as "?".
        return QStringLiteral("^") + QChar(static_cast<char16_t>(codePoint ^ 0x40));
    }
    return QStringLiteral("<U+%1>").arg(static_cast<uint>(codePoint), 4, 16, QChar(u'0')).toUpper();
}

}  // namespace

QString visible(const QString& text) {
    QString result;
    result.reserve(text.size());
    for (const char32_t codePoint : text.toUcs4()) {
        if (codePoint != Tab && isHidden(codePoint)) {
            result += shown(codePoint);
        } else {
            result += QString::fromUcs4(&codePoint, 1);
        }
    }
    return result;
}

bool hasControlCharacters(const QString& fileName) {
    const QList<uint> codePoints = fileName.toUcs4();
    return std::any_of(codePoints.begin(), codePoints.end(),
                       [](uint codePoint) { return isHidden(codePoint); });
}

}  // namespace velmora::TerminalText
