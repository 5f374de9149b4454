#include "peer/Connector.h"

#include "session/DXPlay.h"

namespace velmora {

Connector::Connector(TCustomDXPlay& play, QObject* parent) : QObject(parent), m_play(play) {
    m_clock.start();
    m_pause.setSingleShot(true);
    connect(&m_pause, &QTimer::timeout, this, [this] { m_machine.paused(nowMs()); });
    connect(&m_play, &TCustomDXPlay::OnEnumerated, this, [this](TCustomDXPlay&, HRESULT result) {
        QStringList names;
        for (const TDXPlayNamedGuid& session : m_play.Sessions()) {
            names.append(session.Name);
        }
        const QString refusal = result == DPERR_INCOMPATIBLEPEER ? m_play.RefusalText() : QString();
        m_machine.searched(result, names, refusal, nowMs());
    });
    connect(&m_play, &TCustomDXPlay::OnOpen, this, [this](TCustomDXPlay&) { m_machine.opened(); });
    connect(&m_play, &TCustomDXPlay::OnOpenFailed, this,
            [this](TCustomDXPlay&, HRESULT result, const QString& message) {
                m_machine.openFailed(result, message);
            });
}

void Connector::start(const ConnectRequest& request) {
    m_machine.start(request, nowMs());
}

void Connector::cancel() {
    m_machine.cancel();
}

template <typename Step>
void Connector::attempt(Step&& step) {
    try {
        step();
    } catch (const EDXPlayError& error) {
        m_machine.failed(error.message());
    }
}

void Connector::chooseProvider(const ConnectRequest& request) {
    attempt([&] {
        if (request.method == ConnectRequest::Method::Cable) {
            m_play.setProviderName(m_play.ProviderNameFromGUID(guids::ServiceProviderSerial));
            return;
        }
        if (request.method == ConnectRequest::Method::Network) {
            TDXPlayTCPIPSetting& tcpip = m_play.TCPIPSetting();
            tcpip.HostName = request.hostName;
            tcpip.Port = request.port;
            tcpip.Enabled = true;
            m_play.setProviderName(m_play.ProviderNameFromGUID(guids::ServiceProviderTcpIp));
            return;
        }
        TDXPlayModemSetting& modem = m_play.ModemSetting();
        if (request.otherModem) {
            modem.Enabled = false;
        } else {
            modem.ModemName = request.modemName;
            modem.PhoneNumber = request.calling ? request.phoneNumber : QString();
            modem.Enabled = true;
        }
        m_play.setProviderName(m_play.ProviderNameFromGUID(guids::ServiceProviderModem));
    });
}

void Connector::search() {
    attempt([this] { m_play.EnumerateSessions(0); });
}

void Connector::host(const ConnectRequest& request) {
    attempt([&] { m_play.OpenSession(true, request.sessionName, request.playerName); });
}

void Connector::join(const QString& session, const ConnectRequest& request) {
    attempt([&] { m_play.OpenSession(false, session, request.playerName); });
}

void Connector::pause(int milliseconds) {
    m_pause.start(milliseconds);
}

void Connector::closeSession() {
    m_pause.stop();
    m_play.Close();
}

void Connector::finished(const ConnectResult& result) {
    m_pause.stop();
    emit ended(result);
}

}  // namespace velmora
