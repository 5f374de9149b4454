#include "shell/FileSenderThread.h"

#include "transfer/SendThreadLifetime.h"

namespace velmora {

FileSenderThread::FileSenderThread(TransferEngine& engine, UiHandOver& handOver, BlockSink send)
    : m_handOver(handOver), m_thread(startSendThread(engine, handOver, std::move(send))) {}

FileSenderThread::~FileSenderThread() {
    stopSendThread(m_thread, m_handOver);
}

void FileSenderThread::Suspend() {
    m_thread->suspend();
}

void FileSenderThread::Resume() {
    m_thread->resume();
}

bool FileSenderThread::Suspended() const {
    return m_thread->isSuspended();
}

void FileSenderThread::Terminate() {
    m_thread->requestStop();
}

}  // namespace velmora
