#pragma once

#include <QByteArray>
#include <QByteArrayView>

#include <memory>
#include <optional>

struct ZSTD_CCtx_s;
struct ZSTD_DCtx_s;

namespace velmora {

// zstd streams of the link, one per lane and direction. Each message is compressed with the
// history of the messages before it in its lane and flushed at its end, so the other side can
// decode it at once. A message that does not shrink goes plain, and both sides then start the
// lane's history over: delivery is in order and exactly once, so both keep the same history.
class MessageCompressor {
public:
    // The largest history either side keeps: 2^20 bytes.
    static constexpr int kWindowLog = 20;

    MessageCompressor();
    ~MessageCompressor();
    MessageCompressor(const MessageCompressor&) = delete;
    MessageCompressor& operator=(const MessageCompressor&) = delete;

    // The message compressed; nothing when that is not smaller, and then the history has
    // started over.
    std::optional<QByteArray> compress(QByteArrayView message);
    void restart();

private:
    struct Free {
        void operator()(ZSTD_CCtx_s* context) const;
    };
    std::unique_ptr<ZSTD_CCtx_s, Free> m_context;
};

class MessageDecompressor {
public:
    MessageDecompressor();
    ~MessageDecompressor();
    MessageDecompressor(const MessageDecompressor&) = delete;
    MessageDecompressor& operator=(const MessageDecompressor&) = delete;

    // The message; nothing when the bytes do not decode or the message would be longer than
    // limit. Memory stays bounded by the limit and the window, whatever the bytes say.
    std::optional<QByteArray> decompress(QByteArrayView bytes, qsizetype limit);
    // A plain message came in this lane: the other side started its history over.
    void restart();

private:
    struct Free {
        void operator()(ZSTD_DCtx_s* context) const;
    };
    std::unique_ptr<ZSTD_DCtx_s, Free> m_context;
    QByteArray m_scratch;
};

}  // namespace velmora
