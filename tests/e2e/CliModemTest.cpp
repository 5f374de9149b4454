// velmora-cli over a telephone line: two processes, each with a modem of the emulated exchange,
// one waiting for the call, the other dialling; and the calls that do not come about.

#include "CliProcess.h"
#include "modem-exchange/ModemExchange.h"
#include "support/QuickExchange.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

namespace velmora::test {
namespace {

// A data folder whose modem list names the modems.
QString folderWithModems(const QList<std::pair<QString, std::string>>& modems) {
    const QString folder = makeTempFolder(QStringLiteral("cli-modems"));
    QByteArray list;
    int index = 0;
    for (const auto& [name, device] : modems) {
        list += QStringLiteral("[Modem%1]\nName=%2\nDevice=%3\n")
                    .arg(++index)
                    .arg(name, QString::fromStdString(device))
                    .toUtf8();
    }
    EXPECT_TRUE(writeFile(folder + "/modems.ini", list));
    return folder;
}

TEST(CliModemTest, HostAnswersTheCallFilesAndLinesGoBothWays) {
    ModemExchange exchange(quickExchange());
    const QString annModem = QString::fromStdString(exchange.addModem("555 100"));
    const QString bobModem = QString::fromStdString(exchange.addModem("555 200"));
    const QString sendFolder = makeTempFolder("modem-send");
    const QString hostIn = makeTempFolder("modem-host-in");
    const QString joinIn = makeTempFolder("modem-join-in");
    const QByteArray toBob = randomBytes(9000, 11);
    const QByteArray toAnn = randomBytes(5000, 12);
    ASSERT_TRUE(writeFile(sendFolder + "/to-bob.bin", toBob));
    ASSERT_TRUE(writeFile(sendFolder + "/to-ann.bin", toAnn));

    // Ann names her modem as the modem list has it, Bob his by its device.
    CliProcess host(folderWithModems({{"Ann's modem", annModem.toStdString()}}),
                    {"host", "--modem", "ann's MODEM", "--name", "Ann", "--incoming", hostIn,
                     "--exit-when-done", "send", sendFolder + "/to-bob.bin"});
    host.type("Ann here\n");
    ASSERT_TRUE(host.prints("Waiting for a call...")) << host.errors().toStdString();
    CliProcess join(makeTempFolder("modem-join-data"),
                    {"join", "--modem", bobModem, "--phone", "(555) 100", "--name", "Bob",
                     "--incoming", joinIn, "--exit-when-done", "send", sendFolder + "/to-ann.bin"});
    join.type("Bob calling\n");

    EXPECT_EQ(join.exitCode(), 0) << join.errors().toStdString();
    EXPECT_EQ(host.exitCode(), 0) << host.errors().toStdString();
    EXPECT_EQ(exchange.dialCount("555 200"), 1);
    EXPECT_EQ(readFile(joinIn + "/to-bob.bin"), toBob);
    EXPECT_EQ(readFile(hostIn + "/to-ann.bin"), toAnn);
    EXPECT_EQ(host.linesAfter("Bob>    ").join('\n').toStdString(), "Bob calling");
    EXPECT_EQ(join.linesAfter("Ann>    ").join('\n').toStdString(), "Ann here");
    EXPECT_TRUE(host.output().contains("Connected with Bob."));
    EXPECT_TRUE(join.output().contains("Connected with Ann."));
}

TEST(CliModemTest, CallsThatDoNotComeAboutEndWithTheirOwnCodes) {
    ModemExchange exchange(quickExchange(1000));
    const std::string caller = exchange.addModem("100");
    exchange.addModem("200");  // nobody picks it up
    const QString data = folderWithModems({{"Bob's modem", caller}});
    struct Case {
        QString phone;
        QString why;
    };
    const QList<Case> cases = {
        {"100", "The number called is busy."},  // its own number: the line is in use
        {"200", "No answer from the number called."},
        {"999", "No carrier: no modem answered the call."},  // no such number
    };
    for (const Case& failed : cases) {
        CliProcess join(data, {"join", "--modem", "Bob's modem", "--phone", failed.phone});
        EXPECT_EQ(join.exitCode(), 5) << failed.phone.toStdString();
        const QString errors = join.errors();
        EXPECT_TRUE(errors.contains("Line is busy!")) << errors.toStdString();
        EXPECT_TRUE(errors.contains(failed.why)) << errors.toStdString();
    }
    exchange.setPlugged("100", false);
    CliProcess unplugged(data, {"join", "--modem", "Bob's modem", "--phone", "200"});
    EXPECT_EQ(unplugged.exitCode(), 5);
    EXPECT_TRUE(unplugged.errors().contains("No dial tone")) << unplugged.errors().toStdString();
    EXPECT_EQ(exchange.dialCount("100"), 4);

    CliProcess unknown(data, {"join", "--modem", "Carol's modem", "--phone", "200"});
    EXPECT_EQ(unknown.exitCode(), 2);
    const QString unknownErrors = unknown.errors();
    EXPECT_TRUE(unknownErrors.contains("No such modem: Carol's modem."));
    EXPECT_TRUE(unknownErrors.contains("names: Bob's modem.")) << unknownErrors.toStdString();
    CliProcess noList(makeTempFolder("no-modem-list"), {"host", "--modem", "Bob's modem"});
    EXPECT_EQ(noList.exitCode(), 2);
    EXPECT_TRUE(noList.errors().contains("names no modem"));
    CliProcess noDevice(data, {"join", "--modem", "/dev/velmora-no-modem", "--phone", "200"});
    EXPECT_EQ(noDevice.exitCode(), 2);
    EXPECT_TRUE(noDevice.errors().contains("No such device: /dev/velmora-no-modem"));
    EXPECT_EQ(exchange.dialCount("100"), 4);  // none of these dialled

    // Command lines that cannot be right.
    for (const QStringList& wrong : QList<QStringList>{
             {"join", "--modem", "Bob's modem"},                           // no number
             {"join", "--modem", "Bob's modem", "--phone", "-()"},         // nothing to dial
             {"host", "--modem", "Bob's modem", "--phone", "200"},         // the host dials nobody
             {"join", "--modem", "Bob's modem", "--serial", "/dev/null"},  // which line?
             {"join", "--modem", "Bob's modem", "--phone", "200", "--baud", "9600"},
             {"join", "--serial", "/dev/null", "--phone", "200"},
             {"join"},
         }) {
        CliProcess usage(data, wrong);
        EXPECT_EQ(usage.exitCode(), 1) << wrong.join(' ').toStdString();
    }
}

}  // namespace
}  // namespace velmora::test
