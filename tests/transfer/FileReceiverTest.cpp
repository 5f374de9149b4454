#include "transfer/FileReceiver.h"

#include "TransferTestPeers.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <QFileInfo>

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

TEST_F(FileReceiverTest, NewFileIsWrittenBlockByBlockAndReported) {
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
    EXPECT_TRUE(QFileInfo::exists(incoming("a.txt")));

    // A block while the line is paused is still written.
    model.setState(0, tsPaused);
    const QByteArray first = patternBytes(4096, 1);
    receiver.clock.tick = 2000;
    block(17, first, false, 4);
    EXPECT_EQ(line.Done, 4096);
    EXPECT_EQ(line.LastBlock, 4096);
    EXPECT_EQ(line.LastTick, 2000U);
    EXPECT_EQ(model.data(model.index(0, colLeft)).toString(), timeOfDayText(243'000, QLocale::c()));
    EXPECT_EQ(model.data(model.index(0, colCompleted)).toString(), "4096 B");
    // Blocks for no incoming line change nothing.
    block(18, first);
    const QByteArray second = patternBytes(300, 2);
    block(17, second);
    EXPECT_EQ(line.Done, 4396);

    block(17, {}, true);
    EXPECT_EQ(model.rowCount(), 0);
    EXPECT_EQ(readFile(incoming("a.txt")), first + second);
    ASSERT_EQ(receiver.notices.lines.size(), 1U);
    EXPECT_EQ(receiver.notices.lines[0],
              "File a.txt received and saved into " + receiver.settings.incoming);
    EXPECT_TRUE(receiver.takeOutbox().empty());  // the end is not answered
}

TEST_F(FileReceiverTest, ExistingFileIsContinuedNeverTruncated) {
    const QByteArray present = patternBytes(1000, 3);
    writeFile(incoming("a.txt"), present);
    auto reply = offer("a.txt", 1500, 1);
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->offset, 1000);
    EXPECT_EQ(receiver.model().transfer(0).Done, 1000);
    const QByteArray rest = patternBytes(500, 4);
    block(1, rest);
    block(1, {}, true);
    EXPECT_EQ(readFile(incoming("a.txt")), present + rest);

    // A file longer than the offered one stays as it was.
    const QByteArray longer = patternBytes(5000, 5);
    writeFile(incoming("b.bin"), longer);
    reply = offer("b.bin", 100, 2);
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->offset, 5000);
    block(2, {}, true);
    EXPECT_EQ(readFile(incoming("b.bin")), longer);
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
        EXPECT_TRUE(QFileInfo::exists(incoming(QString::fromLatin1(name))));
    }
    // 255 Windows-1252 bytes that need 510 bytes here cannot be created: refused and said.
    receiver.notices.lines.clear();
    const auto reply = offer(QByteArray(255, '\xE9'), 0, ++id);
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->result, frBlocked);
    ASSERT_EQ(receiver.notices.lines.size(), 1U);
    EXPECT_TRUE(receiver.notices.lines[0].startsWith("Could not receive the file"));
    EXPECT_EQ(receiver.model().rowCount(), 4);
}

TEST_F(FileReceiverTest, BlockingAndIdentifierClashes) {
    receiver.settings.blocked = true;
    auto reply = offer("a.txt", 10, 3);
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->result, frBlocked);
    EXPECT_EQ(receiver.model().rowCount(), 0);
    EXPECT_TRUE(receiver.notices.lines.empty());
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
    EXPECT_EQ(readFile(receiver.settings.fallback + "a.txt"), "abc");
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

TEST_F(FileReceiverTest, TargetsThatCannotBeOpenedAreRefusedWithoutALine) {
    // A folder of that name is in the way.
    QDir().mkpath(incoming("taken"));
    auto reply = offer("taken", 10, 1);
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->result, frBlocked);
    EXPECT_EQ(receiver.model().rowCount(), 0);
    ASSERT_EQ(receiver.notices.lines.size(), 1U);
    EXPECT_TRUE(receiver.notices.lines[0].contains("taken"));

    // A device, pipe or the like is not a file to write into.
    ASSERT_EQ(mkfifo(QFile::encodeName(incoming("pipe")).constData(), 0600), 0);
    ASSERT_EQ(offer("pipe", 10, 9)->result, frBlocked);

    // A link could lead outside the folder.
    const QString outside = writeFile(folder + "/outside.txt", "keep");
    ASSERT_TRUE(QFile::link(outside, incoming("link.txt")));
    reply = offer("link.txt", 10, 2);
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->result, frBlocked);
    EXPECT_EQ(readFile(outside), "keep");

    // Another line still writes a file of that name.
    ASSERT_EQ(offer("same.txt", 10, 3)->result, frAccepted);
    reply = offer("same.txt", 10, 4);
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->result, frBlocked);
    EXPECT_EQ(receiver.model().rowCount(), 1);

    // A folder this user may not write to (the permission does not hold for root).
    if (geteuid() != 0) {
        const QString locked = folder + QStringLiteral("/locked/");
        QDir().mkpath(locked);
        QFile::setPermissions(locked, QFile::ReadOwner | QFile::ExeOwner);
        receiver.settings.incoming = locked;
        reply = offer("x.txt", 10, 5);
        ASSERT_TRUE(reply);
        EXPECT_EQ(reply->result, frBlocked);
        EXPECT_EQ(receiver.model().rowCount(), 1);
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
    const auto sent = receiver.takeOutbox();
    ASSERT_EQ(sent.size(), 1U);
    const auto control = parseTransferControl(bytesOf(sent.front().bytes));
    ASSERT_TRUE(control);
    EXPECT_EQ(control->action, caAbort);
    EXPECT_EQ(control->transferId, 6);
    // What follows is not written anywhere.
    block(6, patternBytes(512, 10), true);
    EXPECT_EQ(receiver.model().rowCount(), 1);
    EXPECT_EQ(readFile(incoming("big.bin")).left(512), patternBytes(512, 7));
}
