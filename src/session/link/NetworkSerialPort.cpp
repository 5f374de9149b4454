#include "session/link/NetworkSerialPort.h"

#include <QTcpSocket>
#include <QUrl>

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
    if (url.scheme() == kRawScheme) {
        // The link sends its acknowledgements and chat lines as they come: no waiting for more.
        socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        return socket;
    }
    auto telnet = std::make_unique<TelnetSocket>(std::move(socket), settings);
    telnet->setObjectName(settings.portName);
    return telnet;
}

TelnetSocket::TelnetSocket(std::unique_ptr<QTcpSocket> socket, const SerialSettings& settings)
    : SocketStream(std::move(socket)) {
    this->socket().write(TelnetComPort::open(settings));
}

void TelnetSocket::socketReadable() {
    deliver(m_codec.decode(socket().readAll()));
    const QByteArray replies = m_codec.takeReplies();
    if (!replies.isEmpty()) {
        socket().write(replies);
    }
}

void TelnetSocket::socketEnded() {
    if (hasEnded()) {
        return;
    }
    markEnded(socket().error() == QAbstractSocket::RemoteHostClosedError
                  ? QStringLiteral("the terminal server closed the connection")
                  : socket().errorString());
    emit readChannelFinished();
}

qint64 TelnetSocket::writeData(const char* data, qint64 size) {
    if (hasEnded()) {
        return -1;
    }
    socket().write(TelnetComPort::encode(QByteArrayView(data, size)));
    return size;
}

}  // namespace velmora
