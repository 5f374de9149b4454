#pragma once

#include "connections/ConnectProcedure.h"
#include "connections/ConnectionFormContext.h"

#include <QMetaObject>

#include <functional>

class QComboBox;
class QLabel;

namespace velmora {

// The steps that the New connection dialog and the wizard share: their lists of modems and of
// recent phone numbers, the values worked out at each connect, and the connect attempt.
class ConnectionFormSupport {
public:
    explicit ConnectionFormSupport(ConnectionFormContext context);
    ~ConnectionFormSupport();
    ConnectionFormSupport(const ConnectionFormSupport&) = delete;
    ConnectionFormSupport& operator=(const ConnectionFormSupport&) = delete;

    const ConnectionFormContext& context() const { return m_context; }
    Peer& peer() const { return *m_context.peer; }

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

    // Starts the attempt and returns at once. `status` shows each step; an attempt that ends
    // without a session says why in a message box (a cancel only in `status`); `ended` runs
    // last, telling whether a session is open. The dialog stays usable throughout.
    void startConnect(const ConnectRequest& request, QLabel& status,
                      std::function<void(bool connected)> ended);
    bool attempting() const { return m_attempting; }
    // Ends the attempt under way; `status` says so.
    void cancelAttempt();

private:
    void attemptEnded(const ConnectResult& result);

    ConnectionFormContext m_context;
    bool m_attempting = false;
    ConnectRequest m_request;
    QLabel* m_status = nullptr;
    std::function<void(bool connected)> m_ended;
    QMetaObject::Connection m_stepConnection;
    QMetaObject::Connection m_endConnection;
};

}  // namespace velmora
