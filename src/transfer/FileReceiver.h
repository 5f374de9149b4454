#pragma once

#include "protocol/PeerMessageHandlers.h"
#include "transfer/TransferServices.h"

#include <QLocale>

namespace velmora {

class TransferClock;
class TransfersModel;

// The receiving half of file transfer: answers offers, writes blocks into the incoming folder
// and ends the line at the end-of-file block. A received name must be a plain file name; no file
// is ever written outside the incoming folder. UI thread only.
class FileReceiver {
public:
    FileReceiver(TransfersModel& model, const TransferClock& clock, TransferSettings& settings,
                 TransferNotices& notices, PeerMessageSink send, QLocale locale);

    void offerReceived(const PeerSender& sender, const FileOffer& offer);
    void blockReceived(const PeerSender& sender, const FileBlock& block);

    // Whether a received name may be used as a file name in the incoming folder: not empty, not
    // "." or "..", and without '/', '\' or a zero byte.
    static bool isPlainFileName(const QByteArray& name);

private:
    void reply(const PeerSender& sender, const FileOffer& offer, FileReplyResult result,
               std::int32_t offset);
    QString usableIncomingFolder();
    void stopAfterWriteError(int row);

    TransfersModel& m_model;
    const TransferClock& m_clock;
    TransferSettings& m_settings;
    TransferNotices& m_notices;
    PeerMessageSink m_send;
    QLocale m_locale;
};

}  // namespace velmora
