#include "CliProcess.h"
#include "TwoWindows.h"
#include "peer/Peer.h"

#include "conversation/Conversation.h"
#include "session/DXPlay.h"
#include "support/TestEnvironment.h"
#include "support/WindowParts.h"

#include <QAction>
#include <QDir>
#include <QFileInfo>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QMenu>
#include <QTest>
#include <QTextEdit>
#include <QTreeView>

#include <gtest/gtest.h>

namespace velmora {
namespace {

using test::Computer;
using test::connectAnnAndBob;
using test::pumpFor;
using test::pumpUntil;

// Ann's and Bob's windows over a fast cable, connected; the options go into their options files.
struct Connected {
    explicit Connected(const QByteArray& annOptions = {}, const QByteArray& bobOptions = {})
        : ann(cable.linkA(), "Ann", annOptions), bob(cable.linkB(), "Bob", bobOptions) {
        connectAnnAndBob(ann, bob);
    }

    NullModemCable cable{test::fastCable()};
    Computer ann;
    Computer bob;
};

QString viewText(const Computer& computer) {
    return test::part<QTextEdit>(computer.main(), "MessagesEdit")->toPlainText();
}

TEST(TwoWindows, ConnectTalkInBothModesAndDisconnect) {
    NullModemCable cable(test::fastCable());
    Computer ann(cable.linkA(), "Ann");
    Computer bob(cable.linkB(), "Bob");
    EXPECT_FALSE(ann.main().commandEnabled("Sendfile1"));
    connectAnnAndBob(ann, bob);
    EXPECT_EQ(ann.lines(), (QStringList{"Waiting for remote user...", "Connected."}));
    EXPECT_EQ(bob.lines(), QStringList{"Connected."}) << "said once by the side that joined";
    EXPECT_TRUE(ann.main().commandEnabled("Sendfile1"));
    EXPECT_TRUE(bob.main().commandEnabled("Closeconnection1"));
    EXPECT_EQ(test::part<QLineEdit>(bob.main(), "EditMessage")->placeholderText(),
              "Type your message here and press Enter to send it.");

    // Chat mode: each line on both sides under its sender's name; an empty line is not sent.
    const QStringList chat{"Ann>    Hello Bob", QString::fromUtf8("Bob>    Grüße, 5 €"),
                           "Ann>    end"};
    ann.say("Hello Bob");
    ASSERT_TRUE(pumpUntil([&] { return bob.lines().size() == 2; }));
    bob.say(QString::fromUtf8("Grüße, 5 €"));
    ASSERT_TRUE(pumpUntil([&] { return ann.lines().size() == 4; }));
    ann.say(QString());
    ann.say("end");
    ASSERT_TRUE(pumpUntil([&] { return bob.lines().size() == 4; }));
    EXPECT_EQ(ann.lines().mid(2), chat);
    EXPECT_EQ(bob.lines().mid(1), chat);
    EXPECT_TRUE(test::part<QLineEdit>(ann.main(), "EditMessage")->text().isEmpty());

    // Classic mode on both sides: what one types shows once on each side, never echoed back.
    ann.main().runCommand("Classicmode1");
    bob.main().runCommand("Classicmode1");
    EXPECT_FALSE(test::part<QTextEdit>(ann.main(), "MessagesEdit")->isReadOnly());
    ann.typeKey(Qt::Key_H, "h");
    ann.typeKey(Qt::Key_I, "i");
    ann.typeKey(Qt::Key_X, "x");
    ann.typeKey(Qt::Key_Backspace);
    ASSERT_TRUE(pumpUntil([&] { return viewText(bob).endsWith("Ann>    end\nhi"); }));
    bob.typeKey(Qt::Key_Exclam, "!");
    ASSERT_TRUE(pumpUntil([&] { return viewText(ann).endsWith("Ann>    end\nhi!"); }, 5000))
        << viewText(ann).toStdString() << "\n--\n"
        << viewText(bob).toStdString();
    pumpFor(300);
    EXPECT_TRUE(viewText(ann).endsWith("Ann>    end\nhi!"));
    EXPECT_TRUE(viewText(bob).endsWith("Ann>    end\nhi!"));

    // Back to chat mode: the content stays.
    ann.main().runCommand("Chatmode1");
    EXPECT_TRUE(test::part<QTextEdit>(ann.main(), "MessagesEdit")->isReadOnly());
    EXPECT_TRUE(viewText(ann).endsWith("Ann>    end\nhi!"));

    bob.disconnect();
    EXPECT_EQ(bob.lines().last(), "Disconnected.");
    EXPECT_EQ(bob.status(), "Not connected");
    EXPECT_FALSE(bob.main().commandEnabled("Sendfile1"));
    // The host's session stays open for the next caller, and says so.
    ASSERT_TRUE(pumpUntil([&] { return ann.status() == "Waiting for remote user..."; }));
    EXPECT_EQ(ann.lines().mid(ann.lines().size() - 2),
              (QStringList{"Remote user disconnected.", "Waiting for remote user..."}));
    EXPECT_TRUE(ann.main().commandEnabled("Closeconnection1"));
    ann.disconnect();
    EXPECT_EQ(ann.lines().last(), "Disconnected.");
    EXPECT_FALSE(ann.main().peer().isOpen());
}

}  // namespace
}  // namespace velmora

namespace velmora {
namespace {

// Files of their own for a sender: name → bytes, written into a folder of the test's.
struct Files {
    QString folder = test::makeTempFolder("outgoing");
    QStringList paths;
    std::vector<QByteArray> contents;

    void add(const QString& name, const QByteArray& bytes) {
        paths << QDir(folder).filePath(name);
        contents.push_back(bytes);
        ASSERT_TRUE(test::writeFile(paths.last(), bytes));
    }
};

bool allArrived(const Files& files, const Computer& receiver) {
    for (std::size_t i = 0; i < files.contents.size(); ++i) {
        const QString name = QFileInfo(files.paths[static_cast<int>(i)]).fileName();
        if (test::readFile(receiver.incomingFolder() + name) != files.contents[i]) {
            return false;
        }
    }
    return receiver.transfers().rowCount() == 0;
}

// The first incoming line's bytes done, or -1 while there is none.
qint64 incomingDone(const Computer& computer) {
    const TransfersModel& model = computer.transfers();
    for (int row = 0; row < model.rowCount(); ++row) {
        if (!model.transfer(row).Outgoing) {
            return model.transfer(row).Done;
        }
    }
    return -1;
}

TEST(TwoWindows, FilesBothWaysAtOncePausedResumedAndAborted) {
    Connected connected;
    auto& [cable, ann, bob] = connected;

    // Three files each way at once, an empty one among them.
    Files fromAnn;
    fromAnn.add("report.bin", test::patternBytes(180000, 1));
    fromAnn.add("empty.txt", QByteArray());
    fromAnn.add(QString::fromUtf8("übersicht.dat"), test::patternBytes(70001, 2));
    Files fromBob;
    fromBob.add("photo.raw", test::patternBytes(150000, 3));
    fromBob.add("notes.txt", QByteArray("a few words\r\n"));
    fromBob.add("tiny", QByteArray(1, 'x'));
    ann.sendFiles(fromAnn.paths);
    bob.sendFiles(fromBob.paths);
    EXPECT_EQ(ann.transfers().rowCount(), 3);
    ASSERT_TRUE(pumpUntil([&] { return allArrived(fromAnn, bob) && allArrived(fromBob, ann); }));
    EXPECT_TRUE(pumpUntil([&] { return ann.transfers().rowCount() == 0; }));
    EXPECT_TRUE(bob.lines().contains("File report.bin received and saved into " +
                                     bob.main().options().Path));
    EXPECT_TRUE(
        ann.lines().contains("File tiny received and saved into " + ann.main().options().Path));

    // A large file, paused and resumed from each side.
    Files big;
    big.add("big.bin", test::patternBytes(1500000, 4));
    ann.sendFiles(big.paths);
    ASSERT_TRUE(pumpUntil([&] { return incomingDone(bob) > 0; }));
    ann.onLine(0, test::part<QAction>(ann.main(), "Pausetransfer1"));
    ASSERT_TRUE(
        pumpUntil([&] { return bob.notice() == "Remote computer paused transfer of big.bin!"; }));
    EXPECT_EQ(bob.transfers().transfer(0).State, tsPaused);
    // What was on the way has arrived: the receiver has all the sender sent.
    ASSERT_TRUE(pumpUntil([&] { return incomingDone(bob) == ann.transfers().transfer(0).Done; }));
    const qint64 pausedAt = incomingDone(bob);
    pumpFor(300);
    EXPECT_EQ(incomingDone(bob), pausedAt);
    bob.onLine(0, test::part<QAction>(bob.main(), "ResumeTransfer"));
    ASSERT_TRUE(
        pumpUntil([&] { return ann.notice() == "Remote computer resumed transfer of big.bin!"; }));
    ASSERT_TRUE(pumpUntil([&] { return incomingDone(bob) > pausedAt; }));
    bob.onLine(0, test::part<QAction>(bob.main(), "Pausetransfer2"));
    ASSERT_TRUE(
        pumpUntil([&] { return ann.notice() == "Remote computer paused transfer of big.bin!"; }));
    EXPECT_EQ(ann.transfers().transfer(0).State, tsPaused);
    ann.onLine(0, test::part<QAction>(ann.main(), "Resumetranfer1"));
    ASSERT_TRUE(pumpUntil([&] { return allArrived(big, bob); }));
    // The sender's line shows a while that the file arrived whole and verified, then goes.
    ASSERT_TRUE(pumpUntil([&] { return ann.transfers().rowCount() == 0; }));

    // Aborted by the receiver: the sender's line stops and waits, the own line goes by timer.
    Files aborted;
    aborted.add("aborted.bin", test::patternBytes(1500000, 5));
    bob.sendFiles(aborted.paths);
    ASSERT_TRUE(pumpUntil([&] { return incomingDone(ann) > 0; }));
    ann.onLine(0, test::part<QAction>(ann.main(), "Stoptransfers1"));
    EXPECT_EQ(ann.transfers().transfer(0).State, tsAborted);
    EXPECT_FALSE(ann.main().commandEnabled("Stoptransfers1"));  // the line was unselected
    ASSERT_TRUE(pumpUntil(
        [&] { return bob.notice() == "Remote computer aborted transfer of aborted.bin!"; }));
    EXPECT_EQ(bob.transfers().transfer(0).State, tsStopped);
    EXPECT_EQ(bob.transfers().transfer(0).EndWords, "aborted by Ann");
    ASSERT_TRUE(pumpUntil([&] { return ann.transfers().rowCount() == 0; }, 2000));
    // A stopped line can only be removed or sent again; it goes at once when removed.
    bob.onLine(0, test::part<QAction>(bob.main(), "Removetransfer2"));
    EXPECT_EQ(bob.transfers().rowCount(), 0);
}

}  // namespace
}  // namespace velmora

namespace velmora {
namespace {

TEST(TwoWindows, PlugPulledWithReconnectingOffThenResumedAfterConnectingByHand) {
    Connected connected("Reconnect=0\n", "Reconnect=0\n");
    auto& [cable, ann, bob] = connected;

    Files big;
    big.add("big.bin", test::patternBytes(1200000, 6));
    ann.sendFiles(big.paths);
    ASSERT_TRUE(pumpUntil([&] { return incomingDone(bob) > 200000; }));
    cable.unplug();
    ASSERT_TRUE(pumpUntil([&] {
        return ann.lines().contains("Connection lost!") && bob.lines().contains("Connection lost!");
    }));
    ASSERT_TRUE(pumpUntil([&] {
        return ann.lines().last() == "Disconnected." && bob.lines().last() == "Disconnected.";
    }));
    for (Computer* side : {&ann, &bob}) {
        EXPECT_EQ(side->status(), "Not connected");
        EXPECT_FALSE(side->main().commandEnabled("Sendfile1"));
        ASSERT_EQ(side->transfers().rowCount(), 1) << side->lines().join("|").toStdString();
        EXPECT_EQ(side->transfers().transfer(0).State, tsStopped);
        EXPECT_EQ(side->transfers().transfer(0).EndWords, "the connection was lost");
        EXPECT_FALSE(side->main().peer().senderRunning());
        // Its clock has stopped, and only removing it is offered (sending again needs a
        // connection).
        const ProgressTexts stopped = side->transfers().progress(0);
        pumpFor(600);
        EXPECT_EQ(side->transfers().progress(0), stopped);
        QTreeView& list = *test::part<QTreeView>(side->main(), "TransfersListView");
        list.selectionModel()->select(side->transfers().index(0, 0),
                                      QItemSelectionModel::Select | QItemSelectionModel::Rows);
        for (const char* name : {"Stoptransfers1", "Pausetransfer1", "ResumeTransfer",
                                 "Aborttransfer1", "Sendagain1"}) {
            EXPECT_FALSE(side->main().commandEnabled(name)) << name;
        }
        EXPECT_TRUE(side->main().commandEnabled("Removetransfer1"));
        EXPECT_TRUE(side->main().commandEnabled("Clearended1"));
    }
    // The stopped lines are removed by the users; the partial file stays.
    ann.onLine(0, test::part<QAction>(ann.main(), "Removetransfer1"));
    bob.main().runCommand("Clearended1");
    EXPECT_EQ(bob.transfers().rowCount(), 0);
    const qint64 partial = QFileInfo(bob.incomingFolder() + "big.bin.part").size();
    EXPECT_GT(partial, 200000);
    EXPECT_LT(partial, big.contents[0].size());

    cable.plugIn();
    connectAnnAndBob(ann, bob);
    qint64 firstDone = -1;
    QObject::connect(&ann.transfers(), &TransfersModel::progressChanged, &ann.main(), [&](int row) {
        if (firstDone < 0 && ann.transfers().transfer(row).Done > 0) {
            firstDone = ann.transfers().transfer(row).Done;
        }
    });
    ann.sendFiles(big.paths);
    ASSERT_TRUE(pumpUntil([&] { return allArrived(big, bob); }));
    // Sending went on from what the receiver already held.
    EXPECT_GT(firstDone, partial - 1);
}

bool containsLine(const Computer& computer, const QString& start) {
    const QStringList lines = computer.lines();
    return std::any_of(lines.begin(), lines.end(),
                       [&start](const QString& line) { return line.startsWith(start); });
}

// The cable's plug pulled and put back in mid-transfer: both windows show the lost line and the
// waiting transfers, and the transfers go on by themselves once the line is back.
TEST(TwoWindows, PlugPulledMidTransferGoesOnByItselfOnceTheLineIsBack) {
    Connected connected;
    auto& [cable, ann, bob] = connected;

    Files fromAnn;
    fromAnn.add("big.bin", test::patternBytes(1200000, 7));
    Files fromBob;
    fromBob.add("other.bin", test::patternBytes(900000, 8));
    ann.sendFiles(fromAnn.paths);
    bob.sendFiles(fromBob.paths);
    ASSERT_TRUE(pumpUntil([&] { return incomingDone(bob) > 200000 && incomingDone(ann) > 0; }));
    cable.unplug();
    ASSERT_TRUE(pumpUntil(
        [&] { return containsLine(ann, "Line lost at ") && containsLine(bob, "Line lost at "); }));
    for (Computer* side : {&ann, &bob}) {
        EXPECT_TRUE(side->lines().last().endsWith(", trying to get it back..."));
        EXPECT_EQ(side->status(), "Not connected");
        // Disconnect stays, to end the wait; the lines wait without having failed.
        EXPECT_TRUE(side->main().commandEnabled("Closeconnection1"));
        ASSERT_EQ(side->transfers().rowCount(), 2);
        for (int row = 0; row < 2; ++row) {
            EXPECT_EQ(side->transfers().transfer(row).State, tsStopped);
            EXPECT_EQ(side->transfers().transfer(row).EndWords,
                      "waiting for the line to come back");
        }
        EXPECT_EQ(side->transfers().outcomes().failed, 0);
        EXPECT_FALSE(side->lines().contains("Connection lost!"));
    }
    cable.plugIn();
    ASSERT_TRUE(pumpUntil([&] { return allArrived(fromAnn, bob) && allArrived(fromBob, ann); }));
    ASSERT_TRUE(pumpUntil([&] { return ann.transfers().rowCount() == 0; }));
    for (Computer* side : {&ann, &bob}) {
        EXPECT_TRUE(containsLine(*side, "Line back at ")) << side->lines().join('|').toStdString();
        const QStringList lines = side->lines();
        EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [](const QString& line) {
            return line.endsWith("; 2 transfers continue");
        }));
        EXPECT_EQ(side->status(), "Connected");
        EXPECT_EQ(side->transfers().outcomes().failed, 0);
        EXPECT_EQ(side->transfers().outcomes().verifiedWhole, 2);  // one sent, one received
        // No second copy under a free name.
        EXPECT_EQ(QDir(side->incomingFolder()).entryList(QDir::Files).size(), 1);
    }
}

// Esc ends the wait for a lost line: the transfers that waited end as failed.
TEST(TwoWindows, EscEndsTheWaitForALostLine) {
    Connected connected;
    auto& [cable, ann, bob] = connected;
    Files big;
    big.add("big.bin", test::patternBytes(1200000, 9));
    ann.sendFiles(big.paths);
    ASSERT_TRUE(pumpUntil([&] { return incomingDone(bob) > 100000; }));
    cable.unplug();
    ASSERT_TRUE(pumpUntil([&] { return containsLine(ann, "Line lost at "); }));
    // In the conversation, which leaves Esc to the window.
    QTest::keyClick(test::part<QTextEdit>(ann.main(), "MessagesEdit"), Qt::Key_Escape);
    ASSERT_TRUE(pumpUntil([&] { return ann.lines().last() == "Disconnected."; }))
        << ann.lines().join('|').toStdString();
    EXPECT_FALSE(ann.main().peer().reconnecting());
    ASSERT_EQ(ann.transfers().rowCount(), 1);
    EXPECT_EQ(ann.transfers().transfer(0).EndWords, "the connection was closed");
    EXPECT_EQ(ann.transfers().outcomes().failed, 1);
    // Bob still waits; Ann's side does not come back.
    cable.plugIn();
    pumpFor(1500);
    EXPECT_TRUE(bob.main().peer().reconnecting());
    EXPECT_FALSE(containsLine(ann, "Line back at "));
}

// Block incoming files: both menu items agree, and offers are refused while it is on.
TEST(TwoWindows, BlockedOffersStopTheSendersLine) {
    Connected connected;
    auto& [cable, ann, bob] = connected;

    bob.main().runCommand("Blocktransfers2");
    EXPECT_TRUE(bob.main().incomingBlocked());
    EXPECT_TRUE(bob.main().commandChecked("Blocktransfers1"));
    Files files;
    files.add("unwanted.bin", test::patternBytes(5000, 7));
    ann.sendFiles(files.paths);
    ASSERT_TRUE(pumpUntil([&] { return ann.transfers().transfer(0).State == tsStopped; }));
    EXPECT_EQ(ann.transfers().transfer(0).EndWords, "Bob does not accept files");
    EXPECT_TRUE(
        ann.lines().contains("The file unwanted.bin was refused: Bob does not accept files."));
    EXPECT_TRUE(bob.lines().contains(
        "Refused the file \"unwanted.bin\" offered by Ann: Block incoming files is on."));
    EXPECT_EQ(bob.transfers().rowCount(), 0);
    EXPECT_FALSE(QFileInfo::exists(bob.incomingFolder() + "unwanted.bin"));

    bob.main().runCommand("Blocktransfers1");
    EXPECT_FALSE(bob.main().incomingBlocked());
    test::part<QMenu>(bob.main(), "UsersPopupMenu")->aboutToShow();
    EXPECT_FALSE(bob.main().commandChecked("Blocktransfers2"));
    // Sent again from its line, which makes way for the new one.
    ann.onLine(0, test::part<QAction>(ann.main(), "Sendagain2"));
    ASSERT_TRUE(pumpUntil([&] { return allArrived(files, bob); }));
}

}  // namespace
}  // namespace velmora

namespace velmora {
namespace {

// Alone in a hosted session: with the internal loop a file goes to this side's own incoming
// folder; without it Send file says there is nobody to send to.
TEST(OneWindow, InternalLoopSendsToTheOwnIncomingFolder) {
    NullModemCable cable(test::fastCable());
    Files files;
    files.add("looped.bin", test::patternBytes(300000, 8));
    {
        Computer alone(cable.linkA(), "Ann", "InternalLoop=1\n");
        ASSERT_TRUE(alone.connectByCable(true));
        alone.sendFiles(files.paths);
        ASSERT_TRUE(pumpUntil([&] { return allArrived(files, alone); }));
        EXPECT_TRUE(alone.dialogs().messages().isEmpty());
        EXPECT_TRUE(alone.lines().contains("File looped.bin received and saved into " +
                                           alone.main().options().Path));
    }
    Computer alone(cable.linkA(), "Ann");
    ASSERT_TRUE(alone.connectByCable(true));
    alone.sendFiles(files.paths);
    EXPECT_EQ(alone.dialogs().messages(),
              QStringList{"There is nobody to send files to: the remote computer has not joined "
                          "the connection yet."});
    EXPECT_EQ(alone.transfers().rowCount(), 0);

    // Not connected at all: the command cannot be chosen, and no file dialog comes.
    alone.disconnect();
    EXPECT_FALSE(alone.main().commandEnabled("Sendfile1"));
    alone.main().runCommand("Sendfile1");
    EXPECT_EQ(alone.dialogs().pendingAnswers(), 0);
}

}  // namespace
}  // namespace velmora

namespace velmora {
namespace {

// A large file over a noisy line as fast as the terminals take it.
// At a real line rate the blocks queued for the line take about a second (4 KiB blocks, three
// or so at a time at 115200 baud): a chat line typed meanwhile overtakes them.
TEST(TwoWindows, AChatLineOvertakesTheFileBlockOnTheLine) {
    CableOptions options = test::fastCable();
    options.line.baud = 115200;
    NullModemCable cable(options);
    Computer ann(cable.linkA(), "Ann");
    Computer bob(cable.linkB(), "Bob");
    connectAnnAndBob(ann, bob);
    Files file;
    file.add("blocks.bin", test::patternBytes(3 * 32768, 12));
    ann.sendFiles(file.paths);
    // Typed once the first block has arrived and at least two more (0.7 s of this line) are
    // on their way; how many the sender has handed over by then depends on when its thread
    // saw the acknowledgement, so the test waits for that instead of assuming it.
    ASSERT_TRUE(pumpUntil([&] {
        return incomingDone(bob) > 0 &&
               ann.transfers().transfer(0).Carried - incomingDone(bob) >= 8192;
    }));
    const qint64 sentWhenTyped = ann.transfers().transfer(0).Carried;
    test::part<QLineEdit>(ann.main(), "EditMessage")->setText("while the file flows");
    ann.main().runCommand("Send1");
    qint64 doneWhenShown = -1;
    ASSERT_TRUE(pumpUntil([&] {
        if (bob.lines().contains("Ann>    while the file flows")) {
            doneWhenShown = incomingDone(bob);
            return true;
        }
        return false;
    }));
    // The line is shown while blocks sent before it are still on their way: it did not wait
    // behind them.
    EXPECT_LT(doneWhenShown, sentWhenTyped);
    ASSERT_TRUE(pumpUntil([&] { return allArrived(file, bob); }, 120000));
}

TEST(TwoWindows, FiveMegabytesArriveWholeOverANoisyLine) {
    CableOptions options = test::fastCable(1e-5, 5);
    options.line.baud = 0;
    options.seed = 5;
    NullModemCable cable(options);
    Computer ann(cable.linkA(), "Ann");
    Computer bob(cable.linkB(), "Bob");
    connectAnnAndBob(ann, bob);
    Files large;
    large.add("large.bin", test::patternBytes(5 * 1024 * 1024, 9));
    ann.sendFiles(large.paths);
    ASSERT_TRUE(pumpUntil([&] { return allArrived(large, bob); }, 120000));
    const CableCounters noise = cable.counters();
    EXPECT_GT(noise.aToB.flipped + noise.aToB.inserted, 0u);
}

}  // namespace
}  // namespace velmora

namespace velmora {
namespace {

// Closing the window while a file moves: the question names it; waiting closes the window once
// it has arrived; closing now ends at once and the other side says which file was cut off.
TEST(TwoWindows, ClosingWhileAFileMovesAsksAndCanWaitForIt) {
    Connected connected("AskExit=0\n");
    auto& [cable, ann, bob] = connected;
    ann.main().show();
    Files big;
    big.add("big.bin", test::patternBytes(1500000, 6));
    ann.sendFiles(big.paths);
    ASSERT_TRUE(pumpUntil([&] { return incomingDone(bob) > 0; }));

    // Cancel: nothing changes. Yes: the window waits for the file, then closes by itself.
    ann.dialogs().answerQuestion(DialogButton::Cancel);
    ann.main().close();
    const QString question =
        "1 file is still being sent or received: big.bin.\n\n"
        "Yes: wait until it is done, then close Velmora.\n"
        "No: close now and cut it off.\n"
        "Cancel: keep Velmora open.";
    EXPECT_EQ(ann.dialogs().questions(), QStringList{question});
    EXPECT_TRUE(ann.main().isVisible());
    EXPECT_NE(ann.notice(), "Velmora closes when the files are done.");
    ann.dialogs().answerQuestion(DialogButton::Yes);
    ann.main().close();
    EXPECT_TRUE(ann.main().isVisible());
    EXPECT_TRUE(ann.main().peer().isOpen());
    EXPECT_EQ(ann.notice(), "Velmora closes when the files are done.");
    ASSERT_TRUE(pumpUntil([&] { return !ann.main().isVisible(); }));
    EXPECT_TRUE(allArrived(big, bob)) << "the window closed once the file was there";
    EXPECT_EQ(ann.dialogs().questions().size(), 2);
    ASSERT_TRUE(pumpUntil([&] { return bob.status() == "Waiting for remote user..."; }));
}

TEST(TwoWindows, ClosingNowCutsTheFileOffAndTheOtherSideNamesIt) {
    Connected connected("AskExit=0\n");
    auto& [cable, ann, bob] = connected;
    ann.main().show();
    Files files;
    files.add("first.bin", test::patternBytes(1500000, 7));
    files.add("second.bin", test::patternBytes(1500000, 8));
    ann.sendFiles(files.paths);
    ASSERT_TRUE(pumpUntil([&] { return incomingDone(bob) > 0; }));

    // No: the window goes at once, without waiting for the line; the goodbye follows.
    ann.dialogs().answerQuestion(DialogButton::No);
    ann.main().close();
    ASSERT_EQ(ann.dialogs().questions().size(), 1);
    EXPECT_TRUE(ann.dialogs().questions()[0].startsWith(
        "2 files are still being sent or received: first.bin, second.bin."));
    EXPECT_FALSE(ann.main().isVisible());
    EXPECT_FALSE(ann.main().peer().isOpen());
    EXPECT_FALSE(ann.main().peer().senderRunning());
    ASSERT_TRUE(pumpUntil([&] { return bob.lines().contains("Remote user disconnected."); }));
    EXPECT_TRUE(bob.lines().contains("Cut off as Ann left: first.bin, second.bin."))
        << bob.lines().join('|').toStdString();
    EXPECT_TRUE(pumpUntil([&] { return bob.status() == "Waiting for remote user..."; }));
}

}  // namespace
}  // namespace velmora

namespace velmora {
namespace {

TEST(TwoWindows, ChatAndFilesBothWaysOverTheNetworkBehindThePassphrase) {
    const quint16 port = test::freeLoopbackPort();
    Computer ann(test::noCable(), "Ann");
    Computer bob(test::noCable(), "Bob");
    ASSERT_TRUE(ann.connectByNetwork(true, port));
    EXPECT_EQ(ann.status(), "Waiting for remote user...");
    ASSERT_TRUE(bob.connectByNetwork(false, port));
    ASSERT_TRUE(pumpUntil([&] { return ann.status() == "Connected"; }));
    EXPECT_EQ(bob.status(), "Connected");
    const QString where = QStringLiteral("127.0.0.1:%1").arg(port);
    for (Computer* side : {&ann, &bob}) {
        // Asked once, naming the line; the answer was taken.
        ASSERT_EQ(side->dialogs().records().size(), 1u);
        EXPECT_EQ(side->dialogs().records()[0].call, ScriptedDialogService::Call::Text);
        EXPECT_EQ(side->dialogs().records()[0].text, "Passphrase of the line with " + where + ":");
        EXPECT_EQ(side->dialogs().pendingAnswers(), 0);
    }

    ann.say("Hello Bob, over the network");
    ASSERT_TRUE(
        pumpUntil([&] { return bob.lines().contains("Ann>    Hello Bob, over the network"); }));
    bob.say(QString::fromUtf8("Grüße zurück, 5 €"));
    ASSERT_TRUE(pumpUntil(
        [&] { return ann.lines().contains(QString::fromUtf8("Bob>    Grüße zurück, 5 €")); }));

    Files fromAnn;
    fromAnn.add("report.bin", test::patternBytes(1500000, 41));
    Files fromBob;
    fromBob.add(QString::fromUtf8("übersicht.dat"), test::patternBytes(700001, 42));
    ann.sendFiles(fromAnn.paths);
    bob.sendFiles(fromBob.paths);
    ASSERT_TRUE(pumpUntil([&] { return allArrived(fromAnn, bob) && allArrived(fromBob, ann); }));
    ASSERT_TRUE(pumpUntil([&] { return ann.transfers().rowCount() == 0; }));
    for (Computer* side : {&ann, &bob}) {
        EXPECT_EQ(side->transfers().outcomes().verifiedWhole, 2);  // one sent, one received
        EXPECT_EQ(side->transfers().outcomes().failed, 0);
        EXPECT_TRUE(side->dialogs().messages().isEmpty());
    }
    EXPECT_TRUE(bob.lines().contains("File report.bin received and saved into " +
                                     bob.main().options().Path));

    // The host waits for the next caller once this one has gone.
    bob.disconnect();
    ASSERT_TRUE(pumpUntil([&] { return ann.status() == "Waiting for remote user..."; }));
    EXPECT_TRUE(ann.lines().contains("Remote user disconnected."));
}

// A caller whose passphrase differs: both windows say why, nothing the caller typed reaches the
// host, and the host takes the next caller, this time with the right passphrase.
TEST(TwoWindows, DifferentPassphrasesAreRefusedOnBothSidesAndTheHostTakesTheNextCaller) {
    const quint16 port = test::freeLoopbackPort();
    Computer ann(test::noCable(), "Ann");
    Computer bob(test::noCable(), "Bob");
    ASSERT_TRUE(ann.connectByNetwork(true, port, "open sesame"));
    EXPECT_FALSE(bob.connectByNetwork(false, port, "open sesam"));
    EXPECT_EQ(bob.dialogs().messages(),
              QStringList{QStringLiteral("The passphrase is not the same as the other computer's "
                                         "(127.0.0.1:%1): no connection was made.")
                              .arg(port)});
    EXPECT_EQ(bob.status(), "Not connected");
    EXPECT_FALSE(bob.main().peer().isOpen());
    EXPECT_FALSE(bob.main().commandEnabled("Sendfile1"));
    ASSERT_TRUE(pumpUntil([&] { return ann.lines().size() == 2; }));
    const QString refused = ann.lines().last();
    EXPECT_TRUE(refused.startsWith("A caller at 127.0.0.1:")) << refused.toStdString();
    EXPECT_TRUE(refused.endsWith(" was turned away: its passphrase is not the same as this one."))
        << refused.toStdString();
    EXPECT_EQ(ann.status(), "Waiting for remote user...");
    EXPECT_TRUE(ann.dialogs().messages().isEmpty()) << "the host says it in its conversation";
    // Typed while refused: not sent then, nor later.
    bob.say("typed while refused");

    ASSERT_TRUE(bob.connectByNetwork(false, port, "open sesame"));
    bob.say("at last");
    ASSERT_TRUE(pumpUntil([&] { return ann.lines().contains("Bob>    at last"); }));
    EXPECT_EQ(ann.lines(), (QStringList{"Waiting for remote user...", refused, "Connected.",
                                        "Bob>    at last"}));
    EXPECT_EQ(ann.status(), "Connected");
    EXPECT_EQ(bob.dialogs().messages().size(), 1);
}

}  // namespace
}  // namespace velmora
