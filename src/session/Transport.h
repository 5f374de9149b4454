#pragma once

// The operations of the session service that the session component calls, shaped like the
// DirectPlay interfaces they stand in for: the session object (IDirectPlay4), the lobby's address
// helpers and the system entry points. Names are kept so that the component reads as described.

#include "session/Guid.h"

#include <QString>

#include <cstdint>
#include <functional>
#include <memory>

namespace velmora {

class AutoResetEvent;

using DPID = std::uint32_t;
using HRESULT = std::int32_t;

inline constexpr DPID DPID_SYSMSG = 0;
inline constexpr DPID DPID_ALLPLAYERS = 0;

// Result codes. DP_OK is success; every other value is a failure.
inline constexpr HRESULT DP_OK = 0;
inline constexpr HRESULT DPERR_GENERIC = static_cast<HRESULT>(0x80004005);
inline constexpr HRESULT DPERR_INVALIDPARAMS = static_cast<HRESULT>(0x80070057);
inline constexpr HRESULT DPERR_BUFFERTOOSMALL = static_cast<HRESULT>(0x8877001E);
inline constexpr HRESULT DPERR_NOCONNECTION = static_cast<HRESULT>(0x887700AA);
inline constexpr HRESULT DPERR_NOMESSAGES = static_cast<HRESULT>(0x887700BE);
inline constexpr HRESULT DPERR_NOSESSIONS = static_cast<HRESULT>(0x887700D2);
inline constexpr HRESULT DPERR_USERCANCEL = static_cast<HRESULT>(0x88770118);
inline constexpr HRESULT DPERR_ABORTED = static_cast<HRESULT>(0x887701A4);
inline constexpr HRESULT DPERR_CONNECTIONLOST = static_cast<HRESULT>(0x887701F4);
inline constexpr HRESULT DPERR_UNINITIALIZED = static_cast<HRESULT>(0x887701F6);
inline constexpr HRESULT DPERR_ALREADYINITIALIZED = static_cast<HRESULT>(0x88770005);
inline constexpr HRESULT DPERR_NOTHOST = static_cast<HRESULT>(0x887701F8);

// Flags.
inline constexpr std::uint32_t DPSESSION_MIGRATEHOST = 0x00000004;
inline constexpr std::uint32_t DPSESSION_KEEPALIVE = 0x00000040;
inline constexpr std::uint32_t DPOPEN_JOIN = 0x00000001;
inline constexpr std::uint32_t DPOPEN_CREATE = 0x00000002;
inline constexpr std::uint32_t DPENUMSESSIONS_AVAILABLE = 0x00000001;
inline constexpr std::uint32_t DPESC_TIMEDOUT = 0x00000001;
inline constexpr std::uint32_t DPENUMPLAYERS_REMOTE = 0x00000010;
inline constexpr std::uint32_t DPRECEIVE_ALL = 0x00000001;
inline constexpr std::uint32_t DPSEND_GUARANTEED = 0x00000001;
inline constexpr std::uint32_t DPSEND_ASYNC = 0x00000200;
// A chat line or a keystroke: the line may let it overtake file traffic (Line::sendInteractive).
inline constexpr std::uint32_t DPSEND_INTERACTIVE = 0x00000800;
inline constexpr std::uint32_t DPCAPS_ASYNCSUPPORTED = 0x00010000;
inline constexpr std::uint32_t DPPLAYERTYPE_PLAYER = 0x00000001;

// System notices, received with the sender DPID_SYSMSG. Their byte layouts are in
// session/SystemMessages.h.
inline constexpr std::uint32_t DPSYS_CREATEPLAYERORGROUP = 0x0003;
inline constexpr std::uint32_t DPSYS_DESTROYPLAYERORGROUP = 0x0005;
inline constexpr std::uint32_t DPSYS_SESSIONLOST = 0x0031;
inline constexpr std::uint32_t DPSYS_HOST = 0x0101;
inline constexpr std::uint32_t DPSYS_SENDCOMPLETE = 0x010D;

struct DPSESSIONDESC2 {
    std::uint32_t dwSize = 0;  // 80, as the component fills it
    std::uint32_t dwFlags = 0;
    Guid guidInstance;
    Guid guidApplication;
    std::uint32_t dwMaxPlayers = 0;  // 0 = no limit
    std::uint32_t dwCurrentPlayers = 0;
    QString sessionName;
};

struct DPNAME {
    bool hasShortName = false;
    QString shortName;
};

struct DPCAPS {
    std::uint32_t dwFlags = 0;
    std::uint32_t dwMaxBufferSize = 0;
};

// Called once per session found, then once with DPESC_TIMEDOUT and no session. Returning false
// stops the enumeration.
using EnumSessionsCallback =
    std::function<bool(const DPSESSIONDESC2* session, std::uint32_t flags)>;
// Called once per player; returning false stops the enumeration.
using EnumPlayersCallback = std::function<bool(DPID id, const DPNAME& name)>;

// The session object. Every operation may be called from the UI thread; Send and SendEx from any
// thread at the same time.
class IDirectPlay4 {
public:
    virtual ~IDirectPlay4() = default;

    // The address is a compound address built by IDirectPlayLobby::CreateCompoundAddress.
    virtual HRESULT InitializeConnection(const void* address, std::uint32_t flags) = 0;
    virtual HRESULT EnumSessions(const DPSESSIONDESC2& desc, std::uint32_t timeoutMs,
                                 const EnumSessionsCallback& callback, std::uint32_t flags) = 0;
    virtual HRESULT Open(const DPSESSIONDESC2& desc, std::uint32_t flags) = 0;
    // The event is signalled for every message queued for the new player, until DestroyPlayer
    // or Close.
    virtual HRESULT CreatePlayer(DPID* id, const DPNAME& name,
                                 std::shared_ptr<AutoResetEvent> event, std::uint32_t flags) = 0;
    virtual HRESULT EnumPlayers(const EnumPlayersCallback& callback, std::uint32_t flags) = 0;
    // Takes the next queued message. When *size is smaller than the message, answers
    // DPERR_BUFFERTOOSMALL with the needed size in *size and keeps the message queued.
    // DPERR_NOMESSAGES when nothing is queued.
    virtual HRESULT Receive(DPID* from, DPID* to, std::uint32_t flags, void* data,
                            std::uint32_t* size) = 0;
    // Copies the data before returning. to = DPID_ALLPLAYERS sends to every other player.
    virtual HRESULT Send(DPID from, DPID to, std::uint32_t flags, const void* data,
                         std::uint32_t size) = 0;
    virtual HRESULT SendEx(DPID from, DPID to, std::uint32_t flags, const void* data,
                           std::uint32_t size, std::uint32_t priority, std::uint32_t timeoutMs,
                           void* context, std::uint32_t* messageId) = 0;
    virtual HRESULT DestroyPlayer(DPID id) = 0;
    virtual HRESULT Close() = 0;
    virtual HRESULT GetCaps(DPCAPS* caps, std::uint32_t flags) = 0;
    // Player 0 gives the provider's own address: for the modem provider, one DPAID_Modem
    // element per modem it knows.
    virtual HRESULT GetPlayerAddress(DPID id, void* data, std::uint32_t* size) = 0;
    // Ends a wait for the other side in EnumSessions, Open or CreatePlayer, from any thread; that
    // call answers DPERR_USERCANCEL, as a cancelled prompt of the provider does. The object
    // stays cancelled: its owner lets it go and makes a new one for the next attempt.
    virtual void CancelWait() {}
    // After DPERR_INCOMPATIBLEPEER: the line's own words for the refusal; empty when it has none.
    virtual QString RefusalText() const { return {}; }
};

struct DPCOMPOUNDADDRESSELEMENT {
    Guid guidDataType;
    std::uint32_t dwDataSize = 0;
    const void* lpData = nullptr;
};

// Called once per element of an address; returning false stops the walk.
using EnumAddressCallback =
    std::function<bool(const Guid& dataType, std::uint32_t size, const void* data)>;

// The lobby's address helpers. An address is a sequence of elements, each a 16-byte type GUID,
// a 32-bit little-endian data size and the data.
class IDirectPlayLobby {
public:
    virtual ~IDirectPlayLobby() = default;
    // With no buffer or one too small: DPERR_BUFFERTOOSMALL and the size needed.
    virtual HRESULT CreateCompoundAddress(const DPCOMPOUNDADDRESSELEMENT* elements,
                                          std::uint32_t count, void* address,
                                          std::uint32_t* size) = 0;
    virtual HRESULT EnumAddress(const EnumAddressCallback& callback, const void* address,
                                std::uint32_t size) = 0;
};

// Called once per installed provider; returning false stops the enumeration.
using EnumProvidersCallback = std::function<bool(const Guid& provider, const QString& name)>;

// The system entry points: the provider list, the lobby and the session objects.
class IDirectPlaySystem {
public:
    virtual ~IDirectPlaySystem() = default;
    virtual HRESULT DirectPlayEnumerate(const EnumProvidersCallback& callback) = 0;
    // nullptr when it cannot be created.
    virtual std::unique_ptr<IDirectPlayLobby> DirectPlayLobbyCreate() = 0;
    // A session object not yet bound to a provider (bound by InitializeConnection).
    virtual std::unique_ptr<IDirectPlay4> CreateTransport() = 0;
    // A session object of one provider, used only for the modem list; nullptr when the
    // provider is not installed.
    virtual std::unique_ptr<IDirectPlay4> DirectPlayCreate(const Guid& provider) = 0;
};

}  // namespace velmora
