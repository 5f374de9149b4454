#pragma once

#include "session/PromptReply.h"
#include "session/link/SerialSettings.h"

#include <QList>
#include <QString>

#include <optional>

namespace velmora {

// A port the system lists.
struct SerialPortChoice {
    QString name;         // "ttyUSB0"
    QString description;  // "USB-Serial Controller", may be empty

    friend bool operator==(const SerialPortChoice&, const SerialPortChoice&) = default;
};

// What the serial provider asks the user. The application shows dialogs; tests answer in code.
class SerialPrompts {
public:
    virtual ~SerialPrompts() = default;

    // Asks for the port (one of `ports`, or any device path typed by hand), the baud rate and
    // the flow control, preset with `last`, on the UI thread; the answer goes to `reply`.
    virtual void askSerialSettings(const QList<SerialPortChoice>& ports, const SerialSettings& last,
                                   PromptReply<SerialSettings> reply) = 0;
    // Tells the user why the port cannot be used, without waiting for the user.
    virtual void showSerialError(const QString& message) = 0;
};

}  // namespace velmora
