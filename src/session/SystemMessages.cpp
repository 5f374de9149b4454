#include "session/SystemMessages.h"

#include "base/ByteLayout.h"
#include "session/Windows1252.h"

#include <initializer_list>

namespace velmora {

namespace {

constexpr std::size_t kWord = 4;
constexpr std::size_t kCreateHeaderWords = 6;
constexpr std::size_t kDestroyWords = 3;
constexpr std::size_t kSendCompleteWords = 7;

QByteArray words(std::initializer_list<std::uint32_t> values) {
    ByteWriter out(static_cast<qsizetype>(values.size() * kWord));
    for (const std::uint32_t value : values) {
        out.u32(value);
    }
    return out.take();
}

std::uint32_t wordAt(SystemMessageBytes message, std::size_t index) {
    return loadU32(message, index * kWord);
}

// True when the message holds at least `count` words and its first is `type`.
bool isNotice(SystemMessageBytes message, std::uint32_t type, std::size_t count) {
    return message.size() >= count * kWord && wordAt(message, 0) == type;
}

}  // namespace

std::optional<std::uint32_t> systemMessageType(SystemMessageBytes message) {
    if (message.size() < kWord) {
        return std::nullopt;
    }
    return wordAt(message, 0);
}

QByteArray encodeCreatePlayer(const CreatePlayerNotice& notice) {
    const QByteArray name =
        notice.name.hasShortName ? toWindows1252(notice.name.shortName) : QByteArray();
    QByteArray out =
        words({DPSYS_CREATEPLAYERORGROUP, notice.playerType, notice.id, notice.currentPlayers,
               notice.name.hasShortName ? 1U : 0U, static_cast<std::uint32_t>(name.size())});
    out.append(name);
    return out;
}

QByteArray encodeDestroyPlayer(const DestroyPlayerNotice& notice) {
    return words({DPSYS_DESTROYPLAYERORGROUP, notice.playerType, notice.id});
}

QByteArray encodeSessionLost() {
    return words({DPSYS_SESSIONLOST});
}

QByteArray encodeHost() {
    return words({DPSYS_HOST});
}

QByteArray encodeSendComplete(const SendCompleteNotice& notice) {
    return words({DPSYS_SENDCOMPLETE, notice.idFrom, notice.idTo, notice.flags, notice.msgId,
                  static_cast<std::uint32_t>(notice.hr), notice.sendTime});
}

std::optional<CreatePlayerNotice> decodeCreatePlayer(SystemMessageBytes message) {
    if (!isNotice(message, DPSYS_CREATEPLAYERORGROUP, kCreateHeaderWords)) {
        return std::nullopt;
    }
    const std::uint64_t nameLength = wordAt(message, 5);
    const std::size_t nameAt = kCreateHeaderWords * kWord;
    if (nameLength > message.size() - nameAt) {
        return std::nullopt;
    }
    CreatePlayerNotice notice;
    notice.playerType = wordAt(message, 1);
    notice.id = wordAt(message, 2);
    notice.currentPlayers = wordAt(message, 3);
    notice.name.hasShortName = wordAt(message, 4) != 0;
    if (notice.name.hasShortName) {
        notice.name.shortName = fromWindows1252(
            QByteArray(message.data() + nameAt, static_cast<qsizetype>(nameLength)));
    }
    return notice;
}

std::optional<DestroyPlayerNotice> decodeDestroyPlayer(SystemMessageBytes message) {
    if (!isNotice(message, DPSYS_DESTROYPLAYERORGROUP, kDestroyWords)) {
        return std::nullopt;
    }
    return DestroyPlayerNotice{wordAt(message, 1), wordAt(message, 2)};
}

std::optional<SendCompleteNotice> decodeSendComplete(SystemMessageBytes message) {
    if (!isNotice(message, DPSYS_SENDCOMPLETE, kSendCompleteWords)) {
        return std::nullopt;
    }
    SendCompleteNotice notice;
    notice.idFrom = wordAt(message, 1);
    notice.idTo = wordAt(message, 2);
    notice.flags = wordAt(message, 3);
    notice.msgId = wordAt(message, 4);
    notice.hr = static_cast<HRESULT>(wordAt(message, 5));
    notice.sendTime = wordAt(message, 6);
    return notice;
}

}  // namespace velmora
