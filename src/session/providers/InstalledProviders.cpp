#include "session/providers/InstalledProviders.h"

#include "session/link/SerialProvider.h"
#include "session/modem/ModemProvider.h"
#include "session/net/NetworkProvider.h"

namespace velmora {

QList<ProviderEntry> installedProviders(const ProviderSetup& setup) {
    return {
        {guids::ServiceProviderSerial, SerialProviderName,
         [setup] {
             return std::make_unique<SerialProvider>(setup.dataFolder, setup.serialPrompts,
                                                     setup.serialSettings);
         }},
        {guids::ServiceProviderModem, ModemProviderName,
         [setup] { return std::make_unique<ModemProvider>(setup.dataFolder, setup.modemPrompts); }},
        {guids::ServiceProviderTcpIp, NetworkProviderName,
         [setup] {
             return std::make_unique<NetworkProvider>(setup.networkPrompts, setup.passphrase);
         }},
    };
}

}  // namespace velmora
