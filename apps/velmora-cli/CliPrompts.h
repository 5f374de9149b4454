#pragma once

#include "session/link/SerialPrompts.h"
#include "session/modem/ModemPrompts.h"
#include "session/net/NetworkPrompts.h"

#include <QTextStream>

namespace velmora {

// What the serial, modem and network providers would ask in a dialog. velmora-cli names the port,
// the modem (and the number) or the address on its command line and reads the passphrase before
// it starts, so nothing is ever asked; why a port, a modem or an address cannot be used, and why
// a caller was turned away, is printed on the error stream.
class CliPrompts : public SerialPrompts, public ModemPrompts, public NetworkPrompts {
public:
    explicit CliPrompts(QTextStream& err) : m_err(err) {}

    void askSerialSettings(const QList<SerialPortChoice>& ports, const SerialSettings& last,
                           PromptReply<SerialSettings> reply) override;
    void showSerialError(const QString& message) override;
    void askModem(const QStringList& modems, const ModemChoice& last, bool needPhone,
                  PromptReply<ModemChoice> reply) override;
    void showModemError(const QString& message) override;
    void askPassphrase(const QString& where, PromptReply<QString> reply) override;
    void showNetworkError(const QString& message) override;
    void callerRefused(const QString& message) override;

    // Whether a provider has said why its port, modem or address cannot be used.
    bool errorShown() const { return m_errorShown; }

private:
    QTextStream& m_err;
    bool m_errorShown = false;
};

}  // namespace velmora
