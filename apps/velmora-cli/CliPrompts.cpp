#include "apps/velmora-cli/CliPrompts.h"

namespace velmora {

std::optional<SerialSettings> CliPrompts::askSerialSettings(const QList<SerialPortChoice>&,
                                                            const SerialSettings&) {
    return std::nullopt;  // a cancel: the command line left the port out
}

void CliPrompts::showSerialError(const QString& message) {
    m_errorShown = true;
    m_err << message << Qt::endl;
}

std::optional<ModemChoice> CliPrompts::askModem(const QStringList&, const ModemChoice&, bool) {
    return std::nullopt;  // a cancel: the command line left the modem or the number out
}

void CliPrompts::showModemError(const QString& message) {
    m_errorShown = true;
    m_err << message << Qt::endl;
}

}  // namespace velmora
