#include "support/RecordingListener.h"

namespace velmora::test {

int RecordingListener::ups() const {
    const std::lock_guard lock(m_mutex);
    return m_ups;
}

QList<QByteArray> RecordingListener::messages() const {
    const std::lock_guard lock(m_mutex);
    return m_messages;
}

std::optional<LineDown> RecordingListener::down() const {
    const std::lock_guard lock(m_mutex);
    return m_down;
}

QList<LineDown> RecordingListener::downs() const {
    const std::lock_guard lock(m_mutex);
    return m_downs;
}

bool RecordingListener::waitFor(
    const std::function<bool(const RecordingListener&)>& condition) const {
    std::unique_lock lock(m_mutex);
    // The condition reads the listener through its locking getters: each check runs unlocked,
    // after noting how many reports there were, so that none is missed.
    for (;;) {
        const std::uint64_t seen = m_changes;
        lock.unlock();
        if (condition(*this)) {
            return true;
        }
        lock.lock();
        if (!m_changed.wait_for(lock, std::chrono::seconds(60),
                                [&] { return m_changes != seen; })) {
            return false;
        }
    }
}

void RecordingListener::lineUp() {
    const std::lock_guard lock(m_mutex);
    ++m_ups;
    m_down.reset();
    ++m_changes;
    m_changed.notify_all();
}

void RecordingListener::lineMessage(const QByteArray& message) {
    if (onMessage) {
        onMessage(message);
    }
    const std::lock_guard lock(m_mutex);
    m_messages.append(message);
    ++m_changes;
    m_changed.notify_all();
}

void RecordingListener::lineDown(LineDown reason) {
    const std::lock_guard lock(m_mutex);
    m_down = reason;
    m_downs.append(reason);
    ++m_changes;
    m_changed.notify_all();
}

}  // namespace velmora::test
