#include "peer/ReconnectMachine.h"

#include <QStringList>

#include <gtest/gtest.h>

namespace velmora {
namespace {

// Records what the policy asks for; the test plays the line, the device and the clock.
struct Driver : ReconnectActions {
    QStringList asked;
    std::optional<ReconnectEnd> end;
    bool devicePresent = false;
    ReconnectMachine* machine = nullptr;
    std::int64_t* now = nullptr;

    void attempt() override { asked << "attempt"; }
    void cancelAttempt() override { asked << "cancel"; }
    void watchDevice(bool on) override { asked << (on ? "watch" : "unwatch"); }
    void checkDevice() override {
        asked << "check";
        if (devicePresent) {
            machine->deviceAppeared();
        }
    }
    void ended(ReconnectEnd how) override {
        asked << "ended";
        end = how;
    }
};

struct Fixture {
    Driver driver;
    ReconnectPolicy policy;
    ReconnectMachine machine;
    std::int64_t now = 0;  // the virtual clock, in milliseconds

    explicit Fixture(ReconnectPolicy p = {}) : policy(p), machine(driver, p) {
        driver.machine = &machine;
        driver.now = &now;
    }

    // Steps the clock to `at`, calling the machine at each deadline it names on the way.
    void runUntil(std::int64_t at) {
        while (const auto deadline = machine.nextDeadlineMs()) {
            if (*deadline > at) {
                break;
            }
            now = std::max(now, *deadline);
            machine.onTimer(now);
        }
        now = at;
    }
    QString last() const { return driver.asked.isEmpty() ? QString() : driver.asked.last(); }
};

TEST(ReconnectMachineTest, APresentCableIsTriedAtOnceThenWithDoublingPausesUpToTheLimit) {
    ReconnectPolicy policy;
    policy.firstPauseMs = 1000;
    policy.maxPauseMs = 4000;
    Fixture f(policy);
    f.machine.lineLost(ReconnectMachine::Line::Cable, false, f.now);
    EXPECT_EQ(f.driver.asked, QStringList{"attempt"});

    // Each failure waits longer before the next attempt: 1 s, 2 s, 4 s, then 4 s again.
    for (const int pause : {1000, 2000, 4000, 4000}) {
        f.machine.attemptFailed(false, f.now);
        const std::int64_t failedAt = f.now;
        EXPECT_EQ(f.machine.nextDeadlineMs(), failedAt + pause);
        f.driver.asked.clear();
        f.runUntil(failedAt + pause - 1);
        EXPECT_TRUE(f.driver.asked.isEmpty()) << pause;  // one tick before: nothing yet
        f.runUntil(failedAt + pause);
        EXPECT_EQ(f.driver.asked, QStringList{"attempt"}) << pause;
    }
    EXPECT_TRUE(f.machine.running());
}

TEST(ReconnectMachineTest, AMissingDeviceIsWatchedAndTriedTheMomentItIsBack) {
    Fixture f;
    f.machine.lineLost(ReconnectMachine::Line::Cable, true, f.now);
    EXPECT_EQ(f.driver.asked, QStringList{"watch"});
    // Checked quietly now and then while it stays away, never tried.
    f.runUntil(5500);
    EXPECT_EQ(f.driver.asked.count("check"), 5);
    EXPECT_EQ(f.driver.asked.count("attempt"), 0);

    // The watch sees it come back between two checks: tried at once, the watch ended.
    f.driver.asked.clear();
    f.machine.deviceAppeared();
    EXPECT_EQ(f.driver.asked, (QStringList{"unwatch", "attempt"}));

    // The attempt fails because it went again: back to watching, no pause.
    f.driver.asked.clear();
    f.machine.attemptFailed(true, f.now);
    EXPECT_EQ(f.driver.asked, QStringList{"watch"});
    // This time a check finds it first (the watched folder itself was gone).
    f.driver.devicePresent = true;
    f.runUntil(f.now + f.policy.deviceCheckMs);
    EXPECT_EQ(f.driver.asked, (QStringList{"watch", "check", "unwatch", "attempt"}));
}

TEST(ReconnectMachineTest, ADeviceThatVanishesDuringAPauseIsWaitedFor) {
    Fixture f;
    f.machine.lineLost(ReconnectMachine::Line::Cable, false, f.now);
    f.machine.attemptFailed(false, f.now);
    f.machine.deviceVanished();
    EXPECT_EQ(f.last(), "watch");
    f.runUntil(10000);
    EXPECT_EQ(f.driver.asked.count("attempt"), 1);  // only the first
    f.machine.deviceAppeared();
    EXPECT_EQ(f.last(), "attempt");
}

TEST(ReconnectMachineTest, AModemWaitsBeforeCallingAgainAndGivesUpAfterItsAttempts) {
    ReconnectPolicy policy;
    policy.maxModemAttempts = 3;
    Fixture f(policy);
    f.machine.lineLost(ReconnectMachine::Line::Modem, false, f.now);
    EXPECT_TRUE(f.driver.asked.isEmpty());  // the other modem hangs up first
    f.runUntil(policy.firstPauseMs);
    EXPECT_EQ(f.driver.asked, QStringList{"attempt"});
    f.machine.attemptFailed(false, f.now);
    f.runUntil(f.now + 2 * policy.firstPauseMs);
    // The second call comes about, then the line drops before the other side is back.
    f.machine.attemptConnected();
    f.machine.lineLost(ReconnectMachine::Line::Modem, false, f.now);
    f.runUntil(f.now + 4 * policy.firstPauseMs);
    EXPECT_EQ(f.driver.asked.count("attempt"), 3);
    f.machine.attemptFailed(false, f.now);
    EXPECT_EQ(f.driver.end, ReconnectEnd::GaveUp);
    EXPECT_FALSE(f.machine.running());
    EXPECT_EQ(f.machine.nextDeadlineMs(), std::nullopt);
}

TEST(ReconnectMachineTest, EverythingIsGivenUpAtTheTimeLimitWhateverItWasDoing) {
    ReconnectPolicy policy;
    policy.giveUpAfterMs = 60000;
    {
        // Hosting again, the other side never comes: the open session is closed.
        Fixture f(policy);
        f.machine.lineLost(ReconnectMachine::Line::Cable, false, f.now);
        f.machine.attemptConnected();
        f.runUntil(59999);
        EXPECT_FALSE(f.driver.end.has_value());
        f.runUntil(60000);
        EXPECT_EQ(f.driver.asked, (QStringList{"attempt", "cancel", "ended"}));
        EXPECT_EQ(f.driver.end, ReconnectEnd::GaveUp);
    }
    {
        // The device never came back: the watch ends too.
        Fixture f(policy);
        f.machine.lineLost(ReconnectMachine::Line::Cable, true, f.now);
        f.runUntil(60000);
        EXPECT_EQ(f.driver.asked.mid(f.driver.asked.size() - 2), (QStringList{"unwatch", "ended"}));
        EXPECT_EQ(f.driver.end, ReconnectEnd::GaveUp);
    }
}

TEST(ReconnectMachineTest, TheOtherSideBackOrTheUserEndsIt) {
    {
        Fixture f;
        f.machine.lineLost(ReconnectMachine::Line::Cable, false, f.now);
        f.machine.attemptConnected();
        f.machine.otherSideBack();
        EXPECT_EQ(f.driver.end, ReconnectEnd::Back);
        EXPECT_EQ(f.last(), "ended");
        // A later outage starts anew: its pauses from the first again.
        f.machine.lineLost(ReconnectMachine::Line::Cable, false, f.now);
        f.machine.attemptFailed(false, f.now);
        EXPECT_EQ(f.machine.nextDeadlineMs(), f.now + f.policy.firstPauseMs);
    }
    {
        // Stopped during an attempt: the attempt is cancelled; during a pause nothing is.
        Fixture f;
        f.machine.lineLost(ReconnectMachine::Line::Cable, false, f.now);
        f.machine.stop();
        EXPECT_EQ(f.driver.asked, (QStringList{"attempt", "cancel", "ended"}));
        EXPECT_EQ(f.driver.end, ReconnectEnd::Stopped);
        f.driver.asked.clear();
        f.machine.lineLost(ReconnectMachine::Line::Cable, false, f.now);
        f.machine.attemptFailed(false, f.now);
        f.machine.stop();
        EXPECT_EQ(f.driver.asked, (QStringList{"attempt", "ended"}));
        // Stopped, nothing more happens: no timer, no late outcome taken.
        f.machine.attemptFailed(false, f.now);
        f.machine.otherSideBack();
        EXPECT_EQ(f.driver.asked.count("ended"), 1);
        EXPECT_EQ(f.machine.nextDeadlineMs(), std::nullopt);
    }
    {
        // Another side came back: the reconnect ends, the session it opened stays.
        Fixture f;
        f.machine.lineLost(ReconnectMachine::Line::Cable, false, f.now);
        f.machine.attemptConnected();
        f.machine.otherSideChanged();
        EXPECT_EQ(f.driver.asked, (QStringList{"attempt", "ended"}));
        EXPECT_EQ(f.driver.end, ReconnectEnd::Other);
    }
}

}  // namespace
}  // namespace velmora
