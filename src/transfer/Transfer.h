#pragma once

#include "transfer/TransferServices.h"

#include <QByteArray>
#include <QCryptographicHash>
#include <QFile>
#include <QString>

#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <vector>

namespace velmora {

// Files one participant may have coming from another at once: a receiver refuses offers past
// it, and a sender holds its further offers back until earlier lines have ended.
inline constexpr int kMaxOpenTransfersPerPeer = 32;

// The state of one listed transfer. The values are those the record's State byte holds. The
// last three are ended states: the line's clocks stand still, its words say why it ended, and
// only removing it (and, outgoing, sending the file again) is left to do.
enum TransferState : std::uint8_t {
    tsRunning = 0,   // blocks flow (an outgoing transfer once its offer is accepted)
    tsPaused = 1,    // paused by either side
    tsStopped = 2,   // aborted or refused by the other side, failed here, or the connection
                     // ended; waits for the user to remove it
    tsAborted = 3,   // aborted on this side; the removal timer takes it away
    tsFinished = 4,  // outgoing: the receiver confirmed the file whole; shown a while, then taken
                     // away by the removal timer
};

// How a transfer ended, for the side's tally (TransfersModel::outcomes).
enum class TransferOutcome {
    VerifiedWhole,    // both sides checked the file with SHA-256 and it is the sender's
    WholeUnverified,  // the count held, but the other side does not check files
    Damaged,          // the count held and the digest differed (or never came)
    Failed,           // refused, aborted, lost, a count that did not hold, a read or write error
};

// The bytes a line counted lately: (tick, total bytes) samples over a moving window, for the
// speed and the time left of both sides. The sender samples what the receiver confirmed (or,
// with a receiver that does not confirm, what has left its send call); the receiver what it
// wrote. The window is emptied when a line pauses and resumes, so a pause never counts.
class RateWindow {
public:
    static constexpr std::uint32_t kSpanMs = 5000;
    // Below this span there is no figure: the first samples of a line say little.
    static constexpr std::uint32_t kMinSpanMs = 1000;

    void clear() { m_samples.clear(); }
    void add(std::uint32_t tick, std::int64_t total);
    // Bytes per millisecond over the window; empty while it spans less than kMinSpanMs.
    std::optional<double> rate() const;

private:
    struct Sample {
        std::uint32_t tick = 0;
        std::int64_t total = 0;
    };
    std::deque<Sample> m_samples;
};

// Why the other side refused or stopped a transfer, as it said it (TransferReason).
struct PeerReason {
    std::uint8_t code = 0;
    QString detail;
};

// The state images of a transfers line, in the order of the state image list.
enum StateImage : int {
    siPaused = 0,     // two vertical bars
    siStopped = 1,    // a red cross
    siSending = 2,    // a page with an arrow leaving it
    siReceiving = 3,  // an arrow entering a page
};

// The record of one listed transfer, outgoing or incoming. Its line in the transfers model owns
// it; the open file goes with the record.
struct TTransfer {
    std::unique_ptr<QFile> Source;  // outgoing only: the file being sent, open for reading
    std::unique_ptr<QFile> Target;  // incoming only: the file being written
    QString FileName;               // the name without folder; the line's caption
    std::int32_t Size = 0;
    std::uint8_t Id = 0;  // transfer identifier 0..254
    bool Outgoing = false;
    // Outgoing only, one per recipient: 1 while the offer is not accepted, and again once the
    // end-of-file message is prepared; 0 while blocks are sent.
    std::vector<std::uint8_t> Waiting;
    std::int32_t Done = 0;  // bytes read or written, including the offset resumed from
    std::vector<std::uint32_t> Recipients;  // the other side: exactly one participant
    TransferState State = tsRunning;

    // Running time: the milliseconds of the running spans that ended, and the tick the present
    // one began. A pause and an end stop the clock.
    std::uint32_t ActiveMs = 0;
    std::uint32_t RunningSince = 0;
    RateWindow Window;
    // Once the line ended: why, in a few words (the Speed column and the line's tip show them).
    QString EndWords;
    // What the other side said last about why it refuses or stops this transfer.
    std::optional<PeerReason> TheirReason;
    // The other side reads TransferReason and FileProgress (its details said so).
    bool TheyHearNews = false;

    // Both sides: the file check with SHA-256 was agreed for this transfer.
    bool Checked = false;
    // SHA-256 of the file's bytes so far (read or written), a resumed prefix included.
    std::unique_ptr<QCryptographicHash> Digest;
    // While a resumed prefix is read back before the line goes on: its digest, its length and
    // how much of it was read so far.
    std::unique_ptr<QCryptographicHash> PrefixDigest;
    std::int32_t PrefixLength = 0;
    std::int32_t PrefixHashed = 0;
    // Outgoing: the receiver's digest of the prefix it holds. Incoming: the sender's digest of
    // the whole file.
    QByteArray TheirDigest;
    std::optional<TransferOutcome> Outcome;
    std::uint32_t FinishedTick = 0;  // tick count when the line became finished

    // Outgoing only.
    QString SourcePath;               // for sending the file again
    std::int64_t SourceModified = 0;  // the source's modification time (ns) when offered
    bool TheyCheck = false;           // the answer to the offer came with FileReplyDetails
    bool Offered = false;             // the offer went; else it waits for a free place
    bool DigestSent = false;
    std::int32_t Carried = 0;    // bytes whose send call has returned
    std::int32_t Confirmed = 0;  // bytes the receiver said it has written (FileProgress)
    // The offer took long to be answered: a slow line, whose first blocks wait for the
    // receiver's first count (see FileSender).
    bool SlowAnswer = false;
    // When the first block went to a receiver that counts, and when it last counted.
    std::optional<std::uint32_t> FirstBlockAt;
    std::optional<std::uint32_t> ConfirmedAt;
    // File bytes per millisecond the line carries to the receiver, by its counts: the rate of
    // the Window once it has one, a first figure from the first count before. Kept through
    // pauses, since the line stays the same.
    std::optional<double> LineRate;

    // Incoming only: the name that the finished file gets (before any " (2)") and the ".part"
    // file it is written to until then; the tick of the last FileProgress sent.
    QString Folder;
    QString PartPath;
    std::uint32_t ConfirmedTick = 0;
    // Incoming only: this line made its ".part" (it did not continue one). Such a ".part" goes
    // when the line ends before a byte was written to it.
    bool NewPart = false;

    bool anyWaiting() const;
    bool hashingPrefix() const { return PrefixHashed < PrefixLength; }
    bool ended() const { return State == tsStopped || State == tsAborted || State == tsFinished; }
    // Outgoing: the end-of-file message has gone out to a receiver that checks files, and its
    // verdict has not come yet. Such a line learns the file's true end even after an abort.
    bool awaitingVerdict() const { return Outgoing && Checked && DigestSent && anyWaiting(); }
    // The bytes that crossed the line as this side counts them: written here (incoming), or
    // confirmed by the receiver (outgoing; what left the send call when it does not confirm).
    std::int32_t counted() const;
    // Milliseconds the line has been running, pauses left out.
    std::uint32_t elapsedMs(std::uint32_t now) const;
    // The clock starts or stops with the State: call before a change from or to tsRunning.
    void stopClock(std::uint32_t now);
    void startClock(std::uint32_t now);
};

// A fresh SHA-256.
std::unique_ptr<QCryptographicHash> newDigest();

// Tells the other side that the line stops: why first (code, and the system's words in detail),
// when its details said it reads reasons, then the abort that every version reads.
void sendStop(const PeerMessageSink& send, const TTransfer& transfer, std::uint8_t code,
              const QString& detail);

// Done after a block of this many bytes. Wraps around instead of overflowing when a peer sends
// more than a 32-bit count can describe.
std::int32_t addToDone(std::int32_t done, std::int32_t bytes);

// ChangeState: the state image of a line of this record that shows currentImage now. An aborted
// line keeps the image it had.
int changeState(const TTransfer& transfer, int currentImage);

}  // namespace velmora
