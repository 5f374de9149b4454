#include "transfer/Transfer.h"

#include <algorithm>

namespace velmora {

bool TTransfer::anyWaiting() const {
    return std::any_of(Waiting.begin(), Waiting.end(), [](std::uint8_t flag) { return flag == 1; });
}

int changeState(const TTransfer& transfer, int currentImage) {
    switch (transfer.State) {
        case tsRunning:
            return transfer.Outgoing ? siSending : siReceiving;
        case tsPaused:
            return siPaused;
        case tsStopped:
            return siStopped;
        case tsAborted:
            break;
    }
    return currentImage;
}

}  // namespace velmora
