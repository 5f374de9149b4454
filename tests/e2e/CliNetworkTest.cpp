// Two velmora-cli processes over loopback TCP, and callers that do not know the passphrase.

#include "CliProcess.h"
#include "support/TestEnvironment.h"

#include <QTcpServer>
#include <QTcpSocket>

#include <gtest/gtest.h>

namespace velmora {
namespace {

using test::CliProcess;
using test::randomBytes;
using test::readFile;
using test::writeFile;

// A loopback port nobody listens on now.
QString freePort() {
    QTcpServer probe;
    EXPECT_TRUE(probe.listen(QHostAddress::LocalHost, 0));
    return QString::number(probe.serverPort());
}

QString passphraseFile(const QString& text) {
    const QString path = test::makeTempFolder("pass") + "/passphrase";
    EXPECT_TRUE(writeFile(path, text.toUtf8() + "\n"));
    return path;
}

TEST(CliNetworkTest, FilesAndChatGoBothWaysBehindThePassphrase) {
    const QString port = freePort();
    const QString sendFolder = test::makeTempFolder("send");
    const QString hostIn = test::makeTempFolder("host-in");
    const QString joinIn = test::makeTempFolder("join-in");
    const QByteArray big = randomBytes(2000000, 11);
    const QByteArray back = randomBytes(90000, 12);
    ASSERT_TRUE(writeFile(sendFolder + "/big.bin", big));
    ASSERT_TRUE(writeFile(sendFolder + "/back.bin", back));

    CliProcess host(test::makeTempFolder("host-data"),
                    {"host", "--tcp", port, "--passphrase-file",
                     passphraseFile("correct horse battery"), "--name", "Ann", "--incoming", hostIn,
                     "--exit-when-done", "send", sendFolder + "/big.bin"});
    ASSERT_TRUE(test::pumpUntil([&] { return host.output().contains("Waiting for remote user"); }))
        << host.errors().toStdString();
    // The passphrase from the environment this time.
    CliProcess join(test::makeTempFolder("join-data"),
                    {"join", "--tcp", "127.0.0.1:" + port, "--name", "Bob", "--incoming", joinIn,
                     "--exit-when-done", "send", sendFolder + "/back.bin"},
                    {{"VELMORA_PASSPHRASE", "correct horse battery"}});
    join.type("hello from Bob\n");

    EXPECT_EQ(join.exitCode(), 0) << join.errors().toStdString();
    EXPECT_EQ(host.exitCode(), 0) << host.errors().toStdString();
    EXPECT_EQ(readFile(joinIn + "/big.bin"), big);
    EXPECT_EQ(readFile(hostIn + "/back.bin"), back);
    EXPECT_TRUE(host.output().contains("Bob>    hello from Bob")) << host.output().toStdString();
    EXPECT_TRUE(host.output().contains("File big.bin arrived whole and verified."))
        << host.output().toStdString();
}

TEST(CliNetworkTest, TheHostTurnsAwayWhoeverLacksThePassphraseAndTakesTheNextCaller) {
    const QString port = freePort();
    const QString address = "127.0.0.1:" + port;
    const QString secret = passphraseFile("open sesame");
    CliProcess host(
        test::makeTempFolder("host-data"),
        {"host", "--tcp", "127.0.0.1:" + port, "--passphrase-file", secret, "--name", "Ann"});
    ASSERT_TRUE(test::pumpUntil([&] { return host.output().contains("Waiting for remote user"); }))
        << host.errors().toStdString();
    const auto hostSays = [&](const QString& text) {
        return test::pumpUntil([&] { return host.errors().contains(text); }, 30000);
    };

    // The wrong passphrase: refused on both sides, with their own words.
    CliProcess wrong(test::makeTempFolder("wrong-data"),
                     {"join", "--tcp", address, "--passphrase-file", passphraseFile("open sesam")});
    EXPECT_EQ(wrong.exitCode(), 10) << wrong.errors().toStdString();
    EXPECT_TRUE(wrong.errors().contains("The passphrase is not the same as the other computer's"))
        << wrong.errors().toStdString();
    EXPECT_TRUE(hostSays("was turned away: its passphrase is not the same as this one."))
        << host.errors().toStdString();
    EXPECT_FALSE(host.output().contains("Connected with"));

    // No passphrase at all: not even tried.
    CliProcess none(test::makeTempFolder("none-data"), {"join", "--tcp", address});
    EXPECT_EQ(none.exitCode(), 1);
    EXPECT_TRUE(none.errors().contains("A network line needs a passphrase"));

    // A plain TCP client sending garbage is told nothing but the greeting, then dropped.
    QTcpSocket garbage;
    garbage.connectToHost(QHostAddress::LocalHost, port.toUShort());
    ASSERT_TRUE(garbage.waitForConnected(5000));
    garbage.write("GET / HTTP/1.0\r\n\r\n");
    EXPECT_TRUE(test::pumpUntil(
        [&] { return garbage.state() == QAbstractSocket::UnconnectedState; }, 30000));
    EXPECT_TRUE(garbage.readAll().startsWith("VMNT"));
    EXPECT_TRUE(hostSays("was turned away: it is not a Velmora.")) << host.errors().toStdString();

    // One that leaves in the middle of the handshake.
    QTcpSocket leaver;
    leaver.connectToHost(QHostAddress::LocalHost, port.toUShort());
    ASSERT_TRUE(leaver.waitForConnected(5000));
    ASSERT_TRUE(leaver.waitForReadyRead(15000));
    leaver.abort();
    EXPECT_TRUE(hostSays("was turned away: it left during the handshake."))
        << host.errors().toStdString();

    // One that says nothing: timed out, while the next caller waits its turn and gets in.
    QTcpSocket silent;
    silent.connectToHost(QHostAddress::LocalHost, port.toUShort());
    ASSERT_TRUE(silent.waitForConnected(5000));
    CliProcess right(test::makeTempFolder("right-data"),
                     {"join", "--tcp", address, "--passphrase-file", secret, "--name", "Bob"});
    right.type("at last\n");
    EXPECT_TRUE(hostSays("was turned away: it did not finish the handshake in 10 seconds."))
        << host.errors().toStdString();
    EXPECT_TRUE(test::pumpUntil([&] { return host.output().contains("Bob>    at last"); }, 30000))
        << host.output().toStdString() << host.errors().toStdString()
        << right.errors().toStdString();
    EXPECT_TRUE(right.output().contains("Connected with Ann."));
    right.terminate();
    EXPECT_EQ(right.exitCode(), 0) << right.errors().toStdString();
}

TEST(CliNetworkTest, AfterACallerLeavesTheHostTakesTheNextOne) {
    const QString port = freePort();
    const QString address = "127.0.0.1:" + port;
    const QString secret = passphraseFile("open sesame");
    CliProcess host(
        test::makeTempFolder("host-data"),
        {"host", "--tcp", "127.0.0.1:" + port, "--passphrase-file", secret, "--name", "Ann"});
    ASSERT_TRUE(test::pumpUntil([&] { return host.output().contains("Waiting for remote user"); }))
        << host.errors().toStdString();
    const auto hostShows = [&](const QString& text) {
        return test::pumpUntil([&] { return host.output().contains(text); }, 30000);
    };

    CliProcess first(test::makeTempFolder("first-data"),
                     {"join", "--tcp", address, "--passphrase-file", secret, "--name", "Bob"});
    first.type("first caller\n");
    ASSERT_TRUE(hostShows("Bob>    first caller")) << host.errors().toStdString();
    first.terminate();
    EXPECT_EQ(first.exitCode(), 0) << first.errors().toStdString();
    ASSERT_TRUE(hostShows("Bob has left.")) << host.output().toStdString();

    // The next caller is taken, not left in the listen queue until its call times out: one with
    // another passphrase is turned away at once, one with the same gets in.
    CliProcess wrong(test::makeTempFolder("wrong-data"),
                     {"join", "--tcp", address, "--passphrase-file", passphraseFile("open sesam")});
    EXPECT_EQ(wrong.exitCode(), 10) << wrong.errors().toStdString();
    EXPECT_TRUE(wrong.errors().contains("The passphrase is not the same as the other computer's"))
        << wrong.errors().toStdString();
    CliProcess second(test::makeTempFolder("second-data"),
                      {"join", "--tcp", address, "--passphrase-file", secret, "--name", "Cid"});
    second.type("second caller\n");
    EXPECT_TRUE(hostShows("Cid>    second caller"))
        << host.output().toStdString() << second.errors().toStdString();
    EXPECT_TRUE(second.output().contains("Connected with Ann."));
    second.terminate();
    EXPECT_EQ(second.exitCode(), 0) << second.errors().toStdString();
}

}  // namespace
}  // namespace velmora
