#pragma once

#include "base/ProgramTexts.h"

#include <QObject>
#include <QString>

namespace velmora {

class ConnectionStatusView;
class Peer;

// The main window's side of the session's life: it follows the peer's session events and shows
// the connection's state in the status bar, the conversation and the message field.
class ConnectionStatus : public QObject {
public:
    static inline const QString NotConnected = texts::NotConnected;
    static inline const QString Waiting = texts::WaitingForRemoteUser;
    static inline const QString Connected = QStringLiteral("Connected");
    static inline const QString ConnectPrompt = texts::ConnectPrompt;
    static inline const QString TypePrompt = texts::TypePrompt;

    // Follows the peer's events from here on. Neither is owned; both outlive this object.
    ConnectionStatus(Peer& peer, ConnectionStatusView& view);
    // The state at start-up: commands disabled, "Not connected", the connect prompt.
    void showInitialState();

    // Panel 0 as last set.
    QString statusText() const { return m_status; }

private:
    void DXPlay1Open(bool host);
    void DXPlay1AddPlayer();
    void DXPlay1DeletePlayer();
    void setStatus(const QString& text);
    void promptWhenConnected();
    // Reports the end of the connection with the line given.
    void endConnection(const QString& line);

    Peer& m_peer;
    ConnectionStatusView& m_view;
    QString m_status = NotConnected;
};

}  // namespace velmora
