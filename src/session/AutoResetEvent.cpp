#include "session/AutoResetEvent.h"

namespace velmora {

std::mutex& AutoResetEvent::sharedMutex() {
    static std::mutex mutex;
    return mutex;
}

std::condition_variable& AutoResetEvent::sharedCondition() {
    static std::condition_variable condition;
    return condition;
}

void AutoResetEvent::signal() {
    {
        const std::lock_guard lock(sharedMutex());
        m_signalled = true;
    }
    sharedCondition().notify_all();
}

void AutoResetEvent::wait() {
    std::unique_lock lock(sharedMutex());
    sharedCondition().wait(lock, [this] { return m_signalled; });
    m_signalled = false;
}

int AutoResetEvent::waitAny(AutoResetEvent& first, AutoResetEvent& second) {
    std::unique_lock lock(sharedMutex());
    sharedCondition().wait(lock, [&] { return first.m_signalled || second.m_signalled; });
    if (first.m_signalled) {
        first.m_signalled = false;
        return 0;
    }
    second.m_signalled = false;
    return 1;
}

bool AutoResetEvent::tryTake() {
    const std::lock_guard lock(sharedMutex());
    const bool was = m_signalled;
    m_signalled = false;
    return was;
}

}  // namespace velmora
