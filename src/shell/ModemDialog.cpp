#include "shell/ModemDialog.h"

#include "base/DialogService.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

namespace velmora {

ModemDialog::ModemDialog(DialogService& dialogs, QWidget* parent)
    : PromptDialog(dialogs, QStringLiteral("ModemDialog"), QStringLiteral("Modem Connection"),
                   parent) {
    ModemCombo = new QComboBox;
    ModemCombo->setObjectName(QStringLiteral("ModemCombo"));
    ModemCombo->setEditable(true);
    ModemCombo->setInsertPolicy(QComboBox::NoInsert);
    PhoneEdit = new QLineEdit;
    PhoneEdit->setObjectName(QStringLiteral("PhoneEdit"));
    m_phoneLabel = new QLabel(QStringLiteral("&Phone number:"));
    m_phoneLabel->setBuddy(PhoneEdit);
    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("&Modem:"), ModemCombo);
    form->addRow(m_phoneLabel, PhoneEdit);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(okCancel());
}

void ModemDialog::present(const QStringList& modems, const ModemChoice& last, bool needPhone) {
    ModemCombo->clear();
    ModemCombo->addItems(modems);
    const int listed = ModemCombo->findText(last.modem);
    if (listed >= 0) {
        ModemCombo->setCurrentIndex(listed);
    } else {
        ModemCombo->setEditText(last.modem);
    }
    PhoneEdit->setText(last.phone);
    m_needPhone = needPhone;
    PhoneEdit->setVisible(needPhone);
    m_phoneLabel->setVisible(needPhone);
}

std::optional<ModemChoice> ModemDialog::chosen() const {
    ModemChoice choice{ModemCombo->currentText().trimmed(),
                       m_needPhone ? PhoneEdit->text().trimmed() : QString()};
    if (choice.modem.isEmpty() || (m_needPhone && choice.phone.isEmpty())) {
        return std::nullopt;
    }
    return choice;
}

QString ModemDialog::problem() const {
    if (chosen()) {
        return QString();
    }
    return m_needPhone ? QStringLiteral("Please choose a modem and type the number to dial.")
                       : QStringLiteral("Please choose a modem.");
}

void ModemDialog::askModem(const QStringList& modems, const ModemChoice& last, bool needPhone,
                           PromptReply<ModemChoice> reply) {
    present(modems, last, needPhone);
    ask([this, reply = std::move(reply)](bool accepted) {
        reply(accepted ? chosen() : std::nullopt);
    });
}

void ModemDialog::showModemError(const QString& message) {
    dialogs().showMessage(message);
}

}  // namespace velmora
