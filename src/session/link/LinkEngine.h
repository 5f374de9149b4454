#pragma once

#include "session/Line.h"
#include "session/link/FrameCodec.h"
#include "session/link/MessageCompression.h"

#include <QByteArray>
#include <QByteArrayView>

#include <array>
#include <cstdint>
#include <deque>
#include <limits>
#include <map>
#include <memory>
#include <optional>
#include <vector>

namespace velmora {

// Why the link went down, as a code; the words for the user are composed by linkDownText().
enum class LinkFault {
    PeerClosed,       // the other side said goodbye
    OtherVersion,     // the other side runs another version of the link
    PeerRestarted,    // the other side started the link again under a new nonce
    Silence,          // no byte at all for limitMs
    Garbage,          // bytes, but no good frame, for limitMs
    MessageTooLarge,  // the other side sent a message over the limit
    BadCompression,   // a compressed message did not decode, or decoded past the limit
};

struct LinkDownCause {
    LinkFault fault = LinkFault::Silence;
    std::uint8_t peerVersion = 0;  // OtherVersion
    std::uint8_t ownVersion = 0;   // OtherVersion
    std::int64_t limitMs = 0;      // Silence, Garbage
};

// Before the link is up: what has been heard from the other side so far.
enum class LinkHeard {
    Nothing,
    OwnEcho,  // only this side's own hellos came back
    Bytes,    // bytes, but no frame
    Frames,   // frames of a link that did not come up
};

// The two queues of the link. Interactive messages (chat lines, keystrokes) go ahead of the
// ordered ones between any two frames, so a file block is interleaved with them, not waited for;
// each lane keeps its own order. Both sides must offer lanes in the hello, else everything goes
// in the ordered lane.
enum class Lane : std::uint8_t { Ordered, Interactive };

// Something the link has to tell its owner.
struct LinkEvent {
    enum class Kind { Up, Message, Down };
    Kind kind = Kind::Up;
    QByteArray message;                // Kind::Message
    LineDown reason = LineDown::Lost;  // Kind::Down
    LinkDownCause cause;               // Kind::Down
};

// The reliable message link over a raw serial byte stream. It does no I/O and reads no clock:
// the owner feeds it the bytes read from the port with the current time, writes what
// takeOutput() returns, and calls onTimer() when nextDeadlineMs() has come. Times are steady
// milliseconds.
//
// First a hello exchange with a magic, a version and the features each side takes; then whole
// messages, exactly once and in order within their lane (interactive ones overtake the others),
// compressed when both sides take it, cut into frames of a sliding window with selective
// acknowledgement; the output is paced
// at the line rate, so the frames sit here and not in buffers further down, and the link
// decides at the last moment what goes next (acknowledgements and repeats first). A keep-alive
// goes out when the link has been quiet for a while; the line is lost when nothing arrives. A
// goodbye on close().
class LinkEngine {
public:
    static constexpr std::uint8_t kVersion = 1;
    // The largest message the layers above send: a file block of the largest block size (1 MiB
    // of data and its 11-byte header) inside the session's 12-byte data header.
    static constexpr qsizetype kMaxMessageBytes = 12 + 11 + 1048576;
    static constexpr int kMinPayloadBytes = 64;
    static constexpr int kMaxPayloadBytes = 4096;
    // Frames in flight at most; a power of two far below half the sequence space.
    static constexpr int kWindowFrames = 128;
    // A hello of another version is answered at most once in this long, and a host's engine
    // that starts again after one sends its own first hello a hello interval later: a peer
    // that hails without end gets a few answers a second, not one for each of ours.
    static constexpr std::int64_t kRefusalGapMs = 250;

    // The rate taken for a port that has none of its own: far above any line and any processor.
    static constexpr int kUnratedPortBaud = 1'000'000'000;

    struct Config {
        int baud = 115200;
        // Whether the port has a rate of its own (baud). A pseudo-terminal has none: its setting
        // does nothing and it carries what the other end reads. The link then takes the port as
        // kUnratedPortBaud and learns the line's rate from what is acknowledged, starting with a
        // small flight. Nothing: as the port driver finds (the engine takes it as true).
        std::optional<bool> portHasRate;
        // The line uses XON/XOFF: 0x11 and 0x13 are never sent raw, and raw ones are ignored.
        bool escapeXonXoff = false;
        // Random and non-zero: tells this side from its own echo and from an earlier peer.
        std::uint32_t nonce = 1;
        // Largest payload of a frame; 0: chosen for the line rate.
        int maxPayloadBytes = 0;
        // No byte at all for this long: the line is lost.
        std::int64_t silenceLimitMs = 4000;
        // Nothing sent for this long: a keep-alive goes out.
        std::int64_t keepAliveMs = 1000;
        // Hellos are repeated this often until the other side answers.
        std::int64_t helloIntervalMs = 1000;
        std::uint8_t version = kVersion;
        // Offer the interactive lane in the hello (false: behave as a peer that has none).
        bool offerLanes = true;
        // Offer compressed messages in the hello (false: behave as a peer that has none).
        bool offerCompression = true;
    };

    LinkEngine(const Config& config, std::int64_t nowMs);
    // As a new engine, but keeping the memory of its compression streams for the next peer,
    // and of the last hello of another version.
    void restart(const Config& config, std::int64_t nowMs);

    // Bytes read from the line.
    void feed(QByteArrayView bytes, std::int64_t nowMs);
    // Bytes of a frame begun on the line and not yet ended: a driver may read the rest of a
    // long frame in larger pieces.
    qsizetype partialFrameBytes() const { return m_codec.partialFrameBytes(); }
    // The processor time the last send() took (compressing it): a level that leaves the sender
    // no time to spare is lowered for the messages that follow.
    void sendTook(std::int64_t micros);
    // Whether a message of this size may be queued in this lane now: while the lane, with it,
    // holds no more than queueLimitBytes() not yet acknowledged, or no more than refillBytes()
    // without it. A message of any allowed size goes on an empty lane.
    bool canAccept(qsizetype size, Lane lane = Lane::Ordered) const;
    // Queues a whole message whatever the bound; false when the link is not up (or closing) or
    // the message is larger than kMaxMessageBytes.
    bool send(const QByteArray& message, Lane lane = Lane::Ordered);
    // Bytes to write now: whole frames, as many as the line rate allows since the last call.
    QByteArray takeOutput(std::int64_t nowMs);
    std::vector<LinkEvent> takeEvents();
    // The next time onTimer() (and then takeOutput()) must be called; none when nothing waits.
    std::optional<std::int64_t> nextDeadlineMs() const;
    void onTimer(std::int64_t nowMs);
    // Graceful end: what is queued is delivered, then a goodbye goes out. Before the link is up
    // it just ends. No event is raised for an end that this side asked for.
    void close(std::int64_t nowMs);

    bool isUp() const { return m_state == State::Up || m_state == State::Closing; }
    // Closed by this side (goodbye answered or given up) or down for any reason.
    bool isFinished() const { return m_state == State::Closed || m_state == State::Down; }
    // Payload bytes accepted by send() and not yet acknowledged, in both lanes.
    qsizetype queuedBytes() const;
    // Whether both sides took the interactive lane in the hello.
    bool lanesAgreed() const { return m_lanesAgreed; }
    // Whether both sides took compressed messages in the hello.
    bool compressionAgreed() const { return m_compressors != nullptr; }
    // Messages sent compressed and plain, and their bytes before and after, since the start.
    struct CompressionCounts {
        std::uint64_t compressed = 0;
        std::uint64_t plain = 0;
        std::uint64_t bytesIn = 0;
        std::uint64_t bytesOut = 0;
    };
    CompressionCounts compressionCounts() const { return m_compressionCounts; }
    // The payload size of new frames at present.
    int payloadBytes() const { return m_payloadBytes; }
    // The payload size frames grow to on a clean line.
    int basePayloadBytes() const { return m_basePayloadBytes; }
    // The payload size of ordered frames while interactive traffic is recent.
    int latencyPayloadBytes() const { return m_latencyPayloadBytes; }
    // What the line carries, in bytes per second: the port's rate until acknowledgements show
    // that the line is slower (a modem, a terminal server, a slow cable behind a fast adapter).
    std::int64_t lineBytesPerSecond() const;
    std::uint64_t retransmissions() const { return m_retransmissions; }
    // Before the link is up: what has been heard from the other side so far.
    LinkHeard heard() const;

private:
    // What a lane may hold, queued or in flight: about a second of line (see the definition).
    qsizetype queueLimitBytes() const;
    // What a lane holds while the line is still busy when the next message comes: a frame and
    // 30 ms of line.
    qsizetype refillBytes() const;

    enum class State { Hello, Up, Closing, Closed, Down };
    struct Outgoing {
        std::uint16_t seq = 0;
        Lane lane = Lane::Ordered;
        QByteArray payload;
        // A zero-fill frame: the message ends in this many zero bytes, sent as their count.
        qsizetype zeros = 0;
        bool last = false;
        bool compressed = false;  // the last frame of a compressed message
        bool acked = false;
        bool due = true;  // new, or found lost: to be sent
        int sends = 0;
        std::int64_t sentAtMs = 0;
        std::uint64_t order = 0;  // transmission counter at the latest send
        // At the latest send: the bytes acknowledged so far and since when they count; whether
        // the queues had run empty (what is measured then is the sender, not the line).
        std::int64_t ackedBytesAtSend = 0;
        std::int64_t ackedFromMsAtSend = 0;
        bool sentShort = false;
    };
    struct Incoming {
        Lane lane = Lane::Ordered;
        QByteArray payload;
        bool last = false;
        bool compressed = false;
        qsizetype zeros = 0;  // zero bytes that follow the payload
    };

    void handleFrame(const QByteArray& body, std::int64_t nowMs);
    void handleHello(const QByteArray& body, std::int64_t nowMs);
    void handleData(const QByteArray& body);
    void handleAck(const QByteArray& body, std::int64_t nowMs);
    void handleBye(const QByteArray& body);
    void handleByeAck(const QByteArray& body);
    void goUp();
    void goDown(LineDown reason, const LinkDownCause& cause);
    void checkSilence(std::int64_t nowMs);
    void deliverInOrder();
    void completeMessage(Lane lane, bool compressed);
    void markLostBefore(std::uint64_t order);
    void countTransmission(bool lost);
    // Messages not yet cut into frames, and the bytes of a lane not yet acknowledged.
    struct Queued {
        QByteArray bytes;
        bool compressed = false;
    };
    struct SendQueue {
        std::deque<Queued> messages;
        qsizetype offset = 0;     // into the front message
        qsizetype zerosFrom = 0;  // where the zero bytes that end the front message begin
        qsizetype queuedBytes = 0;
    };
    Outgoing* nextDataFrame(std::int64_t nowMs);
    Outgoing cutFrame(SendQueue& queue, Lane lane, int payloadBytes);
    Lane agreedLane(Lane lane) const { return m_lanesAgreed ? lane : Lane::Ordered; }
    SendQueue& queueOf(Lane lane) { return m_queues[static_cast<std::size_t>(lane)]; }
    const SendQueue& queueOf(Lane lane) const { return m_queues[static_cast<std::size_t>(lane)]; }
    bool anythingPending() const;
    int orderedPayloadBytes(std::int64_t nowMs) const;
    bool outputWaiting(std::int64_t nowMs) const;
    bool appendOneFrame(std::int64_t nowMs, QByteArray& out);
    void appendFrame(QByteArrayView body, bool escapeAlways, QByteArray& out);
    void appendHello(QByteArray& out);
    void appendAck(QByteArray& out);
    void appendData(Outgoing& frame, std::int64_t nowMs, QByteArray& out);
    void setDue(Outgoing& frame, bool due);
    void appendControl(std::uint8_t type, std::uint32_t nonce, QByteArray& out);
    void refillCredit(std::int64_t nowMs);
    std::int64_t wireTimeMs(qsizetype bytes) const;
    void measureLine(const Outgoing& frame, std::int64_t nowMs);
    void sizeFramesForLine();
    bool lineSlowerThanPort() const;
    bool portHasRate() const { return m_config.portHasRate.value_or(true); }
    bool inFlightFull() const;
    // What the line carries, as the bound of the queues takes it.
    std::int64_t queueLineBytesPerSecond() const;
    std::int64_t rtoMs() const;
    std::optional<std::int64_t> retransmitDeadline() const;
    std::int64_t garbageLimitMs() const;
    bool escapeOut() const { return m_config.escapeXonXoff || m_peerWantsEscape; }

    Config m_config;
    FrameCodec m_codec;
    State m_state = State::Hello;
    std::vector<LinkEvent> m_events;
    int m_basePayloadBytes;
    int m_payloadBytes;
    // The payload size of ordered frames while interactive traffic is recent.
    int m_latencyPayloadBytes;

    // The hello exchange.
    std::uint32_t m_peerNonce = 0;
    bool m_peerWantsEscape = false;
    bool m_peerTakesZeroFill = false;
    bool m_lanesAgreed = false;

    // Compression, by lane, once both sides took it.
    struct Compressors {
        std::array<MessageCompressor, 2> out;
        std::array<MessageDecompressor, 2> in;
    };
    std::unique_ptr<Compressors> m_compressors;
    std::unique_ptr<Compressors> m_spareCompressors;  // kept by restart()
    CompressionLevelChoice m_levelChoice;
    // The last message of the ordered lane, when it went compressed: its bytes and level.
    std::optional<std::pair<qsizetype, int>> m_lastCompressed;
    CompressionCounts m_compressionCounts;
    bool m_helloReplyDue = false;
    std::int64_t m_nextHelloMs;
    // When a hello of another version was last heard, and last answered.
    std::optional<std::int64_t> m_otherVersionHeardMs;
    std::optional<std::int64_t> m_otherVersionAnsweredMs;
    bool m_heardEcho = false;
    bool m_heardBytes = false;
    bool m_heardFrames = false;

    // Pacing: milli-bytes that may be written now; one frame may overdraw it.
    std::int64_t m_creditMilliBytes;
    std::int64_t m_creditAtMs;
    std::int64_t m_lastSentMs;

    // Sending.
    std::array<SendQueue, 2> m_queues;  // by lane
    std::deque<Outgoing> m_window;      // from the oldest frame not yet acknowledged
    int m_dueFrames = 0;                // frames of the window to be sent (new or lost)
    std::uint16_t m_nextSeq = 0;
    std::uint64_t m_order = 0;
    std::optional<std::int64_t> m_lastInteractiveMs;
    std::uint64_t m_retransmissions = 0;
    int m_statFrames = 0;
    int m_statLost = 0;
    std::optional<double> m_srttMs;
    std::optional<double> m_minRttMs;  // the shortest round trip seen
    double m_rttVarMs = 0;
    int m_backoff = 1;
    // When the retransmission timer last fired: the frames sent before it wait one more
    // timeout for the answer to the repeat.
    std::int64_t m_lastTimeoutMs = std::numeric_limits<std::int64_t>::min();

    // The goodbye.
    bool m_byeAckDue = false;
    int m_byeSends = 0;
    std::int64_t m_nextByeMs = 0;

    // What the line carries, measured from acknowledged frames: each acknowledgement of a frame
    // gives the bytes acknowledged since that frame was sent over the time they took, and the
    // largest of the last kRateWindowMs is the line's rate. The port may run faster than the line
    // behind it; the frames and the bytes in flight are then sized from the line, so that they
    // wait here and not in buffers in front of an interactive message.
    struct RateSample {
        std::int64_t atMs = 0;
        std::int64_t bytesPerSecond = 0;
    };
    std::deque<RateSample> m_rateSamples;  // decreasing rates, the largest first
    std::int64_t m_ackedWireBytes = 0;
    std::int64_t m_lastAckedMs = 0;
    qsizetype m_inFlightBytes = 0;  // of frames sent and neither acknowledged nor found lost
    bool m_queuesRanEmpty = false;

    // Receiving.
    std::uint16_t m_recvNext = 0;
    std::map<std::uint16_t, Incoming> m_outOfOrder;  // by sequence number
    std::array<QByteArray, 2> m_assembling;          // by lane
    bool m_ackDue = false;
    std::int64_t m_lastByteMs;
    std::int64_t m_lastFrameMs;
};

}  // namespace velmora
