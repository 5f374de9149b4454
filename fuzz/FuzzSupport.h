#pragma once

// What every fuzz target shares: a reader that turns the fuzzer's bytes into decisions and
// chunks, and a Qt application object for the code that needs one.

#include <QByteArray>
#include <QString>

#include <cstddef>
#include <cstdint>

namespace velmora::fuzz {

// Reads the input front to back; once it is used up, every read gives zeros or empty chunks,
// so a target's script simply ends.
class FuzzInput {
public:
    FuzzInput(const std::uint8_t* data, std::size_t size)
        : m_data(reinterpret_cast<const char*>(data)), m_size(static_cast<qsizetype>(size)) {}

    bool atEnd() const { return m_at >= m_size; }
    std::uint8_t u8();
    std::uint16_t u16();
    std::uint32_t u32();
    bool flag() { return (u8() & 1) != 0; }
    // A number in 0..count-1 (count > 0).
    int pick(int count) { return static_cast<int>(u8() % count); }
    // Up to count bytes, fewer at the end of the input.
    QByteArray bytes(qsizetype count);
    // A chunk whose length (0..maxLength) comes first.
    QByteArray chunk(int maxLength);
    QByteArray rest() { return bytes(m_size - m_at); }

private:
    const char* m_data;
    qsizetype m_size;
    qsizetype m_at = 0;
};

// A folder under the system's temporary folder that lives as long as the process; the process
// points HOME, VELMORA_HOME and the XDG folders into it at start.
QString scratchFolder();

// Stops the process as a finding when the condition does not hold.
void check(bool condition, const char* what);

}  // namespace velmora::fuzz
