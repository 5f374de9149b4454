#include "ServicePeer.h"

#include "session/SystemMessages.h"
#include "session/service/MemoryCable.h"
#include "session/service/SessionWire.h"
#include "support/RecordingListener.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <optional>
#include <set>

namespace velmora::test {
namespace {

using Side = MemoryCable::Side;
using Mode = MemoryCable::Mode;

// The other side played by hand on a raw end of the cable: it greets and hands each decoded
// message to the test's answer, which may send back on the same end.
struct ScriptedOtherSide {
    ScriptedOtherSide(const MemoryCable& cable, Side side, Mode mode,
                      std::function<void(const wire::Message&, Line&)> answer)
        : end(cable.plug(side, mode)) {
        listener.onMessage = [this, answer = std::move(answer)](const QByteArray& bytes) {
            const auto message = wire::decode(bytes);
            if (!message) {
                return;
            }
            if (std::holds_alternative<wire::Hello>(*message)) {
                end->send(wire::encode(wire::Hello{}));
            }
            answer(*message, *end);
        };
        end->start(&listener);
    }

    RecordingListener listener;
    std::unique_ptr<Line> end;
};

wire::Session someSession() {
    return {kApplication, kApplication, 0, 0, 1, QStringLiteral("Forged")};
}

// Every ID once and none of them the system's.
void expectDistinctIds(const QList<std::pair<DPID, QString>>& players) {
    std::set<DPID> ids;
    for (const auto& [id, name] : players) {
        EXPECT_NE(id, DPID_SYSMSG) << name.toStdString();
        EXPECT_TRUE(ids.insert(id).second) << "ID " << id << " twice";
    }
}

TEST(PlayerIdentifiers, ACallerTakesNoSecondPlayerOfOneIdAndNoneOfTheSystemsId) {
    MemoryCable cable;
    int replies = 0;
    ScriptedOtherSide host(
        cable, Side::A, Mode::Listening, [&replies](const wire::Message& message, Line& line) {
            if (const auto* enumRequest = std::get_if<wire::EnumRequest>(&message)) {
                line.send(wire::encode(wire::EnumReply{enumRequest->serial, {someSession()}}));
            } else if (const auto* join = std::get_if<wire::JoinRequest>(&message)) {
                const DPNAME hal{true, QStringLiteral("Hal")};
                line.send(wire::encode(wire::JoinReply{
                    join->serial,
                    DP_OK,
                    someSession(),
                    {{255, hal}, {255, {true, QStringLiteral("Hal again")}}, {0, hal}}}));
            } else if (const auto* create = std::get_if<wire::CreatePlayerRequest>(&message)) {
                // First an ID the host's own player has, then the system's, then a free one.
                const DPID ids[] = {255, DPID_SYSMSG, 7};
                line.send(wire::encode(
                    wire::CreatePlayerReply{create->serial, DP_OK, ids[replies++ % 3]}));
            }
        });
    ServicePeer caller({cable.providerEntry(Side::B)}, guids::ServiceProviderMemory);
    ASSERT_EQ(caller.join(), DP_OK);
    EXPECT_EQ(caller.remotePlayers(), (QList<std::pair<DPID, QString>>{{255, "Hal"}}));

    EXPECT_NE(caller.createPlayer(QStringLiteral("Me")), DP_OK) << "an ID in use";
    EXPECT_NE(caller.createPlayer(QStringLiteral("Me")), DP_OK) << "the system's ID";
    ASSERT_EQ(caller.createPlayer(QStringLiteral("Me")), DP_OK);
    EXPECT_EQ(caller.id(), 7U);

    // Announcements of players with those IDs change nothing, and no data comes from them.
    host.end->send(wire::encode(wire::PlayerCreated{{255, {true, QStringLiteral("Twin")}}}));
    host.end->send(wire::encode(wire::PlayerCreated{{DPID_SYSMSG, {true, QStringLiteral("Sys")}}}));
    host.end->send(wire::encodeData(DPID_SYSMSG, 7, "\x31\0\0\0", 4));
    host.end->send(wire::encodeData(255, 7, "hello", 5));
    const Received data = caller.receive();
    EXPECT_EQ(data.from, 255U);
    EXPECT_EQ(data.data, QByteArray("hello"));
    EXPECT_FALSE(caller.tryReceive()) << "no notice of the twins, no data from the system";
    EXPECT_EQ(caller.remotePlayers(), (QList<std::pair<DPID, QString>>{{255, "Hal"}}));
}

TEST(PlayerIdentifiers, AHostGivesOutNoIdTheOtherSideNamedAndNeverTheSystems) {
    MemoryCable cable;
    ServicePeer host({cable.providerEntry(Side::A)}, guids::ServiceProviderMemory);
    ASSERT_EQ(host.host(QStringLiteral("Session")), DP_OK);
    ASSERT_EQ(host.createPlayer(QStringLiteral("Anna")), DP_OK);
    const DPID anna = host.id();

    ScriptedOtherSide caller(cable, Side::B, Mode::Calling, [](const wire::Message&, Line&) {});
    // The first message of a kind the host has sent, once it is there.
    const auto first = [&caller](auto kind) -> std::optional<decltype(kind)> {
        std::optional<decltype(kind)> found;
        caller.listener.waitFor([&](const RecordingListener& listener) {
            for (const QByteArray& bytes : listener.messages()) {
                const auto message = wire::decode(bytes);
                if (message && std::holds_alternative<decltype(kind)>(*message)) {
                    found = std::get<decltype(kind)>(*message);
                    return true;
                }
            }
            return false;
        });
        return found;
    };
    // Greeted (and greeting back, before anything else) first.
    ASSERT_TRUE(first(wire::Hello{}));
    caller.end->send(wire::encode(wire::EnumRequest{1, kApplication}));
    const auto offered = first(wire::EnumReply{});
    ASSERT_TRUE(offered && offered->sessions.size() == 1);
    caller.end->send(wire::encode(wire::JoinRequest{2, offered->sessions.front().instance}));
    // The caller names the highest ID there is for a player of its own: refused, the host
    // alone gives out IDs. Had it been taken, the next ID would wrap to the system's.
    caller.end->send(
        wire::encode(wire::PlayerCreated{{0xFFFFFFFF, {true, QStringLiteral("Last")}}}));
    caller.end->send(wire::encode(wire::CreatePlayerRequest{3, {true, QStringLiteral("Bob")}}));
    const auto reply = first(wire::CreatePlayerReply{});
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->result, DP_OK);
    EXPECT_NE(reply->id, DPID_SYSMSG);
    EXPECT_NE(reply->id, anna);
    EXPECT_NE(reply->id, 0xFFFFFFFFU);

    QList<std::pair<DPID, QString>> everyone;
    host.dp().EnumPlayers(
        [&everyone](DPID id, const DPNAME& name) {
            everyone.append({id, name.shortName});
            return true;
        },
        0);
    EXPECT_EQ(everyone, (QList<std::pair<DPID, QString>>{{anna, "Anna"}, {reply->id, "Bob"}}));
    expectDistinctIds(everyone);
}

}  // namespace
}  // namespace velmora::test
