#pragma once

#include <condition_variable>
#include <mutex>

namespace velmora {

// An event that stays signalled until one waiter takes it, then resets by itself.
// Waiting on two at once is supported by waitAny, which is all the receive thread needs.
class AutoResetEvent {
public:
    AutoResetEvent() = default;
    AutoResetEvent(const AutoResetEvent&) = delete;
    AutoResetEvent& operator=(const AutoResetEvent&) = delete;

    void signal();
    // Blocks until the event is signalled and takes the signal.
    void wait();
    // Blocks until one of the two is signalled; takes the signal of that one and returns its
    // index (0 for first, 1 for second). When both are signalled, first wins.
    static int waitAny(AutoResetEvent& first, AutoResetEvent& second);
    // Takes the signal when it is set; never blocks.
    bool tryTake();

private:
    // All events share one mutex and condition so that a wait on two of them is simple and exact.
    static std::mutex& sharedMutex();
    static std::condition_variable& sharedCondition();

    bool m_signalled = false;
};

}  // namespace velmora
