#pragma once

#include <cstdint>
#include <optional>

namespace velmora {

// When and how often a lost line is tried again, and when it is given up.
struct ReconnectPolicy {
    // The pause after an attempt that failed; each further one doubles it, up to maxPauseMs.
    int firstPauseMs = 1000;
    int maxPauseMs = 16000;
    // A modem side calls again (or waits for the call again) at most this many times.
    int maxModemAttempts = 5;
    // Everything is given up this long after the line was lost.
    std::int64_t giveUpAfterMs = 5 * 60 * 1000;
    // While the cable's device is missing, whether it is back is checked this often, besides
    // the watch on its folder (which may itself be gone, as /dev/serial/by-id is when no USB
    // adapter is plugged in).
    int deviceCheckMs = 1000;
};

// How a reconnect ended.
enum class ReconnectEnd {
    Back,     // the same other side is there again
    GaveUp,   // the policy's limits were reached
    Stopped,  // the user ended it
    Other,    // another side came: a new conversation
};

// What the reconnect policy asks its driver to do.
class ReconnectActions {
public:
    virtual ~ReconnectActions() = default;
    // Connects again in the same role as before; the driver reports through attemptConnected
    // (hosting again, or joined) or attemptFailed.
    virtual void attempt() = 0;
    // Ends an attempt under way, or the session it opened, without reporting.
    virtual void cancelAttempt() = 0;
    // Whether the driver watches the cable's device path for it to come back.
    virtual void watchDevice(bool on) = 0;
    // Asks whether the device is there: the driver answers through deviceAppeared when it is.
    virtual void checkDevice() = 0;
    virtual void ended(ReconnectEnd how) = 0;
};

// The reconnect policy of one side, from a lost line until the same other side is back, the
// limits are reached or the user stops it: it waits for a missing cable device, tries again in
// the same role with growing pauses, and gives up in the end. It does no I/O and reads no clock;
// the driver feeds it the outcomes and the time and calls onTimer at nextDeadlineMs.
class ReconnectMachine {
public:
    enum class Line { Cable, Modem };

    ReconnectMachine(ReconnectActions& actions, ReconnectPolicy policy = {})
        : m_actions(actions), m_policy(policy) {}

    bool running() const { return m_state != State::Idle; }

    // The line was lost. deviceMissing: the cable's device path is known and gone. A loss while
    // running (the line that came back was lost before the other side returned) counts as a
    // failed attempt.
    void lineLost(Line line, bool deviceMissing, std::int64_t nowMs);
    void deviceAppeared();
    void deviceVanished();
    // The attempt's session is open (hosting again or joined); the other side may still come.
    void attemptConnected();
    void attemptFailed(bool deviceMissing, std::int64_t nowMs);
    // The same other side is there again.
    void otherSideBack();
    // The user stops waiting: an attempt under way is cancelled.
    void stop();
    // The side that came back is another one: the reconnect ends, its session stays open.
    void otherSideChanged();

    std::optional<std::int64_t> nextDeadlineMs() const;
    void onTimer(std::int64_t nowMs);

private:
    enum class State {
        Idle,
        WaitingForDevice,  // the cable's device is gone: watched, and checked now and then
        Pausing,           // between two attempts
        Attempting,        // connecting again
        Awaiting,          // connected again: waiting for the other side to come back
    };

    void startAttempt();
    void waitForDevice(std::int64_t nowMs);
    void failed(bool deviceMissing, std::int64_t nowMs);
    void finish(ReconnectEnd how);

    ReconnectActions& m_actions;
    const ReconnectPolicy m_policy;
    State m_state = State::Idle;
    Line m_line = Line::Cable;
    std::int64_t m_giveUpAtMs = 0;
    std::int64_t m_nextPauseMs = 0;
    std::int64_t m_wakeAtMs = 0;  // the end of a pause, or the next check of the device
    int m_attempts = 0;
};

}  // namespace velmora
