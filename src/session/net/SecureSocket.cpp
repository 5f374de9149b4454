#include "session/net/SecureSocket.h"

#include <QDeadlineTimer>
#include <QTcpSocket>

#include <algorithm>
#include <utility>

namespace velmora {

QString secureFailureText(SecureStream::Failure failure, const QString& peer, bool hosting) {
    switch (failure) {
        case SecureStream::Failure::WrongPassphrase:
            return hosting ? QStringLiteral(
                                 "A caller at %1 was turned away: its passphrase is not "
                                 "the same as this one.")
                                 .arg(peer)
                           : QStringLiteral(
                                 "The passphrase is not the same as the other "
                                 "computer's (%1): no connection was made.")
                                 .arg(peer);
        case SecureStream::Failure::NotVelmora:
            return hosting ? QStringLiteral("A caller at %1 was turned away: it is not a Velmora.")
                                 .arg(peer)
                           : QStringLiteral(
                                 "What answered at %1 is not a Velmora waiting for a "
                                 "call.")
                                 .arg(peer);
        case SecureStream::Failure::OtherVersion:
            return QStringLiteral(
                       "The Velmora at %1 speaks another version of the network line: both "
                       "sides need the same version of Velmora.")
                .arg(peer);
        case SecureStream::Failure::PeerClosed:
            return QStringLiteral("The other computer (%1) closed the connection.").arg(peer);
        case SecureStream::Failure::Broken:
        case SecureStream::Failure::None:
            break;
    }
    return QStringLiteral("The secure connection with %1 failed.").arg(peer);
}

SecureSocket::SecureSocket(std::unique_ptr<QTcpSocket> socket, SecureStream stream,
                           std::function<void()> settled, DeriveKey deriveKey)
    : SocketStream(std::move(socket)),
      m_stream(std::move(stream)),
      m_deriveKey(std::move(deriveKey)),
      m_settled(std::move(settled)),
      m_hosting(m_stream.role() == SecureStream::Role::Host) {
    const QTcpSocket& connected = this->socket();
    const QString host =
        connected.peerName().isEmpty() ? connected.peerAddress().toString() : connected.peerName();
    m_peer = QStringLiteral("%1:%2").arg(host).arg(connected.peerPort());
    setObjectName(m_peer);
    flushOutput();  // a host's greeting
    if (connected.bytesAvailable() > 0) {
        socketReadable();
    }
}

void SecureSocket::settle() {
    if (m_settled) {
        std::exchange(m_settled, {})();
    }
}

void SecureSocket::flushOutput() {
    const QByteArray output = m_stream.takeOutput();
    if (!output.isEmpty() && socket().state() == QAbstractSocket::ConnectedState) {
        socket().write(output);
    }
}

void SecureSocket::socketReadable() {
    const SecureStream::State before = m_stream.state();
    m_stream.feed(socket().readAll());
    if (m_stream.state() == SecureStream::State::NeedKey) {
        const std::optional<QByteArray> key =
            m_deriveKey ? m_deriveKey(m_stream.salt()) : std::nullopt;
        if (!key) {
            flushOutput();
            ended(QStringLiteral("The key could not be derived from the passphrase."));
            return;
        }
        m_stream.setKey(*key);
        // The host's bytes that came meanwhile go to the handshake now.
        m_stream.feed(socket().readAll());
    }
    flushOutput();
    const QByteArray plain = m_stream.takePlain();
    if (m_stream.state() == SecureStream::State::Ended) {
        ended(secureFailureText(m_stream.failure(), m_peer, m_hosting));
    } else if (before != SecureStream::State::Open &&
               m_stream.state() == SecureStream::State::Open) {
        settle();
    }
    deliver(plain);
}

void SecureSocket::socketEnded() {
    if (hasEnded()) {
        return;
    }
    m_socketFailed = true;
    const bool closed = socket().error() == QAbstractSocket::RemoteHostClosedError ||
                        socket().state() == QAbstractSocket::UnconnectedState;
    if (m_hosting && m_stream.state() != SecureStream::State::Open) {
        ended(QStringLiteral("A caller at %1 was turned away: %2.")
                  .arg(m_peer, closed ? QStringLiteral("it left during the handshake")
                                      : socket().errorString()));
    } else {
        ended(closed ? QStringLiteral("The other computer (%1) closed the connection.").arg(m_peer)
                     : socket().errorString());
    }
}

void SecureSocket::ended(const QString& why) {
    if (hasEnded()) {
        return;
    }
    markEnded(why);
    settle();
    emit readChannelFinished();
}

bool SecureSocket::waitUntilOpen(std::chrono::milliseconds limit,
                                 const std::atomic<bool>& cancelled) {
    const QDeadlineTimer deadline(limit);
    while (m_stream.state() != SecureStream::State::Open && !hasEnded() && !cancelled.load() &&
           !deadline.hasExpired()) {
        const int slice = static_cast<int>(std::min<qint64>(deadline.remainingTime(), 50));
        // Writing first: the greeting or a handshake message may still wait in the socket.
        socket().waitForBytesWritten(0);
        if (socket().waitForReadyRead(slice)) {
            socketReadable();
        } else if (socket().state() != QAbstractSocket::ConnectedState) {
            socketEnded();
        }
    }
    return m_stream.state() == SecureStream::State::Open && !hasEnded();
}

qint64 SecureSocket::writeData(const char* data, qint64 size) {
    if (hasEnded() || !m_stream.write(QByteArrayView(data, size))) {
        return -1;
    }
    flushOutput();
    return size;
}

void SecureSocket::close() {
    if (!hasEnded() && m_stream.state() == SecureStream::State::Open) {
        m_stream.close();
        flushOutput();
        socket().flush();
    }
    SocketStream::close();
}

}  // namespace velmora
