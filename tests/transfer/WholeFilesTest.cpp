// Files arrive byte for byte or end with a clear no: between two sides that check files, and
// with a side of the first version, which neither sends nor reads the check's messages.

#include "TransferTestPeers.h"
#include "session/Windows1252.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <QFileInfo>

using namespace velmora;
using namespace velmora::test;

namespace {

class WholeFilesTest : public LinkInFolder {
protected:
    WholeFilesTest() : LinkInFolder(QStringLiteral("whole")) {}

    // Sends one file from a to b and runs until nothing moves.
    void sendAndRun(const QString& path) {
        link.a.engine->sendFiles({path}, link.opponentOf(link.a));
        link.runToEnd();
    }

    bool anyLineContains(const TestPeer& peer, const QString& text) const {
        return std::any_of(peer.notices.lines.begin(), peer.notices.lines.end(),
                           [&](const QString& line) { return line.contains(text); });
    }
};

}  // namespace

TEST_F(WholeFilesTest, AFileOfTheUsersWithTheSameNameIsNeverTouched) {
    const QByteArray users = patternBytes(700, 1);
    const QString usersFile = writtenFile(received(link.b, "report.txt"), users);
    const QDateTime usersTime = QFileInfo(usersFile).lastModified();
    const QByteArray offered = patternBytes(5000, 2);
    sendAndRun(source("report.txt", offered));
    EXPECT_EQ(fileBytes(usersFile), users);
    EXPECT_EQ(QFileInfo(usersFile).lastModified(), usersTime);
    EXPECT_EQ(fileBytes(received(link.b, "report (2).txt")), offered);
    EXPECT_EQ(link.b.notices.lines.back(),
              "File report (2).txt received and saved into " + link.b.settings.incoming);
    EXPECT_EQ(link.a.notices.lines.back(), "File report.txt arrived whole and verified.");
    EXPECT_EQ(link.a.model().outcomes().verifiedWhole, 1);
}

TEST_F(WholeFilesTest, NamesOutsideWindows1252TravelWhole) {
    // Both are "???.txt" in Windows-1252.
    const QString house = QString::fromUtf8("Дом.txt");
    const QString cat = QString::fromUtf8("Кот.txt");
    ASSERT_EQ(toWindows1252(house), toWindows1252(cat));
    link.a.engine->sendFiles({source(house, "house"), source(cat, "cat")}, link.opponentOf(link.a));
    const auto offers = link.a.outbox;
    ASSERT_EQ(offers.size(), 4U);
    EXPECT_EQ(parseFileOffer(bytesOf(offers[1].bytes))->fileName, "???.txt");
    EXPECT_EQ(parseFileOfferDetails(bytesOf(offers[0].bytes))->utf8Name, house.toUtf8());
    link.runToEnd();
    EXPECT_EQ(fileBytes(received(link.b, house)), "house");
    EXPECT_EQ(fileBytes(received(link.b, cat)), "cat");
    EXPECT_EQ(link.b.model().outcomes().verifiedWhole, 2);

    // A UTF-8 name that is not a plain file name, or not UTF-8, is not used: the
    // Windows-1252 one is.
    for (const QByteArray& bad : {QByteArray("../x"), QByteArray("\xff\xfe")}) {
        link.b.deliver({link.b.id, buildFileOfferDetails({77, kCheckSha256, bad})}, link.a);
        link.b.deliver(
            {link.b.id, buildFileOffer({"plain.txt", 0, 77, QByteArray(kIconFieldSize, 0)})},
            link.a);
        ASSERT_EQ(link.b.model().rowCount(), 1);
        EXPECT_EQ(link.b.model().transfer(0).FileName, "plain.txt");
        link.b.model().removeTransfer(0);
    }
}

TEST_F(WholeFilesTest, ASourceThatChangesWhileItIsSentStopsItsLine) {
    link.a.settings.code = 1;
    const QByteArray bytes = patternBytes(3000, 3);
    const QString grows = source("grows.bin", bytes);
    const QString shrinks = source("shrinks.bin", bytes);
    const QString touched = source("touched.bin", bytes);
    link.a.engine->sendFiles({grows, shrinks, touched}, link.opponentOf(link.a));
    link.deliverAll();
    for (int i = 0; i < 3; ++i) {
        link.a.cycle();
    }
    link.deliverAll();
    {
        QFile file(grows);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Append));
        file.write("more");
    }
    ASSERT_TRUE(QFile::resize(shrinks, 1000));
    {
        // Same size, other bytes, another time of change.
        QFile file(touched);
        ASSERT_TRUE(file.open(QIODevice::ReadWrite));
        file.write("XYZ");
        file.flush();
        file.setFileTime(QDateTime::currentDateTime().addSecs(60),
                         QFileDevice::FileModificationTime);
    }
    link.runToEnd();
    for (int row = 0; row < 3; ++row) {
        EXPECT_EQ(link.a.model().transfer(row).State, tsStopped) << row;
        EXPECT_EQ(link.b.model().transfer(row).State, tsStopped) << row;
    }
    for (const QString name : {"grows.bin", "shrinks.bin", "touched.bin"}) {
        EXPECT_TRUE(
            anyLineContains(link.a, "The file " + name + " changed while it was being sent."))
            << name.toStdString();
        EXPECT_FALSE(QFileInfo::exists(received(link.b, name)));
    }
    EXPECT_FALSE(anyLineContains(link.b, "received"));
    EXPECT_EQ(link.a.model().outcomes().failed, 3);
    EXPECT_EQ(link.b.model().outcomes().failed, 3);
}

TEST_F(WholeFilesTest, AnOlderReceiverGetsTheFileAsThePartsSayButNamedSafely) {
    link.b.olderPeer = true;
    // Two names that are the same in Windows-1252, at once: the second does not write into the
    // first.
    link.a.engine->sendFiles({source(QString::fromUtf8("Дом.txt"), "house"),
                              source(QString::fromUtf8("Кот.txt"), "cat")},
                             link.opponentOf(link.a));
    link.runToEnd();
    // The sender's lines go as soon as the end is sent: nobody can confirm.
    EXPECT_EQ(link.a.model().rowCount(), 0);
    EXPECT_EQ(link.a.model().outcomes().wholeUnverified, 2);
    EXPECT_EQ(link.a.model().outcomes().verifiedWhole, 0);
    EXPECT_EQ(fileBytes(received(link.b, "???.txt")), "house");
    EXPECT_EQ(fileBytes(received(link.b, "??? (2).txt")), "cat");
    EXPECT_EQ(link.b.model().outcomes().wholeUnverified, 2);
    EXPECT_TRUE(link.a.notices.lines.empty());

    // A ".part" made here is continued from its length, unchecked, as the first version does.
    const QByteArray whole = patternBytes(3000, 4);
    ASSERT_FALSE(markedPartial(received(link.b, "r.bin.part"), whole.left(1000), 3000).isEmpty());
    link.a.engine->sendFiles({source("r.bin", whole)}, link.opponentOf(link.a));
    link.deliverAll();
    EXPECT_EQ(link.a.model().transfer(0).Done, 1000);
    link.runToEnd();
    EXPECT_EQ(fileBytes(received(link.b, "r.bin")), whole);
}

TEST_F(WholeFilesTest, AnOlderSenderIsCountedButNotChecked) {
    link.a.olderPeer = true;
    sendAndRun(source("old.bin", patternBytes(2000, 5)));
    EXPECT_EQ(fileBytes(received(link.b, "old.bin")), patternBytes(2000, 5));
    EXPECT_EQ(link.b.model().outcomes().wholeUnverified, 1);
    EXPECT_EQ(link.a.model().rowCount(), 0);
    EXPECT_TRUE(link.a.notices.lines.empty());
}

TEST_F(WholeFilesTest, AFileDamagedOnTheWayIsSaidOnBothSidesAndStaysPart) {
    const QByteArray bytes = patternBytes(2000, 6);
    link.a.engine->sendFiles({source("d.bin", bytes)}, link.opponentOf(link.a));
    link.deliverAll();
    // A block changed on its way (which the link's checks make all but impossible).
    for (int i = 0; i < 20; ++i) {
        link.a.cycle();
        for (SentMessage& message : link.a.takeOutbox()) {
            if (i == 1 && parseFileBlock(bytesOf(message.bytes))) {
                message.bytes[100] = static_cast<char>(message.bytes[100] ^ 0x20);
            }
            link.b.deliver(message, link.a);
        }
        link.deliverAll();
    }
    EXPECT_FALSE(QFileInfo::exists(received(link.b, "d.bin")));
    EXPECT_EQ(fileBytes(received(link.b, "d.bin.part")).size(), 2000);
    EXPECT_EQ(link.b.notices.lines.back(),
              "File d.bin arrived damaged: it is not the sender's file. It stays as d.bin.part.");
    EXPECT_EQ(link.a.notices.lines.back(),
              "File d.bin arrived damaged on the other side; it was not saved there under its "
              "name.");
    EXPECT_EQ(link.a.model().outcomes().damaged, 1);
    EXPECT_EQ(link.b.model().outcomes().damaged, 1);
    EXPECT_EQ(link.a.model().transfer(0).State, tsStopped);
}

TEST_F(WholeFilesTest, ALineThatSentItsEndTakesNoSecondAnswerAndNoControl) {
    sendAndRun(source("e.bin", patternBytes(1500, 8)));
    ASSERT_EQ(link.a.model().rowCount(), 1);
    const TTransfer& line = link.a.model().transfer(0);
    ASSERT_EQ(line.State, tsFinished);
    const std::uint8_t id = line.Id;
    // Another acceptance from the other side, and a resume, move nothing.
    link.a.deliver({link.a.id, buildFileReplyDetails({id, kCheckSha256, 0, {}})}, link.b);
    link.a.deliver({link.a.id, buildFileReply({0, id, frAccepted, QByteArray(kIconFieldSize, 0)})},
                   link.b);
    link.a.deliver({link.a.id, buildTransferControl({id, caResume})}, link.b);
    EXPECT_EQ(line.State, tsFinished);
    EXPECT_FALSE(link.a.cycle());
    EXPECT_TRUE(link.a.takeOutbox().empty());
    // And a second verdict is not counted again.
    link.a.deliver({link.a.id, buildFileVerdict({id, fvDamaged})}, link.b);
    EXPECT_EQ(link.a.model().outcomes().verifiedWhole, 1);
    EXPECT_EQ(link.a.model().outcomes().damaged, 0);
}

TEST_F(WholeFilesTest, AStoppedLineStaysStoppedWhateverTheOtherSideSays) {
    link.a.engine->sendFiles({source("s.bin", patternBytes(3000, 9))}, link.opponentOf(link.a));
    link.deliverAll();
    link.a.cycle();
    link.a.engine->stopAll(QStringLiteral("the connection was lost"));
    const std::uint8_t id = link.a.model().transfer(0).Id;
    for (const TransferAction action : {caResume, caPause, caResume}) {
        link.a.deliver({link.a.id, buildTransferControl({id, action})}, link.b);
    }
    EXPECT_EQ(link.a.model().transfer(0).State, tsStopped);
    EXPECT_FALSE(link.a.cycle());
    EXPECT_TRUE(link.a.notices.statuses.empty());

    // A line stopped while its offer waited for the answer takes no acceptance afterwards.
    link.a.engine->sendFiles({source("w.bin", "waiting")}, link.opponentOf(link.a));
    link.a.takeOutbox();
    link.a.engine->stopAll(QStringLiteral("the connection was lost"));
    const std::uint8_t waiting = link.a.model().transfer(1).Id;
    link.a.deliver(
        {link.a.id, buildFileReply({0, waiting, frAccepted, QByteArray(kIconFieldSize, 0)})},
        link.b);
    EXPECT_EQ(link.a.model().transfer(1).State, tsStopped);
    EXPECT_TRUE(link.a.model().transfer(1).anyWaiting());
    EXPECT_FALSE(link.a.cycle());
}
