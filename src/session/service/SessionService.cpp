#include "session/service/SessionService.h"

#include "session/service/DirectPlayLobby.h"
#include "session/service/DirectPlayObject.h"

#include <algorithm>

namespace velmora {

SessionService::SessionService(QList<ProviderEntry> providers)
    : m_providers(std::move(providers)) {}

HRESULT SessionService::DirectPlayEnumerate(const EnumProvidersCallback& callback) {
    if (!callback) {
        return DPERR_INVALIDPARAMS;
    }
    for (const ProviderEntry& entry : m_providers) {
        if (!callback(entry.guid, entry.name)) {
            break;
        }
    }
    return DP_OK;
}

std::unique_ptr<IDirectPlayLobby> SessionService::DirectPlayLobbyCreate() {
    return std::make_unique<DirectPlayLobby>();
}

std::unique_ptr<IDirectPlay4> SessionService::CreateTransport() {
    return std::make_unique<DirectPlayObject>(m_providers);
}

std::unique_ptr<IDirectPlay4> SessionService::DirectPlayCreate(const Guid& provider) {
    const auto entry = std::find_if(m_providers.begin(), m_providers.end(),
                                    [&](const ProviderEntry& e) { return e.guid == provider; });
    if (entry == m_providers.end() || !entry->create) {
        return nullptr;
    }
    std::unique_ptr<ServiceProvider> bound = entry->create();
    if (!bound) {
        return nullptr;
    }
    return std::make_unique<DirectPlayObject>(std::move(bound));
}

}  // namespace velmora
