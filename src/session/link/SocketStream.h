#pragma once

#include <QByteArray>
#include <QIODevice>
#include <QString>

#include <memory>

class QTcpSocket;

namespace velmora {

// A connected TCP socket as a byte stream of what a codec makes of its bytes: the base of the
// telnet serial port and of the encrypted network line. A subclass decodes in socketReadable(),
// hands the result to deliver() and ends the stream with markEnded(). Lives on one thread at a
// time with its socket (a child). The socket sends small writes at once: the link's
// acknowledgements and chat lines must not wait for more.
class SocketStream : public QIODevice {
public:
    bool isSequential() const override { return true; }
    qint64 bytesAvailable() const override;
    qint64 bytesToWrite() const override;
    void close() override;

protected:
    explicit SocketStream(std::unique_ptr<QTcpSocket> socket);
    ~SocketStream() override;

    QTcpSocket& socket() const { return *m_socket; }
    bool hasEnded() const { return m_ended; }
    // Decoded bytes for the reader.
    void deliver(const QByteArray& bytes);
    // Ends the stream with errorString() saying why, and lets the socket go.
    void markEnded(const QString& why);

    // The socket has bytes, or has ended (closed or failed; a timed-out wait is no end).
    virtual void socketReadable() = 0;
    virtual void socketEnded() = 0;

    qint64 readData(char* data, qint64 maxSize) override;

private:
    QTcpSocket* m_socket;  // a child
    QByteArray m_data;     // decoded, not yet read
    bool m_ended = false;
};

}  // namespace velmora
