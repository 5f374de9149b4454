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
};

}  // namespace velmora
