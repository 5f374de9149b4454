// velmora-cli against itself over a virtual cable that flips bits and inserts bursts of noise,
// and over one whose plug is pulled in the middle of a transfer.

#include "CliProcess.h"
#include "cable/NullModemCable.h"
#include "support/TestCable.h"
#include "support/TestEnvironment.h"

#include <QFileInfo>

#include <gtest/gtest.h>

namespace velmora::test {
namespace {

const QString Baud = QStringLiteral("921600");

// Chat lines as a user might type them, each one different.
QStringList chatLines(const QString& who, int count) {
    QStringList lines;
    for (int i = 0; i < count; ++i) {
        lines.append(QStringLiteral("%1 says %2: café, 50% off & <b>bold</b> \"quoted\" %3")
                         .arg(who)
                         .arg(i)
                         .arg(QString(i % 7 + 1, QLatin1Char('x'))));
    }
    return lines;
}

QByteArray typed(const QStringList& lines) {
    return (lines.join('\n') + '\n').toUtf8();
}

struct SentFile {
    QString name;
    QByteArray bytes;
};

QStringList writeFiles(const QString& folder, const QList<SentFile>& files) {
    QStringList paths;
    for (const SentFile& file : files) {
        paths.append(folder + "/" + file.name);
        EXPECT_TRUE(writeFile(paths.last(), file.bytes));
    }
    return paths;
}

TEST(CliNoisyCableTest, FilesArriveWholeAndEveryChatLineOnceInOrder) {
    CableOptions options = cableIn("noisy-cable", Baud.toInt());
    options.line.bitErrorRate = 1e-4;
    options.line.garbageBurstsPerSecond = 10;
    options.line.garbageBurstMaxLength = 32;
    options.seed = 7;
    NullModemCable cable(options);

    const QString annFolder = makeTempFolder("noisy-ann");
    const QString bobFolder = makeTempFolder("noisy-bob");
    const QList<SentFile> annFiles = {{"one.bin", randomBytes(150000, 21)},
                                      {"two.bin", randomBytes(40000, 22)},
                                      {"three.txt", "a small file\n"}};
    const QList<SentFile> bobFiles = {{"four.bin", randomBytes(100000, 23)},
                                      {"five.bin", randomBytes(20000, 24)}};
    const QStringList annPaths = writeFiles(annFolder, annFiles);
    const QStringList bobPaths = writeFiles(bobFolder, bobFiles);
    const QString annIn = makeTempFolder("noisy-ann-in");
    const QString bobIn = makeTempFolder("noisy-bob-in");

    CliProcess ann(makeTempFolder("noisy-ann-data"),
                   QStringList{"host", "--serial", linkPath(cable.linkA()), "--baud", Baud,
                               "--name", "Ann", "--incoming", annIn, "--exit-when-done", "send"} +
                       annPaths);
    CliProcess bob(
        makeTempFolder("noisy-bob-data"),
        QStringList{"join", "--serial", linkPath(cable.linkB()), "--baud", Baud, "--name", "Bob",
                    "--incoming", bobIn, "--block-code", "3", "--exit-when-done", "send"} +
            bobPaths);
    // Typed at once; each side sends them when the other is there.
    const QStringList annLines = chatLines("Ann", 25);
    const QStringList bobLines = chatLines("Bob", 25);
    ann.type(typed(annLines));
    bob.type(typed(bobLines));

    EXPECT_EQ(ann.exitCode(), 0) << ann.errors().toStdString();
    EXPECT_EQ(bob.exitCode(), 0) << bob.errors().toStdString();
    for (const SentFile& file : annFiles) {
        EXPECT_TRUE(readFile(bobIn + "/" + file.name) == file.bytes) << file.name.toStdString();
    }
    for (const SentFile& file : bobFiles) {
        EXPECT_TRUE(readFile(annIn + "/" + file.name) == file.bytes) << file.name.toStdString();
    }
    EXPECT_EQ(bob.linesAfter("Ann>    ").join('\n').toStdString(),
              annLines.join('\n').toStdString());
    EXPECT_EQ(ann.linesAfter("Bob>    ").join('\n').toStdString(),
              bobLines.join('\n').toStdString());
    // The line was as noisy as asked for, both ways.
    const CableCounters counters = cable.counters();
    EXPECT_GT(counters.aToB.flipped, 0u);
    EXPECT_GT(counters.bToA.flipped, 0u);
    EXPECT_GT(counters.aToB.inserted, 0u);
    EXPECT_GT(counters.bToA.inserted, 0u);
}

TEST(CliNoisyCableTest, PulledPlugWithoutReconnectingEndsBothSidesAndTheNextRunResumes) {
    NullModemCable cable(cableIn("pulled-cable", Baud.toInt()));

    const QString sendFolder = makeTempFolder("pulled-send");
    const QString incoming = makeTempFolder("pulled-in");
    const QByteArray big = randomBytes(250000, 31);
    ASSERT_TRUE(writeFile(sendFolder + "/big.bin", big));
    const QString annData = makeTempFolder("pulled-ann-data");
    const QString bobData = makeTempFolder("pulled-bob-data");
    const QStringList annArguments = {"host",
                                      "--serial",
                                      linkPath(cable.linkA()),
                                      "--baud",
                                      Baud,
                                      "--name",
                                      "Ann",
                                      "--no-reconnect",
                                      "--exit-when-done",
                                      "send",
                                      sendFolder + "/big.bin"};
    const QStringList bobArguments = {
        "join",       "--serial", linkPath(cable.linkB()), "--baud",          Baud, "--name", "Bob",
        "--incoming", incoming,   "--no-reconnect",        "--exit-when-done"};
    const QString partial = incoming + "/big.bin.part";
    qint64 received = 0;
    {
        CliProcess ann(annData, annArguments);
        CliProcess bob(bobData, bobArguments);
        ASSERT_TRUE(pumpUntil([&] { return QFileInfo(partial).size() >= 60000; }))
            << bob.errors().toStdString();
        cable.unplug();
        EXPECT_EQ(ann.exitCode(), 6) << ann.errors().toStdString();
        EXPECT_EQ(bob.exitCode(), 6) << bob.errors().toStdString();
        EXPECT_TRUE(ann.output().contains("Connection lost!"));
        EXPECT_TRUE(bob.output().contains("Connection lost!"));
        const QByteArray kept = readFile(partial);
        received = kept.size();
        ASSERT_GE(received, 60000);
        ASSERT_LT(received, big.size());
        EXPECT_EQ(kept, big.left(received));
    }

    cable.plugIn();
    const std::uint64_t before = cable.counters().aToB.passed;
    CliProcess ann(annData, annArguments);
    CliProcess bob(bobData, bobArguments);
    EXPECT_EQ(ann.exitCode(), 0) << ann.errors().toStdString();
    EXPECT_EQ(bob.exitCode(), 0) << bob.errors().toStdString();
    EXPECT_EQ(readFile(incoming + "/big.bin"), big);
    // Only the rest crossed the line again (with the framing's few per cent).
    const std::uint64_t resent = cable.counters().aToB.passed - before;
    EXPECT_LT(resent, static_cast<std::uint64_t>(big.size() - received / 2));
}

}  // namespace
}  // namespace velmora::test
