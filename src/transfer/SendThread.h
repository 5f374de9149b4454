#pragma once

#include "transfer/FileSender.h"
#include "transfer/TransferServices.h"

#include <QThread>

#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>

namespace velmora {

// Runs a function on the UI thread and returns once it has run; false when it could not run.
// It must not deadlock while the UI thread waits for this thread to end.
using RunOnUiThread = std::function<bool(std::function<void()>)>;

// PrepareBlock: one cycle's block, built on the UI thread.
using PrepareBlockFunction = std::function<std::optional<PreparedBlock>(BlockCursor&)>;

// Sends one prepared block through the session; false when the session could not take it
// because the line is lost.
using BlockSink = std::function<bool(std::uint32_t destination, const QByteArray& message)>;

// The file sender thread of one open session. Each cycle prepares at most one block on the UI
// thread and then sends it from here, so the send call paces the transfer and one block is in
// flight at a time. It runs one step below normal priority. When no block was ready it idles
// briefly (or until wake()), so that an idle session costs no processor time. Once a block could
// not be sent it prepares no more: the rest of a file would otherwise be read and counted as
// sent into a lost line before the session learns of the loss.
class TSendThread : public QThread {
    Q_OBJECT

public:
    // How long a cycle without a block waits before the next one, unless woken.
    static constexpr int kIdleMs = 10;
    // The wait of a thread whose line is lost, until it is asked to end.
    static constexpr int kLostLineIdleMs = 200;

    // ended is called on this thread as its last act, so that a UI thread waiting for the end
    // (through a wait that runs pending hand-overs) can look at hasEnded() again.
    TSendThread(RunOnUiThread runOnUiThread, PrepareBlockFunction prepareBlock, BlockSink send,
                std::function<void()> ended = {}, QObject* parent = nullptr);
    // Asks the thread to stop and waits for it. On the UI thread, end it first through
    // requestStop and a wait that runs pending hand-overs until hasEnded().
    ~TSendThread() override;

    // Starts at one step below normal priority.
    void startSending();

    // Cooperative pause, checked between cycles: a block already prepared is still sent.
    void suspend();
    void resume();
    bool isSuspended() const;

    // Asks the thread to end after its current cycle.
    void requestStop();
    // Cuts an idle wait short: there may be a block to prepare.
    void wake();
    // No cycle runs or is to come (also before the start): nothing more is handed over to the UI
    // thread.
    bool hasEnded() const;

protected:
    void run() override;

private:
    // Waits while suspended and idles for up to idleMs; false once asked to stop.
    bool pauseBetweenCycles(int idleMs);

    RunOnUiThread m_runOnUiThread;
    PrepareBlockFunction m_prepareBlock;
    BlockSink m_send;
    std::function<void()> m_ended;

    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_suspended = false;
    bool m_stop = false;
    bool m_woken = false;
    bool m_hasEnded = false;
};

}  // namespace velmora
