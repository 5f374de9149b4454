#include "session/DXPlay.h"
#include "session/service/SessionWire.h"

#include "base/ByteLayout.h"
#include "session/AutoResetEvent.h"
#include "session/DXPlayRecvThread.h"
#include "session/SystemMessages.h"
#include "session/Windows1252.h"

#include <QDebug>
#include <QThread>

#include <cstring>

namespace velmora {

namespace {

const QString NullGuidText = QStringLiteral("{00000000-0000-0000-0000-000000000000}");
constexpr std::uint32_t SessionDescSize = 80;
constexpr int MaxShortNameLength = 1024;
// What the system reports for a text that is not a class identifier.
constexpr HRESULT CO_E_CLASSSTRING = static_cast<HRESULT>(0x800401F3);

[[noreturn]] void raise(const QString& message) {
    throw EDXPlayError(message);
}

[[noreturn]] void raiseDisconnected() {
    raise(QStringLiteral("TDXPlay component is disconnected."));
}

[[noreturn]] void raiseCannotInitialize() {
    raise(QStringLiteral("%1 cannot be initialized").arg(QStringLiteral("DirectPlay")));
}

// The system's message text for an error code; empty when it has none.
QString systemErrorText(HRESULT code) {
    return code == CO_E_CLASSSTRING ? QStringLiteral("Invalid class string") : QString();
}

QByteArray zeroTerminated(const QString& text) {
    QByteArray bytes = toWindows1252(text);
    bytes.append('\0');
    return bytes;
}

QString exceptionText(const std::exception& error) {
    if (const auto* own = dynamic_cast<const EDXPlayError*>(&error)) {
        return own->message();
    }
    return QString::fromLocal8Bit(error.what());
}

}  // namespace

std::uint32_t MessageKindOf(const void* message) {
    return loadU32({static_cast<const char*>(message), 4}, 0);
}

TCustomDXPlay::TCustomDXPlay(IDirectPlaySystem& system, QObject* owner)
    : QObject(owner),
      m_system(system),
      m_showException([](const QString& message) { qWarning().noquote() << message; }),
      m_guid(NullGuidText),
      m_modemSetting(system),
      m_worker(std::make_unique<SessionWorker>()) {}

TCustomDXPlay::~TCustomDXPlay() {
    try {
        Close();
    } catch (...) {
        // An OnClose handler's error has nowhere to go while the component is destroyed.
    }
    // The goodbye still goes out; the outcomes it posts are dropped with the component.
    m_worker.reset();
    ReapStoppedThreads(true);
}

void TCustomDXPlay::setExceptionDisplay(std::function<void(const QString&)> display) {
    m_showException = std::move(display);
}

void TCustomDXPlay::setGUID(const QString& text) {
    if (text == m_guid) {
        return;
    }
    if (text.isEmpty()) {
        m_guid = NullGuidText;
        return;
    }
    const auto guid = Guid::fromString(text);
    if (!guid) {
        const QString message = systemErrorText(CO_E_CLASSSTRING);
        raise(message.isEmpty() ? QStringLiteral("Unknown Error (%1)").arg(CO_E_CLASSSTRING)
                                : message);
    }
    m_guid = guid->toString();
}

// --- events -------------------------------------------------------------------------------

void TCustomDXPlay::DoAddPlayer(TDXPlayPlayer& Player) {
    emit OnAddPlayer(*this, Player);
}

void TCustomDXPlay::DoClose() {
    emit OnClose(*this);
}

void TCustomDXPlay::DoDeletePlayer(TDXPlayPlayer& Player) {
    emit OnDeletePlayer(*this, Player);
}

void TCustomDXPlay::DoMessage(TDXPlayPlayer& From, const void* Data, std::int32_t DataSize) {
    emit OnMessage(*this, From, Data, DataSize);
}

void TCustomDXPlay::DoOpen() {
    emit OnOpen(*this);
}

void TCustomDXPlay::DoSessionLost() {
    emit OnSessionLost(*this);
}

void TCustomDXPlay::DoSendComplete(std::uint32_t MessageID, TDXPlaySendCompleteResult Result,
                                   std::int32_t SendTime) {
    emit OnSendComplete(*this, MessageID, Result, SendTime);
}

// --- providers and the transport ----------------------------------------------------------

const QList<TDXPlayNamedGuid>& TCustomDXPlay::Providers() {
    if (!m_providers) {
        QList<TDXPlayNamedGuid> providers;
        m_system.DirectPlayEnumerate([&providers](const Guid& guid, const QString& name) {
            providers.append({name, guid});
            return true;
        });
        m_providers = std::move(providers);
    }
    return *m_providers;
}

QString TCustomDXPlay::ProviderNameFromGUID(const Guid& provider) {
    for (const auto& entry : Providers()) {
        if (entry.Id == provider) {
            return entry.Name;
        }
    }
    raise(QStringLiteral("Provider's specified GUID is not found"));
}

void TCustomDXPlay::setProviderName(const QString& name) {
    Close();
    m_providerName = name;
    if (name.isEmpty()) {
        return;
    }
    try {
        auto transport = CreateTransport(name);
        DPCAPS caps;
        const bool async =
            transport->GetCaps(&caps, 0) == DP_OK && (caps.dwFlags & DPCAPS_ASYNCSUPPORTED) != 0;
        const std::lock_guard lock(m_sendMutex);
        m_transport = std::move(transport);
        m_asyncSupported.store(async);
    } catch (...) {
        m_providerName.clear();
        throw;
    }
}

QByteArray TCustomDXPlay::BuildAddress(const TDXPlayNamedGuid& provider,
                                       IDirectPlayLobby& lobby) const {
    // The element data must live until the lobby has copied it.
    QList<QByteArray> data;
    QList<DPCOMPOUNDADDRESSELEMENT> elements;
    const auto add = [&](const Guid& type, QByteArray bytes) {
        data.append(std::move(bytes));
        elements.append(
            {type, static_cast<std::uint32_t>(data.last().size()), data.last().constData()});
    };
    add(guids::AddressServiceProvider,
        QByteArray(reinterpret_cast<const char*>(provider.Id.bytes.data()), 16));
    if (provider.Id == guids::ServiceProviderModem && m_modemSetting.Enabled) {
        if (!m_modemSetting.ModemName.isEmpty()) {
            add(guids::AddressModem, zeroTerminated(m_modemSetting.ModemName));
        }
        if (!m_modemSetting.PhoneNumber.isEmpty()) {
            add(guids::AddressPhone, zeroTerminated(m_modemSetting.PhoneNumber));
        }
    } else if (provider.Id == guids::ServiceProviderTcpIp && m_tcpipSetting.Enabled) {
        if (!m_tcpipSetting.HostName.isEmpty()) {
            add(guids::AddressINet, zeroTerminated(m_tcpipSetting.HostName));
        }
        if (m_tcpipSetting.Port != 0) {
            add(guids::AddressINetPort, ByteWriter(2).u16(m_tcpipSetting.Port).take());
        }
    }
    // data is a list of implicitly shared arrays: appending never moved earlier elements' bytes.
    std::uint32_t size = 0;
    if (lobby.CreateCompoundAddress(elements.constData(), elements.size(), nullptr, &size) !=
        DPERR_BUFFERTOOSMALL) {
        raiseCannotInitialize();
    }
    QByteArray address(static_cast<qsizetype>(size), '\0');
    if (lobby.CreateCompoundAddress(elements.constData(), elements.size(), address.data(), &size) !=
        DP_OK) {
        raiseCannotInitialize();
    }
    return address;
}

std::shared_ptr<IDirectPlay4> TCustomDXPlay::CreateTransport(const QString& name) {
    const TDXPlayNamedGuid* provider = nullptr;
    for (const auto& entry : Providers()) {
        if (entry.Name.compare(name, Qt::CaseInsensitive) == 0) {
            provider = &entry;
            break;
        }
    }
    if (!provider) {
        raise(QStringLiteral("Provider '%1' not found").arg(name));
    }
    const auto lobby = m_system.DirectPlayLobbyCreate();
    if (!lobby) {
        raiseCannotInitialize();
    }
    const QByteArray address = BuildAddress(*provider, *lobby);
    std::shared_ptr<IDirectPlay4> transport = m_system.CreateTransport();
    if (!transport || transport->InitializeConnection(address.constData(), 0) != DP_OK) {
        raiseCannotInitialize();
    }
    return transport;
}

// --- sessions -----------------------------------------------------------------------------

// What the worker brings back from opening a session.
struct TCustomDXPlay::OpenOutcome {
    bool sessionStepDone = false;  // the session was created or joined
    HRESULT result = DP_OK;        // of the step that failed, else DP_OK
    QString sessionName;
    QString playerName;
    DPID localId = 0;
    std::shared_ptr<AutoResetEvent> recvEvent;
    QList<QPair<DPID, QString>> remotePlayers;
};

void TCustomDXPlay::EnumerateSessions(std::uint32_t timeoutMs) {
    if (!m_transport) {
        raiseDisconnected();
    }
    m_sessions.clear();
    DPSESSIONDESC2 desc;
    desc.dwSize = SessionDescSize;
    desc.guidApplication = *Guid::fromString(m_guid);
    ++m_pending;
    m_worker->post([this, transport = m_transport, desc, timeoutMs,
                    generation = m_generation] {
        QList<TDXPlayNamedGuid> found;
        const HRESULT result = transport->EnumSessions(
            desc, timeoutMs,
            [&found](const DPSESSIONDESC2* session, std::uint32_t flags) {
                if (flags & DPESC_TIMEDOUT) {
                    return false;
                }
                found.append({session->sessionName, session->guidInstance});
                return true;
            },
            DPENUMSESSIONS_AVAILABLE);
        QMetaObject::invokeMethod(
            this, [this, generation, result, found] { EnumerateFinished(generation, result, found); },
            Qt::QueuedConnection);
    });
}

void TCustomDXPlay::EnumerateFinished(std::uint64_t generation, HRESULT result,
                                      const QList<TDXPlayNamedGuid>& sessions) {
    --m_pending;
    if (generation != m_generation) {
        return;  // closed meanwhile: nobody waits for this any more
    }
    m_sessions = sessions;
    emit OnEnumerated(*this, result);
}

void TCustomDXPlay::OpenSession(bool NewSession, const QString& SessionName,
                                const QString& PlayerName) {
    if (!m_transport) {
        raiseDisconnected();
    }
    if (SessionName.isEmpty()) {
        raise(QStringLiteral("Session name is not specified"));
    }
    if (PlayerName.isEmpty()) {
        raise(QStringLiteral("Player name is not specified"));
    }
    DPSESSIONDESC2 desc;
    desc.dwSize = SessionDescSize;
    desc.guidApplication = *Guid::fromString(m_guid);
    std::uint32_t flags = 0;
    if (NewSession) {
        desc.dwFlags = DPSESSION_KEEPALIVE | DPSESSION_MIGRATEHOST;
        desc.sessionName = SessionName;
        desc.dwMaxPlayers = static_cast<std::uint32_t>(m_maxPlayers);
        flags = DPOPEN_CREATE;
    } else {
        const auto found = std::find_if(m_sessions.begin(), m_sessions.end(), [&](const auto& s) {
            return s.Name.compare(SessionName, Qt::CaseInsensitive) == 0;
        });
        if (found == m_sessions.end()) {
            raise(QStringLiteral("Session '%1' not found").arg(SessionName));
        }
        desc.guidInstance = found->Id;
        flags = DPOPEN_JOIN;
    }
    DPNAME name;
    name.hasShortName = true;
    name.shortName = PlayerName.left(MaxShortNameLength);
    OpenOutcome start;
    start.sessionName = SessionName;
    start.playerName = PlayerName;
    start.recvEvent = std::make_shared<AutoResetEvent>();
    ++m_pending;
    m_worker->post([this, transport = m_transport, desc, flags, name, start,
                    generation = m_generation]() mutable {
        OpenOutcome outcome = std::move(start);
        outcome.result = transport->Open(desc, flags);
        if (outcome.result == DP_OK) {
            outcome.sessionStepDone = true;
            outcome.result = transport->CreatePlayer(&outcome.localId, name, outcome.recvEvent, 0);
        }
        if (outcome.result == DP_OK) {
            transport->EnumPlayers(
                [&outcome](DPID remoteId, const DPNAME& remoteName) {
                    outcome.remotePlayers.append(
                        {remoteId, remoteName.hasShortName ? remoteName.shortName : QString()});
                    return true;
                },
                DPENUMPLAYERS_REMOTE);
        }
        QMetaObject::invokeMethod(
            this, [this, generation, outcome] { OpenFinished(generation, outcome); },
            Qt::QueuedConnection);
    });
}

void TCustomDXPlay::OpenFinished(std::uint64_t generation, const OpenOutcome& outcome) {
    --m_pending;
    if (generation != m_generation) {
        return;  // closed meanwhile; the close let the line go
    }
    if (outcome.result != DP_OK) {
        QString message;
        if (outcome.result != DPERR_USERCANCEL) {
            message = outcome.sessionStepDone
                          ? QStringLiteral("%1 cannot be opened").arg(outcome.sessionName)
                          : QStringLiteral("Session %1 cannot be opened").arg(outcome.sessionName);
        }
        if (outcome.sessionStepDone) {
            Close();  // a failed start step leaves no provider
        }
        emit OnOpenFailed(*this, outcome.result, message);
        return;
    }
    m_sessionName = outcome.sessionName;
    m_opened.store(true);
    const std::uint64_t session = ++m_session;
    m_recvEvent = outcome.recvEvent;
    const auto local = m_players.Add(outcome.localId, outcome.playerName, false);
    {
        const std::lock_guard lock(m_sendMutex);
        m_localPlayer = local;
    }
    for (const auto& [remoteId, remoteName] : outcome.remotePlayers) {
        m_players.Add(remoteId, remoteName, true);
    }
    m_isHost = m_players.Count() == 1;
    m_openNotified = true;
    try {
        DoOpen();
        DoAddPlayer(*local);
    } catch (const std::exception& error) {
        // A handler that cannot take the open session closes it again.
        const QString message = exceptionText(error);
        try {
            Close();
        } catch (...) {
            // The handler's error is the one to tell.
        }
        emit OnOpenFailed(*this, DPERR_GENERIC, message);
        return;
    }
    m_recvThread = std::make_unique<TDXPlayRecvThread>(
        m_handOver, m_recvEvent, [this, session] { DeliverMessages(session); });
}

void TCustomDXPlay::SendMessage(DPID ToID, const void* Data, std::int32_t DataSize) {
    TrySendMessage(ToID, Data, DataSize);
}

bool TCustomDXPlay::TrySendMessage(DPID ToID, const void* Data, std::int32_t DataSize) {
    if (!m_opened.load()) {
        return false;
    }
    if (DataSize < 4) {
        raise(QStringLiteral("Illegal message form"));
    }
    std::shared_ptr<IDirectPlay4> transport;
    std::shared_ptr<TDXPlayPlayer> local;
    {
        const std::lock_guard lock(m_sendMutex);
        transport = m_transport;
        local = m_localPlayer;
    }
    if (!transport || !local) {
        return false;  // closed meanwhile
    }
    if (ToID == local->ID) {
        if (QThread::currentThread() == thread()) {
            DoMessage(*local, Data, DataSize);
        } else {
            QMetaObject::invokeMethod(
                this,
                [this, session = m_session.load(),
                 bytes = QByteArray(static_cast<const char*>(Data), DataSize)] {
                    DeliverOwnCopy(session, bytes);
                },
                Qt::QueuedConnection);
        }
        return true;
    }
    const auto size = static_cast<std::uint32_t>(DataSize);
    // The first word of a message is its kind: chat lines (0) and keystrokes (4) may overtake
    // file traffic on the line.
    const std::uint32_t kind = loadU32({static_cast<const char*>(Data), 4}, 0);
    const std::uint32_t flags =
        DPSEND_GUARANTEED | (kind == 0 || kind == 4 ? DPSEND_INTERACTIVE : 0);
    if (m_async.load() && m_asyncSupported.load()) {
        return transport->SendEx(local->ID, ToID, flags | DPSEND_ASYNC, Data, size, 0, 0, nullptr,
                                 nullptr) == DP_OK;
    }
    return transport->Send(local->ID, ToID, flags, Data, size) == DP_OK;
}

QString TCustomDXPlay::RefusalText() const {
    return m_transport ? m_transport->RefusalText() : QString();
}

void TCustomDXPlay::Close() {
    ++m_generation;
    m_opened.store(false);
    std::exception_ptr closeError;
    if (m_openNotified) {
        m_openNotified = false;
        try {
            DoClose();
        } catch (...) {
            closeError = std::current_exception();
        }
    }
    std::shared_ptr<IDirectPlay4> transport;
    DPID localId = 0;
    {
        const std::lock_guard lock(m_sendMutex);
        transport = std::move(m_transport);
        if (m_localPlayer) {
            localId = m_localPlayer->ID;
        }
        m_localPlayer.reset();
    }
    if (transport) {
        Release(std::move(transport), localId);
    }
    m_providerName.clear();
    m_sessionName.clear();
    m_asyncSupported.store(false);
    m_sessions.clear();
    StopRecvThread();
    m_recvEvent.reset();
    m_players.Clear();
    if (closeError) {
        std::rethrow_exception(closeError);
    }
}

void TCustomDXPlay::Release(std::shared_ptr<IDirectPlay4> transport, DPID localId) {
    // A wait of an operation under way ends now; the operation's outcome is dropped.
    transport->CancelWait();
    ++m_releasing;
    m_worker->post([this, transport = std::move(transport), localId]() mutable {
        if (localId != 0) {
            transport->DestroyPlayer(localId);
        }
        transport->Close();
        // The transport goes on the UI thread, where its provider was made.
        QMetaObject::invokeMethod(
            this,
            [this, transport = std::move(transport)]() mutable {
                transport.reset();
                --m_releasing;
                emit OnReleased(*this);
            },
            Qt::QueuedConnection);
    });
}

void TCustomDXPlay::StopRecvThread() {
    ReapStoppedThreads(false);
    if (!m_recvThread) {
        return;
    }
    if (m_inDelivery) {
        // The thread waits for this very delivery: tell it to end and let it go.
        m_recvThread->Stop();
        m_stoppedThreads.push_back(std::move(m_recvThread));
    } else {
        m_recvThread.reset();  // stops it and waits, running its pending hand-over
    }
}

void TCustomDXPlay::ReapStoppedThreads(bool wait) {
    std::erase_if(m_stoppedThreads,
                  [wait](const auto& thread) { return wait || thread->Finished(); });
}

// --- delivery -----------------------------------------------------------------------------

void TCustomDXPlay::DeliverMessages(std::uint64_t session) {
    // A hand-over that waited while its session was closed finds nothing to do.
    if (session != m_session || !m_opened.load() || !m_transport) {
        return;
    }
    m_inDelivery = true;
    QByteArray buffer;
    try {
        HRESULT result = DP_OK;
        do {
            DPID from = 0;
            DPID to = 0;
            auto size = static_cast<std::uint32_t>(buffer.size());
            result = m_transport->Receive(&from, &to, DPRECEIVE_ALL, buffer.data(), &size);
            if (result == DPERR_BUFFERTOOSMALL) {
                buffer.resize(static_cast<qsizetype>(size));
                result = m_transport->Receive(&from, &to, DPRECEIVE_ALL, buffer.data(), &size);
            }
            if (result == DP_OK && size >= 4) {
                Dispatch(from, buffer.constData(), size);
            }
        } while (result == DP_OK && m_transport);
    } catch (const std::exception& error) {
        m_showException(exceptionText(error));
    } catch (...) {
        m_showException(QStringLiteral("Unknown exception"));
    }
    m_inDelivery = false;
}

void TCustomDXPlay::DeliverOwnCopy(std::uint64_t session, QByteArray data) {
    if (session != m_session || !m_opened.load() || !m_localPlayer) {
        return;  // the session it was sent in has closed
    }
    const std::shared_ptr<TDXPlayPlayer> local = m_localPlayer;
    try {
        DoMessage(*local, data.constData(), static_cast<std::int32_t>(data.size()));
    } catch (const std::exception& error) {
        m_showException(exceptionText(error));
    }
}

void TCustomDXPlay::Dispatch(DPID from, const char* data, std::uint32_t size) {
    if (from != DPID_SYSMSG) {
        // Shared, so that a handler that closes the component does not pull the sender away.
        const auto sender = m_players.FindShared(from);
        DoMessage(*sender, data, static_cast<std::int32_t>(size));
    } else {
        DispatchSystemNotice(data, size);
    }
}

void TCustomDXPlay::DispatchSystemNotice(const char* data, std::uint32_t size) {
    const SystemMessageBytes notice(data, size);
    const DPID localId = m_localPlayer ? m_localPlayer->ID : 0;
    switch (MessageKindOf(data)) {
        case DPSYS_CREATEPLAYERORGROUP:
            if (const auto created = decodeCreatePlayer(notice);
                created && created->id != localId) {
                const auto player = m_players.Add(
                    created->id, created->name.hasShortName ? created->name.shortName : QString(),
                    true);
                DoAddPlayer(*player);
            }
            break;
        case DPSYS_DESTROYPLAYERORGROUP:
            if (const auto destroyed = decodeDestroyPlayer(notice);
                destroyed && destroyed->id != localId) {
                const int index = m_players.IndexOf(destroyed->id);
                if (index >= 0) {
                    const auto player = m_players.Share(index);  // alive through the handler
                    DoDeletePlayer(*player);
                    m_players.Remove(player.get());
                }
            }
            break;
        case DPSYS_SESSIONLOST:
            DoSessionLost();
            Close();
            break;
        case DPSYS_HOST:
            m_isHost = true;
            break;
        case DPSYS_SENDCOMPLETE:
            if (const auto completed = decodeSendComplete(notice);
                completed && completed->idFrom == localId) {
                const TDXPlaySendCompleteResult result = completed->hr == DPERR_ABORTED ? crAbort
                                                         : completed->hr == DP_OK       ? crOk
                                                                                        : crGeneric;
                DoSendComplete(completed->msgId, result,
                               static_cast<std::int32_t>(completed->sendTime));
            }
            break;
        default:
            break;
    }
}

}  // namespace velmora
