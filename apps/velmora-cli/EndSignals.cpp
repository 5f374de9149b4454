#include "apps/velmora-cli/EndSignals.h"

#include <fcntl.h>
#include <unistd.h>

#include <csignal>

namespace velmora {

namespace {

// The handler may only write to a file: the pipe's end, and whether it has written before.
int writeEnd = -1;
volatile std::sig_atomic_t caught = 0;

void onSignal(int number) {
    if (caught != 0) {
        std::signal(number, SIG_DFL);
        std::raise(number);
        return;
    }
    caught = 1;
    const char byte = 0;
    [[maybe_unused]] const ssize_t written = ::write(writeEnd, &byte, 1);
}

constexpr int kSignals[] = {SIGINT, SIGTERM};

}  // namespace

EndSignals::EndSignals(std::function<void()> onEnd) {
    if (::pipe2(m_pipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        return;  // then the signals keep their usual effect
    }
    writeEnd = m_pipe[1];
    caught = 0;
    m_notifier = std::make_unique<QSocketNotifier>(m_pipe[0], QSocketNotifier::Read);
    QObject::connect(m_notifier.get(), &QSocketNotifier::activated,
                     [this, onEnd = std::move(onEnd)] {
                         m_notifier->setEnabled(false);
                         onEnd();
                     });
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    for (const int number : kSignals) {
        sigaction(number, &action, nullptr);
    }
}

EndSignals::~EndSignals() {
    if (m_pipe[0] < 0) {
        return;
    }
    for (const int number : kSignals) {
        std::signal(number, SIG_DFL);
    }
    m_notifier.reset();
    writeEnd = -1;
    ::close(m_pipe[0]);
    ::close(m_pipe[1]);
}

}  // namespace velmora
