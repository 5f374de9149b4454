// velmora-cli keeps its conversation through a lost line: a serial device that disappears and
// comes back under the same name (as a USB adapter does), a cable whose plug is pulled and put
// back, and a modem call that drops its carrier. Files go on from where they stopped, in both
// directions, without anybody offering them again.

#include "CliProcess.h"
#include "cable/NullModemCable.h"
#include "modem-exchange/ModemExchange.h"
#include "support/QuickExchange.h"
#include "support/TestCable.h"
#include "support/TestEnvironment.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <functional>

namespace velmora::test {
namespace {

const QString Baud = QStringLiteral("115200");

struct Side {
    QString data;
    QString incoming;
    QString file;  // the file it sends
    QByteArray bytes;

    // Takes files into its own folder, sends its file and ends when all is done.
    QStringList sendingAndEnding() const {
        return {"--incoming", incoming, "--exit-when-done", "send", file};
    }
};

// The arguments of a program that hosts on the cable's end A, or joins on end B, as `name`.
QStringList onCable(const NullModemCable& cable, const QString& role, const QString& name,
                    const QStringList& more) {
    return QStringList{
               role,     "--serial", linkPath(role == "host" ? cable.linkA() : cable.linkB()),
               "--baud", Baud,       "--name",
               name} +
           more;
}

Side makeSide(const QString& name, int size, quint32 seed) {
    Side side{makeTempFolder(name + "-data"), makeTempFolder(name + "-in"),
              makeTempFolder(name + "-send") + "/" + name + ".bin", randomBytes(size, seed)};
    EXPECT_TRUE(writeFile(side.file, side.bytes));
    return side;
}

// How far the receiver of `sender`'s file has got: the size of its ".part" (or of the whole
// file once it arrived).
qint64 receivedOf(const Side& sender, const Side& receiver) {
    const QString name = QFileInfo(sender.file).fileName();
    const QFileInfo whole(receiver.incoming + "/" + name);
    return whole.exists() ? whole.size() : QFileInfo(whole.filePath() + ".part").size();
}

// Each file arrived whole, once: no second copy under a free name, no ".part" left.
void expectArrivedOnce(const Side& sender, const Side& receiver) {
    const QString name = QFileInfo(sender.file).fileName();
    EXPECT_TRUE(readFile(receiver.incoming + "/" + name) == sender.bytes) << name.toStdString();
    EXPECT_EQ(QDir(receiver.incoming).entryList(QDir::Files), QStringList{name});
}

// Both sides told of each outage and of the transfers that went on after it.
void expectToldOfOutages(CliProcess& side, int outages) {
    const QString output = side.output();
    EXPECT_EQ(output.count(QStringLiteral(", trying to get it back...")), outages)
        << output.toStdString();
    EXPECT_EQ(output.count(QRegularExpression(QStringLiteral("Line back at \\d\\d:\\d\\d:\\d\\d; "
                                                             "\\d+ transfers? continue"))),
              outages)
        << output.toStdString();
    EXPECT_FALSE(output.contains(QStringLiteral("Connection lost!"))) << output.toStdString();
}

bool bothLost(CliProcess& ann, CliProcess& bob) {
    return ann.output().contains(QStringLiteral("Line lost at")) &&
           bob.output().contains(QStringLiteral("Line lost at"));
}

// Ann hosts and Bob joins over a fresh cable, each sending a file to the other; at each of the
// points (a fraction of Ann's file that Bob has got) `outage` takes the line away, and `back`
// returns it once both sides have said that they lost it.
void runThroughOutages(const QList<double>& points,
                       const std::function<void(NullModemCable&)>& outage,
                       const std::function<void(NullModemCable&)>& back) {
    NullModemCable cable(cableIn("reconnect-cable", Baud.toInt()));
    const Side annSide = makeSide("ann", 160000, 41);
    const Side bobSide = makeSide("bob", 120000, 42);

    CliProcess ann(annSide.data, onCable(cable, "host", "Ann", annSide.sendingAndEnding()));
    CliProcess bob(bobSide.data, onCable(cable, "join", "Bob", bobSide.sendingAndEnding()));
    int outages = 0;
    for (const double point : points) {
        const qint64 at = static_cast<qint64>(point * annSide.bytes.size());
        ASSERT_TRUE(pumpUntil([&] { return receivedOf(annSide, bobSide) >= at; }))
            << ann.errors().toStdString() << bob.errors().toStdString();
        outage(cable);
        ASSERT_TRUE(pumpUntil([&] { return bothLost(ann, bob); }));
        back(cable);
        ++outages;
        // The next outage only once this one is over on both sides.
        ASSERT_TRUE(pumpUntil([&] {
            return ann.output().count(QStringLiteral("Line back at")) == outages &&
                   bob.output().count(QStringLiteral("Line back at")) == outages;
        })) << ann.output().toStdString()
            << bob.output().toStdString();
    }
    EXPECT_EQ(ann.exitCode(), 0) << ann.output().toStdString() << ann.errors().toStdString();
    EXPECT_EQ(bob.exitCode(), 0) << bob.output().toStdString() << bob.errors().toStdString();
    expectArrivedOnce(annSide, bobSide);
    expectArrivedOnce(bobSide, annSide);
    expectToldOfOutages(ann, outages);
    expectToldOfOutages(bob, outages);
}

TEST(CliReconnectTest, ADeviceThatVanishesAndComesBackUnderItsNameCarriesOnBothWays) {
    // The joiner's adapter early in the transfer, then the host's later on.
    int turn = 0;
    runThroughOutages(
        {0.15, 0.6},
        [&turn](NullModemCable& cable) {
            cable.removeDevice(turn % 2 == 0 ? CableEnd::B : CableEnd::A);
        },
        [&turn](NullModemCable& cable) {
            cable.restoreDevice(turn % 2 == 0 ? CableEnd::B : CableEnd::A);
            ++turn;
        });
}

TEST(CliReconnectTest, APulledPlugPutBackCarriesOn) {
    runThroughOutages(
        {0.3}, [](NullModemCable& cable) { cable.unplug(); },
        [](NullModemCable& cable) { cable.plugIn(); });
}

TEST(CliReconnectTest, WithReconnectingOffALostLineEndsBothSides) {
    NullModemCable cable(cableIn("no-reconnect-cable", Baud.toInt()));
    const Side annSide = makeSide("ann", 160000, 43);
    const Side bobSide = makeSide("bob", 1000, 44);
    CliProcess ann(annSide.data,
                   onCable(cable, "host", "Ann",
                           {"--no-reconnect", "--exit-when-done", "send", annSide.file}));
    CliProcess bob(bobSide.data,
                   onCable(cable, "join", "Bob",
                           {"--incoming", bobSide.incoming, "--no-reconnect", "--exit-when-done"}));
    ASSERT_TRUE(pumpUntil([&] { return receivedOf(annSide, bobSide) >= 20000; }));
    cable.removeDevice(CableEnd::B);
    EXPECT_EQ(ann.exitCode(), 6) << ann.errors().toStdString();
    EXPECT_EQ(bob.exitCode(), 6) << bob.errors().toStdString();
    EXPECT_TRUE(ann.output().contains("Connection lost!"));
    EXPECT_FALSE(ann.output().contains("trying to get it back"));
}

TEST(CliReconnectTest, AnotherComputerAfterTheLineCameBackIsANewConversation) {
    NullModemCable cable(cableIn("other-peer-cable", Baud.toInt()));
    const Side annSide = makeSide("ann", 160000, 47);
    const Side bobSide = makeSide("bob", 1000, 48);
    const Side otherSide = makeSide("other", 3000, 49);
    CliProcess ann(annSide.data, onCable(cable, "host", "Ann", annSide.sendingAndEnding()));
    {
        CliProcess bob(bobSide.data,
                       onCable(cable, "join", "Bob", {"--incoming", bobSide.incoming}));
        ASSERT_TRUE(pumpUntil([&] { return receivedOf(annSide, bobSide) >= 20000; }));
        // Bob's program is killed: no goodbye, the line falls silent.
    }
    ASSERT_TRUE(ann.prints("Line lost at"));
    // Another run on Bob's computer, under the same name: not the one Ann's files went to.
    CliProcess other(otherSide.data, onCable(cable, "join", "Bob", otherSide.sendingAndEnding()));
    // Ann takes the new side's file, says that hers stopped, and ends; the new side ends done.
    EXPECT_EQ(ann.exitCode(), 7) << ann.output().toStdString() << ann.errors().toStdString();
    EXPECT_EQ(other.exitCode(), 0) << other.output().toStdString() << other.errors().toStdString();
    EXPECT_TRUE(readFile(annSide.incoming + "/other.bin") == otherSide.bytes);
    EXPECT_TRUE(ann.output().contains(
        "The transfer of ann.bin was stopped: another computer came back on the line."))
        << ann.output().toStdString();
    EXPECT_FALSE(ann.output().contains("Line back at"));
    // Nothing of Ann's file went to the new side, not even an offer.
    EXPECT_EQ(QDir(otherSide.incoming).entryList(QDir::Files), QStringList());
    EXPECT_FALSE(other.output().contains("ann.bin"));
}

TEST(CliReconnectTest, AModemCallThatDropsItsCarrierIsCalledAgainAndCarriesOn) {
    ModemExchange exchange(quickExchange());
    const QString annModem = QString::fromStdString(exchange.addModem("555 100"));
    const QString bobModem = QString::fromStdString(exchange.addModem("555 200"));
    const Side annSide = makeSide("modem-ann", 60000, 45);
    const Side bobSide = makeSide("modem-bob", 40000, 46);
    CliProcess ann(annSide.data, QStringList{"host", "--modem", annModem, "--name", "Ann"} +
                                     annSide.sendingAndEnding());
    CliProcess bob(bobSide.data,
                   QStringList{"join", "--modem", bobModem, "--phone", "555 100", "--name", "Bob"} +
                       bobSide.sendingAndEnding());
    ASSERT_TRUE(pumpUntil([&] { return receivedOf(annSide, bobSide) >= 15000; }))
        << ann.errors().toStdString() << bob.errors().toStdString();
    exchange.setPlugged("555 200", false);
    ASSERT_TRUE(pumpUntil([&] { return bothLost(ann, bob); }))
        << ann.output().toStdString() << bob.output().toStdString();
    exchange.setPlugged("555 200", true);
    EXPECT_EQ(ann.exitCode(), 0) << ann.output().toStdString() << ann.errors().toStdString();
    EXPECT_EQ(bob.exitCode(), 0) << bob.output().toStdString() << bob.errors().toStdString();
    expectArrivedOnce(annSide, bobSide);
    expectArrivedOnce(bobSide, annSide);
    expectToldOfOutages(ann, 1);
    expectToldOfOutages(bob, 1);
    // The first call and the call again (or a few, while the host was not yet waiting).
    EXPECT_GE(exchange.dialCount("555 200"), 2);
    EXPECT_LE(exchange.dialCount("555 200"), 6);
}

}  // namespace
}  // namespace velmora::test
