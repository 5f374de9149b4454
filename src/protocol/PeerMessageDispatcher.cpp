#include "protocol/PeerMessageDispatcher.h"

#include "session/Windows1252.h"

namespace velmora {

namespace {

// Calls handle with the parsed message when it parses.
template <typename Message, typename Handle>
bool deliver(const std::optional<Message>& message, Handle handle) {
    if (!message) {
        return false;
    }
    handle(*message);
    return true;
}

}  // namespace

bool dispatchPeerMessage(const PeerSender& sender, const char* data, int size,
                         ConversationHandler& conversation, TransferHandler& transfers) {
    if (data == nullptr || size < 0) {
        return false;
    }
    const MessageBytes message(data, static_cast<std::size_t>(size));
    const auto kind = messageKindOf(message);
    if (!kind) {
        return false;
    }
    switch (static_cast<MessageKind>(*kind)) {
        case MessageKind::Text:
            return deliver(parseTextMessage(message), [&](const TextMessage& text) {
                conversation.textReceived(sender.name, fromWindows1252(text.text));
            });
        case MessageKind::Utf8Text:
            return deliver(parseUtf8TextMessage(message), [&](const Utf8TextMessage& text) {
                conversation.textReceived(sender.name, QString::fromUtf8(text.text));
            });
        case MessageKind::TypedText:
            return deliver(parseTypedText(message), [&](const TypedText& typed) {
                conversation.typedTextReceived(QString::fromUtf8(typed.text), typed.caret);
            });
        case MessageKind::PeerHello:
            return deliver(parsePeerHello(message), [&](const PeerHello& hello) {
                conversation.helloReceived(sender, hello);
            });
        case MessageKind::FileOffer:
            return deliver(parseFileOffer(message),
                           [&](const FileOffer& offer) { transfers.offerReceived(sender, offer); });
        case MessageKind::FileReply:
            return deliver(parseFileReply(message),
                           [&](const FileReply& reply) { transfers.replyReceived(sender, reply); });
        case MessageKind::FileBlock:
            if (deliver(parseFileBlock(message),
                        [&](const FileBlock& block) { transfers.blockReceived(sender, block); })) {
                return true;
            }
            if (const auto id = damagedFileBlockId(message)) {
                transfers.damagedBlockReceived(sender, *id);
            }
            return false;
        case MessageKind::KeyStroke:
            return deliver(parseKeyStroke(message), [&](const KeyStroke& keyStroke) {
                conversation.keyStrokeReceived(keyStroke);
            });
        case MessageKind::TransferControl:
            return deliver(parseTransferControl(message), [&](const TransferControl& control) {
                transfers.controlReceived(sender, control);
            });
        case MessageKind::FileOfferDetails:
            return deliver(parseFileOfferDetails(message), [&](const FileOfferDetails& details) {
                transfers.offerDetailsReceived(sender, details);
            });
        case MessageKind::FileReplyDetails:
            return deliver(parseFileReplyDetails(message), [&](const FileReplyDetails& details) {
                transfers.replyDetailsReceived(sender, details);
            });
        case MessageKind::FileDigest:
            return deliver(parseFileDigest(message), [&](const FileDigest& digest) {
                transfers.digestReceived(sender, digest);
            });
        case MessageKind::FileRestart:
            return deliver(parseFileRestart(message), [&](const FileRestart& restart) {
                transfers.restartReceived(sender, restart);
            });
        case MessageKind::FileVerdict:
            return deliver(parseFileVerdict(message), [&](const FileVerdict& verdict) {
                transfers.verdictReceived(sender, verdict);
            });
        case MessageKind::TransferReason:
            return deliver(parseTransferReason(message), [&](const TransferReason& reason) {
                transfers.reasonReceived(sender, reason);
            });
        case MessageKind::FileProgress:
            return deliver(parseFileProgress(message), [&](const FileProgress& progress) {
                transfers.progressReceived(sender, progress);
            });
    }
    return false;
}

}  // namespace velmora
