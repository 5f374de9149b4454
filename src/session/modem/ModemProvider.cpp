#include "session/modem/ModemProvider.h"

#include "session/Windows1252.h"
#include "session/link/SerialPortOpener.h"
#include "session/link/SerialProvider.h"
#include "session/modem/ModemResults.h"

#include <QSerialPort>

namespace velmora {

QByteArray dialString(const QString& number) {
    QByteArray dial;
    for (const QChar c : number) {
        const char latin = c.toUpper().toLatin1();
        if ((latin >= '0' && latin <= '9') || QByteArrayView("*#,W@!PT").contains(latin)) {
            dial += latin;
        }
    }
    return dial;
}

ModemProvider::ModemProvider(QString dataFolder, ModemPrompts* prompts,
                             ModemProviderOptions options)
    : m_dataFolder(std::move(dataFolder)), m_prompts(prompts), m_options(std::move(options)) {}

HRESULT ModemProvider::initialize(const Address& address) {
    m_choice = {};
    for (const AddressElement& element : address) {
        if (element.dataType == guids::AddressModem) {
            m_choice.modem = fromWindows1252Field(element.data);
        } else if (element.dataType == guids::AddressPhone) {
            m_choice.phone = fromWindows1252Field(element.data);
        }
    }
    return DP_OK;
}

QList<SerialPortChoice> ModemProvider::systemPorts() const {
    return m_options.systemPorts ? m_options.systemPorts() : SerialProvider::systemPorts();
}

HRESULT ModemProvider::modemNames(QStringList& names) {
    names.clear();
    QList<ModemEntry> modems;
    const QList<SerialPortChoice> ports = systemPorts();
    const HRESULT read = readModemList(m_dataFolder, ports, modems, m_lastError);
    for (const ModemEntry& modem : modems) {
        names.append(modem.name);
    }
    return read;
}

HRESULT ModemProvider::fail(HRESULT result, const QString& error, bool tellUser) {
    m_lastError = error;
    if (tellUser && m_prompts) {
        m_ui.runOnUiThread([this, &error] { m_prompts->showModemError(error); });
    }
    return result;
}

HRESULT ModemProvider::choose(bool calling, ModemEntry& modem) {
    const QList<SerialPortChoice> ports = systemPorts();
    QList<ModemEntry> modems;
    QString listError;
    // An unreadable list leaves the modems the system has and devices typed by hand.
    readModemList(m_dataFolder, ports, modems, listError);

    if (m_choice.modem.isEmpty() || (calling && dialString(m_choice.phone).isEmpty())) {
        if (!m_prompts) {
            return fail(DPERR_UNINITIALIZED,
                        QStringLiteral("No modem or no number to dial was given."), false);
        }
        const ModemChoice last = readLastModemChoice(m_dataFolder);
        ModemChoice preset = m_choice;
        if (preset.modem.isEmpty()) {
            preset.modem = last.modem;
        }
        if (preset.phone.isEmpty()) {
            preset.phone = last.phone;
        }
        // The list's modems, then the system's other ports ("Other modem...").
        QStringList offered;
        for (const ModemEntry& entry : modems) {
            offered.append(entry.name);
        }
        for (const SerialPortChoice& port : ports) {
            const bool listed = std::any_of(modems.begin(), modems.end(), [&](const auto& entry) {
                return serialDevicePath(entry.device) == serialDevicePath(port.name);
            });
            if (!listed) {
                offered.append(port.name);
            }
        }
        const std::optional<ModemChoice> answer =
            m_ui.askOnUiThread<ModemChoice>([&](PromptReply<ModemChoice> reply) {
                m_prompts->askModem(offered, preset, calling, std::move(reply));
            });
        if (!answer) {
            return DPERR_USERCANCEL;
        }
        m_choice.modem = answer->modem;
        if (calling) {
            m_choice.phone = answer->phone;
        }
        writeLastModemChoice(m_dataFolder, {m_choice.modem, calling ? m_choice.phone : last.phone});
    }

    if (const std::optional<ModemEntry> listed = findModem(modems, m_choice.modem)) {
        modem = *listed;
        return DP_OK;
    }
    const bool systemPort = std::any_of(
        ports.begin(), ports.end(), [&](const auto& port) { return port.name == m_choice.modem; });
    if (m_choice.modem.contains(QLatin1Char('/')) || systemPort) {
        modem = ModemEntry{};
        modem.name = m_choice.modem;
        modem.device = m_choice.modem;
        return DP_OK;
    }
    return fail(
        MODEMERR_NODEVICE,
        listError.isEmpty()
            ? QStringLiteral("The modem \"%1\" is not in the modem list.").arg(m_choice.modem)
            : listError,
        true);
}

ModemPortSettings ModemProvider::portSettings(const ModemEntry& modem) const {
    ModemPortSettings settings;
    settings.port.portName = modem.device;
    settings.port.baud = modem.baud;
    settings.port.flow = modem.flow;
    settings.dialer = m_options.dialer;
    settings.dialer.initString = modem.initString;
    settings.dialer.pulseDial = modem.pulseDial;
    settings.link = m_options.link;
    settings.linkUpTimeoutMs = m_options.linkUpTimeoutMs;
    return settings;
}

HRESULT ModemProvider::connect(std::unique_ptr<Line>& line) {
    m_lastError.clear();
    ModemEntry modem;
    if (const HRESULT chosen = choose(true, modem); chosen != DP_OK) {
        return chosen;
    }
    const QByteArray number = dialString(m_choice.phone);
    auto call = std::make_unique<ModemLine>(portSettings(modem), ModemLine::Role::Calling, number);
    {
        const std::lock_guard lock(m_dialMutex);
        if (m_cancelled) {
            return DPERR_USERCANCEL;  // the call hangs up as it goes
        }
        m_dialling = call.get();
    }
    const HRESULT result = call->waitUntilConnected();
    {
        const std::lock_guard lock(m_dialMutex);
        m_dialling = nullptr;
    }
    if (result == DPERR_USERCANCEL) {
        return result;  // the call is hung up as it goes
    }
    if (result != DP_OK) {
        // A modem that cannot be opened is worth telling; a busy line the caller reports.
        return fail(result, call->lastError(), result == MODEMERR_NODEVICE);
    }
    line = std::move(call);
    return DP_OK;
}

void ModemProvider::cancelConnect() {
    const std::lock_guard lock(m_dialMutex);
    m_cancelled = true;
    if (m_dialling) {
        m_dialling->cancelWait();
    }
}

HRESULT ModemProvider::listen(std::unique_ptr<Line>& line) {
    m_lastError.clear();
    ModemEntry modem;
    if (const HRESULT chosen = choose(false, modem); chosen != DP_OK) {
        return chosen;
    }
    // The host learns now, not at the first call, that its modem cannot be used.
    const ModemPortSettings settings = portSettings(modem);
    QString error;
    if (!openSerialPort(settings.port, error)) {
        return fail(MODEMERR_NODEVICE, error, true);
    }
    line = std::make_unique<ModemLine>(settings, ModemLine::Role::Answering);
    return DP_OK;
}

}  // namespace velmora
