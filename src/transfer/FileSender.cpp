#include "transfer/FileSender.h"

#include "session/Windows1252.h"
#include "transfer/FileDigests.h"
#include "transfer/TransferClock.h"
#include "transfer/TransferWords.h"
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

// How long a block should take on the line at most, so that both sides' figures move at least
// twice a second.
constexpr double kBlockTimeMs = 400.0;

// The fewest file bytes a block carries short of the file's end, however slow the line: below
// it the headers every block costs take too much of the line (see fillForRate).
constexpr int kMinBlockFill = 256;

// On a slow line (its offer took kSlowAnswerMs or more to be answered) a line goes at most
// kFirstAhead ahead of a receiver that counts what it wrote until it has counted once, for at
// most kFirstCountWaitMs: the blocks chosen with the rate its count gives then cross soon,
// instead of behind all that the link takes before its send call waits (32 KiB, half a minute
// of a 9600 baud line). A receiver counts a block that comes 250 ms or more after the offer,
// so such a line gets its first count with its first block; on a fast line the first blocks
// may come sooner and go uncounted, and it does not wait.
constexpr std::uint32_t kSlowAnswerMs = 250;
constexpr std::int32_t kFirstAhead = 1024;
constexpr std::uint32_t kFirstCountWaitMs = 1000;

// The largest block code up to most whose block the line carries within kBlockTimeMs at the
// rate (bytes per millisecond); the smallest while no rate is known.
int blockCodeForRate(std::optional<double> rate, int most) {
    int code = kMinBlockCode;
    while (rate && code < most && *blockSizeOfCode(code + 1) <= *rate * kBlockTimeMs) {
        ++code;
    }
    return code;
}

// How many file bytes a block of the code carries: all it holds, unless even the smallest block
// takes the line longer than kBlockTimeMs. Then only what the line carries in that time, not
// fewer than kMinBlockFill: the zeros after them cost a few bytes of line (a zero fill), so the
// block crosses sooner and both sides' figures move more often. The rate counts file bytes, so
// the headers' share of the line lowers the fill until a block with its headers takes
// kBlockTimeMs.
int fillForRate(std::optional<double> rate, int code) {
    const int size = *blockSizeOfCode(code);
    if (!rate || code != kMinBlockCode) {
        return size;
    }
    return std::clamp(static_cast<int>(*rate * kBlockTimeMs), kMinBlockFill, size);
}

}  // namespace

FileSender::FileSender(TransfersModel& model, const TransferClock& clock,
                       TransferSettings& settings, TransferNotices& notices, PeerMessageSink send,
                       RandomSource random, FileIconSource icons)
    : m_model(model),
      m_clock(clock),
      m_settings(settings),
      m_notices(notices),
      m_send(std::move(send)),
      m_random(std::move(random)),
      m_icons(std::move(icons)) {}

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
    transfer->SourcePath = info.absoluteFilePath();
    transfer->startClock(m_clock.tickCount());
    transfer->FileName = info.fileName();
    transfer->Size = static_cast<std::int32_t>(transfer->Source->size());
    transfer->Id = *id;
    transfer->Outgoing = true;
    transfer->Waiting = {1};
    transfer->Recipients = {opponent.id};
    transfer->State = tsRunning;
    const QByteArray icon = iconField(m_icons ? m_icons(path) : QByteArray());
    m_model.addTransfer(std::move(transfer), icon);
    offerWaiting();
    return true;
}

void FileSender::offerWaiting() {
    for (int row = 0; row < m_model.rowCount(); ++row) {
        TTransfer& transfer = m_model.transfer(row);
        if (!transfer.Outgoing || transfer.Offered || transfer.State != tsRunning ||
            m_model.openLines(transfer.Recipients.front(), true) >= kMaxOpenTransfersPerPeer) {
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
    m_send(to, buildFileOfferDetails(
                   {transfer.Id, kCheckSha256 | kTransferNews, transfer.FileName.toUtf8()}));
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
    if (row < 0) {
        return -1;
    }
    // A line not yet offered takes no answer yet. One that has ended has closed its file and
    // takes none, except the verdict on a file whose end had gone out before an abort: that
    // verdict is the file's true end.
    const TTransfer& transfer = m_model.transfer(row);
    if (!transfer.Offered || transfer.DigestSent != forVerdict ||
        (transfer.ended() && !(forVerdict && transfer.awaitingVerdict() && !transfer.Outcome))) {
        return -1;
    }
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
    transfer.TheyHearNews = (details.flags & kTransferNews) != 0;
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
            transfer.Confirmed = transfer.Done;
            transfer.SlowAnswer = transfer.elapsedMs(m_clock.tickCount()) >= kSlowAnswerMs;
            m_model.showLive(row, m_clock.tickCount());
            for (std::size_t i = 0; i < transfer.Recipients.size(); ++i) {
                if (transfer.Recipients[i] == sender.id) {
                    transfer.Waiting[i] = 0;
                }
            }
            break;
        }
        case frBlocked: {
            const QString words = transfer.TheirReason
                                      ? reasonWords(transfer.TheirReason->code,
                                                    transfer.TheirReason->detail, sender.name)
                                      : QStringLiteral("refused by %1").arg(sender.name);
            m_notices.appendConversationLine(
                QStringLiteral("The file %1 was refused: %2.").arg(transfer.FileName, words));
            m_model.endTransfer(row, tsStopped, words, m_clock.tickCount());
            break;
        }
        case frIdInUse: {
            const std::optional<std::uint8_t> id = drawId(row);
            if (!id) {
                m_model.endTransfer(row, tsStopped, QStringLiteral("no free identifier"),
                                    m_clock.tickCount());
                m_notices.showMessage(
                    QStringLiteral("The file %1 cannot be offered again: every transfer identifier "
                                   "is in use.")
                        .arg(transfer.FileName));
                return;
            }
            transfer.Id = *id;
            transfer.TheyCheck = false;
            transfer.TheyHearNews = false;
            transfer.TheirReason.reset();
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
    const std::uint32_t now = m_clock.tickCount();
    // An abort from either side that came after the last byte had gone changed nothing there.
    const QString late = transfer.ended()
                             ? QStringLiteral(" The abort came after its last byte had gone.")
                             : QString();
    switch (verdict.result) {
        case fvWhole:
            m_notices.appendConversationLine(
                QStringLiteral("File %1 arrived whole and verified.").arg(transfer.FileName) +
                late);
            transfer.FinishedTick = now;
            // Every byte is there: the figures say so before they stand still.
            transfer.Confirmed = transfer.Size;
            transfer.Carried = transfer.Size;
            m_model.showLive(row, now);
            m_model.endTransfer(row, tsFinished, QStringLiteral("verified"), now,
                                TransferOutcome::VerifiedWhole);
            break;
        case fvDamaged:
            m_notices.appendConversationLine(
                QStringLiteral("File %1 arrived damaged on the other side; it was not saved there "
                               "under its name.")
                    .arg(transfer.FileName) +
                late);
            m_model.endTransfer(row, tsStopped, QStringLiteral("arrived damaged"), now,
                                TransferOutcome::Damaged);
            break;
        case fvIncomplete:
            m_notices.appendConversationLine(
                QStringLiteral("File %1 did not arrive whole on the other side.")
                    .arg(transfer.FileName) +
                late);
            m_model.endTransfer(row, tsStopped, QStringLiteral("did not arrive whole"), now);
            break;
    }
}

void FileSender::progressReceived(const PeerSender& sender, const FileProgress& progress) {
    const int row = m_model.findById(progress.transferId, true);
    if (row < 0) {
        return;
    }
    TTransfer& transfer = m_model.transfer(row);
    if (transfer.ended() || !transfer.TheyHearNews || transfer.Recipients.front() != sender.id) {
        return;
    }
    const std::uint32_t now = m_clock.tickCount();
    const std::int32_t written = std::clamp(progress.written, 0, transfer.Size);
    if (!transfer.ConfirmedAt && transfer.FirstBlockAt && written > transfer.Confirmed &&
        now != *transfer.FirstBlockAt) {
        // The first count since the first block went: a rough figure at once, a little low
        // since it includes the way there and back.
        transfer.LineRate =
            static_cast<double>(written - transfer.Confirmed) / (now - *transfer.FirstBlockAt);
    }
    transfer.Confirmed = written;
    transfer.ConfirmedAt = now;
    transfer.Window.add(now, transfer.Confirmed);
    if (const std::optional<double> rate = transfer.Window.rate()) {
        transfer.LineRate = rate;
    }
    m_model.showLive(row, now);
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
    if (row < 0 || m_model.transfer(row).ended()) {
        return;
    }
    TTransfer& transfer = m_model.transfer(row);
    const std::uint32_t now = m_clock.tickCount();
    transfer.Carried = addToDone(transfer.Carried, block->bytes);
    if (!transfer.TheyHearNews) {
        // A receiver that does not confirm: what left the send call is the best count there is.
        transfer.Window.add(now, transfer.Carried);
    }
    m_model.showLive(row, now);
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
                stopUnreadable(row);
                return std::nullopt;
        }
    }
    if (sourceChanged(transfer)) {
        stopChanged(row);
        return std::nullopt;
    }
    if (transfer.TheyHearNews) {
        const std::uint32_t now = m_clock.tickCount();
        if (!transfer.FirstBlockAt) {
            transfer.FirstBlockAt = now;
        } else if (transfer.SlowAnswer && !transfer.ConfirmedAt &&
                   transfer.Done - transfer.Confirmed >= kFirstAhead &&
                   now - *transfer.FirstBlockAt < kFirstCountWaitMs) {
            return std::nullopt;
        }
    }
    // The receiver's counts measure the line; without them, what left the send call.
    const std::optional<double> rate =
        transfer.LineRate ? transfer.LineRate : transfer.Window.rate();
    const int code = blockCodeForRate(
        rate, std::clamp(m_settings.blockSizeCode(), kMinBlockCode, kMaxBlockCode));
    QByteArray data(fillForRate(rate, code), Qt::Uninitialized);
    const qint64 n = transfer.Source->read(data.data(), data.size());
    if (n < 0) {
        stopUnreadable(row);
        return std::nullopt;
    }
    // The count must come out at the offered size: more or fewer bytes mean the file changed.
    if (qint64{transfer.Done} + n > transfer.Size || (n == 0 && transfer.Done != transfer.Size)) {
        stopChanged(row);
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
    const std::uint32_t now = m_clock.tickCount();
    if (same) {
        transfer.Done = transfer.PrefixLength;
        transfer.Carried = transfer.Done;
        transfer.Confirmed = transfer.Done;
        m_model.showLive(row, now);
        return std::nullopt;
    }
    // The receiver keeps what it holds and takes the file from 0 into a new ".part".
    transfer.PrefixLength = 0;
    transfer.PrefixHashed = 0;
    transfer.Digest = newDigest();
    transfer.Source->seek(0);
    transfer.Done = 0;
    transfer.Carried = 0;
    transfer.Confirmed = 0;
    transfer.Window.clear();
    m_model.showLive(row, now);
    m_notices.appendConversationLine(
        QStringLiteral("The other side's partial copy of %1 is not the start of this file: the "
                       "file is sent again from its beginning.")
            .arg(transfer.FileName));
    return buildFileRestart({transfer.Id});
}

bool FileSender::sourceChanged(const TTransfer& transfer) const {
    const auto stamp = stampOf(*transfer.Source);
    return !stamp || stamp->first != transfer.Size || stamp->second != transfer.SourceModified;
}

void FileSender::stopUnreadable(int row) {
    const TTransfer& transfer = m_model.transfer(row);
    const QString error = transfer.Source->errorString();
    stopLine(row, trCannotRead, error,
             QStringLiteral("Could not read the file %1: %2.").arg(transfer.FileName, error));
}

void FileSender::stopChanged(int row) {
    stopLine(row, trSourceChanged, QString(),
             QStringLiteral("The file %1 changed while it was being sent.")
                 .arg(m_model.transfer(row).FileName));
}

void FileSender::stopLine(int row, std::uint8_t code, const QString& detail, const QString& why) {
    const TTransfer& transfer = m_model.transfer(row);
    m_notices.appendConversationLine(why + QStringLiteral(" Its transfer was stopped."));
    sendStop(m_send, transfer, code, detail);
    m_model.endTransfer(row, tsStopped, reasonWords(code, detail, QString()), m_clock.tickCount());
}

}  // namespace velmora
