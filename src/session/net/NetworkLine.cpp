#include "session/net/NetworkLine.h"

#include "session/link/SerialPortLine.h"
#include "session/net/NetworkPrompts.h"
#include "session/net/SecureSocket.h"

#include <QMetaObject>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <QTimer>

namespace velmora {

std::unique_ptr<NetworkLine> NetworkLine::listen(const QHostAddress& address, std::uint16_t port,
                                                 PassphraseKey key, NetworkPrompts* prompts,
                                                 QString& error, const Tuning& tuning) {
    std::unique_ptr<NetworkLine> line(new NetworkLine(std::move(key), prompts, tuning));
    bool bound = false;
    QMetaObject::invokeMethod(
        line->m_context.get(), [&] { bound = line->bind(address, port, error); },
        Qt::BlockingQueuedConnection);
    if (!bound) {
        return nullptr;
    }
    return line;
}

NetworkLine::NetworkLine(PassphraseKey key, NetworkPrompts* prompts, const Tuning& tuning)
    : m_key(std::move(key)),
      m_prompts(prompts),
      m_tuning(tuning),
      m_thread(std::make_unique<QThread>()),
      m_context(std::make_unique<QObject>()) {
    m_clock.start();
    m_context->moveToThread(m_thread.get());
    m_thread->start();
}

NetworkLine::~NetworkLine() {
    {
        std::lock_guard listenerLock(m_listenerMutex);
        m_listener = nullptr;
    }
    std::unique_ptr<SerialPortLine> session;
    {
        std::unique_lock lock(m_sessionMutex);
        m_closing = true;
        session = std::move(m_session);
    }
    session.reset();
    // The sockets are let go on their own thread; the rest goes with m_context once it stopped.
    QMetaObject::invokeMethod(
        m_context.get(),
        [this] {
            m_handshakeTimer->stop();
            m_throttleTimer->stop();
            delete m_handshaking;
            delete m_server;
        },
        Qt::BlockingQueuedConnection);
    m_thread->quit();
    m_thread->wait();
}

bool NetworkLine::bind(const QHostAddress& address, std::uint16_t port, QString& error) {
    m_server = new QTcpServer(m_context.get());
    m_handshakeTimer = new QTimer(m_context.get());
    m_handshakeTimer->setSingleShot(true);
    QObject::connect(m_handshakeTimer, &QTimer::timeout, m_context.get(),
                     [this] { handshakeTimedOut(); });
    m_throttleTimer = new QTimer(m_context.get());
    m_throttleTimer->setSingleShot(true);
    QObject::connect(m_throttleTimer, &QTimer::timeout, m_context.get(),
                     [this] { takeNextCaller(); });
    QObject::connect(m_server, &QTcpServer::newConnection, m_context.get(),
                     [this] { takeNextCaller(); });
    if (!m_server->listen(address, port)) {
        error = QStringLiteral("Cannot wait for calls on %1 port %2: %3.")
                    .arg(address.toString())
                    .arg(port)
                    .arg(m_server->errorString());
        return false;
    }
    m_port = m_server->serverPort();
    return true;
}

void NetworkLine::takeNextCaller() {
    {
        std::shared_lock lock(m_sessionMutex);
        if (m_closing || m_session) {
            return;
        }
    }
    {
        std::lock_guard listenerLock(m_listenerMutex);
        if (!m_listener) {
            return;  // start() takes the first caller
        }
    }
    if (m_handshaking || !m_server->hasPendingConnections()) {
        return;
    }
    const std::int64_t wait = m_throttle.nextCallerAtMs() - nowMs();
    if (wait > 0) {
        m_throttleTimer->start(static_cast<int>(wait));
        return;
    }
    std::unique_ptr<QTcpSocket> socket(m_server->nextPendingConnection());
    socket->setParent(nullptr);
    // The outcome is handled after the socket's own call has returned: the socket may then move
    // to the session line's thread.
    m_handshakeTimer->start(static_cast<int>(m_tuning.handshakeLimitMs));
    m_handshaking =
        new SecureSocket(std::move(socket), SecureStream::host(m_key.salt, m_key.key), [this] {
            QMetaObject::invokeMethod(
                m_context.get(), [this] { handshakeSettled(); }, Qt::QueuedConnection);
        });
    m_handshaking->setParent(m_context.get());
}

void NetworkLine::handshakeSettled() {
    SecureSocket* secure = m_handshaking;
    if (secure == nullptr) {
        return;
    }
    m_handshakeTimer->stop();
    if (secure->state() != SecureStream::State::Open) {
        if (secure->failure() == SecureStream::Failure::WrongPassphrase) {
            m_throttle.refused(nowMs());
        }
        turnAway(secure->errorString());
        return;
    }
    m_throttle.admitted();
    m_handshaking = nullptr;
    secure->setParent(nullptr);
    const QString peer = secure->peerText();
    SerialSettings settings;
    settings.portName = peer;
    settings.baud = kNetworkLinkBaud;
    auto session =
        std::make_unique<SerialPortLine>(std::unique_ptr<QIODevice>(secure), peer, settings,
                                         SerialPortLine::Role::Calling, m_tuning.link);
    SerialPortLine* started = session.get();
    {
        std::unique_lock lock(m_sessionMutex);
        if (m_closing) {
            return;  // the session line closes unused
        }
        m_session = std::move(session);
    }
    started->start(this);
}

void NetworkLine::handshakeTimedOut() {
    if (m_handshaking) {
        turnAway(QStringLiteral("A caller at %1 was turned away: it did not finish the handshake "
                                "in %2 seconds.")
                     .arg(m_handshaking->peerText())
                     .arg(m_tuning.handshakeLimitMs / 1000.0));
    }
}

void NetworkLine::turnAway(const QString& why) {
    if (m_handshaking) {
        m_handshaking->close();
        m_handshaking->deleteLater();
        m_handshaking = nullptr;
    }
    if (m_prompts) {
        m_prompts->callerRefused(why);
    }
    takeNextCaller();
}

void NetworkLine::dropSession() {
    std::unique_ptr<SerialPortLine> ended;
    {
        std::unique_lock lock(m_sessionMutex);
        ended = std::move(m_session);
    }
    ended.reset();
    takeNextCaller();
}

void NetworkLine::start(LineListener* listener) {
    {
        std::lock_guard listenerLock(m_listenerMutex);
        m_listener = listener;
    }
    QMetaObject::invokeMethod(
        m_context.get(), [this] { takeNextCaller(); }, Qt::QueuedConnection);
}

bool NetworkLine::send(const QByteArray& message) {
    std::shared_lock lock(m_sessionMutex);
    return m_session && !m_closing && m_session->send(message);
}

bool NetworkLine::sendInteractive(const QByteArray& message) {
    std::shared_lock lock(m_sessionMutex);
    return m_session && !m_closing && m_session->sendInteractive(message);
}

void NetworkLine::close() {
    {
        std::lock_guard listenerLock(m_listenerMutex);
        m_listener = nullptr;
    }
    {
        std::shared_lock lock(m_sessionMutex);
        if (m_session) {
            m_session->close();  // the goodbye, bounded
        }
    }
    std::unique_lock lock(m_sessionMutex);
    m_closing = true;
}

bool NetworkLine::keepForNextPeer() {
    {
        std::shared_lock lock(m_sessionMutex);
        if (m_closing) {
            return false;
        }
    }
    // Called from the session line's own listener call: it is let go on this line's thread.
    QMetaObject::invokeMethod(
        m_context.get(), [this] { dropSession(); }, Qt::QueuedConnection);
    return true;
}

QString NetworkLine::refusalText() const {
    std::shared_lock lock(m_sessionMutex);
    return m_session ? m_session->refusalText() : QString();
}

void NetworkLine::lineUp() {
    std::lock_guard listenerLock(m_listenerMutex);
    if (m_listener) {
        m_listener->lineUp();
    }
}

void NetworkLine::lineMessage(const QByteArray& message) {
    std::lock_guard listenerLock(m_listenerMutex);
    if (m_listener) {
        m_listener->lineMessage(message);
    }
}

void NetworkLine::lineDown(LineDown reason) {
    {
        std::lock_guard listenerLock(m_listenerMutex);
        if (m_listener) {
            m_listener->lineDown(reason);
        }
    }
    if (reason != LineDown::PeerClosed) {
        return;
    }
    // The caller said goodbye and closed its connection: the host waits for the next caller,
    // which only a new connection can bring. Let go on this line's thread, as keepForNextPeer
    // does for a refused caller.
    std::shared_lock lock(m_sessionMutex);
    if (!m_closing) {
        QMetaObject::invokeMethod(
            m_context.get(), [this] { dropSession(); }, Qt::QueuedConnection);
    }
}

}  // namespace velmora
