#include "shell/PromptDialog.h"

#include "base/DialogService.h"
#include "base/ModalDialog.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QWindow>

#include <utility>

namespace velmora {

PromptDialog::PromptDialog(DialogService& dialogs, const QString& objectName, const QString& title,
                           QWidget* parent)
    : QDialog(parent),
      m_dialogs(dialogs),
      m_okCancel(new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel)) {
    setObjectName(objectName);
    setWindowTitle(title);
    connect(m_okCancel, &QDialogButtonBox::accepted, this, &PromptDialog::acceptIfValid);
    connect(m_okCancel, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(this, &QDialog::finished, this, [this](int result) {
        if (const auto finished = std::exchange(m_finished, {})) {
            finished(result == QDialog::Accepted);
        }
    });
}

PromptDialog::~PromptDialog() {
    if (const auto finished = std::exchange(m_finished, {})) {
        finished(false);
    }
}

void PromptDialog::ask(std::function<void(bool accepted)> finished) {
    // One line opens at a time; an earlier question still open is given up.
    if (const auto earlier = std::exchange(m_finished, std::move(finished))) {
        earlier(false);
    }
    placeOverActiveWindow();
    showModal(*this);
}

void PromptDialog::acceptIfValid() {
    const QString why = problem();
    if (!why.isEmpty()) {
        m_dialogs.showMessage(why);
        return;
    }
    accept();
}

void PromptDialog::placeOverActiveWindow() {
    QWidget* const owner = QApplication::activeWindow();
    if (owner == nullptr || owner == this) {
        return;
    }
    adjustSize();
    move(owner->frameGeometry().center() - rect().center());
    // The window manager keeps the prompt above its window.
    if (QWindow* const ownerWindow = owner->windowHandle()) {
        winId();
        windowHandle()->setTransientParent(ownerWindow);
    }
}

}  // namespace velmora
