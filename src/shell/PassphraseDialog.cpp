#include "shell/PassphraseDialog.h"

#include "base/DialogService.h"
#include "shell/PromptPlacement.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QMetaObject>
#include <QVBoxLayout>

namespace velmora {

PassphraseDialog::PassphraseDialog(DialogService& dialogs, QWidget* parent)
    : QDialog(parent), m_dialogs(dialogs) {
    setObjectName(QStringLiteral("PassphraseDialog"));
    setWindowTitle(QStringLiteral("Network Connection"));
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
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    connect(buttons, &QDialogButtonBox::accepted, this, &PassphraseDialog::acceptIfValid);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_where);
    layout->addWidget(label);
    layout->addWidget(PassphraseEdit);
    layout->addWidget(hint);
    layout->addWidget(buttons);
}

void PassphraseDialog::acceptIfValid() {
    if (PassphraseEdit->text().isEmpty()) {
        m_dialogs.showMessage(QStringLiteral("Please type the passphrase."));
        return;
    }
    accept();
}

std::optional<QString> PassphraseDialog::askPassphrase(const QString& where) {
    m_where->setText(QStringLiteral("Network line with %1").arg(where));
    PassphraseEdit->clear();
    PassphraseEdit->setFocus();
    placeOverActiveWindow(*this);
    const bool accepted = exec() == QDialog::Accepted;
    const QString passphrase = PassphraseEdit->text();
    PassphraseEdit->clear();  // not kept in the window
    if (!accepted) {
        return std::nullopt;
    }
    return passphrase;
}

void PassphraseDialog::showNetworkError(const QString& message) {
    m_dialogs.showMessage(message);
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
