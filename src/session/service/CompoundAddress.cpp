#include "session/service/CompoundAddress.h"

#include <QtEndian>

#include <cstring>

namespace velmora {

namespace {

constexpr std::uint32_t kHeaderSize = 20;  // type GUID and data size
constexpr std::uint32_t kTotalSizeElementSize = kHeaderSize + 4;

void appendElement(QByteArray& out, const Guid& type, const QByteArray& data) {
    out.append(reinterpret_cast<const char*>(type.bytes.data()), 16);
    char size[4];
    qToLittleEndian<std::uint32_t>(static_cast<std::uint32_t>(data.size()), size);
    out.append(size, 4);
    out.append(data);
}

}  // namespace

QByteArray buildCompoundAddress(const Address& elements) {
    std::uint32_t total = kTotalSizeElementSize;
    for (const AddressElement& element : elements) {
        total += kHeaderSize + static_cast<std::uint32_t>(element.data.size());
    }
    QByteArray totalData(4, '\0');
    qToLittleEndian<std::uint32_t>(total, totalData.data());
    QByteArray out;
    out.reserve(static_cast<qsizetype>(total));
    appendElement(out, guids::AddressTotalSize, totalData);
    for (const AddressElement& element : elements) {
        appendElement(out, element.dataType, element.data);
    }
    return out;
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
    std::uint32_t at = 0;
    while (at < end) {
        if (end - at < kHeaderSize) {
            return std::nullopt;
        }
        AddressElement element;
        std::memcpy(element.dataType.bytes.data(), bytes + at, 16);
        const auto length = qFromLittleEndian<std::uint32_t>(bytes + at + 16);
        at += kHeaderSize;
        if (length > end - at) {
            return std::nullopt;
        }
        element.data = QByteArray(bytes + at, static_cast<qsizetype>(length));
        at += length;
        elements.append(std::move(element));
    }
    return elements;
}

std::optional<std::uint32_t> compoundAddressTotalSize(const void* address) {
    const auto* bytes = static_cast<const char*>(address);
    Guid type;
    std::memcpy(type.bytes.data(), bytes, 16);
    if (type != guids::AddressTotalSize || qFromLittleEndian<std::uint32_t>(bytes + 16) != 4) {
        return std::nullopt;
    }
    return qFromLittleEndian<std::uint32_t>(bytes + kHeaderSize);
}

}  // namespace velmora
