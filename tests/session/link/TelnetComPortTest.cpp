#include "session/link/TelnetComPort.h"

#include <gtest/gtest.h>

namespace velmora {
namespace {

QByteArray bytes(std::initializer_list<int> values) {
    QByteArray out;
    for (const int value : values) {
        out.append(static_cast<char>(value));
    }
    return out;
}

TEST(TelnetComPortTest, OpeningAsksForABinaryLineAndThePortSettings) {
    SerialSettings settings;
    settings.baud = 115200;  // 0x0001C200
    settings.flow = FlowControl::RtsCts;
    const QByteArray open = TelnetComPort::open(settings);
    EXPECT_TRUE(open.startsWith(bytes({255, 251, 44})));            // WILL COM-PORT-OPTION
    EXPECT_TRUE(open.contains(bytes({255, 251, 0, 255, 253, 0})));  // binary both ways
    EXPECT_TRUE(open.contains(bytes({255, 250, 44, 1, 0, 1, 0xC2, 0, 255, 240})));
    EXPECT_TRUE(open.contains(bytes({255, 250, 44, 2, 8, 255, 240})));  // 8 data bits
    EXPECT_TRUE(open.contains(bytes({255, 250, 44, 3, 1, 255, 240})));  // no parity
    EXPECT_TRUE(open.contains(bytes({255, 250, 44, 4, 1, 255, 240})));  // one stop bit
    EXPECT_TRUE(open.contains(bytes({255, 250, 44, 5, 3, 255, 240})));  // hardware flow

    settings.flow = FlowControl::XonXoff;
    EXPECT_TRUE(TelnetComPort::open(settings).contains(bytes({255, 250, 44, 5, 2, 255, 240})));
    settings.flow = FlowControl::None;
    EXPECT_TRUE(TelnetComPort::open(settings).contains(bytes({255, 250, 44, 5, 1, 255, 240})));
    // A rate whose bytes hold 255 is escaped inside the subnegotiation.
    settings.baud = 0x00FF00FF;
    EXPECT_TRUE(
        TelnetComPort::open(settings).contains(bytes({255, 250, 44, 1, 0, 255, 255, 0, 255, 255})));
}

TEST(TelnetComPortTest, DataKeepsEveryByteBothWaysWhateverTheServerSaysBetween) {
    QByteArray data;
    for (int i = 0; i < 256; ++i) {
        data.append(static_cast<char>(i));
    }
    const QByteArray wire = TelnetComPort::encode(data);
    EXPECT_EQ(wire.size(), 257) << "only 255 is doubled";

    // From the server: the data, with its requests and answers in between, cut anywhere.
    const QByteArray fromServer = wire.left(100) + bytes({255, 253, 24}) +    // DO TERMINAL-TYPE
                                  wire.mid(100, 50) + bytes({255, 251, 1}) +  // WILL ECHO
                                  bytes({255, 250, 44, 101, 0, 1, 0xC2, 0, 255, 240}) +
                                  bytes({255, 241}) +  // NOP
                                  wire.mid(150);
    TelnetComPort port;
    QByteArray received;
    for (qsizetype at = 0; at < fromServer.size(); at += 7) {
        received += port.decode(fromServer.mid(at, 7));
    }
    EXPECT_EQ(received, data);
    EXPECT_EQ(port.confirmedBaud(), 115200u);
    // What the server asked for and this side does not do is refused.
    EXPECT_EQ(port.takeReplies(), bytes({255, 252, 24, 255, 254, 1}));
    EXPECT_TRUE(port.takeReplies().isEmpty());
}

}  // namespace
}  // namespace velmora
