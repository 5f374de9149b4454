#pragma once

#include "session/DXPlayError.h"
#include "session/DXPlayPlayer.h"
#include "session/DXPlaySettings.h"
#include "session/Guid.h"
#include "session/SessionWorker.h"
#include "session/Transport.h"
#include "session/UiHandOver.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>

#include <atomic>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace velmora {

class AutoResetEvent;
class TDXPlayRecvThread;
class TCustomDXPlay;

enum TDXPlaySendCompleteResult { crOk = 0, crAbort = 1, crGeneric = 2 };

// An installed service provider, or a session found by an enumeration.
struct TDXPlayNamedGuid {
    QString Name;
    Guid Id;
};

// The first 32-bit little-endian word of a message: its kind. The caller guarantees 4 bytes.
std::uint32_t MessageKindOf(const void* message);

// The one object through which the application talks to the other computer: one peer-to-peer
// session of the session service, its participants, and the delivery of what arrives as events
// on the UI thread (the thread that creates the component).
//
// The events are signals: any number of listeners may connect. Each is raised on the UI thread,
// the own participant's copies of messages sent from another thread included.
//
// The operations that wait for the line or the other side (EnumerateSessions, OpenSession, and
// the goodbye of Close) start their work on the component's worker thread and return at once;
// their outcome comes as an event. A provider's prompt shows on the UI thread meanwhile.
class TCustomDXPlay : public QObject {
    Q_OBJECT

public:
    // The service is not owned and must outlive the component.
    explicit TCustomDXPlay(IDirectPlaySystem& system, QObject* owner = nullptr);
    ~TCustomDXPlay() override;

    // How an error raised while delivering received messages is shown (the application's
    // standard display of unhandled exceptions).
    void setExceptionDisplay(std::function<void(const QString& message)> display);

    QString GUID() const { return m_guid; }
    void setGUID(const QString& text);
    std::int32_t MaxPlayers() const { return m_maxPlayers; }
    void setMaxPlayers(std::int32_t maxPlayers) { m_maxPlayers = maxPlayers; }
    bool Async() const { return m_async.load(); }
    void setAsync(bool async) { m_async.store(async); }

    TDXPlayModemSetting& ModemSetting() { return m_modemSetting; }
    void setModemSetting(const TDXPlayModemSetting& setting) { m_modemSetting.Assign(setting); }
    TDXPlayTCPIPSetting& TCPIPSetting() { return m_tcpipSetting; }

    const QList<TDXPlayNamedGuid>& Providers();
    QString ProviderNameFromGUID(const Guid& provider);
    QString ProviderName() const { return m_providerName; }
    void setProviderName(const QString& name);

    // Starts looking for sessions; OnEnumerated follows with the service's result code,
    // unchanged (0 = success; DPERR_USERCANCEL when the user cancelled a prompt of the
    // provider), and Sessions then holds what was found.
    void EnumerateSessions(std::uint32_t timeoutMs);
    const QList<TDXPlayNamedGuid>& Sessions() const { return m_sessions; }
    // Starts creating (NewSession) or joining the named session with the local participant. On
    // success OnOpen and OnAddPlayer for the local participant follow; else OnOpenFailed. Raises
    // at once when there is no transport or a name is empty.
    void OpenSession(bool NewSession, const QString& SessionName, const QString& PlayerName);
    // An EnumerateSessions or OpenSession under way.
    bool Busy() const { return m_pending > 0; }
    // Callable from any thread while the UI thread uses the component.
    void SendMessage(DPID ToID, const void* Data, std::int32_t DataSize);
    // SendMessage that tells whether the message was taken: false while not open and when the
    // transport failed (the line is lost), which the session learns of only a moment later.
    bool TrySendMessage(DPID ToID, const void* Data, std::int32_t DataSize);
    bool TrySendMessage(DPID ToID, const QByteArray& Data) {
        return TrySendMessage(ToID, Data.constData(), static_cast<std::int32_t>(Data.size()));
    }
    // Ends the session and every operation under way (their events never come). The goodbye
    // to the other side and the release of the port go on on the worker thread; OnReleased
    // follows once they are done.
    void Close();
    // Whether a closed line is still being let go (see OnReleased).
    bool Releasing() const { return m_releasing > 0; }
    // After an enumeration answered DPERR_INCOMPATIBLEPEER: the line's words for the refusal,
    // empty when it gave none.
    QString RefusalText() const;

    bool Opened() const { return m_opened.load(); }
    bool IsHost() const { return m_isHost; }
    TDXPlayPlayer* LocalPlayer() const { return m_localPlayer.get(); }
    const TDXPlayPlayers& Players() const { return m_players; }
    QString SessionName() const { return m_sessionName; }
    bool InDelivery() const { return m_inDelivery; }

signals:
    // Raised only through the Do... operations. The data of OnMessage is valid during the call.
    void OnAddPlayer(velmora::TCustomDXPlay& Sender, velmora::TDXPlayPlayer& Player);
    void OnClose(velmora::TCustomDXPlay& Sender);
    void OnDeletePlayer(velmora::TCustomDXPlay& Sender, velmora::TDXPlayPlayer& Player);
    void OnMessage(velmora::TCustomDXPlay& Sender, velmora::TDXPlayPlayer& From, const void* Data,
                   std::int32_t DataSize);
    void OnOpen(velmora::TCustomDXPlay& Sender);
    void OnSendComplete(velmora::TCustomDXPlay& Sender, std::uint32_t MessageID,
                        velmora::TDXPlaySendCompleteResult Result, std::int32_t SendTime);
    void OnSessionLost(velmora::TCustomDXPlay& Sender);
    // The outcome of EnumerateSessions.
    void OnEnumerated(velmora::TCustomDXPlay& Sender, velmora::HRESULT Result);
    // OpenSession did not open the session: the service's code and the component's words for
    // it (empty for a user's cancel, DPERR_USERCANCEL).
    void OnOpenFailed(velmora::TCustomDXPlay& Sender, velmora::HRESULT Result,
                      const QString& Message);
    // A closed line has been let go: the goodbye is said, the port is free.
    void OnReleased(velmora::TCustomDXPlay& Sender);

protected:
    virtual void DoAddPlayer(TDXPlayPlayer& Player);
    virtual void DoClose();
    virtual void DoDeletePlayer(TDXPlayPlayer& Player);
    virtual void DoMessage(TDXPlayPlayer& From, const void* Data, std::int32_t DataSize);
    virtual void DoOpen();
    virtual void DoSessionLost();
    virtual void DoSendComplete(std::uint32_t MessageID, TDXPlaySendCompleteResult Result,
                                std::int32_t SendTime);

private:
    std::shared_ptr<IDirectPlay4> CreateTransport(const QString& name);
    QByteArray BuildAddress(const TDXPlayNamedGuid& provider, IDirectPlayLobby& lobby) const;
    struct OpenOutcome;
    void OpenFinished(std::uint64_t generation, const OpenOutcome& outcome);
    void EnumerateFinished(std::uint64_t generation, HRESULT result,
                           const QList<TDXPlayNamedGuid>& sessions);
    void Release(std::shared_ptr<IDirectPlay4> transport, DPID localId);
    void DeliverMessages(std::uint64_t session);
    // A message to the own participant sent from another thread: delivered on the UI thread.
    void DeliverOwnCopy(std::uint64_t session, QByteArray data);
    void Dispatch(DPID from, const char* data, std::uint32_t size);
    void DispatchSystemNotice(const char* data, std::uint32_t size);
    void StopRecvThread();
    void ReapStoppedThreads(bool wait);

    IDirectPlaySystem& m_system;
    UiHandOver m_handOver;
    std::function<void(const QString&)> m_showException;

    // Read by SendMessage on other threads, so kept behind one lock (pointers) or atomic.
    std::mutex m_sendMutex;
    std::shared_ptr<IDirectPlay4> m_transport;
    std::shared_ptr<TDXPlayPlayer> m_localPlayer;
    std::atomic<bool> m_opened{false};
    std::atomic<bool> m_async{false};
    std::atomic<bool> m_asyncSupported{false};

    QString m_guid;
    bool m_isHost = false;
    std::int32_t m_maxPlayers = 0;
    TDXPlayPlayers m_players;
    bool m_openNotified = false;
    std::shared_ptr<AutoResetEvent> m_recvEvent;
    std::unique_ptr<TDXPlayRecvThread> m_recvThread;
    // Threads stopped from inside a delivery: they end once the UI thread has moved on.
    std::vector<std::unique_ptr<TDXPlayRecvThread>> m_stoppedThreads;
    // Counts opened sessions, so a late hand-over finds its own gone; read by senders too.
    std::atomic<std::uint64_t> m_session{0};
    bool m_inDelivery = false;
    QString m_providerName;
    std::optional<QList<TDXPlayNamedGuid>> m_providers;
    QString m_sessionName;
    QList<TDXPlayNamedGuid> m_sessions;
    // Counts Close calls (and provider changes): an outcome of an earlier one is dropped.
    std::uint64_t m_generation = 0;
    int m_pending = 0;    // operations under way on the worker
    int m_releasing = 0;  // closed lines still being let go
    TDXPlayModemSetting m_modemSetting;
    TDXPlayTCPIPSetting m_tcpipSetting;
    // Last: ended first, once Close has made its jobs end promptly.
    std::unique_ptr<SessionWorker> m_worker;
};

// The component as the main window keeps it: the application's GUID and its handlers.
class TDXPlay : public TCustomDXPlay {
    Q_OBJECT

public:
    using TCustomDXPlay::TCustomDXPlay;
};

}  // namespace velmora
