#pragma once

#include <cstdint>

namespace velmora {

// The two clocks the transfers read: a millisecond tick count that wraps around at 32 bits, and
// the time of day as a fraction of a day.
class TransferClock {
public:
    virtual ~TransferClock() = default;
    virtual std::uint32_t tickCount() const = 0;
    virtual double timeOfDay() const = 0;
};

// The steady clock and the local time of day.
class SystemTransferClock final : public TransferClock {
public:
    std::uint32_t tickCount() const override;
    double timeOfDay() const override;
};

}  // namespace velmora
