#pragma once

#include "base/ProgramTexts.h"
#include "protocol/PeerMessageHandlers.h"
#include "transfer/TransferServices.h"

#include <QStringList>

#include <cstdint>
#include <optional>

namespace velmora {

class TransferClock;
class TransfersModel;
struct TTransfer;

// The participant that file offers go to, and whether it is this side's own.
struct Opponent {
    std::uint32_t id = 0;
    bool isLocal = false;
};

// Where the sender thread is in the list: the line whose turn it is and the recipient of that
// line. The thread holds it; only PrepareBlock, on the UI thread, moves it.
struct BlockCursor {
    int line = 0;
    int recipient = 0;
};

// One message for the sender thread to send.
struct PreparedBlock {
    std::uint32_t destination = 0;
    QByteArray message;
};

// The sending half of file transfer: the Send file command's lines and offers, the answers to
// them, and the preparing of each block. UI thread only; the sender thread sends what
// prepareBlock gives.
class FileSender {
public:
    static inline const QString NotConnectedMessage = texts::NotConnectedMessage;

    FileSender(TransfersModel& model, const TransferClock& clock, TransferSettings& settings,
               TransferNotices& notices, PeerMessageSink send, RandomSource random,
               FileIconSource icons);

    // Offers the files in the order given, one line each. opponent is empty while no session is
    // open. Files that cannot be sent are reported and get no line. Past
    // kMaxOpenTransfersPerPeer open lines to the participant, a line waits to be offered.
    void sendFiles(const QStringList& paths, const std::optional<Opponent>& opponent);
    // Offers the waiting lines that have a place now; called when a line changed or went.
    void offerWaiting();

    void replyDetailsReceived(const PeerSender& sender, const FileReplyDetails& details);
    void replyReceived(const PeerSender& sender, const FileReply& reply);
    void verdictReceived(const PeerSender& sender, const FileVerdict& verdict);
    // The receiver's count of what it wrote: the line's figures follow it.
    void progressReceived(const PeerSender& sender, const FileProgress& progress);

    // One cycle of the sender thread: at most one message of one transfer. The block of the
    // cycle before has left by now (the thread sends before it prepares again), so it counts
    // as carried.
    std::optional<PreparedBlock> prepareBlock(BlockCursor& cursor);
    // Whether a line reads back a resumed prefix: its next cycles have work without a block.
    bool hashingPrefix() const;

    // Files of this size or more cannot be described in an offer.
    static constexpr qint64 kMaxFileSize = qint64{1} << 31;

private:
    bool offerFile(const QString& path, const Opponent& opponent);
    void sendOffer(const TTransfer& transfer, std::uint32_t to, const QByteArray& icon);
    // The outgoing line that waits for this participant's answer to its offer, or with
    // forVerdict to its end; -1.
    int waitingRow(const PeerSender& sender, std::uint8_t transferId, bool forVerdict) const;
    void settleCarried();
    // The next message of a running line's file: a block, the digest or the end.
    std::optional<QByteArray> nextMessage(int row);
    // After the prefix the receiver holds was read back: on from there, or from 0 when it is
    // not this file's.
    std::optional<QByteArray> prefixChecked(int row);
    bool sourceChanged(const TTransfer& transfer) const;
    // Stops the line whose file could not be read, or changed while it was sent.
    void stopUnreadable(int row);
    void stopChanged(int row);
    // Stops the line, tells the receiver (why, when it reads reasons) and says why.
    void stopLine(int row, std::uint8_t code, const QString& detail, const QString& why);
    // A random identifier that no line other than exceptRow holds; empty when all are taken.
    std::optional<std::uint8_t> drawId(int exceptRow) const;

    TransfersModel& m_model;
    const TransferClock& m_clock;
    TransferSettings& m_settings;
    TransferNotices& m_notices;
    PeerMessageSink m_send;
    RandomSource m_random;
    FileIconSource m_icons;
    // The file block the thread took last cycle, counted once it has left.
    struct InFlight {
        std::uint8_t id = 0;
        std::int32_t bytes = 0;
    };
    std::optional<InFlight> m_inFlight;
};

}  // namespace velmora
