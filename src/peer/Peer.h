#pragma once

#include "peer/ConnectMachine.h"
#include "peer/Connector.h"
#include "peer/Reconnector.h"
#include "protocol/PeerMessageHandlers.h"
#include "session/DXPlay.h"
#include "session/UiHandOver.h"
#include "transfer/SendThread.h"
#include "transfer/TransferClock.h"
#include "transfer/TransferEngine.h"
#include "transfer/TransferServices.h"

#include <QObject>
#include <QRandomGenerator>
#include <QString>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace velmora {

class IDirectPlaySystem;

// One side of a conversation, without any window: the session component, the transfers with
// their model and the file sender thread, the dispatch of what the other side sends, and the
// sending of chat lines and keystrokes. The window, velmora-cli and the benchmarks are faces over
// it: they call its operations and listen to its signals, and never wire the session's events.
//
// Everything runs on the thread that creates it (the UI thread); its signals are raised there.
class Peer : public QObject, private ConversationHandler, private TransferNotices {
    Q_OBJECT

public:
    // The identifier of the program's sessions: only sessions of Velmora are found and joined.
    static inline const QString ApplicationGuid =
        QStringLiteral("{A2196E45-287F-4F8F-987A-382C87886EED}");

    // The system and the settings must outlive the peer.
    Peer(IDirectPlaySystem& system, TransferSettings& settings, QObject* parent = nullptr);
    // Ends the sender thread first, then closes the session.
    ~Peer() override;

    Peer(const Peer&) = delete;
    Peer& operator=(const Peer&) = delete;

    // The session component itself, for tests that prepare or inspect it. The faces use the
    // peer's operations above and never call it.
    TCustomDXPlay& session() { return *m_play; }
    const TCustomDXPlay& session() const { return *m_play; }
    TransferEngine& transfers() { return *m_transfers; }
    const TransferEngine& transfers() const { return *m_transfers; }

    // Hosts a session or joins the other computer's, as the request says, and returns at once:
    // connectStep reports each step, connectFinished the outcome (and sessionOpened comes
    // first when a session opened). Any session still open is closed first. Nothing happens
    // while an attempt runs.
    void connectTo(const ConnectRequest& request);
    // Ends the attempt under way: connectFinished says Cancelled at once. A reconnect that
    // waits ends as close() ends it.
    void cancelConnect();
    bool connecting() const { return m_connector->running() && !m_reconnector->running(); }

    // Whether a lost line is tried again (on by default). It is, with another side whose hello
    // names its instance: once the same instance is back, the unfinished transfers of both
    // directions go on from where they stopped, offered again by their senders.
    void setReconnect(bool on) { m_reconnectEnabled = on; }
    // A lost line is being tried again: lineLost came, lineBack or the end did not yet.
    bool reconnecting() const { return m_reconnector->running(); }
    // Where the face learns the cable's device only when the provider asks for it: for a lost
    // line whose connect request names no device, the device to watch for.
    void setCableDevice(std::function<QString()> device) { m_cableDevice = std::move(device); }
    // The request of the attempt under way, or of the last one.
    const ConnectRequest& connectRequest() const { return m_connectRequest; }

    // The modems the modem provider knows; raises EDXPlayError when its list cannot be read.
    QStringList modemNames();
    // What the session component holds of the current or last connection, for saving it.
    struct Connection {
        bool cable = false;
        bool modem = false;
        bool network = false;  // none of them: there has been no connection to save
        QString sessionName;
        QString modemName;
        QString phoneNumber;
        QString hostName;  // network
        std::uint16_t port = 0;
        bool host = false;
    };
    Connection connection();

    bool isOpen() const { return m_play->Opened(); }
    QString sessionName() const { return m_play->SessionName(); }
    // Participants of the open session, the own one included.
    int playerCount() const { return m_play->Players().Count(); }
    // A closed line is still being let go (the goodbye, the port); lineReleased follows.
    bool releasing() const { return m_play->Releasing(); }
    // The other participant (see opponentOf); null when there is none.
    TDXPlayPlayer* opponent() const;

    // A chat line to every other participant, and its own copy through chatLineReceived: in
    // UTF-8 to a peer whose hello said it speaks it, else in Windows-1252, so that the own copy
    // shows what the other side got. False when no session is open: nothing is sent.
    bool sendChatLine(const QString& text);
    // A classic-mode keystroke to every other participant.
    void sendKeyStroke(const KeyStroke& keyStroke);
    // Classic mode: the characters one key typed, to every other participant, in UTF-8 or in
    // Windows-1252 as for chat lines. Returns the text as the other side gets it, for the own
    // view to show the same.
    QString sendTypedText(const QString& text, std::uint16_t caret);
    // Whether text goes to the other side in UTF-8: its hello said so, or there is nobody else.
    bool sendsUtf8Text() const;
    // Offers the files to the other participant; while no session is open the transfers say
    // so and offer nothing.
    void sendFiles(const QStringList& paths);
    // Offers the files of the ended outgoing lines among the rows again (see
    // TransferEngine::sendAgain).
    void sendAgain(const QList<int>& rows);

    // Cooperative pause of the file sender thread, for example around a modal dialog; a block
    // already prepared is still sent. Nothing happens while no thread runs.
    void suspendSender();
    void resumeSender();
    bool senderRunning() const { return m_sendThread != nullptr; }
    bool senderSuspended() const { return m_sendThread && m_sendThread->isSuspended(); }

    // Stops the sender thread, then closes the session (sessionClosed follows) at once; the
    // goodbye and the release of the line follow on the session's worker (lineReleased). A
    // reconnect that waits ends instead: its transfers are counted as failed.
    void close();

signals:
    // Raised after the peer's own work on the same event (the transfers stopped, the sender
    // thread started or ended), in the order of the session's events.
    void sessionOpened(bool host);
    // A participant was added: the own one right after opening, then each remote one.
    void playerAdded(const velmora::TDXPlayPlayer& player);
    void playerDeleted(const velmora::TDXPlayPlayer& player);
    // The line is gone for good: reconnecting is off, or was given up.
    void sessionLost();
    void sessionClosed();
    // The line was lost and is being tried again; the transfers wait (stopped, without an
    // outcome) and the conversation stays.
    void lineLost();
    // The same other side is back: the unfinished transfers go on, `outgoing` offered again from
    // here, `incoming` to be offered again by the other side.
    void lineBack(int outgoing, int incoming);
    void lineReleased();
    void connectStep(velmora::ConnectStep step);
    void connectFinished(const velmora::ConnectResult& result);

    // A chat line, the own copies included, decoded as it arrived.
    void chatLineReceived(const QString& senderName, const QString& text);
    void keyStrokeArrived(const velmora::KeyStroke& keyStroke);
    // Classic mode: whole characters one key typed on the other side.
    void typedTextArrived(const QString& text, quint16 caret);
    // Once per connection: a chat line or a typed key held characters that the other side (an
    // older Velmora) cannot show; they went, and show here, as '?'. Raised inside the send.
    void charactersReplaced();
    // The other participant has offered files (each offer, taken or refused).
    void fileOfferReceived();
    // A chat line came from the other participant (never the own copy); raised after
    // chatLineReceived.
    void otherSideSpoke(const QString& senderName, const QString& text);
    // A key or typed text of classic mode came from the other participant; raised after the
    // signal that shows it.
    void otherSideTyped(const QString& senderName);

    // Words from the transfers for the user: a line for the conversation, a short status, and a
    // message that needs the user's attention (a message box in the window).
    void conversationLine(const QString& line);
    void transferStatus(const QString& text);
    void userMessage(const QString& text);

private:
    // ConversationHandler
    void textReceived(const QString& senderName, const QString& text) override;
    void keyStrokeReceived(const KeyStroke& keyStroke) override;
    void typedTextReceived(const QString& text, std::uint16_t caret) override;
    void helloReceived(const PeerSender& sender, const PeerHello& hello) override;
    // TransferNotices
    void showTransferStatus(const QString& text) override;
    void appendConversationLine(const QString& line) override;
    void showMessage(const QString& text) override;

    void connectSessionEvents();
    void messageArrived(const TDXPlayPlayer& from, const void* data, std::int32_t size);
    // Sends the hello to the other participant once both players exist.
    void greetOpponent();
    void sendHello(std::uint32_t to, bool answer);
    // Once per connection: some characters reached the other side as '?'.
    void noteReplacedText(const QString& text, const QString& sent);
    void startSender();
    // Asks the sender thread to stop and lets it end on its own; the UI thread does not wait.
    void stopSender();
    void reapEndedSenders();
    // The participant files go to, while a session is open.
    std::optional<Opponent> fileOpponent() const;
    // The connection ended (words: how, for the lines): every line stops and the sender thread
    // ends; held: the lines wait for the line to come back.
    void endConnection(const QString& words, bool held = false);
    void sessionLostHere();
    // The same side is back: the held lines go on (see TransferEngine::continueHeld).
    TransferEngine::Continued continueTransfers();
    void reconnectFinished(ReconnectEnd how);

    UiHandOver m_handOver;
    SystemTransferClock m_clock;
    QRandomGenerator m_random;
    std::unique_ptr<TDXPlay> m_play;
    std::unique_ptr<Connector> m_connector;
    std::unique_ptr<Reconnector> m_reconnector;
    bool m_reconnectEnabled = true;
    std::function<QString()> m_cableDevice;
    // This run's instance, sent in the hello; who the other side is by its hello (empty
    // instance: it sent none), and the side a lost line waits for.
    QByteArray m_instance;
    struct Identity {
        QByteArray name;
        QByteArray instance;
        bool operator==(const Identity&) const = default;
    };
    Identity m_otherSide;
    Identity m_lostSide;
    ConnectRequest m_connectRequest;
    std::unique_ptr<TransferEngine> m_transfers;
    std::unique_ptr<TSendThread> m_sendThread;
    // Sender threads asked to stop that have not ended yet.
    std::vector<std::unique_ptr<TSendThread>> m_endingSenders;
    // The text negotiation of the current connection: the remote player greeted (0: none yet),
    // whether its hello said it speaks UTF-8, whether the user has been told of lost characters.
    std::uint32_t m_greeted = 0;
    bool m_otherSpeaksUtf8 = false;
    bool m_replacedTextNoted = false;
    // The name of the other participant whose message is being dispatched; none while the
    // message being dispatched is the own participant's, or no message is.
    std::optional<QString> m_dispatchingFromOther;
};

}  // namespace velmora
