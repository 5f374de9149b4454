#pragma once

// The byte layouts of the system notices that a session object queues for its local player with
// the sender DPID_SYSMSG. Every field is a 32-bit little-endian word; the first is the notice's
// type, one of the DPSYS_* constants of session/Transport.h. Decoders never read past the end of
// the buffer and give nullopt for a notice of another type or one that is cut short.

#include "session/Transport.h"

#include <QByteArray>

#include <cstdint>
#include <optional>
#include <span>

namespace velmora {

using SystemMessageBytes = std::span<const char>;

// [type][playerType][dpId][currentPlayers][hasShortName][nameByteLength][name, Windows-1252]
struct CreatePlayerNotice {
    std::uint32_t playerType = DPPLAYERTYPE_PLAYER;
    DPID id = 0;
    std::uint32_t currentPlayers = 0;
    DPNAME name;
};

// [type][playerType][dpId]
struct DestroyPlayerNotice {
    std::uint32_t playerType = DPPLAYERTYPE_PLAYER;
    DPID id = 0;
};

// [type][idFrom][idTo][flags][msgId][hr][sendTime]
struct SendCompleteNotice {
    DPID idFrom = 0;
    DPID idTo = 0;
    std::uint32_t flags = 0;
    std::uint32_t msgId = 0;
    HRESULT hr = DP_OK;
    std::uint32_t sendTime = 0;
};

// The first word of a notice; nullopt when it is shorter than 4 bytes.
std::optional<std::uint32_t> systemMessageType(SystemMessageBytes message);

QByteArray encodeCreatePlayer(const CreatePlayerNotice& notice);
QByteArray encodeDestroyPlayer(const DestroyPlayerNotice& notice);
QByteArray encodeSessionLost();
QByteArray encodeHost();
QByteArray encodeSendComplete(const SendCompleteNotice& notice);

std::optional<CreatePlayerNotice> decodeCreatePlayer(SystemMessageBytes message);
std::optional<DestroyPlayerNotice> decodeDestroyPlayer(SystemMessageBytes message);
std::optional<SendCompleteNotice> decodeSendComplete(SystemMessageBytes message);

}  // namespace velmora
