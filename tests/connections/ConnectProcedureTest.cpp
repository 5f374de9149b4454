#include "ConnectFixture.h"

#include "connections/ConnectProcedure.h"
#include "session/service/SessionWire.h"

#include <gtest/gtest.h>

namespace velmora {
namespace {

using test::ConnectFixture;

// The connect steps' window, recording what they show.
struct Window {
    QStringList messages;
    QStringList errors;
    QStringList cursor;  // "busy" / "normal" in order
    int waited = 0;
    std::function<void()> onWait;
    bool cancelled = false;  // the user's Esc or Cancel

    ConnectHooks hooks() {
        return {[this](const QString& text) { messages << text; },
                [this](const QString& text) { errors << text; },
                [this](bool busy) { cursor << (busy ? "busy" : "normal"); },
                [this](int ms) {
                    EXPECT_EQ(ms, 100);
                    ++waited;
                    if (onWait) {
                        onWait();
                    }
                },
                [this] { return cancelled; }};
    }
};

ConnectRequest request(bool nullModem, bool calling) {
    ConnectRequest r;
    r.nullModem = nullModem;
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

TEST(ConnectProcedureTest, HostingOverModemAndCable) {
    ConnectFixture f;
    Window w;
    ConnectRequest host = request(false, false);
    f.play.ModemSetting().PhoneNumber = "old";
    ASSERT_TRUE(runConnect(f.play, host, w.hooks()));
    EXPECT_TRUE(f.play.Opened());
    EXPECT_TRUE(f.play.IsHost());
    EXPECT_EQ(f.play.ProviderName(), "Modem Connection");
    EXPECT_EQ(f.play.SessionName(), "Chat");
    EXPECT_TRUE(f.play.ModemSetting().Enabled);
    EXPECT_EQ(f.play.ModemSetting().ModemName, "USB Modem");
    EXPECT_EQ(f.play.ModemSetting().PhoneNumber, "");
    EXPECT_EQ(f.script().playerName.shortName, "Ann");
    EXPECT_TRUE(w.messages.isEmpty());
    EXPECT_TRUE(w.cursor.isEmpty());

    f.play.Close();
    host.otherModem = true;
    ASSERT_TRUE(runConnect(f.play, host, w.hooks()));
    EXPECT_FALSE(f.play.ModemSetting().Enabled);
    EXPECT_EQ(f.play.ModemSetting().ModemName, "USB Modem");

    // The cable leaves the modem settings as they were.
    f.play.Close();
    ConnectRequest master = request(true, false);
    master.modemName = "ignored";
    ASSERT_TRUE(runConnect(f.play, master, w.hooks()));
    EXPECT_EQ(f.play.ProviderName(), "Serial Connection");
    EXPECT_TRUE(f.play.IsHost());
    EXPECT_EQ(f.play.ModemSetting().ModemName, "USB Modem");
    EXPECT_EQ(f.script().enumSessionsCalls, 0);
}

TEST(ConnectProcedureTest, ModemCallJoinsTheFirstSessionFoundAfterRetries) {
    ConnectFixture f;
    Window w;
    w.onWait = [&] {
        if (w.waited == 5) {
            f.hostElsewhere({"First", "Second"});
        }
    };
    ASSERT_TRUE(runConnect(f.play, request(false, true), w.hooks()));
    EXPECT_TRUE(f.play.Opened());
    EXPECT_FALSE(f.play.IsHost());
    EXPECT_EQ(f.play.SessionName(), "First");
    EXPECT_EQ(f.play.ModemSetting().PhoneNumber, "555 1234");
    EXPECT_TRUE(f.play.ModemSetting().Enabled);
    EXPECT_EQ(w.waited, 6) << "the search after the fifth wait finds it, then one more wait";
    EXPECT_EQ(f.script().enumSessionsCalls, 7);
    EXPECT_EQ(w.cursor, (QStringList{"busy", "normal"}));
    EXPECT_TRUE(w.messages.isEmpty());
}

TEST(ConnectProcedureTest, ModemCallFailures) {
    // Nobody waits: the first search and 20 more, then the message and a closed component.
    {
        ConnectFixture f;
        Window w;
        EXPECT_FALSE(runConnect(f.play, request(false, true), w.hooks()));
        EXPECT_EQ(f.script().enumSessionsCalls, 21);
        EXPECT_EQ(w.waited, 20);
        EXPECT_EQ(w.messages, QStringList{"No sessions were found on remote computer!"});
        EXPECT_EQ(f.play.ProviderName(), "");
        EXPECT_EQ(w.cursor.last(), "normal");
    }
    // The wizard's call with "Other modem..." tries up to 100 times.
    {
        ConnectFixture f;
        Window w;
        ConnectRequest other = request(false, true);
        other.otherModem = true;
        other.retries = 100;
        f.play.ModemSetting().PhoneNumber = "kept";
        EXPECT_FALSE(runConnect(f.play, other, w.hooks()));
        EXPECT_EQ(w.waited, 100);
        EXPECT_FALSE(f.play.ModemSetting().Enabled);
        EXPECT_EQ(f.play.ModemSetting().PhoneNumber, "kept");
    }
    // A failing first search: the line is busy, the provider stays set, no retries.
    {
        ConnectFixture f;
        Window w;
        f.script().enumResult = DPERR_GENERIC;
        EXPECT_FALSE(runConnect(f.play, request(false, true), w.hooks()));
        EXPECT_EQ(w.messages, QStringList{"Line is busy!"});
        EXPECT_EQ(f.play.ProviderName(), "Modem Connection");
        EXPECT_EQ(w.waited, 0);
        EXPECT_TRUE(w.cursor.isEmpty());
    }
    // A cancelled prompt of the provider ends silently, also in the middle of the retries.
    {
        ConnectFixture f;
        Window w;
        w.onWait = [&] {
            if (w.waited == 3) {
                f.script().enumResult = DPERR_USERCANCEL;
            }
        };
        EXPECT_FALSE(runConnect(f.play, request(false, true), w.hooks()));
        EXPECT_TRUE(w.messages.isEmpty());
        EXPECT_TRUE(w.errors.isEmpty());
        EXPECT_FALSE(f.play.Opened());
        EXPECT_EQ(w.cursor.last(), "normal");
    }
}

TEST(ConnectProcedureTest, TheUsersCancelAndAnotherVersionEndTheSearch) {
    // Esc during the retries of a modem call: no more searches, nothing shown.
    {
        ConnectFixture f;
        Window w;
        w.onWait = [&] { w.cancelled = w.waited == 3; };
        EXPECT_FALSE(runConnect(f.play, request(false, true), w.hooks()));
        EXPECT_EQ(w.waited, 3);
        EXPECT_TRUE(w.messages.isEmpty());
        EXPECT_TRUE(w.errors.isEmpty());
        EXPECT_FALSE(f.play.Opened());
        EXPECT_EQ(w.cursor.last(), "normal");
    }
    // A side of another version is told as such, over either line.
    for (const bool nullModem : {false, true}) {
        ConnectFixture f;
        Window w;
        f.script().enumResult = DPERR_INCOMPATIBLEPEER;
        EXPECT_FALSE(runConnect(f.play, request(nullModem, true), w.hooks()));
        EXPECT_EQ(w.messages, QStringList{OtherVersionMessage});
        EXPECT_FALSE(f.play.Opened());
    }
    // A link of another version says so in its own words, with both versions.
    {
        ConnectFixture f;
        Window w;
        const QString linkWords =
            "The other computer runs version 2 of the Velmora serial link, this one version 1: "
            "both sides need the same version of Velmora.";
        f.script().enumResult = DPERR_INCOMPATIBLEPEER;
        f.script().refusalText = linkWords;
        EXPECT_FALSE(runConnect(f.play, request(true, true), w.hooks()));
        EXPECT_EQ(w.messages, QStringList{linkWords});
    }
}

TEST(ConnectProcedureTest, CableCallSearchesOnceAndReportsNothingFound) {
    ConnectFixture f;
    Window w;
    EXPECT_FALSE(runConnect(f.play, request(true, true), w.hooks()));
    EXPECT_EQ(f.script().enumSessionsCalls, 1);
    EXPECT_EQ(w.messages, QStringList{"No sessions were found on remote computer!"});
    EXPECT_EQ(f.play.ProviderName(), "");

    f.script().enumResult = DPERR_GENERIC;  // not looked at
    f.hostElsewhere({"Theirs"});
    w.messages.clear();
    ASSERT_TRUE(runConnect(f.play, request(true, true), w.hooks()));
    EXPECT_EQ(f.play.SessionName(), "Theirs");
    EXPECT_EQ(f.play.ProviderName(), "Serial Connection");
    EXPECT_TRUE(w.messages.isEmpty());
    EXPECT_TRUE(w.cursor.isEmpty());
}

TEST(ConnectProcedureTest, ComponentErrorsAreShownAndCancelsAreSilent) {
    ConnectFixture f;
    Window w;
    ConnectRequest nameless = request(false, false);
    nameless.playerName.clear();
    EXPECT_FALSE(runConnect(f.play, nameless, w.hooks()));
    EXPECT_EQ(w.errors, QStringList{"Player name is not specified"});
    EXPECT_FALSE(f.play.Opened());

    w.errors.clear();
    ConnectFixture missing;  // no serial provider installed
    missing.system.providers = {{guids::ServiceProviderModem, "Modem Connection"}};
    EXPECT_FALSE(runConnect(missing.play, request(true, false), w.hooks()));
    EXPECT_EQ(w.errors.size(), 1);
    EXPECT_FALSE(missing.play.Opened());

    w.errors.clear();
    f.script().openResult = DPERR_USERCANCEL;
    EXPECT_FALSE(runConnect(f.play, request(true, false), w.hooks()));
    EXPECT_TRUE(w.errors.isEmpty());
    EXPECT_TRUE(w.messages.isEmpty());
    EXPECT_FALSE(f.play.Opened());
}

}  // namespace
}  // namespace velmora
