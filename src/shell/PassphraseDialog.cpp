#include "shell/PassphraseDialog.h"

#include "base/DialogService.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QMetaObject>
#include <QVBoxLayout>

namespace velmora {

PassphraseDialog::PassphraseDialog(DialogService& dialogs, QWidget* parent)
    : PromptDialog(dialogs, QStringLiteral("PassphraseDialog"),
                   QStringLiteral("Network Connection"), parent) {
    m_where = new QLabel;
    PassphraseEdit = new QLineEdit;
    PassphraseEdit->setObjectName(QStringLiteral("PassphraseEdit"));
    PassphraseEdit->setEchoMode(QLineEdit::Password);
    auto* label = new QLabel(QStringLiteral("&Passphrase:"));
    label->setBuddy(PassphraseEdit);
    auto* hint = new QLabel(
        QStringLiteral("Both computers must type the same passphrase. Only a computer that knows "
                       "it can connect, and everything sent is encrypted. A long passphrase, such "
                       "as four or five random words, is much harder to guess."));
    hint->setWordWrap(true);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_where);
    layout->addWidget(label);
    layout->addWidget(PassphraseEdit);
    layout->addWidget(hint);
    layout->addWidget(okCancel());
}

QString PassphraseDialog::problem() const {
    return PassphraseEdit->text().isEmpty() ? QStringLiteral("Please type the passphrase.")
                                            : QString();
}

void PassphraseDialog::askPassphrase(const QString& where, PromptReply<QString> reply) {
    m_where->setText(QStringLiteral("Network line with %1").arg(where));
    PassphraseEdit->clear();
    PassphraseEdit->setFocus();
    // The field, not the dialog: it is still there when the dialog goes away unanswered.
    ask([edit = PassphraseEdit, reply = std::move(reply)](bool accepted) {
        std::optional<QString> passphrase;
        if (accepted) {
            passphrase = edit->text();
        }
        edit->clear();  // not kept in the window
        reply(passphrase);
    });
}

void PassphraseDialog::showNetworkError(const QString& message) {
    dialogs().showMessage(message);
}

void PassphraseDialog::callerRefused(const QString& message) {
    // From the host line's thread: shown on the UI thread, where this dialog lives.
    QMetaObject::invokeMethod(
        this,
        [this, message] {
            if (m_notice) {
                m_notice(message);
            }
        },
        Qt::QueuedConnection);
}

}  // namespace velmora
