#include "session/link/SerialPortLine.h"

#include "session/link/LinkTexts.h"
#include "session/link/SerialPortOpener.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QRandomGenerator>
#include <QSerialPort>
#include <QThread>
#include <QTimer>

#include <time.h>

#include <algorithm>

namespace velmora {

namespace {

// Output is handed to the port only while less than this waits in its own buffer, so that the
// link's pacing, not a buffer, decides what goes next.
constexpr qint64 kPortBacklogBytes = 256;

// The processor time the calling thread has taken, in microseconds.
std::int64_t threadCpuMicros() {
    timespec time{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &time);
    return static_cast<std::int64_t>(time.tv_sec) * 1'000'000 + time.tv_nsec / 1000;
}

}  // namespace

SerialPortLine::SerialPortLine(std::unique_ptr<QSerialPort> port, const SerialSettings& settings,
                               Role role, const LinkEngine::Config& tuning)
    : SerialPortLine(std::unique_ptr<QIODevice>(port.release()), {}, settings, role, tuning) {}

SerialPortLine::SerialPortLine(std::unique_ptr<QIODevice> stream, QString name,
                               const SerialSettings& settings, Role role,
                               const LinkEngine::Config& tuning)
    : m_settings(settings),
      m_role(role),
      m_tuning(tuning),
      m_device(!name.isEmpty() ? std::move(name)
               : qobject_cast<QSerialPort*>(stream.get())
                   ? static_cast<QSerialPort*>(stream.get())->portName()
                   : stream->objectName()),
      m_thread(std::make_unique<QThread>()),
      m_context(std::make_unique<QObject>()),
      m_port(std::move(stream)),
      m_serialPort(qobject_cast<QSerialPort*>(m_port.get()) != nullptr),
      m_readPacing(settings.baud / 10) {
    m_clock.start();
    m_engine = std::make_unique<LinkEngine>(engineConfig(), nowMs());
    m_timer = new QTimer(m_context.get());
    m_timer->setSingleShot(true);
    m_timer->setTimerType(Qt::PreciseTimer);
    QObject::connect(m_timer, &QTimer::timeout, m_context.get(), [this] { pump(); });
    m_readClock = new QTimer(m_context.get());
    m_readClock->setSingleShot(true);
    m_readClock->setTimerType(Qt::PreciseTimer);
    QObject::connect(m_readClock, &QTimer::timeout, m_context.get(), [this] { readClockTicked(); });
    QObject::connect(m_port.get(), &QIODevice::readyRead, m_context.get(), [this] { pump(); });
    QObject::connect(m_port.get(), &QIODevice::bytesWritten, m_context.get(), [this] { pump(); });
    if (auto* serialPort = qobject_cast<QSerialPort*>(m_port.get())) {
        // The port's own read notifier, which the read clock turns off during a pause; a port
        // without one is read whenever it signals. Other streams are read whenever they signal.
        for (QSocketNotifier* notifier : serialPort->findChildren<QSocketNotifier*>()) {
            if (notifier->type() == QSocketNotifier::Read) {
                m_readNotifier = notifier;
            }
        }
        QObject::connect(
            serialPort, &QSerialPort::errorOccurred, m_context.get(),
            [this](QSerialPort::SerialPortError error) {
                if (error != QSerialPort::NoError && error != QSerialPort::TimeoutError) {
                    portFailed(m_port->errorString());
                }
            });
    } else {
        QObject::connect(m_port.get(), &QIODevice::readChannelFinished, m_context.get(),
                         [this] { portFailed(m_port->errorString()); });
    }
    m_context->moveToThread(m_thread.get());
    m_port->moveToThread(m_thread.get());
    m_thread->start();
    QMetaObject::invokeMethod(
        m_context.get(), [this] { pump(); }, Qt::QueuedConnection);
}

SerialPortLine::~SerialPortLine() {
    {
        std::lock_guard listenerLock(m_listenerMutex);
        m_listener = nullptr;
    }
    stopPort();
    m_thread->quit();
    m_thread->wait();
}

LinkEngine::Config SerialPortLine::engineConfig() const {
    LinkEngine::Config config = m_tuning;
    config.baud = m_settings.baud;
    config.escapeXonXoff = m_settings.flow == FlowControl::XonXoff;
    do {
        config.nonce = QRandomGenerator::system()->generate();
    } while (config.nonce == 0);
    return config;
}

bool SerialPortLine::onApplicationThread() {
    const QCoreApplication* application = QCoreApplication::instance();
    return application != nullptr && QThread::currentThread() == application->thread();
}

bool SerialPortLine::onOwnThread() const {
    return QThread::currentThread() == m_thread.get();
}

void SerialPortLine::stopPort() {
    const auto stop = [this] {
        m_timer->stop();
        m_readClock->stop();
        if (m_port) {
            // A socket tells of its own closing (readChannelFinished): not a failure here.
            QObject::disconnect(m_port.get(), nullptr, m_context.get(), nullptr);
            m_port->close();
            m_port.reset();
        }
    };
    if (onOwnThread()) {
        stop();
    } else if (m_thread->isRunning()) {
        QMetaObject::invokeMethod(m_context.get(), stop, Qt::BlockingQueuedConnection);
    }
}

void SerialPortLine::portFailed(const QString& text) {
    {
        std::lock_guard lock(m_mutex);
        if (m_portFailed) {
            return;
        }
        m_portFailed = true;
        if (!m_down && !m_closing) {
            m_down = true;
            m_lastError =
                m_serialPort ? portFailedText(m_device, text) : streamFailedText(m_device, text);
            // A caller that never came up hears of it from waitUntilUp().
            if (m_wasUp || m_role == Role::Hosting) {
                m_events.push_back({LinkEvent::Kind::Down, {}, LineDown::Lost, {}});
            }
        }
    }
    m_changed.notify_all();
    m_timer->stop();
    m_readClock->stop();
    if (m_port) {
        m_port->close();
    }
    deliver();
}

void SerialPortLine::pump() {
    if (!m_port || !m_port->isOpen()) {
        deliver();
        return;
    }
    const QByteArray input = m_port->readAll();
    if (m_readNotifier) {
        m_readNotifier->setEnabled(!m_readingByClock);  // reading turned it on again
    }
    QByteArray output;
    std::optional<std::int64_t> deadline;
    bool withheld = false;
    qsizetype partialFrame = 0;
    bool waitersMayGoOn = false;
    const std::int64_t now = nowMs();
    {
        std::lock_guard lock(m_mutex);
        const qsizetype queuedBefore = m_engine->queuedBytes();
        if (!input.isEmpty()) {
            m_engine->feed(input, now);
            partialFrame = m_engine->partialFrameBytes();
        }
        if (const auto due = m_engine->nextDeadlineMs(); due && *due <= now) {
            m_engine->onTimer(now);
        }
        if (m_port->bytesToWrite() < kPortBacklogBytes) {
            output = m_engine->takeOutput(now);
        }
        bool peerLeft = false;
        std::vector<LinkEvent> events = m_engine->takeEvents();
        // Senders wait for room in the queues, callers for the line to come up or go down,
        // close() for the goodbye: only those changes wake them.
        waitersMayGoOn =
            !events.empty() || m_engine->queuedBytes() < queuedBefore || m_engine->isFinished();
        for (LinkEvent& event : events) {
            if (event.kind == LinkEvent::Kind::Up) {
                m_wasUp = true;
                m_down = false;
            } else if (event.kind == LinkEvent::Kind::Down) {
                m_down = true;
                m_refused = event.reason == LineDown::Refused;
                m_lastError = linkDownText(event.cause);
                peerLeft = event.reason == LineDown::PeerClosed;
            }
            if (!m_closing) {
                m_events.push_back(std::move(event));
            }
        }
        if (peerLeft && m_role == Role::Hosting && !m_closing) {
            // The answer to the goodbye is in this output; then wait for the next caller.
            m_engine->restart(engineConfig(), now);
        }
        withheld = output.isEmpty() && m_port->bytesToWrite() >= kPortBacklogBytes;
        deadline = m_engine->nextDeadlineMs();
    }
    if (waitersMayGoOn) {
        m_changed.notify_all();
    }
    if (!input.isEmpty()) {
        pauseReading(m_readPacing.afterRead(input.size(), partialFrame, now));
    }
    if (!output.isEmpty()) {
        m_port->write(output);
    }
    armTimer(deadline, now, withheld);
    deliver();
}

void SerialPortLine::armTimer(std::optional<std::int64_t> dueMs, std::int64_t now, bool withheld) {
    if (!dueMs) {
        m_timer->stop();
        return;
    }
    // Output held back for a full port buffer goes when bytesWritten says so; the timer then
    // only keeps the link's clocks going.
    const std::int64_t due = now + std::clamp<std::int64_t>(*dueMs - now, withheld ? 50 : 0, 60000);
    if (m_timer->isActive() && m_timerDueMs == due) {
        return;  // restarting a timer costs more than the rest of a wake-up
    }
    m_timerDueMs = due;
    m_timer->start(static_cast<int>(due - now));
}

void SerialPortLine::pauseReading(std::optional<std::int64_t> pauseMs) {
    if (!m_readNotifier) {
        return;
    }
    m_readingByClock = pauseMs.has_value();
    m_readNotifier->setEnabled(!m_readingByClock);
    if (pauseMs) {
        m_readClock->start(static_cast<int>(*pauseMs));
    } else {
        m_readClock->stop();
    }
}

void SerialPortLine::readClockTicked() {
    if (!m_port || !m_port->isOpen()) {
        return;
    }
    // What came is read at once and pumped (the port signals it); when nothing came, the frame
    // has stalled or ended and the port's signal takes over again.
    if (!m_port->waitForReadyRead(0)) {
        pauseReading(m_readPacing.afterRead(0, 0, nowMs()));
    }
}

void SerialPortLine::deliver() {
    std::lock_guard listenerLock(m_listenerMutex);
    for (;;) {
        LinkEvent event;
        {
            std::lock_guard lock(m_mutex);
            if (!m_listener || m_events.empty()) {
                return;
            }
            event = std::move(m_events.front());
            m_events.pop_front();
        }
        switch (event.kind) {
            case LinkEvent::Kind::Up:
                m_listener->lineUp();
                break;
            case LinkEvent::Kind::Message:
                m_listener->lineMessage(event.message);
                break;
            case LinkEvent::Kind::Down:
                m_listener->lineDown(event.reason);
                break;
        }
    }
}

void SerialPortLine::start(LineListener* listener) {
    {
        std::lock_guard listenerLock(m_listenerMutex);
        m_listener = listener;
    }
    QMetaObject::invokeMethod(
        m_context.get(), [this] { deliver(); }, Qt::QueuedConnection);
}

bool SerialPortLine::send(const QByteArray& message) {
    return sendInLane(message, Lane::Ordered);
}

bool SerialPortLine::sendInteractive(const QByteArray& message) {
    return sendInLane(message, Lane::Interactive);
}

bool SerialPortLine::sendInLane(const QByteArray& message, Lane lane) {
    {
        std::unique_lock lock(m_mutex);
        // Only a thread of its own (a file sender) waits for room. On the line's own thread (from
        // a listener call) waiting would stop the line itself, and the application's thread,
        // which sends offers, replies, pauses and what the user types, never waits: its
        // messages are few and go past the bound.
        if (!onOwnThread() && !onApplicationThread()) {
            m_changed.wait(lock, [&] {
                return m_closing || m_portFailed || !m_engine->isUp() ||
                       m_engine->canAccept(message.size(), lane);
            });
        }
        // The processor time of this thread, not the wall's: a moment of other work on a busy
        // machine says nothing of what compressing costs.
        const std::int64_t startUs = threadCpuMicros();
        if (m_closing || m_portFailed || !m_engine->send(message, lane)) {
            return false;
        }
        m_engine->sendTook(threadCpuMicros() - startUs);
    }
    QMetaObject::invokeMethod(
        m_context.get(), [this] { pump(); }, Qt::QueuedConnection);
    return true;
}

void SerialPortLine::close() {
    {
        std::lock_guard listenerLock(m_listenerMutex);
        m_listener = nullptr;
    }
    std::chrono::milliseconds limit{0};
    {
        std::lock_guard lock(m_mutex);
        if (m_closing) {
            return;
        }
        m_closing = true;
        m_events.clear();
        m_engine->close(nowMs());
        // What is queued at what the line carries, twice, and time for the goodbye; bounded.
        const std::int64_t drainMs =
            m_engine->queuedBytes() * 2000 / m_engine->lineBytesPerSecond();
        limit = std::chrono::milliseconds(std::min<std::int64_t>(2000 + drainMs, 15000));
    }
    m_changed.notify_all();
    QMetaObject::invokeMethod(
        m_context.get(), [this] { pump(); }, Qt::QueuedConnection);
    if (!onOwnThread()) {
        std::unique_lock lock(m_mutex);
        m_changed.wait_for(lock, limit, [&] { return m_portFailed || m_engine->isFinished(); });
    }
}

bool SerialPortLine::keepForNextPeer() {
    {
        std::lock_guard lock(m_mutex);
        if (m_closing || m_portFailed) {
            return false;
        }
        m_role = Role::Hosting;
        if (m_down) {
            m_engine->restart(engineConfig(), nowMs());
            m_down = false;
        }
    }
    QMetaObject::invokeMethod(
        m_context.get(), [this] { pump(); }, Qt::QueuedConnection);
    return true;
}

bool SerialPortLine::waitUntilUp(std::chrono::milliseconds timeout) {
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, timeout, [&] { return m_wasUp || m_down || m_portFailed; }) &&
           m_wasUp && !m_down;
}

bool SerialPortLine::wasRefused() const {
    std::lock_guard lock(m_mutex);
    return m_down && m_refused;
}

QString SerialPortLine::refusalText() const {
    std::lock_guard lock(m_mutex);
    return m_down && m_refused ? m_lastError : QString();
}

QString SerialPortLine::lastError() const {
    std::lock_guard lock(m_mutex);
    if (!m_lastError.isEmpty()) {
        return m_lastError;
    }
    if (!m_wasUp) {
        return m_serialPort ? noAnswerText(m_device, m_engine->heard())
                            : streamNoAnswerText(m_device);
    }
    return {};
}

}  // namespace velmora
