#pragma once

#include "session/Line.h"
#include "session/Transport.h"
#include "session/link/LinkEngine.h"
#include "session/link/SerialSettings.h"
#include "session/modem/HayesDialer.h"

#include <QByteArray>
#include <QString>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

class QSerialPort;
class QThread;

namespace velmora {

class SerialPortLine;

// A modem and how to drive it.
struct ModemPortSettings {
    SerialSettings port;  // the device and the rate between computer and modem
    DialerSettings dialer;
    LinkEngine::Config link;                // the link over the call; its rate is set from CONNECT
    std::uint32_t linkUpTimeoutMs = 15000;  // CONNECT until the other side's link answers
};

// The line over a modem call. A thread of its own owns the modem: in command mode it drives the
// AT dialogue (HayesDialer) with the port; once connected it hands the open port to a
// SerialPortLine, which carries the messages until one side ends the call. Then the thread
// takes the modem back and hangs up (escape with the guard times, ATH0, DTR), so the modem is
// ready for the next call.
//
// Calling: dials once; waitUntilConnected() tells how it went. The line ends with the call.
// Answering: waits for a ring and answers; after a caller's goodbye, or a caller of another
// version, it hangs up and waits for the next call. A call that is lost ends the line.
//
// The loss of a call shows through the link: it hears nothing more from the other side. The
// words the modem puts into the data when the carrier drops ("NO CARRIER") are not looked at,
// as data can hold the same bytes.
class ModemLine : public Line, private LineListener {
public:
    enum class Role { Calling, Answering };

    ModemLine(ModemPortSettings settings, Role role, QByteArray number = {});
    ~ModemLine() override;

    ModemLine(const ModemLine&) = delete;
    ModemLine& operator=(const ModemLine&) = delete;

    void start(LineListener* listener) override;
    bool send(const QByteArray& message) override;
    bool sendInteractive(const QByteArray& message) override;
    // Says goodbye over the link, hangs up, and waits (a bounded time) until the modem is back
    // in command mode.
    void close() override;
    // Answering: after a caller's goodbye or a caller of another version the modem hangs up and
    // answers the next call: true. Calling: the line ends with its call: false.
    bool keepForNextPeer() override { return m_role == Role::Answering; }

    // Calling: waits until the call is up and the other side's link has answered (DP_OK), or the
    // attempt has failed: a MODEMERR_* code from the modem, MODEMERR_NODEVICE when the port
    // cannot be opened, DPERR_NOCONNECTION when the call came up but no link answered,
    // DPERR_INCOMPATIBLEPEER when the other side's link runs another version.
    // On the main thread the event loop turns meanwhile; cancelWait() ends the wait with
    // DPERR_USERCANCEL.
    HRESULT waitUntilConnected();
    void cancelWait();
    // Why the line is down or the call did not come about; for the user.
    QString lastError() const;
    // The rate the modem connected at; 0 before a call or when it did not say.
    std::uint32_t connectRate() const;

private:
    // Sends through the data phase's line, which stays alive during the call; false without one.
    bool sendThroughInner(const std::function<bool(SerialPortLine&)>& send);
    void run();
    // One call: dial or answer, the data phase, the hang-up. False when the line is to end.
    bool oneCall();
    std::unique_ptr<QSerialPort> openPort();
    // Drives the dialer until it is connected, failed or idle, or (unless `toTheEnd`) the line
    // is asked to stop. False when the port failed.
    bool drive(QSerialPort& port, HayesDialer& dialer, bool toTheEnd);
    // Runs the link over the call until it ends; the reason it went down, if it did.
    std::optional<LineDown> carry(std::unique_ptr<QSerialPort> port, std::uint32_t rate);
    // Takes the modem back after the data phase and puts it on-hook.
    void hangUp(HayesDialer& dialer);
    void finishAttempt(HRESULT result, const QString& error);
    // Answering: the line ends for this reason; told once the listener is there.
    void reportDown(LineDown reason);
    std::chrono::milliseconds closeLimit() const;

    // Calls from the SerialPortLine, on its thread.
    void lineUp() override;
    void lineMessage(const QByteArray& message) override;
    void lineDown(LineDown reason) override;

    const ModemPortSettings m_settings;
    const Role m_role;
    const QByteArray m_number;

    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::optional<HRESULT> m_attempt;  // Calling: the outcome, once known
    bool m_waitCancelled = false;
    QString m_lastError;
    std::uint32_t m_rate = 0;
    bool m_started = false;
    bool m_finished = false;
    std::unique_ptr<SerialPortLine> m_inner;  // during the data phase
    int m_innerUsers = 0;                     // calls into m_inner in progress
    std::optional<LineDown> m_innerDown;
    std::atomic<bool> m_stopping{false};

    // Held while the listener is called, so that close() can take it away safely.
    std::recursive_mutex m_listenerMutex;
    LineListener* m_listener = nullptr;

    // A Qt thread, so that the port made on it can work with notifiers.
    std::unique_ptr<QThread> m_thread;
};

}  // namespace velmora
