#include "CliProcess.h"

#include <QProcessEnvironment>
#include <QRandomGenerator>
#include <QTcpServer>

#include <gtest/gtest.h>

namespace velmora::test {

QByteArray randomBytes(int size, quint32 seed) {
    QRandomGenerator random(seed);
    QByteArray bytes(size, '\0');
    for (char& byte : bytes) {
        byte = static_cast<char>(random.generate());
    }
    return bytes;
}

quint16 freeLoopbackPort() {
    QTcpServer probe;
    EXPECT_TRUE(probe.listen(QHostAddress::LocalHost, 0));
    return probe.serverPort();
}

CliProcess::CliProcess(const QString& dataFolder, const QStringList& arguments,
                       const QMap<QString, QString>& extra) {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("VELMORA_HOME", dataFolder);
    environment.remove("VELMORA_PASSPHRASE");
    for (auto it = extra.begin(); it != extra.end(); ++it) {
        environment.insert(it.key(), it.value());
    }
    m_process.setProcessEnvironment(environment);
    m_process.setProcessChannelMode(QProcess::SeparateChannels);
    m_process.start(QStringLiteral(VELMORA_CLI_PATH), arguments);
    m_process.waitForStarted();
}

CliProcess::~CliProcess() {
    if (m_process.state() != QProcess::NotRunning) {
        m_process.kill();
        m_process.waitForFinished();
    }
}

void CliProcess::type(const QByteArray& text) {
    m_process.write(text);
    m_process.waitForBytesWritten();
}

int CliProcess::exitCode(int timeoutMs) {
    // A process whose end the event loop has already seen is not waited for again.
    if (m_process.state() != QProcess::NotRunning && !m_process.waitForFinished(timeoutMs)) {
        m_process.kill();
        m_process.waitForFinished();
        return -1;
    }
    return m_process.exitStatus() == QProcess::NormalExit ? m_process.exitCode() : -2;
}

QString CliProcess::output() {
    m_output += m_process.readAllStandardOutput();
    return QString::fromUtf8(m_output);
}

QString CliProcess::errors() {
    m_errors += m_process.readAllStandardError();
    return QString::fromUtf8(m_errors);
}

bool CliProcess::prints(const QString& text, int limitMs) {
    return pumpUntil([&] { return output().contains(text); }, limitMs);
}

bool CliProcess::warns(const QString& text, int limitMs) {
    return pumpUntil([&] { return errors().contains(text); }, limitMs);
}

QStringList CliProcess::linesAfter(const QString& prefix) {
    QStringList found;
    for (const QString& line : output().split('\n')) {
        if (line.startsWith(prefix)) {
            found.append(line.mid(prefix.size()));
        }
    }
    return found;
}

}  // namespace velmora::test
