#pragma once

#include "session/Transport.h"

namespace velmora {

// The lobby's address helpers over compound addresses (session/service/CompoundAddress.h).
class DirectPlayLobby : public IDirectPlayLobby {
public:
    HRESULT CreateCompoundAddress(const DPCOMPOUNDADDRESSELEMENT* elements, std::uint32_t count,
                                  void* address, std::uint32_t* size) override;
    // Walks every element, the leading total-size element included; a malformed address gives
    // DPERR_INVALIDPARAMS before any callback.
    HRESULT EnumAddress(const EnumAddressCallback& callback, const void* address,
                        std::uint32_t size) override;
};

}  // namespace velmora
