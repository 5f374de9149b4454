#include "connections/ConnectionForm.h"

#include "base/HelpTopic.h"
#include "base/LinkLabel.h"
#include "connections/ConnectionFile.h"
#include "connections/RadioGroup.h"
#include "peer/Peer.h"

#include <QComboBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QShowEvent>
#include <QSpinBox>
#include <QVBoxLayout>

#include <algorithm>
#include <iterator>

namespace velmora {

namespace {

const QString ModemWaitLabel = QStringLiteral("Wait for call");
const QString ModemCallLabel = QStringLiteral("Call remote computer");
const QString CableHostLabel = QStringLiteral("Master");
const QString CableJoinLabel = QStringLiteral("Slave");
const QString NetworkHostLabel = QStringLiteral("Wait for a caller");
const QString NetworkJoinLabel = QStringLiteral("Call remote computer");
const QString ListenHint =
    QStringLiteral("Blank: callers on this computer only; 0.0.0.0: callers from anywhere");

}  // namespace

TConnectionForm::TConnectionForm(ConnectionFormContext context, QWidget* parent)
    : QDialog(parent), m_support(std::move(context)) {
    setObjectName(QStringLiteral("ConnectionForm"));
    setWindowTitle(QStringLiteral("New connection"));

    auto* general = new QGroupBox(QStringLiteral("General information"), this);
    Edit1 = new QLineEdit(general);
    Edit1->setObjectName(QStringLiteral("Edit1"));
    auto* generalLayout = new QVBoxLayout(general);
    auto* sessionLabel = new QLabel(QStringLiteral("Session name"), general);
    sessionLabel->setBuddy(Edit1);
    generalLayout->addWidget(sessionLabel);
    generalLayout->addWidget(Edit1);
    generalLayout->addWidget(
        new QLabel(QStringLiteral("Hint: Leave blank to use default settings"), general));

    ConnectionMethod =
        new RadioGroup(QStringLiteral("Connection method"),
                       {QStringLiteral("Modem"), QStringLiteral("Null-modem (COM-to-COM)"),
                        QStringLiteral("Network (TCP/IP)")},
                       this);
    ConnectionMethod->setObjectName(QStringLiteral("ConnectionMethod"));
    ConnectionMode =
        new RadioGroup(QStringLiteral("Connection mode"), {ModemWaitLabel, ModemCallLabel}, this);
    ConnectionMode->setObjectName(QStringLiteral("ConnectionMode"));

    auto* modemSettings = new QGroupBox(QStringLiteral("Modem settings"), this);
    ModemComboBox = new QComboBox(modemSettings);
    ModemComboBox->setObjectName(QStringLiteral("ModemComboBox"));
    ModemComboBox->setEditable(false);
    Label2 = new LinkLabel(QStringLiteral("I don't see my modem in this list"), modemSettings);
    Label2->setObjectName(QStringLiteral("Label2"));
    ModemPhoneNumber = new QComboBox(modemSettings);
    ModemPhoneNumber->setObjectName(QStringLiteral("ModemPhoneNumber"));
    ModemPhoneNumber->setEditable(true);
    ModemPhoneNumber->setInsertPolicy(QComboBox::NoInsert);
    auto* modemLayout = new QFormLayout(modemSettings);
    modemLayout->addRow(QStringLiteral("Modem"), ModemComboBox);
    modemLayout->addRow(QString(), Label2);
    modemLayout->addRow(QStringLiteral("Phone number"), ModemPhoneNumber);

    NetworkSettings = new QGroupBox(QStringLiteral("Network settings"), this);
    NetworkSettings->setObjectName(QStringLiteral("NetworkSettings"));
    NetworkHostName = new QLineEdit(NetworkSettings);
    NetworkHostName->setObjectName(QStringLiteral("NetworkHostName"));
    NetworkPort = new QSpinBox(NetworkSettings);
    NetworkPort->setObjectName(QStringLiteral("NetworkPort"));
    NetworkPort->setRange(1, 65535);
    NetworkPort->setValue(DefaultNetworkPort);
    auto* networkLayout = new QFormLayout(NetworkSettings);
    networkLayout->addRow(QStringLiteral("Host name"), NetworkHostName);
    networkLayout->addRow(QStringLiteral("Port"), NetworkPort);

    ConnectButton = new QPushButton(QStringLiteral("&Connect"), this);
    ConnectButton->setObjectName(QStringLiteral("ConnectButton"));
    ConnectButton->setDefault(true);
    Button2 = new QPushButton(QStringLiteral("C&ancel"), this);
    Button2->setObjectName(QStringLiteral("Button2"));
    Button3 = new QPushButton(QStringLiteral("&Help"), this);
    Button3->setObjectName(QStringLiteral("Button3"));

    StatusLabel = new QLabel(this);
    StatusLabel->setObjectName(QStringLiteral("StatusLabel"));

    auto* choices = new QHBoxLayout;
    choices->addWidget(ConnectionMethod);
    choices->addWidget(ConnectionMode);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(ConnectButton);
    buttons->addWidget(Button2);
    buttons->addWidget(Button3);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(general);
    layout->addLayout(choices);
    layout->addWidget(modemSettings);
    layout->addWidget(NetworkSettings);
    layout->addWidget(StatusLabel);
    layout->addLayout(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    // As wide with the cable's short role names as with the modem's (shown now), so that the
    // dialog keeps its size when the method changes.
    ConnectionMode->setMinimumWidth(ConnectionMode->sizeHint().width());

    // Tab goes down the dialog as it reads; each radio group is one stop.
    QWidget* order[] = {Edit1,
                        ConnectionMethod->button(0),
                        ConnectionMethod->button(1),
                        ConnectionMethod->button(2),
                        ConnectionMode->button(0),
                        ConnectionMode->button(1),
                        ModemComboBox,
                        Label2,
                        ModemPhoneNumber,
                        NetworkHostName,
                        NetworkPort,
                        ConnectButton,
                        Button2,
                        Button3};
    for (std::size_t i = 1; i < std::size(order); ++i) {
        setTabOrder(order[i - 1], order[i]);
    }

    ConnectionMethod->setItemIndex(0);
    ConnectionMode->setItemIndex(0);
    connect(ConnectionMethod, &RadioGroup::indexChanged, this, [this] { ConnectionMethodClick(); });
    connect(ConnectionMode, &RadioGroup::indexChanged, this, [this] { ConnectionModeClick(); });
    connect(Edit1, &QLineEdit::textChanged, this, [this] { Edit1Change(); });
    connect(NetworkHostName, &QLineEdit::textChanged, this,
            [this] { m_support.markConnectionModified(); });
    connect(NetworkPort, &QSpinBox::valueChanged, this,
            [this] { m_support.markConnectionModified(); });
    connect(ConnectButton, &QPushButton::clicked, this, [this] { ConnectButtonClick(); });
    connect(Button2, &QPushButton::clicked, this, [this] { Button2Click(); });
    connect(Button3, &QPushButton::clicked, this, [this] { Button3Click(); });
    connect(Label2, &LinkLabel::clicked, this, [this] { Label2Click(); });
}

void TConnectionForm::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    // A window restored from being minimised is shown again, not a new showing.
    if (!event->spontaneous()) {
        placeOverOwner();
        FormActivate();
    }
}

void TConnectionForm::placeOverOwner() {
    const QWidget* owner = parentWidget();
    const QScreen* screen =
        owner != nullptr && owner->isVisible() ? owner->screen() : QGuiApplication::primaryScreen();
    if (screen == nullptr) {
        return;
    }
    const QRect available = screen->availableGeometry();
    const QRect around =
        owner != nullptr && owner->isVisible() ? owner->frameGeometry() : available;
    // The frame's size: the size of the dialog and the title bar and border the window manager
    // adds (as the owner has them), so that the title bar is on the screen too.
    const QSize decoration = owner != nullptr && owner->isVisible()
                                 ? owner->frameGeometry().size() - owner->geometry().size()
                                 : QSize();
    const QSize frame = sizeHint().expandedTo(minimumSize()) + decoration;
    QPoint topLeft = around.center() - QPoint(frame.width() / 2, frame.height() / 2);
    topLeft.setX(std::clamp(topLeft.x(), available.left(),
                            std::max(available.left(), available.right() - frame.width())));
    topLeft.setY(std::clamp(topLeft.y(), available.top(),
                            std::max(available.top(), available.bottom() - frame.height())));
    move(topLeft);
}

void TConnectionForm::FormActivate() {
    m_support.peer().close();
    StatusLabel->clear();
    ConnectButton->setEnabled(true);
    ConnectionMethod->setItemIndex(0);
    ConnectionMode->setItemIndex(0);
    ConnectionMethodClick();
    Edit1->clear();
    Edit1->setFocus();
    if (!m_support.fillModems(*ModemComboBox)) {
        return;
    }
    m_support.loadPhones(*ModemPhoneNumber);
    if (ModemPhoneNumber->count() > 0) {
        ModemPhoneNumber->setCurrentIndex(0);
    }
}

void TConnectionForm::ConnectionMethodClick() {
    m_support.markConnectionModified();
    const int method = ConnectionMethod->itemIndex();
    const bool modem = method == 0;
    const bool network = method == NetworkProviderIndex;
    ConnectionMode->setItemText(0, modem     ? ModemWaitLabel
                                   : network ? NetworkHostLabel
                                             : CableHostLabel);
    ConnectionMode->setItemText(1, modem     ? ModemCallLabel
                                   : network ? NetworkJoinLabel
                                             : CableJoinLabel);
    ModemComboBox->setEnabled(modem);
    Label2->setEnabled(modem);
    ModemPhoneNumber->setEnabled(modem);
    NetworkSettings->setEnabled(network);
    ConnectionModeClick();
}

void TConnectionForm::ConnectionModeClick() {
    m_support.markConnectionModified();
    const bool hosting = ConnectionMode->itemIndex() == 0;
    NetworkHostName->setPlaceholderText(hosting ? ListenHint : QString());
    if (ConnectionMethod->itemIndex() != 0) {
        return;
    }
    ModemPhoneNumber->setEnabled(!hosting);
}

void TConnectionForm::Edit1Change() {
    m_support.markConnectionModified();
}

void TConnectionForm::ConnectButtonClick() {
    if (m_support.attempting()) {
        return;
    }
    ConnectRequest request;
    const bool network = ConnectionMethod->itemIndex() == NetworkProviderIndex;
    const bool nullModem = ConnectionMethod->itemIndex() != 0;
    request.method = network     ? ConnectRequest::Method::Network
                     : nullModem ? ConnectRequest::Method::Cable
                                 : ConnectRequest::Method::Modem;
    request.calling = ConnectionMode->itemIndex() == 1;
    request.playerName = m_support.playerName();
    request.sessionName = sessionNameFor(Edit1->text());
    if (network) {
        request.hostName = NetworkHostName->text().trimmed();
        request.port = static_cast<std::uint16_t>(NetworkPort->value());
        if (request.calling && request.hostName.isEmpty()) {
            StatusLabel->setText(QStringLiteral("Type the name or address of the other computer."));
            NetworkHostName->setFocus();
            return;
        }
    }
    // A network line is as fast as a cable or faster: the same block size.
    m_support.setBlockSizeCode(nullModem);
    request.otherModem = m_support.isOtherModem(*ModemComboBox);
    if (!nullModem) {
        request.retries = request.calling ? ModemCallRetries : 0;
        if (!request.otherModem) {
            if (request.calling) {
                m_support.rememberPhone(*ModemPhoneNumber);
                request.phoneNumber = ConnectionFormSupport::phoneNumber(*ModemPhoneNumber);
            }
            request.modemName = ModemComboBox->currentText();
        }
    }
    ConnectButton->setEnabled(false);
    m_support.startConnect(request, *StatusLabel, [this](bool connected) {
        ConnectButton->setEnabled(true);
        if (connected) {
            accept();
        }
    });
}

void TConnectionForm::Button2Click() {
    reject();
}

void TConnectionForm::reject() {
    // Cancel, Esc and the close box end an attempt under way first; the dialog stays open and
    // says so. Once nothing is under way they close the dialog.
    if (m_support.attempting()) {
        m_support.cancelAttempt();
        return;
    }
    QDialog::reject();
}

void TConnectionForm::Button3Click() {
    m_support.showHelpTopic(this, HelpTopic::NewConnectionDialog);
    reject();
}

void TConnectionForm::Label2Click() {
    m_support.showHelpTopic(this, HelpTopic::ModemNotFound);
}

void TConnectionForm::keyPressEvent(QKeyEvent* event) {
    FormKeyDown(event);
    if (!event->isAccepted()) {
        QDialog::keyPressEvent(event);
    }
}

void TConnectionForm::FormKeyDown(QKeyEvent* event) {
    if (event->key() == Qt::Key_F1) {
        m_support.showHelpTopic(this, HelpTopic::NewConnectionDialog);
        event->accept();
        return;
    }
    event->ignore();
}

void TConnectionForm::fill(const ConnectionSettings& settings) {
    ConnectionMethod->setItemIndex(settings.Provider.value_or(0));
    ConnectionMode->setItemIndex(settings.IsHost);
    Edit1->setText(settings.SessionName);
    const int modem =
        ModemComboBox->findText(settings.ModemName, Qt::MatchFixedString | Qt::MatchCaseSensitive);
    if (modem >= 0) {
        ModemComboBox->setCurrentIndex(modem);
    }
    ModemPhoneNumber->setEditText(settings.PhoneNumber);
    NetworkHostName->setText(settings.HostName);
    if (settings.Port != 0) {
        NetworkPort->setValue(settings.Port);
    }
}

}  // namespace velmora
