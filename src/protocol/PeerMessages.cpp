#include "protocol/PeerMessages.h"

#include <algorithm>
#include <array>

namespace velmora {

namespace {

constexpr std::array<int, kMaxBlockCode> kBlockSizes{512, 1024, 2048, 4096, 32768, 65536, 1048576};

// Field offsets, by message.
constexpr int kTextLengthAt = 4;
constexpr int kTextAt = 6;
constexpr int kOfferNameAt = 4;
constexpr int kOfferSizeAt = 260;
constexpr int kOfferIdAt = 264;
constexpr int kOfferIconAt = 265;
constexpr int kReplyOffsetAt = 4;
constexpr int kReplyIdAt = 8;
constexpr int kReplyResultAt = 9;
constexpr int kReplyIconAt = 10;
constexpr int kBlockLastAt = 4;
constexpr int kBlockIdAt = 5;
constexpr int kBlockCountAt = 6;
constexpr int kBlockCodeAt = 10;
constexpr int kKeyCodeAt = 4;
constexpr int kKeyCharAt = 6;
constexpr int kKeyCaretAt = 8;
constexpr int kControlIdAt = 4;
constexpr int kControlActionAt = 5;

constexpr std::uint8_t kUnusedTransferId = kTransferIdCount;

// Writes little-endian fields into a zero-filled message of fixed length.
class MessageWriter {
public:
    MessageWriter(MessageKind kind, int size) : m_bytes(size, '\0') {
        putU32(0, static_cast<std::uint32_t>(kind));
    }

    void putU8(int at, std::uint8_t value) { m_bytes[at] = static_cast<char>(value); }
    void putU16(int at, std::uint16_t value) {
        putU8(at, static_cast<std::uint8_t>(value));
        putU8(at + 1, static_cast<std::uint8_t>(value >> 8));
    }
    void putU32(int at, std::uint32_t value) {
        putU16(at, static_cast<std::uint16_t>(value));
        putU16(at + 2, static_cast<std::uint16_t>(value >> 16));
    }
    void putBytes(int at, MessageBytes bytes) {
        std::copy(bytes.begin(), bytes.end(), m_bytes.begin() + at);
    }

    QByteArray take() { return std::move(m_bytes); }

private:
    QByteArray m_bytes;
};

// Reads little-endian fields of a received message. Every read is checked by the caller against
// size() first: the reader itself is only used on offsets inside the message.
class MessageReader {
public:
    explicit MessageReader(MessageBytes bytes) : m_bytes(bytes) {}

    int size() const { return static_cast<int>(m_bytes.size()); }
    std::uint8_t u8(int at) const { return static_cast<std::uint8_t>(m_bytes[at]); }
    std::uint16_t u16(int at) const {
        return static_cast<std::uint16_t>(u8(at) | (static_cast<std::uint16_t>(u8(at + 1)) << 8));
    }
    std::uint32_t u32(int at) const {
        return u16(at) | (static_cast<std::uint32_t>(u16(at + 2)) << 16);
    }
    std::int32_t i32(int at) const { return static_cast<std::int32_t>(u32(at)); }
    MessageBytes bytes(int at, int count) const { return m_bytes.subspan(at, count); }
    QByteArray copy(int at, int count) const { return {m_bytes.data() + at, count}; }

    // True when the message is at least size bytes long (size >= 4) and of the given kind.
    bool holds(MessageKind kind, int size) const {
        return this->size() >= size && u32(0) == static_cast<std::uint32_t>(kind);
    }

private:
    MessageBytes m_bytes;
};

MessageBytes iconField(const QByteArray& icon) {
    return bytesOf(icon).first(std::min<std::size_t>(icon.size(), kIconFieldSize));
}

}  // namespace

std::optional<int> blockSizeOfCode(int code) {
    if (code < kMinBlockCode || code > kMaxBlockCode) {
        return std::nullopt;
    }
    return kBlockSizes[code - kMinBlockCode];
}

std::optional<std::uint32_t> messageKindOf(MessageBytes message) {
    const MessageReader reader(message);
    if (reader.size() < kMessageKindSize) {
        return std::nullopt;
    }
    return reader.u32(0);
}

QByteArray buildTextMessage(const TextMessage& message) {
    const int length = std::min<int>(message.text.size(), kMaxTextLength);
    MessageWriter writer(MessageKind::Text, length + kTextMessageOverhead);
    writer.putU16(kTextLengthAt, static_cast<std::uint16_t>(length));
    writer.putBytes(kTextAt, bytesOf(message.text).first(length));
    return writer.take();
}

QByteArray buildFileOffer(const FileOffer& offer) {
    const int nameLength = std::min<int>(offer.fileName.size(), kMaxFileNameLength);
    MessageWriter writer(MessageKind::FileOffer, kFileOfferSize);
    writer.putU8(kOfferNameAt, static_cast<std::uint8_t>(nameLength));
    writer.putBytes(kOfferNameAt + 1, bytesOf(offer.fileName).first(nameLength));
    writer.putU32(kOfferSizeAt, static_cast<std::uint32_t>(offer.fileSize));
    writer.putU8(kOfferIdAt, offer.transferId);
    writer.putBytes(kOfferIconAt, iconField(offer.icon));
    return writer.take();
}

QByteArray buildFileReply(const FileReply& reply) {
    MessageWriter writer(MessageKind::FileReply, kFileReplySize);
    writer.putU32(kReplyOffsetAt, static_cast<std::uint32_t>(reply.offset));
    writer.putU8(kReplyIdAt, reply.transferId);
    writer.putU8(kReplyResultAt, reply.result);
    writer.putBytes(kReplyIconAt, iconField(reply.icon));
    return writer.take();
}

QByteArray buildFileBlock(const FileBlock& block) {
    const auto blockSize = blockSizeOfCode(block.blockCode);
    if (!blockSize || block.data.size() > static_cast<std::size_t>(*blockSize)) {
        return {};
    }
    MessageWriter writer(MessageKind::FileBlock, *blockSize + kFileBlockHeaderSize);
    writer.putU8(kBlockLastAt, block.last ? 1 : 0);
    writer.putU8(kBlockIdAt, block.transferId);
    writer.putU32(kBlockCountAt, static_cast<std::uint32_t>(block.data.size()));
    writer.putU8(kBlockCodeAt, block.blockCode);
    writer.putBytes(kFileBlockHeaderSize, block.data);
    return writer.take();
}

QByteArray buildKeyStroke(const KeyStroke& keyStroke) {
    MessageWriter writer(MessageKind::KeyStroke, kKeyStrokeSize);
    writer.putU16(kKeyCodeAt, keyStroke.keyCode);
    writer.putU8(kKeyCharAt, keyStroke.charCode);
    writer.putU16(kKeyCaretAt, keyStroke.caret);
    return writer.take();
}

QByteArray buildTransferControl(const TransferControl& control) {
    MessageWriter writer(MessageKind::TransferControl, kTransferControlSize);
    writer.putU8(kControlIdAt, control.transferId);
    writer.putU8(kControlActionAt, control.action);
    return writer.take();
}

std::optional<TextMessage> parseTextMessage(MessageBytes message) {
    const MessageReader reader(message);
    if (!reader.holds(MessageKind::Text, kTextAt)) {
        return std::nullopt;
    }
    const int length = reader.u16(kTextLengthAt);
    if (reader.size() < kTextAt + length) {
        return std::nullopt;
    }
    const MessageBytes text = reader.bytes(kTextAt, length);
    const auto end = std::find(text.begin(), text.end(), '\0');
    return TextMessage{reader.copy(kTextAt, static_cast<int>(end - text.begin()))};
}

std::optional<FileOffer> parseFileOffer(MessageBytes message) {
    const MessageReader reader(message);
    if (!reader.holds(MessageKind::FileOffer, kFileOfferSize) ||
        reader.u8(kOfferIdAt) == kUnusedTransferId) {
        return std::nullopt;
    }
    return FileOffer{reader.copy(kOfferNameAt + 1, reader.u8(kOfferNameAt)),
                     reader.i32(kOfferSizeAt), reader.u8(kOfferIdAt),
                     reader.copy(kOfferIconAt, kIconFieldSize)};
}

std::optional<FileReply> parseFileReply(MessageBytes message) {
    const MessageReader reader(message);
    if (!reader.holds(MessageKind::FileReply, kFileReplySize) ||
        reader.u8(kReplyIdAt) == kUnusedTransferId || reader.u8(kReplyResultAt) > frIdInUse) {
        return std::nullopt;
    }
    return FileReply{reader.i32(kReplyOffsetAt), reader.u8(kReplyIdAt),
                     static_cast<FileReplyResult>(reader.u8(kReplyResultAt)),
                     reader.copy(kReplyIconAt, kIconFieldSize)};
}

std::optional<FileBlock> parseFileBlock(MessageBytes message) {
    const MessageReader reader(message);
    if (!reader.holds(MessageKind::FileBlock, kFileBlockHeaderSize) ||
        reader.u8(kBlockIdAt) == kUnusedTransferId) {
        return std::nullopt;
    }
    const auto blockSize = blockSizeOfCode(reader.u8(kBlockCodeAt));
    const std::int32_t count = reader.i32(kBlockCountAt);
    if (!blockSize || reader.size() < *blockSize + kFileBlockHeaderSize || count < 0 ||
        count > *blockSize) {
        return std::nullopt;
    }
    return FileBlock{reader.u8(kBlockLastAt) == 1, reader.u8(kBlockIdAt), reader.u8(kBlockCodeAt),
                     reader.bytes(kFileBlockHeaderSize, count)};
}

std::optional<KeyStroke> parseKeyStroke(MessageBytes message) {
    const MessageReader reader(message);
    if (!reader.holds(MessageKind::KeyStroke, kKeyStrokeSize)) {
        return std::nullopt;
    }
    return KeyStroke{reader.u16(kKeyCodeAt), reader.u8(kKeyCharAt), reader.u16(kKeyCaretAt)};
}

std::optional<TransferControl> parseTransferControl(MessageBytes message) {
    const MessageReader reader(message);
    if (!reader.holds(MessageKind::TransferControl, kTransferControlSize) ||
        reader.u8(kControlIdAt) == kUnusedTransferId || reader.u8(kControlActionAt) > caAbort) {
        return std::nullopt;
    }
    return TransferControl{reader.u8(kControlIdAt),
                           static_cast<TransferAction>(reader.u8(kControlActionAt))};
}

}  // namespace velmora
