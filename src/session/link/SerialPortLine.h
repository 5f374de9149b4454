#pragma once

#include "session/Line.h"
#include "session/link/LinkEngine.h"
#include "session/link/ReadPacing.h"
#include "session/link/SerialSettings.h"

#include <QElapsedTimer>
#include <QPointer>
#include <QSocketNotifier>
#include <QString>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>

class QIODevice;
class QObject;
class QSerialPort;
class QThread;
class QTimer;

namespace velmora {

// The line over a serial port, or over another byte stream that carries the same link (a network
// connection): a thread of its own owns the port and drives a LinkEngine with it. The hello
// exchange starts at construction, so a caller can wait for the other side before anything else
// (waitUntilUp); what the line reports before start() is kept and told then.
class SerialPortLine : public Line {
public:
    enum class Role {
        Calling,  // one peer; the line ends with it
        Hosting,  // after a peer's goodbye, waits for the next one
    };

    // Takes an open port, also one that someone else opened and used before (the modem driver
    // after its command phase). Must be called on the thread the port belongs to. The settings
    // give the rate and flow control the link is tuned for; the port is not set up again.
    SerialPortLine(std::unique_ptr<QSerialPort> port, const SerialSettings& settings, Role role,
                   const LinkEngine::Config& tuning = {});
    // Over another open byte stream, named `name` in messages (a network address). Its end, or
    // readChannelFinished, is the port failing, with its errorString(); the link is tuned for
    // `settings.baud`.
    SerialPortLine(std::unique_ptr<QIODevice> stream, QString name, const SerialSettings& settings,
                   Role role, const LinkEngine::Config& tuning = {});
    ~SerialPortLine() override;

    SerialPortLine(const SerialPortLine&) = delete;
    SerialPortLine& operator=(const SerialPortLine&) = delete;

    void start(LineListener* listener) override;
    bool send(const QByteArray& message) override;
    bool sendInteractive(const QByteArray& message) override;
    void close() override;
    // Becomes a host's line: a new hello exchange waits for the next peer on the open port.
    bool keepForNextPeer() override;

    // Waits until the other side has answered the hello, the line is down, or the time is up.
    bool waitUntilUp(std::chrono::milliseconds timeout);
    // Why the line is down, or, before it came up, what was heard from the other side.
    QString lastError() const;
    // Whether the line is down because one side's link runs another version.
    bool wasRefused() const;
    QString refusalText() const override;

private:
    bool sendInLane(const QByteArray& message, Lane lane);
    void pump();
    void armTimer(std::optional<std::int64_t> dueMs, std::int64_t now, bool withheld);
    // Reads on readiness (nothing) or after this pause.
    void pauseReading(std::optional<std::int64_t> pauseMs);
    void readClockTicked();
    void deliver();
    void portFailed(const QString& text);
    void stopPort();
    // The engine's settings with a new random nonce.
    LinkEngine::Config engineConfig() const;
    bool onOwnThread() const;
    static bool onApplicationThread();
    std::int64_t nowMs() const { return m_clock.elapsed(); }

    const SerialSettings m_settings;
    Role m_role;  // under m_mutex once the thread runs
    const LinkEngine::Config m_tuning;
    const QString m_device;
    QElapsedTimer m_clock;

    std::unique_ptr<QThread> m_thread;
    // Living on m_thread, touched only there (after construction).
    std::unique_ptr<QObject> m_context;
    std::unique_ptr<QIODevice> m_port;
    const bool m_serialPort;    // m_port is a QSerialPort: its texts speak of a serial port
    QTimer* m_timer = nullptr;  // owned by m_context
    std::int64_t m_timerDueMs = 0;
    // Inside a frame the port may be read after a pause instead of whenever bytes come (for a
    // serial port, every few bytes): the port's own read notifier is off meanwhile.
    ReadPacing m_readPacing;
    QPointer<QSocketNotifier> m_readNotifier;  // the port's
    QTimer* m_readClock = nullptr;             // owned by m_context
    bool m_readingByClock = false;

    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::unique_ptr<LinkEngine> m_engine;
    std::deque<LinkEvent> m_events;  // not yet told to the listener
    bool m_wasUp = false;
    bool m_down = false;     // the current peer is gone (or the port failed)
    bool m_refused = false;  // and went as a link of another version
    bool m_portFailed = false;
    bool m_closing = false;
    QString m_lastError;

    // Held while the listener is called, so that close() can take it away safely.
    std::recursive_mutex m_listenerMutex;
    LineListener* m_listener = nullptr;
};

}  // namespace velmora
