#include "cable/NullModemCable.h"
#include "session/link/SerialPortLine.h"
#include "session/link/SerialPortOpener.h"
#include "support/RecordingListener.h"
#include "support/TestCable.h"
#include "support/TestEnvironment.h"

#include <QFile>
#include <QSerialPort>

#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <random>
#include <thread>

namespace velmora {
namespace {

using namespace std::chrono_literals;
using test::RecordingListener;

constexpr int kBaud = 460800;
// Generous: the machine running the tests may be busy.
constexpr auto kPatience = 30s;

SerialSettings settingsFor(const std::filesystem::path& end) {
    SerialSettings settings;
    settings.portName = QString::fromStdString(end.string());
    settings.baud = kBaud;
    return settings;
}

std::unique_ptr<SerialPortLine> openLine(const std::filesystem::path& end,
                                         SerialPortLine::Role role) {
    QString error;
    auto port = openSerialPort(settingsFor(end), error);
    EXPECT_NE(port, nullptr) << error.toStdString();
    if (!port) {
        return nullptr;
    }
    return std::make_unique<SerialPortLine>(std::move(port), settingsFor(end), role);
}

QByteArray randomMessage(std::mt19937& random, qsizetype size) {
    QByteArray message(size, '\0');
    for (char& byte : message) {
        byte = static_cast<char>(random());
    }
    return message;
}

// A host and a caller on the two ends of a cable, the caller's line up. The listeners come
// first so that they outlive the lines, which report to them from their own threads.
class LinePair : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(host && caller);
        ASSERT_TRUE(caller->waitUntilUp(kPatience)) << caller->lastError().toStdString();
    }

    RecordingListener hostEvents;
    RecordingListener callerEvents;
    std::unique_ptr<NullModemCable> cable =
        std::make_unique<NullModemCable>(test::cableIn(QStringLiteral("cable"), kBaud));
    std::unique_ptr<SerialPortLine> host = openLine(cable->linkA(), SerialPortLine::Role::Hosting);
    std::unique_ptr<SerialPortLine> caller =
        openLine(cable->linkB(), SerialPortLine::Role::Calling);
};

TEST_F(LinePair, CarriesMessagesBothWaysAndHostWaitsForTheNextCaller) {
    host->start(&hostEvents);
    caller->start(&callerEvents);
    ASSERT_TRUE(hostEvents.waitFor([&](const auto& l) { return l.ups() == 1; }));
    ASSERT_TRUE(callerEvents.waitFor([&](const auto& l) { return l.ups() == 1; }));

    // Both ways at once, from threads of their own, with one message larger than the bound.
    std::mt19937 random(7);
    QList<QByteArray> toHost;
    QList<QByteArray> toCaller;
    for (int i = 0; i < 40; ++i) {
        toHost.push_back(randomMessage(random, 4 + random() % 3000));
        toCaller.push_back(randomMessage(random, 4 + random() % 3000));
    }
    toHost.push_back(randomMessage(random, 100000));
    std::thread callerSender([&] {
        for (const auto& message : toHost) {
            EXPECT_TRUE(caller->send(message));
        }
    });
    for (const auto& message : toCaller) {
        EXPECT_TRUE(host->send(message));
    }
    callerSender.join();
    ASSERT_TRUE(
        hostEvents.waitFor([&](const auto& l) { return l.messages().size() == toHost.size(); }));
    ASSERT_TRUE(callerEvents.waitFor(
        [&](const auto& l) { return l.messages().size() == toCaller.size(); }));
    EXPECT_EQ(hostEvents.messages(), toHost);
    EXPECT_EQ(callerEvents.messages(), toCaller);

    // The caller says goodbye: what it sent last still arrives, the host hears PeerClosed.
    ASSERT_TRUE(caller->send(QByteArray("last words")));
    caller->close();
    EXPECT_FALSE(caller->send(QByteArray("too late")));
    ASSERT_TRUE(hostEvents.waitFor([&](const auto& l) { return l.downs().size() == 1; }));
    EXPECT_EQ(hostEvents.downs()[0], LineDown::PeerClosed);
    EXPECT_EQ(hostEvents.messages().back(), QByteArray("last words"));
    EXPECT_TRUE(callerEvents.downs().isEmpty());
    caller.reset();

    // A new caller on the same cable finds the host waiting.
    RecordingListener secondEvents;  // outlives the second caller's line
    auto second = openLine(cable->linkB(), SerialPortLine::Role::Calling);
    ASSERT_TRUE(second);
    ASSERT_TRUE(second->waitUntilUp(kPatience)) << second->lastError().toStdString();
    ASSERT_TRUE(hostEvents.waitFor([&](const auto& l) { return l.ups() == 2; }));
    second->start(&secondEvents);
    ASSERT_TRUE(host->send(QByteArray("welcome back")));
    ASSERT_TRUE(secondEvents.waitFor([&](const auto& l) { return l.messages().size() == 1; }));
    EXPECT_EQ(secondEvents.messages()[0], QByteArray("welcome back"));
}

TEST(SerialPortLineTest, ACallerRefusedForItsLinkVersionSaysSoInWords) {
    NullModemCable cable(test::cableIn(QStringLiteral("cable"), kBaud));
    RecordingListener hostEvents;  // outlives the host's line, which reports to it
    auto host = openLine(cable.linkA(), SerialPortLine::Role::Hosting);
    QString error;
    auto port = openSerialPort(settingsFor(cable.linkB()), error);
    ASSERT_TRUE(host && port) << error.toStdString();
    LinkEngine::Config newer;
    newer.version = LinkEngine::kVersion + 1;
    SerialPortLine caller(std::move(port), settingsFor(cable.linkB()),
                          SerialPortLine::Role::Calling, newer);
    EXPECT_FALSE(caller.waitUntilUp(kPatience));
    EXPECT_TRUE(caller.wasRefused());
    const QString words = caller.refusalText();
    EXPECT_TRUE(words.contains(QString::number(LinkEngine::kVersion + 1))) << words.toStdString();
    EXPECT_TRUE(words.contains("version")) << words.toStdString();
    // The host hears the caller's hello as well, whenever that is: its line goes down refused,
    // in words, and is kept for the next caller, as a hosting session keeps it.
    host->start(&hostEvents);
    ASSERT_TRUE(hostEvents.waitFor([&](const auto& l) { return !l.downs().isEmpty(); }));
    EXPECT_EQ(hostEvents.downs().front(), LineDown::Refused);  // the only one written so far
    EXPECT_TRUE(host->refusalText().contains(QString::number(LinkEngine::kVersion + 1)))
        << host->refusalText().toStdString();
    EXPECT_TRUE(host->keepForNextPeer()) << "the host waits on for the next caller";
}

TEST_F(LinePair, APulledPlugIsALostLineOnBothSides) {
    host->start(&hostEvents);
    caller->start(&callerEvents);

    // A sender blocked on back-pressure is let go when the line is lost.
    std::thread sender([&] {
        std::mt19937 random(3);
        const QByteArray block = randomMessage(random, 32768);
        while (caller->send(block)) {
        }
    });
    ASSERT_TRUE(hostEvents.waitFor([&](const auto& l) { return l.messages().size() >= 2; }));
    cable->unplug();
    // The application's thread never waits for room (nothing will be acknowledged any more):
    // what it sends is queued at once, however full the lane, until the line is known lost.
    std::mt19937 random(5);
    for (int i = 0; i < 20; ++i) {
        EXPECT_TRUE(caller->send(randomMessage(random, 4096)));
    }
    ASSERT_TRUE(hostEvents.waitFor([&](const auto& l) { return !l.downs().isEmpty(); }));
    ASSERT_TRUE(callerEvents.waitFor([&](const auto& l) { return !l.downs().isEmpty(); }));
    sender.join();
    EXPECT_EQ(hostEvents.downs(), QList<LineDown>{LineDown::Lost});
    EXPECT_EQ(callerEvents.downs(), QList<LineDown>{LineDown::Lost});
    EXPECT_TRUE(caller->lastError().contains("Nothing has come"))
        << caller->lastError().toStdString();
    EXPECT_FALSE(caller->send(QByteArray("anyone?")));
    caller->close();
    caller.reset();

    host->close();
}

TEST_F(LinePair, VanishedDeviceIsALostLineWithoutCrashOrHang) {
    host->start(&hostEvents);
    ASSERT_TRUE(hostEvents.waitFor([&](const auto& l) { return l.ups() == 1; }));

    // Both pseudo-terminals disappear, as a USB adapter does when it is pulled out.
    cable.reset();
    ASSERT_TRUE(hostEvents.waitFor([&](const auto& l) { return !l.downs().isEmpty(); }));
    EXPECT_EQ(hostEvents.downs(), QList<LineDown>{LineDown::Lost});
    EXPECT_FALSE(host->send(QByteArray("anyone?")));
    host->close();
    caller->close();
}

TEST(SerialPortLineTest, TakesOverAPortThatWasUsedBefore) {
    RecordingListener hostEvents;  // outlives the host's line, which reports to it
    NullModemCable cable(test::cableIn(QStringLiteral("cable"), kBaud));
    auto host = openLine(cable.linkA(), SerialPortLine::Role::Hosting);
    ASSERT_TRUE(host);
    host->start(&hostEvents);

    // Someone else talks on the port first (a modem's command phase), then hands it over.
    QString error;
    auto port = openSerialPort(settingsFor(cable.linkB()), error);
    ASSERT_NE(port, nullptr) << error.toStdString();
    port->write("ATDT5551234\r");
    ASSERT_TRUE(port->waitForBytesWritten(5000));
    SerialPortLine caller(std::move(port), settingsFor(cable.linkB()),
                          SerialPortLine::Role::Calling);
    ASSERT_TRUE(caller.waitUntilUp(kPatience)) << caller.lastError().toStdString();
    ASSERT_TRUE(caller.send(QByteArray("hello host")));
    ASSERT_TRUE(hostEvents.waitFor([&](const auto& l) { return l.messages().size() == 1; }));
    EXPECT_EQ(hostEvents.messages()[0], QByteArray("hello host"));
}

TEST(SerialPortLineTest, OpenFailuresNameTheDeviceAndTheCause) {
    QString error;
    SerialSettings missing;
    missing.portName = QStringLiteral("/dev/velmora-no-such-port");
    EXPECT_EQ(openSerialPort(missing, error), nullptr);
    EXPECT_TRUE(error.contains("/dev/velmora-no-such-port")) << error.toStdString();
    EXPECT_TRUE(error.contains("does not exist")) << error.toStdString();

    missing.portName = QStringLiteral("ttyVelmoraNone");
    EXPECT_EQ(openSerialPort(missing, error), nullptr);
    EXPECT_TRUE(error.contains("/dev/ttyVelmoraNone")) << error.toStdString();

    NullModemCable cable(test::cableIn(QStringLiteral("cable"), kBaud));
    SerialSettings tooFast = settingsFor(cable.linkA());
    tooFast.baud = 5000000;
    EXPECT_EQ(openSerialPort(tooFast, error), nullptr);
    EXPECT_TRUE(error.contains("5000000")) << error.toStdString();

    // Held by another program.
    auto first = openSerialPort(settingsFor(cable.linkA()), error);
    ASSERT_NE(first, nullptr) << error.toStdString();
    EXPECT_EQ(openSerialPort(settingsFor(cable.linkA()), error), nullptr);
    EXPECT_TRUE(error.contains("in use")) << error.toStdString();
    EXPECT_TRUE(error.contains(QString::fromStdString(cable.linkA().string())));

    // Not allowed: the fix is named. (The superuser may open anything.)
    if (::geteuid() != 0) {
        const QString locked = test::makeTempFolder(QStringLiteral("ports")) + "/ttyLocked";
        QFile file(locked);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.close();
        ASSERT_TRUE(QFile::setPermissions(locked, QFileDevice::Permissions()));
        SerialSettings denied;
        denied.portName = locked;
        EXPECT_EQ(openSerialPort(denied, error), nullptr);
        EXPECT_TRUE(error.contains(locked)) << error.toStdString();
        EXPECT_TRUE(error.contains("permissions (000)")) << error.toStdString();
    }
}

}  // namespace
}  // namespace velmora
