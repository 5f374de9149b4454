#pragma once

#include "session/link/SocketStream.h"
#include "session/net/SecureStream.h"

#include <QByteArray>
#include <QIODevice>
#include <QString>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>

class QTcpSocket;

namespace velmora {

// A connected TCP socket behind a SecureStream, as a byte stream of the plain bytes: what is
// written is encrypted, what is read was decrypted. It runs the handshake first (a caller
// derives the key when the host's salt has come, through `deriveKey`); reading and writing
// begin once the stream is open. When the stream or the socket ends, errorString() says why and
// readChannelFinished is emitted.
class SecureSocket : public SocketStream {
public:
    // Nothing when the key cannot be derived.
    using DeriveKey = std::function<std::optional<QByteArray>(const QByteArray& salt)>;

    // `settled` is called once, on this object's thread, when the handshake is over either way
    // (also from within the constructor, for bytes that came before it).
    SecureSocket(std::unique_ptr<QTcpSocket> socket, SecureStream stream,
                 std::function<void()> settled, DeriveKey deriveKey = {});

    SecureStream::State state() const { return m_stream.state(); }
    SecureStream::Failure failure() const { return m_stream.failure(); }
    // The socket's own failure (refused, reset, closed) when the stream did not fail itself.
    bool socketFailed() const { return m_socketFailed; }
    // Blocks until the handshake is over, the time is up or `cancelled` is set; for a thread
    // without an event loop. True when the stream is open.
    bool waitUntilOpen(std::chrono::milliseconds limit, const std::atomic<bool>& cancelled);
    // The other end's address, "host:port".
    QString peerText() const { return m_peer; }

    void close() override;

protected:
    void socketReadable() override;
    void socketEnded() override;
    qint64 writeData(const char* data, qint64 size) override;

private:
    void flushOutput();
    void ended(const QString& why);
    void settle();

    SecureStream m_stream;
    DeriveKey m_deriveKey;
    std::function<void()> m_settled;
    const bool m_hosting;
    QString m_peer;
    bool m_socketFailed = false;
};

// The words for a stream that failed in its handshake, for the user of the host or the caller.
QString secureFailureText(SecureStream::Failure failure, const QString& peer, bool hosting);

}  // namespace velmora
