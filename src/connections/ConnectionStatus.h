#pragma once

#include <QString>

namespace velmora {

class ConnectionStatusView;
class TCustomDXPlay;
class TDXPlayPlayer;

// The main window's side of the session's life: it follows the session component's events and
// shows the connection's state in the status bar, the conversation and the message field.
class ConnectionStatus {
public:
    static inline const QString NotConnected = QStringLiteral("Not connected");
    static inline const QString Waiting = QStringLiteral("Waiting for remote user...");
    static inline const QString Connected = QStringLiteral("Connected");
    static inline const QString ConnectPrompt =
        QStringLiteral("Please, connect before sending messages or files.");
    static inline const QString TypePrompt =
        QStringLiteral("Type your message here and press Enter to send it.");

    // Neither is owned; both outlive this object.
    ConnectionStatus(TCustomDXPlay& play, ConnectionStatusView& view);
    // Takes the handlers off the component, which may still close (and raise OnClose) later.
    ~ConnectionStatus();
    ConnectionStatus(const ConnectionStatus&) = delete;
    ConnectionStatus& operator=(const ConnectionStatus&) = delete;

    // Assigns the component's open, close, add, delete and lost events to the handlers below.
    void attach();
    // The state at start-up: commands disabled, "Not connected", the connect prompt.
    void showInitialState();

    void DXPlay1Open();
    void DXPlay1AddPlayer(TDXPlayPlayer& player);
    void DXPlay1DeletePlayer(TDXPlayPlayer& player);
    void DXPlay1SessionLost();
    void DXPlay1Close();

    // Panel 0 as last set.
    QString statusText() const { return m_status; }
    bool sendThreadRunning() const { return m_sendThreadRunning; }

private:
    void setStatus(const QString& text);
    void promptWhenConnected();
    // Stops the transfers and the sender and reports the end with the line given.
    void endConnection(const QString& line);
    void stopSendThread();

    TCustomDXPlay& m_play;
    ConnectionStatusView& m_view;
    QString m_status = NotConnected;
    bool m_sendThreadRunning = false;
    bool m_attached = false;
};

}  // namespace velmora
