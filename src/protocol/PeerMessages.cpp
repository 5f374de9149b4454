#include "protocol/PeerMessages.h"

#include "base/ByteLayout.h"

#include <algorithm>
#include <array>

namespace velmora {

namespace {

constexpr std::array<int, kMaxBlockCode> kBlockSizes{512, 1024, 2048, 4096, 32768, 65536, 1048576};

constexpr int kOfferNameField = 256;  // the length byte and up to 255 name bytes
constexpr int kReservedAfterOffer = 1;
constexpr int kReservedAfterKeyChar = 1;
constexpr int kReservedAfterKeyCaret = 2;
constexpr int kReservedAfterControl = 2;
constexpr int kReservedAfterDetailsFlags = 2;
constexpr int kReservedAfterId = 3;
constexpr int kReservedAfterVerdict = 2;
constexpr int kMaxTypedTextLength = 0xFFFF;

ByteWriter messageOf(MessageKind kind, qsizetype size) {
    ByteWriter writer(size);
    writer.u32(static_cast<std::uint32_t>(kind));
    return writer;
}

// The icon field: the icon cut or padded with zeros to its width.
void putIcon(ByteWriter& writer, const QByteArray& icon) {
    const qsizetype used = std::min<qsizetype>(icon.size(), kIconFieldSize);
    writer.bytes(bytesOf(icon).first(static_cast<std::size_t>(used))).zeros(kIconFieldSize - used);
}

// A reader past the kind word of a message of that kind; nullopt for another kind or a message
// too short to hold the kind.
std::optional<ByteReader> bodyOf(MessageBytes message, MessageKind kind) {
    ByteReader reader(message);
    if (reader.u32() != static_cast<std::uint32_t>(kind) || !reader.ok()) {
        return std::nullopt;
    }
    return reader;
}

void putDigest(ByteWriter& writer, const QByteArray& digest) {
    const qsizetype used = std::min<qsizetype>(digest.size(), kDigestSize);
    writer.bytes(bytesOf(digest).first(static_cast<std::size_t>(used))).zeros(kDigestSize - used);
}

// The identifier that opens the check's messages; nullopt for 255 or a short message.
std::optional<std::uint8_t> checkedIdOf(ByteReader& reader) {
    const std::uint8_t id = reader.u8();
    return reader.ok() && id != kUnusedTransferId ? std::optional(id) : std::nullopt;
}

}  // namespace

std::optional<int> blockSizeOfCode(int code) {
    if (code < kMinBlockCode || code > kMaxBlockCode) {
        return std::nullopt;
    }
    return kBlockSizes[code - kMinBlockCode];
}

std::optional<std::uint32_t> messageKindOf(MessageBytes message) {
    ByteReader reader(message);
    const std::uint32_t kind = reader.u32();
    return reader.ok() ? std::optional(kind) : std::nullopt;
}

QByteArray buildTextMessage(const TextMessage& message) {
    const int length = std::min<int>(message.text.size(), kMaxTextLength);
    ByteWriter writer = messageOf(MessageKind::Text, length + kTextMessageOverhead);
    writer.u16(static_cast<std::uint16_t>(length))
        .bytes(bytesOf(message.text).first(static_cast<std::size_t>(length)))
        .zeros(2);  // the ending zero and the reserved byte
    return writer.take();
}

QByteArray buildFileOffer(const FileOffer& offer) {
    const int nameLength = std::min<int>(offer.fileName.size(), kMaxFileNameLength);
    ByteWriter writer = messageOf(MessageKind::FileOffer, kFileOfferSize);
    writer.u8(static_cast<std::uint8_t>(nameLength))
        .bytes(bytesOf(offer.fileName).first(static_cast<std::size_t>(nameLength)))
        .zeros(kOfferNameField - 1 - nameLength)
        .u32(static_cast<std::uint32_t>(offer.fileSize))
        .u8(offer.transferId);
    putIcon(writer, offer.icon);
    writer.zeros(kReservedAfterOffer);
    return writer.take();
}

QByteArray buildFileReply(const FileReply& reply) {
    ByteWriter writer = messageOf(MessageKind::FileReply, kFileReplySize);
    writer.u32(static_cast<std::uint32_t>(reply.offset)).u8(reply.transferId).u8(reply.result);
    putIcon(writer, reply.icon);
    return writer.take();
}

QByteArray buildFileBlock(const FileBlock& block) {
    const auto blockSize = blockSizeOfCode(block.blockCode);
    if (!blockSize || block.data.size() > static_cast<std::size_t>(*blockSize)) {
        return {};
    }
    ByteWriter writer = messageOf(MessageKind::FileBlock, *blockSize + kFileBlockHeaderSize);
    writer.u8(block.last ? 1 : 0)
        .u8(block.transferId)
        .u32(static_cast<std::uint32_t>(block.data.size()))
        .u8(block.blockCode)
        .bytes(block.data)
        .zeros(*blockSize - static_cast<qsizetype>(block.data.size()));
    return writer.take();
}

QByteArray buildKeyStroke(const KeyStroke& keyStroke) {
    ByteWriter writer = messageOf(MessageKind::KeyStroke, kKeyStrokeSize);
    writer.u16(keyStroke.keyCode)
        .u8(keyStroke.charCode)
        .zeros(kReservedAfterKeyChar)
        .u16(keyStroke.caret)
        .zeros(kReservedAfterKeyCaret);
    return writer.take();
}

QByteArray buildTransferControl(const TransferControl& control) {
    ByteWriter writer = messageOf(MessageKind::TransferControl, kTransferControlSize);
    writer.u8(control.transferId).u8(control.action).zeros(kReservedAfterControl);
    return writer.take();
}

std::optional<TextMessage> parseTextMessage(MessageBytes message) {
    auto reader = bodyOf(message, MessageKind::Text);
    if (!reader) {
        return std::nullopt;
    }
    const std::uint16_t length = reader->u16();
    const MessageBytes text = reader->bytes(length);
    if (!reader->ok()) {
        return std::nullopt;
    }
    const auto end = std::find(text.begin(), text.end(), '\0');
    return TextMessage{QByteArray(text.data(), static_cast<qsizetype>(end - text.begin()))};
}

std::optional<FileOffer> parseFileOffer(MessageBytes message) {
    auto reader = bodyOf(message, MessageKind::FileOffer);
    if (!reader) {
        return std::nullopt;
    }
    const MessageBytes nameField = reader->bytes(kOfferNameField);
    FileOffer offer;
    offer.fileSize = static_cast<std::int32_t>(reader->u32());
    offer.transferId = reader->u8();
    offer.icon = reader->copy(kIconFieldSize);
    reader->skip(kReservedAfterOffer);
    if (!reader->ok()) {
        return std::nullopt;
    }
    const auto nameLength = static_cast<std::size_t>(loadU8(nameField, 0));
    const MessageBytes name = nameField.subspan(1, nameLength);
    offer.fileName = QByteArray(name.data(), static_cast<qsizetype>(name.size()));
    return offer;
}

std::optional<FileReply> parseFileReply(MessageBytes message) {
    auto reader = bodyOf(message, MessageKind::FileReply);
    if (!reader) {
        return std::nullopt;
    }
    FileReply reply;
    reply.offset = static_cast<std::int32_t>(reader->u32());
    reply.transferId = reader->u8();
    const std::uint8_t result = reader->u8();
    reply.result = static_cast<FileReplyResult>(result);
    reply.icon = reader->copy(kIconFieldSize);
    if (!reader->ok() || reply.transferId == kUnusedTransferId || result > frIdInUse) {
        return std::nullopt;
    }
    return reply;
}

std::optional<FileBlock> parseFileBlock(MessageBytes message) {
    auto reader = bodyOf(message, MessageKind::FileBlock);
    if (!reader) {
        return std::nullopt;
    }
    FileBlock block;
    block.last = reader->u8() == 1;
    block.transferId = reader->u8();
    const auto count = static_cast<std::int32_t>(reader->u32());
    block.blockCode = reader->u8();
    const auto blockSize = blockSizeOfCode(block.blockCode);
    if (!reader->ok() || block.transferId == kUnusedTransferId || !blockSize || count < 0 ||
        count > *blockSize) {
        return std::nullopt;
    }
    const MessageBytes data = reader->bytes(static_cast<std::size_t>(*blockSize));
    if (!reader->ok()) {
        return std::nullopt;
    }
    block.data = data.first(static_cast<std::size_t>(count));
    return block;
}

std::optional<KeyStroke> parseKeyStroke(MessageBytes message) {
    auto reader = bodyOf(message, MessageKind::KeyStroke);
    if (!reader) {
        return std::nullopt;
    }
    KeyStroke keyStroke;
    keyStroke.keyCode = reader->u16();
    keyStroke.charCode = reader->u8();
    reader->skip(kReservedAfterKeyChar);
    keyStroke.caret = reader->u16();
    reader->skip(kReservedAfterKeyCaret);
    return reader->ok() ? std::optional(keyStroke) : std::nullopt;
}

std::optional<TransferControl> parseTransferControl(MessageBytes message) {
    auto reader = bodyOf(message, MessageKind::TransferControl);
    if (!reader) {
        return std::nullopt;
    }
    const std::uint8_t id = reader->u8();
    const std::uint8_t action = reader->u8();
    reader->skip(kReservedAfterControl);
    if (!reader->ok() || id == kUnusedTransferId || action > caAbort) {
        return std::nullopt;
    }
    return TransferControl{id, static_cast<TransferAction>(action)};
}

QByteArray buildFileOfferDetails(const FileOfferDetails& details) {
    const QByteArray name =
        details.utf8Name.size() <= kMaxUtf8NameLength ? details.utf8Name : QByteArray();
    ByteWriter writer =
        messageOf(MessageKind::FileOfferDetails, kFileOfferDetailsHeaderSize + name.size());
    writer.u8(details.transferId)
        .u8(details.flags)
        .u16(static_cast<std::uint16_t>(name.size()))
        .bytes(name);
    return writer.take();
}

QByteArray buildFileReplyDetails(const FileReplyDetails& details) {
    ByteWriter writer = messageOf(MessageKind::FileReplyDetails, kFileReplyDetailsSize);
    writer.u8(details.transferId)
        .u8(details.flags)
        .zeros(kReservedAfterDetailsFlags)
        .u32(static_cast<std::uint32_t>(details.offset));
    putDigest(writer, details.prefixDigest);
    return writer.take();
}

QByteArray buildFileDigest(const FileDigest& digest) {
    ByteWriter writer = messageOf(MessageKind::FileDigest, kFileDigestSize);
    writer.u8(digest.transferId).zeros(kReservedAfterId);
    putDigest(writer, digest.digest);
    return writer.take();
}

QByteArray buildFileRestart(const FileRestart& restart) {
    ByteWriter writer = messageOf(MessageKind::FileRestart, kFileRestartSize);
    writer.u8(restart.transferId).zeros(kReservedAfterId);
    return writer.take();
}

QByteArray buildFileVerdict(const FileVerdict& verdict) {
    ByteWriter writer = messageOf(MessageKind::FileVerdict, kFileVerdictSize);
    writer.u8(verdict.transferId).u8(verdict.result).zeros(kReservedAfterVerdict);
    return writer.take();
}

std::optional<FileOfferDetails> parseFileOfferDetails(MessageBytes message) {
    auto reader = bodyOf(message, MessageKind::FileOfferDetails);
    const auto id = reader ? checkedIdOf(*reader) : std::nullopt;
    if (!id) {
        return std::nullopt;
    }
    FileOfferDetails details;
    details.transferId = *id;
    details.flags = reader->u8();
    const std::uint16_t nameLength = reader->u16();
    details.utf8Name = reader->copy(nameLength);
    if (!reader->ok() || nameLength > kMaxUtf8NameLength) {
        return std::nullopt;
    }
    return details;
}

std::optional<FileReplyDetails> parseFileReplyDetails(MessageBytes message) {
    auto reader = bodyOf(message, MessageKind::FileReplyDetails);
    const auto id = reader ? checkedIdOf(*reader) : std::nullopt;
    if (!id) {
        return std::nullopt;
    }
    FileReplyDetails details;
    details.transferId = *id;
    details.flags = reader->u8();
    reader->skip(kReservedAfterDetailsFlags);
    details.offset = static_cast<std::int32_t>(reader->u32());
    details.prefixDigest = reader->copy(kDigestSize);
    return reader->ok() ? std::optional(details) : std::nullopt;
}

std::optional<FileDigest> parseFileDigest(MessageBytes message) {
    auto reader = bodyOf(message, MessageKind::FileDigest);
    const auto id = reader ? checkedIdOf(*reader) : std::nullopt;
    if (!id) {
        return std::nullopt;
    }
    reader->skip(kReservedAfterId);
    FileDigest digest{*id, reader->copy(kDigestSize)};
    return reader->ok() ? std::optional(digest) : std::nullopt;
}

std::optional<FileRestart> parseFileRestart(MessageBytes message) {
    auto reader = bodyOf(message, MessageKind::FileRestart);
    const auto id = reader ? checkedIdOf(*reader) : std::nullopt;
    if (!id) {
        return std::nullopt;
    }
    reader->skip(kReservedAfterId);
    return reader->ok() ? std::optional(FileRestart{*id}) : std::nullopt;
}

std::optional<FileVerdict> parseFileVerdict(MessageBytes message) {
    auto reader = bodyOf(message, MessageKind::FileVerdict);
    const auto id = reader ? checkedIdOf(*reader) : std::nullopt;
    if (!id) {
        return std::nullopt;
    }
    const std::uint8_t result = reader->u8();
    reader->skip(kReservedAfterVerdict);
    if (!reader->ok() || result > fvIncomplete) {
        return std::nullopt;
    }
    return FileVerdict{*id, static_cast<FileVerdictResult>(result)};
}

QByteArray buildTransferReason(const TransferReason& reason) {
    QByteArray detail = reason.utf8Detail.left(kMaxReasonDetailLength);
    // A cut inside a character drops the character's first bytes too.
    while (detail.size() < reason.utf8Detail.size() && !detail.isEmpty() &&
           (static_cast<std::uint8_t>(reason.utf8Detail.at(detail.size())) & 0xC0) == 0x80) {
        detail.chop(1);
    }
    ByteWriter writer =
        messageOf(MessageKind::TransferReason, kTransferReasonHeaderSize + detail.size());
    writer.u8(reason.transferId)
        .u8(reason.code)
        .u16(static_cast<std::uint16_t>(detail.size()))
        .bytes(detail);
    return writer.take();
}

QByteArray buildFileProgress(const FileProgress& progress) {
    ByteWriter writer = messageOf(MessageKind::FileProgress, kFileProgressSize);
    writer.u8(progress.transferId)
        .zeros(kReservedAfterId)
        .u32(static_cast<std::uint32_t>(progress.written));
    return writer.take();
}

std::optional<TransferReason> parseTransferReason(MessageBytes message) {
    auto reader = bodyOf(message, MessageKind::TransferReason);
    const auto id = reader ? checkedIdOf(*reader) : std::nullopt;
    if (!id) {
        return std::nullopt;
    }
    TransferReason reason;
    reason.transferId = *id;
    reason.code = reader->u8();
    const std::uint16_t length = reader->u16();
    reason.utf8Detail = reader->copy(length);
    if (!reader->ok() || length > kMaxReasonDetailLength) {
        return std::nullopt;
    }
    return reason;
}

std::optional<FileProgress> parseFileProgress(MessageBytes message) {
    auto reader = bodyOf(message, MessageKind::FileProgress);
    const auto id = reader ? checkedIdOf(*reader) : std::nullopt;
    if (!id) {
        return std::nullopt;
    }
    reader->skip(kReservedAfterId);
    const auto written = static_cast<std::int32_t>(reader->u32());
    if (!reader->ok() || written < 0) {
        return std::nullopt;
    }
    return FileProgress{*id, written};
}

QByteArray buildPeerHello(const PeerHello& hello) {
    const QByteArray name =
        hello.utf8Name.size() <= kMaxUtf8NameLength ? hello.utf8Name : QByteArray();
    const bool instance =
        (hello.flags & kHelloInstance) != 0 && hello.instance.size() == kHelloInstanceSize;
    const std::uint8_t flags =
        instance ? hello.flags : static_cast<std::uint8_t>(hello.flags & ~kHelloInstance);
    ByteWriter writer = messageOf(MessageKind::PeerHello, kPeerHelloHeaderSize + name.size() +
                                                              (instance ? kHelloInstanceSize : 0));
    writer.u8(flags)
        .u8(hello.answer ? 1 : 0)
        .u16(static_cast<std::uint16_t>(name.size()))
        .bytes(name);
    if (instance) {
        writer.bytes(hello.instance);
    }
    return writer.take();
}

QByteArray buildUtf8TextMessage(const Utf8TextMessage& message) {
    const QByteArray text = message.text.left(kMaxUtf8TextLength);
    ByteWriter writer = messageOf(MessageKind::Utf8Text, kUtf8TextHeaderSize + text.size());
    writer.u32(static_cast<std::uint32_t>(text.size())).bytes(text);
    return writer.take();
}

QByteArray buildTypedText(const TypedText& typed) {
    const QByteArray text = typed.text.left(kMaxTypedTextLength);
    ByteWriter writer = messageOf(MessageKind::TypedText, kTypedTextHeaderSize + text.size());
    writer.u16(typed.caret).u16(static_cast<std::uint16_t>(text.size())).bytes(text);
    return writer.take();
}

std::optional<PeerHello> parsePeerHello(MessageBytes message) {
    auto reader = bodyOf(message, MessageKind::PeerHello);
    if (!reader) {
        return std::nullopt;
    }
    PeerHello hello;
    hello.flags = reader->u8();
    hello.answer = reader->u8() != 0;
    const std::uint16_t nameLength = reader->u16();
    hello.utf8Name = reader->copy(nameLength);
    if (!reader->ok() || nameLength > kMaxUtf8NameLength) {
        return std::nullopt;
    }
    if ((hello.flags & kHelloInstance) != 0) {
        hello.instance = reader->copy(kHelloInstanceSize);
        if (!reader->ok()) {
            // Said, but not there: taken as a hello without it.
            hello.instance.clear();
            hello.flags &= static_cast<std::uint8_t>(~kHelloInstance);
        }
    }
    return hello;
}

std::optional<Utf8TextMessage> parseUtf8TextMessage(MessageBytes message) {
    auto reader = bodyOf(message, MessageKind::Utf8Text);
    if (!reader) {
        return std::nullopt;
    }
    const std::uint32_t length = reader->u32();
    const MessageBytes text = reader->bytes(length);
    if (!reader->ok()) {
        return std::nullopt;
    }
    const auto end = std::find(text.begin(), text.end(), '\0');
    return Utf8TextMessage{QByteArray(text.data(), static_cast<qsizetype>(end - text.begin()))};
}

std::optional<TypedText> parseTypedText(MessageBytes message) {
    auto reader = bodyOf(message, MessageKind::TypedText);
    if (!reader) {
        return std::nullopt;
    }
    TypedText typed;
    typed.caret = reader->u16();
    const std::uint16_t length = reader->u16();
    typed.text = reader->copy(length);
    if (!reader->ok() || length == 0) {
        return std::nullopt;
    }
    return typed;
}

std::optional<std::uint8_t> damagedFileBlockId(MessageBytes message) {
    auto reader = bodyOf(message, MessageKind::FileBlock);
    if (!reader) {
        return std::nullopt;
    }
    reader->skip(1);  // Last
    return checkedIdOf(*reader);
}

}  // namespace velmora
