#pragma once

// What the receiving side does with each kind of peer message, filled in by the conversation and
// by the transfers. Every call runs on the user-interface thread; the messages handed over point
// into the received buffer and are valid only during the call.

#include "protocol/PeerMessages.h"

#include <QString>

#include <cstdint>

namespace velmora {

// The participant a message came from.
struct PeerSender {
    std::uint32_t id = 0;
    QString name;
};

class ConversationHandler {
public:
    virtual ~ConversationHandler() = default;
    // text: the chat line, decoded from Windows-1252 (TextMessage) or UTF-8 (Utf8TextMessage),
    // ending before any zero character.
    virtual void textReceived(const QString& senderName, const QString& text) = 0;
    virtual void keyStrokeReceived(const KeyStroke& keyStroke) = 0;
    // Classic mode: whole characters one key typed on the other side (TypedText), decoded.
    virtual void typedTextReceived(const QString& /*text*/, std::uint16_t /*caret*/) {}
    // The other side's hello; a handler that does not negotiate ignores it.
    virtual void helloReceived(const PeerSender& /*sender*/, const PeerHello& /*hello*/) {}
};

class TransferHandler {
public:
    virtual ~TransferHandler() = default;
    virtual void offerReceived(const PeerSender& sender, const FileOffer& offer) = 0;
    virtual void replyReceived(const PeerSender& sender, const FileReply& reply) = 0;
    virtual void blockReceived(const PeerSender& sender, const FileBlock& block) = 0;
    virtual void controlReceived(const PeerSender& sender, const TransferControl& control) = 0;
    // A FileBlock that does not parse but names its transfer.
    virtual void damagedBlockReceived(const PeerSender& /*sender*/, std::uint8_t /*transferId*/) {}
    // The file check's kinds; a handler that does not check files ignores them.
    virtual void offerDetailsReceived(const PeerSender& /*sender*/,
                                      const FileOfferDetails& /*details*/) {}
    virtual void replyDetailsReceived(const PeerSender& /*sender*/,
                                      const FileReplyDetails& /*details*/) {}
    virtual void digestReceived(const PeerSender& /*sender*/, const FileDigest& /*digest*/) {}
    virtual void restartReceived(const PeerSender& /*sender*/, const FileRestart& /*restart*/) {}
    virtual void verdictReceived(const PeerSender& /*sender*/, const FileVerdict& /*verdict*/) {}
    // The news a peer sends only to one that has shown it reads them.
    virtual void reasonReceived(const PeerSender& /*sender*/, const TransferReason& /*reason*/) {}
    virtual void progressReceived(const PeerSender& /*sender*/, const FileProgress& /*progress*/) {}
};

}  // namespace velmora
