#pragma once

#include "connections/ConnectProcedure.h"
#include "connections/ConnectionFormContext.h"

class QAbstractButton;
class QComboBox;

namespace velmora {

// The steps that the New connection dialog and the wizard share: their lists of modems and of
// recent phone numbers, the values worked out at each connect, and the connect itself.
class ConnectionFormSupport {
public:
    explicit ConnectionFormSupport(ConnectionFormContext context);

    const ConnectionFormContext& context() const { return m_context; }
    TCustomDXPlay& play() const { return *m_context.play; }

    // Fills the list with the installed modems and "Other modem..." and selects the first. When
    // the modem list cannot be acquired, the error is shown and false returned.
    bool fillModems(QComboBox& modems) const;
    bool isOtherModem(const QComboBox& modems) const;
    // Replaces the phone list by the lines of recents.phones when that file can be read.
    void loadPhones(QComboBox& phones) const;
    // Puts the typed number at the top of the list unless it is there already, and writes the
    // whole list to recents.phones.
    void rememberPhone(QComboBox& phones) const;
    // The typed number, or the selected entry when nothing is typed.
    static QString phoneNumber(const QComboBox& phones);

    QString playerName() const;
    // Sets the block-size code for the method.
    void setBlockSizeCode(bool nullModem) const;
    void markConnectionModified() const;
    void showHelpTopic(QWidget* owner, const QString& topic) const;

    // Runs the connect steps with the event loop turning, so every window repaints. Meanwhile
    // the windows that were open take no input but Esc and a click on `cancel`, which end the
    // attempt as cancelAttempt() does; prompts and messages opened during it work as usual.
    bool connect(const ConnectRequest& request, QAbstractButton& cancel);
    bool attempting() const { return m_attempting; }
    // Ends the attempt under way silently, as a cancelled prompt of the provider does.
    void cancelAttempt();

private:
    ConnectionFormContext m_context;
    bool m_attempting = false;
    bool m_cancelled = false;
};

}  // namespace velmora
