#include "protocol/ChatLine.h"

#include "protocol/PeerMessages.h"
#include "session/Windows1252.h"

namespace velmora {

namespace {

constexpr std::uint8_t kKeyStrokeCharOnly = 0;  // KeyCode of a typed character

}  // namespace

QString formatChatLine(const QString& senderName, const QString& text) {
    return senderName + QStringLiteral(">    ") + text;
}

QString textAsSent(const QString& text, bool utf8) {
    return utf8 ? text : fromWindows1252(toWindows1252(text));
}

QByteArray buildChatMessage(const QString& line, bool utf8) {
    return utf8 ? buildUtf8TextMessage({line.toUtf8()})
                : buildTextMessage(TextMessage{toWindows1252(line)});
}

QList<QByteArray> buildTypedMessages(const QString& text, std::uint16_t caret, bool utf8) {
    if (utf8) {
        return {buildTypedText({caret, text.toUtf8()})};
    }
    QList<QByteArray> messages;
    for (const char byte : toWindows1252(text)) {
        messages.append(
            buildKeyStroke({kKeyStrokeCharOnly, static_cast<std::uint8_t>(byte), caret++}));
    }
    return messages;
}

}  // namespace velmora
