#include "session/UiHandOver.h"

#include <QThread>

namespace velmora {

struct UiHandOver::Job {
    std::function<void()> work;
    bool done = false;
    bool succeeded = false;
};

UiHandOver::UiHandOver(QObject* parent) : QObject(parent) {}

UiHandOver::~UiHandOver() = default;

bool UiHandOver::runOnUiThread(std::function<void()> work) {
    if (QThread::currentThread() == thread()) {
        try {
            work();
            return true;
        } catch (...) {
            return false;
        }
    }
    auto job = std::make_shared<Job>();
    job->work = std::move(work);
    {
        const std::lock_guard lock(m_mutex);
        m_pending.push_back(job);
    }
    m_condition.notify_all();
    QMetaObject::invokeMethod(
        this, [this] { runPending(); }, Qt::QueuedConnection);
    std::unique_lock lock(m_mutex);
    m_condition.wait(lock, [&job] { return job->done; });
    return job->succeeded;
}

bool UiHandOver::awaitOnUiThread(const std::function<void(std::function<void()> finished)>& start) {
    // Its own lock and signal: the reply may come after this object's queue has moved on.
    struct Reply {
        std::mutex mutex;
        std::condition_variable condition;
        bool given = false;
    };
    const auto reply = std::make_shared<Reply>();
    const auto finished = [reply] {
        {
            const std::lock_guard lock(reply->mutex);
            reply->given = true;
        }
        reply->condition.notify_all();
    };
    if (!runOnUiThread([&start, &finished] { start(finished); })) {
        return false;
    }
    std::unique_lock lock(reply->mutex);
    if (QThread::currentThread() != thread()) {
        reply->condition.wait(lock, [&reply] { return reply->given; });
    }
    return reply->given;
}

void UiHandOver::runPending() {
    for (;;) {
        std::shared_ptr<Job> job;
        {
            const std::lock_guard lock(m_mutex);
            if (m_pending.empty()) {
                return;
            }
            job = std::move(m_pending.front());
            m_pending.pop_front();
        }
        bool succeeded = false;
        try {
            job->work();
            succeeded = true;
        } catch (...) {
        }
        {
            const std::lock_guard lock(m_mutex);
            job->done = true;
            job->succeeded = succeeded;
        }
        m_condition.notify_all();
    }
}

void UiHandOver::waitUntil(const std::function<bool()>& done) {
    for (;;) {
        runPending();
        std::uint64_t wakes = 0;
        {
            // Taken before the predicate, so a wake() that comes after it was read is not lost.
            const std::lock_guard lock(m_mutex);
            wakes = m_wakes;
        }
        if (done()) {
            return;
        }
        std::unique_lock lock(m_mutex);
        m_condition.wait(lock, [&] { return !m_pending.empty() || m_wakes != wakes; });
    }
}

void UiHandOver::wake() {
    {
        const std::lock_guard lock(m_mutex);
        ++m_wakes;
    }
    m_condition.notify_all();
}

}  // namespace velmora
