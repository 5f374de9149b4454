#include "ConnectFixture.h"

#include "connections/ConnectionStatus.h"
#include "connections/ConnectionStatusView.h"
#include "session/SystemMessages.h"

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
    int transferStops = 0;
    int threadsStarted = 0;
    int threadsStopped = 0;

    void setConnectionCommandsEnabled(bool enabled) override { commandsEnabled = enabled; }
    void setStatusText(const QString& text) override { status = text; }
    void appendConversationLine(const QString& line) override { conversation << line; }
    void setMessageFieldText(const QString& text) override { messageField = text; }
    void setWasConnected() override { wasConnected = true; }
    void stopAllTransfers() override { ++transferStops; }
    void startSendThread() override { ++threadsStarted; }
    void stopSendThread() override { ++threadsStopped; }
    int threadsRunning() const { return threadsStarted - threadsStopped; }
};

struct StatusFixture : ConnectFixture {
    RecordingView view;
    ConnectionStatus status{play, view};

    StatusFixture() {
        status.attach();
        status.showInitialState();
    }
    void host() {
        play.setProviderName("Serial Connection");
        play.OpenSession(true, "Chat", "Ann");
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
    EXPECT_EQ(f.view.threadsRunning(), 1);

    ASSERT_TRUE(f.remoteJoins());
    EXPECT_EQ(f.view.status, "Connected");
    EXPECT_EQ(f.view.conversation.last(), "Connected.");
    EXPECT_EQ(f.view.messageField, "Type your message here and press Enter to send it.");

    ASSERT_TRUE(f.remoteLeaves());
    EXPECT_EQ(f.view.status, "Not connected");
    EXPECT_EQ(f.view.conversation.last(), "Remote user disconnected.");
    EXPECT_TRUE(f.view.commandsEnabled) << "the session is still open";
    EXPECT_EQ(f.view.transferStops, 1);
    EXPECT_EQ(f.view.threadsRunning(), 0);

    // A new caller on the same session gets a file sender again.
    ASSERT_TRUE(f.remoteJoins());
    EXPECT_EQ(f.view.status, "Connected");
    EXPECT_EQ(f.view.threadsRunning(), 1);

    f.play.Close();
    EXPECT_FALSE(f.view.commandsEnabled);
    EXPECT_EQ(f.view.status, "Not connected");
    EXPECT_EQ(f.view.threadsRunning(), 0);
    EXPECT_EQ(f.view.conversation,
              (QStringList{"Waiting for remote user...", "Connected.", "Remote user disconnected.",
                           "Connected.", "Disconnected."}));
    EXPECT_EQ(f.view.messageField, "Type your message here and press Enter to send it.")
        << "nothing puts the connect prompt back";
}

TEST(ConnectionStatusTest, JoiningShowsConnectedTwice) {
    StatusFixture f;
    f.hostElsewhere({"Theirs"});
    f.play.setProviderName("Serial Connection");
    f.play.OpenSession(false, "Theirs", "Bob");
    EXPECT_EQ(f.view.status, "Connected");
    EXPECT_EQ(f.view.conversation, (QStringList{"Connected.", "Connected."}));
    EXPECT_EQ(f.view.messageField, "Type your message here and press Enter to send it.");
    EXPECT_EQ(f.view.threadsRunning(), 1);
    EXPECT_EQ(f.view.threadsStarted, 1) << "one sender for the session";
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
    EXPECT_EQ(f.view.transferStops, 2);
    EXPECT_EQ(f.view.threadsStarted, 1);
    EXPECT_EQ(f.view.threadsStopped, 1) << "the close finds the sender already gone";
    EXPECT_FALSE(f.play.Opened());
}

}  // namespace
}  // namespace velmora
