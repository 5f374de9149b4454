#include "connections/WizardForm.h"

#include "base/HelpTopic.h"
#include "base/LinkLabel.h"
#include "connections/ConnectProcedure.h"
#include "connections/RadioGroup.h"
#include "connections/WizardPicture.h"
#include "peer/Peer.h"

#include <QComboBox>
#include <QFrame>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QShowEvent>
#include <QSpinBox>
#include <QStackedWidget>
#include <QVBoxLayout>

namespace velmora {

namespace {

const QString ModemHelp = QStringLiteral(
    "Select \"Wait for call\" for one of two computers and click \"Finish\". Then select "
    "\"Call remote computer\" for another computer and click \"Finish\". After establishing "
    "connection this window will disappear.");
const QString CableHelp = QStringLiteral(
    "Select \"Master\" for one of two computers and click \"Finish\". Then select \"Slave\" for "
    "another computer and click \"Finish\". After establishing connection this window will "
    "disappear.");
const QString NetworkHelp = QStringLiteral(
    "Select \"Wait for a caller\" for one of two computers and click \"Next\": it waits on a "
    "port, for callers on this computer only unless you name an address. Then select \"Call "
    "remote computer\" for another computer, click \"Next\" and type the first one's address "
    "and port. Both type the same passphrase when asked; everything sent is then encrypted, "
    "unlike a serial port over a terminal server. After establishing connection this window "
    "will disappear.");

}  // namespace

TWizardForm::TWizardForm(ConnectionFormContext context, QWidget* parent)
    : QDialog(parent), m_support(std::move(context)) {
    setObjectName(QStringLiteral("WizardForm"));
    setWindowTitle(QStringLiteral("Connection wizard"));

    Picture = new WizardPicture(this);

    Notebook = new QStackedWidget(this);
    Notebook->setObjectName(QStringLiteral("Notebook"));

    QWidget* provider =
        addPage(SelectProvider, QStringLiteral("Please, select connection method:"));
    Modem = new QRadioButton(QStringLiteral("Modem"), provider);
    Modem->setObjectName(QStringLiteral("Modem"));
    Nullmodem = new QRadioButton(QStringLiteral("Null-modem (COM-to-COM)"), provider);
    Nullmodem->setObjectName(QStringLiteral("Nullmodem"));
    Network = new QRadioButton(QStringLiteral("Network (TCP/IP)"), provider);
    Network->setObjectName(QStringLiteral("Network"));
    Modem->setChecked(true);
    provider->layout()->addWidget(Modem);
    provider->layout()->addWidget(Nullmodem);
    provider->layout()->addWidget(Network);

    QWidget* type = addPage(SessionType, QStringLiteral("Please, specify connection mode:"));
    NewGame = new QRadioButton(QStringLiteral("Wait for call / Master"), type);
    NewGame->setObjectName(QStringLiteral("NewGame"));
    JoinGame = new QRadioButton(QStringLiteral("Call remote computer / Slave"), type);
    JoinGame->setObjectName(QStringLiteral("JoinGame"));
    NewGame->setChecked(true);
    Label3 = new QLabel(type);
    Label3->setObjectName(QStringLiteral("Label3"));
    Label3->setWordWrap(true);
    type->layout()->addWidget(NewGame);
    type->layout()->addWidget(JoinGame);
    type->layout()->addWidget(Label3);

    QWidget* modem =
        addPage(SelectModem, QStringLiteral("Please, select your modem from this list:"));
    ModemComboBox = new QComboBox(modem);
    ModemComboBox->setObjectName(QStringLiteral("ModemComboBox"));
    ModemComboBox->setEditable(false);
    Label7 = new LinkLabel(QStringLiteral("I don't see my modem in this list"), modem);
    Label7->setObjectName(QStringLiteral("Label7"));
    modem->layout()->addWidget(ModemComboBox);
    modem->layout()->addWidget(Label7);

    QWidget* phone = addPage(
        EnterPhoneNumber, QStringLiteral("Please, enter the phone number you want to connect to:"));
    ModemPhoneNumber = new QComboBox(phone);
    ModemPhoneNumber->setObjectName(QStringLiteral("ModemPhoneNumber"));
    ModemPhoneNumber->setEditable(true);
    ModemPhoneNumber->setInsertPolicy(QComboBox::NoInsert);
    auto* hint = new QLabel(QStringLiteral("Hint: Click on an arrow near the text field to select "
                                           "previously entered phone number."),
                            phone);
    hint->setWordWrap(true);
    phone->layout()->addWidget(ModemPhoneNumber);
    phone->layout()->addWidget(hint);

    QWidget* address = addPage(EnterNetworkAddress, QString());
    NetworkQuestion = address->findChild<QLabel*>();
    NetworkHostName = new QLineEdit(address);
    NetworkHostName->setObjectName(QStringLiteral("NetworkHostName"));
    NetworkPort = new QSpinBox(address);
    NetworkPort->setObjectName(QStringLiteral("NetworkPort"));
    NetworkPort->setRange(1, 65535);
    NetworkPort->setValue(DefaultNetworkPort);
    auto* portLabel = new QLabel(QStringLiteral("Port:"), address);
    portLabel->setBuddy(NetworkPort);
    address->layout()->addWidget(NetworkHostName);
    address->layout()->addWidget(portLabel);
    address->layout()->addWidget(NetworkPort);

    BackButton = new QPushButton(QStringLiteral("< &Back"), this);
    BackButton->setObjectName(QStringLiteral("BackButton"));
    BackButton->setAutoDefault(false);
    NextButton = new QPushButton(QStringLiteral("&Next >"), this);
    NextButton->setObjectName(QStringLiteral("NextButton"));
    NextButton->setDefault(true);
    CancelButton = new QPushButton(QStringLiteral("Cancel"), this);
    CancelButton->setObjectName(QStringLiteral("CancelButton"));
    CancelButton->setAutoDefault(false);

    auto* separator = new QFrame(this);
    separator->setFrameShape(QFrame::HLine);
    separator->setFrameShadow(QFrame::Sunken);
    auto* body = new QHBoxLayout;
    body->addWidget(Picture);
    body->addWidget(Notebook, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(BackButton);
    buttons->addWidget(NextButton);
    buttons->addWidget(CancelButton);
    StatusLabel = new QLabel(this);
    StatusLabel->setObjectName(QStringLiteral("StatusLabel"));
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(body);
    layout->addWidget(StatusLabel);
    layout->addWidget(separator);
    layout->addLayout(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    RadioGroup::makeOneTabStop({Modem, Nullmodem});
    connect(Modem, &QRadioButton::toggled, Picture, &WizardPicture::setModem);
    RadioGroup::makeOneTabStop({NewGame, JoinGame});

    connect(Notebook, &QStackedWidget::currentChanged, this, [this] { NotebookPageChanged(); });
    connect(ModemComboBox, &QComboBox::currentIndexChanged, this,
            [this] { NotebookPageChanged(); });
    connect(ModemPhoneNumber, &QComboBox::editTextChanged, this, [this] { NotebookPageChanged(); });
    connect(NetworkHostName, &QLineEdit::textChanged, this, [this] { NotebookPageChanged(); });
    connect(NewGame, &QRadioButton::clicked, this, [this] { NewGameClick(); });
    connect(JoinGame, &QRadioButton::clicked, this, [this] { NewGameClick(); });
    connect(NextButton, &QPushButton::clicked, this, [this] { NextButtonClick(); });
    connect(BackButton, &QPushButton::clicked, this, [this] { BackButtonClick(); });
    connect(CancelButton, &QPushButton::clicked, this, [this] { CancelButtonClick(); });
    connect(Label7, &LinkLabel::clicked, this, [this] { Label7Click(); });
}

QWidget* TWizardForm::addPage(const QString& name, const QString& question) {
    auto* page = new QWidget(Notebook);
    page->setObjectName(name);
    auto* layout = new QVBoxLayout(page);
    layout->addWidget(new QLabel(question, page));
    layout->addStretch();
    Notebook->addWidget(page);
    return page;
}

void TWizardForm::showPage(const QString& name) {
    if (auto* page = Notebook->findChild<QWidget*>(name, Qt::FindDirectChildrenOnly)) {
        Notebook->setCurrentWidget(page);
    }
}

QString TWizardForm::pageName() const {
    return Notebook->currentWidget()->objectName();
}

void TWizardForm::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!event->spontaneous()) {
        FormShow();
    }
}

void TWizardForm::FormShow() {
    m_support.peer().close();
    StatusLabel->clear();
    NextButton->setEnabled(true);
    showPage(SelectProvider);
    m_support.fillModems(*ModemComboBox);
    m_support.loadPhones(*ModemPhoneNumber);
    if (ModemPhoneNumber->count() > 0) {
        ModemPhoneNumber->setCurrentIndex(0);
    }
    if (ModemComboBox->count() > 0) {
        ModemComboBox->setCurrentIndex(0);
    }
    NotebookPageChanged();
    NextButton->setFocus();
}

void TWizardForm::NotebookPageChanged() {
    const QString page = pageName();
    BackButton->setEnabled(page != SelectProvider);
    bool complete = false;
    if (page == SessionType) {
        complete = Nullmodem->isChecked();
    } else if (page == SelectModem) {
        complete = NewGame->isChecked();
    } else if (page == EnterPhoneNumber || page == EnterNetworkAddress) {
        complete = true;
    }
    NextButton->setText(complete ? CompleteCaption : NextCaption);
    if (page == EnterNetworkAddress) {
        // A caller must name the host; a host may leave the address blank (this computer only).
        NextButton->setEnabled(
            !m_support.attempting() &&
            (NewGame->isChecked() || !NetworkHostName->text().trimmed().isEmpty()));
    }
}

void TWizardForm::NewGameClick() {
    NotebookPageChanged();
}

ConnectRequest::Method TWizardForm::chosenMethod() const {
    return Network->isChecked()     ? ConnectRequest::Method::Network
           : Nullmodem->isChecked() ? ConnectRequest::Method::Cable
                                    : ConnectRequest::Method::Modem;
}

ConnectRequest TWizardForm::requestFor(ConnectRequest::Method method, bool calling) const {
    ConnectRequest request;
    request.method = method;
    request.calling = calling;
    request.retries = method == ConnectRequest::Method::Modem && calling ? ModemCallRetries : 0;
    if (method == ConnectRequest::Method::Network) {
        request.hostName = NetworkHostName->text().trimmed();
        request.port = static_cast<std::uint16_t>(NetworkPort->value());
    }
    request.sessionName = DefaultSessionName;
    request.playerName = m_support.playerName();
    request.otherModem = m_support.isOtherModem(*ModemComboBox);
    if (!request.otherModem) {
        request.modemName = ModemComboBox->currentText();
    }
    return request;
}

void TWizardForm::NextButtonClick() {
    const ConnectRequest::Method method = chosenMethod();
    const bool network = method == ConnectRequest::Method::Network;
    const bool nullModem = method == ConnectRequest::Method::Cable;
    // A network line is as fast as a cable or faster: the same block size.
    m_support.setBlockSizeCode(nullModem || network);
    m_support.markConnectionModified();
    const QString page = pageName();
    if (page == SelectProvider) {
        NewGame->setText(nullModem ? QStringLiteral("Master")
                         : network ? QStringLiteral("Wait for a caller")
                                   : QStringLiteral("Wait for call"));
        JoinGame->setText(nullModem ? QStringLiteral("Slave")
                                    : QStringLiteral("Call remote computer"));
        Label3->setText(nullModem ? CableHelp : network ? NetworkHelp : ModemHelp);
        showPage(SessionType);
    } else if (page == SessionType) {
        if (network) {
            NetworkQuestion->setText(
                NewGame->isChecked()
                    ? QStringLiteral("Please, enter the port to wait on, and the address to "
                                     "listen on (blank: callers on this computer only; "
                                     "0.0.0.0: callers from anywhere):")
                    : QStringLiteral("Please, enter the name or address of the computer you "
                                     "want to connect to, and its port:"));
            showPage(EnterNetworkAddress);
        } else if (!nullModem) {
            showPage(SelectModem);
        } else {
            connectAndClose(requestFor(method, JoinGame->isChecked()));
        }
    } else if (page == EnterNetworkAddress) {
        connectAndClose(requestFor(method, JoinGame->isChecked()));
    } else if (page == SelectModem) {
        const bool otherModem = m_support.isOtherModem(*ModemComboBox);
        if (NewGame->isChecked()) {
            connectAndClose(requestFor(method, false));
        } else if (!otherModem) {
            showPage(EnterPhoneNumber);
        } else {
            ConnectRequest request = requestFor(method, true);
            request.retries = OtherModemRetries;
            connectAndClose(request);
        }
    } else if (page == EnterPhoneNumber) {
        m_support.rememberPhone(*ModemPhoneNumber);
        ConnectRequest request = requestFor(method, true);
        request.phoneNumber = ConnectionFormSupport::phoneNumber(*ModemPhoneNumber);
        connectAndClose(request);
    }
}

void TWizardForm::connectAndClose(const ConnectRequest& request) {
    if (m_support.attempting()) {
        return;
    }
    NextButton->setEnabled(false);
    BackButton->setEnabled(false);
    m_support.startConnect(request, *StatusLabel, [this](bool connected) {
        NextButton->setEnabled(true);
        NotebookPageChanged();
        if (connected) {
            accept();
        }
    });
}

void TWizardForm::BackButtonClick() {
    if (pageName() == EnterNetworkAddress) {
        showPage(SessionType);
        return;
    }
    const int index = Notebook->currentIndex();
    if (index > 0) {
        Notebook->setCurrentIndex(index - 1);
    }
}

void TWizardForm::CancelButtonClick() {
    reject();
}

void TWizardForm::reject() {
    // Cancel, Esc and the close box end an attempt under way first; the wizard stays open and
    // says so. Once nothing is under way they close the wizard.
    if (m_support.attempting()) {
        m_support.cancelAttempt();
        return;
    }
    QDialog::reject();
}

void TWizardForm::Label7Click() {
    m_support.showHelpTopic(this, HelpTopic::ModemNotFound);
}

void TWizardForm::keyPressEvent(QKeyEvent* event) {
    FormKeyDown(event);
    if (!event->isAccepted()) {
        QDialog::keyPressEvent(event);
    }
}

void TWizardForm::FormKeyDown(QKeyEvent* event) {
    if (event->key() == Qt::Key_F1) {
        m_support.showHelpTopic(this, HelpTopic::ConnectionWizard);
        event->accept();
        return;
    }
    event->ignore();
}

}  // namespace velmora
