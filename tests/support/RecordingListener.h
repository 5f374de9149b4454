#pragma once

#include "session/Line.h"

#include <QByteArray>
#include <QList>

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>

namespace velmora::test {

// Records what a line reports, from whichever thread it reports on, for tests that drive a line
// end. An optional hook runs on the line's thread for every message, before it is recorded.
class RecordingListener : public LineListener {
public:
    int ups() const;
    QList<QByteArray> messages() const;
    // The reason the line went down since it was last up, if it did.
    std::optional<LineDown> down() const;
    // Every reason reported, in order.
    QList<LineDown> downs() const;

    // Waits (generously) until the condition on this listener holds; true when it did.
    bool waitFor(const std::function<bool(const RecordingListener&)>& condition) const;

    std::function<void(const QByteArray&)> onMessage;

    void lineUp() override;
    void lineMessage(const QByteArray& message) override;
    void lineDown(LineDown reason) override;

private:
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_changed;
    std::uint64_t m_changes = 0;  // counts what was reported, for waitFor
    int m_ups = 0;
    QList<QByteArray> m_messages;
    std::optional<LineDown> m_down;
    QList<LineDown> m_downs;
};

}  // namespace velmora::test
