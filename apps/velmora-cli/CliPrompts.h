#pragma once

#include "session/link/SerialPrompts.h"
#include "session/modem/ModemPrompts.h"

#include <QTextStream>

namespace velmora {

// What the serial and modem providers would ask in a dialog. velmora-cli names the port or the
// modem (and the number) on its command line, so nothing is ever asked; why a port or a modem
// cannot be used is printed on the error stream.
class CliPrompts : public SerialPrompts, public ModemPrompts {
public:
    explicit CliPrompts(QTextStream& err) : m_err(err) {}

    std::optional<SerialSettings> askSerialSettings(const QList<SerialPortChoice>& ports,
                                                    const SerialSettings& last) override;
    void showSerialError(const QString& message) override;
    std::optional<ModemChoice> askModem(const QStringList& modems, const ModemChoice& last,
                                        bool needPhone) override;
    void showModemError(const QString& message) override;

    // Whether a provider has said why its port or modem cannot be used.
    bool errorShown() const { return m_errorShown; }

private:
    QTextStream& m_err;
    bool m_errorShown = false;
};

}  // namespace velmora
