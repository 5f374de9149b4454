#include "SimulatedLink.h"

#include "base/ByteLayout.h"
#include "session/link/FrameCodec.h"

#include <algorithm>
#include <cmath>

namespace velmora::test {

LinkEngine::Config linkConfig(int baud, std::uint32_t nonce) {
    LinkEngine::Config config;
    config.baud = baud;
    config.nonce = nonce;
    return config;
}

QByteArray frame(const QByteArray& body) {
    QByteArray wire;
    FrameCodec::encode(body, false, wire);
    return wire;
}

QByteArray helloFrom(std::uint32_t nonce, std::uint32_t seen, std::uint8_t flags) {
    return frame(ByteWriter()
                     .bytes(QByteArray("VLMR"))
                     .u8(LinkEngine::kVersion)
                     .u32(nonce)
                     .u32(seen)
                     .u8(flags)
                     .take());
}

void SimulatedWire::put(char byte, std::int64_t nowMs) {
    m_freeAtNs = std::max(m_freeAtNs, nowMs * 1'000'000) + byteNs();
    m_bytes.push_back({m_freeAtNs, byte});
}

void SimulatedWire::write(const QByteArray& bytes, std::int64_t nowMs) {
    std::uniform_real_distribution<double> chance(0.0, 1.0);
    const double byteErrorRate = 1.0 - std::pow(1.0 - impairments.bitErrorRate, 8);
    for (char byte : bytes) {
        if (onWritten) {
            onWritten(byte);
        }
        if (impairments.flowControlBytes > 0 && chance(m_random) < impairments.flowControlBytes) {
            put(chance(m_random) < 0.5 ? FrameCodec::kXon : FrameCodec::kXoff, nowMs);
        }
        if (impairments.dropRate > 0 && chance(m_random) < impairments.dropRate) {
            // The byte still takes its time on the line.
            m_freeAtNs = std::max(m_freeAtNs, nowMs * 1'000'000) + byteNs();
            continue;
        }
        if (byteErrorRate > 0 && chance(m_random) < byteErrorRate) {
            byte = static_cast<char>(byte ^ (1 << (m_random() % 8)));
        }
        put(byte, nowMs);
    }
}

void SimulatedWire::addNoise(std::int64_t nowMs) {
    if (impairments.stallEveryMs > 0 && nowMs % impairments.stallEveryMs == 0) {
        // What has not arrived yet arrives later by the stall, and so does what follows.
        const std::int64_t stallNs = impairments.stallMs * 1'000'000;
        for (InFlight& byte : m_bytes) {
            byte.arrivalNs += stallNs;
        }
        m_freeAtNs = std::max(m_freeAtNs, nowMs * 1'000'000) + stallNs;
    }
    std::uniform_real_distribution<double> chance(0.0, 1.0);
    if (impairments.garbagePerMs > 0 && chance(m_random) < impairments.garbagePerMs) {
        const auto length = 1 + m_random() % 32;
        for (std::uint64_t i = 0; i < length; ++i) {
            put(static_cast<char>(m_random()), nowMs);
        }
    }
}

QByteArray SimulatedWire::read(std::int64_t nowMs) {
    QByteArray bytes;
    while (!m_bytes.empty() && m_bytes.front().arrivalNs <= nowMs * 1'000'000) {
        if (!cut) {
            bytes.append(m_bytes.front().byte);
        }
        m_bytes.pop_front();
    }
    return bytes;
}

SimulatedLink::SimulatedLink(LinkEngine::Config configA, LinkEngine::Config configB,
                             std::uint64_t seed, int wireBaud)
    : aToB(wireBaud > 0 ? wireBaud : configA.baud, seed * 2 + 1),
      bToA(wireBaud > 0 ? wireBaud : configB.baud, seed * 2 + 2) {
    a.engine = std::make_unique<LinkEngine>(configA, 0);
    b.engine = std::make_unique<LinkEngine>(configB, 0);
}

void SimulatedLink::drive(Side& side, SimulatedWire& out, SimulatedWire& in) {
    LinkEngine& engine = *side.engine;
    const QByteArray arrived = in.read(m_nowMs);
    if (!arrived.isEmpty()) {
        engine.feed(arrived, m_nowMs);
    }
    if (const auto deadline = engine.nextDeadlineMs(); deadline && *deadline <= m_nowMs) {
        engine.onTimer(m_nowMs);
    }
    const QByteArray output = engine.takeOutput(m_nowMs);
    if (!output.isEmpty()) {
        out.write(output, m_nowMs);
    }
    for (LinkEvent& event : engine.takeEvents()) {
        switch (event.kind) {
            case LinkEvent::Kind::Up:
                side.up = true;
                break;
            case LinkEvent::Kind::Message:
                side.messages.push_back(event.message);
                side.messageAtMs.push_back(m_nowMs);
                break;
            case LinkEvent::Kind::Down:
                side.down = event;
                side.downAtMs = m_nowMs;
                break;
        }
        side.events.push_back(std::move(event));
    }
}

void SimulatedLink::step() {
    ++m_nowMs;
    if (!aToB.cut) {
        aToB.addNoise(m_nowMs);
    }
    if (!bToA.cut) {
        bToA.addNoise(m_nowMs);
    }
    drive(a, aToB, bToA);
    drive(b, bToA, aToB);
}

bool SimulatedLink::runUntil(const std::function<bool()>& condition, std::int64_t limitMs) {
    const std::int64_t end = m_nowMs + limitMs;
    while (!condition()) {
        if (m_nowMs >= end) {
            return false;
        }
        step();
    }
    return true;
}

}  // namespace velmora::test
