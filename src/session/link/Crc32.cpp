#include "session/link/Crc32.h"

#include <zlib.h>

namespace velmora {

std::uint32_t crc32(QByteArrayView data) {
    // zlib's is the same CRC, computed several bytes at a time.
    return static_cast<std::uint32_t>(crc32_z(0, reinterpret_cast<const Bytef*>(data.data()),
                                              static_cast<z_size_t>(data.size())));
}

}  // namespace velmora
