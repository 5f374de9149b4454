#pragma once

#include <QByteArray>

#include <cstdint>
#include <span>

namespace velmora {

// The one reader and writer of little-endian layouts: peer messages, session messages, link
// frames, compound addresses and icons all use these, so byte order is written down once.

// Fields at fixed offsets of a buffer; the caller keeps every offset inside it.
inline std::uint8_t loadU8(std::span<const char> bytes, std::size_t at) {
    return static_cast<std::uint8_t>(bytes[at]);
}
inline std::uint16_t loadU16(std::span<const char> bytes, std::size_t at) {
    return static_cast<std::uint16_t>(loadU8(bytes, at) | (loadU8(bytes, at + 1) << 8));
}
inline std::uint32_t loadU32(std::span<const char> bytes, std::size_t at) {
    return loadU16(bytes, at) | (static_cast<std::uint32_t>(loadU16(bytes, at + 2)) << 16);
}
inline void storeU8(std::span<char> bytes, std::size_t at, std::uint8_t value) {
    bytes[at] = static_cast<char>(value);
}
inline void storeU16(std::span<char> bytes, std::size_t at, std::uint16_t value) {
    storeU8(bytes, at, static_cast<std::uint8_t>(value));
    storeU8(bytes, at + 1, static_cast<std::uint8_t>(value >> 8));
}
inline void storeU32(std::span<char> bytes, std::size_t at, std::uint32_t value) {
    storeU16(bytes, at, static_cast<std::uint16_t>(value));
    storeU16(bytes, at + 2, static_cast<std::uint16_t>(value >> 16));
}

// Appends fields in order.
class ByteWriter {
public:
    explicit ByteWriter(qsizetype reserve = 64) { m_bytes.reserve(reserve); }

    ByteWriter& u8(std::uint8_t value) {
        m_bytes.append(static_cast<char>(value));
        return *this;
    }
    ByteWriter& u16(std::uint16_t value) {
        return u8(static_cast<std::uint8_t>(value)).u8(static_cast<std::uint8_t>(value >> 8));
    }
    ByteWriter& u32(std::uint32_t value) {
        return u16(static_cast<std::uint16_t>(value)).u16(static_cast<std::uint16_t>(value >> 16));
    }
    ByteWriter& bytes(std::span<const char> value) {
        m_bytes.append(value.data(), static_cast<qsizetype>(value.size()));
        return *this;
    }
    ByteWriter& bytes(const QByteArray& value) {
        m_bytes.append(value);
        return *this;
    }
    ByteWriter& zeros(qsizetype count) {
        m_bytes.append(count, '\0');
        return *this;
    }

    qsizetype size() const { return m_bytes.size(); }
    // For fields whose value is known only later (a length, a check), written in place.
    std::span<char> written() { return {m_bytes.data(), static_cast<std::size_t>(m_bytes.size())}; }
    QByteArray take() { return std::move(m_bytes); }

private:
    QByteArray m_bytes;
};

// Reads fields in order. Once a read would pass the end, it and every later read give zero and
// ok() turns false, so a parser reads all its fields and checks once.
class ByteReader {
public:
    explicit ByteReader(std::span<const char> bytes) : m_bytes(bytes) {}
    explicit ByteReader(const QByteArray& bytes)
        : m_bytes(bytes.constData(), static_cast<std::size_t>(bytes.size())) {}

    bool ok() const { return m_ok; }
    bool atEnd() const { return m_ok && m_at == m_bytes.size(); }
    std::size_t position() const { return m_at; }
    std::size_t remaining() const { return m_ok ? m_bytes.size() - m_at : 0; }

    std::uint8_t u8() { return take(1) ? loadU8(m_bytes, m_at - 1) : 0; }
    std::uint16_t u16() { return take(2) ? loadU16(m_bytes, m_at - 2) : 0; }
    std::uint32_t u32() { return take(4) ? loadU32(m_bytes, m_at - 4) : 0; }
    // The next count bytes; empty (and failed) when fewer are left.
    std::span<const char> bytes(std::size_t count) {
        return take(count) ? m_bytes.subspan(m_at - count, count) : std::span<const char>();
    }
    QByteArray copy(std::size_t count) {
        const std::span<const char> field = bytes(count);
        return {field.data(), static_cast<qsizetype>(field.size())};
    }
    std::span<const char> rest() { return bytes(remaining()); }
    void skip(std::size_t count) { take(count); }
    // Marks the input bad, for a parser that finds a field out of range.
    void fail() { m_ok = false; }

private:
    bool take(std::size_t count) {
        if (!m_ok || count > m_bytes.size() - m_at) {
            m_ok = false;
            return false;
        }
        m_at += count;
        return true;
    }

    std::span<const char> m_bytes;
    std::size_t m_at = 0;
    bool m_ok = true;
};

}  // namespace velmora
