#include "peer/ConnectMachine.h"

#include <QStringList>

#include <gtest/gtest.h>

namespace velmora {
namespace {

// Records what the machine asks for; the test plays the component and the clock.
struct Driver : ConnectActions {
    QStringList asked;
    std::optional<ConnectResult> result;
    bool providerFails = false;
    ConnectMachine* machine = nullptr;

    void chooseProvider(const ConnectRequest& request) override {
        asked << (request.method == ConnectRequest::Method::Cable ? "provider cable"
                                                                   : "provider modem");
        if (providerFails) {
            machine->failed("Provider's specified GUID is not found");
        }
    }
    void search() override { asked << "search"; }
    void host(const ConnectRequest& request) override { asked << "host " + request.sessionName; }
    void join(const QString& session, const ConnectRequest&) override { asked << "join " + session; }
    void pause(int milliseconds) override { asked << QStringLiteral("pause %1").arg(milliseconds); }
    void closeSession() override { asked << "close"; }
    void stepReached(ConnectStep step) override {
        static const char* const names[] = {"opening", "dialling", "searching", "joining"};
        asked << QString::fromLatin1(names[static_cast<int>(step)]);
    }
    void finished(const ConnectResult& r) override {
        asked << "finished";
        result = r;
    }
};

struct Fixture {
    Driver driver;
    ConnectMachine machine{driver};
    std::int64_t now = 0;  // the virtual clock, in milliseconds

    Fixture() { driver.machine = &machine; }

    void start(const ConnectRequest& request) { machine.start(request, now); }
    // The search reports; then the pause it asked for passes on the virtual clock.
    void searchEnds(HRESULT result, const QStringList& sessions = {}) {
        machine.searched(result, sessions, {}, now);
        if (driver.asked.last().startsWith("pause")) {
            now += ConnectMachine::RetryPauseMs;
            machine.paused(now);
        }
    }
    ConnectOutcome outcome() const { return driver.result.value().outcome; }
};

ConnectRequest modemCall(int retries = 20) {
    ConnectRequest request;
    request.method = ConnectRequest::Method::Modem;
    request.calling = true;
    request.sessionName = "Chat";
    request.playerName = "Ann";
    request.retries = retries;
    return request;
}

ConnectRequest cable(bool calling) {
    ConnectRequest request;
    request.calling = calling;
    request.sessionName = "Chat";
    request.playerName = "Ann";
    return request;
}

TEST(ConnectMachineTest, HostingOpensTheSessionAndEndsConnected) {
    Fixture f;
    f.start(cable(false));
    EXPECT_TRUE(f.machine.running());
    EXPECT_EQ(f.driver.asked, QStringList({"provider cable", "opening", "host Chat"}));
    f.machine.opened();
    EXPECT_FALSE(f.machine.running());
    EXPECT_EQ(f.outcome(), ConnectOutcome::Connected);
    // A late report of something the machine no longer waits for changes nothing.
    f.machine.openFailed(DPERR_GENERIC, "late");
    EXPECT_EQ(f.outcome(), ConnectOutcome::Connected);
}

TEST(ConnectMachineTest, AModemCallDialsThenSearchesAgainUntilASessionIsFound) {
    Fixture f;
    f.start(modemCall());
    EXPECT_EQ(f.driver.asked, QStringList({"provider modem", "dialling", "search"}));
    for (int i = 0; i < 5; ++i) {
        f.searchEnds(DP_OK);
    }
    f.searchEnds(DPERR_GENERIC, {"First", "Second"});  // a later code is not looked at
    EXPECT_EQ(f.driver.asked.count("search"), 6);
    EXPECT_EQ(f.driver.asked.count("pause 100"), 5);
    EXPECT_EQ(f.driver.asked.count("dialling"), 1) << "only the first search dials";
    EXPECT_EQ(f.driver.asked.mid(f.driver.asked.size() - 2),
              QStringList({"joining", "join First"}));
    f.machine.opened();
    EXPECT_EQ(f.outcome(), ConnectOutcome::Connected);
}

TEST(ConnectMachineTest, EveryStepsFailureEndsTheAttemptWithItsOutcome) {
    // Nothing found: the first search and every retry, then the session is closed.
    for (const int retries : {0, 20, 100}) {
        Fixture f;
        f.start(modemCall(retries));
        for (int i = 0; i <= retries; ++i) {
            ASSERT_TRUE(f.machine.running()) << i;
            f.searchEnds(DP_OK);
        }
        EXPECT_EQ(f.driver.asked.count("search"), retries + 1);
        EXPECT_EQ(f.driver.asked.mid(f.driver.asked.size() - 2),
                  QStringList({"close", "finished"}));
        EXPECT_EQ(f.outcome(), ConnectOutcome::NoSession);
    }
    // The first search fails (a busy line): its code is told, the provider stays chosen.
    {
        Fixture f;
        f.start(modemCall());
        f.searchEnds(static_cast<HRESULT>(0x88770100));
        EXPECT_EQ(f.outcome(), ConnectOutcome::SearchFailed);
        EXPECT_EQ(f.driver.result->code, static_cast<HRESULT>(0x88770100));
        EXPECT_FALSE(f.driver.asked.contains("close"));
    }
    // Another version on the other side, at the first search or a later one.
    for (const int at : {1, 4}) {
        Fixture f;
        f.start(modemCall());
        for (int i = 1; i < at; ++i) {
            f.searchEnds(DP_OK);
        }
        f.machine.searched(DPERR_INCOMPATIBLEPEER, {}, "version 2 against 1", f.now);
        EXPECT_EQ(f.outcome(), ConnectOutcome::OtherVersion);
        EXPECT_EQ(f.driver.result->detail, "version 2 against 1");
        EXPECT_TRUE(f.driver.asked.contains("close"));
    }
    // The provider cannot be chosen: nothing is searched.
    {
        Fixture f;
        f.driver.providerFails = true;
        f.start(cable(true));
        EXPECT_EQ(f.outcome(), ConnectOutcome::Failed);
        EXPECT_EQ(f.driver.result->detail, "Provider's specified GUID is not found");
        EXPECT_FALSE(f.driver.asked.contains("search"));
    }
    // Hosting or joining fails with the component's words; a prompt's cancel says nothing.
    for (const bool calling : {false, true}) {
        Fixture f;
        f.start(cable(calling));
        if (calling) {
            f.searchEnds(DP_OK, {"Theirs"});
        }
        f.machine.openFailed(DPERR_CONNECTIONLOST, "Session Theirs cannot be opened");
        EXPECT_EQ(f.outcome(), ConnectOutcome::Failed);
        EXPECT_EQ(f.driver.result->detail, "Session Theirs cannot be opened");
    }
    {
        Fixture f;
        f.start(cable(false));
        f.machine.openFailed(DPERR_USERCANCEL, {});
        EXPECT_EQ(f.outcome(), ConnectOutcome::Cancelled);
    }
}

TEST(ConnectMachineTest, ACancelAtEveryStepClosesAndEndsAtOnce) {
    // Cancelled while opening the host's line, while dialling, while searching again, during a
    // pause between searches, and while joining.
    const std::vector<std::function<void(Fixture&)>> reach = {
        [](Fixture& f) { f.start(cable(false)); },
        [](Fixture& f) { f.start(modemCall()); },
        [](Fixture& f) {
            f.start(modemCall());
            f.searchEnds(DP_OK);
        },
        [](Fixture& f) {
            f.start(modemCall());
            f.machine.searched(DP_OK, {}, {}, f.now);  // the pause has not passed
        },
        [](Fixture& f) {
            f.start(cable(true));
            f.searchEnds(DP_OK, {"Theirs"});
        },
    };
    for (std::size_t step = 0; step < reach.size(); ++step) {
        Fixture f;
        reach[step](f);
        ASSERT_TRUE(f.machine.running()) << step;
        f.machine.cancel();
        EXPECT_FALSE(f.machine.running()) << step;
        EXPECT_EQ(f.outcome(), ConnectOutcome::Cancelled) << step;
        EXPECT_EQ(f.driver.asked.mid(f.driver.asked.size() - 2),
                  QStringList({"close", "finished"}))
            << step;
        // What the closed component might still report is ignored: nothing more is asked.
        const qsizetype asked = f.driver.asked.size();
        f.machine.searched(DP_OK, {"Late"}, {}, f.now);
        f.machine.paused(f.now);
        f.machine.opened();
        EXPECT_EQ(f.driver.asked.size(), asked) << step;
        EXPECT_EQ(f.outcome(), ConnectOutcome::Cancelled) << step;
    }
    // Nothing runs: a cancel does nothing.
    Fixture idle;
    idle.machine.cancel();
    EXPECT_TRUE(idle.driver.asked.isEmpty());
}

TEST(ConnectMachineTest, TheOtherSideVanishingAtEveryStep) {
    // The host's side goes while the caller searches: later searches find nothing, and after
    // the time allowed the attempt ends with no session.
    {
        Fixture f;
        ConnectRequest request = cable(true);
        request.searchForMs = 1000;
        f.start(request);
        while (f.machine.running()) {
            f.searchEnds(DP_OK);
        }
        EXPECT_EQ(f.outcome(), ConnectOutcome::NoSession);
        EXPECT_GE(f.now, 1000);
        EXPECT_EQ(f.driver.asked.count("search"), 11) << "one search every pause until 1 s";
    }
    // ...while the caller joins the session it found: the join fails as lost.
    {
        Fixture f;
        f.start(modemCall());
        f.searchEnds(DP_OK, {"Chat"});
        f.machine.openFailed(DPERR_CONNECTIONLOST, "Session Chat cannot be opened");
        EXPECT_EQ(f.outcome(), ConnectOutcome::Failed);
        EXPECT_EQ(f.driver.result->code, DPERR_CONNECTIONLOST);
    }
    // A second attempt after one ended starts afresh.
    {
        Fixture f;
        f.start(cable(true));
        f.searchEnds(DP_OK);
        ASSERT_EQ(f.outcome(), ConnectOutcome::NoSession);
        f.driver.asked.clear();
        f.start(cable(false));
        EXPECT_EQ(f.driver.asked, QStringList({"provider cable", "opening", "host Chat"}));
    }
}

}  // namespace
}  // namespace velmora
