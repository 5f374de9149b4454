#include "session/DXPlayRecvThread.h"

#include "session/AutoResetEvent.h"
#include "session/UiHandOver.h"

namespace velmora {

TDXPlayRecvThread::TDXPlayRecvThread(UiHandOver& handOver,
                                     std::shared_ptr<AutoResetEvent> recvEvent,
                                     std::function<void()> deliver)
    : m_handOver(handOver),
      m_recvEvent(std::move(recvEvent)),
      m_stopEvent(std::make_unique<AutoResetEvent>()),
      m_deliver(std::move(deliver)),
      m_thread([this] { run(); }) {}

TDXPlayRecvThread::~TDXPlayRecvThread() {
    Stop();
    m_handOver.waitUntil([this] { return Finished(); });
    m_thread.join();
}

void TDXPlayRecvThread::Stop() {
    m_stopEvent->signal();
}

void TDXPlayRecvThread::run() {
    // The stop event is looked at first: after a stop, a message still signalled must not start
    // a delivery that could reach a session opened meanwhile.
    while (AutoResetEvent::waitAny(*m_stopEvent, *m_recvEvent) == 1) {
        m_handOver.runOnUiThread(m_deliver);
    }
    m_finished.store(true);
    m_handOver.wake();
}

}  // namespace velmora
