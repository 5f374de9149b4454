#pragma once

#include "apps/velmora-cli/CliOptions.h"
#include "apps/velmora-cli/CliPrompts.h"
#include "peer/Peer.h"
#include "session/service/SessionService.h"
#include "transfer/TransferServices.h"

#include <QObject>
#include <QSocketNotifier>
#include <QTextStream>

#include <memory>

namespace velmora {

// One side of a conversation without a window: the core peer over the serial or the modem
// provider, chat lines from standard input and everything that happens printed as lines.
class HeadlessPeer : public QObject, public TransferSettings {
public:
    HeadlessPeer(CliOptions options, QString dataFolder, QTextStream& out, QTextStream& err);
    ~HeadlessPeer() override;

    // Checks the line, then starts hosting or joining and returns at once. The exit code when
    // the line cannot be used, or nothing when the peer runs: it then ends the event loop with
    // its exit code.
    std::optional<int> start();
    // Ends at the user's request: an attempt under way is cancelled (a modem hangs up); a
    // conversation ends with a goodbye, done when nothing was listed and nothing failed.
    void end();

    // TransferSettings
    QString incomingFolder() const override { return m_options.incomingFolder; }
    void setIncomingFolder(const QString& folder) override { m_options.incomingFolder = folder; }
    QString defaultIncomingFolder() const override { return m_options.incomingFolder; }
    bool blockIncoming() const override { return m_options.blockIncoming; }
    bool internalLoop() const override { return false; }
    int blockSizeCode() const override { return m_options.blockCode; }

private:
    // Whether the cable's port or the modem can be used: the exit code when not.
    std::optional<int> checkLine() const;
    std::optional<int> checkModem() const;
    std::optional<int> checkDevice(const QString& portName) const;
    ConnectRequest connectRequest() const;
    void connectFinished(const ConnectResult& result);
    // The exit code for a failed search for the host's session, with why on the error stream.
    int joinFailure(HRESULT result) const;
    void connectPeer();
    void showMessage(const QString& text);
    void otherSideArrived(const TDXPlayPlayer& player);
    void readStandardInput();
    void sendChatLine(const QString& line);
    void transferStateChanged(int row);
    void showProgress(int row);
    QString progressLine(int row) const;
    void printLine(const QString& line);
    // Listed transfers that have not ended (a confirmed sent file has).
    int unfinishedTransfers() const;
    // The exit code the transfers' outcomes give.
    int outcomeExitCode() const;
    void checkDone();
    void finish(int code);

    CliOptions m_options;
    const QString m_dataFolder;
    QTextStream& m_out;
    QTextStream& m_err;
    const bool m_terminal;
    CliPrompts m_prompts;
    SessionService m_service;
    Peer m_peer;
    // Standard input is read while the other side is there; lines typed before wait for it.
    std::unique_ptr<QSocketNotifier> m_input;
    bool m_inputEnded = false;
    QByteArray m_inputBuffer;
    bool m_offered = false;
    bool m_offersArrived = false;  // the other side has offered its files
    bool m_peerLeft = false;
    int m_failures = 0;
    bool m_finished = false;
    int m_progressLinesDrawn = 0;
};

}  // namespace velmora
