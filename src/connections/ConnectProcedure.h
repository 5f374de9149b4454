#pragma once

#include "base/ProgramTexts.h"

#include <QString>

#include <functional>

namespace velmora {

class TCustomDXPlay;

// What the user chose for one connect, with the names already worked out.
struct ConnectRequest {
    bool nullModem = false;  // else the modem
    bool calling = false;    // else waiting for the call (hosting)
    QString sessionName;     // the session to host
    QString playerName;
    bool otherModem = false;  // "Other modem...": the provider asks for modem and number itself
    QString modemName;
    QString phoneNumber;  // the number to call
    int retries = 20;     // further searches of a modem call while nothing is found
};

// What the connect steps need from the window around them.
struct ConnectHooks {
    std::function<void(const QString& text)> showMessage;
    // The standard display of the session component's errors.
    std::function<void(const QString& text)> showError;
    std::function<void(bool busy)> setBusyCursor;
    // Waits the given milliseconds between two searches.
    std::function<void(int milliseconds)> wait;
    // Whether the user ended the attempt (Esc, Cancel): the steps stop silently, as after a
    // cancelled prompt of the service provider. Never when not given.
    std::function<bool()> cancelled;
};

inline const QString DefaultSessionName = QStringLiteral("VelmoraSession");
inline const QString OtherModemEntry = QStringLiteral("Other modem...");
inline const QString LineBusyMessage = QStringLiteral("Line is busy!");
inline const QString NoSessionsMessage = texts::NoSessionsFound;
inline const QString OtherVersionMessage = QStringLiteral(
    "The other computer runs another version of Velmora: both sides need the same version of "
    "Velmora.");

// The player name: the UserName option, else the login name (at most 256 characters).
QString playerNameFor(const QString& userNameOption, const QString& loginName);
// The session to host: the typed name unless it is empty.
QString sessionNameFor(const QString& typed);
// The file sender's block-size code: 5 over a cable, else the Speed option kept within 2..4.
int blockSizeCodeFor(bool nullModem, int speedOption);

// Configures the session component for the request and hosts a session, or searches for the
// session of the other computer and joins the first one found. Expected failures are shown as
// messages, the component's errors through the error display, a cancel in a prompt of the
// service provider, or the user's cancel of the attempt, ends silently. A side of another
// version is reported as such. True when a session was opened.
bool runConnect(TCustomDXPlay& play, const ConnectRequest& request, const ConnectHooks& hooks);

}  // namespace velmora
