#pragma once

#include "session/modem/ModemPrompts.h"
#include "shell/PromptDialog.h"

class QComboBox;
class QLabel;
class QLineEdit;

namespace velmora {

class DialogService;

// Asks for the modem of a call and, when the connection does not name one, the number to dial.
// The modem list takes any device path typed by hand.
class ModemDialog : public PromptDialog, public ModemPrompts {
public:
    explicit ModemDialog(DialogService& dialogs, QWidget* parent = nullptr);

    // Fills the fields with the offered modems, preset with `last`; the number field is shown
    // only when `needPhone`.
    void present(const QStringList& modems, const ModemChoice& last, bool needPhone);
    // What the fields say; nothing when the modem, or a needed number, is empty.
    std::optional<ModemChoice> chosen() const;

    void askModem(const QStringList& modems, const ModemChoice& last, bool needPhone,
                  PromptReply<ModemChoice> reply) override;
    void showModemError(const QString& message) override;

    QComboBox* ModemCombo = nullptr;
    QLineEdit* PhoneEdit = nullptr;

private:
    QString problem() const override;

    QLabel* m_phoneLabel = nullptr;
    bool m_needPhone = false;
};

}  // namespace velmora
