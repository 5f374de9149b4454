#include "connections/ConnectionStatus.h"

#include "connections/ConnectionStatusView.h"
#include "session/DXPlay.h"

namespace velmora {

ConnectionStatus::ConnectionStatus(TCustomDXPlay& play, ConnectionStatusView& view)
    : m_play(play), m_view(view) {}

ConnectionStatus::~ConnectionStatus() {
    if (m_attached) {
        m_play.OnOpen = nullptr;
        m_play.OnAddPlayer = nullptr;
        m_play.OnDeletePlayer = nullptr;
        m_play.OnSessionLost = nullptr;
        m_play.OnClose = nullptr;
    }
}

void ConnectionStatus::attach() {
    m_attached = true;
    m_play.OnOpen = [this](TCustomDXPlay&) { DXPlay1Open(); };
    m_play.OnAddPlayer = [this](TCustomDXPlay&, TDXPlayPlayer& player) {
        DXPlay1AddPlayer(player);
    };
    m_play.OnDeletePlayer = [this](TCustomDXPlay&, TDXPlayPlayer& player) {
        DXPlay1DeletePlayer(player);
    };
    m_play.OnSessionLost = [this](TCustomDXPlay&) { DXPlay1SessionLost(); };
    m_play.OnClose = [this](TCustomDXPlay&) { DXPlay1Close(); };
}

void ConnectionStatus::showInitialState() {
    m_view.setConnectionCommandsEnabled(false);
    setStatus(NotConnected);
    m_view.setMessageFieldText(ConnectPrompt);
}

void ConnectionStatus::DXPlay1Open() {
    m_view.setConnectionCommandsEnabled(true);
    m_view.setWasConnected();
    const bool host = m_play.IsHost();
    setStatus(host ? Waiting : Connected);
    m_view.appendConversationLine(host ? Waiting : QStringLiteral("Connected."));
    promptWhenConnected();
    // A sender of an earlier session that was never stopped must not run on beside the new one.
    stopSendThread();
    m_view.startSendThread();
    m_sendThreadRunning = true;
}

void ConnectionStatus::DXPlay1AddPlayer(TDXPlayPlayer&) {
    if (m_play.Players().Count() >= 2) {
        setStatus(Connected);
        m_view.appendConversationLine(QStringLiteral("Connected."));
        // A new caller after the previous one left: files can be sent to it again.
        if (!m_sendThreadRunning && m_play.Opened()) {
            m_view.startSendThread();
            m_sendThreadRunning = true;
        }
    }
    promptWhenConnected();
}

void ConnectionStatus::DXPlay1DeletePlayer(TDXPlayPlayer&) {
    endConnection(QStringLiteral("Remote user disconnected."));
}

void ConnectionStatus::DXPlay1SessionLost() {
    endConnection(QStringLiteral("Connection lost!"));
}

void ConnectionStatus::DXPlay1Close() {
    m_view.setConnectionCommandsEnabled(false);
    endConnection(QStringLiteral("Disconnected."));
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
    m_view.stopAllTransfers();
    setStatus(NotConnected);
    m_view.appendConversationLine(line);
    stopSendThread();
}

void ConnectionStatus::stopSendThread() {
    if (m_sendThreadRunning) {
        m_view.stopSendThread();
        m_sendThreadRunning = false;
    }
}

}  // namespace velmora
