#include "transfer/TransferEngine.h"

#include "transfer/TransferWords.h"

#include <QScopedValueRollback>

#include <algorithm>
#include <vector>

namespace velmora {

TransferEngine::TransferEngine(TransferSettings& settings, TransferNotices& notices,
                               const TransferClock& clock, PeerMessageSink send,
                               RandomSource random, FileIconSource icons, QLocale locale,
                               QObject* parent)
    : QObject(parent),
      m_notices(notices),
      m_clock(clock),
      m_send(send),
      m_model(std::move(locale)),
      m_receiver(m_model, clock, settings, notices, send),
      m_sender(m_model, clock, settings, notices, send, std::move(random), std::move(icons)) {
    connect(&m_model, &TransfersModel::stateChanged, this, [this](int row) {
        m_receiver.lineStateChanged(row);
        if (!m_stoppingAll) {
            m_sender.offerWaiting();
        }
        // The figures move only while a line runs: the refresh ticks from then on. Aborted and
        // finished lines go by themselves: the removal ticks until they are gone.
        const TransferState state = m_model.transfer(row).State;
        if (state == tsRunning && !m_refreshTimer.isActive()) {
            m_refreshTimer.start();
        } else if ((state == tsAborted || state == tsFinished) && !m_removalTimer.isActive()) {
            m_removalTimer.start();
        }
    });
    connect(&m_model, &TransfersModel::rowsRemoved, this, [this] { m_sender.offerWaiting(); });
    m_removalTimer.setInterval(kRemovalIntervalMs);
    connect(&m_removalTimer, &QTimer::timeout, this, &TransferEngine::removeFirstAborted);
    m_refreshTimer.setInterval(kRefreshIntervalMs);
    connect(&m_refreshTimer, &QTimer::timeout, this, &TransferEngine::refresh);
    // A notice about a line does not outlive the state it told of.
    connect(&m_model, &TransfersModel::stateChanged, this, [this](int row) {
        if (&m_model.transfer(row) == m_noticeAbout &&
            m_model.transfer(row).State != m_noticeState) {
            dropNoticeOf(row);
        }
    });
    connect(&m_model, &QAbstractItemModel::rowsAboutToBeRemoved, this,
            [this](const QModelIndex&, int first, int last) {
                for (int row = first; row <= last; ++row) {
                    dropNoticeOf(row);
                }
            });
}

TransferEngine::~TransferEngine() = default;

void TransferEngine::offerReceived(const PeerSender& sender, const FileOffer& offer) {
    m_receiver.offerReceived(sender, offer);
}

void TransferEngine::replyReceived(const PeerSender& sender, const FileReply& reply) {
    m_sender.replyReceived(sender, reply);
    if (reply.result == frAccepted) {
        emit blocksReady();
    }
}

void TransferEngine::blockReceived(const PeerSender& sender, const FileBlock& block) {
    m_receiver.blockReceived(sender, block);
}

void TransferEngine::damagedBlockReceived(const PeerSender& sender, std::uint8_t transferId) {
    m_receiver.damagedBlockReceived(sender, transferId);
}

void TransferEngine::offerDetailsReceived(const PeerSender& sender,
                                          const FileOfferDetails& details) {
    m_receiver.offerDetailsReceived(sender, details);
}

void TransferEngine::replyDetailsReceived(const PeerSender& sender,
                                          const FileReplyDetails& details) {
    m_sender.replyDetailsReceived(sender, details);
}

void TransferEngine::digestReceived(const PeerSender& sender, const FileDigest& digest) {
    m_receiver.digestReceived(sender, digest);
}

void TransferEngine::restartReceived(const PeerSender& sender, const FileRestart& restart) {
    m_receiver.restartReceived(sender, restart);
}

void TransferEngine::verdictReceived(const PeerSender& sender, const FileVerdict& verdict) {
    m_sender.verdictReceived(sender, verdict);
}

void TransferEngine::reasonReceived(const PeerSender& sender, const TransferReason& reason) {
    for (int row = 0; row < m_model.rowCount(); ++row) {
        TTransfer& transfer = m_model.transfer(row);
        if (transfer.Id == reason.transferId && !transfer.ended() &&
            transfer.Recipients.front() == sender.id) {
            transfer.TheirReason = PeerReason{reason.code, QString::fromUtf8(reason.utf8Detail)};
        }
    }
}

void TransferEngine::progressReceived(const PeerSender& sender, const FileProgress& progress) {
    m_sender.progressReceived(sender, progress);
}

void TransferEngine::showNotice(int row, const QString& text) {
    m_noticeAbout = &m_model.transfer(row);
    m_noticeState = m_model.transfer(row).State;
    m_notices.showTransferStatus(text);
}

void TransferEngine::dropNoticeOf(int row) {
    if (&m_model.transfer(row) == m_noticeAbout) {
        m_noticeAbout = nullptr;
        m_notices.showTransferStatus(QString());
    }
}

void TransferEngine::controlReceived(const PeerSender& sender, const TransferControl& control) {
    QString what;
    TransferState state = tsRunning;
    switch (control.action) {
        case caAbort:
            what = QStringLiteral("aborted");
            state = tsStopped;
            break;
        case caPause:
            what = QStringLiteral("paused");
            state = tsPaused;
            break;
        case caResume:
            what = QStringLiteral("resumed");
            state = tsRunning;
            break;
        default:
            return;
    }
    const std::uint32_t now = m_clock.tickCount();
    for (int row = 0; row < m_model.rowCount(); ++row) {
        TTransfer& transfer = m_model.transfer(row);
        // A line that has ended (stopped, aborted or finished) has closed its file: nothing
        // brings it back.
        if (transfer.Id != control.transferId || transfer.ended()) {
            continue;
        }
        if (state != tsStopped) {
            setPauseState(row, state);
        } else {
            // An abort without a reason before it is the other side's user's.
            const PeerReason reason = transfer.TheirReason.value_or(PeerReason{trUserAborted, {}});
            const QString words = reasonWords(reason.code, reason.detail, sender.name);
            if (reason.code != trUserAborted) {
                m_notices.appendConversationLine(
                    QStringLiteral("The transfer of %1 was stopped: %2.")
                        .arg(transfer.FileName, words));
            }
            // A file whose end had gone out may have arrived all the same: its verdict tells.
            const bool awaiting = transfer.awaitingVerdict();
            m_model.endTransfer(row, tsStopped, words, now,
                                awaiting ? std::nullopt : std::optional(TransferOutcome::Failed));
        }
        showNotice(
            row, QStringLiteral("Remote computer %1 transfer of %2!").arg(what, transfer.FileName));
    }
    if (state == tsRunning) {
        emit blocksReady();
    }
}

void TransferEngine::sendFiles(const QStringList& paths, const std::optional<Opponent>& opponent) {
    m_sender.sendFiles(paths, opponent);
}

std::optional<PreparedBlock> TransferEngine::prepareBlock(BlockCursor& cursor) {
    const bool receiverHashing = m_receiver.hashPrefixes();
    std::optional<PreparedBlock> block = m_sender.prepareBlock(cursor);
    if (receiverHashing || m_sender.hashingPrefix()) {
        emit blocksReady();
    }
    return block;
}

void TransferEngine::sendControl(const TTransfer& transfer, TransferAction action) {
    for (const std::uint32_t recipient : transfer.Recipients) {
        m_send(recipient, buildTransferControl({transfer.Id, action}));
    }
}

void TransferEngine::abort(const QList<int>& rows) {
    const std::uint32_t now = m_clock.tickCount();
    // Records, not row numbers: rows move up as lines are removed.
    std::vector<const TTransfer*> toRemove;
    for (int row = 0; row < m_model.rowCount(); ++row) {
        if (!rows.contains(row)) {
            continue;
        }
        const TTransfer& transfer = m_model.transfer(row);
        if (transfer.ended()) {
            toRemove.push_back(&transfer);
            continue;
        }
        sendControl(transfer, caAbort);
        if (transfer.awaitingVerdict()) {
            // Its last byte has gone: the receiver's verdict says how it really ended.
            m_model.endTransfer(row, tsAborted,
                                QStringLiteral("aborted after its last byte had gone; waiting for "
                                               "the other side's verdict"),
                                now, std::nullopt);
        } else {
            m_model.endTransfer(row, tsAborted, QStringLiteral("aborted here"), now);
        }
    }
    for (const TTransfer* transfer : toRemove) {
        m_model.removeTransfer(m_model.rowOf(*transfer));
    }
}

void TransferEngine::remove(const QList<int>& rows) {
    std::vector<const TTransfer*> toRemove;
    for (const int row : rows) {
        if (row >= 0 && row < m_model.rowCount() && m_model.transfer(row).ended()) {
            toRemove.push_back(&m_model.transfer(row));
        }
    }
    for (const TTransfer* transfer : toRemove) {
        m_model.removeTransfer(m_model.rowOf(*transfer));
    }
}

void TransferEngine::clearEnded() {
    for (int row = m_model.rowCount() - 1; row >= 0; --row) {
        if (m_model.transfer(row).ended()) {
            m_model.removeTransfer(row);
        }
    }
}

bool TransferEngine::canSendAgain(int row) const {
    if (row < 0 || row >= m_model.rowCount()) {
        return false;
    }
    const TTransfer& transfer = m_model.transfer(row);
    return transfer.Outgoing && transfer.ended() && !transfer.SourcePath.isEmpty() &&
           transfer.Outcome != TransferOutcome::VerifiedWhole;
}

void TransferEngine::sendAgain(const QList<int>& rows, const std::optional<Opponent>& opponent) {
    QStringList paths;
    std::vector<const TTransfer*> toRemove;
    for (int row = 0; row < m_model.rowCount(); ++row) {
        if (rows.contains(row) && canSendAgain(row)) {
            paths << m_model.transfer(row).SourcePath;
            toRemove.push_back(&m_model.transfer(row));
        }
    }
    if (paths.isEmpty()) {
        return;
    }
    if (opponent) {
        for (const TTransfer* transfer : toRemove) {
            m_model.removeTransfer(m_model.rowOf(*transfer));
        }
    }
    m_sender.sendFiles(paths, opponent);
}

void TransferEngine::changeSelected(const QList<int>& rows, TransferState from, TransferState to,
                                    TransferAction action) {
    for (int row = 0; row < m_model.rowCount(); ++row) {
        if (rows.contains(row) && m_model.transfer(row).State == from) {
            sendControl(m_model.transfer(row), action);
            setPauseState(row, to);
        }
    }
}

void TransferEngine::pause(const QList<int>& rows) {
    changeSelected(rows, tsRunning, tsPaused, caPause);
}

void TransferEngine::resume(const QList<int>& rows) {
    changeSelected(rows, tsPaused, tsRunning, caResume);
    emit blocksReady();
}

void TransferEngine::setPauseState(int row, TransferState state) {
    TTransfer& transfer = m_model.transfer(row);
    if (transfer.State == state) {
        return;
    }
    const std::uint32_t now = m_clock.tickCount();
    transfer.stopClock(now);
    if (state == tsRunning) {
        transfer.startClock(now);
    }
    // The speed of a line that went on after a pause counts from its going on.
    transfer.Window.clear();
    m_model.setState(row, state);
    m_model.showLive(row, now);
}

void TransferEngine::refresh() {
    const std::uint32_t now = m_clock.tickCount();
    bool running = false;
    for (int row = 0; row < m_model.rowCount(); ++row) {
        if (m_model.transfer(row).State == tsRunning) {
            m_model.showLive(row, now);
            running = true;
        }
    }
    // Paused and ended lines stand still (a pause drew its figures once): nothing to tick for.
    if (!running) {
        m_refreshTimer.stop();
    }
}

void TransferEngine::removeFirstAborted() {
    const std::uint32_t now = m_clock.tickCount();
    for (int row = m_model.rowCount() - 1; row >= 0; --row) {
        const TTransfer& transfer = m_model.transfer(row);
        if (transfer.State == tsFinished && now - transfer.FinishedTick >= kFinishedShownMs) {
            m_model.removeTransfer(row);
        }
    }
    for (int row = 0; row < m_model.rowCount(); ++row) {
        const TTransfer& transfer = m_model.transfer(row);
        // A line that waits for the verdict on a file it aborted too late stays to show it.
        if (transfer.State == tsAborted && !(transfer.awaitingVerdict() && !transfer.Outcome)) {
            m_model.removeTransfer(row);
            break;
        }
    }
    // Nothing is left to take away: the timer waits for the next line that is aborted or
    // finishes.
    for (int row = 0; row < m_model.rowCount(); ++row) {
        const TransferState state = m_model.transfer(row).State;
        if (state == tsAborted || state == tsFinished) {
            return;
        }
    }
    m_removalTimer.stop();
}

bool TransferEngine::isHeld(int row) const {
    const TTransfer& transfer = m_model.transfer(row);
    return transfer.State == tsStopped && !transfer.Outcome;
}

TransferEngine::Continued TransferEngine::continueHeld(const Opponent& opponent) {
    QStringList paths;
    Continued continued;
    for (int row = m_model.rowCount() - 1; row >= 0; --row) {
        if (!isHeld(row)) {
            continue;
        }
        const TTransfer& transfer = m_model.transfer(row);
        if (!transfer.Outgoing) {
            ++continued.incoming;
        } else if (!transfer.SourcePath.isEmpty()) {
            ++continued.outgoing;
            paths.prepend(transfer.SourcePath);
        }
        m_model.removeTransfer(row, true);
    }
    if (!paths.isEmpty()) {
        m_sender.sendFiles(paths, opponent);
    }
    return continued;
}

void TransferEngine::failHeld(const QString& words) {
    const std::uint32_t now = m_clock.tickCount();
    for (int row = 0; row < m_model.rowCount(); ++row) {
        if (isHeld(row)) {
            m_model.endTransfer(row, tsStopped, words, now);
        }
    }
}

QStringList TransferEngine::unfinishedFiles() const {
    QStringList files;
    for (int row = 0; row < m_model.rowCount(); ++row) {
        if (!m_model.transfer(row).ended()) {
            files.append(m_model.transfer(row).FileName);
        }
    }
    return files;
}

void TransferEngine::stopAll(const QString& words, bool held) {
    const std::uint32_t now = m_clock.tickCount();
    const QStringList cutOff = unfinishedFiles();
    // Held lines are not cut off: the conversation says that the line is being got back.
    if (!cutOff.isEmpty() && !held) {
        m_notices.appendConversationLine(
            QStringLiteral("Cut off as %1: %2.").arg(words, cutOff.join(QStringLiteral(", "))));
    }
    const std::optional<TransferOutcome> outcome =
        held ? std::nullopt : std::optional(TransferOutcome::Failed);
    // A line that stops makes no place for a waiting offer: the connection is ending.
    const QScopedValueRollback stopping(m_stoppingAll, true);
    for (int row = 0; row < m_model.rowCount(); ++row) {
        const TTransfer& transfer = m_model.transfer(row);
        if (!transfer.ended()) {
            m_model.endTransfer(row, tsStopped, words, now, outcome);
        } else if (transfer.awaitingVerdict() && !transfer.Outcome && !isHeld(row)) {
            m_model.endTransfer(row, tsStopped,
                                transfer.EndWords + QStringLiteral("; no verdict came: ") + words,
                                now, outcome);
        }
    }
}

}  // namespace velmora
