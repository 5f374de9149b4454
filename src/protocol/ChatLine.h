#pragma once

#include <QByteArray>
#include <QString>

namespace velmora {

// The conversation line of a received chat text: the sender's name, ">", four spaces, the text.
QString formatChatLine(const QString& senderName, const QByteArray& text);

// The text message of a typed line, its text converted to the wire's code page.
QByteArray buildChatMessage(const QString& line);

}  // namespace velmora
