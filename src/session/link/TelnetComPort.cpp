#include "session/link/TelnetComPort.h"

namespace velmora {

namespace {

// The server's answers to the com port commands carry the command plus 100.
constexpr std::uint8_t kServerOffset = 100;
// SET-CONTROL values for the outbound flow control.
constexpr std::uint8_t kNoFlowControl = 1;
constexpr std::uint8_t kXonXoff = 2;
constexpr std::uint8_t kHardware = 3;

QByteArray command(std::initializer_list<std::uint8_t> bytes) {
    QByteArray out;
    for (const std::uint8_t byte : bytes) {
        out.append(static_cast<char>(byte));
    }
    return out;
}

QByteArray comPortCommand(std::uint8_t code, const QByteArray& value) {
    QByteArray out =
        command({TelnetComPort::kIac, TelnetComPort::kSb, TelnetComPort::kComPortOption, code});
    out.append(TelnetComPort::encode(value));
    out.append(command({TelnetComPort::kIac, TelnetComPort::kSe}));
    return out;
}

}  // namespace

QByteArray TelnetComPort::open(const SerialSettings& settings) {
    QByteArray out = command({kIac, kWill, kComPortOption, kIac, kWill, kBinary, kIac, kDo, kBinary,
                              kIac, kWill, kSuppressGoAhead, kIac, kDo, kSuppressGoAhead});
    const auto baud = static_cast<std::uint32_t>(settings.baud);
    out.append(comPortCommand(
        kSetBaudRate,
        command({static_cast<std::uint8_t>(baud >> 24), static_cast<std::uint8_t>(baud >> 16),
                 static_cast<std::uint8_t>(baud >> 8), static_cast<std::uint8_t>(baud)})));
    out.append(comPortCommand(kSetDataSize, command({8})));
    out.append(comPortCommand(kSetParity, command({1})));    // none
    out.append(comPortCommand(kSetStopSize, command({1})));  // one
    const std::uint8_t flow = settings.flow == FlowControl::RtsCts    ? kHardware
                              : settings.flow == FlowControl::XonXoff ? kXonXoff
                                                                      : kNoFlowControl;
    out.append(comPortCommand(kSetControl, command({flow})));
    return out;
}

QByteArray TelnetComPort::encode(QByteArrayView data) {
    QByteArray out;
    out.reserve(data.size());
    for (const char byte : data) {
        out.append(byte);
        if (static_cast<std::uint8_t>(byte) == kIac) {
            out.append(byte);
        }
    }
    return out;
}

QByteArray TelnetComPort::decode(QByteArrayView bytes) {
    QByteArray data;
    for (const char raw : bytes) {
        const auto byte = static_cast<std::uint8_t>(raw);
        switch (m_state) {
            case State::Data:
                if (byte == kIac) {
                    m_state = State::Command;
                } else {
                    data.append(raw);
                }
                break;
            case State::Command:
                if (byte == kIac) {
                    data.append(raw);
                    m_state = State::Data;
                } else if (byte >= kWill && byte <= kDont) {
                    m_verb = byte;
                    m_state = State::Option;
                } else if (byte == kSb) {
                    m_sub.clear();
                    m_state = State::Sub;
                } else {
                    m_state = State::Data;  // NOP, GA and the like: nothing to do
                }
                break;
            case State::Option:
                optionRequest(m_verb, byte);
                m_state = State::Data;
                break;
            case State::Sub:
                if (byte == kIac) {
                    m_state = State::SubCommand;
                } else if (m_sub.size() < 64) {
                    m_sub.append(raw);
                }
                break;
            case State::SubCommand:
                if (byte == kSe) {
                    subnegotiation();
                    m_state = State::Data;
                } else {
                    if (m_sub.size() < 64) {
                        m_sub.append(raw);  // IAC IAC inside: one 255
                    }
                    m_state = State::Sub;
                }
                break;
        }
    }
    return data;
}

void TelnetComPort::optionRequest(std::uint8_t verb, std::uint8_t option) {
    const bool ours = option == kBinary || option == kSuppressGoAhead || option == kComPortOption;
    // What was offered in open() is not answered again (no loop of agreements); anything else
    // is refused.
    if (ours) {
        return;
    }
    if (verb == kDo) {
        m_replies.append(command({kIac, kWont, option}));
    } else if (verb == kWill) {
        m_replies.append(command({kIac, kDont, option}));
    }
}

void TelnetComPort::subnegotiation() {
    if (m_sub.size() == 6 && static_cast<std::uint8_t>(m_sub[0]) == kComPortOption &&
        static_cast<std::uint8_t>(m_sub[1]) == kServerOffset + kSetBaudRate) {
        m_confirmedBaud = static_cast<std::uint32_t>(static_cast<std::uint8_t>(m_sub[2])) << 24 |
                          static_cast<std::uint32_t>(static_cast<std::uint8_t>(m_sub[3])) << 16 |
                          static_cast<std::uint32_t>(static_cast<std::uint8_t>(m_sub[4])) << 8 |
                          static_cast<std::uint32_t>(static_cast<std::uint8_t>(m_sub[5]));
    }
}

QByteArray TelnetComPort::takeReplies() {
    return std::exchange(m_replies, {});
}

}  // namespace velmora
