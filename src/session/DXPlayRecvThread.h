#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <thread>

namespace velmora {

class AutoResetEvent;
class UiHandOver;

// The receive thread of one open session: sleeps on the receive event and its own stop event
// and hands every wake-up of the receive event to the UI thread, waiting until it has run. It
// touches nothing else. Destroying it stops it and waits for it on the UI thread, running its
// pending hand-over meanwhile.
class TDXPlayRecvThread {
public:
    TDXPlayRecvThread(UiHandOver& handOver, std::shared_ptr<AutoResetEvent> recvEvent,
                      std::function<void()> deliver);
    ~TDXPlayRecvThread();
    TDXPlayRecvThread(const TDXPlayRecvThread&) = delete;
    TDXPlayRecvThread& operator=(const TDXPlayRecvThread&) = delete;

    // Tells the thread to end without waiting for it (from inside its own hand-over).
    void Stop();
    bool Finished() const { return m_finished.load(); }

private:
    void run();

    UiHandOver& m_handOver;
    const std::shared_ptr<AutoResetEvent> m_recvEvent;
    const std::unique_ptr<AutoResetEvent> m_stopEvent;
    const std::function<void()> m_deliver;
    std::atomic<bool> m_finished{false};
    std::thread m_thread;  // last: started once everything above exists
};

}  // namespace velmora
