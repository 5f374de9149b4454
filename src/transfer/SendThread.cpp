#include "transfer/SendThread.h"

#include <chrono>

namespace velmora {

TSendThread::TSendThread(RunOnUiThread runOnUiThread, PrepareBlockFunction prepareBlock,
                         BlockSink send, std::function<void()> ended, QObject* parent)
    : QThread(parent),
      m_runOnUiThread(std::move(runOnUiThread)),
      m_prepareBlock(std::move(prepareBlock)),
      m_send(std::move(send)),
      m_ended(std::move(ended)) {}

TSendThread::~TSendThread() {
    requestStop();
    wait();
}

void TSendThread::startSending() {
    start(QThread::LowPriority);
}

void TSendThread::suspend() {
    const std::lock_guard lock(m_mutex);
    m_suspended = true;
}

void TSendThread::resume() {
    {
        const std::lock_guard lock(m_mutex);
        m_suspended = false;
    }
    m_changed.notify_all();
}

bool TSendThread::isSuspended() const {
    const std::lock_guard lock(m_mutex);
    return m_suspended;
}

void TSendThread::requestStop() {
    {
        const std::lock_guard lock(m_mutex);
        m_stop = true;
    }
    m_changed.notify_all();
}

void TSendThread::wake() {
    {
        const std::lock_guard lock(m_mutex);
        m_woken = true;
    }
    m_changed.notify_all();
}

bool TSendThread::hasEnded() const {
    const std::lock_guard lock(m_mutex);
    return m_hasEnded || !isRunning();
}

bool TSendThread::pauseBetweenCycles(int idleMs) {
    std::unique_lock lock(m_mutex);
    if (idleMs > 0 && !m_woken) {
        m_changed.wait_for(lock, std::chrono::milliseconds(idleMs),
                           [this] { return m_stop || m_woken; });
    }
    m_woken = false;
    m_changed.wait(lock, [this] { return m_stop || !m_suspended; });
    return !m_stop;
}

void TSendThread::run() {
    BlockCursor cursor;
    int idleMs = 0;
    bool lineWorks = true;
    while (pauseBetweenCycles(idleMs)) {
        if (!lineWorks) {
            idleMs = kLostLineIdleMs;  // only the request to end is waited for
            continue;
        }
        std::optional<PreparedBlock> block;
        m_runOnUiThread([&] { block = m_prepareBlock(cursor); });
        if (block) {
            lineWorks = m_send(block->destination, block->message);
        }
        idleMs = block ? 0 : kIdleMs;
    }
    {
        const std::lock_guard lock(m_mutex);
        m_hasEnded = true;
    }
    if (m_ended) {
        m_ended();
    }
}

}  // namespace velmora
