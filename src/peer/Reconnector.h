#pragma once

#include "peer/ConnectMachine.h"
#include "peer/ReconnectMachine.h"

#include <QElapsedTimer>
#include <QFileSystemWatcher>
#include <QObject>
#include <QTimer>

namespace velmora {

class Connector;
class TCustomDXPlay;

// Drives the reconnect policy over the connect sequence: attempts are the connect request of
// the lost connection started again (the same role, the same line), a timer wakes the policy at
// its deadlines, and a watch on the cable's device folder tells it when the device is back.
// Everything runs on the UI thread; nothing here waits.
class Reconnector : public QObject, private ReconnectActions {
    Q_OBJECT

public:
    Reconnector(Connector& connector, TCustomDXPlay& play, ReconnectPolicy policy,
                QObject* parent = nullptr);

    bool running() const { return m_machine.running() || m_lossPending; }

    // The line of `request` was lost: tries to get it back, from the event loop's next turn,
    // once the session component has closed what was lost.
    void lineLost(const ConnectRequest& request);
    // The outcome of an attempt the connector reports while this runs.
    void attemptEnded(const ConnectResult& result);
    void otherSideBack();
    // Ends it: an attempt under way is cancelled.
    void stop();
    // The other side that came back is another one: ends without closing what is open.
    void otherSideChanged();

signals:
    void finished(velmora::ReconnectEnd how);

private:
    // ReconnectActions
    void attempt() override;
    void cancelAttempt() override;
    void watchDevice(bool on) override;
    void checkDevice() override;
    void ended(ReconnectEnd how) override;

    bool deviceMissing() const;
    void armTimer();
    std::int64_t nowMs() const { return m_clock.elapsed(); }

    Connector& m_connector;
    TCustomDXPlay& m_play;
    ReconnectMachine m_machine;
    ConnectRequest m_request;
    QTimer m_timer;
    QElapsedTimer m_clock;
    QFileSystemWatcher m_watcher;
    bool m_lossPending = false;
};

}  // namespace velmora
