#pragma once

#include "protocol/PeerMessageHandlers.h"

namespace velmora {

// Reads the kind of one received message and hands the parsed message to the handler of that
// kind. Messages of an unknown kind, and messages too short or malformed for their kind, are
// ignored. Returns whether a handler was called.
bool dispatchPeerMessage(const PeerSender& sender, const char* data, int size,
                         ConversationHandler& conversation, TransferHandler& transfers);

}  // namespace velmora
