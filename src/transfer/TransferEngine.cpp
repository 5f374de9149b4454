#include "transfer/TransferEngine.h"

#include <algorithm>
#include <vector>

namespace velmora {

TransferEngine::TransferEngine(TransferSettings& settings, TransferNotices& notices,
                               const TransferClock& clock, PeerMessageSink send,
                               RandomSource random, FileIconSource icons, QLocale locale,
                               QObject* parent)
    : QObject(parent),
      m_notices(notices),
      m_send(send),
      m_receiver(m_model, clock, settings, notices, send, locale),
      m_sender(m_model, clock, settings, notices, send, std::move(random), std::move(icons),
               locale) {
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
        if (m_model.transfer(row).Id != control.transferId) {
            continue;
        }
        m_notices.showTransferStatus(QStringLiteral("Remote computer %1 transfer of %2!")
                                         .arg(what, m_model.transfer(row).FileName));
        m_model.setState(row, state);
    }
    if (state == tsRunning) {
        emit blocksReady();
    }
}

void TransferEngine::sendFiles(const QStringList& paths, const std::optional<Opponent>& opponent) {
    m_sender.sendFiles(paths, opponent);
}

std::optional<PreparedBlock> TransferEngine::prepareBlock(BlockCursor& cursor) {
    return m_sender.prepareBlock(cursor);
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
        if (transfer.State == tsStopped || transfer.State == tsAborted) {
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
            m_model.setState(row, to);
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

void TransferEngine::removeFirstAborted() {
    for (int row = 0; row < m_model.rowCount(); ++row) {
        if (m_model.transfer(row).State == tsAborted) {
            m_model.removeTransfer(row);
            return;
        }
    }
}

void TransferEngine::stopAll() {
    for (int row = 0; row < m_model.rowCount(); ++row) {
        m_model.setState(row, tsStopped);
    }
}

}  // namespace velmora
