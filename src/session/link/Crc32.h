#pragma once

#include <QByteArrayView>

#include <cstdint>

namespace velmora {

// CRC-32 of the IEEE 802.3 / zlib kind (reflected polynomial 0xEDB88320, initial and final
// value 0xFFFFFFFF): crc32("123456789") == 0xCBF43926.
std::uint32_t crc32(QByteArrayView data);

}  // namespace velmora
