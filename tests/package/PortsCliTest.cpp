// velmora-cli and its serial ports: the list, and the words when a port cannot be opened, with
// pseudo-terminals whose group and mode the tests set and programs that the tests make hold them.

#include "CliProcess.h"
#include "PortTerminal.h"

#include "session/link/SerialPortOpener.h"

#include "support/TestEnvironment.h"

#include <QFile>
#include <QProcess>
#include <QSerialPort>
#include <QStandardPaths>

#include <unistd.h>

#include <gtest/gtest.h>

namespace velmora {
namespace {

constexpr unsigned kDialout = 20;

// velmora-cli run as the user nobody, with no groups, as a user not in dialout would run it.
struct AsNobody {
    explicit AsNobody(const QStringList& arguments) {
        process.start("setpriv", QStringList{"--reuid=nobody", "--regid=nogroup", "--clear-groups",
                                             VELMORA_CLI_PATH} +
                                     arguments);
        process.waitForFinished(60000);
    }
    QString output() { return QString::fromUtf8(process.readAllStandardOutput()); }
    QString errors() { return QString::fromUtf8(process.readAllStandardError()); }
    QProcess process;
};

bool mayRunAsNobody() {
    return ::geteuid() == 0 && !QStandardPaths::findExecutable("setpriv").isEmpty();
}

TEST(PortsCli, TellsAUserOutsideTheGroupWhichCommandLetsHimIn) {
    if (!mayRunAsNobody()) {
        GTEST_SKIP() << "needs the superuser and setpriv to run velmora-cli as another user";
    }
    const test::PortTerminal terminal;
    ASSERT_TRUE(terminal.setGroupAndMode(kDialout, 0660));
    const QString notInGroup = QString("you (nobody) are not in the group dialout, which owns it");
    const QString fix = "sudo adduser nobody dialout, then log out and in again";

    AsNobody join({"join", "--serial", terminal.path()});
    EXPECT_EQ(join.process.exitCode(), 3);
    EXPECT_EQ(join.errors().trimmed(),
              QString("The serial port %1 cannot be opened: %2. To fix it: %3")
                  .arg(terminal.path(), notInGroup, fix));

    AsNobody ports({"ports", terminal.path()});
    EXPECT_EQ(ports.process.exitCode(), 0);
    EXPECT_EQ(ports.output(), QString("%1  pseudo-terminal\n    you may not open it: %2\n"
                                      "    to fix it: %3\n")
                                  .arg(terminal.path(), notInGroup, fix));

    // The same port as the superuser, and one that is gone.
    const QString data = test::makeTempFolder("ports-data");
    test::CliProcess asRoot(data, {"ports", terminal.path(), "/dev/velmora-gone"});
    EXPECT_EQ(asRoot.exitCode(), 0);
    EXPECT_EQ(asRoot.output(), QString("%1  pseudo-terminal\n    you may open it\n"
                                       "/dev/velmora-gone\n"
                                       "    it does not exist (is the adapter plugged in?)\n")
                                   .arg(terminal.path()));
}

TEST(PortsCli, NamesTheProgramThatHoldsThePort) {
    const test::PortTerminal terminal;
    ASSERT_FALSE(terminal.path().isEmpty());
    const QString data = test::makeTempFolder("held-data");

    // A program called ModemManager (a copy of sleep) with the port as its input.
    const QString modemManager = test::makeTempFolder("fake-mm") + "/ModemManager";
    ASSERT_TRUE(QFile::copy(QStandardPaths::findExecutable("sleep"), modemManager));
    QProcess holder;
    holder.setStandardInputFile(terminal.path());
    holder.start(modemManager, {"60"});
    ASSERT_TRUE(holder.waitForStarted());
    test::CliProcess ports(data, {"ports", terminal.path()});
    EXPECT_EQ(ports.exitCode(), 0);
    EXPECT_EQ(ports.output(),
              QString("%1  pseudo-terminal\n"
                      "    in use: ModemManager has it open (it probes serial ports for "
                      "mobile-broadband modems)\n"
                      "    to fix it: sudo systemctl disable --now ModemManager\n")
                  .arg(terminal.path()));
    holder.kill();
    holder.waitForFinished();

    // This test holds the port the way a serial program does: the join is refused, by name.
    SerialSettings settings;
    settings.portName = terminal.path();
    QString error;
    const auto port = openSerialPort(settings, error);
    ASSERT_NE(port, nullptr) << error.toStdString();
    test::CliProcess join(data, {"join", "--serial", terminal.path(), "--wait", "1"});
    EXPECT_EQ(join.exitCode(), 5);
    QFile comm("/proc/self/comm");
    ASSERT_TRUE(comm.open(QIODevice::ReadOnly));
    const QString self = QString::fromUtf8(comm.readAll()).trimmed();
    EXPECT_TRUE(join.errors().contains(
        QString("The serial port %1 is in use by another program: %2 (process %3) has it open. "
                "To fix it: quit %2, or end it with: kill %3")
            .arg(terminal.path(), self)
            .arg(::getpid())))
        << join.errors().toStdString();
}

TEST(PortsCli, PrintsThePackageVersion) {
    test::CliProcess version(test::makeTempFolder("version-data"), {"--version"});
    EXPECT_EQ(version.exitCode(), 0);
    EXPECT_EQ(version.output(), "velmora-cli " VELMORA_VERSION "\n");
}

}  // namespace
}  // namespace velmora
