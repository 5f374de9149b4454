#include "session/net/NetworkProvider.h"

#include "base/ByteLayout.h"
#include "session/Windows1252.h"
#include "session/link/SerialPortLine.h"
#include "session/net/NetworkPrompts.h"
#include "session/net/SecureSocket.h"

#include <QDeadlineTimer>
#include <QHostAddress>
#include <QHostInfo>
#include <QTcpSocket>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace velmora {

NetworkProvider::NetworkProvider(NetworkPrompts* prompts, std::optional<QString> passphrase,
                                 NetworkLine::Tuning tuning)
    : m_prompts(prompts), m_passphrase(std::move(passphrase)), m_tuning(std::move(tuning)) {}

HRESULT NetworkProvider::initialize(const Address& address) {
    m_hostName.clear();
    m_port = 0;
    for (const AddressElement& element : address) {
        if (element.dataType == guids::AddressINet) {
            m_hostName = fromWindows1252Field(element.data);
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
    const std::optional<QString> chosen = m_ui.askOnUiThread<QString>(
        [&](PromptReply<QString> reply) { m_prompts->askPassphrase(where, std::move(reply)); });
    if (!chosen || chosen->isEmpty()) {
        failure = DPERR_USERCANCEL;
        return std::nullopt;
    }
    return chosen;
}

std::optional<QString> NetworkProvider::connectSocket(QTcpSocket& socket,
                                                      const QDeadlineTimer& deadline) {
    // On the worker thread, without an event loop: the name is looked up, then each address is
    // tried with a non-blocking connect watched in short slices, so that a cancel or the end of
    // the time ends the attempt at once. The socket takes the connected descriptor.
    const QHostInfo found = QHostInfo::fromName(m_hostName);
    if (found.error() != QHostInfo::NoError || found.addresses().isEmpty()) {
        return found.errorString();
    }
    QString why;
    for (const QHostAddress& address : found.addresses()) {
        const int descriptor = connectedDescriptor(address, deadline, why);
        if (descriptor >= 0) {
            socket.setSocketDescriptor(descriptor);
            return std::nullopt;
        }
        if (m_cancelled || deadline.hasExpired()) {
            break;
        }
    }
    return why;
}

int NetworkProvider::connectedDescriptor(const QHostAddress& address,
                                         const QDeadlineTimer& deadline, QString& why) const {
    sockaddr_storage storage{};
    socklen_t length = 0;
    if (address.protocol() == QAbstractSocket::IPv4Protocol) {
        auto* const inet = reinterpret_cast<sockaddr_in*>(&storage);
        inet->sin_family = AF_INET;
        inet->sin_port = htons(m_port);
        inet->sin_addr.s_addr = htonl(address.toIPv4Address());
        length = sizeof(sockaddr_in);
    } else {
        auto* const inet6 = reinterpret_cast<sockaddr_in6*>(&storage);
        inet6->sin6_family = AF_INET6;
        inet6->sin6_port = htons(m_port);
        const Q_IPV6ADDR bytes = address.toIPv6Address();
        std::memcpy(&inet6->sin6_addr, bytes.c, sizeof bytes.c);
        inet6->sin6_scope_id = address.scopeId().toUInt();
        length = sizeof(sockaddr_in6);
    }
    const int descriptor =
        ::socket(storage.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (descriptor < 0) {
        why = QString::fromLocal8Bit(std::strerror(errno));
        return -1;
    }
    int error =
        ::connect(descriptor, reinterpret_cast<const sockaddr*>(&storage), length) == 0 ? 0 : errno;
    if (error == EINPROGRESS) {
        error = ETIMEDOUT;
        pollfd watched{descriptor, POLLOUT, 0};
        while (!m_cancelled && !deadline.hasExpired()) {
            const int slice = static_cast<int>(std::min<qint64>(deadline.remainingTime(), 50));
            const int ready = ::poll(&watched, 1, slice);
            if (ready > 0) {
                socklen_t size = sizeof error;
                ::getsockopt(descriptor, SOL_SOCKET, SO_ERROR, &error, &size);
                break;
            }
            if (ready < 0 && errno != EINTR) {
                error = errno;
                break;
            }
        }
    }
    if (error != 0) {
        ::close(descriptor);
        why = QString::fromLocal8Bit(std::strerror(error));
        return -1;
    }
    return descriptor;
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
    const std::optional<QString> unreachable = connectSocket(*socket, deadline);
    if (m_cancelled) {
        return DPERR_USERCANCEL;
    }
    if (unreachable) {
        return failed(
            NETERR_UNREACHABLE,
            QStringLiteral("Cannot reach %1: %2.")
                .arg(where, deadline.hasExpired() ? QStringLiteral("no answer") : *unreachable));
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
