#pragma once

#include "session/net/NetworkPrompts.h"
#include "shell/PromptDialog.h"

#include <functional>

class QLabel;
class QLineEdit;

namespace velmora {

class DialogService;

// Asks for the passphrase of a network line, which both computers must type alike; tells why a
// network line did not come about, and hands the host's notices of refused callers to `notice`
// on the UI thread (the main window shows them in the conversation).
class PassphraseDialog : public PromptDialog, public NetworkPrompts {
public:
    explicit PassphraseDialog(DialogService& dialogs, QWidget* parent = nullptr);

    void setNotice(std::function<void(const QString&)> notice) { m_notice = std::move(notice); }

    void askPassphrase(const QString& where, PromptReply<QString> reply) override;
    void showNetworkError(const QString& message) override;
    void callerRefused(const QString& message) override;

    QLineEdit* PassphraseEdit = nullptr;

private:
    QString problem() const override;

    QLabel* m_where = nullptr;
    std::function<void(const QString&)> m_notice;
};

}  // namespace velmora
