#pragma once

#include <QObject>

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

namespace velmora {

// A worker thread's synchronous hand-over of work to the UI thread (the thread that owns this
// object). The worker blocks until its function has run. The UI thread, when it must wait for a
// worker to end, waits through waitUntil: meanwhile it runs the hand-overs that are pending, so
// a worker blocked in a hand-over can always finish. A handed-over function must therefore check
// the state of what it works on: it may run after that has been closed.
class UiHandOver : public QObject {
public:
    explicit UiHandOver(QObject* parent = nullptr);
    ~UiHandOver() override;

    // Runs the function on the UI thread and returns once it has run; directly when called on
    // the UI thread. False when the function raised (the error stops there).
    bool runOnUiThread(std::function<void()> work);

    // Starts `start` on the UI thread and waits, on the calling thread, until it calls the
    // function it is given: at once, or later from the UI thread's own event loop (a prompt the
    // user answers), so the UI thread never waits for it. On the UI thread itself nothing can be
    // waited for: false unless `start` called it at once.
    bool awaitOnUiThread(const std::function<void(std::function<void()> finished)>& start);

    // The answer a prompt started by `ask` hands to its reply, at once or later (see
    // awaitOnUiThread); nothing when it gave none.
    template <typename Answer>
    std::optional<Answer> askOnUiThread(
        const std::function<void(std::function<void(std::optional<Answer>)>)>& ask) {
        const auto answer = std::make_shared<std::optional<Answer>>();
        awaitOnUiThread([&ask, answer](std::function<void()> finished) {
            ask([answer, finished = std::move(finished)](std::optional<Answer> given) {
                *answer = std::move(given);
                finished();
            });
        });
        return *answer;
    }

    // UI thread: returns once the predicate holds, running pending hand-overs meanwhile. The
    // predicate is checked after every hand-over and after every wake().
    void waitUntil(const std::function<bool()>& done);
    // Any thread: the state a waitUntil predicate looks at may have changed.
    void wake();

private:
    struct Job;

    void runPending();

    std::mutex m_mutex;
    std::condition_variable m_condition;  // a job arrived or finished, or wake()
    std::deque<std::shared_ptr<Job>> m_pending;
    std::uint64_t m_wakes = 0;
};

}  // namespace velmora
