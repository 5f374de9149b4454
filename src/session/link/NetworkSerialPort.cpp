#include "session/link/NetworkSerialPort.h"

#include <QTcpSocket>
#include <QUrl>

#include <algorithm>
#include <cstring>

namespace velmora {

namespace {

const QString kRawScheme = QStringLiteral("tcp");
const QString kTelnetScheme = QStringLiteral("rfc2217");

}  // namespace

bool isNetworkSerialPort(const QString& portName) {
    return portName.startsWith(kRawScheme + "://") || portName.startsWith(kTelnetScheme + "://");
}

std::unique_ptr<QIODevice> openNetworkSerialPort(const SerialSettings& settings, QString& error,
                                                 int limitMs) {
    const QUrl url(settings.portName, QUrl::StrictMode);
    if (!url.isValid() || url.host().isEmpty() || url.port() <= 0 ||
        (url.scheme() != kRawScheme && url.scheme() != kTelnetScheme)) {
        error = QStringLiteral(
                    "%1 is not a network serial port: write tcp://HOST:PORT or "
                    "rfc2217://HOST:PORT.")
                    .arg(settings.portName);
        return nullptr;
    }
    auto socket = std::make_unique<QTcpSocket>();
    socket->connectToHost(url.host(), static_cast<quint16>(url.port()));
    if (!socket->waitForConnected(limitMs)) {
        error = QStringLiteral("Cannot reach the serial port %1: %2.")
                    .arg(settings.portName, socket->errorString());
        return nullptr;
    }
    socket->setObjectName(settings.portName);
    // The link sends its acknowledgements and chat lines as they come: no waiting for more.
    socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    if (url.scheme() == kRawScheme) {
        return socket;
    }
    auto telnet = std::make_unique<TelnetSocket>(std::move(socket), settings);
    telnet->setObjectName(settings.portName);
    return telnet;
}

TelnetSocket::TelnetSocket(std::unique_ptr<QTcpSocket> socket, const SerialSettings& settings)
    : m_socket(socket.release()) {
    m_socket->setParent(this);
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
    m_socket->write(TelnetComPort::open(settings));
}

TelnetSocket::~TelnetSocket() {
    // The socket, a child, goes after this part of the object: no signal of it may reach it.
    m_socket->disconnect(this);
}

void TelnetSocket::socketReadable() {
    m_data.append(m_codec.decode(m_socket->readAll()));
    const QByteArray replies = m_codec.takeReplies();
    if (!replies.isEmpty()) {
        m_socket->write(replies);
    }
    if (!m_data.isEmpty()) {
        emit readyRead();
    }
}

void TelnetSocket::socketEnded() {
    if (m_ended) {
        return;
    }
    m_ended = true;
    setErrorString(m_socket->error() == QAbstractSocket::RemoteHostClosedError
                       ? QStringLiteral("the terminal server closed the connection")
                       : m_socket->errorString());
    emit readChannelFinished();
}

qint64 TelnetSocket::bytesAvailable() const {
    return m_data.size() + QIODevice::bytesAvailable();
}

qint64 TelnetSocket::bytesToWrite() const {
    return m_socket->bytesToWrite();
}

qint64 TelnetSocket::readData(char* data, qint64 maxSize) {
    if (m_data.isEmpty()) {
        return m_ended ? -1 : 0;
    }
    const qint64 count = std::min<qint64>(maxSize, m_data.size());
    std::memcpy(data, m_data.constData(), static_cast<size_t>(count));
    m_data.remove(0, count);
    return count;
}

qint64 TelnetSocket::writeData(const char* data, qint64 size) {
    if (m_ended) {
        return -1;
    }
    m_socket->write(TelnetComPort::encode(QByteArrayView(data, size)));
    return size;
}

void TelnetSocket::close() {
    m_ended = true;
    m_socket->disconnectFromHost();
    QIODevice::close();
}

}  // namespace velmora
