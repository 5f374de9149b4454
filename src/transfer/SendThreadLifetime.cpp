#include "transfer/SendThreadLifetime.h"

#include "session/UiHandOver.h"
#include "transfer/TransferEngine.h"

namespace velmora {

std::unique_ptr<TSendThread> startSendThread(TransferEngine& engine, UiHandOver& handOver,
                                             BlockSink send) {
    auto thread = std::make_unique<TSendThread>(
        [&handOver](std::function<void()> work) { return handOver.runOnUiThread(std::move(work)); },
        [&engine](BlockCursor& cursor) { return engine.prepareBlock(cursor); }, std::move(send),
        [&handOver] { handOver.wake(); });
    // Cuts the thread's idle wait short; the connection ends with the thread.
    QObject::connect(&engine, &TransferEngine::blocksReady, thread.get(), &TSendThread::wake,
                     Qt::DirectConnection);
    thread->startSending();
    return thread;
}

void stopSendThread(std::unique_ptr<TSendThread>& thread, UiHandOver& handOver) {
    if (!thread) {
        return;
    }
    thread->requestStop();
    handOver.waitUntil([&thread] { return thread->hasEnded(); });
    thread.reset();
}

}  // namespace velmora
