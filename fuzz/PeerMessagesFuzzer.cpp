// The peer message dispatcher with the real transfers behind it: an engine that receives into a
// folder of its own and sends files of its own, driven by a script of received messages (raw,
// or well-formed with fuzzed fields), sender cycles, the user's commands and changed settings.
// Nothing may ever be written outside the incoming folders or into the files being sent; a
// receiving line's file holds exactly the bytes counted for it; every message the engine sends
// is one the other side can read; and without the internal loop no two lines share an
// identifier.

#include "FuzzSupport.h"

#include "protocol/PeerMessageDispatcher.h"
#include "transfer/TransferClock.h"
#include "transfer/TransferEngine.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <sys/inotify.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <bitset>
#include <random>

using namespace velmora;
using velmora::fuzz::check;
using velmora::fuzz::FuzzInput;

namespace {

constexpr std::uint32_t kOwnId = 2;
constexpr std::uint32_t kPeerId = 1;
// Another participant whose messages come now and then.
constexpr std::uint32_t kStrangerId = 7;

class FixedClock final : public TransferClock {
public:
    std::uint32_t tickCount() const override { return tick; }
    double timeOfDay() const override { return time; }

    std::uint32_t tick = 0;
    double time = 0.5;
};

class QuietNotices final : public TransferNotices {
public:
    void showTransferStatus(const QString&) override {}
    void appendConversationLine(const QString&) override {}
    void showMessage(const QString&) override {}
};

class Settings final : public TransferSettings {
public:
    QString incomingFolder() const override { return incoming; }
    void setIncomingFolder(const QString& folder) override { incoming = folder; }
    QString defaultIncomingFolder() const override { return fallback; }
    bool blockIncoming() const override { return blocked; }
    bool internalLoop() const override { return loop; }
    int blockSizeCode() const override { return code; }

    QString incoming;
    QString fallback;
    bool blocked = false;
    bool loop = false;
    int code = 1;
};

// Checks what the conversation is handed.
class CheckingConversation final : public ConversationHandler {
public:
    void textReceived(const QString&, const QString& text) override {
        check(text.size() <= kMaxUtf8TextLength && !text.contains(QChar(u'\0')),
              "a chat line is at most 196605 characters and stops before a zero character");
    }
    void keyStrokeReceived(const KeyStroke&) override {}
};

// Counts the messages the other side would take.
class CountingTransfers final : public TransferHandler {
public:
    void offerReceived(const PeerSender&, const FileOffer&) override {}
    void replyReceived(const PeerSender&, const FileReply&) override {}
    void blockReceived(const PeerSender&, const FileBlock&) override {}
    void controlReceived(const PeerSender&, const TransferControl&) override {}
};

// What was made or changed in the scratch folder since the last look, told by the kernel, so
// that an input's files are checked and removed without listing a folder.
class FolderWatch {
public:
    struct Seen {
        QStringList inRoot;      // entries made in the scratch folder itself
        QStringList inIncoming;  // entries made in the incoming folder
        bool sourcesTouched = false;
        bool overflow = false;
    };

    FolderWatch(const QString& root, const QString& sources, const QString& incoming)
        : m_fd(inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {
        check(m_fd >= 0, "the folders can be watched");
        constexpr std::uint32_t made = IN_CREATE | IN_MOVED_TO;
        m_root = add(root, made);
        m_sources = add(sources, made | IN_MODIFY | IN_ATTRIB | IN_DELETE | IN_MOVED_FROM |
                                     IN_DELETE_SELF | IN_MOVE_SELF);
        m_incoming = add(incoming, made);
    }
    ~FolderWatch() { close(m_fd); }
    FolderWatch(const FolderWatch&) = delete;
    FolderWatch& operator=(const FolderWatch&) = delete;

    Seen take() const {
        Seen seen;
        alignas(inotify_event) char buffer[16 * 1024];
        ssize_t length = 0;
        while ((length = read(m_fd, buffer, sizeof buffer)) > 0) {
            for (const char* at = buffer; at < buffer + length;) {
                const auto* event = reinterpret_cast<const inotify_event*>(at);
                const QString name = QString::fromLocal8Bit(event->len > 0 ? event->name : "");
                if ((event->mask & IN_Q_OVERFLOW) != 0) {
                    seen.overflow = true;
                } else if (event->wd == m_root) {
                    seen.inRoot.append(name);
                } else if (event->wd == m_sources) {
                    seen.sourcesTouched = true;
                } else if (event->wd == m_incoming) {
                    seen.inIncoming.append(name);
                }
                at += sizeof(inotify_event) + event->len;
            }
        }
        return seen;
    }

private:
    int add(const QString& folder, std::uint32_t mask) const {
        const int watch = inotify_add_watch(m_fd, QFile::encodeName(folder).constData(), mask);
        check(watch >= 0, "a folder can be watched");
        return watch;
    }

    int m_fd;
    int m_root = -1;
    int m_sources = -1;
    int m_incoming = -1;
};

// The files offered by this side, made once: they must never change.
struct Sources {
    Sources() {
        const QString folder = velmora::fuzz::scratchFolder() + QStringLiteral("/sources");
        QDir().mkpath(folder);
        const std::array<int, 4> sizes{0, 100, 5000, 70000};
        for (std::size_t i = 0; i < sizes.size(); ++i) {
            const QString path = folder + QStringLiteral("/source-%1.bin").arg(i);
            QByteArray bytes(sizes[i], '\0');
            for (int at = 0; at < bytes.size(); ++at) {
                bytes[at] = static_cast<char>(at * 13 + static_cast<int>(i));
            }
            QFile file(path);
            check(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size(),
                  "the files to send are made");
            file.close();
            paths.push_back(path);
        }
        // Names to offer, among them ones that would reach outside the folder.
        names = {"a.txt",     "source-1.bin", "../escape.txt", "..",
                 ".",         "sub/dir.txt",  "back\\slash",   "",
                 "nul\0byte", "  spaced  ",   "caf\xe9.txt"};
        names[8] = QByteArray("nul\0byte", 8);
    }

    QString folder() const { return QFileInfo(paths.front()).path(); }

    std::vector<QString> paths;
    std::vector<QByteArray> names;
};

const Sources& sources() {
    static const Sources made;
    return made;
}

QString incomingFolder() {
    return velmora::fuzz::scratchFolder() + QStringLiteral("/incoming/");
}

QString fallbackFolder() {
    return velmora::fuzz::scratchFolder() + QStringLiteral("/fallback/");
}

// Watches from after the files to send were made; the incoming folder exists from then on.
const FolderWatch& folderWatch() {
    static const FolderWatch watch = [] {
        QDir().mkpath(incomingFolder());
        return FolderWatch(velmora::fuzz::scratchFolder(), sources().folder(), incomingFolder());
    }();
    return watch;
}

class Script {
public:
    explicit Script(FuzzInput& input) : m_input(input), m_random(input.u32()) {
        // The folders stay from one input to the next; what an input received goes with it.
        m_incoming = incomingFolder();
        m_fallback = fallbackFolder();
        m_settings.incoming = m_incoming;
        m_incomingPath = QDir(m_incoming).path();
        m_fallbackPath = QDir(m_fallback).path();
        m_settings.fallback = m_fallback;
        m_engine = std::make_unique<TransferEngine>(
            m_settings, m_notices, m_clock,
            [this](std::uint32_t destination, const QByteArray& message) {
                sent(destination, message);
            },
            [this] { return static_cast<std::uint32_t>(m_random()); },
            [](const QString&) { return QByteArray(kIconFieldSize, '\x11'); }, QLocale::c());
    }

    void run() {
        for (int ops = 0; ops < 12 && !m_input.atEnd(); ++ops) {
            step();
            checkState();
        }
        readEveryCell();
        m_engine->stopAll();
        checkState();
        m_engine.reset();
        checkFolders();
    }

private:
    TransfersModel& model() { return m_engine->model(); }

    void sent(std::uint32_t destination, const QByteArray& message) {
        check(destination == kPeerId || destination == kStrangerId,
              "messages go only to participants that are there");
        // The one exception: the answer to an offer that named the unused identifier 255,
        // which no transfer of the other side holds.
        const bool answersUnusedId =
            messageKindOf(bytesOf(message)) == static_cast<std::uint32_t>(MessageKind::FileReply) &&
            static_cast<std::uint8_t>(message.at(8)) == kUnusedTransferId;
        check(dispatchPeerMessage({kOwnId, {}}, message.constData(),
                                  static_cast<int>(message.size()), m_conversation, m_counting) ||
                  answersUnusedId,
              "every message sent is one the other side can read");
    }

    void receive(const QByteArray& message) {
        const std::uint32_t from = m_input.pick(8) == 0 ? kStrangerId : kPeerId;
        dispatchPeerMessage({from, QStringLiteral("peer")}, message.constData(),
                            static_cast<int>(message.size()), m_conversation, *m_engine);
    }

    // An identifier of a listed line most of the time, else any.
    std::uint8_t someId() {
        const int rows = model().rowCount();
        if (rows > 0 && m_input.pick(4) != 0) {
            return model().transfer(m_input.pick(rows)).Id;
        }
        return m_input.u8();
    }

    QByteArray offer() {
        QByteArray name = m_input.flag() ? sources().names[static_cast<std::size_t>(m_input.pick(
                                               static_cast<int>(sources().names.size())))]
                                         : m_input.chunk(kMaxFileNameLength);
        const std::int32_t size = static_cast<std::int32_t>(m_input.u32());
        return buildFileOffer({name, size, someId(), m_input.bytes(kIconFieldSize)});
    }

    QByteArray block() {
        // The header's fields as the fuzzer likes them, the message of the code's full length.
        // The 1 MiB code now and then only: a block message always has its code's full length.
        const int code = m_input.pick(8) == 0 ? m_input.pick(9) : m_input.pick(7);
        const int full = kFileBlockHeaderSize + blockSizeOfCode(code).value_or(512);
        QByteArray message(m_input.flag() ? full : full - m_input.pick(4), '\0');
        const std::uint32_t kind = static_cast<std::uint32_t>(MessageKind::FileBlock);
        const std::int32_t count =
            m_input.flag() ? m_input.u16() % 600 : static_cast<std::int32_t>(m_input.u32());
        const QByteArray data = m_input.bytes(600);
        const char header[] = {static_cast<char>(kind),
                               0,
                               0,
                               0,
                               static_cast<char>(m_input.flag() ? 1 : m_input.u8()),
                               static_cast<char>(someId()),
                               static_cast<char>(count),
                               static_cast<char>(count >> 8),
                               static_cast<char>(count >> 16),
                               static_cast<char>(count >> 24),
                               static_cast<char>(code)};
        std::copy(std::begin(header), std::end(header), message.begin());
        std::copy(data.begin(), data.begin() + std::min(data.size(), message.size() - 11),
                  message.begin() + 11);
        return message;
    }

    QList<int> someRows() {
        QList<int> rows;
        for (int row = 0; row < model().rowCount() + 1; ++row) {
            if (m_input.flag()) {
                rows.append(row);
            }
        }
        return rows;
    }

    // The file check's messages, with fuzzed fields.
    QByteArray checkMessage() {
        const std::uint8_t id = someId();
        switch (m_input.pick(5)) {
            case 0:
                return buildFileOfferDetails({id, m_input.u8(), m_input.chunk(300)});
            case 1: {
                const std::int32_t offset =
                    m_input.flag() ? m_input.u16() : static_cast<std::int32_t>(m_input.u32());
                return buildFileReplyDetails(
                    {id, m_input.u8(), offset, m_input.bytes(kDigestSize)});
            }
            case 2:
                return buildFileDigest({id, m_input.bytes(kDigestSize)});
            case 3:
                return buildFileRestart({id});
            default:
                return buildFileVerdict({id, static_cast<FileVerdictResult>(m_input.pick(3))});
        }
    }

    void step() {
        switch (m_input.pick(13)) {
            case 12:
                receive(checkMessage());
                break;
            case 0:
                receive(m_input.chunk(700));
                break;
            case 1:
                receive(offer());
                break;
            case 2: {
                const std::int32_t offset =
                    m_input.flag() ? m_input.u16() : static_cast<std::int32_t>(m_input.u32());
                receive(
                    buildFileReply({offset, someId(), static_cast<FileReplyResult>(m_input.pick(3)),
                                    m_input.bytes(kIconFieldSize)}));
                break;
            }
            case 3:
                receive(block());
                break;
            case 4: {
                std::uint8_t id = someId();
                receive(buildTransferControl({id == kTransferIdCount ? std::uint8_t{0} : id,
                                              static_cast<TransferAction>(m_input.pick(3))}));
                break;
            }
            case 5: {
                // One file mostly: opening files is what an offer costs most.
                QStringList paths;
                for (int i = 0, n = m_input.pick(4) == 0 ? 3 : 1; i < n; ++i) {
                    paths.append(sources().paths[static_cast<std::size_t>(
                        m_input.pick(static_cast<int>(sources().paths.size())))]);
                }
                const int who = m_input.pick(4);
                m_engine->sendFiles(
                    paths, who == 0 ? std::nullopt : std::optional<Opponent>{{kPeerId, who == 1}});
                break;
            }
            case 6:
                for (int i = 0, n = 1 + m_input.pick(16); i < n; ++i) {
                    if (auto prepared = m_engine->prepareBlock(m_cursor)) {
                        sent(prepared->destination, prepared->message);
                    }
                }
                break;
            case 7: {
                const QList<int> rows = someRows();
                switch (m_input.pick(3)) {
                    case 0:
                        m_engine->abort(rows);
                        break;
                    case 1:
                        m_engine->pause(rows);
                        break;
                    default:
                        m_engine->resume(rows);
                        break;
                }
                break;
            }
            case 8:
                if (m_input.flag()) {
                    m_engine->removeFirstAborted();
                } else {
                    m_engine->stopAll();
                }
                break;
            case 9:
                m_settings.blocked = m_input.pick(4) == 0;
                m_settings.loop = m_input.pick(4) == 0;
                m_loopUsed |= m_settings.loop;
                m_settings.code = m_input.pick(8) == 0 ? m_input.pick(10) - 1 : m_input.pick(7) - 1;
                break;
            case 10:
                // The incoming folder vanished: the fallback is made and used.
                m_settings.incoming =
                    m_input.flag() ? m_incoming
                                   : velmora::fuzz::scratchFolder() + QStringLiteral("/gone/");
                break;
            default:
                m_clock.tick += m_input.u16();
                m_clock.time = (m_input.u16() % 1000) / 1000.0;
                break;
        }
    }

    // What a view reads of the lines, once per input: it must hold for every line left.
    void readEveryCell() {
        for (int row = 0; row < model().rowCount(); ++row) {
            for (int column = 0; column < model().columnCount(); ++column) {
                for (const int role : {int(Qt::DisplayRole), int(TransfersModel::IconRole),
                                       int(TransfersModel::StateImageRole)}) {
                    model().data(model().index(row, column), role);
                }
            }
        }
    }

    void checkState() {
        std::vector<QString> targets;
        std::bitset<kTransferIdCount + 1> ids;
        for (int row = 0; row < model().rowCount(); ++row) {
            const TTransfer& transfer = model().transfer(row);
            check(transfer.Id < kTransferIdCount, "a line's identifier is 0..254");
            check(transfer.Recipients.size() == 1, "a line has one recipient");
            if (!m_loopUsed) {
                check(!ids.test(transfer.Id), "no two lines share an identifier");
                ids.set(transfer.Id);
            }
            if (transfer.Outgoing) {
                check((transfer.Source != nullptr || transfer.State == tsStopped) &&
                          transfer.Waiting.size() == 1,
                      "an outgoing line has its file until it stops, and one waiting flag");
                continue;
            }
            if (!transfer.Target) {
                continue;
            }
            const QString target = transfer.Target->fileName();
            check(std::find(targets.begin(), targets.end(), target) == targets.end(),
                  "no two lines write one file");
            targets.push_back(target);
            const QString folder = QFileInfo(target).path();
            check(folder == m_incomingPath || folder == m_fallbackPath,
                  "a file is received into the incoming folder");
            check(transfer.Target->size() == static_cast<std::uint32_t>(transfer.Done),
                  "a received file holds the bytes counted for it");
        }
    }

    // What the input made on disk: only plain files in the incoming folders, nothing anywhere
    // else, the files being sent untouched. What it received is removed for the next input.
    void checkFolders() {
        const FolderWatch::Seen seen = folderWatch().take();
        check(!seen.overflow, "the folder watch kept up");
        for (const QString& name : seen.inRoot) {
            if (name != QStringLiteral("fallback")) {
                std::fprintf(stderr, "unexpected: %s\n", qPrintable(name));
            }
            check(name == QStringLiteral("fallback"),
                  "nothing is written outside the incoming folders");
        }
        check(!seen.sourcesTouched, "the files being sent and their folder are never changed");
        QDir incoming(m_incoming);
        for (const QString& name : seen.inIncoming) {
            const QFileInfo entry(incoming.filePath(name));
            if (entry.exists() || entry.isSymLink()) {
                checkPlainFile(entry);
                incoming.remove(name);
            }
        }
        if (seen.inRoot.contains(QStringLiteral("fallback"))) {
            QDir fallback(m_fallback);
            for (const QFileInfo& entry : fallback.entryInfoList(
                     QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System)) {
                checkPlainFile(entry);
            }
            fallback.removeRecursively();
        }
    }

    static void checkPlainFile(const QFileInfo& entry) {
        check(entry.isFile() && !entry.isSymLink(), "an incoming folder holds only plain files");
    }

    FuzzInput& m_input;
    QString m_incoming;
    QString m_fallback;
    // The two folders as the receiver's file names show them.
    QString m_incomingPath;
    QString m_fallbackPath;
    FixedClock m_clock;
    QuietNotices m_notices;
    Settings m_settings;
    CheckingConversation m_conversation;
    CountingTransfers m_counting;
    std::unique_ptr<TransferEngine> m_engine;
    std::minstd_rand m_random;
    BlockCursor m_cursor;
    bool m_loopUsed = false;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    folderWatch();
    FuzzInput input(data, size);
    Script(input).run();
    return 0;
}
