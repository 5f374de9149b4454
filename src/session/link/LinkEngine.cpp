#include "session/link/LinkEngine.h"

#include "base/ByteLayout.h"

#include <algorithm>
#include <cmath>

namespace velmora {

namespace {

// Frame types: the first byte of a frame body. The hello begins with its magic instead.
constexpr std::uint8_t kData = 0x20;
constexpr std::uint8_t kDataLast = 0x21;  // the last frame of a message
// The last frame of a message that ends in zero bytes: their count instead of the bytes. A file
// block always has its full length, so the end of a file is mostly padding.
constexpr std::uint8_t kZeroFill = 0x22;
// The last frame of a compressed message (when both sides took compression).
constexpr std::uint8_t kDataLastCompressed = 0x23;
// Set in the type of a data frame of the interactive lane (when both sides took lanes).
constexpr std::uint8_t kInteractiveBit = 0x08;
constexpr std::uint8_t kAck = 0x30;
constexpr std::uint8_t kBye = 0x40;
constexpr std::uint8_t kByeAck = 0x41;
constexpr char kMagic[] = {'V', 'L', 'M', 'R'};
constexpr qsizetype kMagicBytes = sizeof(kMagic);
constexpr qsizetype kHelloBytes = kMagicBytes + 1 + 4 + 4 + 1;
constexpr qsizetype kDataHeaderBytes = 3;
constexpr qsizetype kZeroFillBytes = kDataHeaderBytes + 4;
// Zero bytes at the end of a message go as a zero-fill frame from this many on.
constexpr qsizetype kMinZeroFillBytes = 32;
constexpr std::uint8_t kHelloEscapeXonXoff = 0x01;  // "do not send me raw 0x11 and 0x13"
constexpr std::uint8_t kHelloUp = 0x02;             // "I have heard you and am up"
constexpr std::uint8_t kHelloZeroFill = 0x04;       // "I take zero-fill frames"
constexpr std::uint8_t kHelloLanes = 0x08;          // "I take the interactive lane"
constexpr std::uint8_t kHelloCompression = 0x10;    // "I take compressed messages"

constexpr int kByeAttempts = 4;
// Frame statistics are looked at after this many data frames.
constexpr int kStatFrames = 32;
constexpr double kShrinkLossRatio = 0.06;
// Frames start no larger than this and grow while the line loses few: frames already sent keep
// their size when sent again, so on a noisy fast line large first frames would hardly ever
// get through.
constexpr int kStartPayloadBytes = 512;
// On a port without a rate of its own nothing is known of the line at first: it may be slow, so
// the first flight (kFirstFlightFrames) stays under 600 bytes, well under a second at 9600 baud.
constexpr int kUnratedStartPayloadBytes = 128;
constexpr double kGrowLossRatio = 0.015;
// Ordered frames stay sized for latency this long after the last interactive message.
constexpr std::int64_t kInteractiveRecentMs = 10000;
// Frame bytes besides the payload: type, sequence number, CRC, flag.
constexpr int kFrameOverheadBytes = 3 + 4 + 1;
// The pacing lets this much line time be written ahead at once (and one frame more): little, so
// that what waits in buffers further down, in front of an interactive message, stays short.
constexpr std::int64_t kBurstMs = 30;
constexpr int kMaxBackoff = 64;
// The line's rate is the largest measured in this long.
constexpr std::int64_t kRateWindowMs = 2000;
// Before the first measurement, frames in flight at most.
constexpr int kFirstFlightFrames = 4;
// Below this share of the port's rate the line is taken to be slower than its port.
constexpr double kSlowLineShare = 0.75;
// The bytes in flight on a line slower than its port: one frame and at most this much line
// time, for the acknowledgement's way back and the time both ends take to answer.
constexpr std::int64_t kFlightMs = 150;
// On a line that carries its port's rate, the bytes in flight cover the shortest round trip seen
// and four times its variation, for the ends' wake-ups on a busy machine: at least this much and
// a frame's line time (the shortest round trip may be a short frame's, read at once, where a
// long one waits for the reader's pause), at most kFlightMs.
constexpr std::int64_t kFlightMarginMs = 25;
constexpr std::int64_t kMaxRtoMs = 20000;

// Line bytes of a frame: its body, CRC and flag (escapes aside).
qsizetype wireBytes(qsizetype payloadBytes, qsizetype zeros) {
    return zeros > 0 ? kZeroFillBytes + 5 : payloadBytes + kFrameOverheadBytes;
}

std::span<const char> spanOf(const QByteArray& bytes) {
    return {bytes.constData(), static_cast<std::size_t>(bytes.size())};
}

// Where the run of zero bytes that ends the message begins (its size when there is none).
qsizetype trailingZerosFrom(const QByteArray& message) {
    qsizetype from = message.size();
    while (from > 0 && message.at(from - 1) == '\0') {
        --from;
    }
    return from;
}

// Where the line is slower than its port, and whether that port has a rate of its own.
enum class Behind { OwnRate, FasterPort, UnratedPort };

int payloadForRate(int baud, Behind behind) {
    const bool behindFasterPort = behind != Behind::OwnRate;
    // About 90 ms of line time per frame: large enough that the header hardly counts, short
    // enough that an acknowledgement or a repeat never waits long behind one. On a slow line
    // up to half a second, so that header, CRC and flag stay under 3 %: only the frame in
    // progress stands in front of a chat line, since the pacing keeps the buffers empty. Behind
    // a port faster than the line, whose buffers also hold the next frame, about 35 ms of line
    // and the smallest sensible frame on slow lines: one frame in the buffers and one on its way
    // are what a chat line waits for. Behind a port without a rate of its own (a pseudo-
    // terminal, whose line is a cable, not a noisy telephone line) up to 0.2 s of a slow line
    // (192 bytes at 9600 baud), where headers would cost 6 % of 128-byte frames.
    const int bytes =
        static_cast<int>(static_cast<std::int64_t>(baud) * (behindFasterPort ? 35 : 90) / 10000) &
        ~63;
    const int least = behind == Behind::OwnRate      ? std::clamp(baud / 20 & ~63, 128, 448)
                      : behind == Behind::FasterPort ? 128
                                                     : std::clamp(baud / 48 & ~63, 128, 192);
    // Above 2 KiB a frame takes at most 5 ms of line: on a fast line the frames in flight are
    // what a chat line waits for, and at 2 KiB header, CRC and flag cost 0.4 %.
    const int most = std::clamp(baud / 2000 & ~63, 2048, LinkEngine::kMaxPayloadBytes);
    return std::clamp(bytes, least, most);
}

// About 100 ms of line time per frame, so that an interactive message never waits longer for
// the frame in progress; at the lowest rates the smallest sensible frame.
int latencyPayloadForRate(int baud) {
    const int bytes = (baud / 100 - kFrameOverheadBytes) & ~7;
    return std::clamp(bytes, 16, LinkEngine::kMaxPayloadBytes);
}

// The payload size frames grow to: the configured one, else the one for the line.
int basePayloadFor(const LinkEngine::Config& config, int baud, Behind behind) {
    return config.maxPayloadBytes > 0
               ? std::clamp(config.maxPayloadBytes, LinkEngine::kMinPayloadBytes,
                            LinkEngine::kMaxPayloadBytes)
               : payloadForRate(baud, behind);
}

// The settings as the engine uses them: a port without a rate of its own is taken as far faster
// than any line.
LinkEngine::Config effectiveConfig(LinkEngine::Config config) {
    config.baud =
        config.portHasRate.value_or(true) ? std::max(config.baud, 1) : LinkEngine::kUnratedPortBaud;
    return config;
}

Lane laneOfType(std::uint8_t type) {
    return (type & kInteractiveBit) != 0 ? Lane::Interactive : Lane::Ordered;
}

}  // namespace

LinkEngine::LinkEngine(const Config& config, std::int64_t nowMs)
    : m_config(effectiveConfig(config)),
      m_codec(config.escapeXonXoff, static_cast<int>(kDataHeaderBytes) + kMaxPayloadBytes),
      m_basePayloadBytes(basePayloadFor(m_config, m_config.baud, Behind::OwnRate)),
      m_payloadBytes(std::min(m_basePayloadBytes,
                              portHasRate() ? kStartPayloadBytes : kUnratedStartPayloadBytes)),
      m_latencyPayloadBytes(latencyPayloadForRate(m_config.baud)),
      m_nextHelloMs(nowMs),
      m_creditMilliBytes(static_cast<std::int64_t>(m_config.baud) * kBurstMs / 10),
      m_creditAtMs(nowMs),
      m_lastSentMs(nowMs),
      m_lastByteMs(nowMs),
      m_lastFrameMs(nowMs) {}

void LinkEngine::restart(const Config& config, std::int64_t nowMs) {
    std::unique_ptr<Compressors> spare =
        std::move(m_compressors ? m_compressors : m_spareCompressors);
    const std::optional<std::int64_t> heard = m_otherVersionHeardMs;
    const std::optional<std::int64_t> answered = m_otherVersionAnsweredMs;
    *this = LinkEngine(config, nowMs);
    m_otherVersionHeardMs = heard;
    m_otherVersionAnsweredMs = answered;
    if (heard) {
        m_nextHelloMs = std::max(nowMs, *heard + m_config.helloIntervalMs);
    }
    if (spare) {
        for (MessageCompressor& compressor : spare->out) {
            compressor.restart();
        }
        for (MessageDecompressor& decompressor : spare->in) {
            decompressor.restart();
        }
        m_spareCompressors = std::move(spare);
    }
}

void LinkEngine::feed(QByteArrayView bytes, std::int64_t nowMs) {
    if (bytes.isEmpty() || m_state == State::Closed) {
        return;
    }
    m_lastByteMs = nowMs;
    m_heardBytes = true;
    for (const QByteArray& body : m_codec.decode(bytes)) {
        m_lastFrameMs = nowMs;
        handleFrame(body, nowMs);
        if (m_state == State::Closed) {
            return;
        }
    }
}

void LinkEngine::handleFrame(const QByteArray& body, std::int64_t nowMs) {
    const std::uint8_t type = loadU8(spanOf(body), 0);
    if (type == static_cast<std::uint8_t>(kMagic[0])) {
        handleHello(body, nowMs);
        return;
    }
    if (type == kBye) {
        handleBye(body);
        return;
    }
    if (type == kByeAck) {
        handleByeAck(body);
        return;
    }
    const std::uint8_t dataType = m_lanesAgreed ? type & ~kInteractiveBit : type;
    const bool compressedLast = dataType == kDataLastCompressed && compressionAgreed();
    if (dataType != kData && dataType != kDataLast && dataType != kZeroFill && !compressedLast &&
        type != kAck) {
        return;
    }
    if (m_state == State::Hello && m_peerNonce != 0) {
        // Its hello reply was lost, but a peer that sends data has heard us.
        goUp();
    }
    if (!isUp()) {
        return;
    }
    if (type == kAck) {
        handleAck(body, nowMs);
        return;
    }
    handleData(body);
}

void LinkEngine::handleHello(const QByteArray& body, std::int64_t nowMs) {
    if (body.size() <= kMagicBytes || !body.startsWith(QByteArrayView(kMagic, kMagicBytes))) {
        return;
    }
    if (m_state == State::Down || m_state == State::Closed) {
        return;
    }
    ByteReader reader(body);
    reader.skip(kMagicBytes);
    const std::uint8_t version = reader.u8();
    if (version != m_config.version) {
        goDown(LineDown::Refused, {LinkFault::OtherVersion, version, m_config.version, 0});
        m_otherVersionHeardMs = nowMs;
        // So that the other side learns it as well; once, not at the rate it hails.
        if (!m_otherVersionAnsweredMs || nowMs - *m_otherVersionAnsweredMs >= kRefusalGapMs) {
            m_otherVersionAnsweredMs = nowMs;
            m_helloReplyDue = true;
        }
        return;
    }
    const std::uint32_t nonce = reader.u32();
    const std::uint32_t seen = reader.u32();
    const std::uint8_t flags = reader.u8();
    if (!reader.ok()) {
        return;
    }
    if (nonce == m_config.nonce) {
        m_heardEcho = true;
        return;
    }
    if (nonce == 0) {
        return;
    }
    m_heardFrames = true;
    const bool peerUp = (flags & kHelloUp) != 0;
    if (m_state == State::Hello) {
        m_peerNonce = nonce;
        m_peerWantsEscape = (flags & kHelloEscapeXonXoff) != 0;
        m_peerTakesZeroFill = (flags & kHelloZeroFill) != 0;
        m_lanesAgreed = m_config.offerLanes && (flags & kHelloLanes) != 0;
        if (m_config.offerCompression && (flags & kHelloCompression) != 0 && !m_compressors) {
            m_compressors = m_spareCompressors ? std::move(m_spareCompressors)
                                               : std::make_unique<Compressors>();
        }
        if (seen == m_config.nonce) {
            goUp();
        }
        if (!peerUp || seen != m_config.nonce) {
            m_helloReplyDue = true;
        }
        return;
    }
    if (nonce != m_peerNonce) {
        goDown(LineDown::Lost, {LinkFault::PeerRestarted});
        return;
    }
    if (!peerUp) {
        m_helloReplyDue = true;
    }
}

void LinkEngine::handleData(const QByteArray& body) {
    const std::uint8_t type = loadU8(spanOf(body), 0);
    const Lane lane = laneOfType(type);
    const std::uint8_t dataType = type & ~kInteractiveBit;
    const bool zeroFill = dataType == kZeroFill;
    if (body.size() < (zeroFill ? kZeroFillBytes : kDataHeaderBytes)) {
        return;
    }
    m_ackDue = true;
    const std::uint16_t seq = loadU16(spanOf(body), 1);
    const auto distance = static_cast<std::uint16_t>(seq - m_recvNext);
    if (distance >= kWindowFrames) {
        return;  // a repeat of a frame already delivered
    }
    m_outOfOrder.try_emplace(
        seq, zeroFill ? Incoming{lane, {}, true, false, loadU32(spanOf(body), kDataHeaderBytes)}
                      : Incoming{lane, body.mid(kDataHeaderBytes),
                                 dataType == kDataLast || dataType == kDataLastCompressed,
                                 dataType == kDataLastCompressed, 0});
    deliverInOrder();
}

void LinkEngine::deliverInOrder() {
    for (auto it = m_outOfOrder.find(m_recvNext); it != m_outOfOrder.end();
         it = m_outOfOrder.find(m_recvNext)) {
        const Incoming& piece = it->second;
        QByteArray& assembling = m_assembling[static_cast<std::size_t>(piece.lane)];
        if (assembling.size() + piece.payload.size() + piece.zeros > kMaxMessageBytes) {
            goDown(LineDown::Lost, {LinkFault::MessageTooLarge});
            return;
        }
        assembling.append(piece.payload);
        assembling.append(piece.zeros, '\0');
        const bool last = piece.last;
        const bool compressed = piece.compressed;
        const Lane lane = piece.lane;
        m_outOfOrder.erase(it);
        ++m_recvNext;
        if (last) {
            completeMessage(lane, compressed);
            if (m_state == State::Down) {
                return;
            }
        }
    }
}

void LinkEngine::completeMessage(Lane lane, bool compressed) {
    QByteArray& assembling = m_assembling[static_cast<std::size_t>(lane)];
    QByteArray message = std::move(assembling);
    assembling = QByteArray();
    if (m_compressors) {
        MessageDecompressor& decompressor = m_compressors->in[static_cast<std::size_t>(lane)];
        if (!compressed) {
            decompressor.restart();  // the other side started its history over
        } else if (auto plain = decompressor.decompress(message, kMaxMessageBytes)) {
            message = std::move(*plain);
        } else {
            goDown(LineDown::Lost, {LinkFault::BadCompression});
            return;
        }
    }
    m_events.push_back({LinkEvent::Kind::Message, std::move(message), {}, {}});
}

void LinkEngine::handleAck(const QByteArray& body, std::int64_t nowMs) {
    if (body.size() < 3 || m_window.empty()) {
        return;
    }
    const std::uint16_t cumulative = loadU16(spanOf(body), 1);
    const std::uint16_t base = m_window.front().seq;
    const auto advance = static_cast<std::uint16_t>(cumulative - base);
    if (advance > m_window.size()) {
        return;  // stale or not meant for this window
    }
    bool progress = false;
    std::uint64_t highestOrder = 0;
    const auto acknowledge = [&](Outgoing& frame) {
        if (frame.acked || frame.sends == 0) {
            return;
        }
        const bool sentOnce = frame.sends == 1 && !frame.due;
        if (!frame.due) {
            m_inFlightBytes -= wireBytes(frame.payload.size(), frame.zeros);
        }
        frame.acked = true;
        setDue(frame, false);
        progress = true;
        queueOf(frame.lane).queuedBytes -= frame.payload.size() + frame.zeros;
        m_ackedWireBytes += wireBytes(frame.payload.size(), frame.zeros);
        m_lastAckedMs = nowMs;
        highestOrder = std::max(highestOrder, frame.order);
        measureLine(frame, nowMs);
        if (sentOnce) {
            const auto sample = static_cast<double>(nowMs - frame.sentAtMs);
            m_minRttMs = std::min(m_minRttMs.value_or(sample), sample);
            if (!m_srttMs) {
                m_srttMs = sample;
                m_rttVarMs = sample / 2;
            } else {
                m_rttVarMs = 0.75 * m_rttVarMs + 0.25 * std::abs(*m_srttMs - sample);
                m_srttMs = 0.875 * *m_srttMs + 0.125 * sample;
            }
        }
    };
    for (std::uint16_t i = 0; i < advance; ++i) {
        acknowledge(m_window[i]);
    }
    for (qsizetype bit = 0; bit < (body.size() - 3) * 8; ++bit) {
        if ((static_cast<std::uint8_t>(body.at(3 + bit / 8)) >> (bit % 8)) & 1U) {
            const auto seq = static_cast<std::uint16_t>(cumulative + 1 + bit);
            const auto index = static_cast<std::uint16_t>(seq - base);
            if (index < m_window.size()) {
                acknowledge(m_window[index]);
            }
        }
    }
    while (!m_window.empty() && m_window.front().acked) {
        m_window.pop_front();
    }
    if (progress) {
        m_backoff = 1;
    }
    if (highestOrder > 0) {
        markLostBefore(highestOrder);
    }
}

void LinkEngine::measureLine(const Outgoing& frame, std::int64_t nowMs) {
    const std::int64_t elapsedMs = nowMs - frame.ackedFromMsAtSend;
    // After the repeat timer fired, the time includes a silence of the line: it says nothing of
    // the rate.
    if (elapsedMs <= 0 || m_backoff > 1) {
        return;
    }
    const std::int64_t rate = (m_ackedWireBytes - frame.ackedBytesAtSend) * 1000 / elapsedMs;
    while (!m_rateSamples.empty() && m_rateSamples.front().atMs <= nowMs - kRateWindowMs) {
        m_rateSamples.pop_front();
    }
    // A frame sent while the queues had run empty shows what was sent, not what the line
    // carries; it counts only where it shows more.
    if (frame.sentShort && !m_rateSamples.empty() && rate <= m_rateSamples.front().bytesPerSecond) {
        return;
    }
    while (!m_rateSamples.empty() && m_rateSamples.back().bytesPerSecond <= rate) {
        m_rateSamples.pop_back();
    }
    m_rateSamples.push_back({nowMs, rate});
    sizeFramesForLine();
}

std::int64_t LinkEngine::lineBytesPerSecond() const {
    const std::int64_t port = std::max(m_config.baud / 10, 1);
    return lineSlowerThanPort() ? std::max<std::int64_t>(m_rateSamples.front().bytesPerSecond, 1)
                                : port;
}

bool LinkEngine::lineSlowerThanPort() const {
    return !m_rateSamples.empty() && static_cast<double>(m_rateSamples.front().bytesPerSecond) <
                                         kSlowLineShare * (m_config.baud / 10);
}

void LinkEngine::sizeFramesForLine() {
    const int lineBaud =
        static_cast<int>(std::min<std::int64_t>(lineBytesPerSecond() * 10, m_config.baud));
    m_basePayloadBytes = basePayloadFor(m_config, lineBaud,
                                        !lineSlowerThanPort() ? Behind::OwnRate
                                        : portHasRate()       ? Behind::FasterPort
                                                              : Behind::UnratedPort);
    m_payloadBytes = std::min(m_payloadBytes, m_basePayloadBytes);
    m_latencyPayloadBytes = latencyPayloadForRate(lineBaud);
}

bool LinkEngine::inFlightFull() const {
    const qsizetype frameBytes = m_payloadBytes + kFrameOverheadBytes;
    if (m_rateSamples.empty() && !m_srttMs) {
        // Nothing measured yet: a few frames, so that a line far slower than its port does not
        // start with seconds of bytes in buffers.
        return m_inFlightBytes >= kFirstFlightFrames * frameBytes;
    }
    if (!lineSlowerThanPort()) {
        // The pacing by the port's rate keeps the port's buffers short, but a line that now and
        // then carries less (a receiver late to read, a busy machine) lets bytes gather behind
        // it: no more than the shortest round trip seen needs, a margin for its variation and
        // two frames.
        if (!m_minRttMs) {
            return false;
        }
        const auto least = static_cast<double>(std::max(kFlightMarginMs, wireTimeMs(frameBytes)));
        const auto flightMs = static_cast<std::int64_t>(
            *m_minRttMs + std::clamp(4 * m_rttVarMs, least, std::max(least, double{kFlightMs})));
        return m_inFlightBytes >= lineBytesPerSecond() * flightMs / 1000 + 2 * frameBytes;
    }
    // A line slower than its port: the port's buffers (or a pseudo-terminal's, which has no rate
    // of its own) hold what the line has not carried yet, in front of a chat line. So new frames
    // go only while the bytes in flight are below one frame and what the line carries in the
    // shortest round trip seen and a margin, at most kFlightMs: enough for the acknowledgement's
    // way back and both ends' wake-ups, so that the line never waits.
    const std::int64_t flightMs =
        m_minRttMs ? std::min(kFlightMs, static_cast<std::int64_t>(*m_minRttMs) + kFlightMarginMs)
                   : kFlightMs;
    return m_inFlightBytes >= lineBytesPerSecond() * flightMs / 1000 + frameBytes;
}

void LinkEngine::markLostBefore(std::uint64_t order) {
    // The line keeps the order of bytes: a frame sent before one that arrived, and not
    // acknowledged with it, is lost.
    for (Outgoing& frame : m_window) {
        if (!frame.acked && !frame.due && frame.sends > 0 && frame.order < order) {
            setDue(frame, true);
            countTransmission(true);
        }
    }
}

void LinkEngine::countTransmission(bool lost) {
    if (lost) {
        ++m_statLost;
        return;
    }
    if (++m_statFrames < kStatFrames) {
        return;
    }
    const double ratio = static_cast<double>(m_statLost) / m_statFrames;
    if (ratio > kShrinkLossRatio) {
        m_payloadBytes = std::max(kMinPayloadBytes, m_payloadBytes * 2 / 3);
    } else if (ratio < kGrowLossRatio) {
        m_payloadBytes = std::min(m_basePayloadBytes, m_payloadBytes + m_payloadBytes / 4);
    }
    m_statFrames = 0;
    m_statLost = 0;
}

void LinkEngine::handleBye(const QByteArray& body) {
    if (body.size() < 5 || m_peerNonce == 0 || loadU32(spanOf(body), 1) != m_peerNonce) {
        return;
    }
    if (m_state == State::Hello) {
        return;
    }
    m_byeAckDue = true;
    if (m_state == State::Up) {
        goDown(LineDown::PeerClosed, {LinkFault::PeerClosed});
    } else if (m_state == State::Closing) {
        m_state = State::Closed;
    }
}

void LinkEngine::handleByeAck(const QByteArray& body) {
    if (m_state == State::Closing && body.size() >= 5 && loadU32(spanOf(body), 1) == m_peerNonce) {
        m_state = State::Closed;
    }
}

void LinkEngine::goUp() {
    m_state = State::Up;
    m_events.push_back({LinkEvent::Kind::Up, {}, {}, {}});
}

void LinkEngine::goDown(LineDown reason, const LinkDownCause& cause) {
    m_state = State::Down;
    m_queues = {};
    m_window.clear();
    m_dueFrames = 0;
    m_inFlightBytes = 0;
    m_ackDue = false;
    m_events.push_back({LinkEvent::Kind::Down, {}, reason, cause});
}

bool LinkEngine::canAccept(qsizetype size, Lane lane) const {
    // A message larger than the limit goes once only what keeps the line busy is left.
    const qsizetype queued = queueOf(agreedLane(lane)).queuedBytes;
    return queued + size <= queueLimitBytes() || queued <= refillBytes();
}

bool LinkEngine::send(const QByteArray& message, Lane lane) {
    if (m_state != State::Up || message.size() > kMaxMessageBytes) {
        return false;
    }
    const Lane agreed = agreedLane(lane);
    SendQueue& queue = queueOf(agreed);
    Queued queued{message, false};
    if (m_compressors) {
        MessageCompressor& compressor = m_compressors->out[static_cast<std::size_t>(agreed)];
        // File data is worth the level the line affords; chat lines and keystrokes are short,
        // gain from the history more than from the level, and stay quick.
        if (agreed == Lane::Ordered) {
            compressor.setLevel(m_levelChoice.level(lineBytesPerSecond()));
        }
        m_lastCompressed.reset();
        m_compressionCounts.bytesIn += static_cast<std::uint64_t>(message.size());
        if (auto compressed = compressor.compress(message)) {
            if (agreed == Lane::Ordered) {
                m_lastCompressed = {compressed->size(), compressor.lastLevel()};
            }
            queued = {std::move(*compressed), true};
            ++m_compressionCounts.compressed;
        } else {
            ++m_compressionCounts.plain;
        }
        m_compressionCounts.bytesOut += static_cast<std::uint64_t>(queued.bytes.size());
    }
    queue.queuedBytes += queued.bytes.size();
    queue.messages.push_back(std::move(queued));
    return true;
}

void LinkEngine::sendTook(std::int64_t micros) {
    if (m_lastCompressed) {
        m_levelChoice.compressed(m_lastCompressed->second, m_lastCompressed->first, micros,
                                 lineBytesPerSecond());
        m_lastCompressed.reset();
    }
}

std::int64_t LinkEngine::queueLineBytesPerSecond() const {
    // Of a line not yet measured behind a port without a rate of its own nothing is known: it
    // may be slow, so a lane takes a message at a time until it is.
    return portHasRate() || !m_rateSamples.empty() ? lineBytesPerSecond() : 0;
}

qsizetype LinkEngine::refillBytes() const {
    return m_basePayloadBytes + queueLineBytesPerSecond() * kBurstMs / 1000;
}

qsizetype LinkEngine::queueLimitBytes() const {
    // A second of line, so that what follows blocks in the lane (a pause, an abort, the next
    // offer) waits about that long on a slow line; never more than a cable connection's file
    // block (32 KiB and its header) beyond what keeps the line busy.
    return std::clamp<qsizetype>(queueLineBytesPerSecond(), refillBytes(),
                                 refillBytes() + 32768 + 11);
}

qsizetype LinkEngine::queuedBytes() const {
    return m_queues[0].queuedBytes + m_queues[1].queuedBytes;
}

bool LinkEngine::anythingPending() const {
    return !m_queues[0].messages.empty() || !m_queues[1].messages.empty();
}

std::vector<LinkEvent> LinkEngine::takeEvents() {
    std::vector<LinkEvent> events;
    events.swap(m_events);
    return events;
}

void LinkEngine::close(std::int64_t nowMs) {
    if (m_state == State::Hello) {
        m_state = State::Closed;
    } else if (m_state == State::Up) {
        m_state = State::Closing;
        m_nextByeMs = nowMs;
    }
}

void LinkEngine::refillCredit(std::int64_t nowMs) {
    if (nowMs <= m_creditAtMs) {
        return;
    }
    const std::int64_t cap = static_cast<std::int64_t>(m_config.baud) * kBurstMs / 10;
    m_creditMilliBytes =
        std::min(cap, m_creditMilliBytes + (nowMs - m_creditAtMs) * (m_config.baud / 10));
    m_creditAtMs = nowMs;
}

std::int64_t LinkEngine::wireTimeMs(qsizetype bytes) const {
    const std::int64_t rate = lineBytesPerSecond();
    return (static_cast<std::int64_t>(bytes) * 1000 + rate - 1) / rate;
}

QByteArray LinkEngine::takeOutput(std::int64_t nowMs) {
    refillCredit(nowMs);
    QByteArray out;
    while (m_creditMilliBytes > 0) {
        const qsizetype before = out.size();
        if (!appendOneFrame(nowMs, out)) {
            break;
        }
        m_creditMilliBytes -= (out.size() - before) * 1000;
        m_lastSentMs = nowMs;
    }
    return out;
}

bool LinkEngine::appendOneFrame(std::int64_t nowMs, QByteArray& out) {
    if (m_helloReplyDue || (m_state == State::Hello && nowMs >= m_nextHelloMs)) {
        m_helloReplyDue = false;
        if (m_state == State::Hello) {
            m_nextHelloMs = nowMs + m_config.helloIntervalMs;
        }
        appendHello(out);
        return true;
    }
    if (m_byeAckDue) {
        m_byeAckDue = false;
        appendControl(kByeAck, m_config.nonce, out);
        return true;
    }
    if (!isUp()) {
        return false;
    }
    if (m_ackDue) {
        m_ackDue = false;
        appendAck(out);
        return true;
    }
    if (Outgoing* frame = nextDataFrame(nowMs)) {
        appendData(*frame, nowMs, out);
        return true;
    }
    if (m_state == State::Closing && m_window.empty() && !anythingPending() &&
        m_byeSends < kByeAttempts && nowMs >= m_nextByeMs) {
        ++m_byeSends;
        m_nextByeMs = nowMs + rtoMs();
        appendControl(kBye, m_config.nonce, out);
        return true;
    }
    if (nowMs - m_lastSentMs >= m_config.keepAliveMs) {
        appendAck(out);  // the keep-alive
        return true;
    }
    return false;
}

LinkEngine::Outgoing* LinkEngine::nextDataFrame(std::int64_t nowMs) {
    for (Outgoing& frame : m_window) {
        if (frame.due && !frame.acked) {
            return &frame;  // a repeat takes the place of a frame lost, whatever is in flight
        }
    }
    if (m_window.size() >= static_cast<std::size_t>(kWindowFrames) || inFlightFull()) {
        return nullptr;
    }
    if (SendQueue& interactive = queueOf(Lane::Interactive); !interactive.messages.empty()) {
        m_lastInteractiveMs = nowMs;
        m_window.push_back(cutFrame(interactive, Lane::Interactive, m_payloadBytes));
    } else if (SendQueue& ordered = queueOf(Lane::Ordered); !ordered.messages.empty()) {
        m_window.push_back(cutFrame(ordered, Lane::Ordered, orderedPayloadBytes(nowMs)));
    } else {
        m_queuesRanEmpty = true;
        return nullptr;
    }
    ++m_dueFrames;  // a new frame is due
    return &m_window.back();
}

int LinkEngine::orderedPayloadBytes(std::int64_t nowMs) const {
    if (m_lastInteractiveMs && nowMs - *m_lastInteractiveMs < kInteractiveRecentMs) {
        return std::min(m_payloadBytes, m_latencyPayloadBytes);
    }
    return m_payloadBytes;
}

LinkEngine::Outgoing LinkEngine::cutFrame(SendQueue& queue, Lane lane, int payloadBytes) {
    const Queued& queued = queue.messages.front();
    const QByteArray& message = queued.bytes;
    if (queue.offset == 0) {
        queue.zerosFrom = trailingZerosFrom(message);
    }
    const bool fillZeros = m_peerTakesZeroFill && !queued.compressed &&
                           message.size() - queue.zerosFrom >= kMinZeroFillBytes;
    Outgoing frame;
    frame.seq = m_nextSeq++;
    frame.lane = lane;
    if (fillZeros && queue.offset >= queue.zerosFrom) {
        frame.zeros = message.size() - queue.offset;
    } else {
        // Data frames stop where the zero fill begins.
        const qsizetype end = fillZeros ? queue.zerosFrom : message.size();
        frame.payload =
            message.mid(queue.offset, std::min<qsizetype>(payloadBytes, end - queue.offset));
    }
    queue.offset += frame.payload.size() + frame.zeros;
    frame.last = queue.offset == message.size();
    frame.compressed = frame.last && queued.compressed;
    if (frame.last) {
        queue.messages.pop_front();
        queue.offset = 0;
    }
    return frame;
}

void LinkEngine::appendFrame(QByteArrayView body, bool escapeAlways, QByteArray& out) {
    // A frame that does not follow another one directly opens with a flag as well: noise that
    // came while the line was quiet then ends at that flag instead of spoiling the frame.
    if (out.isEmpty()) {
        out.reserve(1 + FrameCodec::encodedSizeHint(body.size()));
        out.append(FrameCodec::kFlag);
    }
    FrameCodec::encode(body, escapeAlways || escapeOut(), out);
}

void LinkEngine::appendHello(QByteArray& out) {
    ByteWriter body(kHelloBytes);
    body.bytes(std::span<const char>(kMagic, kMagicBytes))
        .u8(m_config.version)
        .u32(m_config.nonce)
        .u32(m_peerNonce);
    std::uint8_t flags = kHelloZeroFill;
    if (m_config.escapeXonXoff) {
        flags |= kHelloEscapeXonXoff;
    }
    if (m_config.offerLanes) {
        flags |= kHelloLanes;
    }
    if (m_config.offerCompression) {
        flags |= kHelloCompression;
    }
    if (isUp()) {
        flags |= kHelloUp;
    }
    body.u8(flags);
    // Before the hello exchange nobody knows whether the other side uses XON/XOFF.
    appendFrame(body.take(), true, out);
}

void LinkEngine::appendAck(QByteArray& out) {
    ByteWriter body;
    body.u8(kAck).u16(m_recvNext);
    QByteArray bitmap;
    for (const auto& [seq, incoming] : m_outOfOrder) {
        const int bit = static_cast<std::uint16_t>(seq - m_recvNext) - 1;
        if (bitmap.size() <= bit / 8) {
            bitmap.resize(bit / 8 + 1, '\0');
        }
        bitmap[bit / 8] = static_cast<char>(bitmap.at(bit / 8) | (1 << (bit % 8)));
    }
    body.bytes(bitmap);
    appendFrame(body.take(), false, out);
}

void LinkEngine::appendData(Outgoing& frame, std::int64_t nowMs, QByteArray& out) {
    ByteWriter body(kZeroFillBytes + frame.payload.size());
    const std::uint8_t laneBit = frame.lane == Lane::Interactive ? kInteractiveBit : 0;
    if (frame.zeros > 0) {
        body.u8(kZeroFill | laneBit).u16(frame.seq).u32(static_cast<std::uint32_t>(frame.zeros));
    } else {
        const std::uint8_t type =
            frame.compressed ? kDataLastCompressed : (frame.last ? kDataLast : kData);
        body.u8(type | laneBit).u16(frame.seq).bytes(frame.payload);
    }
    appendFrame(body.take(), false, out);
    if (frame.sends > 0) {
        ++m_retransmissions;
    }
    if (m_inFlightBytes == 0) {
        m_lastAckedMs = nowMs;  // the line was idle: what is acknowledged counts from now
    }
    frame.ackedBytesAtSend = m_ackedWireBytes;
    frame.ackedFromMsAtSend = m_lastAckedMs;
    frame.sentShort = m_queuesRanEmpty;
    m_queuesRanEmpty = false;
    ++frame.sends;
    setDue(frame, false);
    frame.sentAtMs = nowMs;
    frame.order = ++m_order;
    countTransmission(false);
}

void LinkEngine::setDue(Outgoing& frame, bool due) {
    if (frame.due != due) {
        frame.due = due;
        m_dueFrames += due ? 1 : -1;
        // A frame sent goes in flight; one found lost leaves it.
        if (frame.sends > 0 && !frame.acked) {
            m_inFlightBytes += (due ? -1 : 1) * wireBytes(frame.payload.size(), frame.zeros);
        }
    }
}

void LinkEngine::appendControl(std::uint8_t type, std::uint32_t nonce, QByteArray& out) {
    ByteWriter body;
    body.u8(type).u32(nonce);
    appendFrame(body.take(), false, out);
}

std::int64_t LinkEngine::rtoMs() const {
    const std::int64_t frameMs = wireTimeMs(2 * (m_basePayloadBytes + 16));
    std::int64_t rto = 0;
    if (m_srttMs) {
        rto = static_cast<std::int64_t>(*m_srttMs + std::max(4 * m_rttVarMs, 20.0)) + frameMs;
    } else {
        rto = 1000 + 3 * frameMs;
    }
    rto = std::max(rto, 2 * frameMs + 50);
    return std::min(rto * m_backoff, std::max(kMaxRtoMs, 2 * frameMs));
}

std::optional<std::int64_t> LinkEngine::retransmitDeadline() const {
    std::optional<std::int64_t> oldest;
    for (const Outgoing& frame : m_window) {
        if (!frame.acked && !frame.due && frame.sends > 0) {
            oldest = std::min(oldest.value_or(frame.sentAtMs), frame.sentAtMs);
        }
    }
    if (!oldest) {
        return std::nullopt;
    }
    return std::max(*oldest, m_lastTimeoutMs) + rtoMs();
}

std::int64_t LinkEngine::garbageLimitMs() const {
    // Bytes keep coming but no good frame: noise on a dead line, or a line so bad that nothing
    // gets through. Long enough for a few of the largest frames at this rate.
    return std::max<std::int64_t>(
        20000, m_config.silenceLimitMs + 4 * wireTimeMs(2 * (m_basePayloadBytes + 16)));
}

void LinkEngine::checkSilence(std::int64_t nowMs) {
    if (!isUp()) {
        return;
    }
    if (nowMs - m_lastByteMs >= m_config.silenceLimitMs) {
        goDown(LineDown::Lost, {LinkFault::Silence, 0, 0, m_config.silenceLimitMs});
    } else if (nowMs - m_lastFrameMs >= garbageLimitMs()) {
        goDown(LineDown::Lost, {LinkFault::Garbage, 0, 0, garbageLimitMs()});
    }
}

void LinkEngine::onTimer(std::int64_t nowMs) {
    checkSilence(nowMs);
    if (!isUp()) {
        return;
    }
    if (const auto deadline = retransmitDeadline(); deadline && *deadline <= nowMs) {
        // No acknowledgement in time: send the oldest frame again; the answer to it tells
        // which of the others are missing.
        auto oldest = std::min_element(m_window.begin(), m_window.end(),
                                       [](const Outgoing& a, const Outgoing& b) {
                                           const bool aWaits = !a.acked && !a.due && a.sends > 0;
                                           const bool bWaits = !b.acked && !b.due && b.sends > 0;
                                           if (aWaits != bWaits) {
                                               return aWaits;
                                           }
                                           return a.sentAtMs < b.sentAtMs;
                                       });
        setDue(*oldest, true);
        countTransmission(true);
        m_backoff = std::min(m_backoff * 2, kMaxBackoff);
        m_lastTimeoutMs = nowMs;
    }
    if (m_state == State::Closing && m_byeSends >= kByeAttempts && nowMs >= m_nextByeMs) {
        m_state = State::Closed;  // the other side does not answer: give up
    }
}

bool LinkEngine::outputWaiting(std::int64_t nowMs) const {
    if (m_helloReplyDue || m_byeAckDue) {
        return true;
    }
    if (m_state == State::Hello) {
        return nowMs >= m_nextHelloMs;
    }
    if (!isUp()) {
        return false;
    }
    if (m_ackDue || nowMs - m_lastSentMs >= m_config.keepAliveMs) {
        return true;
    }
    if (m_dueFrames > 0) {
        return true;
    }
    if (anythingPending()) {
        // When the window or the bytes in flight are full, an acknowledgement makes room.
        return m_window.size() < static_cast<std::size_t>(kWindowFrames) && !inFlightFull();
    }
    return m_state == State::Closing && m_window.empty() && m_byeSends < kByeAttempts &&
           nowMs >= m_nextByeMs;
}

std::optional<std::int64_t> LinkEngine::nextDeadlineMs() const {
    std::optional<std::int64_t> next;
    const auto consider = [&next](std::int64_t at) { next = std::min(next.value_or(at), at); };
    // When the pacing allows the next frame.
    const std::int64_t creditMs =
        m_creditMilliBytes > 0 ? m_creditAtMs
                               : m_creditAtMs + (-m_creditMilliBytes + 1) * 10 / m_config.baud + 1;
    if (outputWaiting(m_creditAtMs)) {
        consider(creditMs);
    }
    if (m_state == State::Hello) {
        consider(std::max(m_nextHelloMs, creditMs));
    }
    if (isUp()) {
        consider(std::max(m_lastSentMs + m_config.keepAliveMs, creditMs));
        consider(m_lastByteMs + m_config.silenceLimitMs);
        consider(m_lastFrameMs + garbageLimitMs());
        if (const auto deadline = retransmitDeadline()) {
            consider(*deadline);
        }
        if (m_state == State::Closing && m_window.empty() && !anythingPending()) {
            consider(std::max(m_nextByeMs, creditMs));
        }
    }
    return next;
}

LinkHeard LinkEngine::heard() const {
    if (m_heardFrames) {
        return LinkHeard::Frames;
    }
    if (m_heardEcho) {
        return LinkHeard::OwnEcho;
    }
    return m_heardBytes ? LinkHeard::Bytes : LinkHeard::Nothing;
}

}  // namespace velmora
