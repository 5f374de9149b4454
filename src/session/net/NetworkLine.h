#pragma once

#include "session/Line.h"
#include "session/link/LinkEngine.h"
#include "session/net/AttemptThrottle.h"
#include "session/net/PassphraseKey.h"

#include <QElapsedTimer>
#include <QHostAddress>
#include <QPointer>
#include <QString>

#include <cstdint>
#include <memory>
#include <mutex>
#include <shared_mutex>

class QObject;
class QTcpServer;
class QThread;
class QTimer;

namespace velmora {

class NetworkPrompts;
class SecureSocket;
class SerialPortLine;

// What a network line's link is tuned for: the link paces its output at this rate, far above
// what a cable carries, so that TCP, not the link's pacing, decides the speed.
inline constexpr int kNetworkLinkBaud = 1'000'000'000;

// A host's line over TCP/IP: a thread of its own listens on the address, takes one caller at a
// time and runs the passphrase handshake with it (SecureSocket); a caller that proves the key
// gets the serial link over the encrypted stream (a SerialPortLine, whose calls are passed on).
// A caller that sends garbage, says nothing for `handshakeLimitMs`, leaves in the handshake or
// fails the key proof is turned away with a notice (NetworkPrompts::callerRefused), the next one
// taken; after a failed key proof only after the throttle's pause. After a caller's goodbye its
// connection is let go and the line waits for the next caller.
class NetworkLine : public Line, private LineListener {
public:
    struct Tuning {
        std::int64_t handshakeLimitMs = 10000;
        LinkEngine::Config link;  // the baud is set to kNetworkLinkBaud
    };

    // Listens on address:port (port 0: one the system chooses). Nothing, with `error` saying
    // why, when the address cannot be bound. Called on any thread.
    static std::unique_ptr<NetworkLine> listen(const QHostAddress& address, std::uint16_t port,
                                               PassphraseKey key, NetworkPrompts* prompts,
                                               QString& error, const Tuning& tuning);
    ~NetworkLine() override;

    NetworkLine(const NetworkLine&) = delete;
    NetworkLine& operator=(const NetworkLine&) = delete;

    // The port listened on.
    std::uint16_t port() const { return m_port; }

    void start(LineListener* listener) override;
    bool send(const QByteArray& message) override;
    bool sendInteractive(const QByteArray& message) override;
    void close() override;
    bool keepForNextPeer() override;
    QString refusalText() const override;

private:
    NetworkLine(PassphraseKey key, NetworkPrompts* prompts, const Tuning& tuning);

    // On the line's thread.
    bool bind(const QHostAddress& address, std::uint16_t port, QString& error);
    void takeNextCaller();
    void handshakeSettled();
    void handshakeTimedOut();
    void turnAway(const QString& why);
    void dropSession();
    std::int64_t nowMs() const { return m_clock.elapsed(); }

    void lineUp() override;
    void lineMessage(const QByteArray& message) override;
    void lineDown(LineDown reason) override;

    const PassphraseKey m_key;
    NetworkPrompts* const m_prompts;
    const Tuning m_tuning;
    QElapsedTimer m_clock;
    std::uint16_t m_port = 0;

    std::unique_ptr<QThread> m_thread;
    // Living on m_thread, touched only there.
    std::unique_ptr<QObject> m_context;
    QTcpServer* m_server = nullptr;        // owned by m_context
    QTimer* m_handshakeTimer = nullptr;    // owned by m_context
    QTimer* m_throttleTimer = nullptr;     // owned by m_context
    QPointer<SecureSocket> m_handshaking;  // the caller in the handshake, owned by m_context
    AttemptThrottle m_throttle;

    // The caller's link once it proved the key; replaced between callers under the unique lock,
    // used by senders under the shared one.
    mutable std::shared_mutex m_sessionMutex;
    std::unique_ptr<SerialPortLine> m_session;
    bool m_closing = false;  // under m_sessionMutex

    std::recursive_mutex m_listenerMutex;
    LineListener* m_listener = nullptr;
};

}  // namespace velmora
