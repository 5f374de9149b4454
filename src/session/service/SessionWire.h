#pragma once

// The messages that two session services exchange over a line (docs/wire-protocol.md). Every
// message starts with a 32-bit little-endian type word; all numbers are little-endian, texts are
// Windows-1252 with a 32-bit byte length in front. Hello and Refuse keep their layout in every
// version, so that two services of different versions can still tell each other apart.

#include "session/Guid.h"
#include "session/Transport.h"

#include <QByteArray>
#include <QList>

#include <cstdint>
#include <optional>
#include <variant>

namespace velmora {

// The result of EnumSessions or Open when the other side runs another version of the session
// protocol: a failure code in DirectPlay's facility that DirectPlay itself does not use.
inline constexpr HRESULT DPERR_INCOMPATIBLEPEER = static_cast<HRESULT>(0x887703E8);

namespace wire {

inline constexpr std::uint32_t kMagic = 0x534D4C56;  // the bytes "VLMS"
inline constexpr std::uint32_t kVersion = 1;

enum class Type : std::uint32_t {
    Hello = 1,
    Refuse = 2,
    EnumRequest = 3,
    EnumReply = 4,
    JoinRequest = 5,
    JoinReply = 6,
    CreatePlayerRequest = 7,
    CreatePlayerReply = 8,
    PlayerCreated = 9,
    PlayerDestroyed = 10,
    Data = 11,
};

struct Session {
    Guid instance;
    Guid application;
    std::uint32_t flags = 0;
    std::uint32_t maxPlayers = 0;
    std::uint32_t currentPlayers = 0;
    QString name;
};

struct Player {
    DPID id = 0;
    DPNAME name;
};

// Sent by both sides as the first message after the line comes up.
struct Hello {
    std::uint32_t magic = kMagic;
    std::uint32_t version = kVersion;
};
// The answer to a Hello of another magic or version; carries the refuser's own.
struct Refuse {
    std::uint32_t magic = kMagic;
    std::uint32_t version = kVersion;
};
struct EnumRequest {
    std::uint32_t serial = 0;
    Guid application;
};
struct EnumReply {
    std::uint32_t serial = 0;
    QList<Session> sessions;
};
struct JoinRequest {
    std::uint32_t serial = 0;
    Guid instance;
};
struct JoinReply {
    std::uint32_t serial = 0;
    HRESULT result = DP_OK;
    Session session;        // meaningful when result is DP_OK
    QList<Player> players;  // the host's players
};
struct CreatePlayerRequest {
    std::uint32_t serial = 0;
    DPNAME name;
};
struct CreatePlayerReply {
    std::uint32_t serial = 0;
    HRESULT result = DP_OK;
    DPID id = 0;
};
struct PlayerCreated {
    Player player;
};
struct PlayerDestroyed {
    DPID id = 0;
};
struct Data {
    DPID from = 0;
    DPID to = 0;
    QByteArray payload;
};

using Message =
    std::variant<Hello, Refuse, EnumRequest, EnumReply, JoinRequest, JoinReply, CreatePlayerRequest,
                 CreatePlayerReply, PlayerCreated, PlayerDestroyed, Data>;

QByteArray encode(const Message& message);
// The bytes of a Data message, built straight from the caller's buffer.
QByteArray encodeData(DPID from, DPID to, const void* payload, std::uint32_t size);
// nullopt for an unknown type and for a message that is cut short or has bytes left over.
std::optional<Message> decode(const QByteArray& bytes);

}  // namespace wire
}  // namespace velmora
