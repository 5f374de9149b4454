#include "transfer/FileReceiver.h"

#include "base/TerminalText.h"
#include "session/Windows1252.h"
#include "transfer/FileDigests.h"
#include "transfer/TransferClock.h"
#include "transfer/TransferWords.h"
#include "transfer/TransfersModel.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QStringDecoder>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace velmora {

namespace {

const QString kPartSuffix = QStringLiteral(".part");
// How far "NAME (n)" goes before a file is refused for want of a free name.
constexpr int kMaxNumberedNames = 9999;

// A received name as the user reads it, its zero bytes made visible.
QString shownName(const QByteArray& name) {
    QString shown = fromWindows1252(name);
    shown.replace(QChar(u'\0'), QStringLiteral("\\0"));
    return shown;
}

bool sameFile(const QString& a, const QString& b) {
    return QFileInfo(a).absoluteFilePath() == QFileInfo(b).absoluteFilePath();
}

// The longest file name in bytes that the system takes.
constexpr qsizetype kMaxNameBytes = 255;

qsizetype encodedLength(const QString& name) {
    return QFile::encodeName(name).size();
}

// The extended attribute that marks a ".part" this program made; its value is the offered size
// in decimal.
constexpr char kPartialMark[] = "user.velmora.partial";

// The offered size a ".part" was marked with; empty when it carries no mark.
std::optional<qint64> partialMarkOf(const QString& path) {
    char value[24];
    const ssize_t length =
        ::lgetxattr(QFile::encodeName(path).constData(), kPartialMark, value, sizeof value);
    if (length <= 0) {
        return std::nullopt;
    }
    bool ok = false;
    const qint64 size = QByteArray(value, length).toLongLong(&ok);
    return ok ? std::optional(size) : std::nullopt;
}

// Cuts the last character, a pair of surrogates as one.
void chopCharacter(QString& text) {
    const bool pair = text.size() >= 2 && text.back().isLowSurrogate();
    text.chop(pair ? 2 : 1);
}

// Whether anything at all, a dangling link included, has this path.
bool pathTaken(const QString& path) {
    const QFileInfo info(path);
    return info.exists() || info.isSymLink();
}

// The name the offer's details give in UTF-8, when it is one.
std::optional<QString> utf8NameOf(const FileOfferDetails& details) {
    if (details.utf8Name.isEmpty() || !FileReceiver::isPlainFileName(details.utf8Name)) {
        return std::nullopt;
    }
    QStringDecoder decoder(QStringDecoder::Utf8);
    QString name = decoder.decode(details.utf8Name);
    if (decoder.hasError()) {
        return std::nullopt;
    }
    return name;
}

// Renames the finished file to path unless something has that path; errno EEXIST then.
bool renameWithoutReplacing(const QString& from, const QString& to) {
    const QByteArray source = QFile::encodeName(from);
    const QByteArray target = QFile::encodeName(to);
    if (::renameat2(AT_FDCWD, source.constData(), AT_FDCWD, target.constData(), RENAME_NOREPLACE) ==
        0) {
        return true;
    }
    if (errno != EINVAL && errno != ENOSYS) {
        return false;
    }
    // A file system without the flag: a second name for the file fails just the same when the
    // target exists.
    if (::link(source.constData(), target.constData()) != 0) {
        return false;
    }
    ::unlink(source.constData());
    return true;
}

}  // namespace

FileReceiver::FileReceiver(TransfersModel& model, const TransferClock& clock,
                           TransferSettings& settings, TransferNotices& notices,
                           PeerMessageSink send)
    : m_model(model),
      m_clock(clock),
      m_settings(settings),
      m_notices(notices),
      m_send(std::move(send)) {}

bool FileReceiver::isPlainFileName(const QByteArray& name) {
    if (name.isEmpty() || name == "." || name == "..") {
        return false;
    }
    return !name.contains('/') && !name.contains('\\') && !name.contains('\0');
}

QString FileReceiver::fittedName(const QString& name, int number, const QString& suffix) {
    // The extension starts at the last dot, unless that dot starts the name.
    const qsizetype dot = name.lastIndexOf(u'.');
    const qsizetype at = dot > 0 ? dot : name.size();
    QString stem = name.left(at);
    QString extension = name.mid(at);
    const QString tag = number > 1 ? QStringLiteral(" (%1)").arg(number) : QString();
    const auto fits = [&] {
        return encodedLength(stem + tag + extension + suffix) <= kMaxNameBytes;
    };
    while (!stem.isEmpty() && !fits()) {
        chopCharacter(stem);
    }
    while (!extension.isEmpty() && !fits()) {
        chopCharacter(extension);
    }
    return stem + tag + extension + suffix;
}

bool FileReceiver::markPartial(const QString& path, std::int32_t offeredSize) {
    const QByteArray value = QByteArray::number(offeredSize);
    return ::lsetxattr(QFile::encodeName(path).constData(), kPartialMark, value.constData(),
                       static_cast<std::size_t>(value.size()), 0) == 0;
}

void FileReceiver::reply(const PeerSender& sender, const FileOffer& offer, FileReplyResult result,
                         std::int32_t offset) {
    m_send(sender.id, buildFileReply({offset, offer.transferId, result, offer.icon}));
}

void FileReceiver::refuse(const PeerSender& sender, const FileOffer& offer, bool theyHearNews,
                          std::uint8_t code, const QString& detail, const QString& line) {
    if (theyHearNews) {
        m_send(sender.id, buildTransferReason({offer.transferId, code, detail.toUtf8()}));
    }
    reply(sender, offer, frBlocked, 0);
    // Blocking files is the user's choice here, not a file that failed.
    if (code != trBlocked) {
        m_model.recordRefusedOffer();
    }
    if (!line.isEmpty()) {
        m_notices.appendConversationLine(line);
    }
}

QString FileReceiver::usableIncomingFolder() {
    if (!QFileInfo(m_settings.incomingFolder()).isDir()) {
        const QString fallback = m_settings.defaultIncomingFolder();
        QDir().mkpath(fallback);
        m_settings.setIncomingFolder(fallback);
    }
    return m_settings.incomingFolder();
}

void FileReceiver::offerDetailsReceived(const PeerSender& sender, const FileOfferDetails& details) {
    m_details[{sender.id, details.transferId}] = details;
}

bool FileReceiver::heldByAnotherLine(const QString& path) const {
    for (int row = 0; row < m_model.rowCount(); ++row) {
        const TTransfer& other = m_model.transfer(row);
        if (other.Target && sameFile(other.PartPath, path)) {
            return true;
        }
    }
    return false;
}

void FileReceiver::offerReceived(const PeerSender& sender, const FileOffer& offer) {
    const auto detailsAt = m_details.find({sender.id, offer.transferId});
    std::optional<FileOfferDetails> details;
    if (detailsAt != m_details.end()) {
        details = detailsAt->second;
        m_details.erase(detailsAt);
    }
    const bool theyHearNews = details && (details->flags & kTransferNews) != 0;
    if (m_settings.blockIncoming()) {
        refuse(sender, offer, theyHearNews, trBlocked, QString(),
               QStringLiteral("Refused the file \"%1\" offered by %2: Block incoming files is on.")
                   .arg(TerminalText::visible(shownName(offer.fileName)), sender.name));
        return;
    }
    // 255 names no transfer: asked for another identifier, the sender draws one that does.
    if (offer.transferId == kUnusedTransferId ||
        (!m_settings.internalLoop() && m_model.holdsId(offer.transferId))) {
        reply(sender, offer, frIdInUse, 0);
        return;
    }
    // Anything but a bare name could reach outside the incoming folder: refused, so that the
    // sender's line stops.
    if (!isPlainFileName(offer.fileName)) {
        refuse(sender, offer, theyHearNews, trUnusableName,
               QStringLiteral("it is not a plain file name"),
               QStringLiteral("Refused the file \"%1\" offered by %2: it is not a plain file name.")
                   .arg(shownName(offer.fileName), sender.name));
        return;
    }
    const bool checked = details && (details->flags & kCheckSha256) != 0;
    const QString fileName = details
                                 ? utf8NameOf(*details).value_or(fromWindows1252(offer.fileName))
                                 : fromWindows1252(offer.fileName);
    if (TerminalText::hasControlCharacters(fileName)) {
        // Such a name could move a terminal's cursor or forge a line when it is shown.
        refuse(sender, offer, theyHearNews, trUnusableName,
               QStringLiteral("it holds control characters"),
               QStringLiteral("Refused the file \"%1\" offered by %2: its name holds control "
                              "characters.")
                   .arg(TerminalText::visible(fileName), sender.name));
        return;
    }
    if (m_model.openLines(sender.id, false) >= kMaxOpenTransfersPerPeer) {
        // A flood of offers would otherwise make a ".part" for each.
        refuse(sender, offer, theyHearNews, trTooMany, QString(),
               QStringLiteral("Refused the file %1 offered by %2: %3 files from %2 are coming "
                              "already.")
                   .arg(fileName, sender.name)
                   .arg(kMaxOpenTransfersPerPeer));
        return;
    }
    const QString folder = usableIncomingFolder();
    const auto cannotReceive = [&](std::uint8_t code, const QString& why) {
        refuse(sender, offer, theyHearNews, code, why,
               QStringLiteral("Could not receive the file %1 from %2 into %3: %4.")
                   .arg(fileName, sender.name, folder, why));
    };
    if (offer.fileSize < 0) {
        cannotReceive(trBadData, QStringLiteral("its size is not a size"));
        return;
    }
    if (encodedLength(fileName) > kMaxNameBytes) {
        cannotReceive(trUnusableName, QStringLiteral("the name is too long for this system"));
        return;
    }

    auto transfer = std::make_unique<TTransfer>();
    transfer->startClock(m_clock.tickCount());
    transfer->ConfirmedTick = m_clock.tickCount();
    transfer->FileName = fileName;
    transfer->Folder = folder;
    transfer->Size = offer.fileSize;
    transfer->Id = offer.transferId;
    transfer->Outgoing = false;
    transfer->Recipients = {sender.id};
    transfer->State = tsRunning;
    transfer->Checked = checked;
    transfer->TheyHearNews = theyHearNews;
    if (checked) {
        transfer->Digest = newDigest();
    }

    if (const std::optional<ResumablePart> part =
            resumablePart(folder, fileName, offer.fileSize, checked)) {
        // Unbuffered, so that a failed write shows at the block that failed. One without the
        // mark is only read until the sender has found it to be the start of its file.
        auto target = std::make_unique<QFile>(part->path);
        const QIODevice::OpenMode mode = part->marked ? QIODevice::ReadWrite : QIODevice::ReadOnly;
        if (target->open(mode | QIODevice::Unbuffered)) {
            transfer->Target = std::move(target);
            transfer->PartPath = part->path;
        }
    }
    const bool resuming = transfer->Target != nullptr;
    if (resuming) {
        const auto held = static_cast<std::int32_t>(transfer->Target->size());
        if (checked) {
            // The sender learns the prefix's digest with the reply, once it is read back.
            transfer->PrefixDigest = newDigest();
            transfer->PrefixLength = held;
        } else {
            transfer->Target->seek(held);
        }
        transfer->Done = held;
    }
    const int row = m_model.addTransfer(std::move(transfer), offer.icon);
    if (!resuming) {
        if (const std::optional<QString> why = openNewPart(row)) {
            // Refused: the sender's line stops. The line here goes; openNewPart said why.
            refuse(sender, offer, theyHearNews, trCannotWrite, *why, QString());
            m_model.removeTransfer(row);
            return;
        }
    }
    if (!m_model.transfer(row).hashingPrefix()) {
        replyAccepted(row);
    }
}

std::optional<FileReceiver::ResumablePart> FileReceiver::resumablePart(const QString& folder,
                                                                       const QString& fileName,
                                                                       std::int32_t size,
                                                                       bool checked) const {
    // The ".part"s of this name, up to the first number without one: another file's may hold
    // the first name while this file's has a number.
    std::optional<ResumablePart> newest;
    QDateTime newestTime;
    for (int number = 1; number <= kMaxNumberedNames; ++number) {
        const QString path = QDir(folder).filePath(fittedName(fileName, number, kPartSuffix));
        if (!pathTaken(path)) {
            break;
        }
        const QFileInfo info(path);
        if (!info.isFile() || info.isSymLink() || info.size() > size || heldByAnotherLine(path)) {
            continue;
        }
        const std::optional<qint64> mark = partialMarkOf(path);
        if (mark ? *mark != size : !checked) {
            continue;
        }
        const QDateTime modified = info.lastModified();
        if (!newest || modified > newestTime) {
            newest = ResumablePart{path, mark.has_value()};
            newestTime = modified;
        }
    }
    return newest;
}

bool FileReceiver::adoptPart(TTransfer& transfer) {
    QFile& target = *transfer.Target;
    target.close();
    if (!target.open(QIODevice::ReadWrite | QIODevice::Unbuffered) || !target.seek(transfer.Done)) {
        return false;
    }
    markPartial(transfer.PartPath, transfer.Size);
    return true;
}

std::optional<QString> FileReceiver::openNewPart(int row) {
    TTransfer& transfer = m_model.transfer(row);
    QString why;
    for (int number = 1; number <= kMaxNumberedNames; ++number) {
        const QString path =
            QDir(transfer.Folder).filePath(fittedName(transfer.FileName, number, kPartSuffix));
        if (pathTaken(path)) {
            continue;
        }
        auto target = std::make_unique<QFile>(path);
        // NewOnly: an existing file, or a link, is never opened.
        if (target->open(QIODevice::WriteOnly | QIODevice::NewOnly | QIODevice::Unbuffered)) {
            transfer.Target = std::move(target);
            transfer.PartPath = path;
            transfer.NewPart = true;
            // Without the mark (a file system that keeps none) it is resumed only checked.
            markPartial(path, transfer.Size);
            return std::nullopt;
        }
        why = target->errorString();
        if (!pathTaken(path)) {
            break;  // not a name taken meanwhile: another name fails the same way
        }
    }
    if (why.isEmpty()) {
        why = QStringLiteral("every name for it is taken");
    }
    m_notices.appendConversationLine(QStringLiteral("Could not receive the file %1 into %2: %3.")
                                         .arg(transfer.FileName, transfer.Folder, why));
    return why;
}

void FileReceiver::replyAccepted(int row) {
    TTransfer& transfer = m_model.transfer(row);
    const std::uint32_t sender = transfer.Recipients.front();
    const QByteArray icon =
        m_model.data(m_model.index(row, 0), TransfersModel::IconRole).toByteArray();
    if (transfer.Checked) {
        const QByteArray prefix =
            transfer.PrefixDigest ? transfer.PrefixDigest->result() : emptyDigest();
        const std::uint8_t flags = kCheckSha256 | (transfer.TheyHearNews ? kTransferNews : 0);
        m_send(sender, buildFileReplyDetails({transfer.Id, flags, transfer.Done, prefix}));
        transfer.PrefixDigest.reset();
    }
    m_send(sender, buildFileReply({transfer.Done, transfer.Id, frAccepted, icon}));
}

int FileReceiver::firstHashingRow() const {
    for (int row = 0; row < m_model.rowCount(); ++row) {
        const TTransfer& transfer = m_model.transfer(row);
        if (!transfer.Outgoing && transfer.hashingPrefix() && transfer.Target) {
            return row;
        }
    }
    return -1;
}

bool FileReceiver::hashPrefixes() {
    const int row = firstHashingRow();
    if (row < 0) {
        return false;
    }
    TTransfer& transfer = m_model.transfer(row);
    switch (hashPrefixSlice(transfer, *transfer.Target)) {
        case PrefixSlice::More:
            break;
        case PrefixSlice::Done:
            replyAccepted(row);
            break;
        case PrefixSlice::Failed:
            stopLine(row, trCannotWrite, transfer.Target->errorString(),
                     QStringLiteral("Could not read the file %1 back.").arg(transfer.PartPath));
            break;
    }
    return firstHashingRow() >= 0;
}

int FileReceiver::incomingRow(const PeerSender& sender, std::uint8_t transferId) const {
    for (int row = 0; row < m_model.rowCount(); ++row) {
        const TTransfer& transfer = m_model.transfer(row);
        if (!transfer.Outgoing && transfer.Id == transferId &&
            transfer.Recipients.front() == sender.id) {
            return row;
        }
    }
    return -1;
}

void FileReceiver::blockReceived(const PeerSender& sender, const FileBlock& block) {
    const int row = incomingRow(sender, block.transferId);
    if (row < 0) {
        return;
    }
    TTransfer& transfer = m_model.transfer(row);
    // The file is closed once the line stopped: what follows would land in the wrong place.
    if (!transfer.Target) {
        return;
    }
    if (transfer.hashingPrefix()) {
        stopLine(row, trBadData, QStringLiteral("blocks came before it was accepted"),
                 QStringLiteral("The file %1 came before it was accepted.").arg(transfer.FileName));
        return;
    }
    const auto count = static_cast<qint64>(block.data.size());
    if (transfer.Done + count > transfer.Size) {
        stopLine(row, trBadData,
                 QStringLiteral("more bytes than the %1 offered").arg(transfer.Size),
                 QStringLiteral("The other side sent more of the file %1 than the %2 bytes "
                                "it offered.")
                     .arg(transfer.FileName)
                     .arg(transfer.Size));
        return;
    }
    // The sender went on from the unmarked ".part": it is the start of this file.
    if (!transfer.Target->isWritable() && !adoptPart(transfer)) {
        stopUnwritable(row);
        return;
    }
    const qint64 written = transfer.Target->write(block.data.data(), count);
    if (written != count) {
        stopUnwritable(row);
        return;
    }
    if (transfer.Digest) {
        transfer.Digest->addData(QByteArrayView(block.data.data(), count));
    }
    transfer.Done = addToDone(transfer.Done, static_cast<std::int32_t>(written));
    const std::uint32_t now = m_clock.tickCount();
    transfer.Window.add(now, transfer.Done);
    m_model.showLive(row, now);
    // The sender's figures follow this count; sent often enough for them to move twice a
    // second, seldom enough to cost the line little.
    if (transfer.TheyHearNews && !transfer.ended() && !block.last &&
        now - transfer.ConfirmedTick >= kConfirmIntervalMs) {
        transfer.ConfirmedTick = now;
        m_send(transfer.Recipients.front(), buildFileProgress({transfer.Id, transfer.Done}));
    }
    if (block.last) {
        finish(row);
    }
}

void FileReceiver::damagedBlockReceived(const PeerSender& sender, std::uint8_t transferId) {
    const int row = incomingRow(sender, transferId);
    if (row >= 0 && m_model.transfer(row).Target) {
        stopLine(row, trBadData, QStringLiteral("a damaged block"),
                 QStringLiteral("A damaged block of the file %1 arrived.")
                     .arg(m_model.transfer(row).FileName));
    }
}

void FileReceiver::digestReceived(const PeerSender& sender, const FileDigest& digest) {
    const int row = incomingRow(sender, digest.transferId);
    if (row >= 0) {
        m_model.transfer(row).TheirDigest = digest.digest;
    }
}

void FileReceiver::restartReceived(const PeerSender& sender, const FileRestart& restart) {
    const int row = incomingRow(sender, restart.transferId);
    if (row < 0 || !m_model.transfer(row).Target || !m_model.transfer(row).Checked) {
        return;
    }
    TTransfer& transfer = m_model.transfer(row);
    transfer.Done = 0;
    transfer.Window.clear();
    transfer.Digest = newDigest();
    const QString oldPart = QFileInfo(transfer.PartPath).fileName();
    if (transfer.NewPart) {
        // Only this line wrote to its ".part": it starts again in the same file.
        if (!transfer.Target->resize(0) || !transfer.Target->seek(0)) {
            stopUnwritable(row);
            return;
        }
        m_model.showLive(row, m_clock.tickCount());
        return;
    }
    // The ".part" held something else: it stays as it is, and the file comes again.
    transfer.Target.reset();
    if (const std::optional<QString> why = openNewPart(row)) {
        stopLine(row, trCannotWrite, *why,
                 QStringLiteral("The file %1 could not start again.").arg(transfer.FileName));
        return;
    }
    m_model.showLive(row, m_clock.tickCount());
    m_notices.appendConversationLine(
        QStringLiteral("%1 is not the start of the file %2 that %3 sends now: the file comes "
                       "again from its beginning into %4, and %1 stays as it is.")
            .arg(oldPart, transfer.FileName, sender.name, QFileInfo(transfer.PartPath).fileName()));
}

void FileReceiver::finish(int row) {
    TTransfer& transfer = m_model.transfer(row);
    if (transfer.Done != transfer.Size) {
        // The sender's line has ended already, or waits for the verdict: no abort goes.
        sendVerdict(transfer, fvIncomplete);
        reportStop(
            row,
            QStringLiteral("ended after %1 of its %2 bytes").arg(transfer.Done).arg(transfer.Size),
            QStringLiteral("The file %1 ended after %2 of its %3 bytes.")
                .arg(transfer.FileName)
                .arg(transfer.Done)
                .arg(transfer.Size));
        return;
    }
    if (transfer.Checked && transfer.Digest->result() != transfer.TheirDigest) {
        sendVerdict(transfer, fvDamaged);
        const QString part = QFileInfo(transfer.PartPath).fileName();
        m_notices.appendConversationLine(
            QStringLiteral("File %1 arrived damaged: it is not the sender's file. It stays as %2.")
                .arg(transfer.FileName, part));
        m_model.endTransfer(row, tsStopped, QStringLiteral("arrived damaged; kept as %1").arg(part),
                            m_clock.tickCount(), TransferOutcome::Damaged);
        return;
    }
    transfer.Target.reset();
    for (int number = 1; number <= kMaxNumberedNames; ++number) {
        const QString name = fittedName(transfer.FileName, number);
        const QString path = QDir(transfer.Folder).filePath(name);
        if (pathTaken(path)) {
            continue;
        }
        if (renameWithoutReplacing(transfer.PartPath, path)) {
            if (transfer.Checked) {
                sendVerdict(transfer, fvWhole);
            }
            m_model.setOutcome(row, transfer.Checked ? TransferOutcome::VerifiedWhole
                                                     : TransferOutcome::WholeUnverified);
            m_notices.appendConversationLine(QStringLiteral("File ") + name +
                                             QStringLiteral(" received and saved into ") +
                                             transfer.Folder);
            m_model.removeTransfer(row);
            return;
        }
        if (errno != EEXIST) {
            break;
        }
    }
    const QString why = QString::fromLocal8Bit(std::strerror(errno));
    // A sender that checks files waits for the verdict: an abort, which every version reads,
    // ends its line.
    if (transfer.Checked) {
        sendStop(m_send, transfer, trCannotWrite, why);
    }
    const QFileInfo part(transfer.PartPath);
    transfer.NewPart = false;  // kept as it is, as said
    const bool kept = part.isFile();
    m_notices.appendConversationLine(
        (kept ? QStringLiteral("File %1 arrived whole, but could not be given its name (%2). It "
                               "stays as %3 in %4.")
              : QStringLiteral("File %1 arrived whole, but could not be given its name (%2), and "
                               "%3 is gone from %4 with its bytes."))
            .arg(transfer.FileName, why, part.fileName(), part.absolutePath()));
    m_model.endTransfer(row, tsStopped,
                        (kept ? QStringLiteral("whole, but could not be named; kept as %1")
                              : QStringLiteral("whole, but could not be named; %1 is gone"))
                            .arg(part.fileName()),
                        m_clock.tickCount());
}

void FileReceiver::sendVerdict(const TTransfer& transfer, FileVerdictResult result) {
    if (transfer.Checked) {
        m_send(transfer.Recipients.front(), buildFileVerdict({transfer.Id, result}));
    }
}

void FileReceiver::stopUnwritable(int row) {
    const TTransfer& transfer = m_model.transfer(row);
    const QString error = transfer.Target->errorString();
    stopLine(row, trCannotWrite, error,
             QStringLiteral("Could not write the file %1: %2.").arg(transfer.PartPath, error));
}

void FileReceiver::stopLine(int row, std::uint8_t code, const QString& detail, const QString& why) {
    const TTransfer& transfer = m_model.transfer(row);
    sendStop(m_send, transfer, code, detail);
    reportStop(row, reasonWords(code, detail, QString()), why);
}

void FileReceiver::lineStateChanged(int row) {
    TTransfer& transfer = m_model.transfer(row);
    if (transfer.Outgoing || !transfer.NewPart || transfer.Done != 0 ||
        (transfer.State != tsStopped && transfer.State != tsAborted)) {
        return;
    }
    transfer.Target.reset();
    const QFileInfo part(transfer.PartPath);
    // Only the empty file this line made; anything else that took its name meanwhile stays.
    if (part.isFile() && !part.isSymLink() && part.size() == 0) {
        QFile::remove(transfer.PartPath);
    }
    transfer.PartPath.clear();
    transfer.NewPart = false;
}

void FileReceiver::reportStop(int row, const QString& words, const QString& why) {
    const TTransfer& transfer = m_model.transfer(row);
    // A ".part" this line made without a byte in it goes with the line.
    const bool keeps = !transfer.NewPart || transfer.Done != 0;
    const QString part = keeps ? QFileInfo(transfer.PartPath).fileName() : QString();
    m_notices.appendConversationLine(
        why + QStringLiteral(" Its transfer was stopped") +
        (part.isEmpty() ? QStringLiteral(".")
                        : QStringLiteral("; what arrived stays in %1.").arg(part)));
    m_model.endTransfer(row, tsStopped, words, m_clock.tickCount());
}

}  // namespace velmora
