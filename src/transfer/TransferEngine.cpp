#include "transfer/TransferEngine.h"

#include <QScopedValueRollback>

#include <algorithm>
#include <cmath>
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
      m_receiver(m_model, clock, settings, notices, send, locale),
      m_sender(m_model, clock, settings, notices, send, std::move(random), std::move(icons),
               locale) {
    connect(&m_model, &TransfersModel::stateChanged, this, [this](int row) {
        m_receiver.lineStateChanged(row);
        if (!m_stoppingAll) {
            m_sender.offerWaiting();
        }
    });
    connect(&m_model, &TransfersModel::rowsRemoved, this, [this] { m_sender.offerWaiting(); });
    m_removalTimer.setInterval(kRemovalIntervalMs);
    connect(&m_removalTimer, &QTimer::timeout, this, &TransferEngine::removeFirstAborted);
    m_removalTimer.start();
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

void TransferEngine::controlReceived(const PeerSender& /*sender*/, const TransferControl& control) {
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
    for (int row = 0; row < m_model.rowCount(); ++row) {
        // A line that has ended (stopped, aborted or finished) has closed its file: nothing
        // brings it back.
        const TransferState current = m_model.transfer(row).State;
        if (m_model.transfer(row).Id != control.transferId ||
            (current != tsRunning && current != tsPaused)) {
            continue;
        }
        m_notices.showTransferStatus(QStringLiteral("Remote computer %1 transfer of %2!")
                                         .arg(what, m_model.transfer(row).FileName));
        if (state == tsStopped) {
            m_model.setState(row, state);
        } else {
            setPauseState(row, state);
        }
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
    // Records, not row numbers: rows move up as lines are removed.
    std::vector<const TTransfer*> toRemove;
    for (int row = 0; row < m_model.rowCount(); ++row) {
        if (!rows.contains(row)) {
            continue;
        }
        const TTransfer& transfer = m_model.transfer(row);
        if (transfer.State == tsStopped || transfer.State == tsAborted ||
            transfer.State == tsFinished) {
            toRemove.push_back(&transfer);
        } else {
            sendControl(transfer, caAbort);
            m_model.setState(row, tsAborted);
        }
    }
    for (const TTransfer* transfer : toRemove) {
        m_model.removeTransfer(m_model.rowOf(*transfer));
    }
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
    const TransferState was = transfer.State;
    m_model.setState(row, state);
    if (was == state) {
        return;
    }
    transfer.Window.clear();
    if (state == tsPaused) {
        transfer.PausedAt = m_clock.timeOfDay();
        m_model.setProgressText(row, colSpeed, QString());
    } else if (was == tsPaused) {
        // The pause does not count as time the transfer took.
        double paused = m_clock.timeOfDay() - transfer.PausedAt;
        if (paused < 0.0) {
            paused += 1.0;  // across midnight
        }
        transfer.StartTime = std::fmod(transfer.StartTime + paused, 1.0);
        m_model.setProgressText(row, colSpeed, QStringLiteral("?"));
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
        if (m_model.transfer(row).State == tsAborted) {
            m_model.removeTransfer(row);
            return;
        }
    }
}

void TransferEngine::stopAll() {
    // A line that stops makes no place for a waiting offer: the connection is ending.
    const QScopedValueRollback stopping(m_stoppingAll, true);
    for (int row = 0; row < m_model.rowCount(); ++row) {
        if (m_model.transfer(row).State != tsFinished) {
            m_model.setState(row, tsStopped);
        }
    }
}

}  // namespace velmora
