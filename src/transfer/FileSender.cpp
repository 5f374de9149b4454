#include "transfer/FileSender.h"

#include "session/Windows1252.h"
#include "transfer/FileDigests.h"
#include "transfer/TransferClock.h"
#include "transfer/TransfersModel.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <bitset>

#include <sys/stat.h>

namespace velmora {

namespace {

QByteArray iconField(const QByteArray& icon) {
    return icon.leftJustified(kIconFieldSize, '\0', true);
}

// The size and modification time (in nanoseconds) of an open file, as the system has them
// now; nullopt when it cannot say.
std::optional<std::pair<qint64, std::int64_t>> stampOf(const QFile& file) {
    struct stat status {};
    if (::fstat(file.handle(), &status) != 0) {
        return std::nullopt;
    }
    constexpr std::int64_t kNanosecondsPerSecond = 1'000'000'000;
    return std::pair{static_cast<qint64>(status.st_size),
                     static_cast<std::int64_t>(status.st_mtim.tv_sec) * kNanosecondsPerSecond +
                         status.st_mtim.tv_nsec};
}

}  // namespace

FileSender::FileSender(TransfersModel& model, const TransferClock& clock,
                       TransferSettings& settings, TransferNotices& notices, PeerMessageSink send,
                       RandomSource random, FileIconSource icons, QLocale locale)
    : m_model(model),
      m_clock(clock),
      m_settings(settings),
      m_notices(notices),
      m_send(std::move(send)),
      m_random(std::move(random)),
      m_icons(std::move(icons)),
      m_locale(std::move(locale)) {}

void FileSender::sendFiles(const QStringList& paths, const std::optional<Opponent>& opponent) {
    if (!opponent) {
        m_notices.showMessage(NotConnectedMessage);
        return;
    }
    // Without the internal loop the own side answers every offer of its own with "identifier in
    // use": such an offer could never be accepted.
    if (opponent->isLocal && !m_settings.internalLoop()) {
        m_notices.showMessage(QStringLiteral(
            "There is nobody to send files to: the remote computer has not joined the "
            "connection yet."));
        return;
    }
    for (const QString& path : paths) {
        if (!offerFile(path, *opponent)) {
            return;
        }
    }
}

bool FileSender::offerFile(const QString& path, const Opponent& opponent) {
    const QFileInfo info(path);
    auto source = std::make_unique<QFile>(path);
    if (!info.isFile() || !source->open(QIODevice::ReadOnly)) {
        m_notices.showMessage(
            QStringLiteral("The file %1 cannot be opened for reading, so it is not sent.")
                .arg(QDir::toNativeSeparators(path)));
        return true;
    }
    if (source->size() >= kMaxFileSize) {
        m_notices.showMessage(
            QStringLiteral("The file %1 is 2 GB or larger; files that large cannot be sent.")
                .arg(QDir::toNativeSeparators(path)));
        return true;
    }
    const std::optional<std::uint8_t> id = drawId(-1);
    if (!id) {
        m_notices.showMessage(QStringLiteral(
            "255 transfers are listed, the most there can be. Send the file again when some of "
            "them have ended."));
        return false;
    }

    auto transfer = std::make_unique<TTransfer>();
    if (const auto stamp = stampOf(*source)) {
        transfer->SourceModified = stamp->second;
    }
    transfer->Source = std::move(source);
    transfer->StartTime = m_clock.timeOfDay();
    transfer->LastTick = m_clock.tickCount();
    transfer->FileName = info.fileName();
    transfer->Size = static_cast<std::int32_t>(transfer->Source->size());
    transfer->Id = *id;
    transfer->Outgoing = true;
    transfer->Waiting = {1};
    transfer->Recipients = {opponent.id};
    transfer->State = tsRunning;
    const QByteArray icon = iconField(m_icons ? m_icons(path) : QByteArray());
    m_model.addTransfer(std::move(transfer), icon, m_locale);
    offerWaiting();
    return true;
}

int FileSender::openLinesTo(std::uint32_t participant) const {
    int open = 0;
    for (int row = 0; row < m_model.rowCount(); ++row) {
        const TTransfer& transfer = m_model.transfer(row);
        if (transfer.Outgoing && transfer.Offered && transfer.Recipients.front() == participant &&
            (transfer.State == tsRunning || transfer.State == tsPaused)) {
            ++open;
        }
    }
    return open;
}

void FileSender::offerWaiting() {
    for (int row = 0; row < m_model.rowCount(); ++row) {
        TTransfer& transfer = m_model.transfer(row);
        if (!transfer.Outgoing || transfer.Offered || transfer.State != tsRunning ||
            openLinesTo(transfer.Recipients.front()) >= kMaxOpenTransfersPerPeer) {
            continue;
        }
        transfer.Offered = true;
        sendOffer(transfer, transfer.Recipients.front(),
                  m_model.data(m_model.index(row, 0), TransfersModel::IconRole).toByteArray());
    }
}

void FileSender::sendOffer(const TTransfer& transfer, std::uint32_t to, const QByteArray& icon) {
    // The details go first: a side that checks files knows them when the offer comes, and an
    // older one passes over them.
    m_send(to, buildFileOfferDetails({transfer.Id, kCheckSha256, transfer.FileName.toUtf8()}));
    m_send(to, buildFileOffer({toWindows1252(transfer.FileName), transfer.Size, transfer.Id,
                               iconField(icon)}));
}

std::optional<std::uint8_t> FileSender::drawId(int exceptRow) const {
    std::bitset<kTransferIdCount> used;
    for (int row = 0; row < m_model.rowCount(); ++row) {
        if (row != exceptRow) {
            used.set(m_model.transfer(row).Id % kTransferIdCount);
        }
    }
    if (used.all()) {
        return std::nullopt;
    }
    for (;;) {
        const auto id = static_cast<std::uint8_t>(m_random() % kTransferIdCount);
        if (!used.test(id)) {
            return id;
        }
    }
}

int FileSender::waitingRow(const PeerSender& sender, std::uint8_t transferId,
                           bool forVerdict) const {
    const int row = m_model.findById(transferId, true);
    // A line that has ended has closed its file and takes no answer, and one not yet offered
    // none yet.
    if (row < 0 || !m_model.transfer(row).Offered ||
        m_model.transfer(row).DigestSent != forVerdict ||
        (m_model.transfer(row).State != tsRunning && m_model.transfer(row).State != tsPaused)) {
        return -1;
    }
    const TTransfer& transfer = m_model.transfer(row);
    for (std::size_t i = 0; i < transfer.Recipients.size(); ++i) {
        if (transfer.Recipients[i] == sender.id && transfer.Waiting[i] == 1) {
            return row;
        }
    }
    return -1;
}

void FileSender::replyDetailsReceived(const PeerSender& sender, const FileReplyDetails& details) {
    const int row = waitingRow(sender, details.transferId, false);
    if (row < 0 || (details.flags & kCheckSha256) == 0) {
        return;
    }
    TTransfer& transfer = m_model.transfer(row);
    transfer.TheyCheck = true;
    transfer.TheirDigest = details.prefixDigest;
    transfer.PrefixLength = details.offset;
}

void FileSender::replyReceived(const PeerSender& sender, const FileReply& reply) {
    // Only an offer still waiting for this participant's answer is answered; a second answer
    // to a running transfer would move it in its file.
    const int row = waitingRow(sender, reply.transferId, false);
    if (row < 0) {
        return;
    }
    TTransfer& transfer = m_model.transfer(row);
    switch (reply.result) {
        case frAccepted: {
            const std::int32_t offset = std::max(reply.offset, 0);
            if (transfer.TheyCheck) {
                // Nothing is sent before the prefix the receiver holds proves to be this file's:
                // read back from the start, then on from there or from 0.
                transfer.Checked = true;
                transfer.Digest = newDigest();
                transfer.PrefixDigest = newDigest();
                transfer.PrefixHashed = 0;
                const bool possible = transfer.PrefixLength == offset && offset <= transfer.Size;
                transfer.PrefixLength = possible ? offset : 0;
                transfer.Source->seek(0);
                transfer.Done = 0;
                if (!possible) {
                    // What the receiver holds cannot be the start of this file.
                    m_send(sender.id, buildFileRestart({transfer.Id}));
                }
            } else {
                transfer.Source->seek(offset);
                transfer.Done = offset;
            }
            transfer.Carried = transfer.Done;
            for (std::size_t i = 0; i < transfer.Recipients.size(); ++i) {
                if (transfer.Recipients[i] == sender.id) {
                    transfer.Waiting[i] = 0;
                }
            }
            break;
        }
        case frBlocked:
            m_model.setState(row, tsStopped);
            break;
        case frIdInUse: {
            const std::optional<std::uint8_t> id = drawId(row);
            if (!id) {
                m_model.setState(row, tsStopped);
                m_notices.showMessage(
                    QStringLiteral("The file %1 cannot be offered again: every transfer identifier "
                                   "is in use.")
                        .arg(transfer.FileName));
                return;
            }
            transfer.Id = *id;
            transfer.TheyCheck = false;
            sendOffer(transfer, sender.id, reply.icon);
            break;
        }
    }
}

void FileSender::verdictReceived(const PeerSender& sender, const FileVerdict& verdict) {
    const int row = waitingRow(sender, verdict.transferId, true);
    if (row < 0) {
        return;
    }
    TTransfer& transfer = m_model.transfer(row);
    switch (verdict.result) {
        case fvWhole:
            m_model.setOutcome(row, TransferOutcome::VerifiedWhole);
            m_model.setProgressText(row, colLeft, QString());
            m_model.setProgressText(row, colSpeed, QStringLiteral("verified"));
            m_notices.appendConversationLine(
                QStringLiteral("File %1 arrived whole and verified.").arg(transfer.FileName));
            transfer.FinishedTick = m_clock.tickCount();
            m_model.setState(row, tsFinished);
            break;
        case fvDamaged:
            m_model.setOutcome(row, TransferOutcome::Damaged);
            m_notices.appendConversationLine(
                QStringLiteral("File %1 arrived damaged on the other side; it was not saved there "
                               "under its name.")
                    .arg(transfer.FileName));
            m_model.setState(row, tsStopped);
            break;
        case fvIncomplete:
            m_notices.appendConversationLine(
                QStringLiteral("File %1 did not arrive whole on the other side.")
                    .arg(transfer.FileName));
            m_model.setState(row, tsStopped);
            break;
    }
}

bool FileSender::hashingPrefix() const {
    for (int row = 0; row < m_model.rowCount(); ++row) {
        const TTransfer& transfer = m_model.transfer(row);
        if (transfer.Outgoing && transfer.State == tsRunning && !transfer.anyWaiting() &&
            transfer.hashingPrefix()) {
            return true;
        }
    }
    return false;
}

void FileSender::settleCarried() {
    const std::optional<InFlight> block = std::exchange(m_inFlight, std::nullopt);
    const int row = block ? m_model.findById(block->id, true) : -1;
    if (row < 0) {
        return;
    }
    TTransfer& transfer = m_model.transfer(row);
    transfer.Carried = addToDone(transfer.Carried, block->bytes);
    transfer.Window.add(m_clock.tickCount(), transfer.Carried);
    showCarried(row);
}

void FileSender::showCarried(int row) {
    const TTransfer& transfer = m_model.transfer(row);
    ProgressTexts texts =
        senderProgressTexts({transfer.Size, transfer.Carried, transfer.Window.rate(),
                             transfer.StartTime, m_clock.timeOfDay()},
                            m_locale);
    if (transfer.State == tsPaused) {
        texts[colSpeed - 1].clear();  // a block that left after the pause moves nothing
    }
    m_model.setProgress(row, texts);
}

std::optional<PreparedBlock> FileSender::prepareBlock(BlockCursor& cursor) {
    settleCarried();
    const int rows = m_model.rowCount();
    if (rows == 0) {
        return std::nullopt;
    }
    if (cursor.line >= rows || cursor.line < 0) {
        cursor = {};
    }
    const auto advanceLine = [&] {
        cursor.recipient = 0;
        cursor.line = cursor.line + 1 >= m_model.rowCount() ? 0 : cursor.line + 1;
    };
    const int row = cursor.line;
    TTransfer& transfer = m_model.transfer(row);
    std::optional<PreparedBlock> prepared;
    bool finished = false;
    if (cursor.recipient == 0 && transfer.Outgoing) {
        if (transfer.anyWaiting() || transfer.State != tsRunning) {
            advanceLine();
            return std::nullopt;
        }
        std::optional<QByteArray> message = nextMessage(row);
        if (!message) {
            advanceLine();
            return std::nullopt;
        }
        finished = m_model.transfer(row).anyWaiting();
        prepared = PreparedBlock{0, std::move(*message)};
    }
    const auto recipients = static_cast<int>(transfer.Recipients.size());
    if (prepared && cursor.recipient < recipients) {
        prepared->destination = transfer.Recipients[static_cast<std::size_t>(cursor.recipient)];
    }
    ++cursor.recipient;
    if (cursor.recipient >= recipients) {
        // The end-of-file message is still sent. A receiver that checks files answers it; with
        // one that does not, the line goes at once.
        if (finished && !transfer.Checked) {
            m_model.setOutcome(row, TransferOutcome::WholeUnverified);
            m_model.removeTransfer(row);
        }
        advanceLine();
    }
    return prepared;
}

std::optional<QByteArray> FileSender::nextMessage(int row) {
    TTransfer& transfer = m_model.transfer(row);
    if (transfer.hashingPrefix()) {
        switch (hashPrefixSlice(transfer, *transfer.Source)) {
            case PrefixSlice::More:
                return std::nullopt;
            case PrefixSlice::Done:
                return prefixChecked(row);
            case PrefixSlice::Failed:
                stopLine(row, QStringLiteral("Could not read the file %1: %2.")
                                  .arg(transfer.FileName, transfer.Source->errorString()));
                return std::nullopt;
        }
    }
    if (sourceChanged(transfer)) {
        stopLine(
            row,
            QStringLiteral("The file %1 changed while it was being sent.").arg(transfer.FileName));
        return std::nullopt;
    }
    const int code = std::clamp(m_settings.blockSizeCode(), kMinBlockCode, kMaxBlockCode);
    QByteArray data(*blockSizeOfCode(code), Qt::Uninitialized);
    const qint64 n = transfer.Source->read(data.data(), data.size());
    if (n < 0) {
        stopLine(row, QStringLiteral("Could not read the file %1: %2.")
                          .arg(transfer.FileName, transfer.Source->errorString()));
        return std::nullopt;
    }
    // The count must come out at the offered size: more or fewer bytes mean the file changed.
    if (qint64{transfer.Done} + n > transfer.Size || (n == 0 && transfer.Done != transfer.Size)) {
        stopLine(
            row,
            QStringLiteral("The file %1 changed while it was being sent.").arg(transfer.FileName));
        return std::nullopt;
    }
    if (n == 0 && transfer.Checked && !transfer.DigestSent) {
        transfer.DigestSent = true;
        return buildFileDigest({transfer.Id, transfer.Digest->result()});
    }
    const auto count = static_cast<std::int32_t>(n);
    if (transfer.Digest) {
        transfer.Digest->addData(QByteArrayView(data.constData(), n));
    }
    transfer.Done = addToDone(transfer.Done, count);
    const bool last = count == 0;
    if (last) {
        transfer.Waiting.assign(transfer.Waiting.size(), 1);
    } else {
        m_inFlight = InFlight{transfer.Id, count};
    }
    return buildFileBlock({last, transfer.Id, static_cast<std::uint8_t>(code),
                           MessageBytes(data.constData(), static_cast<std::size_t>(n))});
}

std::optional<QByteArray> FileSender::prefixChecked(int row) {
    TTransfer& transfer = m_model.transfer(row);
    const bool same = transfer.PrefixDigest->result() == transfer.TheirDigest;
    transfer.PrefixDigest.reset();
    if (same) {
        transfer.Done = transfer.PrefixLength;
        transfer.Carried = transfer.Done;
        showCarried(row);
        return std::nullopt;
    }
    // The receiver keeps what it holds and takes the file from 0 into a new ".part".
    transfer.PrefixLength = 0;
    transfer.PrefixHashed = 0;
    transfer.Digest = newDigest();
    transfer.Source->seek(0);
    transfer.Done = 0;
    transfer.Carried = 0;
    showCarried(row);
    return buildFileRestart({transfer.Id});
}

bool FileSender::sourceChanged(const TTransfer& transfer) const {
    const auto stamp = stampOf(*transfer.Source);
    return !stamp || stamp->first != transfer.Size || stamp->second != transfer.SourceModified;
}

void FileSender::stopLine(int row, const QString& why) {
    const TTransfer& transfer = m_model.transfer(row);
    m_notices.appendConversationLine(why + QStringLiteral(" Its transfer was stopped."));
    for (const std::uint32_t recipient : transfer.Recipients) {
        m_send(recipient, buildTransferControl({transfer.Id, caAbort}));
    }
    m_model.setState(row, tsStopped);
}

}  // namespace velmora
