#include "protocol/ChatLine.h"

#include "protocol/PeerMessages.h"
#include "session/Windows1252.h"

namespace velmora {

QString formatChatLine(const QString& senderName, const QByteArray& text) {
    return senderName + QStringLiteral(">    ") + fromWindows1252(text);
}

QByteArray buildChatMessage(const QString& line) {
    return buildTextMessage(TextMessage{toWindows1252(line)});
}

}  // namespace velmora
