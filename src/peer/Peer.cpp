#include "peer/Peer.h"

#include "peer/Opponent.h"
#include "protocol/ChatLine.h"
#include "protocol/PeerMessageDispatcher.h"
#include "protocol/PeerMessages.h"
#include "transfer/FileIcon.h"
#include "transfer/SendThreadLifetime.h"

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
    connect(m_connector.get(), &Connector::progress, this, &Peer::connectStep);
    connect(m_connector.get(), &Connector::ended, this, &Peer::connectFinished);
}

Peer::~Peer() {
    stopSender();
    // No listener may hear of the close while the peer is half gone.
    m_connector.reset();
    m_play->disconnect(this);
    m_play->Close();
}

void Peer::connectTo(const ConnectRequest& request) {
    if (m_connector->running()) {
        return;
    }
    stopSender();
    m_connectRequest = request;
    m_connector->start(request);
}

void Peer::cancelConnect() {
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
    connection.cable = provider == m_play->ProviderNameFromGUID(guids::ServiceProviderSerial);
    connection.modem = provider == m_play->ProviderNameFromGUID(guids::ServiceProviderModem);
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
        emit sessionOpened(sender.IsHost());
    });
    connect(play, &TCustomDXPlay::OnAddPlayer, this,
            [this](TCustomDXPlay& sender, TDXPlayPlayer& player) {
                // A new caller after the previous one left: files can be sent to it again.
                if (sender.Players().Count() >= 2 && sender.Opened() && !m_sendThread) {
                    startSender();
                }
                emit playerAdded(player);
            });
    connect(play, &TCustomDXPlay::OnDeletePlayer, this,
            [this](TCustomDXPlay&, TDXPlayPlayer& player) {
                endConnection();
                emit playerDeleted(player);
            });
    connect(play, &TCustomDXPlay::OnSessionLost, this, [this](TCustomDXPlay&) {
        endConnection();
        emit sessionLost();
    });
    connect(play, &TCustomDXPlay::OnClose, this, [this](TCustomDXPlay&) {
        endConnection();
        emit sessionClosed();
    });
    connect(play, &TCustomDXPlay::OnReleased, this, [this](TCustomDXPlay&) { emit lineReleased(); });
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
    dispatchPeerMessage({from.ID, from.Name}, bytes, size, conversation, *m_transfers);
}

TDXPlayPlayer* Peer::opponent() const {
    return opponentOf(m_play->Opened(), m_play->Players(), m_play->LocalPlayer());
}

bool Peer::sendChatLine(const QString& text) {
    if (!m_play->Opened()) {
        return false;
    }
    const QByteArray message = buildChatMessage(text);
    m_play->SendMessage(DPID_ALLPLAYERS, message.constData(),
                        static_cast<std::int32_t>(message.size()));
    if (const TDXPlayPlayer* local = m_play->LocalPlayer()) {
        // Delivered to the own participant inside the call: the own line is shown from it.
        m_play->SendMessage(local->ID, message.constData(),
                            static_cast<std::int32_t>(message.size()));
    }
    return true;
}

void Peer::sendKeyStroke(const KeyStroke& keyStroke) {
    const QByteArray message = buildKeyStroke(keyStroke);
    m_play->SendMessage(DPID_ALLPLAYERS, message.constData(),
                        static_cast<std::int32_t>(message.size()));
}

void Peer::sendFiles(const QStringList& paths) {
    const TDXPlayPlayer* other = m_play->Opened() ? opponent() : nullptr;
    if (other == nullptr) {
        m_transfers->sendFiles(paths, std::nullopt);
        return;
    }
    const TDXPlayPlayer* local = m_play->LocalPlayer();
    m_transfers->sendFiles(paths, Opponent{other->ID, local != nullptr && other->ID == local->ID});
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
    // The sender thread first: the block it has prepared is still sent while the session is open.
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
    stopSendThread(m_sendThread, m_handOver);
}

void Peer::endConnection() {
    m_transfers->stopAll();
    stopSender();
}

void Peer::textReceived(const QString& senderName, const QByteArray& text) {
    emit chatLineReceived(senderName, text);
}

void Peer::keyStrokeReceived(const KeyStroke& keyStroke) {
    emit keyStrokeArrived(keyStroke);
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
