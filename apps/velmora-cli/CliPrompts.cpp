#include "apps/velmora-cli/CliPrompts.h"

#include <QCoreApplication>
#include <QMetaObject>

namespace velmora {

void CliPrompts::askSerialSettings(const QList<SerialPortChoice>&, const SerialSettings&,
                                   PromptReply<SerialSettings> reply) {
    reply(std::nullopt);  // a cancel: the command line left the port out
}

void CliPrompts::showSerialError(const QString& message) {
    m_errorShown = true;
    m_err << message << Qt::endl;
}

void CliPrompts::askModem(const QStringList&, const ModemChoice&, bool,
                          PromptReply<ModemChoice> reply) {
    reply(std::nullopt);  // a cancel: the command line left the modem or the number out
}

void CliPrompts::showModemError(const QString& message) {
    m_errorShown = true;
    m_err << message << Qt::endl;
}

void CliPrompts::askPassphrase(const QString&, PromptReply<QString> reply) {
    reply(std::nullopt);  // a cancel: velmora-cli reads the passphrase before it starts
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
