#include "shell/SerialSettingsDialog.h"

#include "base/DialogService.h"
#include "session/link/SerialPortOpener.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLineEdit>
#include <QVBoxLayout>

#include <algorithm>

namespace velmora {

namespace {

constexpr int StandardBauds[] = {300,   1200,  2400,   4800,   9600,   19200,
                                 38400, 57600, 115200, 230400, 460800, 921600};
constexpr FlowControl Flows[] = {FlowControl::None, FlowControl::RtsCts, FlowControl::XonXoff};

QString flowCaption(FlowControl flow) {
    switch (flow) {
        case FlowControl::RtsCts:
            return QStringLiteral("Hardware (RTS/CTS)");
        case FlowControl::XonXoff:
            return QStringLiteral("Software (XON/XOFF)");
        case FlowControl::None:
            break;
    }
    return QStringLiteral("None");
}

}  // namespace

SerialSettingsDialog::SerialSettingsDialog(DialogService& dialogs, QWidget* parent)
    : PromptDialog(dialogs, QStringLiteral("SerialSettingsDialog"),
                   QStringLiteral("Serial Connection"), parent) {
    PortCombo = new QComboBox;
    PortCombo->setObjectName(QStringLiteral("PortCombo"));
    PortCombo->setEditable(true);
    PortCombo->setInsertPolicy(QComboBox::NoInsert);
    PortCombo->setToolTip(
        QStringLiteral("A serial port of this computer, or one a terminal server exports over the "
                       "network: tcp://HOST:PORT (raw TCP) or rfc2217://HOST:PORT (RFC 2217, "
                       "which also sets the remote port's speed and flow control)."));
    BaudCombo = new QComboBox;
    BaudCombo->setObjectName(QStringLiteral("BaudCombo"));
    BaudCombo->setEditable(true);
    BaudCombo->setInsertPolicy(QComboBox::NoInsert);
    for (const int baud : StandardBauds) {
        BaudCombo->addItem(QString::number(baud), baud);
    }
    FlowCombo = new QComboBox;
    FlowCombo->setObjectName(QStringLiteral("FlowCombo"));
    for (const FlowControl flow : Flows) {
        FlowCombo->addItem(flowCaption(flow), static_cast<int>(flow));
    }
    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("&Port:"), PortCombo);
    form->addRow(QStringLiteral("&Speed (baud):"), BaudCombo);
    form->addRow(QStringLiteral("&Flow control:"), FlowCombo);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(okCancel());
}

void SerialSettingsDialog::present(const QList<SerialPortChoice>& ports,
                                   const SerialSettings& last) {
    PortCombo->clear();
    // The remembered port heads the list when the system does not list it (a device path typed
    // by hand, a port unplugged for now): the field and Enter keep it.
    const bool remembered =
        !last.portName.isEmpty() &&
        std::none_of(ports.begin(), ports.end(),
                     [&](const SerialPortChoice& port) { return port.name == last.portName; });
    if (remembered) {
        PortCombo->addItem(last.portName, last.portName);
    }
    for (const SerialPortChoice& port : ports) {
        const QString caption = port.description.isEmpty()
                                    ? port.name
                                    : QStringLiteral("%1 (%2)").arg(port.name, port.description);
        PortCombo->addItem(caption, port.name);
    }
    PortCombo->setCurrentIndex(std::max(0, PortCombo->findData(last.portName)));
    const int baud = BaudCombo->findData(last.baud);
    if (baud >= 0) {
        BaudCombo->setCurrentIndex(baud);
    } else {
        BaudCombo->setEditText(QString::number(last.baud));
    }
    FlowCombo->setCurrentIndex(FlowCombo->findData(static_cast<int>(last.flow)));
}

std::optional<SerialSettings> SerialSettingsDialog::chosen() const {
    SerialSettings settings;
    // A listed entry shows its description too; the port is its name.
    const int listed = PortCombo->findText(PortCombo->currentText());
    settings.portName =
        listed >= 0 ? PortCombo->itemData(listed).toString() : PortCombo->currentText().trimmed();
    bool number = false;
    settings.baud = BaudCombo->currentText().trimmed().toInt(&number);
    settings.flow = static_cast<FlowControl>(FlowCombo->currentData().toInt());
    if (!number || !settings.isValid()) {
        return std::nullopt;
    }
    return settings;
}

QString SerialSettingsDialog::problem() const {
    if (chosen()) {
        return QString();
    }
    return QStringLiteral("Please choose a port and a speed from %1 to %2 baud.")
        .arg(SerialSettings::kMinBaud)
        .arg(SerialSettings::kMaxBaud);
}

void SerialSettingsDialog::askSerialSettings(const QList<SerialPortChoice>& ports,
                                             const SerialSettings& last,
                                             PromptReply<SerialSettings> reply) {
    if (m_quiet && m_quiet()) {
        reply(last);
        return;
    }
    present(ports, last);
    ask([this, reply = std::move(reply)](bool accepted) {
        const std::optional<SerialSettings> settings = accepted ? chosen() : std::nullopt;
        if (settings) {
            m_lastDevice = serialDevicePath(settings->portName);
        }
        reply(settings);
    });
}

void SerialSettingsDialog::showSerialError(const QString& message) {
    if (m_quiet && m_quiet()) {
        return;
    }
    dialogs().showMessage(message);
}

}  // namespace velmora
