#pragma once

#include "base/ProgramTexts.h"
#include "protocol/PeerMessageHandlers.h"
#include "transfer/TransferServices.h"

#include <QLocale>
#include <QStringList>

#include <cstdint>
#include <optional>

namespace velmora {

class TransferClock;
class TransfersModel;

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
               FileIconSource icons, QLocale locale);

    // Offers the files in the order given, one line each. opponent is empty while no session is
    // open. Files that cannot be sent are reported and get no line.
    void sendFiles(const QStringList& paths, const std::optional<Opponent>& opponent);

    void replyReceived(const PeerSender& sender, const FileReply& reply);

    // One cycle of the sender thread: at most one block of one transfer.
    std::optional<PreparedBlock> prepareBlock(BlockCursor& cursor);

    // Files of this size or more cannot be described in an offer.
    static constexpr qint64 kMaxFileSize = qint64{1} << 31;

private:
    bool offerFile(const QString& path, const Opponent& opponent);
    // A random identifier that no line other than exceptRow holds; empty when all are taken.
    std::optional<std::uint8_t> drawId(int exceptRow) const;
    void stopAfterReadError(int row);

    TransfersModel& m_model;
    const TransferClock& m_clock;
    TransferSettings& m_settings;
    TransferNotices& m_notices;
    PeerMessageSink m_send;
    RandomSource m_random;
    FileIconSource m_icons;
    QLocale m_locale;
};

}  // namespace velmora
