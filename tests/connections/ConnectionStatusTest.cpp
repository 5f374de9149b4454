#include "ConnectFixture.h"

#include "connections/ConnectionStatus.h"
#include "connections/ConnectionStatusView.h"
#include "peer/Peer.h"
#include "session/SystemMessages.h"
#include "support/FixedTransferSettings.h"
#include "support/SessionSteps.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

#include <gtest/gtest.h>

namespace velmora {
namespace {

using test::ConnectFixture;

constexpr DPID RemoteId = 2000;

// The main window as the status sees it.
struct RecordingView : ConnectionStatusView {
    bool commandsEnabled = true;
    QString status;
    QStringList conversation;
    QString messageField;
    bool wasConnected = false;

    void setConnectionCommandsEnabled(bool enabled) override { commandsEnabled = enabled; }
    void setStatusText(const QString& text) override { status = text; }
    void appendConversationLine(const QString& line) override { conversation << line; }
    void setMessageFieldText(const QString& text) override { messageField = text; }
    void setWasConnected() override { wasConnected = true; }
};

// The status over a peer whose session component runs over the scripted service.
struct StatusFixture : ConnectFixture {
    TCustomDXPlay& session = play;
    RecordingView view;
    ConnectionStatus status{peer, view};

    StatusFixture() {
        session.setGUID(test::ApplicationGuid);
        status.showInitialState();
    }
    void host() {
        session.setProviderName("Serial Connection");
        test::openSession(session, true, "Chat", "Ann");
    }
    bool pumpUntil(const std::function<bool()>& done) {
        QElapsedTimer timer;
        timer.start();
        while (!done()) {
            if (timer.elapsed() > 20000) {
                return false;
            }
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
            QThread::msleep(1);
        }
        return true;
    }
    bool notice(const QByteArray& bytes, int linesBefore) {
        script().post(DPID_SYSMSG, bytes);
        return pumpUntil([&] { return view.conversation.size() > linesBefore; });
    }
    bool remoteJoins() {
        CreatePlayerNotice created;
        created.id = RemoteId;
        created.name = DPNAME{true, "Bob"};
        return notice(encodeCreatePlayer(created), static_cast<int>(view.conversation.size()));
    }
    bool remoteLeaves() {
        return notice(encodeDestroyPlayer({DPPLAYERTYPE_PLAYER, RemoteId}),
                      static_cast<int>(view.conversation.size()));
    }
};

TEST(ConnectionStatusTest, HostLifecycleWithACallerComingAndGoing) {
    StatusFixture f;
    EXPECT_FALSE(f.view.commandsEnabled);
    EXPECT_EQ(f.view.status, "Not connected");
    EXPECT_EQ(f.view.messageField, "Please, connect before sending messages or files.");

    f.view.messageField = "draft";
    f.host();
    EXPECT_TRUE(f.view.commandsEnabled);
    EXPECT_TRUE(f.view.wasConnected);
    EXPECT_EQ(f.view.status, "Waiting for remote user...");
    EXPECT_EQ(f.view.conversation, QStringList{"Waiting for remote user..."});
    EXPECT_EQ(f.view.messageField, "draft") << "the prompt waits until someone joins";
    EXPECT_TRUE(f.peer.senderRunning());

    ASSERT_TRUE(f.remoteJoins());
    EXPECT_EQ(f.view.status, "Connected");
    EXPECT_EQ(f.view.conversation.last(), "Connected.");
    EXPECT_EQ(f.view.messageField, "Type your message here and press Enter to send it.");

    // The session stays open and takes the next caller: this side waits, and says so.
    ASSERT_TRUE(f.remoteLeaves());
    ASSERT_TRUE(f.pumpUntil([&] { return f.view.status == "Waiting for remote user..."; }));
    EXPECT_EQ(f.view.conversation.mid(2),
              (QStringList{"Remote user disconnected.", "Waiting for remote user..."}));
    EXPECT_TRUE(f.view.commandsEnabled) << "the session is still open";
    EXPECT_FALSE(f.peer.senderRunning());

    // A new caller on the same session gets a file sender again.
    ASSERT_TRUE(f.remoteJoins());
    EXPECT_EQ(f.view.status, "Connected");
    EXPECT_TRUE(f.peer.senderRunning());

    f.session.Close();
    EXPECT_FALSE(f.view.commandsEnabled);
    EXPECT_EQ(f.view.status, "Not connected");
    EXPECT_FALSE(f.peer.senderRunning());
    EXPECT_EQ(f.view.conversation,
              (QStringList{"Waiting for remote user...", "Connected.", "Remote user disconnected.",
                           "Waiting for remote user...", "Connected.", "Disconnected."}));
    EXPECT_EQ(f.view.messageField, "Type your message here and press Enter to send it.")
        << "nothing puts the connect prompt back";
}

TEST(ConnectionStatusTest, JoiningShowsConnectedOnce) {
    StatusFixture f;
    f.hostElsewhere({"Theirs"});
    f.session.setProviderName("Serial Connection");
    test::enumerateSessions(f.session);
    test::openSession(f.session, false, "Theirs", "Bob");
    EXPECT_EQ(f.view.status, "Connected");
    EXPECT_EQ(f.view.conversation, QStringList{"Connected."});
    EXPECT_EQ(f.view.messageField, "Type your message here and press Enter to send it.");
    EXPECT_TRUE(f.peer.senderRunning());
}

TEST(ConnectionStatusTest, SessionLostStopsEverythingThenCloses) {
    StatusFixture f;
    f.host();
    ASSERT_TRUE(f.remoteJoins());
    const int before = static_cast<int>(f.view.conversation.size());
    ASSERT_TRUE(f.notice(encodeSessionLost(), before + 1));
    ASSERT_TRUE(f.pumpUntil([&] { return f.view.conversation.size() >= before + 2; }));
    EXPECT_EQ(f.view.conversation.mid(before), (QStringList{"Connection lost!", "Disconnected."}));
    EXPECT_FALSE(f.view.commandsEnabled);
    EXPECT_EQ(f.view.status, "Not connected");
    EXPECT_FALSE(f.peer.senderRunning());
    EXPECT_FALSE(f.session.Opened());
}

TEST(ConnectionStatusTest, ASessionLostAsTheOtherSideLeavesDoesNotWait) {
    // A caller whose host cannot go on: the host's player goes and the session is lost at once.
    StatusFixture f;
    f.host();
    ASSERT_TRUE(f.remoteJoins());
    const int before = static_cast<int>(f.view.conversation.size());
    f.script().post(DPID_SYSMSG, encodeDestroyPlayer({DPPLAYERTYPE_PLAYER, RemoteId}));
    f.script().post(DPID_SYSMSG, encodeSessionLost());
    ASSERT_TRUE(f.pumpUntil([&] { return f.view.conversation.size() >= before + 3; }));
    QCoreApplication::processEvents();
    EXPECT_EQ(f.view.conversation.mid(before),
              (QStringList{"Remote user disconnected.", "Connection lost!", "Disconnected."}));
    EXPECT_EQ(f.view.status, "Not connected");
}

}  // namespace
}  // namespace velmora
