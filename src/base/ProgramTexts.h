#pragma once

#include <QString>

namespace velmora::texts {

// Texts the program shows in more than one place, written once.

// The message field's prompts.
inline const QString ConnectPrompt =
    QStringLiteral("Please, connect before sending messages or files.");
inline const QString TypePrompt =
    QStringLiteral("Type your message here and press Enter to send it.");

// The connection's state, in the status bar and in the conversation.
inline const QString NotConnected = QStringLiteral("Not connected");
inline const QString WaitingForRemoteUser = QStringLiteral("Waiting for remote user...");
inline const QString ConnectionLost = QStringLiteral("Connection lost!");
// A lost line that is tried again (%1: the time, HH:MM:SS).
inline const QString LineLost = QStringLiteral("Line lost at %1, trying to get it back...");
// The line back at the time (HH:MM:SS), and how many transfers go on.
inline QString lineBack(const QString& time, int transfers) {
    const QString back = QStringLiteral("Line back at %1").arg(time);
    if (transfers == 0) {
        return back;
    }
    return back + (transfers == 1 ? QStringLiteral("; 1 transfer continues")
                                  : QStringLiteral("; %1 transfers continue").arg(transfers));
}
inline const QString NoSessionsFound = QStringLiteral("No sessions were found on remote computer!");

// Sending a message or a file with no session open.
inline const QString NotConnectedMessage = QStringLiteral(
    "Sorry, but we haven't connected anywere yet. Please, create connection before sending files "
    "or messages.");

// Once per connection, when a chat line or a typed key held characters that an older Velmora on
// the other side cannot show.
inline const QString CharactersNotSent = QStringLiteral(
    "Some characters could not be sent: the other computer runs an older Velmora, which shows "
    "them as \"?\".");

}  // namespace velmora::texts
