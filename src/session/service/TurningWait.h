#pragma once

#include <QEventLoop>
#include <QPointer>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <vector>

namespace velmora {

// A wait of an operation that may run on the application's main thread: there the event loop
// turns while it waits, so the windows repaint and take input (a cancel, for one); on any other
// thread it sleeps on a condition variable. The caller's own mutex guards it: sleep() and wake()
// are called with that mutex held.
class TurningWait {
public:
    // Releases the lock until wake() or until the time has passed, then takes it again.
    void sleep(std::unique_lock<std::mutex>& lock, std::chrono::milliseconds limit);
    // Ends every sleep in progress, from any thread.
    void wake();

private:
    std::condition_variable m_changed;
    // The event loops of sleeps on the main thread, woken by a queued quit.
    std::vector<QPointer<QEventLoop>> m_loops;
};

}  // namespace velmora
