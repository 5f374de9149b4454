#include "session/service/DirectPlayLobby.h"

#include "session/service/CompoundAddress.h"

#include <cstring>

namespace velmora {

HRESULT DirectPlayLobby::CreateCompoundAddress(const DPCOMPOUNDADDRESSELEMENT* elements,
                                               std::uint32_t count, void* address,
                                               std::uint32_t* size) {
    if (size == nullptr || (count > 0 && elements == nullptr)) {
        return DPERR_INVALIDPARAMS;
    }
    Address parts;
    for (std::uint32_t i = 0; i < count; ++i) {
        const DPCOMPOUNDADDRESSELEMENT& element = elements[i];
        if (element.dwDataSize > 0 && element.lpData == nullptr) {
            return DPERR_INVALIDPARAMS;
        }
        parts.append(
            {element.guidDataType, QByteArray(static_cast<const char*>(element.lpData),
                                              static_cast<qsizetype>(element.dwDataSize))});
    }
    const QByteArray built = buildCompoundAddress(parts);
    const auto needed = static_cast<std::uint32_t>(built.size());
    if (address == nullptr || *size < needed) {
        *size = needed;
        return DPERR_BUFFERTOOSMALL;
    }
    std::memcpy(address, built.constData(), needed);
    *size = needed;
    return DP_OK;
}

HRESULT DirectPlayLobby::EnumAddress(const EnumAddressCallback& callback, const void* address,
                                     std::uint32_t size) {
    if (!callback) {
        return DPERR_INVALIDPARAMS;
    }
    const auto elements = parseCompoundAddress(address, size);
    if (!elements) {
        return DPERR_INVALIDPARAMS;
    }
    for (const AddressElement& element : *elements) {
        if (!callback(element.dataType, static_cast<std::uint32_t>(element.data.size()),
                      element.data.constData())) {
            break;
        }
    }
    return DP_OK;
}

}  // namespace velmora
