#pragma once

#include "session/ServiceProvider.h"
#include "session/Transport.h"

#include <QList>

namespace velmora {

// The system entry points of the session service over a fixed list of providers. Each service
// is independent of every other, so that two of them in one process can talk over a memory
// cable.
class SessionService : public IDirectPlaySystem {
public:
    explicit SessionService(QList<ProviderEntry> providers);

    // Lists the providers in the order given at construction.
    HRESULT DirectPlayEnumerate(const EnumProvidersCallback& callback) override;
    std::unique_ptr<IDirectPlayLobby> DirectPlayLobbyCreate() override;
    std::unique_ptr<IDirectPlay4> CreateTransport() override;
    std::unique_ptr<IDirectPlay4> DirectPlayCreate(const Guid& provider) override;

private:
    const QList<ProviderEntry> m_providers;
};

}  // namespace velmora
