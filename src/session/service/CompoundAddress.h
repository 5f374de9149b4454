#pragma once

// Compound addresses: a DPAID_TotalSize element (its data the 32-bit size of the whole address)
// followed by the elements, each a 16-byte type GUID, a 32-bit little-endian data size and the
// data.

#include "session/ServiceProvider.h"
#include "session/Transport.h"

#include <QByteArray>

#include <cstdint>
#include <optional>

namespace velmora {

// The address of the elements, with the total-size element put first.
QByteArray buildCompoundAddress(const Address& elements);

// Every element of an address, the total-size element included. nullopt when the address is
// cut short, an element runs past its end or the total size does not fit the bytes given.
std::optional<Address> parseCompoundAddress(const void* address, std::uint32_t size);

// The size an address says it has in its leading total-size element; nullopt when it does not
// start with one. Reads the first 24 bytes only.
std::optional<std::uint32_t> compoundAddressTotalSize(const void* address);

}  // namespace velmora
