// Every way a transfers line ends, on both sides, on a virtual clock: its clock stops, its words
// say why, and only what can still be done is offered (remove it; outgoing, send it again).

#include "TransferTestPeers.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <QFileInfo>

using namespace velmora;
using namespace velmora::test;

namespace {

class TransferEndingsTest : public LinkInFolder {
protected:
    TransferEndingsTest() : LinkInFolder(QStringLiteral("endings")) {}

    // Offers a file from a to b, lets the offer be answered and the first blocks cross, with
    // the clocks at 1 s and 3 s.
    void startSending(const QString& name, int size = 20000) {
        setClocks(1000);
        link.a.engine->sendFiles({source(name, patternBytes(size, 9))}, link.opponentOf(link.a));
        link.deliverAll();
        for (std::uint32_t tick = 2000; tick <= 3000; tick += 500) {
            setClocks(tick);
            link.a.cycle();
            link.deliverAll();
        }
    }

    void setClocks(std::uint32_t tick) {
        link.a.clock.tick = tick;
        link.b.clock.tick = tick;
    }

    static QString text(const TransfersModel& model, int row, int column) {
        return model.data(model.index(row, column)).toString();
    }

    // The row has ended: its figures stand still however long the clock runs, no time is left,
    // the Speed column and the tip say the words.
    void expectEnded(TestPeer& peer, int row, TransferState state, const QString& words) {
        const TransfersModel& model = peer.model();
        ASSERT_LT(row, model.rowCount());
        EXPECT_EQ(model.transfer(row).State, state);
        EXPECT_TRUE(model.transfer(row).ended());
        EXPECT_EQ(text(model, row, colSpeed), words);
        EXPECT_EQ(model.data(model.index(row, colFileName), Qt::ToolTipRole).toString(), words);
        EXPECT_EQ(text(model, row, colLeft), "");
        const ProgressTexts before = model.progress(row);
        peer.clock.tick += 90'000;
        peer.engine->refresh();
        EXPECT_EQ(model.progress(row), before);
    }
};

TEST_F(TransferEndingsTest, ARunningLineTicksAndAVerifiedOneStops) {
    startSending("v.bin");
    // Both running lines count the same bytes, and their clocks run between blocks.
    EXPECT_EQ(link.a.model().transfer(0).counted(), link.b.model().transfer(0).counted());
    EXPECT_GT(link.b.model().transfer(0).counted(), 0);
    setClocks(5000);
    link.a.engine->refresh();
    link.b.engine->refresh();
    EXPECT_EQ(text(link.a.model(), 0, colElapsed), "00:00:04");
    EXPECT_EQ(text(link.b.model(), 0, colElapsed), "00:00:04");
    EXPECT_FALSE(link.a.engine->canSendAgain(0));

    link.runToEnd();
    ASSERT_EQ(link.a.model().rowCount(), 1);
    expectEnded(link.a, 0, tsFinished, "verified");
    EXPECT_EQ(text(link.a.model(), 0, colPercent), "100 %");
    EXPECT_FALSE(link.a.engine->canSendAgain(0));
    EXPECT_EQ(link.b.model().rowCount(), 0);
}

TEST_F(TransferEndingsTest, AbortedHereAndThere) {
    startSending("x.bin");
    link.a.engine->abort({0});
    link.deliverAll();
    expectEnded(link.a, 0, tsAborted, "aborted here");
    expectEnded(link.b, 0, tsStopped, "aborted by alice");
    EXPECT_EQ(link.b.notices.statuses.back(), "Remote computer aborted transfer of x.bin!");
    // An abort by the user needs no line of its own in the conversation.
    EXPECT_TRUE(link.b.notices.lines.empty());
    EXPECT_TRUE(link.a.engine->canSendAgain(0));
    EXPECT_FALSE(link.b.engine->canSendAgain(0));
    // Nothing brings an ended line back.
    link.b.engine->resume({0});
    link.b.engine->pause({0});
    EXPECT_EQ(link.b.model().transfer(0).State, tsStopped);
    EXPECT_TRUE(link.b.takeOutbox().empty());
}

TEST_F(TransferEndingsTest, ARefusalSaysWhyOnBothSides) {
    link.b.settings.blocked = true;
    link.a.engine->sendFiles({source("no.bin", patternBytes(100, 1))}, link.opponentOf(link.a));
    link.deliverAll();
    expectEnded(link.a, 0, tsStopped, "bob does not accept files");
    EXPECT_EQ(link.a.notices.lines.back(),
              "The file no.bin was refused: bob does not accept files.");
    EXPECT_EQ(link.b.notices.lines.back(),
              "Refused the file \"no.bin\" offered by alice: Block incoming files is on.");
    EXPECT_TRUE(link.a.engine->canSendAgain(0));

    // A receiver of the first version gives no reason: its refusal is all there is to say.
    link.b.olderPeer = true;
    link.a.engine->sendFiles({source("old.bin", patternBytes(100, 1))}, link.opponentOf(link.a));
    link.deliverAll();
    expectEnded(link.a, 1, tsStopped, "refused by bob");
}

TEST_F(TransferEndingsTest, AStopOnOneSideIsExplainedOnTheOther) {
    startSending("grows.bin");
    {
        QFile file(folder + "/out/grows.bin");
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Append));
        file.write("more");
    }
    link.runToEnd();
    expectEnded(link.a, 0, tsStopped, "the file changed while it was sent");
    expectEnded(link.b, 0, tsStopped, "the file changed while it was sent");
    EXPECT_EQ(link.b.notices.lines.back(),
              "The transfer of grows.bin was stopped: the file changed while it was sent.");
    EXPECT_TRUE(link.a.engine->canSendAgain(0));
}

TEST_F(TransferEndingsTest, ALostConnectionEndsEveryLineThatRan) {
    startSending("lost.bin");
    ASSERT_EQ(link.a.engine->unfinishedFiles(), QStringList{"lost.bin"});
    link.a.engine->stopAll(QStringLiteral("the connection was lost"));
    link.b.engine->stopAll(QStringLiteral("the connection was lost"));
    expectEnded(link.a, 0, tsStopped, "the connection was lost");
    expectEnded(link.b, 0, tsStopped, "the connection was lost");
    // Both conversations name the files cut off.
    EXPECT_EQ(link.a.notices.lines.back(), "Cut off as the connection was lost: lost.bin.");
    EXPECT_EQ(link.b.notices.lines.back(), "Cut off as the connection was lost: lost.bin.");
    EXPECT_TRUE(link.a.engine->unfinishedFiles().isEmpty());
    EXPECT_TRUE(link.a.engine->canSendAgain(0));
    EXPECT_FALSE(link.b.engine->canSendAgain(0));
    // A later end changes no words.
    link.a.engine->stopAll(QStringLiteral("the connection was closed"));
    EXPECT_EQ(link.a.model().transfer(0).EndWords, "the connection was lost");
}

TEST_F(TransferEndingsTest, RemoveClearEndedAndSendAgainTakeOnlyEndedLines) {
    startSending("a.bin");
    link.a.engine->sendFiles({source("b.bin", patternBytes(5000, 2))}, link.opponentOf(link.a));
    link.deliverAll();
    link.b.engine->abort({0});
    link.deliverAll();
    ASSERT_EQ(link.a.model().rowCount(), 2);
    EXPECT_TRUE(link.a.model().anyEnded());
    // Remove leaves a running line alone.
    link.a.engine->remove({1});
    EXPECT_EQ(link.a.model().rowCount(), 2);

    // Without a session nothing is offered and nothing is taken away.
    link.a.engine->sendAgain({0, 1}, std::nullopt);
    EXPECT_EQ(link.a.model().rowCount(), 2);
    EXPECT_EQ(link.a.notices.messages.back(), FileSender::NotConnectedMessage);
    // Sent again: the ended line gives way to a new one for the same file, which arrives.
    link.a.engine->sendAgain({0, 1}, link.opponentOf(link.a));
    ASSERT_EQ(link.a.model().rowCount(), 2);
    EXPECT_EQ(link.a.model().transfer(0).FileName, "b.bin");
    EXPECT_EQ(link.a.model().transfer(1).FileName, "a.bin");
    EXPECT_FALSE(link.a.model().transfer(1).ended());
    link.b.engine->clearEnded();
    link.runToEnd();
    EXPECT_EQ(fileBytes(link.b.settings.incoming + "a.bin"), patternBytes(20000, 9));

    // Clear ended takes every ended line and nothing else.
    link.a.engine->sendFiles({source("c.bin", patternBytes(5000, 3))}, link.opponentOf(link.a));
    link.a.engine->clearEnded();
    ASSERT_EQ(link.a.model().rowCount(), 1);
    EXPECT_EQ(link.a.model().transfer(0).FileName, "c.bin");
    link.a.engine->remove({0});
    EXPECT_EQ(link.a.model().rowCount(), 1);
}

TEST_F(TransferEndingsTest, ASenderLearnsTheTrueEndOfAFileItAbortedTooLate) {
    startSending("late.bin", 1500);
    // The rest, the digest and the end are on their way when the sender aborts.
    while (!link.a.model().transfer(0).awaitingVerdict()) {
        ASSERT_TRUE(link.a.cycle());
    }
    link.a.engine->abort({0});
    EXPECT_EQ(link.a.model().transfer(0).State, tsAborted);
    link.a.engine->removeFirstAborted();  // it stays for the verdict
    ASSERT_EQ(link.a.model().rowCount(), 1);
    link.deliverAll();
    ASSERT_EQ(link.a.model().rowCount(), 1);
    expectEnded(link.a, 0, tsFinished, "verified");
    EXPECT_EQ(link.a.model().outcomes().verifiedWhole, 1);
    EXPECT_EQ(link.a.model().outcomes().failed, 0);
    EXPECT_EQ(link.a.notices.lines.back(),
              "File late.bin arrived whole and verified. The abort came after its last byte had "
              "gone.");
    EXPECT_EQ(fileBytes(link.b.settings.incoming + "late.bin"), patternBytes(1500, 9));
}

TEST_F(TransferEndingsTest, AnAbortFromTheReceiverThatCrossesTheEndChangesNothingThere) {
    startSending("crossed.bin", 1500);
    while (!link.a.model().transfer(0).awaitingVerdict()) {
        ASSERT_TRUE(link.a.cycle());
    }
    // The receiver aborts before the last blocks reach it; they are written all the same.
    link.b.engine->abort({0});
    link.deliverAll();
    ASSERT_EQ(link.a.model().rowCount(), 1);
    expectEnded(link.a, 0, tsFinished, "verified");
    EXPECT_EQ(fileBytes(link.b.settings.incoming + "crossed.bin"), patternBytes(1500, 9));
}

TEST_F(TransferEndingsTest, ANoticeGoesWithTheStateItToldOf) {
    startSending("n.bin", 3000);
    link.b.engine->pause({0});
    link.deliverAll();
    EXPECT_EQ(link.a.notices.statuses.back(), "Remote computer paused transfer of n.bin!");
    link.b.engine->resume({0});
    link.deliverAll();
    EXPECT_EQ(link.a.notices.statuses.back(), "Remote computer resumed transfer of n.bin!");
    link.runToEnd();
    // The file arrived: the notice about its resume is gone.
    EXPECT_EQ(link.a.notices.statuses.back(), "");
    // A pause here ends the other side's notice of a resume as well.
    startSending("m.bin", 3000);
    link.a.engine->pause({1});
    link.deliverAll();
    link.a.engine->resume({1});
    link.deliverAll();
    EXPECT_EQ(link.b.notices.statuses.back(), "Remote computer resumed transfer of m.bin!");
    link.b.engine->pause({0});
    EXPECT_EQ(link.b.notices.statuses.back(), "");
}

}  // namespace
