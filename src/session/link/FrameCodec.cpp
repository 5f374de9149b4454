#include "session/link/FrameCodec.h"

#include "session/link/Crc32.h"

#include "base/ByteLayout.h"

namespace velmora {

namespace {

bool needsEscape(char byte, bool escapeXonXoff) {
    return byte == FrameCodec::kFlag || byte == FrameCodec::kEscape ||
           (escapeXonXoff && (byte == FrameCodec::kXon || byte == FrameCodec::kXoff));
}

template <typename Put>
void forEachWireByte(QByteArrayView body, Put&& put) {
    char crc[FrameCodec::kCrcBytes];
    storeU32(crc, 0, crc32(body));
    for (const char byte : body) {
        put(byte);
    }
    for (const char byte : crc) {
        put(byte);
    }
}

}  // namespace

FrameCodec::FrameCodec(bool dropRawXonXoff, int maxBodyBytes)
    : m_dropRawXonXoff(dropRawXonXoff), m_maxBodyBytes(maxBodyBytes) {}

void FrameCodec::encode(QByteArrayView body, bool escapeXonXoff, QByteArray& out) {
    out.reserve(out.size() + body.size() + body.size() / 32 + 2 * kCrcBytes + 1);
    forEachWireByte(body, [&](char byte) {
        if (needsEscape(byte, escapeXonXoff)) {
            out.append(kEscape);
            out.append(static_cast<char>(byte ^ 0x20));
        } else {
            out.append(byte);
        }
    });
    out.append(kFlag);
}

std::vector<QByteArray> FrameCodec::decode(QByteArrayView data) {
    std::vector<QByteArray> frames;
    for (const char byte : data) {
        if (byte == kFlag) {
            if (!m_overlong && !m_escaped && m_current.size() > kCrcBytes) {
                const qsizetype bodySize = m_current.size() - kCrcBytes;
                const std::uint32_t crc =
                    loadU32({m_current.constData(), static_cast<std::size_t>(m_current.size())},
                            static_cast<std::size_t>(bodySize));
                if (crc == crc32(QByteArrayView(m_current.constData(), bodySize))) {
                    m_current.truncate(bodySize);
                    frames.push_back(m_current);
                } else {
                    ++m_badFrames;
                }
            } else if (m_overlong || m_escaped || !m_current.isEmpty()) {
                ++m_badFrames;
            }
            m_current.clear();
            m_escaped = false;
            m_overlong = false;
            continue;
        }
        if (m_dropRawXonXoff && (byte == kXon || byte == kXoff)) {
            continue;
        }
        if (m_overlong) {
            continue;
        }
        if (byte == kEscape && !m_escaped) {
            m_escaped = true;
            continue;
        }
        m_current.append(m_escaped ? static_cast<char>(byte ^ 0x20) : byte);
        m_escaped = false;
        if (m_current.size() > m_maxBodyBytes + kCrcBytes) {
            m_overlong = true;
            m_current.clear();
        }
    }
    return frames;
}

}  // namespace velmora
