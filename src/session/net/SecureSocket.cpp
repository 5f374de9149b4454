#include "session/net/SecureSocket.h"

#include <QDeadlineTimer>
#include <QTcpSocket>

#include <algorithm>
#include <cstring>
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
    : m_socket(socket.release()),
      m_stream(std::move(stream)),
      m_deriveKey(std::move(deriveKey)),
      m_settled(std::move(settled)),
      m_hosting(m_stream.role() == SecureStream::Role::Host) {
    m_socket->setParent(this);
    // The link sends its acknowledgements and chat lines as they come: no waiting for more.
    m_socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    const QString host =
        m_socket->peerName().isEmpty() ? m_socket->peerAddress().toString() : m_socket->peerName();
    m_peer = QStringLiteral("%1:%2").arg(host).arg(m_socket->peerPort());
    setObjectName(m_peer);
    open(QIODevice::ReadWrite | QIODevice::Unbuffered);
    connect(m_socket, &QTcpSocket::readyRead, this, [this] { socketReadable(); });
    connect(m_socket, &QTcpSocket::bytesWritten, this,
            [this](qint64 count) { emit bytesWritten(count); });
    connect(m_socket, &QTcpSocket::disconnected, this, [this] { socketEnded(); });
    // A wait that timed out (waitUntilOpen's slices) is no failure of the socket.
    connect(m_socket, &QTcpSocket::errorOccurred, this, [this](QAbstractSocket::SocketError error) {
        if (error != QAbstractSocket::SocketTimeoutError) {
            socketEnded();
        }
    });
    flushOutput();  // a host's greeting
    if (m_socket->bytesAvailable() > 0) {
        socketReadable();
    }
}

SecureSocket::~SecureSocket() {
    // The socket, a child, goes after this part of the object: no signal of it may reach it.
    m_socket->disconnect(this);
}

void SecureSocket::settle() {
    if (m_settled) {
        std::exchange(m_settled, {})();
    }
}

void SecureSocket::flushOutput() {
    const QByteArray output = m_stream.takeOutput();
    if (!output.isEmpty() && m_socket->state() == QAbstractSocket::ConnectedState) {
        m_socket->write(output);
    }
}

void SecureSocket::socketReadable() {
    const SecureStream::State before = m_stream.state();
    m_stream.feed(m_socket->readAll());
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
        m_stream.feed(m_socket->readAll());
    }
    flushOutput();
    m_plain.append(m_stream.takePlain());
    if (m_stream.state() == SecureStream::State::Ended) {
        ended(secureFailureText(m_stream.failure(), m_peer, m_hosting));
    } else if (before != SecureStream::State::Open &&
               m_stream.state() == SecureStream::State::Open) {
        settle();
    }
    if (!m_plain.isEmpty()) {
        emit readyRead();
    }
}

void SecureSocket::socketEnded() {
    if (m_ended) {
        return;
    }
    m_socketFailed = true;
    const bool closed = m_socket->error() == QAbstractSocket::RemoteHostClosedError ||
                        m_socket->state() == QAbstractSocket::UnconnectedState;
    if (m_hosting && m_stream.state() != SecureStream::State::Open) {
        ended(QStringLiteral("A caller at %1 was turned away: %2.")
                  .arg(m_peer, closed ? QStringLiteral("it left during the handshake")
                                      : m_socket->errorString()));
    } else {
        ended(closed ? QStringLiteral("The other computer (%1) closed the connection.").arg(m_peer)
                     : m_socket->errorString());
    }
}

void SecureSocket::ended(const QString& why) {
    if (m_ended) {
        return;
    }
    m_ended = true;
    setErrorString(why);
    m_socket->disconnectFromHost();
    settle();
    emit readChannelFinished();
}

qint64 SecureSocket::bytesAvailable() const {
    return m_plain.size() + QIODevice::bytesAvailable();
}

qint64 SecureSocket::bytesToWrite() const {
    return m_socket->bytesToWrite();
}

bool SecureSocket::waitUntilOpen(std::chrono::milliseconds limit,
                                 const std::atomic<bool>& cancelled) {
    const QDeadlineTimer deadline(limit);
    while (m_stream.state() != SecureStream::State::Open && !m_ended && !cancelled.load() &&
           !deadline.hasExpired()) {
        const int slice = static_cast<int>(std::min<qint64>(deadline.remainingTime(), 50));
        // Writing first: the greeting or a handshake message may still wait in the socket.
        m_socket->waitForBytesWritten(0);
        if (m_socket->waitForReadyRead(slice)) {
            socketReadable();
        } else if (m_socket->state() != QAbstractSocket::ConnectedState) {
            socketEnded();
        }
    }
    return m_stream.state() == SecureStream::State::Open && !m_ended;
}

qint64 SecureSocket::readData(char* data, qint64 maxSize) {
    if (m_plain.isEmpty()) {
        return m_ended ? -1 : 0;
    }
    const qint64 count = std::min<qint64>(maxSize, m_plain.size());
    std::memcpy(data, m_plain.constData(), static_cast<size_t>(count));
    m_plain.remove(0, count);
    return count;
}

qint64 SecureSocket::writeData(const char* data, qint64 size) {
    if (m_ended || !m_stream.write(QByteArrayView(data, size))) {
        return -1;
    }
    flushOutput();
    return size;
}

void SecureSocket::close() {
    if (!m_ended && m_stream.state() == SecureStream::State::Open) {
        m_stream.close();
        flushOutput();
        m_socket->flush();
    }
    m_ended = true;
    m_socket->disconnectFromHost();
    QIODevice::close();
}

}  // namespace velmora
