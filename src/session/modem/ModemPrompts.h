#pragma once

#include "session/PromptReply.h"

#include <QString>
#include <QStringList>

#include <optional>

namespace velmora {

// The modem and the number of one call; the modem is one of the offered names or a device path.
struct ModemChoice {
    QString modem;
    QString phone;

    friend bool operator==(const ModemChoice&, const ModemChoice&) = default;
};

// What the modem provider asks the user. The application shows dialogs; tests answer in code.
class ModemPrompts {
public:
    virtual ~ModemPrompts() = default;

    // Asks for the modem (one of `modems`, or a device path typed by hand) and, when `needPhone`,
    // the number to dial, preset with `last`, on the UI thread; the answer goes to `reply`.
    virtual void askModem(const QStringList& modems, const ModemChoice& last, bool needPhone,
                          PromptReply<ModemChoice> reply) = 0;
    // Tells the user why the modem cannot be used, without waiting for the user.
    virtual void showModemError(const QString& message) = 0;
};

}  // namespace velmora
