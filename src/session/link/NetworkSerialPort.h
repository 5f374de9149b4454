#pragma once

#include "session/link/SerialSettings.h"
#include "session/link/SocketStream.h"
#include "session/link/TelnetComPort.h"

#include <QIODevice>
#include <QString>

#include <memory>

class QTcpSocket;

namespace velmora {

// A serial port exported over the network: "tcp://HOST:PORT" (raw TCP, as ser2net and most
// terminal servers offer it) or "rfc2217://HOST:PORT" (telnet with the com port option: the
// remote port's speed and flow control are set from the settings).
bool isNetworkSerialPort(const QString& portName);

// Connects to it (blocking, at most `limitMs`, on the calling thread). The stream carries the
// serial port's bytes; on failure nullptr, and `error` names the address and the cause.
std::unique_ptr<QIODevice> openNetworkSerialPort(const SerialSettings& settings, QString& error,
                                                 int limitMs = 5000);

// The RFC 2217 stream: a connected socket behind TelnetComPort. Its end, or the socket's
// failure, emits readChannelFinished with errorString() saying why.
class TelnetSocket : public SocketStream {
public:
    TelnetSocket(std::unique_ptr<QTcpSocket> socket, const SerialSettings& settings);

    // The baud rate the server confirmed (0: none yet).
    std::uint32_t confirmedBaud() const { return m_codec.confirmedBaud(); }

protected:
    void socketReadable() override;
    void socketEnded() override;
    qint64 writeData(const char* data, qint64 size) override;

private:
    TelnetComPort m_codec;
};

}  // namespace velmora
