#include "transfer/FileReceiver.h"

#include "TransferTestPeers.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <QCryptographicHash>
#include <QFileInfo>
#include <QSet>

#include <csignal>

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace velmora;
using namespace velmora::test;

namespace {

// The receiving side alone; the test plays the sender with hand-made messages.
class FileReceiverTest : public ::testing::Test {
protected:
    FileReceiverTest()
        : folder(makeTempFolder(QStringLiteral("receiver"))),
          receiver(2, QStringLiteral("bob"), folder, 5),
          sender(1, QStringLiteral("alice"), folder, 6) {}

    std::optional<FileReply> offer(const QByteArray& name, std::int32_t size, std::uint8_t id) {
        const QByteArray icon(kIconFieldSize, '\x33');
        receiver.deliver({receiver.id, buildFileOffer({name, size, id, icon})}, sender);
        const auto sent = receiver.takeOutbox();
        if (sent.size() != 1 || sent.front().destination != sender.id) {
            return std::nullopt;
        }
        auto reply = parseFileReply(bytesOf(sent.front().bytes));
        EXPECT_TRUE(reply && reply->icon == icon);
        return reply;
    }

    void block(std::uint8_t id, const QByteArray& data, bool last = false, std::uint8_t code = 1) {
        receiver.deliver({receiver.id, buildFileBlock({last, id, code, bytesOf(data)})}, sender);
    }

    QString incoming(const QString& name) const { return receiver.settings.incoming + name; }

    QString folder;
    TestPeer receiver;
    TestPeer sender;
};

}  // namespace

TEST_F(FileReceiverTest, NewFileIsWrittenAsPartAndNamedWhenWhole) {
    receiver.clock.tick = 1000;
    const auto reply = offer("a.txt", 1'000'000, 17);
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->result, frAccepted);
    EXPECT_EQ(reply->offset, 0);
    EXPECT_EQ(reply->transferId, 17);
    TransfersModel& model = receiver.model();
    ASSERT_EQ(model.rowCount(), 1);
    const TTransfer& line = model.transfer(0);
    EXPECT_FALSE(line.Outgoing);
    EXPECT_EQ(line.Recipients, std::vector<std::uint32_t>{1});
    EXPECT_TRUE(line.Waiting.empty());
    EXPECT_EQ(model.stateImage(0), siReceiving);
    // Until it is whole the file looks partial.
    EXPECT_TRUE(QFileInfo::exists(incoming("a.txt.part")));
    EXPECT_FALSE(QFileInfo::exists(incoming("a.txt")));

    // A block while the line is paused is still written.
    model.setState(0, tsPaused);
    const QByteArray first = patternBytes(4096, 1);
    receiver.clock.tick = 2000;
    block(17, first, false, 4);
    EXPECT_EQ(line.Done, 4096);
    // Paused: the count moves, the clock and the speed do not.
    EXPECT_EQ(model.data(model.index(0, colLeft)).toString(), "");
    EXPECT_EQ(model.data(model.index(0, colSpeed)).toString(), "");
    EXPECT_EQ(model.data(model.index(0, colCompleted)).toString(), "4096 B");
    // Blocks for no incoming line, or from another participant, change nothing.
    block(18, first);
    receiver.deliver({receiver.id, buildFileBlock({false, 17, 1, bytesOf(first.left(9))})},
                     receiver);
    EXPECT_EQ(line.Done, 4096);
    const QByteArray second = patternBytes(300, 2);
    block(17, second);
    EXPECT_EQ(line.Done, 4396);

    // 4396 of 1000000 bytes and the end: never "received".
    block(17, {}, true);
    ASSERT_EQ(model.rowCount(), 1);
    EXPECT_EQ(line.State, tsStopped);
    EXPECT_FALSE(line.Target);
    EXPECT_EQ(fileBytes(incoming("a.txt.part")), first + second);
    EXPECT_FALSE(QFileInfo::exists(incoming("a.txt")));
    ASSERT_EQ(receiver.notices.lines.size(), 1U);
    EXPECT_EQ(receiver.notices.lines[0],
              "The file a.txt ended after 4396 of its 1000000 bytes. Its transfer was stopped; "
              "what arrived stays in a.txt.part.");
    EXPECT_EQ(model.outcomes().failed, 1);
    EXPECT_TRUE(receiver.takeOutbox().empty());  // the end is not answered

    // Whole: renamed, and the line names the file.
    ASSERT_EQ(offer("b.txt", 5, 19)->result, frAccepted);
    block(19, "12345");
    block(19, {}, true);
    EXPECT_EQ(model.rowCount(), 1);
    EXPECT_EQ(fileBytes(incoming("b.txt")), "12345");
    EXPECT_FALSE(QFileInfo::exists(incoming("b.txt.part")));
    EXPECT_EQ(receiver.notices.lines.back(),
              "File b.txt received and saved into " + receiver.settings.incoming);
    EXPECT_EQ(model.outcomes().wholeUnverified, 1);
    EXPECT_EQ(model.outcomes().verifiedWhole, 0);
}

TEST_F(FileReceiverTest, OnlyAPartFileIsContinuedAndTheUsersFileStaysAsItWas) {
    const QByteArray present = patternBytes(1000, 3);
    ASSERT_FALSE(markedPartial(incoming("a.txt.part"), present, 1500).isEmpty());
    auto reply = offer("a.txt", 1500, 1);
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->offset, 1000);
    EXPECT_EQ(receiver.model().transfer(0).Done, 1000);
    const QByteArray rest = patternBytes(500, 4);
    block(1, rest);
    block(1, {}, true);
    EXPECT_EQ(fileBytes(incoming("a.txt")), present + rest);

    // A file of the user's with the offered name is never continued nor written: the new one
    // gets a name of its own.
    const QByteArray users = patternBytes(5000, 5);
    writtenFile(incoming("b.bin"), users);
    writtenFile(incoming("b (2).bin"), users);
    reply = offer("b.bin", 100, 2);
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->offset, 0);
    const QByteArray offered = patternBytes(100, 6);
    block(2, offered);
    block(2, {}, true);
    EXPECT_EQ(fileBytes(incoming("b.bin")), users);
    EXPECT_EQ(fileBytes(incoming("b (3).bin")), offered);
    EXPECT_EQ(receiver.notices.lines.back(),
              "File b (3).bin received and saved into " + receiver.settings.incoming);

    // A ".part" longer than the offered file is not its beginning: left alone, a new one is
    // written.
    writtenFile(incoming("c.part"), users);
    writtenFile(incoming("c"), users);
    ASSERT_EQ(offer("c", 3, 3)->offset, 0);
    block(3, "xyz");
    block(3, {}, true);
    EXPECT_EQ(fileBytes(incoming("c.part")), users);
    EXPECT_EQ(fileBytes(incoming("c (2)")), "xyz");
}

TEST_F(FileReceiverTest, ALyingSenderNeverGetsAFileReceived) {
    // More bytes than offered: the line stops at the block that passes the size.
    ASSERT_EQ(offer("long.bin", 5, 1)->result, frAccepted);
    block(1, "abc");
    block(1, patternBytes(100, 1));
    const TTransfer& line = receiver.model().transfer(0);
    EXPECT_EQ(line.State, tsStopped);
    EXPECT_EQ(receiver.notices.lines.back(),
              "The other side sent more of the file long.bin than the 5 bytes it offered. Its "
              "transfer was stopped; what arrived stays in long.bin.part.");
    auto sent = receiver.takeOutbox();
    ASSERT_EQ(sent.size(), 1U);
    EXPECT_EQ(parseTransferControl(bytesOf(sent.front().bytes))->action, caAbort);
    block(1, {}, true);
    EXPECT_EQ(fileBytes(incoming("long.bin.part")), "abc");

    // A damaged block of a live transfer: the line stops, both sides are told.
    ASSERT_EQ(offer("bad.bin", 600, 2)->result, frAccepted);
    block(2, patternBytes(100, 2));
    QByteArray damaged = buildFileBlock({false, 2, 1, bytesOf(patternBytes(100, 3))});
    damaged[10] = 9;  // no such block-size code
    receiver.deliver({receiver.id, damaged}, sender);
    EXPECT_EQ(receiver.model().transfer(1).State, tsStopped);
    EXPECT_TRUE(receiver.notices.lines.back().startsWith(
        "A damaged block of the file bad.bin arrived. Its transfer was stopped"));
    sent = receiver.takeOutbox();
    ASSERT_EQ(sent.size(), 1U);
    EXPECT_EQ(parseTransferControl(bytesOf(sent.front().bytes))->transferId, 2);

    // Blocks before the answer to a checked offer (the prefix is still being read back).
    writtenFile(incoming("early.bin.part"), "12");
    receiver.deliver({receiver.id, buildFileOfferDetails({3, kCheckSha256, "early.bin"})}, sender);
    receiver.deliver(
        {receiver.id, buildFileOffer({"early.bin", 4, 3, QByteArray(kIconFieldSize, 0)})}, sender);
    EXPECT_TRUE(receiver.takeOutbox().empty());
    block(3, "34");
    EXPECT_EQ(receiver.model().transfer(2).State, tsStopped);
    EXPECT_EQ(fileBytes(incoming("early.bin.part")), "12");
    receiver.takeOutbox();

    // A checked transfer whose digest is not that of the bytes, or never comes.
    for (const std::uint8_t id : {4, 5}) {
        const QByteArray name = "c" + QByteArray::number(id) + ".bin";
        receiver.deliver({receiver.id, buildFileOfferDetails({id, kCheckSha256, name})}, sender);
        receiver.deliver(
            {receiver.id, buildFileOffer({name, 3, id, QByteArray(kIconFieldSize, 0)})}, sender);
        sent = receiver.takeOutbox();
        ASSERT_EQ(sent.size(), 2U);  // the details of the reply and the reply
        ASSERT_TRUE(parseFileReplyDetails(bytesOf(sent.front().bytes)));
        block(id, "xyz");
        if (id == 4) {
            receiver.deliver({receiver.id, buildFileDigest({id, QByteArray(kDigestSize, 'w')})},
                             sender);
        }
        block(id, {}, true);
        sent = receiver.takeOutbox();
        ASSERT_EQ(sent.size(), 1U);
        EXPECT_EQ(parseFileVerdict(bytesOf(sent.front().bytes))->result, fvDamaged);
        EXPECT_TRUE(receiver.notices.lines.back().startsWith("File " + name + " arrived damaged"));
        EXPECT_FALSE(QFileInfo::exists(incoming(QString::fromLatin1(name))));
    }
    EXPECT_EQ(receiver.model().outcomes().damaged, 2);
    EXPECT_EQ(receiver.model().outcomes().failed, 3);
    EXPECT_EQ(receiver.model().outcomes().wholeUnverified, 0);
    EXPECT_EQ(receiver.model().outcomes().verifiedWhole, 0);
}

TEST_F(FileReceiverTest, AnOfferWithIdentifier255IsAnsweredWithAnotherIdentifierWanted) {
    // Even with the internal loop, which otherwise takes any identifier.
    for (const bool loop : {false, true}) {
        receiver.settings.loop = loop;
        receiver.deliver(
            {receiver.id, buildFileOffer({"x.txt", 10, 255, QByteArray(kIconFieldSize, 0)})},
            sender);
        const auto sent = receiver.takeOutbox();
        ASSERT_EQ(sent.size(), 1U);
        EXPECT_EQ(sent.front().destination, sender.id);
        const QByteArray& reply = sent.front().bytes;
        ASSERT_EQ(reply.size(), kFileReplySize);
        EXPECT_EQ(messageKindOf(bytesOf(reply)), 2U);
        EXPECT_EQ(static_cast<std::uint8_t>(reply[8]), 255);  // the offer's identifier
        EXPECT_EQ(reply[9], frIdInUse);
        EXPECT_EQ(receiver.model().rowCount(), 0);
    }
}

TEST_F(FileReceiverTest, NumberedNamesKeepTheExtension) {
    EXPECT_EQ(FileReceiver::fittedName("a.txt", 1), "a.txt");
    EXPECT_EQ(FileReceiver::fittedName("a.txt", 2), "a (2).txt");
    EXPECT_EQ(FileReceiver::fittedName("x.tar.gz", 12), "x.tar (12).gz");
    EXPECT_EQ(FileReceiver::fittedName(".profile", 3), ".profile (3)");
    EXPECT_EQ(FileReceiver::fittedName("plain", 2), "plain (2)");
}

TEST_F(FileReceiverTest, NamesThatAreNotPlainFileNamesAreRefused) {
    const std::vector<QByteArray> names{
        "../x", "/etc/passwd", "a/b",   "",     ".",
        "..",   "a\\b",        "..\\x", "x/..", QByteArray("a\0b", 3)};
    std::uint8_t id = 0;
    for (const QByteArray& name : names) {
        receiver.notices.lines.clear();
        const auto reply = offer(name, 10, ++id);
        ASSERT_TRUE(reply) << name.toStdString();
        EXPECT_EQ(reply->result, frBlocked) << name.toStdString();
        EXPECT_EQ(reply->offset, 0);
        ASSERT_EQ(receiver.notices.lines.size(), 1U);
        EXPECT_TRUE(receiver.notices.lines[0].startsWith("Refused the file \""))
            << receiver.notices.lines[0].toStdString();
        EXPECT_EQ(receiver.model().rowCount(), 0);
        EXPECT_FALSE(FileReceiver::isPlainFileName(name));
    }
    EXPECT_TRUE(receiver.notices.lines[0].contains("a\\0b"));
    EXPECT_FALSE(QFileInfo::exists(folder + "/x"));
    EXPECT_TRUE(QDir(receiver.settings.incoming).isEmpty());

    // Names with dots and spaces that stay inside the folder are fine, and so is the longest.
    const QByteArray longest(255, 'n');
    for (const QByteArray& name :
         {QByteArray("..a"), QByteArray("a..b"), QByteArray(" x "), longest}) {
        const auto reply = offer(name, 0, ++id);
        ASSERT_TRUE(reply);
        EXPECT_EQ(reply->result, frAccepted) << name.toStdString();
        block(id, {}, true);
        EXPECT_TRUE(QFileInfo::exists(incoming(QString::fromLatin1(name))));
    }
    // The longest name's ".part" was cut to fit.
    EXPECT_EQ(receiver.notices.lines.back(), "File " + QString::fromLatin1(longest) +
                                                 " received and saved into " +
                                                 receiver.settings.incoming);
    // 255 Windows-1252 bytes that need 510 bytes here cannot be created: refused and said.
    receiver.notices.lines.clear();
    const auto reply = offer(QByteArray(255, '\xE9'), 0, ++id);
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->result, frBlocked);
    ASSERT_EQ(receiver.notices.lines.size(), 1U);
    EXPECT_TRUE(receiver.notices.lines[0].startsWith("Could not receive the file"));
    EXPECT_EQ(receiver.model().rowCount(), 0);
}

TEST_F(FileReceiverTest, BlockingAndIdentifierClashes) {
    receiver.settings.blocked = true;
    auto reply = offer("a.txt", 10, 3);
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->result, frBlocked);
    EXPECT_EQ(receiver.model().rowCount(), 0);
    // Said on this side too.
    ASSERT_EQ(receiver.notices.lines.size(), 1U);
    EXPECT_TRUE(receiver.notices.lines[0].startsWith("Refused the file \"a.txt\" offered by "));
    EXPECT_TRUE(receiver.notices.lines[0].endsWith(": Block incoming files is on."));
    EXPECT_FALSE(QFileInfo::exists(incoming("a.txt")));

    receiver.settings.blocked = false;
    reply = offer("a.txt", 10, 3);
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->result, frAccepted);
    reply = offer("b.txt", 10, 3);
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->result, frIdInUse);
    EXPECT_EQ(reply->offset, 0);
    EXPECT_EQ(receiver.model().rowCount(), 1);
    // The internal loop skips the identifier test.
    receiver.settings.loop = true;
    reply = offer("b.txt", 10, 3);
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->result, frAccepted);
    EXPECT_EQ(receiver.model().rowCount(), 2);
}

TEST_F(FileReceiverTest, MissingFolderFallsBackToTheDefaultOne) {
    receiver.settings.incoming = folder + QStringLiteral("/gone/");
    const auto reply = offer("a.txt", 3, 1);
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->result, frAccepted);
    EXPECT_EQ(receiver.settings.incoming, receiver.settings.fallback);
    block(1, "abc");
    block(1, {}, true);
    EXPECT_EQ(fileBytes(receiver.settings.fallback + "a.txt"), "abc");
    EXPECT_EQ(receiver.notices.lines.back(),
              "File a.txt received and saved into " + receiver.settings.fallback);
    EXPECT_FALSE(QFileInfo::exists(folder + "/gone"));

    // A folder set without a final separator still holds the file, and the line names it as set.
    const QString bare = folder + QStringLiteral("/bare");
    QDir().mkpath(bare);
    receiver.settings.incoming = bare;
    ASSERT_TRUE(offer("b.txt", 0, 2));
    block(2, {}, true);
    EXPECT_TRUE(QFileInfo::exists(bare + "/b.txt"));
    EXPECT_EQ(receiver.notices.lines.back(), "File b.txt received and saved into " + bare);
}

TEST_F(FileReceiverTest, WhatIsInTheWayIsPassedByAndNeverWritten) {
    // A folder, a pipe and links (one dangling, one to a file outside) with the offered names,
    // and ".part" names taken the same way: each file arrives under a name of its own.
    QDir().mkpath(incoming("taken"));
    QDir().mkpath(incoming("taken.part"));
    ASSERT_EQ(mkfifo(QFile::encodeName(incoming("pipe")).constData(), 0600), 0);
    const QString outside = writtenFile(folder + "/outside.txt", "keep");
    ASSERT_TRUE(QFile::link(outside, incoming("link.txt")));
    ASSERT_TRUE(QFile::link(outside, incoming("link.txt.part")));
    ASSERT_TRUE(QFile::link(folder + "/nowhere", incoming("dangling")));
    std::uint8_t id = 0;
    for (const QString name : {"taken", "pipe", "link.txt", "dangling"}) {
        const auto reply = offer(name.toLatin1(), 3, ++id);
        ASSERT_TRUE(reply);
        EXPECT_EQ(reply->result, frAccepted) << name.toStdString();
        EXPECT_EQ(reply->offset, 0);
        block(id, "new");
        block(id, {}, true);
        const QString second = FileReceiver::fittedName(name, 2);
        EXPECT_EQ(fileBytes(incoming(second)), "new") << name.toStdString();
        EXPECT_EQ(receiver.notices.lines.back(),
                  "File " + second + " received and saved into " + receiver.settings.incoming);
    }
    EXPECT_EQ(fileBytes(outside), "keep");
    EXPECT_FALSE(QFileInfo::exists(folder + "/nowhere"));

    // Two lines with one name: the second writes a ".part" of its own; the first to end takes
    // the name.
    ASSERT_EQ(offer("same.txt", 1, 10)->result, frAccepted);
    ASSERT_EQ(offer("same.txt", 1, 11)->result, frAccepted);
    block(11, "b");
    block(10, "a");
    block(11, {}, true);
    block(10, {}, true);
    EXPECT_EQ(fileBytes(incoming("same.txt")), "b");
    EXPECT_EQ(fileBytes(incoming("same (2).txt")), "a");

    // A folder this user may not write to (the permission does not hold for root).
    if (geteuid() != 0) {
        const QString locked = folder + QStringLiteral("/locked/");
        QDir().mkpath(locked);
        QFile::setPermissions(locked, QFile::ReadOwner | QFile::ExeOwner);
        receiver.settings.incoming = locked;
        receiver.notices.lines.clear();
        const auto reply = offer("x.txt", 10, 12);
        ASSERT_TRUE(reply);
        EXPECT_EQ(reply->result, frBlocked);
        EXPECT_EQ(receiver.model().rowCount(), 0);
        ASSERT_EQ(receiver.notices.lines.size(), 1U);
        EXPECT_TRUE(receiver.notices.lines[0].startsWith("Could not receive the file x.txt"));
        QFile::setPermissions(locked, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
}

TEST_F(FileReceiverTest, AFailedWriteStopsTheLineAndTellsTheSender) {
    ASSERT_EQ(offer("big.bin", 100'000, 6)->result, frAccepted);
    block(6, patternBytes(512, 7));
    // Let the process write no file beyond 1000 bytes for a moment.
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limited = saved;
    limited.rlim_cur = 1000;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
    block(6, patternBytes(512, 8));
    block(6, patternBytes(512, 9));
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);

    ASSERT_EQ(receiver.model().rowCount(), 1);
    const TTransfer& line = receiver.model().transfer(0);
    EXPECT_EQ(line.State, tsStopped);
    EXPECT_EQ(line.Done, 512);
    EXPECT_FALSE(line.Target);
    ASSERT_EQ(receiver.notices.lines.size(), 1U);
    EXPECT_TRUE(receiver.notices.lines[0].startsWith("Could not write the file"));
    EXPECT_TRUE(receiver.notices.lines[0].endsWith("what arrived stays in big.bin.part."));
    const auto sent = receiver.takeOutbox();
    ASSERT_EQ(sent.size(), 1U);
    const auto control = parseTransferControl(bytesOf(sent.front().bytes));
    ASSERT_TRUE(control);
    EXPECT_EQ(control->action, caAbort);
    EXPECT_EQ(control->transferId, 6);
    // What follows is not written anywhere.
    block(6, patternBytes(512, 10), true);
    EXPECT_EQ(receiver.model().rowCount(), 1);
    EXPECT_EQ(fileBytes(incoming("big.bin.part")).left(512), patternBytes(512, 7));
}

TEST_F(FileReceiverTest, APartFileWithoutTheMarkIsTheUsersAndAnUncheckedOfferLeavesItAlone) {
    // The user's own notes, named like a partial, and a sender that cannot check files.
    const QByteArray notes = patternBytes(700, 11);
    writtenFile(incoming("notes.txt.part"), notes);
    const QDateTime before = QFileInfo(incoming("notes.txt.part")).lastModified();
    auto reply = offer("notes.txt", 1000, 1);
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->result, frAccepted);
    EXPECT_EQ(reply->offset, 0);
    const QByteArray offered = patternBytes(1000, 12);
    block(1, offered, false, 2);
    block(1, {}, true);
    EXPECT_EQ(fileBytes(incoming("notes.txt")), offered);
    EXPECT_EQ(fileBytes(incoming("notes.txt.part")), notes);
    EXPECT_EQ(QFileInfo(incoming("notes.txt.part")).lastModified(), before);

    // A partial made here for a file of another size is another file's: not continued either.
    ASSERT_FALSE(markedPartial(incoming("b.bin.part"), "12345", 9).isEmpty());
    ASSERT_EQ(offer("b.bin", 8, 2)->offset, 0);
    block(2, "abcdefgh");
    block(2, {}, true);
    EXPECT_EQ(fileBytes(incoming("b.bin")), "abcdefgh");
    EXPECT_EQ(fileBytes(incoming("b.bin.part")), "12345");
}

TEST_F(FileReceiverTest, AnUnmarkedPartIsOnlyReadUntilTheCheckingSenderGoesOnFromIt) {
    // A partial of an earlier version, without the mark, offered by a sender that checks.
    writtenFile(incoming("old.bin.part"), "abc");
    receiver.deliver({receiver.id, buildFileOfferDetails({3, kCheckSha256, "old.bin"})}, sender);
    receiver.deliver(
        {receiver.id, buildFileOffer({"old.bin", 6, 3, QByteArray(kIconFieldSize, 0)})}, sender);
    while (receiver.model().transfer(0).hashingPrefix()) {
        receiver.engine->prepareBlock(receiver.cursor);
    }
    const auto sent = receiver.takeOutbox();
    ASSERT_EQ(sent.size(), 2U);
    EXPECT_EQ(parseFileReplyDetails(bytesOf(sent.front().bytes))->offset, 3);
    EXPECT_FALSE(receiver.model().transfer(0).Target->isWritable());
    // The sender found the prefix to be its file's and goes on: now it is written.
    block(3, "def");
    receiver.deliver(
        {receiver.id,
         buildFileDigest({3, QCryptographicHash::hash("abcdef", QCryptographicHash::Sha256)})},
        sender);
    block(3, {}, true);
    EXPECT_EQ(fileBytes(incoming("old.bin")), "abcdef");
    EXPECT_EQ(receiver.model().outcomes().verifiedWhole, 1);
}

TEST_F(FileReceiverTest, NamesNearTheLimitGetNamesOfTheirOwnThatFit) {
    // 251 to 255 bytes, in one-byte and two-byte characters: every numbered name and ".part"
    // fits in 255 bytes, differs from the others and keeps whole characters.
    const QString cyrillic = QString(125, QChar(0x0414)) + QStringLiteral(".txt");  // 254 bytes
    for (const QString& name : {QString(251, u'a'), QString(247, u'b') + QStringLiteral(".txt"),
                                QString(255, u'c'), cyrillic}) {
        QSet<QString> seen;
        for (int number = 1; number <= 12; ++number) {
            for (const QString& suffix : {QString(), QStringLiteral(".part")}) {
                const QString fitted = FileReceiver::fittedName(name, number, suffix);
                EXPECT_LE(QFile::encodeName(fitted).size(), 255);
                EXPECT_TRUE(fitted.endsWith(suffix));
                EXPECT_TRUE(fitted.isValidUtf16());
                EXPECT_FALSE(seen.contains(fitted)) << fitted.toStdString();
                seen.insert(fitted);
            }
        }
        EXPECT_EQ(FileReceiver::fittedName(name, 1), name);
    }
    EXPECT_TRUE(FileReceiver::fittedName(QString(247, u'b') + QStringLiteral(".txt"), 2)
                    .endsWith(QStringLiteral(" (2).txt")));

    // A stale partial of another file holds the first ".part" name and the user's file the
    // name itself: the file comes in under the next names, each within the limit.
    const QByteArray longName = QByteArray(249, 'L') + ".txt";
    const QString name = QString::fromLatin1(longName);
    writtenFile(incoming(FileReceiver::fittedName(name, 1, ".part")), "stale");
    writtenFile(incoming(name), "users");
    for (const std::uint8_t id : {1, 2}) {
        const auto reply = offer(longName, 3, id);
        ASSERT_TRUE(reply);
        ASSERT_EQ(reply->result, frAccepted) << receiver.notices.lines.back().toStdString();
        block(id, id == 1 ? "one" : "two");
        block(id, {}, true);
    }
    EXPECT_EQ(fileBytes(incoming(FileReceiver::fittedName(name, 2))), "one");
    EXPECT_EQ(fileBytes(incoming(FileReceiver::fittedName(name, 3))), "two");
    EXPECT_EQ(fileBytes(incoming(FileReceiver::fittedName(name, 1, ".part"))), "stale");
    EXPECT_EQ(fileBytes(incoming(name)), "users");
    EXPECT_EQ(receiver.model().outcomes().wholeUnverified, 2);
}

TEST_F(FileReceiverTest, AFloodOfOffersIsCutOffAndLeavesNoEmptyPartFiles) {
    const int limit = kMaxOpenTransfersPerPeer;
    for (int id = 0; id < limit + 8; ++id) {
        const auto reply = offer("f" + QByteArray::number(id), 100, static_cast<std::uint8_t>(id));
        ASSERT_TRUE(reply);
        EXPECT_EQ(reply->result, id < limit ? frAccepted : frBlocked) << id;
    }
    // A sender that reads reasons hears why, before the refusal.
    receiver.deliver(
        {receiver.id, buildFileOfferDetails({200, kCheckSha256 | kTransferNews, "late"})}, sender);
    receiver.deliver({receiver.id, buildFileOffer({"late", 1, 200, QByteArray(kIconFieldSize, 0)})},
                     sender);
    const auto answers = receiver.takeOutbox();
    ASSERT_EQ(answers.size(), 2u);
    EXPECT_EQ(parseTransferReason(bytesOf(answers[0].bytes))->code, trTooMany);
    EXPECT_EQ(parseFileReply(bytesOf(answers[1].bytes))->result, frBlocked);
    EXPECT_EQ(receiver.model().rowCount(), limit);
    EXPECT_EQ(receiver.model().outcomes().failed, 9);
    EXPECT_EQ(receiver.notices.lines.back(),
              QStringLiteral("Refused the file late offered by alice: %1 files from alice are "
                             "coming already.")
                  .arg(limit));
    // Another participant is not held back by this one.
    TestPeer other(3, QStringLiteral("carol"), folder, 7);
    receiver.deliver({receiver.id, buildFileOffer({"g", 1, 200, QByteArray(kIconFieldSize, 0)})},
                     other);
    EXPECT_EQ(parseFileReply(bytesOf(receiver.takeOutbox().front().bytes))->result, frAccepted);

    // One line got bytes and one is aborted by the sender; then the connection ends.
    block(0, "some");
    receiver.deliver({receiver.id, buildTransferControl({1, caAbort})}, sender);
    EXPECT_FALSE(QFileInfo::exists(incoming("f1.part")));
    receiver.engine->stopAll(QStringLiteral("the connection was lost"));
    EXPECT_EQ(QDir(receiver.settings.incoming).entryList(QDir::Files | QDir::Hidden),
              QStringList{"f0.part"});
    EXPECT_EQ(fileBytes(incoming("f0.part")), "some");
}

TEST_F(FileReceiverTest, AFileWholeButWithoutItsNameEndsTheSendersWaitAndSaysWhereItIs) {
    const auto checkedOffer = [&](const QByteArray& name, std::uint8_t id) {
        receiver.deliver({receiver.id, buildFileOfferDetails({id, kCheckSha256, name})}, sender);
        receiver.deliver(
            {receiver.id, buildFileOffer({name, 3, id, QByteArray(kIconFieldSize, 0)})}, sender);
        receiver.takeOutbox();
        block(id, "xyz");
        receiver.deliver(
            {receiver.id,
             buildFileDigest({id, QCryptographicHash::hash("xyz", QCryptographicHash::Sha256)})},
            sender);
    };
    // The incoming folder is removed before the end: the bytes went with it.
    receiver.settings.incoming = folder + QStringLiteral("/doomed/");
    QDir().mkpath(receiver.settings.incoming);
    checkedOffer("gone.bin", 1);
    ASSERT_TRUE(QDir(receiver.settings.incoming).removeRecursively());
    block(1, {}, true);
    auto sent = receiver.takeOutbox();
    ASSERT_EQ(sent.size(), 1U);
    auto control = parseTransferControl(bytesOf(sent.front().bytes));
    ASSERT_TRUE(control);
    EXPECT_EQ(control->action, caAbort);
    EXPECT_EQ(control->transferId, 1);
    EXPECT_EQ(receiver.model().transfer(0).State, tsStopped);
    EXPECT_EQ(receiver.notices.lines.back(),
              "File gone.bin arrived whole, but could not be given its name (No such file or "
              "directory), and gone.bin.part is gone from " +
                  folder + "/doomed with its bytes.");

    // A folder that may no longer be written to: the bytes stay in the ".part", as said.
    if (geteuid() != 0) {
        const QString locked = folder + QStringLiteral("/locked/");
        receiver.settings.incoming = locked;
        QDir().mkpath(locked);
        checkedOffer("kept.bin", 2);
        QFile::setPermissions(locked, QFile::ReadOwner | QFile::ExeOwner);
        block(2, {}, true);
        QFile::setPermissions(locked, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        sent = receiver.takeOutbox();
        ASSERT_EQ(sent.size(), 1U);
        EXPECT_EQ(parseTransferControl(bytesOf(sent.front().bytes))->action, caAbort);
        EXPECT_EQ(receiver.notices.lines.back(),
                  "File kept.bin arrived whole, but could not be given its name (Permission "
                  "denied). It stays as kept.bin.part in " +
                      folder + "/locked.");
        EXPECT_EQ(fileBytes(locked + "kept.bin.part"), "xyz");
    }
}
