#pragma once

#include "shell/SuspendableThread.h"
#include "transfer/SendThread.h"

#include <memory>

namespace velmora {

class TransferEngine;
class UiHandOver;

// The main window's file sender thread: the transfer engine's sender thread, started on
// construction, behind the pause and end controls the window uses around its dialogs.
class FileSenderThread : public SuspendableThread {
public:
    // None of them is owned; all outlive the thread.
    FileSenderThread(TransferEngine& engine, UiHandOver& handOver, BlockSink send);
    // UI thread: asks the thread to end and waits for it, running its pending hand-overs.
    ~FileSenderThread() override;

    void Suspend() override;
    void Resume() override;
    bool Suspended() const override;
    void Terminate() override;

private:
    UiHandOver& m_handOver;
    std::unique_ptr<TSendThread> m_thread;
};

}  // namespace velmora
