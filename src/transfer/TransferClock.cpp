#include "transfer/TransferClock.h"

#include <chrono>

namespace velmora {

std::uint32_t SystemTransferClock::tickCount() const {
    const auto sinceStart = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<std::uint32_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(sinceStart).count());
}

}  // namespace velmora
