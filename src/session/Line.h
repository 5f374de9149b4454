#pragma once

#include <QByteArray>
#include <QString>

namespace velmora {

// Why a line went down.
enum class LineDown {
    PeerClosed,  // the other side said goodbye; a host's line goes on waiting for a new peer
    Lost,        // the other side fell silent, the cable was pulled, the carrier dropped
    Refused,     // the other side speaks another protocol or another version
};

// What a line reports. Calls come on the line's own thread, one at a time, never after the
// line has been destroyed.
class LineListener {
public:
    virtual ~LineListener() = default;
    // The other side is there and the first exchange is done: messages may flow.
    virtual void lineUp() = 0;
    // One whole message, exactly once, in the order the other side sent them.
    virtual void lineMessage(const QByteArray& message) = 0;
    virtual void lineDown(LineDown reason) = 0;
};

// A two-way pipe of whole messages between this computer and the other one: the in-memory pair,
// the serial cable, the modem's data connection.
class Line {
public:
    virtual ~Line() = default;  // stops everything; no listener call after it returns

    virtual void start(LineListener* listener) = 0;
    // Guaranteed delivery, in order. Callable from any thread. Blocks while too much is queued
    // and not yet acknowledged (the line paces its senders). False when the line is down.
    virtual bool send(const QByteArray& message) = 0;
    // The same for a chat line or a keystroke: a line that can lets it overtake the other
    // messages, keeping the order among such messages; any other line sends it in order.
    virtual bool sendInteractive(const QByteArray& message) { return send(message); }
    // Graceful end: what was sent is delivered if the line still works, then a goodbye; waits a
    // bounded time. The listener sees lineDown(PeerClosed) on the other side.
    virtual void close() = 0;
    // After the other side's goodbye, or a refused peer, goes on waiting on this same line for
    // the next peer, as a host's line does. False where the line cannot (it ended with a call
    // that is hung up). Callable from the listener's lineDown.
    virtual bool keepForNextPeer() { return false; }
    // Once the line went down as Refused: why, in the words the user reads (the other side's
    // version, say); empty where the line has none to give.
    virtual QString refusalText() const { return {}; }
};

}  // namespace velmora
