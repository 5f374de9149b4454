#pragma once

#include <QString>

#include <array>
#include <cstdint>
#include <optional>

namespace velmora {

// A 16-byte GUID in the Windows memory layout: Data1 (32-bit), Data2 and Data3 (16-bit), all
// little-endian, then the 8 bytes of Data4. Compared byte for byte.
struct Guid {
    std::array<std::uint8_t, 16> bytes{};

    // Parses the registry text form "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" (either case).
    static std::optional<Guid> fromString(const QString& text);
    // The registry text form with braces and upper-case hexadecimal.
    QString toString() const;
    bool isNull() const;

    friend bool operator==(const Guid&, const Guid&) = default;
};

// Provider and address-element identifiers of the session service.
namespace guids {
extern const Guid ServiceProviderModem;    // DPSPGUID_MODEM
extern const Guid ServiceProviderSerial;   // DPSPGUID_SERIAL
extern const Guid ServiceProviderTcpIp;    // DPSPGUID_TCPIP
extern const Guid ServiceProviderMemory;   // the in-process pair used by tests
extern const Guid AddressTotalSize;        // DPAID_TotalSize
extern const Guid AddressServiceProvider;  // DPAID_ServiceProvider
extern const Guid AddressModem;            // DPAID_Modem
extern const Guid AddressPhone;            // DPAID_Phone
extern const Guid AddressINet;             // DPAID_INet
extern const Guid AddressINetPort;         // DPAID_INetPort
}  // namespace guids

}  // namespace velmora
