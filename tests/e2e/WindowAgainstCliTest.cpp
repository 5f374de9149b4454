// The window against the headless peer over a cable that flips bits and inserts bursts of noise.

#include "CliProcess.h"
#include "TwoWindows.h"

#include "support/TestEnvironment.h"
#include "support/WindowParts.h"

#include <QDir>
#include <QLineEdit>
#include <QTextEdit>
#include <QToolButton>

#include <gtest/gtest.h>

namespace velmora {
namespace {

using test::Computer;
using test::pumpUntil;

QStringList chatLines(const QString& who, int count) {
    QStringList lines;
    for (int i = 0; i < count; ++i) {
        lines << QStringLiteral("%1 line %2: {braces} \\back\\ 100% é").arg(who).arg(i);
    }
    return lines;
}

// The conversation lines of one sender, in the order shown.
QStringList linesOf(const QStringList& shown, const QString& sender) {
    QStringList lines;
    for (const QString& line : shown) {
        if (line.startsWith(sender + ">    ")) {
            lines << line.mid(sender.size() + 5);
        }
    }
    return lines;
}

TEST(WindowAgainstCli, FilesAndChatBothWaysOverANoisyCable) {
    CableOptions options = test::fastCable(1e-4, 10);
    options.line.baud = 921600;
    options.seed = 11;
    NullModemCable cable(options);
    Computer ann(cable.linkA(), "Ann");
    ASSERT_TRUE(ann.connectByCable(true));

    const QString outgoing = test::makeTempFolder("cli-outgoing");
    const QString cliIncoming = test::makeTempFolder("cli-incoming");
    const QByteArray fromCli = test::patternBytes(60000, 21);
    ASSERT_TRUE(test::writeFile(outgoing + "/from-cli.bin", fromCli));
    const QStringList cliLines = chatLines("Cli", 15);
    test::CliProcess cli(test::makeTempFolder("cli-data"),
                         {"join", "--serial", QString::fromStdString(cable.linkB().string()),
                          "--baud", "921600", "--name", "Cli", "--incoming", cliIncoming,
                          "--exit-when-done", "send", outgoing + "/from-cli.bin"});
    cli.type((cliLines.join('\n') + '\n').toUtf8());
    ASSERT_TRUE(pumpUntil([&] { return ann.status() == "Connected"; }, 60000))
        << cli.errors().toStdString();

    const QByteArray fromAnn = test::patternBytes(50000, 22);
    const QString annFolder = test::makeTempFolder("ann-outgoing");
    ASSERT_TRUE(test::writeFile(annFolder + "/from-ann.bin", fromAnn));
    ann.sendFiles({annFolder + "/from-ann.bin"});
    const QStringList annLines = chatLines("Ann", 15);
    for (const QString& line : annLines) {
        test::part<QLineEdit>(ann.main(), "EditMessage")->setText(line);
        test::part<QToolButton>(ann.main(), "SendSpeedButton")->click();
    }

    ASSERT_TRUE(pumpUntil(
        [&] {
            return test::readFile(ann.incomingFolder() + "from-cli.bin") == fromCli &&
                   test::readFile(cliIncoming + "/from-ann.bin") == fromAnn &&
                   linesOf(ann.lines(), "Cli").size() >= cliLines.size() &&
                   cli.linesAfter("Ann>    ").size() >= annLines.size();
        },
        120000))
        << cli.output().toStdString() << cli.errors().toStdString();
    EXPECT_EQ(linesOf(ann.lines(), "Cli"), cliLines);
    EXPECT_EQ(linesOf(ann.lines(), "Ann"), annLines);
    EXPECT_EQ(cli.linesAfter("Ann>    "), annLines);
    EXPECT_EQ(cli.exitCode(), 0) << cli.errors().toStdString();
    // The line was really noisy both ways.
    const CableCounters noise = cable.counters();
    EXPECT_GT(noise.aToB.flipped, 0u);
    EXPECT_GT(noise.bToA.flipped, 0u);
    EXPECT_GT(noise.aToB.inserted + noise.bToA.inserted, 0u);
    // The host's session stays open for the next caller.
    ASSERT_TRUE(pumpUntil([&] { return ann.lines().last() == "Waiting for remote user..."; }));
    EXPECT_TRUE(ann.lines().contains("Remote user disconnected."));
}

TEST(WindowAgainstCli, FilesAndChatBothWaysOverTheNetworkBehindThePassphrase) {
    const quint16 port = test::freeLoopbackPort();
    Computer ann(test::noCable(), "Ann");
    ASSERT_TRUE(ann.connectByNetwork(true, port));

    const QString outgoing = test::makeTempFolder("cli-outgoing");
    const QString cliIncoming = test::makeTempFolder("cli-incoming");
    const QByteArray fromCli = test::patternBytes(400000, 31);
    ASSERT_TRUE(test::writeFile(outgoing + "/from-cli.bin", fromCli));
    test::CliProcess cli(
        test::makeTempFolder("cli-data"),
        {"join", "--tcp", QStringLiteral("127.0.0.1:%1").arg(port), "--name", "Cli", "--incoming",
         cliIncoming, "--exit-when-done", "send", outgoing + "/from-cli.bin"},
        {{"VELMORA_PASSPHRASE", test::kNetworkPassphrase}});
    cli.type("hello window\n");
    ASSERT_TRUE(pumpUntil([&] { return ann.status() == "Connected"; }, 60000))
        << cli.errors().toStdString();

    const QByteArray fromAnn = test::patternBytes(300000, 32);
    const QString annFolder = test::makeTempFolder("ann-outgoing");
    ASSERT_TRUE(test::writeFile(annFolder + "/from-ann.bin", fromAnn));
    ann.sendFiles({annFolder + "/from-ann.bin"});
    test::part<QLineEdit>(ann.main(), "EditMessage")->setText("hello cli");
    test::part<QToolButton>(ann.main(), "SendSpeedButton")->click();

    ASSERT_TRUE(pumpUntil(
        [&] {
            return test::readFile(ann.incomingFolder() + "from-cli.bin") == fromCli &&
                   test::readFile(cliIncoming + "/from-ann.bin") == fromAnn &&
                   ann.lines().contains("Cli>    hello window") &&
                   cli.linesAfter("Ann>    ").contains("hello cli");
        },
        120000))
        << cli.output().toStdString() << cli.errors().toStdString();
    EXPECT_EQ(cli.exitCode(), 0) << cli.errors().toStdString();
}

}  // namespace
}  // namespace velmora
