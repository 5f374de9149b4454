// A serial port exported by ser2net (raw TCP and RFC 2217): velmora-cli on the network side, and
// another on the cable's other end. Skipped where ser2net is not installed (scripts/setup
// installs it).

#include "CliProcess.h"
#include "cable/NullModemCable.h"
#include "support/TestCable.h"
#include "support/TestEnvironment.h"

#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTcpSocket>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

namespace velmora::test {
namespace {

// ser2net exporting one device on two loopback ports: raw TCP and RFC 2217 (telnet). The
// device starts at 9600 baud, so that a speed set by RFC 2217 shows.
class Ser2Net {
public:
    Ser2Net(const QString& device) : raw(freeLoopbackPort()), telnet(freeLoopbackPort()) {
        const QString ser2net = QStandardPaths::findExecutable("ser2net");
        if (ser2net.isEmpty()) {
            return;
        }
        const QStringList yaml = {
            "connection: &raw",
            QStringLiteral("  accepter: tcp,127.0.0.1,%1").arg(raw),
            QStringLiteral("  connector: serialdev,%1,9600n81,local").arg(device),
            "connection: &telnet",
            QStringLiteral("  accepter: telnet(rfc2217),tcp,127.0.0.1,%1").arg(telnet),
            QStringLiteral("  connector: serialdev,%1,9600n81,local").arg(device),
        };
        QStringList arguments = {"-n", "-d", "-u"};
        for (const QString& line : yaml) {
            arguments << "-Y" << line;
        }
        m_process.setProcessChannelMode(QProcess::MergedChannels);
        m_process.start(ser2net, arguments);
        m_started = m_process.waitForStarted() && waitForPort(raw) && waitForPort(telnet);
    }
    ~Ser2Net() {
        m_process.kill();
        m_process.waitForFinished();
    }
    bool started() const { return m_started; }
    QString log() { return QString::fromUtf8(m_process.readAll()); }

    const quint16 raw;
    const quint16 telnet;

private:
    static bool waitForPort(quint16 port) {
        return pumpUntil(
            [port] {
                QTcpSocket probe;
                probe.connectToHost(QHostAddress::LocalHost, port);
                const bool up = probe.waitForConnected(200);
                probe.abort();
                return up;
            },
            10000);
    }

    QProcess m_process;
    bool m_started = false;
};

speed_t speedOf(const QString& device) {
    const int fd = ::open(QFile::encodeName(device).constData(), O_RDONLY | O_NOCTTY | O_NONBLOCK);
    termios settings{};
    const bool read = fd >= 0 && tcgetattr(fd, &settings) == 0;
    if (fd >= 0) {
        ::close(fd);
    }
    return read ? cfgetospeed(&settings) : B0;
}

struct TerminalServer : ::testing::Test {
    void SetUp() override {
        if (QStandardPaths::findExecutable("ser2net").isEmpty()) {
            GTEST_SKIP() << "ser2net is not installed";
        }
    }
};

TEST_F(TerminalServer, RawTcpCarriesChatAndFilesToTheCablesOtherEnd) {
    NullModemCable cable(cableIn("cable", 230400));
    Ser2Net server(QFileInfo(linkPath(cable.linkA())).canonicalFilePath());
    ASSERT_TRUE(server.started()) << server.log().toStdString();

    const QString sendFolder = makeTempFolder("send");
    const QString joinIn = makeTempFolder("join-in");
    const QByteArray file = randomBytes(60000, 21);
    ASSERT_TRUE(writeFile(sendFolder + "/over.bin", file));
    CliProcess host(
        makeTempFolder("host-data"),
        {"host", "--serial", QStringLiteral("tcp://127.0.0.1:%1").arg(server.raw), "--baud",
         "230400", "--name", "Ann", "--exit-when-done", "send", sendFolder + "/over.bin"});
    ASSERT_TRUE(host.prints("Waiting for remote user")) << host.errors().toStdString();
    CliProcess join(makeTempFolder("join-data"),
                    {"join", "--serial", linkPath(cable.linkB()), "--baud", "230400", "--name",
                     "Bob", "--incoming", joinIn, "--exit-when-done"});
    join.type("hello through the terminal server\n");
    EXPECT_EQ(join.exitCode(), 0) << join.errors().toStdString();
    EXPECT_EQ(host.exitCode(), 0) << host.errors().toStdString() << host.output().toStdString();
    EXPECT_EQ(readFile(joinIn + "/over.bin"), file);
    EXPECT_TRUE(host.output().contains("Bob>    hello through the terminal server"))
        << host.output().toStdString();
}

TEST_F(TerminalServer, Rfc2217SetsTheRemotePortsSpeedAndCarriesTheLink) {
    NullModemCable cable(cableIn("cable", 115200));
    const QString device = QFileInfo(linkPath(cable.linkA())).canonicalFilePath();
    Ser2Net server(device);
    ASSERT_TRUE(server.started()) << server.log().toStdString();

    // The cable's end joins first and waits; the network side calls through the server.
    CliProcess host(makeTempFolder("host-data"), {"host", "--serial", linkPath(cable.linkB()),
                                                  "--baud", "115200", "--name", "Ann"});
    ASSERT_TRUE(host.prints("Waiting for remote user")) << host.errors().toStdString();
    CliProcess join(
        makeTempFolder("join-data"),
        {"join", "--serial", QStringLiteral("rfc2217://127.0.0.1:%1").arg(server.telnet), "--baud",
         "115200", "--name", "Bob"});
    ASSERT_TRUE(join.prints("Connected with Ann.")) << join.errors().toStdString();
    EXPECT_EQ(speedOf(device), B115200) << "ser2net opened it at 9600 baud";
    join.type("a line \xff with the telnet escape\n");
    EXPECT_TRUE(host.prints("Bob>    a line")) << host.output().toStdString();
    host.type("and back\n");
    EXPECT_TRUE(join.prints("Ann>    and back")) << join.output().toStdString();
    join.terminate();
    EXPECT_EQ(join.exitCode(), 0) << join.errors().toStdString();
    host.terminate();
    EXPECT_EQ(host.exitCode(), 0);
}

}  // namespace
}  // namespace velmora::test
