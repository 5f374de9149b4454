#include "peer/ConnectMachine.h"

namespace velmora {

void ConnectMachine::start(const ConnectRequest& request, std::int64_t nowMs) {
    if (running()) {
        return;
    }
    m_request = request;
    m_startedMs = nowMs;
    m_searches = 0;
    m_state = request.calling ? State::Searching : State::Hosting;
    m_actions.chooseProvider(request);
    if (!running()) {
        return;  // the provider could not be set: failed() has ended the attempt
    }
    if (!request.calling) {
        m_actions.stepReached(ConnectStep::OpeningLine);
        m_actions.host(request);
        return;
    }
    searchAgain();
}

void ConnectMachine::searchAgain() {
    m_state = State::Searching;
    const bool dialling = m_searches == 0 && m_request.method == ConnectRequest::Method::Modem;
    ++m_searches;
    m_actions.stepReached(dialling ? ConnectStep::Dialling : ConnectStep::Searching);
    m_actions.search();
}

bool ConnectMachine::mayRetry(std::int64_t nowMs) const {
    return m_searches <= m_request.retries ||
           (m_request.searchForMs > 0 && nowMs - m_startedMs < m_request.searchForMs);
}

void ConnectMachine::searched(HRESULT result, const QStringList& sessions, const QString& refusal,
                              std::int64_t nowMs) {
    if (m_state != State::Searching) {
        return;
    }
    if (result == DPERR_USERCANCEL) {
        finish({ConnectOutcome::Cancelled, result, {}});
        return;
    }
    if (result == DPERR_INCOMPATIBLEPEER) {
        m_actions.closeSession();
        finish({ConnectOutcome::OtherVersion, result, refusal});
        return;
    }
    if (!sessions.isEmpty()) {
        m_state = State::Joining;
        m_actions.stepReached(ConnectStep::Joining);
        m_actions.join(sessions.first(), m_request);
        return;
    }
    if (result != DP_OK && m_searches == 1) {
        // The line did not come up (busy, or the port could not be opened); later searches
        // only look again, their codes are not looked at. The provider stays chosen.
        finish({ConnectOutcome::SearchFailed, result, {}});
        return;
    }
    if (mayRetry(nowMs)) {
        m_state = State::Pausing;
        m_actions.pause(RetryPauseMs);
        return;
    }
    m_actions.closeSession();
    finish({ConnectOutcome::NoSession, DPERR_NOSESSIONS, {}});
}

void ConnectMachine::paused(std::int64_t /*nowMs*/) {
    if (m_state == State::Pausing) {
        searchAgain();
    }
}

void ConnectMachine::opened() {
    if (m_state == State::Hosting || m_state == State::Joining) {
        finish({ConnectOutcome::Connected, DP_OK, {}});
    }
}

void ConnectMachine::openFailed(HRESULT result, const QString& message) {
    if (m_state != State::Hosting && m_state != State::Joining) {
        return;
    }
    if (result == DPERR_USERCANCEL) {
        finish({ConnectOutcome::Cancelled, result, {}});
        return;
    }
    finish({ConnectOutcome::Failed, result, message});
}

void ConnectMachine::failed(const QString& message) {
    if (running()) {
        m_actions.closeSession();
        finish({ConnectOutcome::Failed, DPERR_GENERIC, message});
    }
}

void ConnectMachine::cancel() {
    if (running()) {
        m_actions.closeSession();
        finish({ConnectOutcome::Cancelled, DPERR_USERCANCEL, {}});
    }
}

void ConnectMachine::finish(ConnectResult result) {
    m_state = State::Idle;
    m_actions.finished(result);
}

}  // namespace velmora
