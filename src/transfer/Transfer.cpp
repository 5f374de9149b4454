#include "transfer/Transfer.h"

#include "protocol/PeerMessages.h"

#include <algorithm>

namespace velmora {

bool TTransfer::anyWaiting() const {
    return std::any_of(Waiting.begin(), Waiting.end(), [](std::uint8_t flag) { return flag == 1; });
}

void RateWindow::add(std::uint32_t tick, std::int64_t total) {
    m_samples.push_back({tick, total});
    // The oldest sample kept is the newest one that still spans the window.
    while (m_samples.size() > 2 && tick - m_samples[1].tick >= kSpanMs) {
        m_samples.pop_front();
    }
}

std::optional<double> RateWindow::rate() const {
    if (m_samples.size() < 2) {
        return std::nullopt;
    }
    const std::uint32_t span = m_samples.back().tick - m_samples.front().tick;
    if (span < kMinSpanMs) {
        return std::nullopt;
    }
    return static_cast<double>(m_samples.back().total - m_samples.front().total) /
           static_cast<double>(span);
}

std::int32_t TTransfer::counted() const {
    if (!Outgoing) {
        return Done;
    }
    return TheyHearNews ? Confirmed : Carried;
}

std::uint32_t TTransfer::elapsedMs(std::uint32_t now) const {
    return State == tsRunning ? ActiveMs + (now - RunningSince) : ActiveMs;
}

void TTransfer::stopClock(std::uint32_t now) {
    if (State == tsRunning) {
        ActiveMs += now - RunningSince;
    }
}

void TTransfer::startClock(std::uint32_t now) {
    RunningSince = now;
}

void sendStop(const PeerMessageSink& send, const TTransfer& transfer, std::uint8_t code,
              const QString& detail) {
    for (const std::uint32_t recipient : transfer.Recipients) {
        if (transfer.TheyHearNews) {
            send(recipient, buildTransferReason({transfer.Id, code, detail.toUtf8()}));
        }
        send(recipient, buildTransferControl({transfer.Id, caAbort}));
    }
}

std::unique_ptr<QCryptographicHash> newDigest() {
    return std::make_unique<QCryptographicHash>(QCryptographicHash::Sha256);
}

std::int32_t addToDone(std::int32_t done, std::int32_t bytes) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(done) +
                                     static_cast<std::uint32_t>(bytes));
}

int changeState(const TTransfer& transfer, int currentImage) {
    switch (transfer.State) {
        case tsRunning:
            return transfer.Outgoing ? siSending : siReceiving;
        case tsPaused:
            return siPaused;
        case tsStopped:
            return siStopped;
        case tsAborted:
        case tsFinished:
            break;
    }
    return currentImage;
}

}  // namespace velmora
