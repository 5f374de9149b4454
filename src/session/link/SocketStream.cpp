#include "session/link/SocketStream.h"

#include <QTcpSocket>

#include <algorithm>
#include <cstring>

namespace velmora {

SocketStream::SocketStream(std::unique_ptr<QTcpSocket> socket) : m_socket(socket.release()) {
    m_socket->setParent(this);
    m_socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    open(QIODevice::ReadWrite | QIODevice::Unbuffered);
    connect(m_socket, &QTcpSocket::readyRead, this, [this] { socketReadable(); });
    connect(m_socket, &QTcpSocket::bytesWritten, this,
            [this](qint64 count) { emit bytesWritten(count); });
    connect(m_socket, &QTcpSocket::disconnected, this, [this] { socketEnded(); });
    connect(m_socket, &QTcpSocket::errorOccurred, this, [this](QAbstractSocket::SocketError error) {
        if (error != QAbstractSocket::SocketTimeoutError) {
            socketEnded();
        }
    });
}

SocketStream::~SocketStream() {
    // The socket, a child, goes after this part of the object: no signal of it may reach it.
    m_socket->disconnect(this);
}

void SocketStream::deliver(const QByteArray& bytes) {
    m_data.append(bytes);
    if (!m_data.isEmpty()) {
        emit readyRead();
    }
}

void SocketStream::markEnded(const QString& why) {
    m_ended = true;
    setErrorString(why);
    m_socket->disconnectFromHost();
}

qint64 SocketStream::bytesAvailable() const {
    return m_data.size() + QIODevice::bytesAvailable();
}

qint64 SocketStream::bytesToWrite() const {
    return m_socket->bytesToWrite();
}

qint64 SocketStream::readData(char* data, qint64 maxSize) {
    if (m_data.isEmpty()) {
        return m_ended ? -1 : 0;
    }
    const qint64 count = std::min<qint64>(maxSize, m_data.size());
    std::memcpy(data, m_data.constData(), static_cast<size_t>(count));
    m_data.remove(0, count);
    return count;
}

void SocketStream::close() {
    m_ended = true;
    m_socket->disconnectFromHost();
    QIODevice::close();
}

}  // namespace velmora
