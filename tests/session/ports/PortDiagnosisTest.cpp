#include "PortTerminal.h"

#include "session/link/SerialPortOpener.h"
#include "session/ports/PortDiagnosis.h"
#include "session/ports/SerialPortList.h"

#include "support/TestEnvironment.h"

#include <QDir>
#include <QFile>
#include <QSerialPort>

#include <grp.h>
#include <unistd.h>

#include <gtest/gtest.h>

namespace velmora {
namespace {

constexpr unsigned kDialout = 20;  // Debian's dialout group
const UserFacts kAnn{"ann", 1000, {1000, 24}, {1000, 24}};

QString ownCommand() {
    QFile comm("/proc/self/comm");
    return comm.open(QIODevice::ReadOnly) ? QString::fromUtf8(comm.readAll()).trimmed() : QString();
}

TEST(PortDiagnosis, AccessIsDecidedAsTheKernelDecidesIt) {
    const QString port = "/dev/ttyUSB0";
    const auto kind = [&](DeviceFacts facts, const UserFacts& user) {
        return diagnoseAccess(port, facts, user, "dialout").kind;
    };
    using Kind = PortDiagnosis::Kind;
    EXPECT_EQ(kind({0, kDialout, 0660}, kAnn), Kind::NotInGroup);
    EXPECT_EQ(kind({0, 24, 0660}, kAnn), Kind::Usable) << "a group of the process";
    EXPECT_EQ(kind({1000, kDialout, 0600}, kAnn), Kind::Usable) << "the owner";
    EXPECT_EQ(kind({1000, kDialout, 0400}, kAnn), Kind::NoAccess) << "read alone is not enough";
    EXPECT_EQ(kind({0, kDialout, 0666}, kAnn), Kind::Usable) << "anyone";
    EXPECT_EQ(kind({0, kDialout, 0600}, kAnn), Kind::NoAccess);
    EXPECT_EQ(kind({0, kDialout, 0600}, UserFacts{"root", 0, {0}, {0}}), Kind::Usable);
    UserFacts addedNotLoggedIn = kAnn;
    addedNotLoggedIn.memberOf.push_back(kDialout);
    EXPECT_EQ(kind({0, kDialout, 0660}, addedNotLoggedIn), Kind::GroupNotActiveYet);

    const QString notInGroup = diagnoseAccess(port, {0, kDialout, 0660}, kAnn, "dialout").message();
    EXPECT_EQ(notInGroup.toStdString(),
              "The serial port /dev/ttyUSB0 cannot be opened: you (ann) are not in the group "
              "dialout, which owns it. To fix it: sudo adduser ann dialout, then log out and in "
              "again");
    const QString notYet =
        diagnoseAccess(port, {0, kDialout, 0660}, addedNotLoggedIn, "dialout").message();
    EXPECT_TRUE(notYet.contains("log out and in again")) << notYet.toStdString();
    const QString noAccess = diagnoseAccess(port, {0, kDialout, 0600}, kAnn, "dialout").message();
    EXPECT_TRUE(noAccess.contains("(600)")) << noAccess.toStdString();
    EXPECT_TRUE(noAccess.contains("sudo setfacl -m u:ann:rw /dev/ttyUSB0"))
        << noAccess.toStdString();
}

TEST(PortDiagnosis, APseudoTerminalWhoseModeTheTestSets) {
    const test::PortTerminal terminal;
    ASSERT_FALSE(terminal.path().isEmpty());
    if (!terminal.setGroupAndMode(kDialout, 0660)) {
        GTEST_SKIP() << "only the superuser may give the terminal to the dialout group";
    }
    const auto facts = readDeviceFacts(terminal.path());
    ASSERT_TRUE(facts);
    EXPECT_EQ(facts->group, kDialout);
    EXPECT_EQ(facts->mode, 0660u);
    const PortDiagnosis diagnosis =
        diagnoseAccess(terminal.path(), *facts, kAnn, groupName(facts->group));
    EXPECT_EQ(diagnosis.kind, PortDiagnosis::Kind::NotInGroup);
    EXPECT_TRUE(diagnosis.message().contains(terminal.path()));
    EXPECT_EQ(diagnosis.fix, QString("sudo adduser ann %1, then log out and in again")
                                 .arg(QString::fromLocal8Bit(::getgrgid(kDialout)->gr_name)));

    ASSERT_TRUE(terminal.setGroupAndMode(kDialout, 0600));
    EXPECT_EQ(
        diagnoseAccess(terminal.path(), *readDeviceFacts(terminal.path()), kAnn, "dialout").kind,
        PortDiagnosis::Kind::NoAccess);
    EXPECT_TRUE(diagnosePortAccess(terminal.path()).usable()) << "the superuser may open it";
    EXPECT_EQ(diagnosePortAccess(terminal.path() + "-gone").kind, PortDiagnosis::Kind::Missing);
}

TEST(PortDiagnosis, TheProgramThatHoldsThePortIsNamedWithItsFix) {
    const QString port = "/dev/ttyUSB0";
    const auto held = [&](std::vector<PortHolder> holders, std::vector<PortHolder> running) {
        return diagnoseHolders(port, holders, running);
    };
    const PortDiagnosis modemManager = held({{812, "ModemManager"}}, {});
    EXPECT_EQ(modemManager.kind, PortDiagnosis::Kind::Held);
    EXPECT_TRUE(modemManager.message().startsWith(
        "The serial port /dev/ttyUSB0 is in use by another program: ModemManager has it open"))
        << modemManager.message().toStdString();
    EXPECT_EQ(modemManager.fix, "sudo systemctl disable --now ModemManager");
    EXPECT_EQ(held({{5, "minicom"}, {9, "brltty"}}, {}).fix,
              "sudo apt remove brltty (where no braille display is used)")
        << "a known taker is named before other holders";
    const PortDiagnosis other = held({{4711, "minicom"}}, {{812, "ModemManager"}});
    EXPECT_EQ(other.cause, "minicom (process 4711) has it open");
    EXPECT_EQ(other.fix, "quit minicom, or end it with: kill 4711");
    // Another user's process cannot be seen: a running taker is the likely one.
    const PortDiagnosis unseen = held({}, {{812, "ModemManager"}});
    EXPECT_TRUE(unseen.cause.contains("is running and may hold it")) << unseen.cause.toStdString();
    EXPECT_EQ(unseen.fix, "sudo systemctl disable --now ModemManager");
    EXPECT_EQ(held({}, {}).fix, "find the program with: sudo fuser -v /dev/ttyUSB0");
}

TEST(PortDiagnosis, HoldersAreFoundThroughTheirOpenDescriptors) {
    const test::PortTerminal terminal;
    ASSERT_FALSE(terminal.path().isEmpty());
    EXPECT_TRUE(portHolders(terminal.path()).empty()) << "no one holds the slave yet";

    // A process table made by the test: 4242 (brltty) holds the port, 77 holds something else.
    const QString proc = test::makeTempFolder("proc");
    ASSERT_TRUE(test::writeFile(proc + "/4242/comm", "brltty\n"));
    ASSERT_TRUE(test::writeFile(proc + "/77/comm", "bash\n"));
    ASSERT_TRUE(test::writeFile(proc + "/self/comm", "self\n"));
    QDir().mkpath(proc + "/4242/fd");
    QDir().mkpath(proc + "/77/fd");
    ASSERT_TRUE(QFile::link(terminal.path(), proc + "/4242/fd/5"));
    ASSERT_TRUE(QFile::link("/dev/null", proc + "/77/fd/0"));
    const std::vector<PortHolder> holders = portHolders(terminal.path(), proc);
    ASSERT_EQ(holders.size(), 1u);
    EXPECT_EQ(holders[0].pid, 4242);
    EXPECT_EQ(holders[0].program, "brltty");
    const std::vector<PortHolder> takers = runningPortTakers(proc);
    ASSERT_EQ(takers.size(), 1u);
    EXPECT_EQ(takers[0].pid, 4242);

    // This process, through the real process table.
    QSerialPort port(terminal.path());
    ASSERT_TRUE(port.open(QIODevice::ReadWrite)) << port.errorString().toStdString();
    const std::vector<PortHolder> real = portHolders(terminal.path());
    ASSERT_EQ(real.size(), 1u);
    EXPECT_EQ(real[0].pid, ::getpid());
    EXPECT_EQ(real[0].program, ownCommand());
    EXPECT_EQ(diagnosePort(terminal.path()).kind, PortDiagnosis::Kind::Held);
}

TEST(PortDiagnosis, TheOpenerNamesTheHolderOfABusyPort) {
    const test::PortTerminal terminal;
    ASSERT_FALSE(terminal.path().isEmpty());
    SerialSettings settings;
    settings.portName = terminal.path();
    QString error;
    const auto first = openSerialPort(settings, error);
    ASSERT_NE(first, nullptr) << error.toStdString();
    EXPECT_EQ(openSerialPort(settings, error), nullptr);
    const QString expected = QString(
                                 "The serial port %1 is in use by another program: %2 (process "
                                 "%3) has it open. To fix it: quit %2, or end it with: kill %3")
                                 .arg(terminal.path(), ownCommand())
                                 .arg(::getpid());
    EXPECT_EQ(error.toStdString(), expected.toStdString());
}

TEST(SerialPortList, ListsDevicesWithTheirStableNamesAndAccess) {
    const test::PortTerminal terminal;
    ASSERT_FALSE(terminal.path().isEmpty());
    const QString folder = test::makeTempFolder("by-id");
    const QString stable = folder + "/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0";
    ASSERT_TRUE(QFile::link(terminal.path(), stable));
    ASSERT_TRUE(QFile::link("/dev/null", folder + "/usb-Other-if00"));
    const QString gone = folder + "/../ttyGone";

    // A device named through a link is listed as the device it leads to.
    const auto ports = listSerialPorts({stable, gone}, folder);
    ASSERT_EQ(ports.size(), 2u);
    EXPECT_EQ(ports[0].device, terminal.path());
    EXPECT_EQ(ports[0].description, "pseudo-terminal");
    EXPECT_EQ(ports[0].stableNames, QStringList{stable});
    EXPECT_TRUE(ports[0].access.usable());
    EXPECT_TRUE(ports[1].stableNames.isEmpty());
    EXPECT_EQ(ports[1].access.kind, PortDiagnosis::Kind::Missing);
}

}  // namespace
}  // namespace velmora
