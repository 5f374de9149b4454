#pragma once

#include <cstdint>

namespace velmora {

// The clock the transfers read: a millisecond tick count that wraps around at 32 bits.
class TransferClock {
public:
    virtual ~TransferClock() = default;
    virtual std::uint32_t tickCount() const = 0;
};

// The steady clock.
class SystemTransferClock final : public TransferClock {
public:
    std::uint32_t tickCount() const override;
};

}  // namespace velmora
