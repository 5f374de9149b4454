#include "session/link/MessageCompression.h"

#include <zstd.h>

#include <algorithm>

namespace velmora {

namespace {

// The lowest level: far ahead of any serial line with a sliver of one core.
constexpr int kLevel = 1;
// The output of a decompression grows in steps of this size up to the limit.
constexpr qsizetype kOutputStep = 64 * 1024;
constexpr std::size_t kBlockHeaderBytes = 3;

}  // namespace

void MessageCompressor::Free::operator()(ZSTD_CCtx_s* context) const {
    ZSTD_freeCCtx(context);
}

void MessageDecompressor::Free::operator()(ZSTD_DCtx_s* context) const {
    ZSTD_freeDCtx(context);
}

MessageCompressor::MessageCompressor() : m_context(ZSTD_createCCtx()) {
    ZSTD_CCtx_setParameter(m_context.get(), ZSTD_c_compressionLevel, kLevel);
    ZSTD_CCtx_setParameter(m_context.get(), ZSTD_c_windowLog, kWindowLog);
    // The link checks every frame already.
    ZSTD_CCtx_setParameter(m_context.get(), ZSTD_c_checksumFlag, 0);
}

MessageCompressor::~MessageCompressor() = default;

std::optional<QByteArray> MessageCompressor::compress(QByteArrayView message) {
    // Strictly smaller than the message, or it goes plain.
    QByteArray compressed(std::max<qsizetype>(message.size() - 1, 0), Qt::Uninitialized);
    ZSTD_inBuffer in{message.data(), static_cast<std::size_t>(message.size()), 0};
    ZSTD_outBuffer out{compressed.data(), static_cast<std::size_t>(compressed.size()), 0};
    for (;;) {
        const std::size_t left = ZSTD_compressStream2(m_context.get(), &out, &in, ZSTD_e_flush);
        if (ZSTD_isError(left) || (left > 0 && out.pos == out.size)) {
            restart();
            return std::nullopt;
        }
        if (left == 0) {
            break;
        }
    }
    if (out.pos == 0) {
        // Nothing to flush (an empty message on a fresh stream): there is nothing to decode.
        restart();
        return std::nullopt;
    }
    compressed.truncate(static_cast<qsizetype>(out.pos));
    return compressed;
}

void MessageCompressor::restart() {
    ZSTD_CCtx_reset(m_context.get(), ZSTD_reset_session_only);
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
