#include "conversation/RtfWriter.h"

#include "session/Windows1252.h"

#include <QStringList>

namespace velmora {

namespace {

void appendCharacter(QByteArray& rtf, QChar character) {
    const char16_t unit = character.unicode();
    if (unit == '\\' || unit == '{' || unit == '}') {
        rtf.append('\\').append(static_cast<char>(unit));
    } else if (unit == '\t') {
        rtf.append("\\tab ");
    } else if (unit >= 0x20 && unit < 0x80) {
        rtf.append(static_cast<char>(unit));
    } else if (unit < 0x20) {
        // Other control characters have no place in a text line.
    } else if (const QByteArray byte = toWindows1252(QString(character)); byte != "?") {
        rtf.append("\\'" + QByteArray::number(static_cast<unsigned char>(byte[0]), 16));
    } else {
        // \uN takes a signed 16-bit number; surrogate pairs are written unit by unit.
        rtf.append("\\u" + QByteArray::number(static_cast<std::int16_t>(unit)) + '?');
    }
}

}  // namespace

QByteArray plainTextToRtf(const QString& text) {
    QByteArray rtf = QByteArrayLiteral(
        "{\\rtf1\\ansi\\ansicpg1252\\deff0{\\fonttbl{\\f0\\fswiss MS Sans Serif;}}\r\n"
        "\\viewkind4\\uc1\\pard\\f0\\fs16 ");
    const QStringList lines = text.split(QLatin1Char('\n'));
    for (qsizetype i = 0; i < lines.size(); ++i) {
        for (const QChar character : lines[i]) {
            appendCharacter(rtf, character);
        }
        if (i + 1 < lines.size()) {
            rtf.append("\\par\r\n");
        }
    }
    rtf.append("\\par\r\n}\r\n");
    return rtf;
}

}  // namespace velmora
