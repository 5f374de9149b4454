#pragma once

#include "session/ServiceProvider.h"
#include "session/service/MemoryCable.h"

namespace velmora {

// The provider of one side of a memory cable: joining plugs a calling end into that side,
// hosting a listening one. Knows no modems and needs no address elements.
class MemoryProvider : public ServiceProvider {
public:
    static constexpr const char* kName = "Memory cable";
    static constexpr std::uint32_t kDefaultTimeoutMs = 5000;

    MemoryProvider(MemoryCable cable, MemoryCable::Side side);

    HRESULT initialize(const Address& address) override;
    std::uint32_t defaultTimeoutMs() const override;
    // DPERR_NOCONNECTION when the side already has an end.
    HRESULT connect(std::unique_ptr<Line>& line) override;
    HRESULT listen(std::unique_ptr<Line>& line) override;
    HRESULT modemNames(QStringList& names) override;

private:
    HRESULT plug(std::unique_ptr<Line>& line, MemoryCable::Mode mode) const;

    MemoryCable m_cable;
    MemoryCable::Side m_side;
};

}  // namespace velmora
