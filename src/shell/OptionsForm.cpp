#include "shell/OptionsForm.h"

#include "base/DialogService.h"
#include "base/HelpTopic.h"
#include "base/ModalDialog.h"
#include "connections/RadioGroup.h"
#include "shell/MainForm.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QVBoxLayout>

namespace velmora {

namespace {

// A group box of radio buttons whose ids are their indexes.
QGroupBox* radioGroup(const QString& caption, const QStringList& items, QButtonGroup*& group,
                      QWidget* owner) {
    auto* box = new QGroupBox(caption);
    auto* layout = new QVBoxLayout(box);
    group = new QButtonGroup(owner);
    for (int index = 0; index < items.size(); ++index) {
        auto* button = new QRadioButton(items[index]);
        group->addButton(button, index);
        layout->addWidget(button);
    }
    QList<QRadioButton*> buttons;
    for (QAbstractButton* button : group->buttons()) {
        buttons << static_cast<QRadioButton*>(button);
    }
    RadioGroup::makeOneTabStop(buttons);
    return box;
}

// Checks the button of the index, or none when the index names no button.
void selectIndex(QButtonGroup* group, int index) {
    group->setExclusive(false);
    for (QAbstractButton* button : group->buttons()) {
        button->setChecked(group->id(button) == index);
    }
    group->setExclusive(true);
}

}  // namespace

TOptionsForm::TOptionsForm(TMainForm& mainForm) : m_mainForm(mainForm) {
    setObjectName(QStringLiteral("OptionsForm"));
    setWindowTitle(QStringLiteral("Options"));
    setModal(true);

    PageControl1 = new QTabWidget;
    auto* general = new QWidget;
    auto* generalLayout = new QVBoxLayout(general);
    generalLayout->addWidget(
        radioGroup(QStringLiteral("Talk mode"),
                   {QStringLiteral("Traditional (each key is shown to the other side at once)"),
                    QStringLiteral("Chat")},
                   InterfaceRadioGroup, this));
    auto* speedBox = new QGroupBox(QStringLiteral("Line quality"));
    auto* speedLayout = new QHBoxLayout(speedBox);
    SpeedComboBox = new QComboBox;
    SpeedComboBox->addItems(
        {QStringLiteral("Bad"), QStringLiteral("Good"), QStringLiteral("Excellent")});
    speedLayout->addWidget(SpeedComboBox);
    speedLayout->addStretch();
    generalLayout->addWidget(speedBox);
    auto* pathBox = new QGroupBox(QStringLiteral("Place incoming files to..."));
    auto* pathLayout = new QHBoxLayout(pathBox);
    Edit1 = new QLineEdit;
    Button6 = new QPushButton(QStringLiteral("..."));
    Button6->setFixedWidth(Button6->fontMetrics().horizontalAdvance(QStringLiteral("....")) + 16);
    pathLayout->addWidget(Edit1, 1);
    pathLayout->addWidget(Button6);
    generalLayout->addWidget(pathBox);
    ReconnectCheckBox =
        new QCheckBox(QStringLiteral("Get a lost line back and continue its transfers"));
    generalLayout->addWidget(ReconnectCheckBox);
    generalLayout->addStretch();
    PageControl1->addTab(general, QStringLiteral("General"));

    auto* appearance = new QWidget;
    auto* appearanceLayout = new QVBoxLayout(appearance);
    appearanceLayout->addWidget(radioGroup(
        QStringLiteral("Interface style"),
        {QStringLiteral("Traditional"), QStringLiteral("Modern")}, ViewRadioGroup, this));
    CheckBox5 = new QCheckBox(QStringLiteral("Show loader on startup"));
    CheckBox4 = new QCheckBox(QStringLiteral("Show transfers list"));
    NotifyCheckBox =
        new QCheckBox(QStringLiteral("Tell me of messages and files that arrive while "
                                     "the window is in the background"));
    NotifyCheckBox->setObjectName(QStringLiteral("NotifyCheckBox"));
    appearanceLayout->addWidget(CheckBox5);
    appearanceLayout->addWidget(CheckBox4);
    appearanceLayout->addWidget(NotifyCheckBox);
    auto* userBox = new QGroupBox(QStringLiteral("User name"));
    auto* userLayout = new QHBoxLayout(userBox);
    Edit2 = new QLineEdit;
    userLayout->addWidget(Edit2);
    appearanceLayout->addWidget(userBox);
    appearanceLayout->addStretch();
    PageControl1->addTab(appearance, QStringLiteral("Appearance"));

    BitBtn1 = new QPushButton(QStringLiteral("&OK"));
    BitBtn1->setDefault(true);
    BitBtn2 = new QPushButton(QStringLiteral("C&ancel"));
    BitBtn3 = new QPushButton(QStringLiteral("&Help"));
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(BitBtn1);
    buttons->addWidget(BitBtn2);
    buttons->addWidget(BitBtn3);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(PageControl1);
    layout->addLayout(buttons);

    connect(Button6, &QPushButton::clicked, this, &TOptionsForm::Button6Click);
    connect(BitBtn1, &QPushButton::clicked, this, &TOptionsForm::BitBtn1Click);
    connect(BitBtn2, &QPushButton::clicked, this, &QDialog::reject);
    connect(BitBtn3, &QPushButton::clicked, this, &TOptionsForm::BitBtn3Click);

    resize(380, 330);
    setFixedSize(size().expandedTo(sizeHint()));
}

void TOptionsForm::showModal(QWidget* over, std::function<void()> closed) {
    FormActivate();
    PageControl1->setCurrentIndex(0);
    if (over != nullptr) {
        move(over->frameGeometry().center() - rect().center());
    }
    velmora::showModal(*this, std::move(closed));
}

void TOptionsForm::FormActivate() {
    const Options& o = m_mainForm.options();
    CheckBox5->setChecked(o.Showloader == 1);
    Edit1->setText(o.Path);
    CheckBox4->setChecked(o.TransfersList == 1);
    NotifyCheckBox->setChecked(o.Notify == 1);
    selectIndex(ViewRadioGroup, o.View);
    selectIndex(InterfaceRadioGroup, o.Mode);
    SpeedComboBox->setCurrentIndex(o.Speed >= 2 && o.Speed <= 4 ? o.Speed - 2 : -1);
    Edit2->setText(o.UserName);
    ReconnectCheckBox->setChecked(o.Reconnect != 0);
}

void TOptionsForm::BitBtn1Click() {
    const QString typed = Edit1->text();
    // An empty name would stand for the current folder here and for the root folder once the
    // receiver adds its separator: it is refused. A folder that does not exist yet (the default
    // one on a first start) is made now; only one that cannot be made is refused.
    if (typed.trimmed().isEmpty() || !QDir().mkpath(QDir::current().absoluteFilePath(typed))) {
        m_mainForm.dialogs().showMessage(QStringLiteral(
            "Invalid directory for incoming files! Please, select existing directory."));
        Edit1->setFocus();
        return;
    }
    Options& o = m_mainForm.options();
    o.Path = typed;
    o.Showloader = CheckBox5->isChecked() ? 1 : 0;
    o.TransfersList = CheckBox4->isChecked() ? 1 : 0;
    o.View = ViewRadioGroup->checkedId();
    o.Mode = InterfaceRadioGroup->checkedId();
    o.Speed = SpeedComboBox->currentIndex() + 2;
    o.UserName = Edit2->text();
    o.Reconnect = ReconnectCheckBox->isChecked() ? 1 : 0;
    o.Notify = NotifyCheckBox->isChecked() ? 1 : 0;
    m_mainForm.UpdateView();
    m_mainForm.UpdateOptions();
    m_mainForm.UpdateInterface();
    accept();
}

void TOptionsForm::BitBtn3Click() {
    m_mainForm.ShowHelpTopic(this, HelpTopic::OptionsDialog);
    reject();
}

void TOptionsForm::Button6Click() {
    m_mainForm.dialogs().browseFolder(QStringLiteral("Place incoming files to..."),
                                      m_mainForm.options().Path,
                                      whileAlive(this, [this](const QString& folder) {
                                          if (!folder.isEmpty()) {
                                              Edit1->setText(folder);
                                          }
                                      }));
}

void TOptionsForm::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_F1) {
        m_mainForm.ShowHelpTopic(this, HelpTopic::OptionsDialog);
        return;
    }
    QDialog::keyPressEvent(event);
}

}  // namespace velmora
