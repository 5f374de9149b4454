#include "transfer/Transfer.h"

#include <algorithm>

namespace velmora {

bool TTransfer::anyWaiting() const {
    return std::any_of(Waiting.begin(), Waiting.end(), [](std::uint8_t flag) { return flag == 1; });
}

std::int32_t addToDone(std::int32_t done, std::int32_t bytes) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(done) +
                                     static_cast<std::uint32_t>(bytes));
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
