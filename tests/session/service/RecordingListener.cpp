#include "RecordingListener.h"

#include "ServicePeer.h"

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

bool RecordingListener::waitFor(
    const std::function<bool(const RecordingListener&)>& condition) const {
    return eventually([&] { return condition(*this); });
}

void RecordingListener::lineUp() {
    const std::lock_guard lock(m_mutex);
    ++m_ups;
    m_down.reset();
}

void RecordingListener::lineMessage(const QByteArray& message) {
    if (onMessage) {
        onMessage(message);
    }
    const std::lock_guard lock(m_mutex);
    m_messages.append(message);
}

void RecordingListener::lineDown(LineDown reason) {
    const std::lock_guard lock(m_mutex);
    m_down = reason;
}

}  // namespace velmora::test
