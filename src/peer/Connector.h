#pragma once

#include "peer/ConnectMachine.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

namespace velmora {

class TCustomDXPlay;

// Drives the connect sequence over the session component: it carries out what the machine asks
// (the provider, searches, opening, pauses by a timer) and feeds it the component's events and
// the time. Everything runs on the UI thread; nothing here waits.
class Connector : public QObject, private ConnectActions {
    Q_OBJECT

public:
    explicit Connector(TCustomDXPlay& play, QObject* parent = nullptr);

    void start(const ConnectRequest& request);
    void cancel();
    bool running() const { return m_machine.running(); }

signals:
    void progress(velmora::ConnectStep step);
    void ended(const velmora::ConnectResult& result);

private:
    // ConnectActions
    void chooseProvider(const ConnectRequest& request) override;
    void search() override;
    void host(const ConnectRequest& request) override;
    void join(const QString& session, const ConnectRequest& request) override;
    void pause(int milliseconds) override;
    void closeSession() override;
    void stepReached(ConnectStep step) override { emit progress(step); }
    void finished(const ConnectResult& result) override;

    // Runs a step of the component; an error it raises ends the attempt.
    template <typename Step>
    void attempt(Step&& step);
    std::int64_t nowMs() const { return m_clock.elapsed(); }

    TCustomDXPlay& m_play;
    ConnectMachine m_machine{*this};
    QTimer m_pause;
    QElapsedTimer m_clock;
};

}  // namespace velmora
