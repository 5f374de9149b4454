#include "session/link/FrameCodec.h"

#include "session/link/Crc32.h"

#include "base/ByteLayout.h"

#include <array>
#include <cstring>

namespace velmora {

namespace {

// The bytes that never go raw inside a frame: the flag (first, so that a search for it alone
// takes one) and the escape always, XON and XOFF when the line uses them for flow control.
constexpr std::array<char, 4> kSpecialBytes{FrameCodec::kFlag, FrameCodec::kEscape,
                                            FrameCodec::kXon, FrameCodec::kXoff};

std::size_t specialCount(bool withFlowControl) {
    return withFlowControl ? 4 : 2;
}

// The first special byte from at on, or end: what lies before it is taken as a whole. memchr
// scans far faster than a loop over the bytes; each search ends where an earlier one found a
// special byte, so the run is scanned about once per kind of special byte.
const char* endOfRun(const char* at, const char* end, std::size_t specials) {
    for (std::size_t i = 0; i < specials; ++i) {
        if (const void* found =
                std::memchr(at, kSpecialBytes[i], static_cast<std::size_t>(end - at))) {
            end = static_cast<const char*>(found);
        }
    }
    return end;
}

void appendEscaped(QByteArrayView bytes, std::size_t specials, QByteArray& out) {
    const char* at = bytes.begin();
    while (at != bytes.end()) {
        const char* special = endOfRun(at, bytes.end(), specials);
        out.append(at, special - at);
        if (special == bytes.end()) {
            return;
        }
        out.append(FrameCodec::kEscape);
        out.append(static_cast<char>(*special ^ 0x20));
        at = special + 1;
    }
}

}  // namespace

FrameCodec::FrameCodec(bool dropRawXonXoff, int maxBodyBytes)
    : m_dropRawXonXoff(dropRawXonXoff), m_maxBodyBytes(maxBodyBytes) {}

void FrameCodec::encode(QByteArrayView body, bool escapeXonXoff, QByteArray& out) {
    out.reserve(out.size() + encodedSizeHint(body.size()));
    char crc[kCrcBytes];
    storeU32(crc, 0, crc32(body));
    const std::size_t specials = specialCount(escapeXonXoff);
    appendEscaped(body, specials, out);
    appendEscaped(QByteArrayView(crc, kCrcBytes), specials, out);
    out.append(kFlag);
}

std::vector<QByteArray> FrameCodec::decode(QByteArrayView data) {
    std::vector<QByteArray> frames;
    const std::size_t specials = specialCount(m_dropRawXonXoff);
    const qsizetype limit = m_maxBodyBytes + kCrcBytes;
    const char* at = data.begin();
    while (at != data.end()) {
        if (m_overlong) {
            // Nothing more of this frame is kept: on to the flag that ends it.
            at = endOfRun(at, data.end(), 1);
            if (at == data.end()) {
                break;
            }
        } else if (!m_escaped) {
            // Ordinary bytes go into the frame a run at a time.
            const char* run = endOfRun(at, data.end(), specials);
            if (run != at) {
                if (m_current.size() + (run - at) > limit) {
                    m_overlong = true;
                    m_current.resize(0);
                } else {
                    m_current.append(at, run - at);
                }
                at = run;
                continue;
            }
        }
        const char byte = *at++;
        if (byte == kFlag) {
            endFrame(frames);
            continue;
        }
        if (m_dropRawXonXoff && (byte == kXon || byte == kXoff)) {
            continue;
        }
        if (byte == kEscape && !m_escaped) {
            m_escaped = true;
            continue;
        }
        m_current.append(m_escaped ? static_cast<char>(byte ^ 0x20) : byte);
        m_escaped = false;
        if (m_current.size() > limit) {
            m_overlong = true;
            m_current.resize(0);
        }
    }
    return frames;
}

void FrameCodec::endFrame(std::vector<QByteArray>& frames) {
    const bool whole = !m_overlong && !m_escaped && m_current.size() > kCrcBytes;
    if (whole) {
        const qsizetype bodySize = m_current.size() - kCrcBytes;
        const std::uint32_t crc =
            loadU32({m_current.constData(), static_cast<std::size_t>(m_current.size())},
                    static_cast<std::size_t>(bodySize));
        if (crc == crc32(QByteArrayView(m_current.constData(), bodySize))) {
            m_current.truncate(bodySize);
            frames.push_back(std::move(m_current));
            // The next frame is likely as long: room for it at once.
            m_current = QByteArray();
            m_current.reserve(bodySize + kCrcBytes);
        } else {
            ++m_badFrames;
        }
    } else if (m_overlong || m_escaped || !m_current.isEmpty()) {
        ++m_badFrames;
    }
    m_current.resize(0);
    m_escaped = false;
    m_overlong = false;
}

}  // namespace velmora
