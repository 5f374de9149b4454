#include "session/service/MemoryProvider.h"

namespace velmora {

MemoryProvider::MemoryProvider(MemoryCable cable, MemoryCable::Side side)
    : m_cable(std::move(cable)), m_side(side) {}

HRESULT MemoryProvider::initialize(const Address& /*address*/) {
    return DP_OK;
}

std::uint32_t MemoryProvider::defaultTimeoutMs() const {
    return kDefaultTimeoutMs;
}

HRESULT MemoryProvider::connect(std::unique_ptr<Line>& line) {
    return plug(line, MemoryCable::Mode::Calling);
}

HRESULT MemoryProvider::listen(std::unique_ptr<Line>& line) {
    return plug(line, MemoryCable::Mode::Listening);
}

HRESULT MemoryProvider::modemNames(QStringList& names) {
    names.clear();
    return DP_OK;
}

HRESULT MemoryProvider::plug(std::unique_ptr<Line>& line, MemoryCable::Mode mode) const {
    line = m_cable.plug(m_side, mode);
    return line ? DP_OK : DPERR_NOCONNECTION;
}

}  // namespace velmora
