// The serial link's receiving side. A third of the inputs go to the frame decoder alone:
// however the bytes are cut into reads, it finds the same frames, and every frame it finds
// encodes and decodes to itself. A third go to the message decompressor: what the compressor
// made comes back as it was, and hostile bytes never give more than the limit. The rest run a
// script against a link engine joined to a second, real one (both take compressed messages):
// the script interleaves sends, closes and the passing of time with bytes injected into the
// engine, frames forged for it, and noise on the line. The link must never deliver anything but
// what the other side sent, in order; the timer must never come due again at the moment it was
// served; and when the script left the line merely noisy (within its budget of engine
// services), a quiet line afterwards must deliver everything and stay up. Engines and compression
// streams are made once and restarted for each input.

#include "FuzzSupport.h"

#include "session/link/FrameCodec.h"
#include "session/link/LinkEngine.h"
#include "session/link/MessageCompression.h"

#include <array>
#include <deque>
#include <optional>
#include <vector>

using velmora::FrameCodec;
using velmora::LinkEngine;
using velmora::LinkEvent;
using velmora::MessageCompressor;
using velmora::MessageDecompressor;
using velmora::fuzz::check;
using velmora::fuzz::FuzzInput;

namespace {

constexpr int kBodyLimit = 3 + LinkEngine::kMaxPayloadBytes;
constexpr std::array<int, 7> kBauds{300, 2400, 9600, 57600, 115200, 921600, 4000000};
// The services of an engine an input's script may spend: a script that would take more (a fast
// line whose engines have shrunk their frames to a few bytes after forged input, say) stops
// there, and only the order of what arrived is checked.
constexpr long kServiceBudget = 300;

void fuzzDecoder(FuzzInput& input) {
    const bool dropXonXoff = input.flag();
    const int maxBody = input.flag() ? kBodyLimit : 1 + input.pick(64);
    const QByteArray bytes = input.rest();

    FrameCodec whole(dropXonXoff, maxBody);
    const std::vector<QByteArray> frames = whole.decode(bytes);

    // The same bytes in reads of changing sizes.
    FrameCodec pieces(dropXonXoff, maxBody);
    std::vector<QByteArray> pieceFrames;
    for (qsizetype at = 0, step = 1; at < bytes.size(); at += step, step = step % 7 + 1) {
        for (QByteArray& frame :
             pieces.decode(QByteArrayView(bytes).sliced(at, std::min(step, bytes.size() - at)))) {
            pieceFrames.push_back(std::move(frame));
        }
    }
    check(pieceFrames == frames, "the frames do not depend on how the bytes are read");
    check(pieces.badFrames() == whole.badFrames(), "nor do the frames thrown away");

    for (const QByteArray& frame : frames) {
        check(!frame.isEmpty() && frame.size() <= maxBody, "a frame has a body of allowed size");
        for (const bool escape : {false, true}) {
            QByteArray encoded;
            FrameCodec::encode(frame, escape, encoded);
            FrameCodec again(escape, maxBody);
            const auto decoded = again.decode(encoded);
            check(decoded.size() == 1 && decoded.front() == frame && again.badFrames() == 0,
                  "a frame encodes and decodes to itself");
            if (escape) {
                check(!encoded.contains(FrameCodec::kXon) && !encoded.contains(FrameCodec::kXoff),
                      "an escaped frame has no raw XON or XOFF");
            }
        }
    }
}

// A message that tells its side and number apart: a slice of one pattern made once, so that a
// message costs a copy and not a loop per byte.
QByteArray patternMessage(int side, int index, qsizetype size) {
    static const QByteArray pattern = [] {
        QByteArray bytes(LinkEngine::kMaxMessageBytes + 1 + 256, '\0');
        for (qsizetype i = 0; i < bytes.size(); ++i) {
            bytes[i] = static_cast<char>((i * 31) & 0xFF);
        }
        return bytes;
    }();
    return QByteArray::fromRawData(pattern.constData() + ((index * 7 + side * 101) & 0xFF), size);
}

// One direction of the line: bytes arrive one after the other at the line rate. A write is kept
// whole; byte k of it arrives (k + 1) byte times after the write began on the line.
class Wire {
public:
    explicit Wire(int baud) : m_byteUs(std::max<std::int64_t>(1, 10'000'000 / baud)) {}

    void write(const QByteArray& bytes, std::int64_t nowMs) {
        if (bytes.isEmpty()) {
            return;
        }
        const std::int64_t startUs = std::max(m_freeAtUs, nowMs * 1000);
        m_writes.push_back({startUs, bytes, 0});
        m_freeAtUs = startUs + bytes.size() * m_byteUs;
    }
    QByteArray read(std::int64_t nowMs) {
        QByteArray arrived;
        while (!m_writes.empty()) {
            Write& front = m_writes.front();
            const qsizetype due = std::clamp<qsizetype>((nowMs * 1000 - front.startUs) / m_byteUs,
                                                        0, front.bytes.size());
            if (due > front.taken) {
                arrived.append(QByteArrayView(front.bytes).sliced(front.taken, due - front.taken));
                front.taken = due;
            }
            if (front.taken < front.bytes.size()) {
                break;
            }
            m_writes.pop_front();
        }
        return arrived;
    }
    // When the port reports the next bytes: a few dozen at a time, or what 20 ms bring on a
    // fast line, as a port that batches its reads does.
    std::optional<std::int64_t> nextReadMs() const {
        qsizetype wanted = std::max<qsizetype>(64, 20'000 / m_byteUs);
        std::optional<std::int64_t> lastUs;
        for (const Write& write : m_writes) {
            const qsizetype left = write.bytes.size() - write.taken;
            const qsizetype k = write.taken + std::min(left, wanted) - 1;
            lastUs = write.startUs + (k + 1) * m_byteUs;
            wanted -= std::min(left, wanted);
            if (wanted == 0) {
                break;
            }
        }
        if (!lastUs) {
            return std::nullopt;
        }
        return (*lastUs + 999) / 1000;
    }

private:
    struct Write {
        std::int64_t startUs;
        QByteArray bytes;
        qsizetype taken;  // bytes already read
    };
    std::int64_t m_byteUs;
    std::int64_t m_freeAtUs = 0;
    std::deque<Write> m_writes;
};

// Compressed messages come back as they were; any bytes decode to at most the limit or fail.
void fuzzDecompressor(FuzzInput& input) {
    static MessageCompressor compressor;
    static MessageDecompressor decompressor;
    static MessageDecompressor hostile;
    compressor.restart();
    decompressor.restart();
    while (!input.atEnd()) {
        if (input.flag()) {
            const QByteArray message = input.chunk(4000);
            const auto compressed = compressor.compress(message);
            if (!compressed) {
                decompressor.restart();  // a plain message starts both histories over
                continue;
            }
            check(compressed->size() < message.size(), "a compressed message is smaller");
            const auto back = decompressor.decompress(*compressed, LinkEngine::kMaxMessageBytes);
            check(back.has_value() && *back == message, "a compressed message comes back whole");
        } else {
            const qsizetype limit = input.flag() ? LinkEngine::kMaxMessageBytes : input.u16();
            const auto decoded = hostile.decompress(input.chunk(2000), limit);
            check(!decoded || decoded->size() <= limit, "no message grows past the limit");
            if (!decoded) {
                hostile.restart();
            }
        }
    }
}

// The two engines of the script, made once.
std::array<LinkEngine, 2>& engines() {
    static std::array<LinkEngine, 2> pair{LinkEngine({}, 0), LinkEngine({}, 0)};
    return pair;
}

// One engine and what it has sent and received.
struct Side {
    LinkEngine* engine = nullptr;
    std::vector<QByteArray> sent;
    std::vector<QByteArray> received;
    bool wentDown = false;
    bool closed = false;
    int index = 0;
    std::size_t checked = 0;          // received messages already found in order
    std::optional<std::int64_t> due;  // the engine's deadline after the last service

    // What the port driver does when data comes or the timer fires: returns what it writes.
    QByteArray serve(const QByteArray& input, std::int64_t now) {
        if (!input.isEmpty()) {
            engine->feed(input, now);
        }
        if (const auto due = engine->nextDeadlineMs(); due && *due <= now) {
            engine->onTimer(now);
        }
        const QByteArray output = engine->takeOutput(now);
        for (LinkEvent& event : engine->takeEvents()) {
            if (event.kind == LinkEvent::Kind::Message) {
                check(event.message.size() <= LinkEngine::kMaxMessageBytes,
                      "no message is larger than the link allows");
                received.push_back(std::move(event.message));
            } else if (event.kind == LinkEvent::Kind::Down) {
                wentDown = true;
            }
        }
        check(engine->queuedBytes() >= 0, "the queued bytes never go below zero");
        due = engine->nextDeadlineMs();
        check(!due || *due > now, "the timer is not due again at the time it was served");
        return output;
    }

    void send(qsizetype size) {
        const QByteArray message = patternMessage(index, static_cast<int>(sent.size()), size);
        const bool accepted = engine->send(message);
        check(accepted == (engine->isUp() && !closed && !wentDown &&
                           message.size() <= LinkEngine::kMaxMessageBytes),
              "send takes a message exactly when the link is up and it is not too large");
        if (accepted) {
            sent.push_back(message);
        }
    }
};

// Whether what the receiver got since the last look continues what the sender sent, in order.
bool receivesInOrder(Side& receiver, const Side& sender) {
    if (receiver.received.size() > sender.sent.size()) {
        return false;
    }
    const auto from = static_cast<std::ptrdiff_t>(receiver.checked);
    const bool inOrder = std::equal(receiver.received.begin() + from, receiver.received.end(),
                                    sender.sent.begin() + from);
    receiver.checked = receiver.received.size();
    return inOrder;
}

class LinkScript {
public:
    explicit LinkScript(FuzzInput& input)
        : m_input(input),
          m_baud(kBauds[static_cast<std::size_t>(input.pick(kBauds.size()))]),
          m_toA(m_baud),
          m_toB(m_baud) {
        for (int i = 0; i < 2; ++i) {
            LinkEngine::Config config;
            config.baud = m_baud;
            config.escapeXonXoff = input.flag();
            config.nonce = 0x1000 + static_cast<std::uint32_t>(i);
            // Keep-alives every 6 s rather than every second: the same timers, and an input's
            // idle seconds cost fewer steps.
            config.keepAliveMs = 6000;
            config.silenceLimitMs = 24000;
            engines()[i].restart(config, m_now);
            m_sides[i].engine = &engines()[i];
            m_sides[i].index = i;
            if (i == 0) {
                m_xonXoffA = config.escapeXonXoff;
            }
        }
    }

    void run() {
        for (int ops = 0; ops < 16 && !m_input.atEnd() && !m_overBudget; ++ops) {
            step();
            checkDelivery();
        }
        quietEnd();
        // What the engines hold goes now: an input that ends with more memory taken than
        // given back is run again by the fuzzer to look for a leak.
        for (LinkEngine& engine : engines()) {
            engine.restart({}, m_now);
        }
    }

private:
    Side& a() { return m_sides[0]; }
    Side& b() { return m_sides[1]; }

    void step() {
        switch (m_input.pick(9)) {
            case 0:  // raw bytes straight into A
                m_injected = true;
                serveBoth(m_input.chunk(600));
                break;
            case 1: {  // a well-formed frame of the script's making into A
                m_injected = true;
                QByteArray frame;
                FrameCodec::encode(m_input.chunk(kBodyLimit + 8), m_input.flag(), frame);
                serveBoth(frame);
                break;
            }
            case 2:  // A hears its own bytes, as over a looped-back port
                m_injected = true;
                serveBoth(m_lastFromA);
                break;
            case 3:
                advance(m_input.u16() % 6000);
                break;
            case 4: {
                // Messages of up to a quarter of a second of line time, now and then one of up
                // to two seconds, and one too large for the link.
                const int kind = m_input.pick(16);
                m_sides[m_input.pick(2)].send(kind == 0   ? LinkEngine::kMaxMessageBytes + 1
                                              : kind == 1 ? m_input.u16() % (m_baud / 5 + 64)
                                                          : m_input.u16() % (m_baud / 40 + 64));
                break;
            }
            case 5: {
                Side& side = m_sides[m_input.pick(2)];
                side.engine->close(m_now);
                side.closed = true;
                break;
            }
            case 6:
                m_noise = static_cast<Noise>(m_input.pick(4));
                m_noiseAt = m_input.u16();
                m_noiseLength = 1 + m_input.pick(64);
                break;
            case 7:
                advance(1 + m_input.pick(50));
                break;
            default:
                advance(1000 + m_input.u16() % 20000);
                break;
        }
    }

    enum class Noise { None, Flip, Drop, FlowControl };

    // The line from B to A as it spoils B's bytes; noise hits one write and is gone.
    QByteArray carryToA(QByteArray bytes) {
        if (bytes.isEmpty() || m_noise == Noise::None) {
            return bytes;
        }
        const qsizetype at = m_noiseAt % bytes.size();
        switch (m_noise) {
            case Noise::Flip:
                bytes[at] = static_cast<char>(bytes[at] ^ (1 + m_noiseLength % 255));
                break;
            case Noise::Drop:
                bytes.remove(at, m_noiseLength);
                break;
            case Noise::FlowControl:
                // A line with XON/XOFF flow control adds those bytes; a side that asked for it
                // must not notice them.
                if (m_xonXoffA) {
                    bytes.insert(at, m_noiseLength % 2 == 0 ? FrameCodec::kXon : FrameCodec::kXoff);
                }
                break;
            case Noise::None:
                break;
        }
        m_noise = Noise::None;
        return bytes;
    }

    // Serves both sides at the present time with what has arrived for them.
    void serveBoth(const QByteArray& injectedIntoA) { serve({true, true}, injectedIntoA); }

    // Serves the sides named, as their port drivers would when woken.
    void serve(std::array<bool, 2> which, const QByteArray& injectedIntoA) {
        m_services += static_cast<long>(which[0]) + static_cast<long>(which[1]);
        QByteArray fromA;
        QByteArray fromB;
        if (which[0]) {
            fromA = a().serve(injectedIntoA + m_toA.read(m_now), m_now);
        }
        if (which[1]) {
            fromB = b().serve(m_toB.read(m_now), m_now);
        }
        if (!fromA.isEmpty()) {
            m_lastFromA = fromA;
        }
        m_toB.write(fromA, m_now);
        m_toA.write(carryToA(fromB), m_now);
        for (std::size_t i = 0; i < m_sides.size(); ++i) {
            if (which[i]) {
                m_due[i] = m_sides[i].due;
            }
        }
    }

    // Lets time pass, serving a side when its timer comes due or bytes have come for it. Within
    // the budget, time stops where it is spent.
    void advance(std::int64_t ms, bool withinBudget = true) {
        const std::int64_t end = m_now + ms;
        // Sends and closes since the last service changed them; serve() keeps them after.
        m_due = {a().engine->nextDeadlineMs(), b().engine->nextDeadlineMs()};
        while (m_now < end) {
            if (withinBudget && m_services >= kServiceBudget) {
                m_overBudget = true;
                return;
            }
            const std::array<std::optional<std::int64_t>, 2> reads{m_toA.nextReadMs(),
                                                                   m_toB.nextReadMs()};
            std::int64_t next = end;
            for (const auto due : {m_due[0], m_due[1], reads[0], reads[1]}) {
                if (due) {
                    next = std::min(next, *due);
                }
            }
            m_now = std::max(next, m_now + 1);
            const auto woken = [&](std::size_t i) {
                return (m_due[i] && *m_due[i] <= m_now) || (reads[i] && *reads[i] <= m_now);
            };
            serve({woken(0), woken(1)}, {});
        }
    }

    void checkDelivery() {
        check(receivesInOrder(b(), a()), "B receives only what A sent, in order");
        if (!m_injected) {
            check(receivesInOrder(a(), b()), "A receives only what B sent, in order");
        }
    }

    bool allDelivered() {
        return a().received.size() == b().sent.size() && b().received.size() == a().sent.size() &&
               a().engine->queuedBytes() == 0 && b().engine->queuedBytes() == 0;
    }

    // A minute on a quiet line and four times the line time of what is still to be delivered:
    // a link that only met noise recovers and delivers everything.
    void quietEnd() {
        m_noise = Noise::None;
        const bool upBefore = a().engine->isUp() && b().engine->isUp() && !a().wentDown &&
                              !b().wentDown && !a().closed && !b().closed;
        if (m_injected || !upBefore || m_overBudget) {
            // Nothing is promised but order: a few seconds show what is still in flight.
            advance(5000);
            checkDelivery();
            return;
        }
        const qsizetype outstanding = a().engine->queuedBytes() + b().engine->queuedBytes();
        const std::int64_t limitMs =
            60000 + 4 * static_cast<std::int64_t>(outstanding) * 10000 / m_baud;
        for (std::int64_t waited = 0; waited < limitMs && !allDelivered(); waited += 1000) {
            advance(1000, false);
        }
        advance(5000, false);
        checkDelivery();
        check(!a().wentDown && !b().wentDown, "a link that met only noise stays up");
        check(a().received == b().sent && b().received == a().sent,
              "a link that met only noise delivers everything");
    }

    FuzzInput& m_input;
    int m_baud;
    Wire m_toA;
    Wire m_toB;
    std::array<Side, 2> m_sides;
    std::array<std::optional<std::int64_t>, 2> m_due;  // the engines' deadlines
    std::int64_t m_now = 1000;
    bool m_injected = false;
    long m_services = 0;  // engine services so far
    bool m_overBudget = false;
    bool m_xonXoffA = false;
    Noise m_noise = Noise::None;
    std::uint16_t m_noiseAt = 0;
    int m_noiseLength = 1;
    QByteArray m_lastFromA;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzInput input(data, size);
    switch (input.pick(3)) {
        case 0:
            fuzzDecoder(input);
            break;
        case 1:
            fuzzDecompressor(input);
            break;
        default:
            LinkScript(input).run();
            break;
    }
    return 0;
}
