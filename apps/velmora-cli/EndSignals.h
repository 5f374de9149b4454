#pragma once

#include <QSocketNotifier>

#include <functional>
#include <memory>

namespace velmora {

// Ctrl-C (SIGINT) and SIGTERM, caught while this object lives and handed to `onEnd` on the
// thread that made it, so that the conversation ends with a goodbye and a modem hangs up. A
// second one ends the program at once. One object at a time.
class EndSignals {
public:
    explicit EndSignals(std::function<void()> onEnd);
    ~EndSignals();

    EndSignals(const EndSignals&) = delete;
    EndSignals& operator=(const EndSignals&) = delete;

private:
    int m_pipe[2] = {-1, -1};
    std::unique_ptr<QSocketNotifier> m_notifier;
};

}  // namespace velmora
