#include "session/link/SerialProvider.h"

#include "base/IniFile.h"
#include "session/link/NetworkSerialPort.h"
#include "session/link/SerialPortOpener.h"

#include <QDir>
#include <QSerialPort>
#include <QSerialPortInfo>

namespace velmora {

namespace {

const QString kSection = QStringLiteral("Serial");
const QString kPortKey = QStringLiteral("Port");
const QString kBaudKey = QStringLiteral("Baud");
const QString kFlowKey = QStringLiteral("Flow");
const QString kAskKey = QStringLiteral("Ask");

}  // namespace

SerialProvider::SerialProvider(QString dataFolder, SerialPrompts* prompts,
                               std::optional<SerialSettings> fixed)
    : m_dataFolder(std::move(dataFolder)), m_prompts(prompts), m_fixed(std::move(fixed)) {}

QString SerialProvider::settingsPath() const {
    return QDir(m_dataFolder).filePath(QStringLiteral("serial.ini"));
}

HRESULT SerialProvider::initialize(const Address& /*address*/) {
    // The address of this provider carries no port settings.
    return DP_OK;
}

HRESULT SerialProvider::modemNames(QStringList& names) {
    names.clear();
    return DP_OK;
}

QList<SerialPortChoice> SerialProvider::systemPorts() {
    QList<SerialPortChoice> ports;
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
        ports.append({info.portName(), info.description()});
    }
    return ports;
}

HRESULT SerialProvider::connect(std::unique_ptr<Line>& line) {
    return open(line, SerialPortLine::Role::Calling);
}

HRESULT SerialProvider::listen(std::unique_ptr<Line>& line) {
    return open(line, SerialPortLine::Role::Hosting);
}

std::optional<SerialSettings> SerialProvider::chooseSettings(HRESULT& failure) {
    if (m_fixed) {
        return m_fixed;
    }
    IniFile file = IniFile::load(settingsPath());
    SerialSettings last;
    last.portName = file.stringValue(kSection, kPortKey, QString());
    last.baud = file.intValue(kSection, kBaudKey, last.baud);
    last.flow = flowControlFromName(file.stringValue(kSection, kFlowKey, QString()))
                    .value_or(FlowControl::None);
    const bool ask = file.intValue(kSection, kAskKey, 1) != 0;
    if (!ask && last.isValid()) {
        return last;
    }
    const QList<SerialPortChoice> ports = systemPorts();
    if (last.portName.isEmpty() && !ports.isEmpty()) {
        last.portName = ports.front().name;
    }
    if (!m_prompts) {
        m_lastError = QStringLiteral("No serial port is set in %1.").arg(settingsPath());
        failure = DPERR_UNINITIALIZED;
        return std::nullopt;
    }
    const std::optional<SerialSettings> chosen =
        m_ui.askOnUiThread<SerialSettings>([&](PromptReply<SerialSettings> reply) {
            m_prompts->askSerialSettings(ports, last, std::move(reply));
        });
    if (!chosen) {
        failure = DPERR_USERCANCEL;
        return std::nullopt;
    }
    file.setValue(kSection, kPortKey, chosen->portName);
    file.setValue(kSection, kBaudKey, chosen->baud);
    file.setValue(kSection, kFlowKey, flowControlName(chosen->flow));
    file.save(settingsPath());
    return chosen;
}

HRESULT SerialProvider::open(std::unique_ptr<Line>& line, SerialPortLine::Role role) {
    m_lastError.clear();
    HRESULT failure = DP_OK;
    const std::optional<SerialSettings> settings = chooseSettings(failure);
    if (!settings) {
        return failure;
    }
    QString error;
    std::unique_ptr<QIODevice> port;
    if (isNetworkSerialPort(settings->portName)) {
        port = openNetworkSerialPort(*settings, error);
    } else {
        port = openSerialPort(*settings, error);
    }
    if (!port) {
        m_lastError = error;
        if (m_prompts) {
            m_ui.runOnUiThread([this, &error] { m_prompts->showSerialError(error); });
        }
        return DPERR_NOCONNECTION;
    }
    line = std::make_unique<SerialPortLine>(std::move(port), QString(), *settings, role);
    return DP_OK;
}

}  // namespace velmora
