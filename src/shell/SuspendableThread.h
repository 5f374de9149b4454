#pragma once

namespace velmora {

// A worker thread that the main window pauses around its modal dialogs and asks to end when it
// closes (the file sender thread). The pause is cooperative: the thread checks it between
// cycles, so a block already prepared is still sent.
class SuspendableThread {
public:
    virtual ~SuspendableThread() = default;

    virtual void Suspend() = 0;
    virtual void Resume() = 0;
    virtual bool Suspended() const = 0;
    // Asks the thread to end; does not wait for it.
    virtual void Terminate() = 0;
};

}  // namespace velmora
