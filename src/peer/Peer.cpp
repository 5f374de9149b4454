#include "peer/Peer.h"

#include "peer/Opponent.h"
#include "protocol/ChatLine.h"
#include "protocol/PeerMessageDispatcher.h"
#include "protocol/PeerMessages.h"
#include "transfer/FileIcon.h"
#include "transfer/SendThreadLifetime.h"

#include <QScopeGuard>
#include <QStringDecoder>

#include <algorithm>

namespace velmora {

Peer::Peer(IDirectPlaySystem& system, TransferSettings& settings, QObject* parent)
    : QObject(parent),
      m_random(QRandomGenerator::securelySeeded()),
      m_play(std::make_unique<TDXPlay>(system)) {
    m_play->setGUID(ApplicationGuid);
    m_play->setAsync(false);
    m_play->setMaxPlayers(0);
    m_play->setExceptionDisplay([this](const QString& text) { emit userMessage(text); });
    TransferNotices& notices = *this;
    m_transfers = std::make_unique<TransferEngine>(
        settings, notices, m_clock,
        [this](std::uint32_t destination, const QByteArray& message) {
            m_play->TrySendMessage(destination, message);  // a lost line is reported by the session
        },
        [this] { return m_random.generate(); }, fileIconField);
    connectSessionEvents();
    // Made after the peer's own handlers, so that sessionOpened comes before connectFinished.
    m_connector = std::make_unique<Connector>(*m_play);
    m_reconnector = std::make_unique<Reconnector>(*m_connector, *m_play, ReconnectPolicy{});
    // The attempts of a reconnect are quiet: their outcomes go to the reconnect alone.
    connect(m_connector.get(), &Connector::progress, this, [this](ConnectStep step) {
        if (!m_reconnector->running()) {
            emit connectStep(step);
        }
    });
    connect(m_connector.get(), &Connector::ended, this, [this](const ConnectResult& result) {
        if (m_reconnector->running()) {
            m_reconnector->attemptEnded(result);
        } else {
            emit connectFinished(result);
        }
    });
    connect(m_reconnector.get(), &Reconnector::finished, this, &Peer::reconnectFinished);
    m_instance.resize(kHelloInstanceSize);
    for (char& byte : m_instance) {
        byte = static_cast<char>(m_random.generate());
    }
}

Peer::~Peer() {
    stopSender();
    // No listener may hear of the close while the peer is half gone.
    m_reconnector.reset();
    m_connector.reset();
    m_play->disconnect(this);
    // The close lets the line go, which ends a send that waits for room on it; only then are
    // the sender threads waited for (running the hand-overs they wait on meanwhile).
    m_play->Close();
    for (std::unique_ptr<TSendThread>& thread : m_endingSenders) {
        stopSendThread(thread, m_handOver);
    }
}

void Peer::connectTo(const ConnectRequest& request) {
    if (m_reconnector->running()) {
        m_reconnector->stop();  // the user connects anew
    }
    if (m_connector->running()) {
        return;
    }
    stopSender();
    m_connectRequest = request;
    m_connector->start(request);
}

void Peer::cancelConnect() {
    if (m_reconnector->running()) {
        m_reconnector->stop();
        return;
    }
    m_connector->cancel();
}

QStringList Peer::modemNames() {
    return m_play->ModemSetting().ModemNames();
}

Peer::Connection Peer::connection() {
    Connection connection;
    const QString provider = m_play->ProviderName();
    if (provider.isEmpty()) {
        return connection;
    }
    // A kind of provider that is not installed is simply not the one in use.
    const auto inUse = [this, &provider](const Guid& kind) {
        const auto& providers = m_play->Providers();
        return std::any_of(providers.begin(), providers.end(), [&](const auto& entry) {
            return entry.Id == kind && entry.Name == provider;
        });
    };
    connection.cable = inUse(guids::ServiceProviderSerial);
    connection.modem = inUse(guids::ServiceProviderModem);
    connection.network = inUse(guids::ServiceProviderTcpIp);
    connection.hostName = m_play->TCPIPSetting().HostName;
    connection.port = m_play->TCPIPSetting().Port;
    connection.sessionName = m_play->SessionName();
    connection.modemName = m_play->ModemSetting().ModemName;
    connection.phoneNumber = m_play->ModemSetting().PhoneNumber;
    connection.host = m_play->IsHost();
    return connection;
}

void Peer::connectSessionEvents() {
    TCustomDXPlay* play = m_play.get();
    connect(play, &TCustomDXPlay::OnOpen, this, [this](TCustomDXPlay& sender) {
        // A sender of an earlier session that was never stopped must not run beside the new one.
        stopSender();
        startSender();
        // A caller finds the host's player there already.
        greetOpponent();
        emit sessionOpened(sender.IsHost());
    });
    connect(play, &TCustomDXPlay::OnAddPlayer, this,
            [this](TCustomDXPlay& sender, TDXPlayPlayer& player) {
                // A new caller after the previous one left: files can be sent to it again.
                if (sender.Players().Count() >= 2 && sender.Opened() && !m_sendThread) {
                    startSender();
                }
                greetOpponent();
                emit playerAdded(player);
            });
    connect(play, &TCustomDXPlay::OnDeletePlayer, this,
            [this](TCustomDXPlay&, TDXPlayPlayer& player) {
                endConnection(QStringLiteral("%1 left").arg(player.Name));
                emit playerDeleted(player);
            });
    connect(play, &TCustomDXPlay::OnSessionLost, this,
            [this](TCustomDXPlay&) { sessionLostHere(); });
    connect(play, &TCustomDXPlay::OnClose, this, [this](TCustomDXPlay&) {
        // A session closed on the way back is no news to the faces, and its lines stay held.
        const bool reconnecting = m_reconnector->running();
        endConnection(QStringLiteral("the connection was closed"), reconnecting);
        if (!reconnecting) {
            emit sessionClosed();
        }
    });
    connect(play, &TCustomDXPlay::OnReleased, this,
            [this](TCustomDXPlay&) { emit lineReleased(); });
    connect(play, &TCustomDXPlay::OnMessage, this,
            [this](TCustomDXPlay&, TDXPlayPlayer& from, const void* data, std::int32_t size) {
                messageArrived(from, data, size);
            });
}

void Peer::messageArrived(const TDXPlayPlayer& from, const void* data, std::int32_t size) {
    const char* bytes = static_cast<const char*>(data);
    if (from.RemotePlayer && messageKindOf({bytes, static_cast<std::size_t>(size)}) ==
                                 static_cast<std::uint32_t>(MessageKind::FileOffer)) {
        emit fileOfferReceived();
    }
    ConversationHandler& conversation = *this;
    m_dispatchingFromOther =
        from.RemotePlayer ? std::optional<QString>(from.Name) : std::optional<QString>();
    const auto dispatched = qScopeGuard([this] { m_dispatchingFromOther.reset(); });
    dispatchPeerMessage({from.ID, from.Name}, bytes, size, conversation, *m_transfers);
}

TDXPlayPlayer* Peer::opponent() const {
    return opponentOf(m_play->Opened(), m_play->Players(), m_play->LocalPlayer());
}

bool Peer::sendChatLine(const QString& text) {
    if (!m_play->Opened()) {
        return false;
    }
    const bool utf8 = sendsUtf8Text();
    const QByteArray message = buildChatMessage(text, utf8);
    m_play->SendMessage(DPID_ALLPLAYERS, message.constData(),
                        static_cast<std::int32_t>(message.size()));
    if (const TDXPlayPlayer* local = m_play->LocalPlayer()) {
        // Delivered to the own participant inside the call: the own line is shown from it.
        m_play->SendMessage(local->ID, message.constData(),
                            static_cast<std::int32_t>(message.size()));
    }
    noteReplacedText(text, textAsSent(text, utf8));
    return true;
}

void Peer::sendKeyStroke(const KeyStroke& keyStroke) {
    const QByteArray message = buildKeyStroke(keyStroke);
    m_play->SendMessage(DPID_ALLPLAYERS, message.constData(),
                        static_cast<std::int32_t>(message.size()));
}

QString Peer::sendTypedText(const QString& text, std::uint16_t caret) {
    const bool utf8 = sendsUtf8Text();
    for (const QByteArray& message : buildTypedMessages(text, caret, utf8)) {
        m_play->SendMessage(DPID_ALLPLAYERS, message.constData(),
                            static_cast<std::int32_t>(message.size()));
    }
    const QString sent = textAsSent(text, utf8);
    noteReplacedText(text, sent);
    return sent;
}

bool Peer::sendsUtf8Text() const {
    const TDXPlayPlayer* other = opponent();
    return m_otherSpeaksUtf8 || other == nullptr || !other->RemotePlayer;
}

void Peer::noteReplacedText(const QString& text, const QString& sent) {
    if (sent != text && !m_replacedTextNoted) {
        m_replacedTextNoted = true;
        emit charactersReplaced();
    }
}

void Peer::greetOpponent() {
    const TDXPlayPlayer* other = opponent();
    if (!m_play->Opened() || m_play->LocalPlayer() == nullptr || other == nullptr ||
        !other->RemotePlayer || other->ID == m_greeted) {
        return;
    }
    m_greeted = other->ID;
    sendHello(other->ID, false);
}

void Peer::sendHello(std::uint32_t to, bool answer) {
    const TDXPlayPlayer* local = m_play->LocalPlayer();
    const QByteArray message =
        buildPeerHello({static_cast<std::uint8_t>(kHelloUtf8Text | kHelloInstance), answer,
                        local != nullptr ? local->Name.toUtf8() : "", m_instance});
    m_play->SendMessage(to, message.constData(), static_cast<std::int32_t>(message.size()));
}

void Peer::helloReceived(const PeerSender& sender, const PeerHello& hello) {
    const TDXPlayPlayers& players = m_play->Players();
    const int index = players.IndexOf(sender.id);
    if (index < 0 || !players.Items(index).RemotePlayer) {
        return;
    }
    m_otherSpeaksUtf8 = (hello.flags & kHelloUtf8Text) != 0;
    if (m_otherSpeaksUtf8) {
        // The session carries names in Windows-1252; the hello's UTF-8 name is the whole one.
        QStringDecoder decoder(QStringDecoder::Utf8);
        const QString name = decoder.decode(hello.utf8Name);
        if (!name.isEmpty() && !decoder.hasError()) {
            players.Items(index).Name = name;
        }
    }
    if (!hello.answer) {
        m_greeted = sender.id;
        sendHello(sender.id, true);
    }
    // Who the other side is, for a line that is lost and comes back. The own hello has gone
    // before anything a continuation sends.
    m_otherSide = {hello.utf8Name, hello.instance};
    if (m_reconnector->running()) {
        if (m_otherSide == m_lostSide) {
            const TransferEngine::Continued continued = continueTransfers();
            m_reconnector->otherSideBack();
            emit lineBack(continued.outgoing, continued.incoming);
        } else {
            // Another side: a new conversation, to which nothing of the old one goes.
            m_reconnector->otherSideChanged();
        }
    }
}

void Peer::sessionLostHere() {
    const bool reconnect =
        m_reconnector->running() ||
        (m_reconnectEnabled && !m_otherSide.instance.isEmpty() && m_play->Players().Count() >= 2);
    if (!reconnect) {
        endConnection(QStringLiteral("the connection was lost"));
        emit sessionLost();
        return;
    }
    const bool first = !m_reconnector->running();
    if (first) {
        m_lostSide = m_otherSide;
    }
    ConnectRequest again = m_connectRequest;
    if (again.method == ConnectRequest::Method::Cable && again.device.isEmpty() && m_cableDevice) {
        again.device = m_cableDevice();
    }
    // Running from here on, so that the lines that stop are seen as held.
    m_reconnector->lineLost(again);
    endConnection(QStringLiteral("waiting for the line to come back"), true);
    if (first) {
        emit lineLost();
    }
}

TransferEngine::Continued Peer::continueTransfers() {
    const std::optional<Opponent> opponent = fileOpponent();
    return opponent ? m_transfers->continueHeld(*opponent) : TransferEngine::Continued{};
}

void Peer::reconnectFinished(ReconnectEnd how) {
    m_lostSide = {};
    switch (how) {
        case ReconnectEnd::Back:
            return;
        case ReconnectEnd::Other:
            m_transfers->failHeld(QStringLiteral("another computer came back on the line"));
            return;
        case ReconnectEnd::GaveUp:
            m_transfers->failHeld(QStringLiteral("the line did not come back"));
            emit sessionLost();
            return;
        case ReconnectEnd::Stopped:
            m_transfers->failHeld(QStringLiteral("the connection was closed"));
            emit sessionClosed();
            return;
    }
}

std::optional<Opponent> Peer::fileOpponent() const {
    const TDXPlayPlayer* other = m_play->Opened() ? opponent() : nullptr;
    if (other == nullptr) {
        return std::nullopt;
    }
    const TDXPlayPlayer* local = m_play->LocalPlayer();
    return Opponent{other->ID, local != nullptr && other->ID == local->ID};
}

void Peer::sendFiles(const QStringList& paths) {
    m_transfers->sendFiles(paths, fileOpponent());
}

void Peer::sendAgain(const QList<int>& rows) {
    m_transfers->sendAgain(rows, fileOpponent());
}

void Peer::suspendSender() {
    if (m_sendThread) {
        m_sendThread->suspend();
    }
}

void Peer::resumeSender() {
    if (m_sendThread) {
        m_sendThread->resume();
    }
}

void Peer::close() {
    if (m_reconnector->running()) {
        m_reconnector->stop();
        return;
    }
    // The sender thread is asked to stop first, so that it prepares no more blocks; the session
    // closes at once, without waiting for a block still going out.
    stopSender();
    m_play->Close();
}

void Peer::startSender() {
    m_sendThread = startSendThread(*m_transfers, m_handOver,
                                   [this](std::uint32_t destination, const QByteArray& message) {
                                       return m_play->TrySendMessage(destination, message);
                                   });
}

void Peer::stopSender() {
    if (!m_sendThread) {
        return;
    }
    // Not waited for here: a send that waits for room on the line ends when the session's worker
    // closes the line. The thread is let go once it has ended.
    m_sendThread->requestStop();
    connect(
        m_sendThread.get(), &QThread::finished, this, [this] { reapEndedSenders(); },
        Qt::QueuedConnection);
    m_endingSenders.push_back(std::move(m_sendThread));
    reapEndedSenders();
}

void Peer::reapEndedSenders() {
    std::erase_if(m_endingSenders,
                  [](const std::unique_ptr<TSendThread>& thread) { return thread->hasEnded(); });
}

void Peer::endConnection(const QString& words, bool held) {
    m_transfers->stopAll(words, held);
    stopSender();
    m_otherSide = {};
    m_greeted = 0;
    m_otherSpeaksUtf8 = false;
    m_replacedTextNoted = false;
}

void Peer::textReceived(const QString& senderName, const QString& text) {
    emit chatLineReceived(senderName, text);
    if (m_dispatchingFromOther) {
        emit otherSideSpoke(senderName, text);
    }
}

void Peer::typedTextReceived(const QString& text, std::uint16_t caret) {
    emit typedTextArrived(text, caret);
    if (m_dispatchingFromOther) {
        emit otherSideTyped(*m_dispatchingFromOther);
    }
}

void Peer::keyStrokeReceived(const KeyStroke& keyStroke) {
    emit keyStrokeArrived(keyStroke);
    if (m_dispatchingFromOther) {
        emit otherSideTyped(*m_dispatchingFromOther);
    }
}

void Peer::showTransferStatus(const QString& text) {
    emit transferStatus(text);
}

void Peer::appendConversationLine(const QString& line) {
    emit conversationLine(line);
}

void Peer::showMessage(const QString& text) {
    emit userMessage(text);
}

}  // namespace velmora
