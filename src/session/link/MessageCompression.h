#pragma once

#include <QByteArray>
#include <QByteArrayView>

#include <cstdint>
#include <memory>
#include <optional>

struct ZSTD_CCtx_s;
struct ZSTD_DCtx_s;
struct ZSTD_inBuffer_s;
struct ZSTD_outBuffer_s;

namespace velmora {

// zstd streams of the link, one per lane and direction. Each message is compressed with the
// history of the messages before it in its lane and flushed at its end, so the other side can
// decode it at once. A message that does not shrink goes plain, and both sides then start the
// lane's history over: delivery is in order and exactly once, so both keep the same history.
//
// The level is chosen by the owner from what the line carries (a slow line is worth more
// processor time per byte). A zstd frame keeps the level it began with; data that does not
// shrink is compressed at kFastLevel until some shrinks again, and a frame of another level than
// the one wanted is ended with a message that shrinks, so that the next begins at the level
// wanted. The decoder reads frames one after the other whatever their level.
class MessageCompressor {
public:
    // The largest history either side keeps: 2^20 bytes.
    static constexpr int kWindowLog = 20;
    static constexpr int kFastLevel = 1;

    MessageCompressor();
    ~MessageCompressor();
    MessageCompressor(const MessageCompressor&) = delete;
    MessageCompressor& operator=(const MessageCompressor&) = delete;

    // The level for a line that carries this many bytes per second.
    static int levelForLine(std::int64_t bytesPerSecond);

    // The level for data that shrinks; frames begun from now on take it.
    void setLevel(int level) { m_level = level; }
    // The level of the frame in progress; 0 before the next message begins one.
    int frameLevel() const { return m_frameLevel; }
    // The level the last message was compressed at.
    int lastLevel() const { return m_lastLevel; }

    // The message compressed; nothing when that is not smaller, and then the history has
    // started over.
    std::optional<QByteArray> compress(QByteArrayView message);
    void restart();

private:
    void beginFrame();
    // Runs the stream to the directive's end; false when the output has no room.
    bool drive(ZSTD_inBuffer_s& in, ZSTD_outBuffer_s& out, int directive);

    struct Free {
        void operator()(ZSTD_CCtx_s* context) const;
    };
    std::unique_ptr<ZSTD_CCtx_s, Free> m_context;
    int m_level = kFastLevel;
    int m_frameLevel = 0;
    int m_lastLevel = 0;
    bool m_lastWentPlain = false;
};

// The ordered lane's level from the line and from the sender's spare time: the line's level
// (MessageCompressor::levelForLine) while compressing a message takes less than half the time
// the line takes to carry what it became. A message that took longer shows the processor close
// to being the limit (a slow or busy machine): the level drops a step (19, 17, 9, 3, 1) for the
// messages that follow. After kCheapToClimb messages in a row that took under a tenth of their
// line time it climbs a step again, up to the line's. No clock: the owner says what each
// message cost.
class CompressionLevelChoice {
public:
    static constexpr int kCheapToClimb = 32;
    // The steps, from the slowest.
    static constexpr int kLevels[] = {19, 17, 9, 3, 1};

    // The level for the next message on a line that carries this many bytes per second.
    int level(std::int64_t lineBytesPerSecond) const;
    // A message compressed at `level` into `compressedBytes` took `micros` of the sender's time.
    void compressed(int level, qsizetype compressedBytes, std::int64_t micros,
                    std::int64_t lineBytesPerSecond);

private:
    // The highest level the sender has time for; the line's may be lower.
    int m_ceiling = kLevels[0];
    int m_cheapInARow = 0;
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
