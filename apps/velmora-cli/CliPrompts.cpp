#include "apps/velmora-cli/CliPrompts.h"

#include <QCoreApplication>
#include <QMetaObject>

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

std::optional<QString> CliPrompts::askPassphrase(const QString&) {
    return std::nullopt;  // a cancel: velmora-cli reads the passphrase before it starts
}

void CliPrompts::showNetworkError(const QString& message) {
    m_errorShown = true;
    m_err << message << Qt::endl;
}

void CliPrompts::callerRefused(const QString& message) {
    // From the host line's thread: printed on the main thread, between the other lines.
    QTextStream* err = &m_err;
    QMetaObject::invokeMethod(
        QCoreApplication::instance(), [err, message] { *err << message << Qt::endl; },
        Qt::QueuedConnection);
}

}  // namespace velmora
