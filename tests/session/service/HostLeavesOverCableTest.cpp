// The session service over the virtual null-modem cable: real pseudo-terminals, the port driver
// and the serial provider with fixed settings.

#include "ServicePeer.h"

#include "cable/NullModemCable.h"
#include "session/SystemMessages.h"
#include "session/link/SerialProvider.h"
#include "support/TestCable.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

namespace velmora::test {
namespace {

ProviderEntry serialEntry(const std::filesystem::path& end) {
    SerialSettings settings;
    settings.portName = QString::fromStdString(end.string());
    settings.baud = 460800;
    const QString folder = makeTempFolder(QStringLiteral("data"));
    return {guids::ServiceProviderSerial, QStringLiteral("Serial Connection"), [folder, settings] {
                return std::make_unique<SerialProvider>(folder, nullptr, settings);
            }};
}

TEST(HostLeavesOverCable, TheCallerHostsOnThePortItHoldsAndTheNextCallerJoins) {
    NullModemCable cable(cableIn(QStringLiteral("cable"), 460800));

    ServicePeer host({serialEntry(cable.linkA())}, guids::ServiceProviderSerial);
    ServicePeer caller({serialEntry(cable.linkB())}, guids::ServiceProviderSerial);
    ASSERT_EQ(host.host(QStringLiteral("VelmoraSession")), DP_OK);
    ASSERT_EQ(host.createPlayer(QStringLiteral("Ann")), DP_OK);
    ASSERT_EQ(caller.join(), DP_OK);
    ASSERT_EQ(caller.createPlayer(QStringLiteral("Bob")), DP_OK);
    EXPECT_EQ(systemMessageType(host.receive().data), DPSYS_CREATEPLAYERORGROUP);

    host.leave();
    EXPECT_EQ(systemMessageType(caller.receive().data), DPSYS_DESTROYPLAYERORGROUP);
    EXPECT_EQ(systemMessageType(caller.receive().data), DPSYS_HOST);

    // The old host's side calls in on the same cable; the port at the other end was never
    // opened again, so the new host answers on it.
    ServicePeer next({serialEntry(cable.linkA())}, guids::ServiceProviderSerial);
    ASSERT_EQ(next.join(), DP_OK);
    ASSERT_EQ(next.createPlayer(QStringLiteral("Ann")), DP_OK);
    EXPECT_EQ(next.remotePlayers(), (QList<std::pair<DPID, QString>>{{caller.id(), "Bob"}}));
    const auto created = decodeCreatePlayer(caller.receive().data);
    ASSERT_TRUE(created);
    EXPECT_EQ(created->id, next.id());

    const QByteArray line("\x01\0\0\0hello", 9);
    ASSERT_EQ(next.dp().Send(next.id(), DPID_ALLPLAYERS, DPSEND_GUARANTEED, line.constData(), 9),
              DP_OK);
    EXPECT_EQ(caller.receive().data, line);
    next.leave();
    caller.leave();
}

}  // namespace
}  // namespace velmora::test
