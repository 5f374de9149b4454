#include "peer/ReconnectMachine.h"

#include <algorithm>

namespace velmora {

void ReconnectMachine::lineLost(Line line, bool deviceMissing, std::int64_t nowMs) {
    if (m_state != State::Idle) {
        failed(deviceMissing, nowMs);
        return;
    }
    m_line = line;
    m_giveUpAtMs = nowMs + m_policy.giveUpAfterMs;
    m_nextPauseMs = m_policy.firstPauseMs;
    m_attempts = 0;
    if (deviceMissing) {
        waitForDevice(nowMs);
    } else if (line == Line::Modem) {
        // The other side's modem needs a moment to hang up and wait for the call again.
        m_state = State::Pausing;
        m_wakeAtMs = nowMs + m_nextPauseMs;
    } else {
        startAttempt();
    }
}

void ReconnectMachine::deviceAppeared() {
    if (m_state == State::WaitingForDevice) {
        m_actions.watchDevice(false);
        startAttempt();
    }
}

void ReconnectMachine::deviceVanished() {
    if (m_state == State::Pausing) {
        m_state = State::WaitingForDevice;
        m_actions.watchDevice(true);
    }
}

void ReconnectMachine::attemptConnected() {
    if (m_state == State::Attempting) {
        m_state = State::Awaiting;
    }
}

void ReconnectMachine::attemptFailed(bool deviceMissing, std::int64_t nowMs) {
    if (m_state == State::Attempting || m_state == State::Awaiting) {
        failed(deviceMissing, nowMs);
    }
}

void ReconnectMachine::otherSideBack() {
    if (m_state != State::Idle) {
        finish(ReconnectEnd::Back);
    }
}

void ReconnectMachine::stop() {
    if (m_state == State::Attempting || m_state == State::Awaiting) {
        m_actions.cancelAttempt();
    }
    if (m_state != State::Idle) {
        finish(ReconnectEnd::Stopped);
    }
}

void ReconnectMachine::otherSideChanged() {
    if (m_state != State::Idle) {
        finish(ReconnectEnd::Other);
    }
}

std::optional<std::int64_t> ReconnectMachine::nextDeadlineMs() const {
    switch (m_state) {
        case State::Idle:
            return std::nullopt;
        case State::WaitingForDevice:
        case State::Pausing:
            return std::min(m_wakeAtMs, m_giveUpAtMs);
        case State::Attempting:
        case State::Awaiting:
            return m_giveUpAtMs;
    }
    return std::nullopt;
}

void ReconnectMachine::onTimer(std::int64_t nowMs) {
    if (m_state == State::Idle) {
        return;
    }
    if (nowMs >= m_giveUpAtMs) {
        if (m_state == State::Attempting || m_state == State::Awaiting) {
            m_actions.cancelAttempt();
        }
        finish(ReconnectEnd::GaveUp);
        return;
    }
    if (nowMs < m_wakeAtMs) {
        return;
    }
    if (m_state == State::Pausing) {
        startAttempt();
    } else if (m_state == State::WaitingForDevice) {
        m_wakeAtMs = nowMs + m_policy.deviceCheckMs;
        m_actions.checkDevice();  // may report deviceAppeared at once
    }
}

void ReconnectMachine::startAttempt() {
    m_state = State::Attempting;
    ++m_attempts;
    m_actions.attempt();
}

void ReconnectMachine::waitForDevice(std::int64_t nowMs) {
    m_state = State::WaitingForDevice;
    m_wakeAtMs = nowMs + m_policy.deviceCheckMs;
    m_actions.watchDevice(true);
}

void ReconnectMachine::failed(bool deviceMissing, std::int64_t nowMs) {
    if (m_line == Line::Modem && m_attempts >= m_policy.maxModemAttempts) {
        finish(ReconnectEnd::GaveUp);
        return;
    }
    if (deviceMissing) {
        // A device that comes back is tried at once, without the pause.
        waitForDevice(nowMs);
        return;
    }
    m_state = State::Pausing;
    m_wakeAtMs = nowMs + m_nextPauseMs;
    m_nextPauseMs = std::min<std::int64_t>(m_nextPauseMs * 2, m_policy.maxPauseMs);
}

void ReconnectMachine::finish(ReconnectEnd how) {
    if (m_state == State::WaitingForDevice) {
        m_actions.watchDevice(false);
    }
    m_state = State::Idle;
    m_actions.ended(how);
}

}  // namespace velmora
