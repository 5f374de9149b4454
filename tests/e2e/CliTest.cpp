// Two headless peers, each a velmora-cli process, over the virtual null-modem cable.

#include "CliProcess.h"
#include "cable/NullModemCable.h"
#include "protocol/PeerMessages.h"
#include "session/link/SerialPortLine.h"
#include "session/link/SerialPortOpener.h"
#include "session/link/SerialProvider.h"
#include "support/RecordingPeer.h"
#include "support/TestCable.h"
#include "support/TestEnvironment.h"

#include <QDir>
#include <QFile>
#include <QSerialPort>

#include <gtest/gtest.h>

namespace velmora::test {
namespace {

TEST(CliTest, FilesGoBothWaysWholeAndChatLinesArrive) {
    NullModemCable cable(cableIn("cable", 921600));

    const QString sendFolder = makeTempFolder("send");
    const QString hostIn = makeTempFolder("host-in");
    const QString joinIn = makeTempFolder("join-in");
    const QByteArray big = randomBytes(300000, 1);
    const QByteArray small = randomBytes(1000, 2);
    const QByteArray back = randomBytes(70000, 3);
    ASSERT_TRUE(writeFile(sendFolder + "/big.bin", big));
    ASSERT_TRUE(writeFile(sendFolder + "/small.bin", small));
    ASSERT_TRUE(writeFile(sendFolder + "/back.bin", back));
    // Half of back.bin is already there, as a partial file: the transfer resumes from it.
    ASSERT_TRUE(writeFile(hostIn + "/back.bin.part", back.left(35000)));

    CliProcess host(makeTempFolder("host-data"),
                    {"host", "--serial", linkPath(cable.linkA()), "--baud", "921600", "--name",
                     "Ann", "--incoming", hostIn, "--exit-when-done", "send",
                     sendFolder + "/big.bin", sendFolder + "/small.bin"});
    // A device path relative to the current folder will do.
    CliProcess join(makeTempFolder("join-data"),
                    {"join", "--serial", QDir::current().relativeFilePath(linkPath(cable.linkB())),
                     "--baud", "921600", "--name", "Bob", "--incoming", joinIn, "--block-code", "3",
                     "--exit-when-done", "send", sendFolder + "/back.bin"});
    join.type("hello from Bob\n");

    EXPECT_EQ(join.exitCode(), 0) << join.errors().toStdString();
    EXPECT_EQ(host.exitCode(), 0) << host.errors().toStdString();
    EXPECT_EQ(readFile(joinIn + "/big.bin"), big);
    EXPECT_EQ(readFile(joinIn + "/small.bin"), small);
    EXPECT_EQ(readFile(hostIn + "/back.bin"), back);
    const QString hostOutput = host.output();
    EXPECT_TRUE(hostOutput.contains("Connected with Bob.")) << hostOutput.toStdString();
    EXPECT_TRUE(hostOutput.contains("File back.bin received and saved into"));
    EXPECT_TRUE(join.output().contains("Connected with Ann."));
}

TEST(CliTest, FailuresEndWithTheirOwnExitCodes) {
    const QString data = makeTempFolder("fail-data");
    CliProcess missing(data, {"join", "--serial", "/dev/velmora-no-such-port"});
    EXPECT_EQ(missing.exitCode(), 2);
    EXPECT_TRUE(missing.errors().contains("No such device: /dev/velmora-no-such-port"));

    CliProcess usage(data, {"talk", "--serial", "/dev/null"});
    EXPECT_EQ(usage.exitCode(), 1);
    CliProcess help(data, {"--help"});
    EXPECT_EQ(help.exitCode(), 0);
    EXPECT_TRUE(help.output().contains("Exit codes:"));

    // Nobody at the other end of the cable.
    NullModemCable cable(cableIn("lonely-cable"));
    CliProcess lonely(data, {"join", "--serial", linkPath(cable.linkB()), "--wait", "1"});
    EXPECT_EQ(lonely.exitCode(), 4);
    EXPECT_TRUE(lonely.errors().contains("No sessions were found on remote computer!"));

    // A refused file.
    const QString folder = makeTempFolder("refuse");
    ASSERT_TRUE(writeFile(folder + "/a.txt", "some text"));
    CliProcess host(makeTempFolder("refuse-host"), {"host", "--serial", linkPath(cable.linkA()),
                                                    "--block-incoming", "--exit-when-done"});
    ASSERT_TRUE(host.prints("Waiting for remote user"));
    // A port in use by another program.
    CliProcess second(data, {"host", "--serial", linkPath(cable.linkA())});
    EXPECT_EQ(second.exitCode(), 5);
    EXPECT_TRUE(second.errors().contains("is in use by another program"))
        << second.errors().toStdString();
    CliProcess sender(makeTempFolder("refuse-join"),
                      {"join", "--serial", linkPath(cable.linkB()), "--exit-when-done", "send",
                       folder + "/a.txt"});
    EXPECT_EQ(sender.exitCode(), 7) << sender.errors().toStdString();
    EXPECT_EQ(host.exitCode(), 0) << host.errors().toStdString();
}

TEST(CliTest, AFileTheReceiverRefusesIsCountedOnBothSides) {
    NullModemCable cable(cableIn("refusing-cable", 921600));
    const QString sendFolder = makeTempFolder("refusing-send");
    const QString hostIn = makeTempFolder("refusing-in");
    // A name with a bell in it, which the receiver must not print as it is.
    ASSERT_TRUE(writeFile(sendFolder + "/bell\aname.txt", "ding"));
    CliProcess host(makeTempFolder("refusing-host"),
                    {"host", "--serial", linkPath(cable.linkA()), "--baud", "921600", "--name",
                     "Ann", "--incoming", hostIn, "--exit-when-done"});
    CliProcess join(makeTempFolder("refusing-join"),
                    {"join", "--serial", linkPath(cable.linkB()), "--baud", "921600", "--name",
                     "Bob", "--exit-when-done", "send", sendFolder + "/bell\aname.txt"});
    EXPECT_EQ(host.exitCode(), 7) << host.output().toStdString();
    EXPECT_EQ(join.exitCode(), 7) << join.output().toStdString();
    EXPECT_TRUE(host.output().contains("Refused the file \"bell")) << host.output().toStdString();
    EXPECT_TRUE(
        host.output().contains("name.txt\" offered by Bob: its name holds control "
                               "characters."));
    EXPECT_FALSE(host.output().contains('\a'));
    EXPECT_TRUE(QDir(hostIn).isEmpty());
}

// A receiver of the first version, written from docs/wire-protocol.md alone: it takes every
// offer and knows nothing of the file check.
TEST(CliTest, ASenderWhoseReceiverCannotCheckFilesEndsWithExitCode9) {
    NullModemCable cable(cableIn("older-cable", 921600));
    SerialSettings settings;
    settings.portName = linkPath(cable.linkA());
    settings.baud = 921600;
    const QString olderData = makeTempFolder("older-data");
    RecordingPeer older(
        {guids::ServiceProviderSerial, QStringLiteral("Serial Connection"), [olderData, settings] {
             return std::make_unique<SerialProvider>(olderData, nullptr, settings);
         }});
    QByteArray received;
    bool ended = false;
    QObject::connect(
        &older.play, &TCustomDXPlay::OnMessage,
        [&](TCustomDXPlay& play, TDXPlayPlayer& from, const void* data, std::int32_t size) {
            const QByteArray message(static_cast<const char*>(data), size);
            if (const auto offer = parseFileOffer(bytesOf(message))) {
                const QByteArray reply =
                    buildFileReply({0, offer->transferId, frAccepted, offer->icon});
                play.SendMessage(from.ID, reply.constData(), static_cast<int>(reply.size()));
            } else if (const auto block = parseFileBlock(bytesOf(message))) {
                received.append(block->data.data(), static_cast<qsizetype>(block->data.size()));
                ended = ended || block->last;
            }
        });
    older.play.setProviderName(older.play.ProviderNameFromGUID(guids::ServiceProviderSerial));
    older.play.OpenSession(true, "VelmoraSession", "Old");

    const QString sendFolder = makeTempFolder("older-send");
    const QByteArray bytes = randomBytes(50000, 9);
    ASSERT_TRUE(writeFile(sendFolder + "/plain.bin", bytes));
    CliProcess join(makeTempFolder("older-join"),
                    {"join", "--serial", linkPath(cable.linkB()), "--baud", "921600", "--name",
                     "Bob", "--exit-when-done", "send", sendFolder + "/plain.bin"});
    ASSERT_TRUE(pumpUntil([&] { return ended || join.finished(); })) << join.errors().toStdString();
    EXPECT_EQ(received, bytes);
    older.play.Close();
    ASSERT_TRUE(pumpUntil([&] { return join.finished(); }));
    EXPECT_EQ(join.exitCode(), 9) << join.errors().toStdString();
}

// The other end's link runs a later version: velmora-cli says so in the window's words.
TEST(CliTest, APeerOfAnotherLinkVersionIsNamedNotCalledBusy) {
    NullModemCable cable(cableIn("version-cable"));
    SerialSettings settings;
    settings.portName = linkPath(cable.linkA());
    QString error;
    auto port = openSerialPort(settings, error);
    ASSERT_NE(port, nullptr) << error.toStdString();
    LinkEngine::Config newer;
    newer.version = LinkEngine::kVersion + 1;
    SerialPortLine later(std::move(port), settings, SerialPortLine::Role::Hosting, newer);

    CliProcess join(makeTempFolder("version-join"),
                    {"join", "--serial", linkPath(cable.linkB()), "--name", "Bob"});
    EXPECT_EQ(join.exitCode(), 5) << join.errors().toStdString();
    EXPECT_TRUE(join.errors().contains(
        QStringLiteral("The other computer runs version %1 of the Velmora serial link, this one "
                       "version %2")
            .arg(LinkEngine::kVersion + 1)
            .arg(LinkEngine::kVersion)))
        << join.errors().toStdString();
    EXPECT_FALSE(join.errors().contains(QStringLiteral("Line is busy")));
}

TEST(CliTest, ASendFileThatCannotBeOpenedIsNotDone) {
    NullModemCable cable(cableIn("cable"));
    const QString sendFolder = makeTempFolder("send");
    const QString joinIn = makeTempFolder("join-in");
    const QByteArray whole = randomBytes(2000, 4);
    ASSERT_TRUE(writeFile(sendFolder + "/here.bin", whole));
    CliProcess host(
        makeTempFolder("host-data"),
        {"host", "--serial", linkPath(cable.linkA()), "--name", "Ann", "--exit-when-done", "send",
         sendFolder + "/missing.bin", sendFolder + "/here.bin"});
    CliProcess join(makeTempFolder("join-data"),
                    {"join", "--serial", linkPath(cable.linkB()), "--name", "Bob", "--incoming",
                     joinIn, "--exit-when-done"});
    EXPECT_EQ(join.exitCode(), 0) << join.errors().toStdString();
    EXPECT_EQ(host.exitCode(), 7) << host.errors().toStdString();
    EXPECT_TRUE(host.errors().contains("missing.bin")) << host.errors().toStdString();
    EXPECT_EQ(readFile(joinIn + "/here.bin"), whole) << "the other files are still sent";
}

TEST(CliTest, LinesAndNamesInEveryScriptArriveWholeAndControlsShowVisibly) {
    NullModemCable cable(cableIn("utf8-cable", 921600));
    const QString ann = QStringLiteral("Ann \u00c5str\u00f6m");
    const QString bob = QStringLiteral("Bj\u00f6rk \u65e5\u672c");
    CliProcess host(makeTempFolder("utf8-host"), {"host", "--serial", linkPath(cable.linkA()),
                                                  "--baud", "921600", "--name", ann});
    CliProcess join(makeTempFolder("utf8-join"), {"join", "--serial", linkPath(cable.linkB()),
                                                  "--baud", "921600", "--name", bob});
    ASSERT_TRUE(join.prints("Connected with")) << join.errors().toStdString();
    // Each side's hello goes before its first line: a side that shows the other's line has
    // heard it, and has answered it before its own next line.
    join.type("ready\n");
    ASSERT_TRUE(host.prints(">    ready"));
    EXPECT_TRUE(host.output().contains(bob + ">    ready")) << "the name from the hello";

    const QString line = QStringLiteral(
        "Gr\u00fc\u00dfe \u65e5\u672c\u8a9e \u041f\u0440\u0438\u0432\u0435\u0442 "
        "\u0645\u0631\u062d\u0628\u0627 \U0001F600");
    host.type(line.toUtf8() + " \x1b[2J\n");
    ASSERT_TRUE(join.prints(line)) << join.output().toStdString();
    EXPECT_TRUE(join.output().contains(ann + ">    " + line + " ^[[2J"))
        << join.output().toStdString();
    const QString answer =
        QStringLiteral("\u041e\u0442\u0432\u0435\u0442 \u4e2d\u6587 \U0001F44D\U0001F3FD");
    join.type(answer.toUtf8() + "\n");
    ASSERT_TRUE(host.prints(bob + ">    " + answer)) << host.output().toStdString();
    EXPECT_FALSE(host.output().contains("could not be sent"));
    EXPECT_FALSE(join.output().contains("could not be sent"));
    join.terminate();
    EXPECT_EQ(join.exitCode(), 0) << join.errors().toStdString();
    host.terminate();
    EXPECT_EQ(host.exitCode(), 0) << host.errors().toStdString();
}

TEST(CliTest, EndedByTheUserItSaysGoodbye) {
    NullModemCable cable(cableIn("goodbye-cable", 921600));
    CliProcess host(makeTempFolder("goodbye-host"),
                    {"host", "--serial", linkPath(cable.linkA()), "--baud", "921600", "--name",
                     "Ann", "--exit-when-done"});
    CliProcess join(makeTempFolder("goodbye-join"), {"join", "--serial", linkPath(cable.linkB()),
                                                     "--baud", "921600", "--name", "Bob"});
    ASSERT_TRUE(join.prints("Connected with Ann.")) << join.errors().toStdString();
    join.terminate();
    EXPECT_EQ(join.exitCode(), 0) << join.errors().toStdString();
    // The host hears a goodbye, not a line gone quiet.
    EXPECT_EQ(host.exitCode(), 0) << host.errors().toStdString();
    EXPECT_TRUE(host.output().contains("Bob has left."));
    EXPECT_FALSE(host.output().contains("Connection lost!"));
}

TEST(CliTest, SigtermAtEveryPhaseEndsProperly) {
    NullModemCable cable(cableIn("sigterm-cable", 115200));
    const QString linkA = linkPath(cable.linkA());
    const QString linkB = linkPath(cable.linkB());

    // Looking for a host that is not there: the attempt is cancelled and says so.
    {
        CliProcess join(makeTempFolder("sigterm-search"),
                        {"join", "--serial", linkB, "--name", "Bob", "--wait", "60"});
        ASSERT_TRUE(join.warns("Looking for the other computer..."));
        join.terminate();
        EXPECT_EQ(join.exitCode(), 8) << join.errors().toStdString();
        EXPECT_TRUE(join.errors().contains("Cancelled: no connection was made."));
    }
    // A host waiting for its caller ends with a goodbye to nobody; its port is free again.
    {
        CliProcess host(makeTempFolder("sigterm-wait"),
                        {"host", "--serial", linkA, "--name", "Ann"});
        ASSERT_TRUE(host.prints("Waiting for remote user..."));
        host.terminate();
        EXPECT_EQ(host.exitCode(), 0) << host.errors().toStdString();
    }
    // During a transfer: the sender stops, says goodbye, and the other side hears it.
    const QString folder = makeTempFolder("sigterm-files");
    ASSERT_TRUE(writeFile(folder + "/big.bin", randomBytes(2'000'000, 7)));
    CliProcess host(makeTempFolder("sigterm-host"),
                    {"host", "--serial", linkA, "--name", "Ann", "--incoming", folder + "/in",
                     "--exit-when-done"});
    CliProcess join(makeTempFolder("sigterm-join"),
                    {"join", "--serial", linkB, "--name", "Bob", "send", folder + "/big.bin"});
    ASSERT_TRUE(join.prints("Connected with Ann.")) << join.errors().toStdString();
    join.terminate();
    EXPECT_EQ(join.exitCode(), 7) << "the file did not arrive: " << join.errors().toStdString();
    EXPECT_NE(host.exitCode(), 0);
    EXPECT_TRUE(host.output().contains("Bob has left.")) << host.output().toStdString();
    EXPECT_FALSE(host.output().contains("Connection lost!"));
    EXPECT_FALSE(QFile::exists(folder + "/in/big.bin"));
}

}  // namespace
}  // namespace velmora::test
