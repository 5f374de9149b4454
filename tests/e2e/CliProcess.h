#pragma once

// velmora-cli processes for the end-to-end tests, and the files they send and receive.

#include "support/TestEnvironment.h"

#include <QByteArray>
#include <QMap>
#include <QProcess>
#include <QString>
#include <QStringList>

namespace velmora::test {

QByteArray randomBytes(int size, quint32 seed);

// A loopback TCP port nobody listens on now.
quint16 freeLoopbackPort();

// A velmora-cli process with its own data folder. It is killed when the object goes while it
// still runs.
class CliProcess {
public:
    // `environment` is added to this process's own (VELMORA_PASSPHRASE is never inherited).
    CliProcess(const QString& dataFolder, const QStringList& arguments,
               const QMap<QString, QString>& environment = {});
    ~CliProcess();

    CliProcess(const CliProcess&) = delete;
    CliProcess& operator=(const CliProcess&) = delete;

    // Types on its standard input.
    void type(const QByteArray& text);
    // Sends it SIGTERM, as a user's kill or the end of a session would.
    void terminate() { m_process.terminate(); }
    // Whether it has ended, as far as the event loop has seen.
    bool finished() const { return m_process.state() == QProcess::NotRunning; }
    // Waits for the exit and gives its code; -1 when it did not end in time, -2 when it crashed.
    int exitCode(int timeoutMs = 120000);
    // Everything it has printed so far on standard output and on standard error.
    QString output();
    QString errors();
    // Runs the event loop until standard output (or standard error) holds `text`; false when it
    // did not within the limit.
    bool prints(const QString& text, int limitMs = 60000);
    bool warns(const QString& text, int limitMs = 60000);
    // The lines of standard output that begin with `prefix`, without it.
    QStringList linesAfter(const QString& prefix);

private:
    QProcess m_process;
    QByteArray m_output;
    QByteArray m_errors;
};

}  // namespace velmora::test
