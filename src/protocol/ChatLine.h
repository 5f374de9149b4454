#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <cstdint>

namespace velmora {

// The conversation line of a received chat text: the sender's name, ">", four spaces, the text.
QString formatChatLine(const QString& senderName, const QString& text);

// The text as the other side gets it: unchanged in UTF-8, else with every character outside
// Windows-1252 replaced by '?'.
QString textAsSent(const QString& text, bool utf8);

// The chat message of a typed line: a Utf8TextMessage to a peer that speaks UTF-8, else a
// TextMessage in Windows-1252.
QByteArray buildChatMessage(const QString& line, bool utf8);

// The messages of characters one key typed in classic mode: one TypedText to a peer that speaks
// UTF-8, else one KeyStroke with KeyCode 0 for each Windows-1252 byte, the caret counting on.
QList<QByteArray> buildTypedMessages(const QString& text, std::uint16_t caret, bool utf8);

}  // namespace velmora
