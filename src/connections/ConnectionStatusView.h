#pragma once

#include <QString>

namespace velmora {

// What the connection status changes in the main window.
class ConnectionStatusView {
public:
    virtual ~ConnectionStatusView() = default;

    // Enables or disables every command that needs an open session (ChangeConnectionStatus).
    virtual void setConnectionCommandsEnabled(bool enabled) = 0;
    // Panel 0 of the status bar.
    virtual void setStatusText(const QString& text) = 0;
    // Appends one line at the end of the conversation view.
    virtual void appendConversationLine(const QString& line) = 0;
    // The text of the one-line message field.
    virtual void setMessageFieldText(const QString& text) = 0;
    // Records that a session has opened in this run.
    virtual void setWasConnected() = 0;
    // Every listed transfer becomes stopped and its list item shows it.
    virtual void stopAllTransfers() = 0;
    // Creates and starts the file sender thread for the open session.
    virtual void startSendThread() = 0;
    // Asks the file sender thread to end, waits for it and drops it; nothing when none runs.
    virtual void stopSendThread() = 0;
};

}  // namespace velmora
