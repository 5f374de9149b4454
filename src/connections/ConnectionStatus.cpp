#include "connections/ConnectionStatus.h"

#include "connections/ConnectProcedure.h"
#include "connections/ConnectionStatusView.h"
#include "peer/Peer.h"

#include <QTime>

namespace velmora {

ConnectionStatus::ConnectionStatus(Peer& peer, ConnectionStatusView& view)
    : m_peer(peer), m_view(view) {
    connect(&peer, &Peer::sessionOpened, this, [this](bool host) { DXPlay1Open(host); });
    connect(&peer, &Peer::playerAdded, this, [this] { DXPlay1AddPlayer(); });
    connect(&peer, &Peer::playerDeleted, this, [this] { DXPlay1DeletePlayer(); });
    connect(&peer, &Peer::sessionLost, this, [this] { endConnection(texts::ConnectionLost); });
    // The Disconnect command stays, to end the wait.
    connect(&peer, &Peer::lineLost, this, [this] {
        endConnection(
            texts::LineLost.arg(QTime::currentTime().toString(QStringLiteral("HH:mm:ss"))));
        m_view.setConnectionCommandsEnabled(true);
    });
    connect(&peer, &Peer::lineBack, this, [this](int outgoing, int incoming) {
        const QString line = texts::lineBack(
            QTime::currentTime().toString(QStringLiteral("HH:mm:ss")), outgoing + incoming);
        setStatus(Connected);
        m_view.appendConversationLine(line);
        promptWhenConnected();
    });
    // An attempt shows each step at once, and how it ended when no session opened.
    connect(&peer, &Peer::connectStep, this, [this](ConnectStep step) {
        setStatus(connectStepText(step, m_peer.connectRequest()));
    });
    connect(&peer, &Peer::connectFinished, this, [this](const ConnectResult& result) {
        if (result.outcome == ConnectOutcome::Cancelled) {
            setStatus(AttemptCancelledMessage);
        } else if (result.outcome != ConnectOutcome::Connected) {
            setStatus(NotConnected);
        }
    });
    connect(&peer, &Peer::sessionClosed, this, [this] {
        m_view.setConnectionCommandsEnabled(false);
        endConnection(QStringLiteral("Disconnected."));
    });
}

void ConnectionStatus::showInitialState() {
    m_view.setConnectionCommandsEnabled(false);
    setStatus(NotConnected);
    m_view.setMessageFieldText(ConnectPrompt);
}

void ConnectionStatus::DXPlay1Open(bool host) {
    m_view.setConnectionCommandsEnabled(true);
    if (m_peer.reconnecting()) {
        return;  // the line lost is being got back: lineBack tells when it is
    }
    m_view.setWasConnected();
    setStatus(host ? Waiting : Connected);
    m_view.appendConversationLine(host ? Waiting : QStringLiteral("Connected."));
    promptWhenConnected();
}

void ConnectionStatus::DXPlay1AddPlayer() {
    // Said once: the side that joined said it as its session opened, with the host there.
    if (m_peer.playerCount() >= 2 && m_status != Connected) {
        setStatus(Connected);
        m_view.appendConversationLine(QStringLiteral("Connected."));
    }
    promptWhenConnected();
}

void ConnectionStatus::DXPlay1DeletePlayer() {
    endConnection(QStringLiteral("Remote user disconnected."));
    // Once the session's pending events are delivered (a caller whose host cannot go on loses
    // the session right after): when it stays open, this side waits for the next caller (a
    // host, or a caller whose host left a session that goes on), and a caller that comes is
    // taken without any action here.
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (m_peer.isOpen() && m_peer.playerCount() < 2 && m_status == NotConnected) {
                setStatus(Waiting);
                m_view.appendConversationLine(Waiting);
            }
        },
        Qt::QueuedConnection);
}

void ConnectionStatus::setStatus(const QString& text) {
    m_status = text;
    m_view.setStatusText(text);
}

void ConnectionStatus::promptWhenConnected() {
    if (m_status == Connected) {
        m_view.setMessageFieldText(TypePrompt);
    }
}

void ConnectionStatus::endConnection(const QString& line) {
    setStatus(NotConnected);
    m_view.appendConversationLine(line);
}

}  // namespace velmora
