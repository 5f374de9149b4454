#pragma once

#include "protocol/PeerMessageHandlers.h"
#include "transfer/FileReceiver.h"
#include "transfer/FileSender.h"
#include "transfer/TransferClock.h"
#include "transfer/TransfersModel.h"

#include <QList>
#include <QObject>
#include <QTimer>

namespace velmora {

// The transfers of one side: the list, the sending and receiving halves, and the commands on
// the list's lines. It handles the transfer messages the dispatcher hands over; everything runs
// on the UI thread except the sending of prepared blocks, which the sender thread does.
class TransferEngine : public QObject, public TransferHandler {
    Q_OBJECT

public:
    // How often aborted lines are taken away, one per tick.
    static constexpr int kRemovalIntervalMs = 500;
    // How long a finished line shows that its file arrived whole before it goes.
    static constexpr std::uint32_t kFinishedShownMs = 1000;
    // How often the running lines' figures are drawn again from their records, while any runs.
    static constexpr int kRefreshIntervalMs = 250;

    // The settings, notices and clock must outlive the engine.
    TransferEngine(TransferSettings& settings, TransferNotices& notices, const TransferClock& clock,
                   PeerMessageSink send, RandomSource random, FileIconSource icons,
                   QLocale locale = QLocale(), QObject* parent = nullptr);
    ~TransferEngine() override;

    TransfersModel& model() { return m_model; }
    const TransfersModel& model() const { return m_model; }

    void offerReceived(const PeerSender& sender, const FileOffer& offer) override;
    void replyReceived(const PeerSender& sender, const FileReply& reply) override;
    void blockReceived(const PeerSender& sender, const FileBlock& block) override;
    void controlReceived(const PeerSender& sender, const TransferControl& control) override;
    void damagedBlockReceived(const PeerSender& sender, std::uint8_t transferId) override;
    void offerDetailsReceived(const PeerSender& sender, const FileOfferDetails& details) override;
    void replyDetailsReceived(const PeerSender& sender, const FileReplyDetails& details) override;
    void digestReceived(const PeerSender& sender, const FileDigest& digest) override;
    void restartReceived(const PeerSender& sender, const FileRestart& restart) override;
    void verdictReceived(const PeerSender& sender, const FileVerdict& verdict) override;
    void reasonReceived(const PeerSender& sender, const TransferReason& reason) override;
    void progressReceived(const PeerSender& sender, const FileProgress& progress) override;

    // Send file, with the files the user chose; opponent empty while no session is open.
    void sendFiles(const QStringList& paths, const std::optional<Opponent>& opponent);
    // One cycle of the sender thread; run on the UI thread. It also reads back a slice of a
    // resumed prefix that is being checked, on either side; while such work is left,
    // blocksReady keeps the thread from idling.
    std::optional<PreparedBlock> prepareBlock(BlockCursor& cursor);

    // The commands on the selected rows. Abort removes ended lines at once and marks the others
    // aborted for the removal timer; Pause acts on running lines, Resume on paused ones. Each
    // tells the other side. Remove takes away the ended lines only; Clear ended every ended
    // line. Send again offers the files of ended outgoing lines that did not arrive verified
    // once more, their old lines removed (nothing is removed while no session is open).
    void abort(const QList<int>& rows);
    void pause(const QList<int>& rows);
    void resume(const QList<int>& rows);
    void remove(const QList<int>& rows);
    void clearEnded();
    void sendAgain(const QList<int>& rows, const std::optional<Opponent>& opponent);
    // Whether Send again can take the row: an ended outgoing line whose file did not arrive
    // verified.
    bool canSendAgain(int row) const;

    // Draws the figures of every running line again from its record; the refresh timer stops
    // once none runs.
    void refresh();

    // The removal timer's tick: the first aborted line goes, and the finished lines that have
    // shown their end long enough. The timer runs only while there are such lines.
    void removeFirstAborted();
    // The connection ended (words: how, for the lines): every line that had not ended stops,
    // closes its file and waits for the user to remove it. A ".part" stays for a later resume.
    // The conversation is told which files were cut off.
    // held: the line was lost and may come back; the lines get no outcome yet, so that they can
    // go on once it is back (or be counted as failed when it is not), and are not told as cut off.
    void stopAll(const QString& words, bool held = false);
    // The files of the lines that have not ended (offered, moving or paused), in list order.
    QStringList unfinishedFiles() const;
    // Whether a line is held: stopped by a lost line, waiting for it to come back.
    bool isHeld(int row) const;
    // The lost line is back to the same other side: the held lines go on. The incoming ones
    // make way for the sender's new offers, which resume from their ".part" files; the outgoing
    // ones are offered again. Neither counts as failed.
    struct Continued {
        int outgoing = 0;
        int incoming = 0;  // the other side offers these again
    };
    Continued continueHeld(const Opponent& opponent);
    // The held lines will not go on (words: why): they stop again, counted as failed.
    void failHeld(const QString& words);

signals:
    // An outgoing line may have blocks to send again (an offer was accepted, a line resumed).
    void blocksReady();

private:
    void sendControl(const TTransfer& transfer, TransferAction action);
    void changeSelected(const QList<int>& rows, TransferState from, TransferState to,
                        TransferAction action);
    // Pause and resume: a paused line shows no speed and its Elapsed stands still.
    void setPauseState(int row, TransferState state);
    // The status panel's notice about a line; it goes when that line's state changes again or
    // the line goes.
    void showNotice(int row, const QString& text);
    void dropNoticeOf(int row);

    TransferNotices& m_notices;
    const TransferClock& m_clock;
    PeerMessageSink m_send;
    TransfersModel m_model;
    FileReceiver m_receiver;
    FileSender m_sender;
    QTimer m_removalTimer;
    QTimer m_refreshTimer;
    // The record the status panel's notice is about, and the state the notice told of.
    const TTransfer* m_noticeAbout = nullptr;
    TransferState m_noticeState = tsRunning;
    bool m_stoppingAll = false;
};

}  // namespace velmora
