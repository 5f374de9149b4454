#pragma once

#include "protocol/PeerMessageHandlers.h"

namespace velmora {

// Reads the kind of one received message and hands the parsed message to the handler of that
// kind. Messages of an unknown kind, and messages too short or malformed for their kind, are
// ignored, except that a damaged FileBlock that still names its transfer is reported as such.
// Returns whether the message reached the handler of its kind.
bool dispatchPeerMessage(const PeerSender& sender, const char* data, int size,
                         ConversationHandler& conversation, TransferHandler& transfers);

}  // namespace velmora
