#pragma once

#include "session/link/LinkEngine.h"

#include <QByteArray>

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <random>
#include <vector>

namespace velmora::test {

// An engine's settings at a port rate, with the nonce that tells this engine from its peer.
LinkEngine::Config linkConfig(int baud, std::uint32_t nonce);

// `body` framed as the other side puts it on the line (without zero fill).
QByteArray frame(const QByteArray& body);
// The hello of a peer that is up, with its nonce, the nonce it has seen, and its flags (0x02
// alone: a peer that takes no zero-fill frames).
QByteArray helloFrom(std::uint32_t nonce, std::uint32_t seen, std::uint8_t flags = 0x02);

// How one direction of the simulated line spoils the bytes it carries.
struct Impairments {
    double bitErrorRate = 0.0;
    double dropRate = 0.0;
    // Chance per millisecond that a burst of 1..32 random bytes is inserted.
    double garbagePerMs = 0.0;
    // Chance per byte that a raw XON or XOFF is inserted (flow control of the line).
    double flowControlBytes = 0.0;
    // The line stops for stallMs every stallEveryMs, as one does whose receiver is late to read
    // a full buffer: it then carries less than its rate.
    std::int64_t stallEveryMs = 0;
    std::int64_t stallMs = 0;
};

// One direction of a serial line under a virtual clock: bytes pass at baud / 10 per second,
// one after the other, and may be flipped, lost or joined by noise on the way.
class SimulatedWire {
public:
    SimulatedWire(int baud, std::uint64_t seed) : m_baud(baud), m_random(seed) {}

    void write(const QByteArray& bytes, std::int64_t nowMs);
    // The bytes that have arrived by now.
    QByteArray read(std::int64_t nowMs);
    // Noise and stalls due at this millisecond.
    void addNoise(std::int64_t nowMs);
    // Bytes written and not yet arrived: what waits in front of the next byte written.
    qsizetype bytesOnTheWay() const { return static_cast<qsizetype>(m_bytes.size()); }

    Impairments impairments;
    bool cut = false;
    // Every byte written, before any impairment.
    std::function<void(char)> onWritten;

private:
    struct InFlight {
        std::int64_t arrivalNs;
        char byte;
    };
    void put(char byte, std::int64_t nowMs);
    // A byte's time on the line: 10 bits.
    std::int64_t byteNs() const { return 10'000'000'000 / m_baud; }

    int m_baud;
    std::mt19937_64 m_random;
    std::int64_t m_freeAtNs = 0;
    std::deque<InFlight> m_bytes;
};

// Two link engines joined by two simulated wires, stepped one virtual millisecond at a time.
class SimulatedLink {
public:
    // wireBaud: the rate of the line itself, when slower or faster than the ports (0: each
    // direction at its sender's port rate).
    SimulatedLink(LinkEngine::Config a, LinkEngine::Config b, std::uint64_t seed, int wireBaud = 0);

    // Runs until the condition holds or the time limit has passed; true when it holds.
    bool runUntil(const std::function<bool()>& condition, std::int64_t limitMs);
    void step();

    std::int64_t nowMs() const { return m_nowMs; }

    struct Side {
        std::unique_ptr<LinkEngine> engine;
        std::vector<LinkEvent> events;
        std::vector<QByteArray> messages;
        std::vector<std::int64_t> messageAtMs;  // when each message arrived
        std::optional<LinkEvent> down;
        bool up = false;
        std::optional<std::int64_t> downAtMs;
    };
    Side a;
    Side b;
    SimulatedWire aToB;
    SimulatedWire bToA;

private:
    void drive(Side& side, SimulatedWire& out, SimulatedWire& in);

    std::int64_t m_nowMs = 0;
};

}  // namespace velmora::test
