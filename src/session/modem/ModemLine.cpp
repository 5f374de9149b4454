#include "session/modem/ModemLine.h"

#include "session/link/SerialPortLine.h"
#include "session/link/SerialPortOpener.h"
#include "session/modem/ModemResults.h"
#include "session/service/SessionWire.h"

#include <QSerialPort>
#include <QThread>

#include <algorithm>

namespace velmora {

namespace {

// How often the command phase looks whether it is asked to stop.
constexpr int kPollMs = 20;

std::uint32_t steadyMs() {
    return static_cast<std::uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                          std::chrono::steady_clock::now().time_since_epoch())
                                          .count());
}

QString describeFailure(HRESULT result) {
    switch (result) {
        case MODEMERR_BUSY:
            return QStringLiteral("The line is busy.");
        case MODEMERR_NOCARRIER:
            return QStringLiteral("No carrier: no modem answered the call.");
        case MODEMERR_NODIALTONE:
            return QStringLiteral("No dial tone: is the modem's telephone line plugged in?");
        case MODEMERR_NOANSWER:
            return QStringLiteral("No answer from the number called.");
        case MODEMERR_ERROR:
            return QStringLiteral(
                "The modem refused a command (ERROR): check the init string in its settings.");
        case MODEMERR_TIMEOUT:
            return QStringLiteral("The modem did not answer in time: is it switched on?");
        default:
            return QStringLiteral("The call did not come about.");
    }
}

}  // namespace

ModemLine::ModemLine(ModemPortSettings settings, Role role, QByteArray number)
    : m_settings(std::move(settings)),
      m_role(role),
      m_number(std::move(number)),
      m_thread(QThread::create([this] { run(); })) {
    m_thread->start();
}

ModemLine::~ModemLine() {
    close();
    m_thread->wait();
}

std::chrono::milliseconds ModemLine::closeLimit() const {
    // The link's goodbye (bounded by the serial line itself), then escape and hang-up.
    const DialerSettings& d = m_settings.dialer;
    return std::chrono::milliseconds(17000 + 2 * d.guardTimeMs + 3 * d.commandTimeoutMs +
                                     d.dtrDropMs);
}

void ModemLine::run() {
    while (!m_stopping && oneCall()) {
    }
    {
        const std::lock_guard lock(m_mutex);
        m_finished = true;
        if (!m_attempt) {
            m_attempt = DPERR_NOCONNECTION;
        }
    }
    m_changed.notify_all();
}

std::unique_ptr<QSerialPort> ModemLine::openPort() {
    QString error;
    std::unique_ptr<QSerialPort> port = openSerialPort(m_settings.port, error);
    if (!port) {
        finishAttempt(MODEMERR_NODEVICE, error);
        return nullptr;
    }
    // Whatever the modem said while no one listened belongs to no command of ours.
    port->clear(QSerialPort::Input);
    return port;
}

bool ModemLine::oneCall() {
    std::unique_ptr<QSerialPort> port = openPort();
    if (!port) {
        reportDown(LineDown::Lost);
        return false;
    }
    HayesDialer dialer(m_settings.dialer);
    if (m_role == Role::Calling) {
        dialer.dial(m_number, steadyMs());
    } else {
        dialer.answer(steadyMs());
    }
    const bool portWorks = drive(*port, dialer, false);
    if (dialer.state() != HayesDialer::State::Connected) {
        if (!portWorks) {
            finishAttempt(MODEMERR_NODEVICE,
                          QStringLiteral("The modem's port %1 failed: %2.")
                              .arg(m_settings.port.portName, port->errorString()));
        } else if (dialer.state() == HayesDialer::State::Failed) {
            finishAttempt(dialer.result(), describeFailure(dialer.result()));
        }
        if (!m_stopping) {
            reportDown(LineDown::Lost);
        }
        if (portWorks) {
            dialer.hangUp(steadyMs());
            drive(*port, dialer, true);
        }
        return false;
    }
    {
        const std::lock_guard lock(m_mutex);
        m_rate = dialer.connectRate();
    }
    const std::optional<LineDown> down = carry(std::move(port), dialer.connectRate());
    hangUp(dialer);
    return m_role == Role::Answering && (down == LineDown::PeerClosed || down == LineDown::Refused);
}

bool ModemLine::drive(QSerialPort& port, HayesDialer& dialer, bool toTheEnd) {
    bool dtr = true;
    for (;;) {
        const QByteArray output = dialer.takeOutput();
        if (!output.isEmpty()) {
            port.write(output);
            port.waitForBytesWritten(static_cast<int>(m_settings.dialer.commandTimeoutMs));
        }
        if (dialer.dtr() != dtr) {
            dtr = dialer.dtr();
            // Not every port has the line (a pseudo-terminal has none): then this does nothing.
            port.setDataTerminalReady(dtr);
        }
        const QSerialPort::SerialPortError error = port.error();
        if (error == QSerialPort::ResourceError || error == QSerialPort::DeviceNotFoundError ||
            error == QSerialPort::PermissionError || error == QSerialPort::NotOpenError) {
            return false;
        }
        port.clearError();
        const HayesDialer::State state = dialer.state();
        if (state == HayesDialer::State::Connected || state == HayesDialer::State::Failed ||
            state == HayesDialer::State::Idle || (!toTheEnd && m_stopping)) {
            return true;
        }
        int waitMs = kPollMs;
        if (const auto deadline = dialer.nextDeadlineMs()) {
            const auto left = static_cast<std::int32_t>(*deadline - steadyMs());
            waitMs = std::clamp<std::int32_t>(left, 0, kPollMs);
        }
        if (port.bytesAvailable() > 0 || port.waitForReadyRead(waitMs)) {
            dialer.receive(port.readAll(), steadyMs());
        }
        dialer.tick(steadyMs());
    }
}

std::optional<LineDown> ModemLine::carry(std::unique_ptr<QSerialPort> port, std::uint32_t rate) {
    // The link is paced for the call's rate, not the faster one between computer and modem.
    SerialSettings linkSettings = m_settings.port;
    if (rate >= static_cast<std::uint32_t>(SerialSettings::kMinBaud)) {
        linkSettings.baud = std::min(linkSettings.baud, static_cast<int>(rate));
    }
    auto line = std::make_unique<SerialPortLine>(std::move(port), linkSettings,
                                                 SerialPortLine::Role::Calling, m_settings.link);
    SerialPortLine* const inner = line.get();
    bool startNow = false;
    {
        const std::lock_guard lock(m_mutex);
        m_inner = std::move(line);
        m_innerDown.reset();
        startNow = m_started;
    }
    // Only this thread destroys the inner line, so it lives on here without a count.
    if (startNow) {
        inner->start(this);
    }
    bool up = true;
    if (m_role == Role::Calling) {
        up = inner->waitUntilUp(std::chrono::milliseconds(m_settings.linkUpTimeoutMs));
        const HRESULT notUp = inner->wasRefused() ? DPERR_INCOMPATIBLEPEER : DPERR_NOCONNECTION;
        finishAttempt(up ? DP_OK : notUp, up ? QString() : inner->lastError());
    }
    std::optional<LineDown> down;
    std::unique_ptr<SerialPortLine> taken;
    {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [&] { return !up || m_stopping || m_innerDown.has_value(); });
        down = m_innerDown;
        taken = std::move(m_inner);
    }
    // A goodbye if the link still works; it also lets every send waiting on it return.
    taken->close();
    {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [&] { return m_innerUsers == 0; });
        if (down && m_lastError.isEmpty()) {
            m_lastError = taken->lastError();
        }
    }
    taken.reset();  // closes the port
    return down;
}

void ModemLine::hangUp(HayesDialer& dialer) {
    std::unique_ptr<QSerialPort> port = openPort();
    if (!port) {
        return;  // the modem is gone; nothing to hang up
    }
    dialer.hangUp(steadyMs());
    drive(*port, dialer, true);
}

void ModemLine::finishAttempt(HRESULT result, const QString& error) {
    {
        const std::lock_guard lock(m_mutex);
        if (!m_attempt) {
            m_attempt = result;
        }
        if (!error.isEmpty()) {
            m_lastError = error;
        }
    }
    m_changed.notify_all();
}

void ModemLine::reportDown(LineDown reason) {
    if (m_role != Role::Answering) {
        return;  // a caller learns of it from waitUntilConnected()
    }
    {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [&] { return m_started || m_stopping.load(); });
    }
    const std::lock_guard listenerLock(m_listenerMutex);
    if (m_listener) {
        m_listener->lineDown(reason);
    }
}

void ModemLine::start(LineListener* listener) {
    {
        const std::lock_guard listenerLock(m_listenerMutex);
        m_listener = listener;
    }
    SerialPortLine* inner = nullptr;
    {
        const std::lock_guard lock(m_mutex);
        m_started = true;
        if (m_inner) {
            inner = m_inner.get();
            ++m_innerUsers;
        }
    }
    m_changed.notify_all();
    if (inner) {
        inner->start(this);
        {
            const std::lock_guard lock(m_mutex);
            --m_innerUsers;
        }
        m_changed.notify_all();
    }
}

bool ModemLine::send(const QByteArray& message) {
    return sendThroughInner([&message](SerialPortLine& inner) { return inner.send(message); });
}

bool ModemLine::sendInteractive(const QByteArray& message) {
    return sendThroughInner(
        [&message](SerialPortLine& inner) { return inner.sendInteractive(message); });
}

bool ModemLine::sendThroughInner(const std::function<bool(SerialPortLine&)>& send) {
    SerialPortLine* inner = nullptr;
    {
        const std::lock_guard lock(m_mutex);
        if (!m_inner || m_stopping) {
            return false;
        }
        inner = m_inner.get();
        ++m_innerUsers;
    }
    const bool sent = send(*inner);
    {
        const std::lock_guard lock(m_mutex);
        --m_innerUsers;
    }
    m_changed.notify_all();
    return sent;
}

void ModemLine::close() {
    {
        const std::lock_guard listenerLock(m_listenerMutex);
        m_listener = nullptr;
    }
    {
        const std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_changed.notify_all();
    std::unique_lock lock(m_mutex);
    m_changed.wait_for(lock, closeLimit(), [&] { return m_finished; });
}

HRESULT ModemLine::waitUntilConnected() {
    std::unique_lock lock(m_mutex);
    m_changed.wait(lock, [this] { return m_attempt || m_waitCancelled; });
    return m_attempt.value_or(DPERR_USERCANCEL);
}

void ModemLine::cancelWait() {
    const std::lock_guard lock(m_mutex);
    m_waitCancelled = true;
    m_changed.notify_all();
}

QString ModemLine::lastError() const {
    const std::lock_guard lock(m_mutex);
    return m_lastError;
}

std::uint32_t ModemLine::connectRate() const {
    const std::lock_guard lock(m_mutex);
    return m_rate;
}

void ModemLine::lineUp() {
    const std::lock_guard listenerLock(m_listenerMutex);
    if (m_listener) {
        m_listener->lineUp();
    }
}

void ModemLine::lineMessage(const QByteArray& message) {
    const std::lock_guard listenerLock(m_listenerMutex);
    if (m_listener) {
        m_listener->lineMessage(message);
    }
}

void ModemLine::lineDown(LineDown reason) {
    {
        const std::lock_guard lock(m_mutex);
        m_innerDown = reason;
    }
    m_changed.notify_all();
    const std::lock_guard listenerLock(m_listenerMutex);
    if (m_listener) {
        m_listener->lineDown(reason);
    }
}

}  // namespace velmora
