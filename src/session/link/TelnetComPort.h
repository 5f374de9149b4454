#pragma once

#include "session/link/SerialSettings.h"

#include <QByteArray>
#include <QByteArrayView>

#include <cstdint>

namespace velmora {

// The telnet side of a serial port exported by RFC 2217 (ser2net's telnet(rfc2217) accepter,
// terminal servers): the data escaped and unescaped, the options of a binary 8-bit line agreed,
// and the remote port's speed, 8N1 framing and flow control asked for. No I/O: the owner writes
// what open() and encode() return and feeds decode() what it reads.
class TelnetComPort {
public:
    static constexpr std::uint8_t kIac = 255;
    static constexpr std::uint8_t kDont = 254;
    static constexpr std::uint8_t kDo = 253;
    static constexpr std::uint8_t kWont = 252;
    static constexpr std::uint8_t kWill = 251;
    static constexpr std::uint8_t kSb = 250;
    static constexpr std::uint8_t kSe = 240;
    static constexpr std::uint8_t kBinary = 0;
    static constexpr std::uint8_t kSuppressGoAhead = 3;
    static constexpr std::uint8_t kComPortOption = 44;
    // Client-to-server commands of the com port option.
    static constexpr std::uint8_t kSetBaudRate = 1;
    static constexpr std::uint8_t kSetDataSize = 2;
    static constexpr std::uint8_t kSetParity = 3;
    static constexpr std::uint8_t kSetStopSize = 4;
    static constexpr std::uint8_t kSetControl = 5;

    // The negotiation and the port settings to send first.
    static QByteArray open(const SerialSettings& settings);
    // Data for the line, with IAC doubled.
    static QByteArray encode(QByteArrayView data);

    // Bytes from the server: the line's data is returned; answers to the server's requests
    // collect in takeReplies().
    QByteArray decode(QByteArrayView bytes);
    QByteArray takeReplies();
    // The last baud rate the server confirmed (0: none yet).
    std::uint32_t confirmedBaud() const { return m_confirmedBaud; }

private:
    enum class State { Data, Command, Option, Sub, SubCommand };

    void optionRequest(std::uint8_t verb, std::uint8_t option);
    void subnegotiation();

    State m_state = State::Data;
    std::uint8_t m_verb = 0;
    QByteArray m_sub;
    QByteArray m_replies;
    std::uint32_t m_confirmedBaud = 0;
};

}  // namespace velmora
