#pragma once

// The messages the two peers exchange inside the session: one little-endian byte record per
// message, its first 32-bit word the kind. Builders give the exact wire bytes; parsers read a
// received message without ever going past its end and give nullopt for anything malformed, which
// the receiver ignores.

#include <QByteArray>
#include <QString>

#include <array>
#include <cstdint>
#include <optional>
#include <span>

namespace velmora {

using MessageBytes = std::span<const char>;

enum class MessageKind : std::uint32_t {
    Text = 0,
    FileOffer = 1,
    FileReply = 2,
    FileBlock = 3,
    KeyStroke = 4,
    TransferControl = 5,
    // The file check: sent only to a peer that has shown it speaks them (see FileOfferDetails).
    FileOfferDetails = 6,
    FileReplyDetails = 7,
    FileDigest = 8,
    FileRestart = 9,
    FileVerdict = 10,
    // Sent only to a peer whose details carry kTransferNews.
    TransferReason = 11,
    FileProgress = 12,
    // Text in UTF-8: the hello says a side speaks them; sent only to a peer that said so.
    PeerHello = 13,
    Utf8Text = 14,
    TypedText = 15,
};

inline constexpr int kMessageKindSize = 4;
inline constexpr int kFileOfferSize = 584;
inline constexpr int kFileReplySize = 328;
inline constexpr int kFileBlockHeaderSize = 11;
inline constexpr int kKeyStrokeSize = 12;
inline constexpr int kTransferControlSize = 8;
// A text message is its text plus this many bytes (kind, length, ending zero, reserved byte).
inline constexpr int kTextMessageOverhead = 8;
inline constexpr int kMaxTextLength = 0xFFFF;
inline constexpr int kMaxFileNameLength = 255;
// The file's small icon: a 16 x 16, 16-colour ICO file of exactly this many bytes.
inline constexpr int kIconFieldSize = 318;
// Transfer identifiers are 0..254; 255 is never used.
inline constexpr int kTransferIdCount = 255;
inline constexpr std::uint8_t kUnusedTransferId = kTransferIdCount;

// The file check's messages: fixed parts, and the SHA-256 digest they carry.
inline constexpr int kDigestSize = 32;
inline constexpr int kFileOfferDetailsHeaderSize = 8;  // the UTF-8 name follows
inline constexpr int kFileReplyDetailsSize = 44;
inline constexpr int kFileDigestSize = 40;
inline constexpr int kFileRestartSize = 8;
inline constexpr int kFileVerdictSize = 8;
inline constexpr int kTransferReasonHeaderSize = 8;  // the UTF-8 detail follows
inline constexpr int kFileProgressSize = 12;
// The longest UTF-8 detail a TransferReason carries.
inline constexpr int kMaxReasonDetailLength = 1023;
// The longest UTF-8 name an offer's details carry.
inline constexpr int kMaxUtf8NameLength = 1023;
// The Flags bit of both details messages: the side checks files with SHA-256.
inline constexpr std::uint8_t kCheckSha256 = 0x01;
// The Flags bit of both details messages: the side reads TransferReason and FileProgress.
inline constexpr std::uint8_t kTransferNews = 0x02;

// The hello's fixed part (the UTF-8 name follows) and its Flags bit: the side reads and writes
// chat lines, typed characters and its name in UTF-8.
inline constexpr int kPeerHelloHeaderSize = 8;
inline constexpr std::uint8_t kHelloUtf8Text = 0x01;
// Flags bit: the side's instance follows the name; it continues its transfers when a lost line
// comes back to the same instance.
inline constexpr std::uint8_t kHelloInstance = 0x02;
inline constexpr int kHelloInstanceSize = 16;
// A UTF-8 chat line is its text plus this many bytes (kind, 32-bit length).
inline constexpr int kUtf8TextHeaderSize = 8;
// The longest UTF-8 text a chat line carries: 65535 UTF-16 units take at most three bytes each.
inline constexpr int kMaxUtf8TextLength = 3 * kMaxTextLength;
// Typed characters: kind, caret, length; the UTF-8 bytes follow.
inline constexpr int kTypedTextHeaderSize = 8;

inline constexpr int kMinBlockCode = 1;
inline constexpr int kMaxBlockCode = 7;
// The data size of a block-size code 1..7 (512 ... 1 MiB); nullopt for any other code.
std::optional<int> blockSizeOfCode(int code);

enum FileReplyResult : std::uint8_t {
    frAccepted = 0,
    frBlocked = 1,  // the receiver blocks incoming files
    frIdInUse = 2,  // the receiver already lists a transfer with this identifier
};

enum TransferAction : std::uint8_t {
    caResume = 0,
    caPause = 1,
    caAbort = 2,
};

enum FileVerdictResult : std::uint8_t {
    fvWhole = 0,       // the file is byte for byte the sender's and was saved under its name
    fvDamaged = 1,     // the count held but the digest differs (or never came)
    fvIncomplete = 2,  // fewer or more bytes arrived than were offered
};

// Why a side refuses or stops a transfer. Values this version does not know are kept as they
// came: a later version may add some.
enum TransferReasonCode : std::uint8_t {
    trUserAborted = 0,   // the user aborted it
    trBlocked = 1,       // the receiver does not accept files
    trUnusableName = 2,  // the receiver cannot use the name (detail: why)
    trCannotWrite = 3,  // the receiver cannot create or write the file (detail: the system's words)
    trCannotRead = 4,   // the sender cannot read the file (detail: the system's words)
    trSourceChanged = 5,  // the file changed while it was sent
    trBadData = 6,        // the blocks are not what the offer said (more bytes, a damaged block)
    trTooMany = 7,        // the receiver has as many files coming from this side as it takes
};

struct TextMessage {
    QByteArray text;  // Windows-1252 bytes, without a line end
};

struct FileOffer {
    QByteArray fileName;  // Windows-1252 bytes of the name without folder, at most 255
    std::int32_t fileSize = 0;
    std::uint8_t transferId = 0;
    QByteArray icon;  // the icon field, kIconFieldSize bytes
};

struct FileReply {
    std::int32_t offset = 0;
    std::uint8_t transferId = 0;
    FileReplyResult result = frAccepted;
    QByteArray icon;  // copy of the offer's icon field, kIconFieldSize bytes
};

struct FileBlock {
    bool last = false;
    std::uint8_t transferId = 0;
    std::uint8_t blockCode = kMinBlockCode;
    // The file bytes of this block (Count of them). In a parsed block it points into the
    // received message and is valid only as long as that message is.
    MessageBytes data;
};

struct KeyStroke {
    std::uint16_t keyCode = 0;  // virtual-key code, or 0 for a typed character
    std::uint8_t charCode = 0;  // the typed character when keyCode is 0, else 32
    std::uint16_t caret = 0;    // selection start in the sender's view before the key
};

struct TransferControl {
    std::uint8_t transferId = 0;
    TransferAction action = caResume;
};

// Sent right before a FileOffer by a side that checks files.
struct FileOfferDetails {
    std::uint8_t transferId = 0;
    std::uint8_t flags = kCheckSha256;
    QByteArray utf8Name;  // the name without folder in UTF-8, at most kMaxUtf8NameLength bytes
};

// Sent right before an accepting FileReply by a side that checks files and got the offer's
// details.
struct FileReplyDetails {
    std::uint8_t transferId = 0;
    std::uint8_t flags = kCheckSha256;
    std::int32_t offset = 0;  // as in the FileReply that follows
    QByteArray prefixDigest;  // SHA-256 of the first offset bytes the receiver holds
};

// Sent by the sender right before the end-of-file FileBlock: the SHA-256 of the whole file.
struct FileDigest {
    std::uint8_t transferId = 0;
    QByteArray digest;
};

// The sender's answer to a prefix digest that is not its file's: the file comes again from 0.
struct FileRestart {
    std::uint8_t transferId = 0;
};

// The receiver's answer to the end-of-file FileBlock.
struct FileVerdict {
    std::uint8_t transferId = 0;
    FileVerdictResult result = fvWhole;
};

// Sent right before the FileReply that refuses an offer, or the TransferControl that aborts a
// transfer: why.
struct TransferReason {
    std::uint8_t transferId = 0;
    std::uint8_t code = trUserAborted;  // a TransferReasonCode, or one of a later version
    QByteArray utf8Detail;  // words of the side's system, at most kMaxReasonDetailLength bytes
};

// The receiver's count of the file bytes it has written (a resumed prefix included), sent while
// the blocks come.
struct FileProgress {
    std::uint8_t transferId = 0;
    std::int32_t written = 0;
};

// Each side's first message once both players exist; a side that gets a greeting answers it.
struct PeerHello {
    std::uint8_t flags = kHelloUtf8Text;
    bool answer = false;    // false: a greeting; true: the answer to the other side's greeting
    QByteArray utf8Name{};  // the sender's player name in UTF-8, at most kMaxUtf8NameLength bytes
    // With kHelloInstance: kHelloInstanceSize bytes that name the sender's run of the program.
    QByteArray instance{};
};

// A chat line in UTF-8, sent instead of a TextMessage to a peer whose hello has kHelloUtf8Text.
struct Utf8TextMessage {
    QByteArray text;  // UTF-8 bytes, without a line end
};

// Classic mode: what one key typed, whole characters in UTF-8, sent instead of a KeyStroke with
// KeyCode 0 to a peer whose hello has kHelloUtf8Text.
struct TypedText {
    std::uint16_t caret = 0;  // selection start in the sender's view before the key
    QByteArray text;          // UTF-8 bytes, at most 65535
};

// The kind word of any message of at least four bytes.
std::optional<std::uint32_t> messageKindOf(MessageBytes message);

// Text longer than 65535 bytes is cut to that length.
QByteArray buildTextMessage(const TextMessage& message);
// A name longer than 255 bytes is cut; the icon is cut or padded with zeros to its field.
QByteArray buildFileOffer(const FileOffer& offer);
QByteArray buildFileReply(const FileReply& reply);
// Always the full length for the block code. The code must be 1..7 and the data no longer than
// its block size; otherwise the result is empty and nothing can be sent.
QByteArray buildFileBlock(const FileBlock& block);
QByteArray buildKeyStroke(const KeyStroke& keyStroke);
QByteArray buildTransferControl(const TransferControl& control);
// A longer name is left out (NameLength 0); a digest is cut or padded with zeros to 32 bytes.
QByteArray buildFileOfferDetails(const FileOfferDetails& details);
QByteArray buildFileReplyDetails(const FileReplyDetails& details);
QByteArray buildFileDigest(const FileDigest& digest);
QByteArray buildFileRestart(const FileRestart& restart);
QByteArray buildFileVerdict(const FileVerdict& verdict);
// A longer detail is cut at a character boundary to kMaxReasonDetailLength bytes.
QByteArray buildTransferReason(const TransferReason& reason);
QByteArray buildFileProgress(const FileProgress& progress);
// A longer name is left out (NameLength 0); a longer text is cut (callers cut whole characters).
QByteArray buildPeerHello(const PeerHello& hello);
QByteArray buildUtf8TextMessage(const Utf8TextMessage& message);
QByteArray buildTypedText(const TypedText& typed);

// The text stops at its first zero byte.
std::optional<TextMessage> parseTextMessage(MessageBytes message);
// The identifier 255 is parsed, so that such an offer can be answered.
std::optional<FileOffer> parseFileOffer(MessageBytes message);
// Also nullopt for the identifier 255 and for a result other than 0..2.
std::optional<FileReply> parseFileReply(MessageBytes message);
// Also nullopt for the identifier 255, a block code outside 1..7, a message shorter than the
// full length of its code, and a Count below 0 or above the block size.
std::optional<FileBlock> parseFileBlock(MessageBytes message);
std::optional<KeyStroke> parseKeyStroke(MessageBytes message);
// Also nullopt for the identifier 255 and for an action other than 0..2.
std::optional<TransferControl> parseTransferControl(MessageBytes message);
// The check's messages: nullopt when shorter than their layout or for the identifier 255;
// bytes after the layout are ignored, so that later versions can add fields. The verdict is also
// nullopt for a result other than 0..2.
std::optional<FileOfferDetails> parseFileOfferDetails(MessageBytes message);
std::optional<FileReplyDetails> parseFileReplyDetails(MessageBytes message);
std::optional<FileDigest> parseFileDigest(MessageBytes message);
std::optional<FileRestart> parseFileRestart(MessageBytes message);
std::optional<FileVerdict> parseFileVerdict(MessageBytes message);
// nullopt when shorter than the layout, for the identifier 255, a detail longer than allowed, or
// (progress) a negative count.
std::optional<TransferReason> parseTransferReason(MessageBytes message);
std::optional<FileProgress> parseFileProgress(MessageBytes message);
// Bytes after the layout are ignored, so that later versions can add fields. The UTF-8 text
// stops at its first zero byte, as a TextMessage's does; typed text of no bytes is nullopt.
std::optional<PeerHello> parsePeerHello(MessageBytes message);
std::optional<Utf8TextMessage> parseUtf8TextMessage(MessageBytes message);
std::optional<TypedText> parseTypedText(MessageBytes message);
// The identifier of a FileBlock too damaged to parse, when at least that much of it is there:
// for the receiver to stop the transfer it belongs to.
std::optional<std::uint8_t> damagedFileBlockId(MessageBytes message);

inline MessageBytes bytesOf(const QByteArray& message) {
    return {message.constData(), static_cast<std::size_t>(message.size())};
}

}  // namespace velmora
