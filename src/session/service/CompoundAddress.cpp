#include "session/service/CompoundAddress.h"

#include "base/ByteLayout.h"

#include <cstring>
#include <span>

namespace velmora {

namespace {

constexpr std::uint32_t kHeaderSize = 20;  // type GUID and data size
constexpr std::uint32_t kTotalSizeElementSize = kHeaderSize + 4;

void appendElement(ByteWriter& out, const Guid& type, const QByteArray& data) {
    out.bytes(std::span(reinterpret_cast<const char*>(type.bytes.data()), 16))
        .u32(static_cast<std::uint32_t>(data.size()))
        .bytes(data);
}

}  // namespace

QByteArray buildCompoundAddress(const Address& elements) {
    std::uint32_t total = kTotalSizeElementSize;
    for (const AddressElement& element : elements) {
        total += kHeaderSize + static_cast<std::uint32_t>(element.data.size());
    }
    ByteWriter out(static_cast<qsizetype>(total));
    appendElement(out, guids::AddressTotalSize, ByteWriter(4).u32(total).take());
    for (const AddressElement& element : elements) {
        appendElement(out, element.dataType, element.data);
    }
    return out.take();
}

std::optional<Address> parseCompoundAddress(const void* address, std::uint32_t size) {
    if (address == nullptr) {
        return std::nullopt;
    }
    const auto* bytes = static_cast<const char*>(address);
    std::uint32_t end = size;
    if (size >= kTotalSizeElementSize) {
        // An address that names its own size is walked up to that size only; one that claims
        // more than it has is broken.
        if (const auto total = compoundAddressTotalSize(address)) {
            if (*total > size || *total < kTotalSizeElementSize) {
                return std::nullopt;
            }
            end = *total;
        }
    }
    Address elements;
    ByteReader in(std::span(bytes, end));
    while (in.remaining() > 0) {
        AddressElement element;
        const std::span<const char> type = in.bytes(16);
        const std::uint32_t length = in.u32();
        element.data = in.copy(length);
        if (!in.ok()) {
            return std::nullopt;
        }
        std::memcpy(element.dataType.bytes.data(), type.data(), 16);
        elements.append(std::move(element));
    }
    return elements;
}

std::optional<std::uint32_t> compoundAddressTotalSize(const void* address) {
    const std::span<const char> bytes(static_cast<const char*>(address), kTotalSizeElementSize);
    Guid type;
    std::memcpy(type.bytes.data(), bytes.data(), 16);
    if (type != guids::AddressTotalSize || loadU32(bytes, 16) != 4) {
        return std::nullopt;
    }
    return loadU32(bytes, kHeaderSize);
}

}  // namespace velmora
