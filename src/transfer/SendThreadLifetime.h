#pragma once

#include "transfer/SendThread.h"

#include <memory>

namespace velmora {

class TransferEngine;
class UiHandOver;

// Creates and starts the sender thread of an open session: it prepares the engine's blocks on
// the UI thread through the hand-over and sends them through send. The engine's blocksReady
// wakes it from an idle wait.
std::unique_ptr<TSendThread> startSendThread(TransferEngine& engine, UiHandOver& handOver,
                                             BlockSink send);

// UI thread: asks the thread to end and waits for it, running the hand-overs it has pending
// meanwhile, then frees it. Does nothing when there is no thread.
void stopSendThread(std::unique_ptr<TSendThread>& thread, UiHandOver& handOver);

}  // namespace velmora
