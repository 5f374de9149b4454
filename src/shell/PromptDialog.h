#pragma once

#include <QDialog>

#include <functional>

class QDialogButtonBox;

namespace velmora {

class DialogService;

// A dialog that a connection asks through while its line is being opened: shown over the
// window the user works in and modal to the application (see showModal); OK is taken only when the
// fields are valid. The one who asked hears the outcome once, also when the dialog goes away
// unanswered.
class PromptDialog : public QDialog {
public:
    PromptDialog(DialogService& dialogs, const QString& objectName, const QString& title,
                 QWidget* parent);
    ~PromptDialog() override;

protected:
    // Shows the dialog; `finished` hears whether it was accepted.
    void ask(std::function<void(bool accepted)> finished);
    // Why the fields cannot be taken; empty when they can.
    virtual QString problem() const = 0;
    // The OK and Cancel buttons, for the dialog's layout.
    QDialogButtonBox* okCancel() const { return m_okCancel; }
    DialogService& dialogs() const { return m_dialogs; }

private:
    void acceptIfValid();
    // Centred over the window the user works in, and kept above it, as a prompt of that window.
    void placeOverActiveWindow();

    DialogService& m_dialogs;
    QDialogButtonBox* m_okCancel = nullptr;
    std::function<void(bool)> m_finished;
};

}  // namespace velmora
