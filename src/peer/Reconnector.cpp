#include "peer/Reconnector.h"

#include "peer/Connector.h"
#include "session/DXPlay.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <utility>

namespace velmora {

namespace {

// A joiner looks for the host again at least this long in each attempt: the other side may
// still be getting its line back.
constexpr std::int64_t kSearchAgainForMs = 20000;

}  // namespace

Reconnector::Reconnector(Connector& connector, TCustomDXPlay& play, ReconnectPolicy policy,
                         QObject* parent)
    : QObject(parent), m_connector(connector), m_play(play), m_machine(*this, policy) {
    m_clock.start();
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, [this] {
        m_machine.onTimer(nowMs());
        armTimer();
    });
    connect(&m_watcher, &QFileSystemWatcher::directoryChanged, this, [this] {
        if (!deviceMissing()) {
            m_machine.deviceAppeared();
        } else {
            watchDevice(true);  // a folder on the way may have come: watch the nearest one
        }
        armTimer();
    });
}

void Reconnector::lineLost(const ConnectRequest& request) {
    if (!running()) {
        m_request = request;
        // Only a path of the file system can be watched and checked: a port a terminal server
        // exports ("tcp://HOST:PORT") has no device to wait for, and is tried as it is.
        if (!QDir::isAbsolutePath(m_request.device)) {
            m_request.device.clear();
        }
        if (m_request.calling && m_request.method == ConnectRequest::Method::Cable) {
            m_request.searchForMs = std::max(m_request.searchForMs, kSearchAgainForMs);
        }
    }
    m_lossPending = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (!std::exchange(m_lossPending, false)) {
                return;  // stopped meanwhile
            }
            m_machine.lineLost(m_request.method == ConnectRequest::Method::Cable
                                   ? ReconnectMachine::Line::Cable
                                   : ReconnectMachine::Line::Modem,
                               deviceMissing(), nowMs());
            armTimer();
        },
        Qt::QueuedConnection);
}

void Reconnector::attemptEnded(const ConnectResult& result) {
    if (result.outcome == ConnectOutcome::Connected) {
        m_machine.attemptConnected();
    } else if (result.outcome != ConnectOutcome::Cancelled) {
        m_machine.attemptFailed(deviceMissing(), nowMs());
    }
    armTimer();
}

void Reconnector::otherSideBack() {
    m_machine.otherSideBack();
    armTimer();
}

void Reconnector::stop() {
    if (std::exchange(m_lossPending, false) && !m_machine.running()) {
        emit finished(ReconnectEnd::Stopped);
        return;
    }
    m_machine.stop();
    armTimer();
}

void Reconnector::otherSideChanged() {
    m_machine.otherSideChanged();
    armTimer();
}

void Reconnector::attempt() {
    m_connector.start(m_request);
}

void Reconnector::cancelAttempt() {
    // Ends a search or a join under way, or closes the session that opened.
    if (m_connector.running()) {
        m_connector.cancel();
    } else {
        m_play.Close();
    }
}

void Reconnector::watchDevice(bool on) {
    if (!m_watcher.directories().isEmpty()) {
        m_watcher.removePaths(m_watcher.directories());
    }
    if (!on || m_request.device.isEmpty()) {
        return;
    }
    // The nearest folder that exists on the way to the device: a USB adapter's by-id folder goes
    // with the last adapter.
    QString folder = QFileInfo(m_request.device).absolutePath();
    while (!QFileInfo(folder).isDir() && folder != QDir::rootPath()) {
        folder = QFileInfo(folder).absolutePath();
    }
    m_watcher.addPath(folder);
}

void Reconnector::checkDevice() {
    if (!deviceMissing()) {
        m_machine.deviceAppeared();
    }
}

void Reconnector::ended(ReconnectEnd how) {
    emit finished(how);
}

bool Reconnector::deviceMissing() const {
    // A link whose target is gone counts as missing.
    return !m_request.device.isEmpty() && !QFileInfo::exists(m_request.device);
}

void Reconnector::armTimer() {
    const std::optional<std::int64_t> deadline = m_machine.nextDeadlineMs();
    if (!deadline) {
        m_timer.stop();
        return;
    }
    m_timer.start(static_cast<int>(std::clamp<std::int64_t>(*deadline - nowMs(), 0, 60000)));
}

}  // namespace velmora
