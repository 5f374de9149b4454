#pragma once

#include <QByteArray>
#include <QByteArrayView>

#include <cstdint>
#include <vector>

namespace velmora {

// Byte framing of the serial link. A frame on the wire is its body followed by the CRC-32 of
// the body (4 bytes, little-endian), escaped, and closed by the flag byte 0x7E. The flag never
// appears inside a frame: 0x7E and the escape byte 0x7D are sent as 0x7D followed by the byte
// XOR 0x20, and so are 0x11 and 0x13 when asked for, so that XON/XOFF flow control never sees
// them. The decoder drops anything that does not end in a good CRC and starts over at the next
// flag, which is how it finds its way back after noise.
class FrameCodec {
public:
    static constexpr char kFlag = 0x7E;
    static constexpr char kEscape = 0x7D;
    static constexpr char kXon = 0x11;
    static constexpr char kXoff = 0x13;
    static constexpr int kCrcBytes = 4;

    // dropRawXonXoff: the line uses XON/XOFF, so a raw 0x11 or 0x13 belongs to the line's flow
    // control and never to a frame. Bodies longer than maxBodyBytes are thrown away.
    FrameCodec(bool dropRawXonXoff, int maxBodyBytes);

    // Appends the encoded frame to out.
    static void encode(QByteArrayView body, bool escapeXonXoff, QByteArray& out);
    // The room encode() reserves for a body of this size, the closing flag included: enough
    // unless more than one byte in 32 must be escaped.
    static constexpr qsizetype encodedSizeHint(qsizetype bodySize) {
        return bodySize + bodySize / 32 + 2 * kCrcBytes + 1;
    }

    // Feeds received bytes; returns the bodies of the good frames completed by them.
    std::vector<QByteArray> decode(QByteArrayView data);

    // Bytes of the frame in progress received so far (after unescaping, CRC included).
    qsizetype partialFrameBytes() const { return m_current.size(); }

    // Frames thrown away for a bad CRC or overlength since construction.
    std::uint64_t badFrames() const { return m_badFrames; }

private:
    // At a flag: the frame collected so far is complete if its CRC is right.
    void endFrame(std::vector<QByteArray>& frames);

    bool m_dropRawXonXoff;
    int m_maxBodyBytes;
    QByteArray m_current;
    bool m_escaped = false;
    bool m_overlong = false;
    std::uint64_t m_badFrames = 0;
};

}  // namespace velmora
