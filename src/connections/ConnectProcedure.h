#pragma once

#include "base/ProgramTexts.h"
#include "peer/ConnectMachine.h"

#include <QString>

namespace velmora {

inline const QString DefaultSessionName = QStringLiteral("VelmoraSession");
inline const QString OtherModemEntry = QStringLiteral("Other modem...");
inline const QString LineBusyMessage = QStringLiteral("Line is busy!");
inline const QString NoSessionsMessage = texts::NoSessionsFound;
inline const QString OtherVersionMessage = QStringLiteral(
    "The other computer runs another version of Velmora: both sides need the same version of "
    "Velmora.");
inline const QString AttemptCancelledMessage = QStringLiteral("Connection attempt cancelled.");
// Further searches of a modem call while nothing is found.
inline constexpr int ModemCallRetries = 20;
// The port a network line offers until the user types another.
inline constexpr int DefaultNetworkPort = 5700;

// The player name: the UserName option, else the login name (at most 256 characters).
QString playerNameFor(const QString& userNameOption, const QString& loginName);
// The session to host: the typed name unless it is empty.
QString sessionNameFor(const QString& typed);
// The file sender's block-size code: 5 over a cable, else the Speed option kept within 2..4.
int blockSizeCodeFor(bool nullModem, int speedOption);

// What the window shows while an attempt is at this step ("Opening port...").
QString connectStepText(ConnectStep step, const ConnectRequest& request);
// The message box for an attempt that ended without a session; empty when nothing is to be
// shown (connected, or cancelled: the user knows).
QString connectFailureText(const ConnectResult& result, const ConnectRequest& request);

}  // namespace velmora
