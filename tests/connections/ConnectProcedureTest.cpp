#include "ConnectFixture.h"

#include "connections/ConnectProcedure.h"
#include "peer/Connector.h"
#include "session/service/SessionWire.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <optional>

namespace velmora {
namespace {

using test::ConnectFixture;

// The connect sequence over the fake service, as the dialogs and velmora-cli start it.
struct Attempt : ConnectFixture {
    Connector connector{play};
    QStringList steps;
    std::optional<ConnectResult> result;

    Attempt() {
        QObject::connect(&connector, &Connector::progress, [this](ConnectStep step) {
            steps << connectStepText(step, request);
        });
        QObject::connect(&connector, &Connector::ended,
                         [this](const ConnectResult& r) { result = r; });
    }

    ConnectRequest request;
    ConnectOutcome run(const ConnectRequest& r) {
        request = r;
        result.reset();
        connector.start(r);
        EXPECT_TRUE(test::pumpUntil([&] { return result.has_value(); }));
        return result ? result->outcome : ConnectOutcome::Failed;
    }
};

ConnectRequest request(bool nullModem, bool calling) {
    ConnectRequest r;
    r.method = nullModem ? ConnectRequest::Method::Cable : ConnectRequest::Method::Modem;
    r.calling = calling;
    r.sessionName = "Chat";
    r.playerName = "Ann";
    r.modemName = "USB Modem";
    r.phoneNumber = "555 1234";
    return r;
}

TEST(ConnectProcedureTest, NamesAndBlockSizeCode) {
    EXPECT_EQ(playerNameFor("Ann", "login"), "Ann");
    EXPECT_EQ(playerNameFor("", "login"), "login");
    EXPECT_EQ(playerNameFor("", QString(300, u'x')).size(), 256);
    EXPECT_EQ(playerNameFor("", ""), "");
    EXPECT_EQ(sessionNameFor(""), "VelmoraSession");
    EXPECT_EQ(sessionNameFor(" "), " ");
    EXPECT_EQ(blockSizeCodeFor(true, 3), 5);
    EXPECT_EQ(blockSizeCodeFor(false, 2), 2);
    EXPECT_EQ(blockSizeCodeFor(false, 4), 4);
    // An options file with a value outside 2..4 must not select a block the sender lacks.
    EXPECT_EQ(blockSizeCodeFor(false, 99), 4);
    EXPECT_EQ(blockSizeCodeFor(false, -1), 2);
}

TEST(ConnectProcedureTest, HostingOverModemAndCableSetsTheProvider) {
    Attempt f;
    f.play.ModemSetting().PhoneNumber = "old";
    EXPECT_EQ(f.run(request(false, false)), ConnectOutcome::Connected);
    EXPECT_EQ(f.steps, QStringList{"Opening modem..."});
    EXPECT_TRUE(f.play.Opened());
    EXPECT_TRUE(f.play.IsHost());
    EXPECT_EQ(f.play.ProviderName(), "Modem Connection");
    EXPECT_EQ(f.play.SessionName(), "Chat");
    EXPECT_TRUE(f.play.ModemSetting().Enabled);
    EXPECT_EQ(f.play.ModemSetting().ModemName, "USB Modem");
    EXPECT_EQ(f.play.ModemSetting().PhoneNumber, "");
    EXPECT_EQ(f.script().playerName.shortName, "Ann");

    ConnectRequest other = request(false, false);
    other.otherModem = true;
    EXPECT_EQ(f.run(other), ConnectOutcome::Connected);
    EXPECT_FALSE(f.play.ModemSetting().Enabled);
    EXPECT_EQ(f.play.ModemSetting().ModemName, "USB Modem");

    // The cable leaves the modem settings as they were.
    ConnectRequest master = request(true, false);
    master.modemName = "ignored";
    f.steps.clear();
    EXPECT_EQ(f.run(master), ConnectOutcome::Connected);
    EXPECT_EQ(f.steps, QStringList{"Opening port..."});
    EXPECT_EQ(f.play.ProviderName(), "Serial Connection");
    EXPECT_TRUE(f.play.IsHost());
    EXPECT_EQ(f.play.ModemSetting().ModemName, "USB Modem");
    EXPECT_EQ(f.script().enumSessionsCalls, 0);
}

TEST(ConnectProcedureTest, CallingFindsAndJoinsTheFirstSession) {
    Attempt f;
    f.hostElsewhere({"First", "Second"});
    EXPECT_EQ(f.run(request(false, true)), ConnectOutcome::Connected);
    EXPECT_EQ(f.steps, QStringList({"Dialling 555 1234...", "Joining the other computer's session..."}));
    EXPECT_FALSE(f.play.IsHost());
    EXPECT_EQ(f.play.SessionName(), "First");
    EXPECT_EQ(f.play.ModemSetting().PhoneNumber, "555 1234");

    // Over the cable a failing search that still found the session joins it.
    f.script().enumResult = DPERR_GENERIC;
    f.hostElsewhere({"Theirs"});
    f.steps.clear();
    EXPECT_EQ(f.run(request(true, true)), ConnectOutcome::Connected);
    EXPECT_EQ(f.steps.first(), "Looking for the other computer...");
    EXPECT_EQ(f.play.SessionName(), "Theirs");
    EXPECT_EQ(f.play.ProviderName(), "Serial Connection");
}

TEST(ConnectProcedureTest, FailuresSayWhatTheWindowShows) {
    // Nothing found over the cable: one search, the message, a closed component.
    {
        Attempt f;
        EXPECT_EQ(f.run(request(true, true)), ConnectOutcome::NoSession);
        EXPECT_EQ(f.script().enumSessionsCalls, 1);
        EXPECT_EQ(connectFailureText(*f.result, f.request), NoSessionsMessage);
        EXPECT_EQ(f.play.ProviderName(), "");
    }
    // A failing first search of a modem call: the line is busy, the provider stays set.
    {
        Attempt f;
        f.script().enumResult = DPERR_GENERIC;
        EXPECT_EQ(f.run(request(false, true)), ConnectOutcome::SearchFailed);
        EXPECT_EQ(connectFailureText(*f.result, f.request), LineBusyMessage);
        EXPECT_EQ(f.play.ProviderName(), "Modem Connection");
        EXPECT_EQ(f.script().enumSessionsCalls, 1);
    }
    // Another version, in its own words when the link has them.
    for (const QString& words : {QString(), QStringLiteral("The other computer runs version 2")}) {
        Attempt f;
        f.script().enumResult = DPERR_INCOMPATIBLEPEER;
        f.script().refusalText = words;
        EXPECT_EQ(f.run(request(true, true)), ConnectOutcome::OtherVersion);
        EXPECT_EQ(connectFailureText(*f.result, f.request),
                  words.isEmpty() ? OtherVersionMessage : words);
        EXPECT_FALSE(f.play.Opened());
    }
    // The component's own errors, and a provider's cancelled prompt, which says nothing.
    {
        Attempt f;
        ConnectRequest nameless = request(false, false);
        nameless.playerName.clear();
        EXPECT_EQ(f.run(nameless), ConnectOutcome::Failed);
        EXPECT_EQ(connectFailureText(*f.result, f.request), "Player name is not specified");
        f.script().openResult = DPERR_USERCANCEL;
        EXPECT_EQ(f.run(request(true, false)), ConnectOutcome::Cancelled);
        EXPECT_EQ(connectFailureText(*f.result, f.request), "");
        EXPECT_FALSE(f.play.Opened());
    }
    {
        Attempt missing;  // no serial provider installed
        missing.system.providers = {{guids::ServiceProviderModem, "Modem Connection"}};
        EXPECT_EQ(missing.run(request(true, false)), ConnectOutcome::Failed);
        EXPECT_FALSE(missing.result->detail.isEmpty());
    }
}

TEST(ConnectProcedureTest, ACancelEndsTheAttemptAtOnceAndTheComponentIsClosed) {
    Attempt f;
    f.connector.start(request(false, true));  // the search runs on the worker
    f.connector.cancel();
    ASSERT_TRUE(f.result.has_value()) << "the cancel is told before it returns";
    EXPECT_EQ(f.result->outcome, ConnectOutcome::Cancelled);
    EXPECT_EQ(f.play.ProviderName(), "");
    EXPECT_FALSE(f.connector.running());
    // The search's own outcome, when it comes, is dropped.
    EXPECT_TRUE(test::pumpUntil([&] { return !f.play.Busy() && !f.play.Releasing(); }));
    EXPECT_EQ(f.result->outcome, ConnectOutcome::Cancelled);
}

}  // namespace
}  // namespace velmora
