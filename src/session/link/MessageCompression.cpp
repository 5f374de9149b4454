#include "session/link/MessageCompression.h"

#include <zstd.h>

#include <algorithm>
#include <iterator>

namespace velmora {

namespace {

// From this level on, the hash and chain tables are bounded by the window: the levels' own
// tables are made for larger windows and would cost tens of megabytes for no gain.
constexpr int kBoundedTablesFromLevel = 4;
// The output of a decompression grows in steps of this size up to the limit.
constexpr qsizetype kOutputStep = 64 * 1024;
constexpr std::size_t kBlockHeaderBytes = 3;
// A frame's end: the last, empty block, with room to spare.
constexpr qsizetype kFrameEndBytes = 16;

}  // namespace

void MessageCompressor::Free::operator()(ZSTD_CCtx_s* context) const {
    ZSTD_freeCCtx(context);
}

void MessageDecompressor::Free::operator()(ZSTD_DCtx_s* context) const {
    ZSTD_freeDCtx(context);
}

MessageCompressor::MessageCompressor() : m_context(ZSTD_createCCtx()) {
    ZSTD_CCtx_setParameter(m_context.get(), ZSTD_c_windowLog, kWindowLog);
    // The link checks every frame already.
    ZSTD_CCtx_setParameter(m_context.get(), ZSTD_c_checksumFlag, 0);
}

MessageCompressor::~MessageCompressor() = default;

int MessageCompressor::levelForLine(std::int64_t bytesPerSecond) {
    // Chosen so that compressing text as fast as the line carries it takes a few percent of a
    // core at most (level 19 compresses about 0.8 MB/s, 17 about 1.5, 9 about 20, 3 about 100):
    // the line, not the processor, stays the bottleneck, and the slower it is the more every
    // byte saved is worth.
    if (bytesPerSecond <= 2400) {
        return 19;
    }
    if (bytesPerSecond <= 16000) {
        return 17;
    }
    if (bytesPerSecond <= 128000) {
        return 9;
    }
    if (bytesPerSecond <= 512000) {
        return 3;
    }
    return kFastLevel;
}

int CompressionLevelChoice::level(std::int64_t lineBytesPerSecond) const {
    return std::min(MessageCompressor::levelForLine(lineBytesPerSecond), m_ceiling);
}

void CompressionLevelChoice::compressed(int level, qsizetype compressedBytes, std::int64_t micros,
                                        std::int64_t lineBytesPerSecond) {
    const std::int64_t lineMicros = static_cast<std::int64_t>(compressedBytes) * 1'000'000 /
                                    std::max<std::int64_t>(lineBytesPerSecond, 1);
    const auto step = std::find_if(std::begin(kLevels), std::end(kLevels),
                                   [level](int each) { return each <= level; });
    if (micros * 2 > lineMicros) {
        // The next step below the level that took too long.
        m_ceiling = step == std::end(kLevels) || std::next(step) == std::end(kLevels)
                        ? MessageCompressor::kFastLevel
                        : *std::next(step);
        m_cheapInARow = 0;
        return;
    }
    m_cheapInARow = micros * 10 < lineMicros ? m_cheapInARow + 1 : 0;
    if (m_cheapInARow >= kCheapToClimb && level >= m_ceiling && m_ceiling < kLevels[0]) {
        m_ceiling = *std::prev(std::find(std::begin(kLevels), std::end(kLevels), m_ceiling));
        m_cheapInARow = 0;
    }
}

void MessageCompressor::beginFrame() {
    // Data that did not shrink is likely followed by more of it (a compressed file): it is not
    // worth a slow level until some shrinks again.
    m_frameLevel = m_lastWentPlain ? kFastLevel : m_level;
    const int tableLog = m_frameLevel >= kBoundedTablesFromLevel ? kWindowLog : 0;  // 0: default
    ZSTD_CCtx_setParameter(m_context.get(), ZSTD_c_compressionLevel, m_frameLevel);
    ZSTD_CCtx_setParameter(m_context.get(), ZSTD_c_hashLog, tableLog);
    ZSTD_CCtx_setParameter(m_context.get(), ZSTD_c_chainLog, tableLog);
}

bool MessageCompressor::drive(ZSTD_inBuffer& in, ZSTD_outBuffer& out, int directive) {
    for (;;) {
        const std::size_t left = ZSTD_compressStream2(m_context.get(), &out, &in,
                                                      static_cast<ZSTD_EndDirective>(directive));
        if (ZSTD_isError(left) || (left > 0 && out.pos == out.size)) {
            return false;
        }
        if (left == 0) {
            return true;
        }
    }
}

std::optional<QByteArray> MessageCompressor::compress(QByteArrayView message) {
    if (m_frameLevel == 0) {
        beginFrame();
    }
    m_lastLevel = m_frameLevel;
    // Strictly smaller than the message, or it goes plain.
    QByteArray compressed(std::max<qsizetype>(message.size() - 1, 0), Qt::Uninitialized);
    ZSTD_inBuffer in{message.data(), static_cast<std::size_t>(message.size()), 0};
    ZSTD_outBuffer out{compressed.data(), static_cast<std::size_t>(compressed.size()), 0};
    // Nothing to flush (an empty message on a fresh stream) leaves nothing to decode.
    if (!drive(in, out, ZSTD_e_flush) || out.pos == 0) {
        restart();
        m_lastWentPlain = !message.isEmpty();
        return std::nullopt;
    }
    m_lastWentPlain = false;
    if (m_frameLevel != m_level) {
        // The frame ends with this message; the next begins at the level wanted.
        compressed.resize(static_cast<qsizetype>(out.pos) + kFrameEndBytes);
        out = {compressed.data(), static_cast<std::size_t>(compressed.size()), out.pos};
        ZSTD_inBuffer none{nullptr, 0, 0};
        if (!drive(none, out, ZSTD_e_end) || static_cast<qsizetype>(out.pos) >= message.size()) {
            restart();
            return std::nullopt;
        }
        m_frameLevel = 0;
    }
    compressed.truncate(static_cast<qsizetype>(out.pos));
    return compressed;
}

void MessageCompressor::restart() {
    ZSTD_CCtx_reset(m_context.get(), ZSTD_reset_session_only);
    m_frameLevel = 0;
}

MessageDecompressor::MessageDecompressor() : m_context(ZSTD_createDCtx()) {
    ZSTD_DCtx_setParameter(m_context.get(), ZSTD_d_windowLogMax, MessageCompressor::kWindowLog);
}

MessageDecompressor::~MessageDecompressor() = default;

std::optional<QByteArray> MessageDecompressor::decompress(QByteArrayView bytes, qsizetype limit) {
    // Decoded a step at a time into the scratch buffer; the message takes only what it needs.
    if (m_scratch.isEmpty()) {
        m_scratch.resize(kOutputStep);
    }
    QByteArray message;
    ZSTD_inBuffer in{bytes.data(), static_cast<std::size_t>(bytes.size()), 0};
    for (;;) {
        // One byte past the limit shows a message that is too long.
        const qsizetype room = std::min(kOutputStep, limit + 1 - message.size());
        ZSTD_outBuffer out{m_scratch.data(), static_cast<std::size_t>(room), 0};
        const std::size_t next = ZSTD_decompressStream(m_context.get(), &out, &in);
        if (ZSTD_isError(next) || message.size() + static_cast<qsizetype>(out.pos) > limit) {
            restart();
            return std::nullopt;
        }
        message.append(m_scratch.constData(), static_cast<qsizetype>(out.pos));
        if (in.pos == in.size && out.pos < out.size) {
            // All input taken and all output given. A flushed message ends with a whole block:
            // the stream then wants a block header next; anything else is a cut message.
            if (next != 0 && next != kBlockHeaderBytes) {
                restart();
                return std::nullopt;
            }
            return message;
        }
    }
}

void MessageDecompressor::restart() {
    ZSTD_DCtx_reset(m_context.get(), ZSTD_reset_session_only);
}

}  // namespace velmora
