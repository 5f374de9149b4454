#include "session/net/NetworkProvider.h"

#include "base/ByteLayout.h"
#include "session/Windows1252.h"
#include "session/link/SerialPortLine.h"
#include "session/net/NetworkPrompts.h"
#include "session/net/SecureSocket.h"

#include <QDeadlineTimer>
#include <QEventLoop>
#include <QHostAddress>
#include <QHostInfo>
#include <QTcpSocket>
#include <QTimer>

namespace velmora {

namespace {

QString addressText(const QByteArray& data) {
    const qsizetype end = data.indexOf('\0');
    return fromWindows1252(end < 0 ? data : data.left(end));
}

}  // namespace

NetworkProvider::NetworkProvider(NetworkPrompts* prompts, std::optional<QString> passphrase,
                                 NetworkLine::Tuning tuning)
    : m_prompts(prompts), m_passphrase(std::move(passphrase)), m_tuning(std::move(tuning)) {}

HRESULT NetworkProvider::initialize(const Address& address) {
    m_hostName.clear();
    m_port = 0;
    for (const AddressElement& element : address) {
        if (element.dataType == guids::AddressINet) {
            m_hostName = addressText(element.data);
        } else if (element.dataType == guids::AddressINetPort && element.data.size() == 2) {
            m_port = ByteReader(element.data).u16();
        }
    }
    return DP_OK;
}

HRESULT NetworkProvider::modemNames(QStringList& names) {
    names.clear();
    return DP_OK;
}

HRESULT NetworkProvider::failed(HRESULT code, const QString& message) {
    m_lastError = message;
    if (m_prompts) {
        m_ui.runOnUiThread([this, &message] { m_prompts->showNetworkError(message); });
    }
    return code;
}

std::optional<QString> NetworkProvider::choosePassphrase(const QString& where, HRESULT& failure) {
    if (m_passphrase) {
        return m_passphrase;
    }
    if (!m_prompts) {
        failure = failed(DPERR_UNINITIALIZED,
                         QStringLiteral("A network line needs a passphrase, and none was given."));
        return std::nullopt;
    }
    std::optional<QString> chosen;
    m_ui.runOnUiThread([&] { chosen = m_prompts->askPassphrase(where); });
    if (!chosen || chosen->isEmpty()) {
        failure = DPERR_USERCANCEL;
        return std::nullopt;
    }
    return chosen;
}

void NetworkProvider::connectSocket(QTcpSocket& socket, const QDeadlineTimer& deadline) {
    // On the worker thread, which has no event loop of its own: one runs until the socket is
    // connected or failed, the time is up or the attempt is cancelled. (A timed-out
    // waitForConnected would abandon the attempt, so it cannot be sliced to look at a cancel.)
    QEventLoop loop;
    QTimer look;
    QObject::connect(&look, &QTimer::timeout, &loop, [&] {
        if (m_cancelled || deadline.hasExpired()) {
            loop.quit();
        }
    });
    QObject::connect(&socket, &QTcpSocket::connected, &loop, &QEventLoop::quit);
    QObject::connect(&socket, &QTcpSocket::errorOccurred, &loop, &QEventLoop::quit);
    look.start(50);
    socket.connectToHost(m_hostName, m_port);
    if (socket.state() != QAbstractSocket::UnconnectedState) {
        loop.exec();
    }
}

HRESULT NetworkProvider::connect(std::unique_ptr<Line>& line) {
    m_lastError.clear();
    if (m_hostName.isEmpty() || m_port == 0) {
        return failed(DPERR_INVALIDPARAMS,
                      QStringLiteral("Name the other computer and its port to call it."));
    }
    const QString where = QStringLiteral("%1:%2").arg(m_hostName).arg(m_port);
    HRESULT failure = DP_OK;
    const std::optional<QString> passphrase = choosePassphrase(where, failure);
    if (!passphrase) {
        return failure;
    }
    const QDeadlineTimer deadline(kCallLimitMs);
    auto socket = std::make_unique<QTcpSocket>();
    connectSocket(*socket, deadline);
    if (m_cancelled) {
        return DPERR_USERCANCEL;
    }
    if (socket->state() != QAbstractSocket::ConnectedState) {
        return failed(NETERR_UNREACHABLE,
                      QStringLiteral("Cannot reach %1: %2.")
                          .arg(where, deadline.hasExpired() ? QStringLiteral("no answer")
                                                            : socket->errorString()));
    }
    auto secure = std::make_unique<SecureSocket>(
        std::move(socket), SecureStream::caller(), std::function<void()>(),
        [&passphrase](const QByteArray& salt) -> std::optional<QByteArray> {
            const std::optional<PassphraseKey> key = PassphraseKey::derive(*passphrase, salt);
            return key ? std::optional(key->key) : std::nullopt;
        });
    if (!secure->waitUntilOpen(std::chrono::milliseconds(deadline.remainingTime()), m_cancelled)) {
        if (m_cancelled) {
            return DPERR_USERCANCEL;
        }
        if (secure->state() != SecureStream::State::Ended && !secure->socketFailed()) {
            return failed(NETERR_UNREACHABLE,
                          QStringLiteral("The Velmora at %1 did not finish the handshake in time.")
                              .arg(where));
        }
        switch (secure->failure()) {
            case SecureStream::Failure::WrongPassphrase:
                return failed(NETERR_WRONGPASSPHRASE, secure->errorString());
            case SecureStream::Failure::NotVelmora:
            case SecureStream::Failure::OtherVersion:
                return failed(NETERR_NOTVELMORA, secure->errorString());
            default:
                return failed(NETERR_UNREACHABLE, secure->errorString());
        }
    }
    SerialSettings settings;
    settings.portName = where;
    settings.baud = kNetworkLinkBaud;
    line = std::make_unique<SerialPortLine>(std::move(secure), where, settings,
                                            SerialPortLine::Role::Calling, m_tuning.link);
    return DP_OK;
}

HRESULT NetworkProvider::listen(std::unique_ptr<Line>& line) {
    m_lastError.clear();
    if (m_port == 0) {
        return failed(DPERR_INVALIDPARAMS, QStringLiteral("Name the port to wait for calls on."));
    }
    QHostAddress address(QHostAddress::LocalHost);
    if (!m_hostName.isEmpty()) {
        const QHostInfo info = QHostInfo::fromName(m_hostName);
        if (info.addresses().isEmpty()) {
            return failed(NETERR_UNREACHABLE, QStringLiteral("Cannot wait for calls on %1: %2.")
                                                  .arg(m_hostName, info.errorString()));
        }
        address = info.addresses().constFirst();
    }
    const QString where = QStringLiteral("%1:%2").arg(address.toString()).arg(m_port);
    HRESULT failure = DP_OK;
    const std::optional<QString> passphrase = choosePassphrase(where, failure);
    if (!passphrase) {
        return failure;
    }
    std::optional<PassphraseKey> key =
        PassphraseKey::derive(*passphrase, PassphraseKey::randomSalt());
    if (!key) {
        return failed(DPERR_GENERIC,
                      QStringLiteral("The key could not be derived from the passphrase."));
    }
    QString error;
    std::unique_ptr<NetworkLine> listening =
        NetworkLine::listen(address, m_port, std::move(*key), m_prompts, error, m_tuning);
    if (!listening) {
        return failed(NETERR_UNREACHABLE, error);
    }
    line = std::move(listening);
    return DP_OK;
}

}  // namespace velmora
