#pragma once

#include <QFile>
#include <QString>

#include <cstdint>
#include <memory>
#include <vector>

namespace velmora {

// The state of one listed transfer. The values are those the record's State byte holds.
enum TransferState : std::uint8_t {
    tsRunning = 0,  // blocks flow (an outgoing transfer once its offer is accepted)
    tsPaused = 1,   // paused by either side
    tsStopped = 2,  // aborted or refused by the other side, or the connection ended; waits for
                    // the user to remove it
    tsAborted = 3,  // aborted on this side; the removal timer takes it away
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
    std::int32_t LastBlock = 0;     // incoming only: bytes the last block wrote
    QString FileName;               // the name without folder; the line's caption
    double StartTime = 0.0;         // time of day of creation, as a fraction of a day
    std::uint32_t LastTick = 0;     // tick count (ms) at creation and at each progress update
    std::int32_t Size = 0;
    std::uint8_t Id = 0;  // transfer identifier 0..254
    bool Outgoing = false;
    // Outgoing only, one per recipient: 1 while the offer is not accepted, and again once the
    // end-of-file message is prepared; 0 while blocks are sent.
    std::vector<std::uint8_t> Waiting;
    std::int32_t Done = 0;  // bytes sent or received, including the offset resumed from
    std::vector<std::uint32_t> Recipients;  // the other side: exactly one participant
    TransferState State = tsRunning;

    bool anyWaiting() const;
};

// Done after a block of this many bytes. Wraps around instead of overflowing when a peer sends
// more than a 32-bit count can describe.
std::int32_t addToDone(std::int32_t done, std::int32_t bytes);

// ChangeState: the state image of a line of this record that shows currentImage now. An aborted
// line keeps the image it had.
int changeState(const TTransfer& transfer, int currentImage);

}  // namespace velmora
