#include "base/ByteLayout.h"
#include "session/Guid.h"
#include "session/Line.h"
#include "session/net/NetworkProvider.h"

#include <QTcpServer>

#include <gtest/gtest.h>

#include <thread>

namespace velmora {
namespace {

Address addressOf(const QByteArray& host, std::uint16_t port) {
    return {{guids::AddressINet, host + '\0'},
            {guids::AddressINetPort, ByteWriter().u16(port).take()}};
}

// A port on the loopback address that nobody listens on.
std::uint16_t closedPort() {
    QTcpServer server;
    EXPECT_TRUE(server.listen(QHostAddress::LocalHost));
    return server.serverPort();
}

TEST(NetworkProvider, ACallToAPortNobodyListensOnSaysWhy) {
    NetworkProvider provider(nullptr, QStringLiteral("secret"));
    const std::uint16_t port = closedPort();
    ASSERT_EQ(provider.initialize(addressOf("127.0.0.1", port)), DP_OK);
    std::unique_ptr<Line> line;
    EXPECT_EQ(provider.connect(line), NETERR_UNREACHABLE);
    EXPECT_EQ(line, nullptr);
    EXPECT_TRUE(
        provider.lastError().startsWith(QStringLiteral("Cannot reach 127.0.0.1:%1: ").arg(port)))
        << provider.lastError().toStdString();
}

// A host that takes the connection and never greets: the call waits until it is cancelled.
TEST(NetworkProvider, ACancelEndsACallThatWaitsForTheHost) {
    QTcpServer silent;
    ASSERT_TRUE(silent.listen(QHostAddress::LocalHost));
    NetworkProvider provider(nullptr, QStringLiteral("secret"));
    ASSERT_EQ(provider.initialize(addressOf("127.0.0.1", silent.serverPort())), DP_OK);
    HRESULT result = DP_OK;
    std::unique_ptr<Line> line;
    std::thread caller([&] { result = provider.connect(line); });
    provider.cancelConnect();
    caller.join();
    EXPECT_EQ(result, DPERR_USERCANCEL);
    EXPECT_EQ(line, nullptr);
}

}  // namespace
}  // namespace velmora
