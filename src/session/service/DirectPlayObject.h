#pragma once

#include "session/ServiceProvider.h"
#include "session/Transport.h"
#include "session/service/SessionEngine.h"

#include <QList>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace velmora {

// The session object of the session service: the driver of a SessionEngine, which holds the
// session logic. The driver brings lines up through the service provider, feeds the engine what
// the line reports and what the application asks, with the time, sends what the engine gives,
// signals the players' events, and waits for the answers of the other side.
//
// The line's calls arrive on the line's thread; every operation may come from the UI thread and
// Send/SendEx from any thread as well. One mutex guards the engine; nothing is called out while
// it is held except the signalling of a player's event.
class DirectPlayObject : public IDirectPlay4 {
public:
    // Not yet bound: InitializeConnection chooses among the providers.
    explicit DirectPlayObject(QList<ProviderEntry> providers);
    // Bound to a provider already.
    explicit DirectPlayObject(std::unique_ptr<ServiceProvider> provider);
    ~DirectPlayObject() override;

    DirectPlayObject(const DirectPlayObject&) = delete;
    DirectPlayObject& operator=(const DirectPlayObject&) = delete;

    HRESULT InitializeConnection(const void* address, std::uint32_t flags) override;
    HRESULT EnumSessions(const DPSESSIONDESC2& desc, std::uint32_t timeoutMs,
                         const EnumSessionsCallback& callback, std::uint32_t flags) override;
    HRESULT Open(const DPSESSIONDESC2& desc, std::uint32_t flags) override;
    HRESULT CreatePlayer(DPID* id, const DPNAME& name, std::shared_ptr<AutoResetEvent> event,
                         std::uint32_t flags) override;
    HRESULT EnumPlayers(const EnumPlayersCallback& callback, std::uint32_t flags) override;
    // Every flag value takes the next message of any player (DPRECEIVE_ALL).
    HRESULT Receive(DPID* from, DPID* to, std::uint32_t flags, void* data,
                    std::uint32_t* size) override;
    HRESULT Send(DPID from, DPID to, std::uint32_t flags, const void* data,
                 std::uint32_t size) override;
    // With DPSEND_ASYNC the message is sent as by Send and a DPSYS_SENDCOMPLETE notice follows.
    HRESULT SendEx(DPID from, DPID to, std::uint32_t flags, const void* data, std::uint32_t size,
                   std::uint32_t priority, std::uint32_t timeoutMs, void* context,
                   std::uint32_t* messageId) override;
    HRESULT DestroyPlayer(DPID id) override;
    HRESULT Close() override;
    HRESULT GetCaps(DPCAPS* caps, std::uint32_t flags) override;
    HRESULT GetPlayerAddress(DPID id, void* data, std::uint32_t* size) override;
    void CancelWait() override;
    QString RefusalText() const override;

    // The largest message Send takes.
    static constexpr std::uint32_t kMaxMessageSize = 16 * 1024 * 1024;

private:
    class Link;

    // Called by a Link on its line's thread.
    void onLineUp(Link& link);
    void onLineMessage(Link& link, const QByteArray& bytes);
    void onLineDown(Link& link, LineDown reason);

    HRESULT createSession(const DPSESSIONDESC2& desc);
    HRESULT joinSession(const DPSESSIONDESC2& desc);
    // Joining: brings up a line through the provider unless one is there.
    HRESULT connectIfNeeded();
    // Waits until the hellos are exchanged or the deadline passes; the engine's verdict, or
    // DPERR_USERCANCEL.
    HRESULT waitReady(std::int64_t deadlineMs);
    // Waits for the answer to a request; false when cancelled. The lock is held on entry and
    // on return.
    bool waitAnswer(std::unique_lock<std::mutex>& lock, std::uint32_t serial);
    // Waits until the condition on the engine holds; false once CancelWait or Close was called.
    // The thread sleeps until the line, a cancel or the engine's next deadline wakes it; the
    // session component calls the waiting operations on its worker thread, never on the UI
    // thread.
    bool waitUntil(std::unique_lock<std::mutex>& lock, const std::function<bool()>& condition);
    // Closes and drops the current line when it refused us or is gone.
    void dropDeadLine();
    HRESULT sendData(DPID from, DPID to, std::uint32_t flags, const void* data, std::uint32_t size);

    // The helpers below run with the mutex held.
    std::shared_ptr<Link> installLocked(std::unique_ptr<Line> line);
    // Carries out what the engine gave: signals the players' events, sends its messages on the
    // current line and tells it they are sent, and wakes the waits. Unlocks while sending.
    void flush(std::unique_lock<std::mutex>& lock);
    void wakeWaitsLocked();
    bool cancelled() const;
    std::int64_t nowMs() const;
    std::int64_t replyDeadlineLocked() const;

    const QList<ProviderEntry> m_providers;
    std::unique_ptr<ServiceProvider> m_provider;
    const std::chrono::steady_clock::time_point m_epoch = std::chrono::steady_clock::now();

    mutable std::mutex m_mutex;
    std::condition_variable m_changed;  // the engine changed, or a cancel
    SessionEngine m_engine;
    std::shared_ptr<Link> m_link;
    std::vector<std::shared_ptr<Link>> m_retired;  // lines replaced from their own thread
    std::uint64_t m_generation = 0;
    // Set by CancelWait and Close, for good: every wait of this object ends, and no line is
    // brought up any more. The component makes a new object for its next attempt.
    bool m_cancelled = false;
    std::uint32_t m_nextMessageId = 1;
    QString m_refusalText;  // the last refused line's words, read by RefusalText
};

}  // namespace velmora
