#include "transfer/FileSender.h"

#include "session/Windows1252.h"
#include "transfer/TransferClock.h"
#include "transfer/TransfersModel.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <bitset>

namespace velmora {

namespace {

QByteArray iconField(const QByteArray& icon) {
    return icon.leftJustified(kIconFieldSize, '\0', true);
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
    const FileOffer offer{toWindows1252(transfer->FileName), transfer->Size, *id, icon};
    m_model.addTransfer(std::move(transfer), icon, m_locale);
    m_send(opponent.id, buildFileOffer(offer));
    return true;
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

void FileSender::replyReceived(const PeerSender& sender, const FileReply& reply) {
    const int row = m_model.findById(reply.transferId, true);
    if (row < 0) {
        return;
    }
    TTransfer& transfer = m_model.transfer(row);
    // Only an offer still waiting for this participant's answer is answered; a second answer
    // to a running transfer would move it in its file.
    bool waitingForSender = false;
    for (std::size_t i = 0; i < transfer.Recipients.size(); ++i) {
        waitingForSender |= transfer.Recipients[i] == sender.id && transfer.Waiting[i] == 1;
    }
    if (!waitingForSender) {
        return;
    }
    switch (reply.result) {
        case frAccepted: {
            const std::int32_t offset = std::max(reply.offset, 0);
            transfer.Source->seek(offset);
            transfer.Done = offset;
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
            m_send(sender.id, buildFileOffer({toWindows1252(transfer.FileName), transfer.Size, *id,
                                              iconField(reply.icon)}));
            break;
        }
    }
}

std::optional<PreparedBlock> FileSender::prepareBlock(BlockCursor& cursor) {
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
        const int code = std::clamp(m_settings.blockSizeCode(), kMinBlockCode, kMaxBlockCode);
        QByteArray data(*blockSizeOfCode(code), Qt::Uninitialized);
        const qint64 n = transfer.Source ? transfer.Source->read(data.data(), data.size()) : -1;
        if (n < 0) {
            stopAfterReadError(row);
            advanceLine();
            return std::nullopt;
        }
        const auto count = static_cast<std::int32_t>(n);
        transfer.Done = addToDone(transfer.Done, count);
        const std::uint32_t now = m_clock.tickCount();
        m_model.setProgress(
            row, progressTexts({transfer.Size, transfer.Done, count, now, transfer.LastTick,
                                transfer.StartTime, m_clock.timeOfDay()},
                               LeftRule::Sender, m_locale));
        transfer.LastTick = now;
        const bool last = count == 0;
        if (last) {
            transfer.Waiting[static_cast<std::size_t>(cursor.recipient)] = 1;
        }
        prepared = PreparedBlock{
            0, buildFileBlock({last, transfer.Id, static_cast<std::uint8_t>(code),
                               MessageBytes(data.constData(), static_cast<std::size_t>(n))})};
        finished = last;
    }
    const auto recipients = static_cast<int>(transfer.Recipients.size());
    if (prepared && cursor.recipient < recipients) {
        prepared->destination = transfer.Recipients[static_cast<std::size_t>(cursor.recipient)];
    }
    ++cursor.recipient;
    if (cursor.recipient >= recipients) {
        // The end-of-file message is still sent; the line goes at once.
        if (finished && transfer.anyWaiting()) {
            m_model.removeTransfer(row);
        }
        advanceLine();
    }
    return prepared;
}

void FileSender::stopAfterReadError(int row) {
    TTransfer& transfer = m_model.transfer(row);
    m_notices.appendConversationLine(
        QStringLiteral("Could not read the file %1: %2. Its transfer was stopped.")
            .arg(transfer.FileName, transfer.Source ? transfer.Source->errorString() : QString()));
    for (const std::uint32_t recipient : transfer.Recipients) {
        m_send(recipient, buildTransferControl({transfer.Id, caAbort}));
    }
    m_model.setState(row, tsStopped);
}

}  // namespace velmora
