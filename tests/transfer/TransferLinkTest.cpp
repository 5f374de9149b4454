#include "TransferTestPeers.h"
#include "support/TestEnvironment.h"
#include "transfer/FileDigests.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFileInfo>

#include <set>

using namespace velmora;
using namespace velmora::test;

namespace {

class TransferLinkTest : public ::testing::Test {
protected:
    TransferLinkTest() : folder(makeTempFolder(QStringLiteral("link"))), link(folder) {}

    QString source(const QString& name, const QByteArray& bytes) {
        QDir().mkpath(folder + "/out");
        return writtenFile(folder + "/out/" + name, bytes);
    }

    QString received(const TestPeer& peer, const QString& name) const {
        return peer.settings.incoming + name;
    }

    // The identifiers of the FileBlock messages in a side's outbox, in order; the outbox is
    // delivered afterwards.
    std::vector<int> sendCyclesAndListBlocks(TestPeer& peer, int cycles) {
        std::vector<int> ids;
        for (int i = 0; i < cycles; ++i) {
            peer.cycle();
            for (const SentMessage& message : peer.takeOutbox()) {
                if (const auto block = parseFileBlock(bytesOf(message.bytes))) {
                    ids.push_back(block->transferId);
                }
                link.peerOf(message.destination).deliver(message, peer);
            }
            link.deliverAll();
        }
        return ids;
    }

    // Runs both sides until nothing moves; returns the file bytes that FileBlocks from the side
    // carried.
    qint64 runCountingFileBytes(TestPeer& from) {
        qint64 bytes = 0;
        for (int i = 0; i < 100000; ++i) {
            const bool moved = link.a.cycle() | link.b.cycle();
            int delivered = 0;
            for (TestPeer* side : {&link.a, &link.b}) {
                for (const SentMessage& message : side->takeOutbox()) {
                    const auto block = parseFileBlock(bytesOf(message.bytes));
                    if (block && side == &from) {
                        bytes += static_cast<qint64>(block->data.size());
                    }
                    link.peerOf(message.destination).deliver(message, *side);
                    ++delivered;
                }
            }
            if (!moved && delivered == 0 && !link.busy()) {
                break;
            }
        }
        return bytes;
    }

    QString folder;
    TestLink link;
};

}  // namespace

TEST_F(TransferLinkTest, SeveralFilesArriveWholeTakingTurns) {
    const QByteArray one = patternBytes(5000, 1);
    const QByteArray two = patternBytes(3000, 2);
    const QByteArray empty;
    int ready = 0;
    QObject::connect(link.a.engine.get(), &TransferEngine::blocksReady, [&] { ++ready; });
    link.a.engine->sendFiles(
        {source("one.bin", one), source("two.bin", two), source("empty.txt", empty)},
        link.opponentOf(link.a));
    ASSERT_EQ(link.a.model().rowCount(), 3);
    EXPECT_EQ(link.a.model().stateImage(0), siSending);
    link.deliverAll();
    ASSERT_EQ(link.b.model().rowCount(), 3);
    EXPECT_EQ(ready, 3);  // one per accepted offer
    const int idOne = link.a.model().transfer(0).Id;
    const int idTwo = link.a.model().transfer(1).Id;
    const int idEmpty = link.a.model().transfer(2).Id;
    EXPECT_NE(idOne, idTwo);
    for (int row = 0; row < 3; ++row) {
        EXPECT_EQ(link.b.model().transfer(row).Id, link.a.model().transfer(row).Id);
        EXPECT_EQ(link.b.model().transfer(row).FileName, link.a.model().transfer(row).FileName);
    }

    // Block code 1 (512 bytes): the lines take one message each per turn; the empty file sends
    // its digest and its end, and its line shows that it arrived whole.
    const std::vector<int> ids = sendCyclesAndListBlocks(link.a, 7);
    EXPECT_EQ(ids, (std::vector<int>{idOne, idTwo, idOne, idTwo, idEmpty, idOne}));
    EXPECT_EQ(link.a.model().transfer(2).State, tsFinished);
    EXPECT_EQ(link.a.model().data(link.a.model().index(2, colSpeed)).toString(), "verified");
    EXPECT_EQ(link.b.model().rowCount(), 2);
    EXPECT_EQ(fileBytes(received(link.b, "empty.txt")), QByteArray());
    // The finished line goes with the removal timer once it has been shown a while.
    link.a.engine->removeFirstAborted();
    EXPECT_EQ(link.a.model().rowCount(), 3);
    link.a.clock.tick += TransferEngine::kFinishedShownMs;
    link.a.engine->removeFirstAborted();
    EXPECT_EQ(link.a.model().rowCount(), 2);

    // The block-size code is read every cycle. Blocks are no larger than the line carries in
    // well under half a second: before its rate is known, the smallest.
    link.a.settings.code = 2;
    link.a.cycle();
    const auto small = link.a.takeOutbox();
    ASSERT_EQ(small.size(), 1U);
    EXPECT_EQ(small.front().bytes.size(), 523);
    link.b.deliver(small.front(), link.a);
    for (int row = 0; row < 2; ++row) {
        RateWindow& window = link.a.model().transfer(row).Window;
        window.add(0, 0);
        window.add(1000, 100'000'000);
    }
    link.b.clock.tick = 500;
    link.a.cycle();
    const auto sent = link.a.takeOutbox();
    ASSERT_EQ(sent.size(), 1U);
    EXPECT_EQ(sent.front().bytes.size(), 1035);
    link.b.deliver(sent.front(), link.a);
    // A code out of range is taken as the nearest one.
    link.a.settings.code = 0;
    link.a.cycle();
    EXPECT_EQ(link.a.outbox.back().bytes.size(), 523);
    link.a.settings.code = 9;
    link.a.cycle();
    EXPECT_EQ(link.a.outbox.back().bytes.size(), 1048587);
    link.deliverAll();

    link.runToEnd();
    EXPECT_EQ(link.b.model().rowCount(), 0);
    EXPECT_EQ(fileBytes(received(link.b, "one.bin")), one);
    EXPECT_EQ(fileBytes(received(link.b, "two.bin")), two);
    EXPECT_EQ(link.b.notices.lines.size(), 3U);
    EXPECT_EQ(link.a.notices.lines.size(), 3U);
    EXPECT_TRUE(link.a.notices.lines.back().endsWith(" arrived whole and verified."));
    EXPECT_TRUE(link.a.notices.messages.empty());
    EXPECT_EQ(link.a.model().outcomes().verifiedWhole, 3);
    EXPECT_EQ(link.b.model().outcomes().verifiedWhole, 3);
    EXPECT_EQ(link.a.model().outcomes().failed + link.b.model().outcomes().failed, 0);
}

TEST_F(TransferLinkTest, ResumesAPartFileOnlyWhenItsPrefixIsTheSendersFile) {
    const QByteArray whole = patternBytes(20000, 3);
    writtenFile(received(link.b, "part.bin.part"), whole.left(7777));
    writtenFile(received(link.b, "full.bin.part"), whole);
    link.a.settings.code = 3;
    link.a.engine->sendFiles({source("part.bin", whole), source("full.bin", whole)},
                             link.opponentOf(link.a));
    // Only the missing bytes cross the line, once both prefixes were read back and compared.
    EXPECT_EQ(runCountingFileBytes(link.a), 20000 - 7777);
    EXPECT_EQ(fileBytes(received(link.b, "part.bin")), whole);
    EXPECT_EQ(fileBytes(received(link.b, "full.bin")), whole);
    EXPECT_FALSE(QFileInfo::exists(received(link.b, "part.bin.part")));
    EXPECT_EQ(link.a.model().outcomes().verifiedWhole, 2);
    EXPECT_EQ(link.b.model().outcomes().verifiedWhole, 2);
}

TEST_F(TransferLinkTest, APartFileOfAnotherFileIsLeftAloneAndTheFileComesFromTheStart) {
    const QByteArray whole = patternBytes(9000, 30);
    const QByteArray stranger = patternBytes(4000, 31);
    writtenFile(received(link.b, "doc.bin.part"), stranger);
    // Longer than the slice that is hashed per cycle, so that it takes several.
    const QByteArray big = patternBytes(int(kHashSliceBytes) * 2 + 5, 32);
    QByteArray bigPart = big.left(int(kHashSliceBytes) + 100);
    bigPart[int(kHashSliceBytes) + 50] = static_cast<char>(bigPart[int(kHashSliceBytes) + 50] ^ 1);
    writtenFile(received(link.b, "big.bin.part"), bigPart);
    link.a.settings.code = 6;
    link.a.engine->sendFiles({source("doc.bin", whole), source("big.bin", big)},
                             link.opponentOf(link.a));
    link.deliverAll();
    // No reply before the prefix is read back, and no byte before it is compared.
    EXPECT_TRUE(link.a.model().transfer(1).anyWaiting());
    EXPECT_EQ(runCountingFileBytes(link.a), whole.size() + big.size());
    EXPECT_EQ(fileBytes(received(link.b, "doc.bin")), whole);
    EXPECT_EQ(fileBytes(received(link.b, "doc.bin.part")), stranger);
    EXPECT_EQ(fileBytes(received(link.b, "big.bin")), big);
    EXPECT_EQ(fileBytes(received(link.b, "big.bin.part")), bigPart);
    EXPECT_EQ(link.b.model().outcomes().verifiedWhole, 2);
}

TEST_F(TransferLinkTest, AfterAStrangersPartTheNextTryResumesTheFilesOwnPart) {
    const QByteArray whole = patternBytes(30000, 40);
    const QByteArray stranger = patternBytes(5000, 41);
    // Another transfer's partial of a file of this name and size, from the day before.
    const QString strangers = received(link.b, "doc.bin.part");
    ASSERT_FALSE(markedPartial(strangers, stranger, 30000).isEmpty());
    QFile old(strangers);
    ASSERT_TRUE(old.open(QIODevice::ReadWrite));
    ASSERT_TRUE(old.setFileTime(QDateTime::currentDateTime().addDays(-1),
                                QFileDevice::FileModificationTime));
    old.close();

    // The first try starts again from 0 into a ".part" of its own, and the line is lost.
    link.a.engine->sendFiles({source("doc.bin", whole)}, link.opponentOf(link.a));
    link.deliverAll();
    for (int i = 0; i < 30; ++i) {
        link.a.cycle();
        link.b.cycle();
        link.deliverAll();
    }
    link.a.engine->stopAll(QStringLiteral("the connection was lost"));
    link.b.engine->stopAll(QStringLiteral("the connection was lost"));
    link.a.takeOutbox();
    const qint64 held = QFileInfo(received(link.b, "doc (2).bin.part")).size();
    ASSERT_GT(held, 0);
    ASSERT_LT(held, whole.size());
    link.a.engine->abort({0});
    link.b.engine->abort({0});

    // The next try continues that one, not the stranger's.
    link.a.engine->sendFiles({source("doc.bin", whole)}, link.opponentOf(link.a));
    EXPECT_EQ(runCountingFileBytes(link.a), whole.size() - held);
    EXPECT_EQ(fileBytes(received(link.b, "doc.bin")), whole);
    EXPECT_EQ(fileBytes(strangers), stranger);
    EXPECT_EQ(link.b.model().outcomes().verifiedWhole, 1);
}

TEST_F(TransferLinkTest, ManyFilesAtOnceAreOfferedAsTheReceiverTakesThem) {
    const int count = kMaxOpenTransfersPerPeer + 8;
    QStringList paths;
    for (int i = 0; i < count; ++i) {
        paths << source(QStringLiteral("m%1.bin").arg(i), patternBytes(700, 100 + i));
    }
    link.a.engine->sendFiles(paths, link.opponentOf(link.a));
    EXPECT_EQ(link.a.model().rowCount(), count);
    link.deliverAll();
    EXPECT_EQ(link.b.model().rowCount(), kMaxOpenTransfersPerPeer);
    link.runToEnd();
    for (int i = 0; i < count; ++i) {
        EXPECT_EQ(fileBytes(received(link.b, QStringLiteral("m%1.bin").arg(i))),
                  patternBytes(700, 100 + i));
    }
    EXPECT_EQ(link.b.model().outcomes().verifiedWhole, count);
    EXPECT_EQ(link.a.model().outcomes().failed + link.b.model().outcomes().failed, 0);
}

TEST_F(TransferLinkTest, PauseAndResumeFromEitherSide) {
    const QByteArray bytes = patternBytes(4000, 4);
    link.a.engine->sendFiles({source("p.bin", bytes)}, link.opponentOf(link.a));
    link.deliverAll();
    sendCyclesAndListBlocks(link.a, 1);

    // The receiver pauses: the sender's line shows it and sends nothing more.
    link.b.engine->pause({0});
    link.deliverAll();
    EXPECT_EQ(link.a.model().transfer(0).State, tsPaused);
    EXPECT_EQ(link.a.model().stateImage(0), siPaused);
    EXPECT_EQ(link.b.model().stateImage(0), siPaused);
    ASSERT_EQ(link.a.notices.statuses.size(), 1U);
    EXPECT_EQ(link.a.notices.statuses[0], "Remote computer paused transfer of p.bin!");
    EXPECT_TRUE(sendCyclesAndListBlocks(link.a, 3).empty());
    // Pausing a paused line and resuming a running one do nothing.
    link.b.engine->pause({0});
    EXPECT_TRUE(link.b.takeOutbox().empty());

    int ready = 0;
    QObject::connect(link.a.engine.get(), &TransferEngine::blocksReady, [&] { ++ready; });
    link.b.engine->resume({0});
    link.deliverAll();
    EXPECT_EQ(ready, 1);
    EXPECT_EQ(link.a.notices.statuses.back(), "Remote computer resumed transfer of p.bin!");
    EXPECT_EQ(link.a.model().stateImage(0), siSending);
    EXPECT_EQ(link.b.model().stateImage(0), siReceiving);
    link.a.engine->resume({0});
    EXPECT_TRUE(link.a.takeOutbox().empty());
    EXPECT_EQ(sendCyclesAndListBlocks(link.a, 1).size(), 1U);

    // The sender pauses and resumes.
    link.a.engine->pause({0});
    link.deliverAll();
    EXPECT_EQ(link.b.notices.statuses.back(), "Remote computer paused transfer of p.bin!");
    EXPECT_EQ(link.b.model().transfer(0).State, tsPaused);
    EXPECT_TRUE(sendCyclesAndListBlocks(link.a, 2).empty());
    link.a.engine->resume({0});
    link.deliverAll();
    EXPECT_EQ(link.b.model().transfer(0).State, tsRunning);
    link.runToEnd();
    EXPECT_EQ(fileBytes(received(link.b, "p.bin")), bytes);
}

TEST_F(TransferLinkTest, AbortFromEitherSide) {
    const QByteArray bytes = patternBytes(3000, 5);
    link.a.engine->sendFiles({source("x.bin", bytes), source("y.bin", bytes)},
                             link.opponentOf(link.a));
    link.deliverAll();
    sendCyclesAndListBlocks(link.a, 2);

    // The sender aborts x: the other side's line stops with the red cross.
    link.a.engine->abort({0});
    link.deliverAll();
    EXPECT_EQ(link.a.model().transfer(0).State, tsAborted);
    EXPECT_EQ(link.a.model().stateImage(0), siSending);  // kept until removed
    EXPECT_EQ(link.b.notices.statuses.back(), "Remote computer aborted transfer of x.bin!");
    EXPECT_EQ(link.b.model().transfer(0).State, tsStopped);
    EXPECT_EQ(link.b.model().stateImage(0), siStopped);
    link.a.engine->removeFirstAborted();
    ASSERT_EQ(link.a.model().rowCount(), 1);
    EXPECT_EQ(link.a.model().transfer(0).FileName, "y.bin");

    // The receiver aborts y: the sender's line stops and sends no more.
    link.b.engine->abort({1});
    link.deliverAll();
    EXPECT_EQ(link.a.model().transfer(0).State, tsStopped);
    EXPECT_EQ(link.a.notices.statuses.back(), "Remote computer aborted transfer of y.bin!");
    EXPECT_TRUE(sendCyclesAndListBlocks(link.a, 3).empty());

    // Stopped lines go at once, and say nothing to the other side.
    link.b.engine->abort({0});
    EXPECT_EQ(link.b.model().rowCount(), 1);
    link.a.engine->abort({0});
    EXPECT_EQ(link.a.model().rowCount(), 0);
    EXPECT_TRUE(link.a.takeOutbox().empty());
    // The partial file stays, and looks partial.
    EXPECT_EQ(fileBytes(received(link.b, "x.bin.part")), bytes.left(512));
    EXPECT_FALSE(QFileInfo::exists(received(link.b, "x.bin")));
}

TEST_F(TransferLinkTest, ThreeLinesAbortedAtOnceGoOnePerTick) {
    const QByteArray bytes = patternBytes(2000, 6);
    link.a.engine->sendFiles(
        {source("1", bytes), source("2", bytes), source("3", bytes), source("4", bytes)},
        link.opponentOf(link.a));
    link.deliverAll();
    link.a.model().setState(3, tsStopped);
    link.a.engine->abort({0, 1, 3});
    EXPECT_EQ(link.a.model().rowCount(), 3);  // the stopped one went at once
    link.a.engine->abort({2});
    EXPECT_EQ(link.deliverAll(), 3);
    for (int row = 0; row < 3; ++row) {
        EXPECT_EQ(link.b.model().transfer(row).State, tsStopped);
    }
    for (int remaining = 2; remaining >= 0; --remaining) {
        link.a.engine->removeFirstAborted();
        EXPECT_EQ(link.a.model().rowCount(), remaining);
    }
    link.a.engine->removeFirstAborted();
    EXPECT_EQ(link.a.model().rowCount(), 0);
}

TEST_F(TransferLinkTest, TheRemovalTimerTakesAbortedLines) {
    link.a.engine->sendFiles({source("t", "abc")}, link.opponentOf(link.a));
    link.a.engine->abort({0});
    ASSERT_EQ(link.a.model().rowCount(), 1);
    QElapsedTimer waited;
    waited.start();
    while (link.a.model().rowCount() > 0 && waited.elapsed() < 30'000) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
    }
    EXPECT_EQ(link.a.model().rowCount(), 0);
}

TEST_F(TransferLinkTest, RefusalsStopTheSendersLine) {
    link.b.settings.blocked = true;
    link.a.engine->sendFiles({source("b.txt", "x")}, link.opponentOf(link.a));
    link.deliverAll();
    EXPECT_EQ(link.a.model().transfer(0).State, tsStopped);
    EXPECT_EQ(link.a.model().stateImage(0), siStopped);
    EXPECT_TRUE(sendCyclesAndListBlocks(link.a, 2).empty());
    link.b.settings.blocked = false;

    // A refused name is answered like blocking, so that the sender's line stops.
    link.a.model().transfer(0).State = tsRunning;
    link.a.model().transfer(0).Waiting = {1};
    const QByteArray icon(kIconFieldSize, '\x77');
    link.b.deliver({link.b.id, buildFileOffer({"../evil", 3, link.a.model().transfer(0).Id, icon})},
                   link.a);
    EXPECT_EQ(link.b.model().rowCount(), 0);
    EXPECT_TRUE(link.b.notices.lines.back().contains("../evil"));
    link.deliverAll();
    EXPECT_EQ(link.a.model().transfer(0).State, tsStopped);
}

TEST_F(TransferLinkTest, IdentifierClashIsReofferedWithANewOne) {
    const QByteArray bytes = patternBytes(700, 7);
    link.a.engine->sendFiles({source("c.bin", bytes)}, link.opponentOf(link.a));
    auto offers = link.a.takeOutbox();
    ASSERT_EQ(offers.size(), 2U);  // the details and the offer
    const auto first = parseFileOffer(bytesOf(offers.back().bytes));
    ASSERT_TRUE(first);
    // The receiver already lists that identifier for a file of its own.
    link.b.engine->sendFiles({source("other", "zz")}, link.opponentOf(link.b));
    link.b.takeOutbox();
    link.b.model().transfer(0).Id = first->transferId;
    for (const SentMessage& message : offers) {
        link.b.deliver(message, link.a);
    }
    const auto replies = link.b.takeOutbox();
    ASSERT_EQ(replies.size(), 1U);
    EXPECT_EQ(parseFileReply(bytesOf(replies.front().bytes))->result, frIdInUse);
    link.a.deliver(replies.front(), link.b);
    offers = link.a.takeOutbox();
    ASSERT_EQ(offers.size(), 2U);
    const auto details = parseFileOfferDetails(bytesOf(offers.front().bytes));
    const auto second = parseFileOffer(bytesOf(offers.back().bytes));
    ASSERT_TRUE(second && details);
    EXPECT_NE(second->transferId, first->transferId);
    EXPECT_EQ(details->transferId, second->transferId);
    EXPECT_EQ(second->fileName, first->fileName);
    EXPECT_EQ(second->fileSize, 700);
    EXPECT_EQ(second->icon, first->icon);
    EXPECT_EQ(link.a.model().transfer(0).Id, second->transferId);
    link.b.deliver(offers.front(), link.a);
    link.b.deliver(offers.back(), link.a);
    link.b.model().removeTransfer(0);
    link.runToEnd();
    EXPECT_EQ(fileBytes(received(link.b, "c.bin")), bytes);
    link.a.clock.tick += TransferEngine::kFinishedShownMs;
    link.a.engine->removeFirstAborted();

    // An answer for a transfer that no longer waits is ignored.
    link.a.engine->sendFiles({source("d.bin", bytes)}, link.opponentOf(link.a));
    link.deliverAll();
    link.a.cycle();
    const std::int32_t done = link.a.model().transfer(0).Done;
    link.a.deliver({link.a.id, buildFileReply({0, link.a.model().transfer(0).Id, frAccepted,
                                               QByteArray(kIconFieldSize, 0)})},
                   link.b);
    EXPECT_EQ(link.a.model().transfer(0).Done, done);
    link.runToEnd();
    EXPECT_EQ(fileBytes(received(link.b, "d.bin")), bytes);
}

TEST_F(TransferLinkTest, SendFileRefusesWhatCannotBeSent) {
    TransferEngine& engine = *link.a.engine;
    engine.sendFiles({source("f", "1")}, std::nullopt);
    ASSERT_EQ(link.a.notices.messages.size(), 1U);
    EXPECT_EQ(link.a.notices.messages[0],
              "Sorry, but we haven't connected anywere yet. Please, create connection before "
              "sending files or messages.");
    engine.sendFiles({source("f", "1")}, Opponent{link.a.id, true});
    EXPECT_EQ(link.a.notices.messages.size(), 2U);
    EXPECT_EQ(link.a.model().rowCount(), 0);

    // Too large, missing, a folder: each is said and gets no line; the others are sent.
    const QString large = folder + "/large.bin";
    {
        QFile file(large);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        ASSERT_TRUE(file.resize(qint64{1} << 31));  // sparse
    }
    engine.sendFiles({large, folder + "/missing", folder, source("ok", "1")},
                     link.opponentOf(link.a));
    EXPECT_EQ(link.a.notices.messages.size(), 5U);
    EXPECT_TRUE(link.a.notices.messages[2].contains("2 GB"));
    EXPECT_TRUE(link.a.notices.messages[3].contains("missing"));
    ASSERT_EQ(link.a.model().rowCount(), 1);
    EXPECT_EQ(link.a.model().transfer(0).FileName, "ok");
    QFile::remove(large);

    // Every identifier taken: the command stops with a message instead of drawing for ever.
    QStringList many;
    for (int i = 0; i < 260; ++i) {
        many.push_back(source(QString::number(i), "z"));
    }
    engine.sendFiles(many, link.opponentOf(link.a));
    EXPECT_EQ(link.a.model().rowCount(), 255);
    EXPECT_EQ(link.a.notices.messages.size(), 6U);
    EXPECT_TRUE(link.a.notices.messages.back().contains("255"));
    std::set<int> ids;
    for (int row = 0; row < 255; ++row) {
        ids.insert(link.a.model().transfer(row).Id);
    }
    EXPECT_EQ(ids.size(), 255U);

    // A re-offer when the other lines hold every identifier (possible with the internal loop,
    // which takes offers of identifiers already listed) stops its line with a message.
    link.a.settings.loop = true;
    const std::uint8_t firstId = link.a.model().transfer(0).Id;
    link.a.deliver({link.a.id, buildFileOffer({"in", 1, firstId, QByteArray(kIconFieldSize, 0)})},
                   link.b);
    ASSERT_EQ(link.a.model().rowCount(), 256);
    link.a.takeOutbox();
    link.a.deliver(
        {link.a.id, buildFileReply({0, firstId, frIdInUse, QByteArray(kIconFieldSize, 0)})},
        link.b);
    EXPECT_EQ(link.a.model().transfer(0).State, tsStopped);
    // Its place goes to a line that waited to be offered; it is not offered again itself.
    for (const SentMessage& message : link.a.takeOutbox()) {
        const auto offer = parseFileOffer(bytesOf(message.bytes));
        EXPECT_TRUE(!offer || offer->transferId != firstId);
    }
    EXPECT_EQ(link.a.notices.messages.size(), 7U);
}

TEST_F(TransferLinkTest, AFailedReadStopsTheLineAndTellsTheReceiver) {
    link.a.engine->sendFiles({source("r", patternBytes(2000, 10))}, link.opponentOf(link.a));
    link.deliverAll();
    sendCyclesAndListBlocks(link.a, 1);
    TTransfer& line = link.a.model().transfer(0);
    // The same file, but a handle that cannot read.
    line.Source = std::make_unique<QFile>(folder + "/out/r");
    ASSERT_TRUE(line.Source->open(QIODevice::WriteOnly | QIODevice::Append));
    EXPECT_FALSE(link.a.cycle());
    EXPECT_EQ(line.State, tsStopped);
    ASSERT_EQ(link.a.notices.lines.size(), 1U);
    EXPECT_TRUE(link.a.notices.lines[0].startsWith("Could not read the file r"));
    link.deliverAll();
    EXPECT_EQ(link.b.model().transfer(0).State, tsStopped);
    EXPECT_EQ(link.b.notices.statuses.back(), "Remote computer aborted transfer of r!");
}

TEST_F(TransferLinkTest, InternalLoopSendsAFileToThisSideItself) {
    link.a.settings.loop = true;
    const QByteArray bytes = patternBytes(1500, 8);
    link.a.engine->sendFiles({source("self.bin", bytes)}, Opponent{link.a.id, true});
    link.deliverAll();
    ASSERT_EQ(link.a.model().rowCount(), 2);
    EXPECT_EQ(link.a.model().transfer(0).Id, link.a.model().transfer(1).Id);
    EXPECT_FALSE(link.a.model().transfer(1).Outgoing);
    link.runToEnd();
    ASSERT_EQ(link.a.model().rowCount(), 1);
    EXPECT_EQ(link.a.model().transfer(0).State, tsFinished);
    EXPECT_EQ(link.a.model().outcomes().verifiedWhole, 2);  // both lines of this side
    EXPECT_EQ(fileBytes(received(link.a, "self.bin")), bytes);
}

TEST_F(TransferLinkTest, LinesOfALostConnectionReleaseTheirFilesAndSendingAgainResumes) {
    const QByteArray bytes = patternBytes(6000, 9);
    const QString path = source("r.bin", bytes);
    link.a.engine->sendFiles({path}, link.opponentOf(link.a));
    link.deliverAll();
    sendCyclesAndListBlocks(link.a, 3);

    link.a.engine->stopAll(QStringLiteral("the connection was lost"));
    link.b.engine->stopAll(QStringLiteral("the connection was lost"));
    EXPECT_EQ(link.a.model().stateImage(0), siStopped);
    EXPECT_EQ(link.b.model().stateImage(0), siStopped);
    EXPECT_FALSE(link.a.model().transfer(0).Source);
    EXPECT_FALSE(link.b.model().transfer(0).Target);
    EXPECT_TRUE(sendCyclesAndListBlocks(link.a, 2).empty());
    EXPECT_EQ(fileBytes(received(link.b, "r.bin.part")), bytes.left(1536));

    // A new connection, the stopped lines still listed: the same file goes on from where it
    // stopped.
    link.a.engine->sendFiles({path}, link.opponentOf(link.a));
    EXPECT_EQ(runCountingFileBytes(link.a), 6000 - 1536);
    EXPECT_EQ(fileBytes(received(link.b, "r.bin")), bytes);
    EXPECT_TRUE(link.b.notices.lines.back().startsWith("File r.bin received and saved into"));
    EXPECT_EQ(link.b.model().outcomes().verifiedWhole, 1);
    EXPECT_EQ(link.b.model().outcomes().failed, 1);
}
