#pragma once

#include "protocol/PeerMessageHandlers.h"
#include "transfer/TransferServices.h"

#include <map>
#include <optional>
#include <utility>

namespace velmora {

class TransferClock;
class TransfersModel;
struct TTransfer;

// The receiving half of file transfer: answers offers, writes blocks into the incoming folder
// and ends the line at the end-of-file block. A received name must be a plain file name; no file
// is ever written outside the incoming folder.
//
// An incoming file is written as "NAME.part" and renamed to NAME (or "NAME (2).ext", ...) only
// once it is whole, so a file the user already had is never opened for writing. A resume
// continues only a ".part" file that this program made: one that carries its mark (an extended
// attribute with the offered size), or, when the sender checks files, an unmarked one of an
// earlier version, read only until the sender has found its prefix to be the file's. The count
// must hold: bytes past the offered size, a damaged block or an end with fewer bytes stop the
// line, and the ".part" stays for a later resume; one that never got a byte goes. When the
// sender checks files (FileOfferDetails), the ".part" prefix is hashed before the reply and the
// whole file is compared with the sender's digest at the end. A participant may have at most
// kMaxOpenTransfersPerPeer files coming at once; further offers are refused. UI thread only.
class FileReceiver {
public:
    // A sender that reads FileProgress hears how much was written at most this often.
    static constexpr std::uint32_t kConfirmIntervalMs = 250;

    FileReceiver(TransfersModel& model, const TransferClock& clock, TransferSettings& settings,
                 TransferNotices& notices, PeerMessageSink send);

    void offerDetailsReceived(const PeerSender& sender, const FileOfferDetails& details);
    void offerReceived(const PeerSender& sender, const FileOffer& offer);
    void blockReceived(const PeerSender& sender, const FileBlock& block);
    void damagedBlockReceived(const PeerSender& sender, std::uint8_t transferId);
    void digestReceived(const PeerSender& sender, const FileDigest& digest);
    void restartReceived(const PeerSender& sender, const FileRestart& restart);

    // Reads a slice of one resumed prefix that is still being hashed, and answers its offer
    // once the prefix is done. Returns whether more prefixes are left to hash.
    bool hashPrefixes();

    // Whether a received name may be used as a file name in the incoming folder: not empty, not
    // "." or "..", and without '/', '\' or a zero byte.
    static bool isPlainFileName(const QByteArray& name);

    // The name with " (n)" before its extension ("a.txt", 2: "a (2).txt"; n 1 gives the name),
    // followed by suffix, within the system's 255 bytes of a name: the part before the extension
    // is cut first, then the extension, so that every number gives a name of its own.
    static QString fittedName(const QString& name, int number, const QString& suffix = {});
    // Marks a ".part" as made by this program for a file of offeredSize bytes; false when the
    // file system keeps no such mark.
    static bool markPartial(const QString& path, std::int32_t offeredSize);

    // A line's state changed: a line that ended before its new ".part" got a byte removes it.
    void lineStateChanged(int row);

private:
    void reply(const PeerSender& sender, const FileOffer& offer, FileReplyResult result,
               std::int32_t offset);
    // Refuses the offer, telling why first to a sender that reads reasons, says so in the
    // conversation (line, unless empty) and, unless files are blocked here, counts it as a
    // failed transfer.
    void refuse(const PeerSender& sender, const FileOffer& offer, bool theyHearNews,
                std::uint8_t code, const QString& detail, const QString& line);
    // The ".part" of this name that an offer of this size continues: one made for a file of the
    // size (marked), or with checked an unmarked one; the newest of them. None when there is
    // none.
    struct ResumablePart {
        QString path;
        bool marked = false;
    };
    std::optional<ResumablePart> resumablePart(const QString& folder, const QString& fileName,
                                               std::int32_t size, bool checked) const;
    // Opens a resumed ".part" that was read only for writing, and marks it; false when it cannot.
    static bool adoptPart(TTransfer& transfer);
    void replyAccepted(int row);
    QString usableIncomingFolder();
    // The incoming line of this participant and identifier; -1.
    int incomingRow(const PeerSender& sender, std::uint8_t transferId) const;
    // Opens a new ".part" for the row's name under a name nothing has yet; when none can be
    // made, why, also said in the conversation.
    std::optional<QString> openNewPart(int row);
    bool heldByAnotherLine(const QString& path) const;
    void finish(int row);
    int firstHashingRow() const;
    // Stops the line whose ".part" could not be written.
    void stopUnwritable(int row);
    // Stops the line, tells the sender (why, when it reads reasons) and says why.
    void stopLine(int row, std::uint8_t code, const QString& detail, const QString& why);
    // Stops the line, its words on it, and says why, without a word to the sender.
    void reportStop(int row, const QString& words, const QString& why);
    void sendVerdict(const TTransfer& transfer, FileVerdictResult result);

    TransfersModel& m_model;
    const TransferClock& m_clock;
    TransferSettings& m_settings;
    TransferNotices& m_notices;
    PeerMessageSink m_send;
    // Details that came before their offer, by participant and identifier.
    std::map<std::pair<std::uint32_t, std::uint8_t>, FileOfferDetails> m_details;
};

}  // namespace velmora
