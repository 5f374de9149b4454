#pragma once

#include <QThread>

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>

namespace velmora {

// The thread on which the session component runs the operations that wait for the line or the
// other side (opening a port, dialling, searching, joining, the goodbye), one after the other in
// the order they were asked for, so that the UI thread never waits for them. A job reports back
// by posting to the UI thread itself. Destroying the worker runs the jobs already queued, then
// ends the thread; the owner makes them end promptly first (a cancel, a close).
class SessionWorker {
public:
    SessionWorker();
    ~SessionWorker();
    SessionWorker(const SessionWorker&) = delete;
    SessionWorker& operator=(const SessionWorker&) = delete;

    void post(std::function<void()> job);

private:
    void run();

    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<std::function<void()>> m_jobs;
    bool m_stopping = false;
    // A Qt thread, so that a port opened on it can work with notifiers.
    std::unique_ptr<QThread> m_thread;
};

}  // namespace velmora
