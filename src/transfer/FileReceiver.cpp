#include "transfer/FileReceiver.h"

#include "session/Windows1252.h"
#include "transfer/TransferClock.h"
#include "transfer/TransfersModel.h"

#include <QDir>
#include <QFileInfo>

#include <limits>

namespace velmora {

namespace {

// A received name as the user reads it, its zero bytes made visible.
QString shownName(const QByteArray& name) {
    QString shown = fromWindows1252(name);
    shown.replace(QChar(u'\0'), QStringLiteral("\\0"));
    return shown;
}

bool sameFile(const QString& a, const QString& b) {
    return QFileInfo(a).absoluteFilePath() == QFileInfo(b).absoluteFilePath();
}

}  // namespace

FileReceiver::FileReceiver(TransfersModel& model, const TransferClock& clock,
                           TransferSettings& settings, TransferNotices& notices,
                           PeerMessageSink send, QLocale locale)
    : m_model(model),
      m_clock(clock),
      m_settings(settings),
      m_notices(notices),
      m_send(std::move(send)),
      m_locale(std::move(locale)) {}

bool FileReceiver::isPlainFileName(const QByteArray& name) {
    if (name.isEmpty() || name == "." || name == "..") {
        return false;
    }
    return !name.contains('/') && !name.contains('\\') && !name.contains('\0');
}

void FileReceiver::reply(const PeerSender& sender, const FileOffer& offer, FileReplyResult result,
                         std::int32_t offset) {
    m_send(sender.id, buildFileReply({offset, offer.transferId, result, offer.icon}));
}

QString FileReceiver::usableIncomingFolder() {
    if (!QFileInfo(m_settings.incomingFolder()).isDir()) {
        const QString fallback = m_settings.defaultIncomingFolder();
        QDir().mkpath(fallback);
        m_settings.setIncomingFolder(fallback);
    }
    return m_settings.incomingFolder();
}

void FileReceiver::offerReceived(const PeerSender& sender, const FileOffer& offer) {
    if (m_settings.blockIncoming()) {
        reply(sender, offer, frBlocked, 0);
        return;
    }
    if (!m_settings.internalLoop() && m_model.holdsId(offer.transferId)) {
        reply(sender, offer, frIdInUse, 0);
        return;
    }
    // Anything but a bare name could reach outside the incoming folder: refused, so that the
    // sender's line stops.
    if (!isPlainFileName(offer.fileName)) {
        reply(sender, offer, frBlocked, 0);
        m_notices.appendConversationLine(
            QStringLiteral("Refused the file \"%1\" offered by %2: it is not a plain file name.")
                .arg(shownName(offer.fileName), sender.name));
        return;
    }
    const QString fileName = fromWindows1252(offer.fileName);
    const QString folder = usableIncomingFolder();
    const QString path = QDir(folder).filePath(fileName);
    const auto refuse = [&](const QString& why) {
        reply(sender, offer, frBlocked, 0);
        m_notices.appendConversationLine(
            QStringLiteral("Could not receive the file %1 from %2 into %3: %4")
                .arg(fileName, sender.name, folder, why));
    };
    for (int row = 0; row < m_model.rowCount(); ++row) {
        const TTransfer& other = m_model.transfer(row);
        if (other.Target && sameFile(other.Target->fileName(), path)) {
            refuse(QStringLiteral("another transfer is writing that file."));
            return;
        }
    }
    const QFileInfo existing(path);
    if (existing.isSymLink()) {
        refuse(QStringLiteral("a link of that name is in the way."));
        return;
    }
    if (existing.exists() && !existing.isFile()) {
        refuse(QStringLiteral("something other than a file of that name is in the way."));
        return;
    }

    auto target = std::make_unique<QFile>(path);
    // Unbuffered, so that a failed write shows at the block that failed.
    std::int32_t offset = 0;
    if (existing.exists()) {
        // Taken as the beginning of the offered file: never truncated, continued at its end.
        if (!target->open(QIODevice::ReadWrite | QIODevice::Unbuffered)) {
            refuse(target->errorString());
            return;
        }
        offset = static_cast<std::int32_t>(
            std::min<qint64>(target->size(), std::numeric_limits<std::int32_t>::max()));
        target->seek(offset);
    } else if (!target->open(QIODevice::WriteOnly | QIODevice::NewOnly | QIODevice::Unbuffered)) {
        refuse(target->errorString());
        return;
    }

    auto transfer = std::make_unique<TTransfer>();
    transfer->Target = std::move(target);
    transfer->StartTime = m_clock.timeOfDay();
    transfer->LastTick = m_clock.tickCount();
    transfer->FileName = fileName;
    transfer->Size = offer.fileSize;
    transfer->Id = offer.transferId;
    transfer->Outgoing = false;
    transfer->Done = offset;
    transfer->Recipients = {sender.id};
    transfer->State = tsRunning;
    m_model.addTransfer(std::move(transfer), offer.icon, m_locale);
    reply(sender, offer, frAccepted, offset);
}

void FileReceiver::blockReceived(const PeerSender& /*sender*/, const FileBlock& block) {
    const int row = m_model.findById(block.transferId, false);
    if (row < 0) {
        return;
    }
    TTransfer& transfer = m_model.transfer(row);
    // The file is closed once a write failed: what follows would land in the wrong place.
    if (!transfer.Target) {
        return;
    }
    const auto count = static_cast<qint64>(block.data.size());
    const qint64 written = transfer.Target->write(block.data.data(), count);
    if (written != count) {
        stopAfterWriteError(row);
        return;
    }
    transfer.LastBlock = static_cast<std::int32_t>(written);
    transfer.Done = addToDone(transfer.Done, transfer.LastBlock);
    const std::uint32_t now = m_clock.tickCount();
    m_model.setProgress(row,
                        progressTexts({transfer.Size, transfer.Done, transfer.LastBlock, now,
                                       transfer.LastTick, transfer.StartTime, m_clock.timeOfDay()},
                                      LeftRule::Receiver, m_locale));
    transfer.LastTick = now;
    if (block.last) {
        m_notices.appendConversationLine(QStringLiteral("File ") + transfer.FileName +
                                         QStringLiteral(" received and saved into ") +
                                         m_settings.incomingFolder());
        m_model.removeTransfer(row);
    }
}

void FileReceiver::stopAfterWriteError(int row) {
    TTransfer& transfer = m_model.transfer(row);
    m_notices.appendConversationLine(
        QStringLiteral("Could not write the file %1: %2. Its transfer was stopped.")
            .arg(transfer.Target->fileName(), transfer.Target->errorString()));
    transfer.Target.reset();
    for (const std::uint32_t recipient : transfer.Recipients) {
        m_send(recipient, buildTransferControl({transfer.Id, caAbort}));
    }
    m_model.setState(row, tsStopped);
}

}  // namespace velmora
