#pragma once

#include "session/Transport.h"
#include "session/service/SessionWire.h"

#include <QString>
#include <QStringList>

#include <cstdint>

namespace velmora {

// What the user asked for: host a session or join the other computer's, over the cable or the
// modem.
struct ConnectRequest {
    enum class Method { Cable, Modem, Network };
    Method method = Method::Cable;
    bool calling = false;  // else waiting for the other side (hosting)
    QString sessionName;   // the session to host
    QString playerName;
    bool otherModem = false;  // no particular modem: the provider asks for modem and number
    QString modemName;
    QString phoneNumber;  // the number to call
    // Network: the host to call, or the address to listen on (empty: the loopback address).
    QString hostName;
    std::uint16_t port = 0;
    // Further searches, each after a short pause, while nothing is found.
    int retries = 0;
    // Searches go on at least this long while nothing is found (0: only `retries` count).
    std::int64_t searchForMs = 0;
    // The cable's device path, when the face knows it: watched while a lost line waits for it.
    // Anything but an absolute path (a port's network address) is not watched.
    QString device;
};

// Where an attempt has got to, for the user to see.
enum class ConnectStep {
    OpeningLine,  // opening the port or the modem to wait for the other side
    Dialling,     // the modem calls the number (the first search of a modem call)
    Searching,    // looking for the other computer's session
    Joining,      // a session was found: joining it
};

enum class ConnectOutcome {
    Connected,     // hosting (waiting for the other side) or joined
    Cancelled,     // by the user, or in a prompt of the provider: nothing more to say
    SearchFailed,  // the first search failed: `code` says why (a busy line, a port not opened)
    NoSession,     // the other computer's session was not found
    OtherVersion,  // the other side runs another version; `detail` has the link's words if any
    Failed,        // the session component's error; `detail` has its words
};

struct ConnectResult {
    ConnectOutcome outcome = ConnectOutcome::Failed;
    HRESULT code = DP_OK;
    QString detail;
};

// What the connect sequence asks its driver to do. Each operation that takes time reports back
// through the matching input of ConnectMachine.
class ConnectActions {
public:
    virtual ~ConnectActions() = default;
    // Sets the provider (and the modem settings) for the request; a failure comes back at once
    // through ConnectMachine::failed.
    virtual void chooseProvider(const ConnectRequest& request) = 0;
    virtual void search() = 0;                             // -> searched
    virtual void host(const ConnectRequest& request) = 0;  // -> opened / openFailed
    virtual void join(const QString& session, const ConnectRequest& request) = 0;  // the same
    virtual void pause(int milliseconds) = 0;                                      // -> paused
    // Closes the session component: an operation under way ends without reporting.
    virtual void closeSession() = 0;
    virtual void stepReached(ConnectStep step) = 0;
    virtual void finished(const ConnectResult& result) = 0;
};

// The connect sequence, one attempt at a time: hosting opens the session; joining searches for
// the other computer's session, again after a pause while nothing is found and the request
// allows, and joins the first found. It does no I/O and reads no clock: the driver gives it the
// outcomes of what it asked for and the time.
class ConnectMachine {
public:
    static constexpr int RetryPauseMs = 100;

    explicit ConnectMachine(ConnectActions& actions) : m_actions(actions) {}

    bool running() const { return m_state != State::Idle; }

    void start(const ConnectRequest& request, std::int64_t nowMs);
    // The outcome of a search: the service's code, the sessions found, the link's words when it
    // refused the other side.
    void searched(HRESULT result, const QStringList& sessions, const QString& refusal,
                  std::int64_t nowMs);
    void paused(std::int64_t nowMs);
    void opened();
    void openFailed(HRESULT result, const QString& message);
    // An error of the session component raised while starting a step.
    void failed(const QString& message);
    // The user ends the attempt: the session is closed and the attempt ends as Cancelled.
    void cancel();

private:
    enum class State { Idle, Hosting, Searching, Pausing, Joining };

    void searchAgain();
    void finish(ConnectResult result);
    bool mayRetry(std::int64_t nowMs) const;

    ConnectActions& m_actions;
    State m_state = State::Idle;
    ConnectRequest m_request;
    std::int64_t m_startedMs = 0;
    int m_searches = 0;
};

}  // namespace velmora
