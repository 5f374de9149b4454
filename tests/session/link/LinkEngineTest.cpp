#include "SimulatedLink.h"

#include "base/ByteLayout.h"
#include "session/link/Crc32.h"
#include "session/link/FrameCodec.h"
#include "session/link/LinkEngine.h"
#include "session/link/LinkTexts.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QLocale>

#include <random>

namespace velmora {
namespace {

using test::frame;
using test::helloFrom;
using test::linkConfig;
using test::SimulatedLink;

// A message that carries its own number and can be checked byte for byte.
QByteArray makeMessage(std::uint32_t index, qsizetype size, std::uint64_t seed) {
    size = std::max<qsizetype>(size, 8);
    QByteArray message = ByteWriter().u32(index).u32(static_cast<std::uint32_t>(size)).take();
    message.resize(size);
    std::mt19937 random(static_cast<std::uint32_t>(seed * 7919 + index));
    for (qsizetype i = 8; i < size; ++i) {
        message[i] = static_cast<char>(random());
    }
    return message;
}

qsizetype randomSize(std::mt19937_64& random) {
    const auto kind = random() % 100;
    if (kind < 70) {
        return 4 + static_cast<qsizetype>(random() % 200);
    }
    if (kind < 95) {
        return 200 + static_cast<qsizetype>(random() % 8000);
    }
    return 8000 + static_cast<qsizetype>(random() % 32000);
}

// Streams `count` random messages each way, as fast as the back-pressure allows.
struct Traffic {
    Traffic(int count, std::uint64_t seed) : m_count(count), m_seed(seed), m_random(seed) {
        for (int i = 0; i < count; ++i) {
            sizesAToB.push_back(randomSize(m_random));
            sizesBToA.push_back(randomSize(m_random));
        }
    }

    void push(LinkEngine& engine, int& next, const std::vector<qsizetype>& sizes,
              std::uint64_t salt) const {
        while (next < m_count && engine.isUp() && engine.canAccept(sizes[next])) {
            ASSERT_TRUE(engine.send(makeMessage(next, sizes[next], m_seed + salt)));
            ++next;
        }
    }

    // Runs until everything has arrived both ways, a side is down, or the limit passes.
    void run(SimulatedLink& link, std::int64_t limitMs) {
        link.runUntil(
            [&] {
                push(*link.a.engine, sentAToB, sizesAToB, 0);
                push(*link.b.engine, sentBToA, sizesBToA, 1);
                return link.a.down || link.b.down ||
                       (link.b.messages.size() == static_cast<std::size_t>(m_count) &&
                        link.a.messages.size() == static_cast<std::size_t>(m_count));
            },
            limitMs);
    }

    // What arrived is what was sent, from the first message on, each once, whole, in order.
    void expectIntact(const std::vector<QByteArray>& received, const std::vector<qsizetype>& sizes,
                      std::uint64_t salt) const {
        for (std::size_t i = 0; i < received.size(); ++i) {
            ASSERT_LT(i, sizes.size());
            ASSERT_EQ(received[i],
                      makeMessage(static_cast<std::uint32_t>(i), sizes[i], m_seed + salt))
                << "message " << i;
        }
    }

    void expectAllArrived(const SimulatedLink& link) const {
        expectIntact(link.b.messages, sizesAToB, 0);
        expectIntact(link.a.messages, sizesBToA, 1);
        EXPECT_FALSE(link.a.down.has_value());
        EXPECT_FALSE(link.b.down.has_value());
        EXPECT_EQ(link.b.messages.size(), static_cast<std::size_t>(m_count));
        EXPECT_EQ(link.a.messages.size(), static_cast<std::size_t>(m_count));
    }

    std::vector<qsizetype> sizesAToB;
    std::vector<qsizetype> sizesBToA;
    int sentAToB = 0;
    int sentBToA = 0;

private:
    int m_count;
    std::uint64_t m_seed;
    std::mt19937_64 m_random;
};

bool bothUp(const SimulatedLink& link) {
    return link.a.up && link.b.up;
}

// File blocks of 32 KiB one way at 115200 baud: payload bytes per second over the raw byte rate.
double fileBlockEfficiency(double bitErrorRate, std::uint64_t seed) {
    SimulatedLink files(linkConfig(115200, 3), linkConfig(115200, 4), seed);
    files.aToB.impairments.bitErrorRate = bitErrorRate;
    files.bToA.impairments.bitErrorRate = bitErrorRate;
    if (!files.runUntil([&] { return bothUp(files); }, 3000)) {
        return 0.0;
    }
    const std::int64_t start = files.nowMs();
    constexpr int kBlocks = 40;
    constexpr qsizetype kBlockBytes = 32768 + 11;
    int sent = 0;
    const bool done = files.runUntil(
        [&] {
            while (sent < kBlocks && files.a.engine->canAccept(kBlockBytes)) {
                files.a.engine->send(makeMessage(sent++, kBlockBytes, seed));
            }
            return files.b.messages.size() == kBlocks;
        },
        600000);
    for (std::size_t i = 0; i < files.b.messages.size(); ++i) {
        if (files.b.messages[i] != makeMessage(i, kBlockBytes, seed)) {
            return 0.0;
        }
    }
    const double seconds = (files.nowMs() - start) / 1000.0;
    return done ? kBlocks * kBlockBytes / seconds / 11520.0 : 0.0;
}

TEST(FrameCodecTest, EncodesChecksAndFindsFramesAgainAfterNoise) {
    EXPECT_EQ(crc32(QByteArrayView("123456789")), 0xCBF43926U);

    // Every byte value survives, flags and escapes included.
    QByteArray body;
    for (int i = 0; i < 256; ++i) {
        body.append(static_cast<char>(i));
    }
    QByteArray wire;
    FrameCodec::encode(body, true, wire);
    // Four escaped bytes in the body, the CRC (itself perhaps escaped), the flag.
    EXPECT_GE(wire.size(), 256 + 4 + 4 + 1);
    EXPECT_LE(wire.size(), 256 + 4 + 8 + 1);
    EXPECT_EQ(wire.count(FrameCodec::kFlag), 1);
    EXPECT_EQ(wire.count(FrameCodec::kXon), 0);
    EXPECT_EQ(wire.count(FrameCodec::kXoff), 0);

    FrameCodec decoder(true, 1024);
    // Noise before the frame, a frame cut short by a flag, a raw XON inside a frame.
    QByteArray stream = QByteArray("\x01\x02garbage\x7E", 11);
    QByteArray damaged;
    FrameCodec::encode(QByteArray("lost"), false, damaged);
    damaged[1] = static_cast<char>(damaged[1] ^ 0x04);
    stream += damaged;
    stream += wire.left(10) + QByteArray(1, FrameCodec::kXon) + wire.mid(10);
    const auto frames = decoder.decode(stream);
    ASSERT_EQ(frames.size(), 1U);
    EXPECT_EQ(frames[0], body);
    EXPECT_GE(decoder.badFrames(), 2U);

    // Fed one byte at a time, the same.
    FrameCodec byteWise(false, 1024);
    std::vector<QByteArray> found;
    QByteArray plain;
    FrameCodec::encode(body, false, plain);
    for (char byte : plain) {
        for (auto& frame : byteWise.decode(QByteArrayView(&byte, 1))) {
            found.push_back(frame);
        }
    }
    ASSERT_EQ(found.size(), 1U);
    EXPECT_EQ(found[0], body);

    // A body longer than allowed is dropped, and the next frame is found.
    FrameCodec small(false, 16);
    QByteArray two;
    FrameCodec::encode(QByteArray(100, 'x'), false, two);
    FrameCodec::encode(QByteArray("ok"), false, two);
    const auto smallFrames = small.decode(two);
    ASSERT_EQ(smallFrames.size(), 1U);
    EXPECT_EQ(smallFrames[0], QByteArray("ok"));

    // The limit holds to the byte when a long run of ordinary bytes comes in one read.
    FrameCodec exact(false, 16);
    QByteArray edge;
    FrameCodec::encode(QByteArray(16, 'y'), false, edge);
    FrameCodec::encode(QByteArray(17, 'z'), false, edge);
    FrameCodec::encode(QByteArray(16, 'w'), false, edge);
    const auto edgeFrames = exact.decode(edge);
    ASSERT_EQ(edgeFrames.size(), 2U);
    EXPECT_EQ(edgeFrames[0], QByteArray(16, 'y'));
    EXPECT_EQ(edgeFrames[1], QByteArray(16, 'w'));
    EXPECT_EQ(exact.badFrames(), 1U);
}

TEST(LinkEngineTest, HelloTellsAPeerFromAnEchoATerminalAndAnotherVersion) {
    // Two engines come up; each tells its listener once.
    SimulatedLink link(linkConfig(115200, 11), linkConfig(115200, 22), 1);
    ASSERT_TRUE(link.runUntil([&] { return bothUp(link); }, 3000));
    EXPECT_LT(link.nowMs(), 200);
    link.runUntil([] { return false; }, 3000);
    const auto ups = [](const SimulatedLink::Side& side) {
        return std::count_if(side.events.begin(), side.events.end(),
                             [](const LinkEvent& e) { return e.kind == LinkEvent::Kind::Up; });
    };
    EXPECT_EQ(ups(link.a), 1);
    EXPECT_EQ(ups(link.b), 1);

    // The host starts long before the caller: still one exchange when the caller comes.
    SimulatedLink late(linkConfig(9600, 5), linkConfig(9600, 6), 2);
    late.bToA.cut = true;
    late.aToB.cut = true;
    late.runUntil([] { return false; }, 10000);
    late.bToA.cut = false;
    late.aToB.cut = false;
    late.b.engine = std::make_unique<LinkEngine>(linkConfig(9600, 6), late.nowMs());
    EXPECT_TRUE(late.runUntil([&] { return bothUp(late); }, 3000));

    // Its own hello echoed back (a modem in command mode, a loop-back plug) is not a peer.
    LinkEngine echo(linkConfig(115200, 33), 0);
    for (std::int64_t now = 0; now < 5000; now += 10) {
        echo.feed(echo.takeOutput(now), now);
        echo.onTimer(now);
    }
    EXPECT_FALSE(echo.isUp());
    EXPECT_TRUE(echo.takeEvents().empty());
    EXPECT_EQ(echo.heard(), LinkHeard::OwnEcho);

    // A terminal typing at it.
    LinkEngine terminal(linkConfig(115200, 44), 0);
    terminal.feed(QByteArray("AT\r\nhello there\r\n"), 100);
    EXPECT_FALSE(terminal.isUp());
    EXPECT_EQ(terminal.heard(), LinkHeard::Bytes);
    EXPECT_EQ(LinkEngine(linkConfig(115200, 45), 0).heard(), LinkHeard::Nothing);

    // Another version: both sides refuse and name both versions; no message goes through.
    auto newer = linkConfig(115200, 55);
    newer.version = LinkEngine::kVersion + 1;
    SimulatedLink versions(linkConfig(115200, 66), newer, 3);
    ASSERT_TRUE(versions.runUntil([&] { return versions.a.down && versions.b.down; }, 5000));
    for (const auto* side : {&versions.a, &versions.b}) {
        EXPECT_FALSE(side->up);
        EXPECT_EQ(side->down->reason, LineDown::Refused);
        EXPECT_EQ(side->down->cause.fault, LinkFault::OtherVersion);
    }
    EXPECT_EQ(linkDownText(versions.a.down->cause),
              QStringLiteral("The other computer runs version %1 of the Velmora serial link, this "
                             "one version %2: both sides need the same version of Velmora.")
                  .arg(LinkEngine::kVersion + 1)
                  .arg(LinkEngine::kVersion));
    EXPECT_FALSE(versions.a.engine->send(QByteArray("ping")));

    // A peer that starts over under a new nonce while up: the old link is lost.
    SimulatedLink restart(linkConfig(115200, 77), linkConfig(115200, 88), 4);
    ASSERT_TRUE(restart.runUntil([&] { return bothUp(restart); }, 3000));
    restart.b.engine = std::make_unique<LinkEngine>(linkConfig(115200, 99), restart.nowMs());
    ASSERT_TRUE(restart.runUntil([&] { return restart.a.down.has_value(); }, 3000));
    EXPECT_EQ(restart.a.down->reason, LineDown::Lost);
}

// The documents a peer is written from give the limit the link holds to.
TEST(LinkEngineTest, TheDocumentsGiveTheLinksMessageLimit) {
    const auto document = [](const char* name) {
        QFile file(QStringLiteral(VELMORA_DOCS_DIR "/") + QLatin1String(name));
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()).simplified()
                                              : QString();
    };
    const QLocale english(QLocale::English);
    const QString limit = english.toString(qlonglong{LinkEngine::kMaxMessageBytes});
    const QString payload = english.toString(qlonglong{LinkEngine::kMaxMessageBytes - 12});
    const QString wire = document("wire-protocol.md");
    EXPECT_TRUE(wire.contains("The largest line message is " + limit + " bytes"));
    EXPECT_TRUE(wire.contains("its payload (a peer message) is at most " + payload + " bytes"));
    EXPECT_TRUE(document("serial-link.md").contains("Messages of 0 to " + limit + " bytes"));
}

// Hellos in bytes on the line, counted by their magic.
int hellosIn(const QByteArray& bytes) {
    return static_cast<int>(bytes.count(QByteArrayView("VLMR")));
}

TEST(LinkEngineTest, AWaitingHostAnswersAPeerOfAnotherVersionAFewTimesASecond) {
    // A peer of another version that answers every hello at once and hails every 10 ms
    // besides, against a host that starts its engine again after each refusal, as a hosting
    // line does while it waits for the next caller.
    auto newer = linkConfig(115200, 0x5151);
    newer.version = LinkEngine::kVersion + 1;
    const QByteArray hail = LinkEngine(newer, 0).takeOutput(0);
    ASSERT_EQ(hellosIn(hail), 1);
    LinkEngine host(linkConfig(115200, 0x4141), 0);
    constexpr std::int64_t kRunMs = 12000;
    int hostHellos = 0;
    int hailsSent = 0;
    int refusals = 0;
    QByteArray toHost;
    for (std::int64_t now = 0; now <= kRunMs; ++now) {
        if (now % 10 == 0) {
            toHost += hail;
        }
        if (!toHost.isEmpty()) {
            hailsSent += hellosIn(toHost);
            host.feed(std::exchange(toHost, {}), now);
        }
        if (const auto due = host.nextDeadlineMs(); due && *due <= now) {
            host.onTimer(now);
        }
        const int hellos = hellosIn(host.takeOutput(now));
        hostHellos += hellos;
        for (int i = 0; i < hellos; ++i) {
            toHost += hail;  // one answer for each
        }
        for (const LinkEvent& event : host.takeEvents()) {
            if (event.kind == LinkEvent::Kind::Down) {
                EXPECT_EQ(event.cause.fault, LinkFault::OtherVersion);
                ++refusals;
                host.restart(linkConfig(115200, 0x4141 + static_cast<std::uint32_t>(now)), now);
            }
        }
    }
    EXPECT_GT(refusals, 0);
    // It answers, but no more than a few times a second and never more than it was hailed.
    EXPECT_GE(hostHellos, 10);
    EXPECT_LE(hostHellos, kRunMs / LinkEngine::kRefusalGapMs + 2);
    EXPECT_LE(hostHellos, hailsSent);
}

TEST(LinkEngineTest, CleanLineCarriesEveryMessageNearTheLineRate) {
    // Thousands of messages of mixed sizes both ways at once.
    SimulatedLink link(linkConfig(115200, 1), linkConfig(115200, 2), 10);
    Traffic traffic(2000, 10);
    traffic.run(link, 900000);
    traffic.expectAllArrived(link);
    EXPECT_EQ(link.a.engine->retransmissions(), 0U);
    EXPECT_EQ(link.b.engine->retransmissions(), 0U);

    // One-way file blocks of 32 KiB: payload bytes per second against the raw byte rate.
    const double clean = fileBlockEfficiency(0.0, 11);
    EXPECT_GE(clean, 0.97) << clean;
    const double noisy = fileBlockEfficiency(1e-5, 12);
    EXPECT_GE(noisy, 0.90) << noisy;
}

TEST(LinkEngineTest, NoisyLinesDeliverEveryMessageIntactOrReportTheLoss) {
    struct Scenario {
        const char* name;
        test::Impairments impairments;
    };
    const Scenario scenarios[] = {
        {"bit errors 1e-4", {1e-4, 0, 0, 0}},
        {"dropped bytes", {0, 2e-4, 0, 0}},
        {"garbage bursts", {0, 0, 0.002, 0}},
        {"everything at once", {5e-5, 5e-5, 0.001, 0}},
    };
    std::uint64_t seed = 100;
    for (const Scenario& scenario : scenarios) {
        SCOPED_TRACE(scenario.name);
        SimulatedLink link(linkConfig(115200, 1), linkConfig(115200, 2), ++seed);
        link.aToB.impairments = scenario.impairments;
        link.bToA.impairments = scenario.impairments;
        Traffic traffic(1500, seed);
        traffic.run(link, 900000);
        traffic.expectAllArrived(link);
    }

    // Under heavy bit errors the frames get shorter; on a clean line they grow back.
    SimulatedLink link(linkConfig(115200, 1), linkConfig(115200, 2), 200);
    link.aToB.impairments.bitErrorRate = 1e-4;
    Traffic noisy(400, 200);
    noisy.run(link, 900000);
    const int normal = link.a.engine->basePayloadBytes();
    EXPECT_LT(link.a.engine->payloadBytes(), normal / 2);
    link.aToB.impairments.bitErrorRate = 0;
    int next = 0;
    link.runUntil(
        [&] {
            while (next < 200 && link.a.engine->canAccept(4000)) {
                link.a.engine->send(makeMessage(next++, 4000, 1));
            }
            return link.a.engine->payloadBytes() == normal;
        },
        200000);
    EXPECT_EQ(link.a.engine->payloadBytes(), normal);
}

TEST(LinkEngineTest, SilenceShorterThanTheLimitIsRiddenOut) {
    SimulatedLink link(linkConfig(115200, 1), linkConfig(115200, 2), 300);
    Traffic traffic(800, 300);
    int pauses = 0;
    link.runUntil(
        [&] {
            traffic.push(*link.a.engine, traffic.sentAToB, traffic.sizesAToB, 0);
            traffic.push(*link.b.engine, traffic.sentBToA, traffic.sizesBToA, 1);
            // Every 20 s the line says nothing for 3 s in both directions.
            const bool silent = link.nowMs() % 20000 >= 17000;
            pauses += silent && !link.aToB.cut;
            link.aToB.cut = link.bToA.cut = silent;
            return link.a.down || link.b.down ||
                   (link.b.messages.size() == 800 && link.a.messages.size() == 800);
        },
        900000);
    EXPECT_GE(pauses, 2);
    traffic.expectAllArrived(link);
}

TEST(LinkEngineTest, CutLineIsReportedLostWithinFiveSeconds) {
    for (const int baud : {115200, 9600}) {
        SCOPED_TRACE(baud);
        SimulatedLink link(linkConfig(baud, 1), linkConfig(baud, 2), 400);
        Traffic traffic(100000, 400);
        traffic.run(link, 20000);
        ASSERT_FALSE(link.a.down || link.b.down);
        const std::int64_t cutAt = link.nowMs();
        link.aToB.cut = link.bToA.cut = true;
        traffic.run(link, 10000);
        ASSERT_TRUE(link.a.down && link.b.down);
        for (const auto* side : {&link.a, &link.b}) {
            EXPECT_EQ(side->down->reason, LineDown::Lost);
            EXPECT_LE(*side->downAtMs - cutAt, 5000);
            EXPECT_GE(*side->downAtMs - cutAt, 3000);
        }
        // What arrived before the cut is intact and in order.
        traffic.expectIntact(link.b.messages, traffic.sizesAToB, 0);
        traffic.expectIntact(link.a.messages, traffic.sizesBToA, 1);
        EXPECT_FALSE(link.a.engine->send(QByteArray("late")));
    }
}

TEST(LinkEngineTest, LossIsDeclaredAtTheSilenceDeadlineAndNotBefore) {
    SimulatedLink link(linkConfig(115200, 1), linkConfig(115200, 2), 500);
    ASSERT_TRUE(link.runUntil([&] { return bothUp(link); }, 3000));
    // Idle, the keep-alives hold the line.
    link.runUntil([&] { return link.a.down || link.b.down; }, 30000);
    ASSERT_FALSE(link.a.down || link.b.down);

    // The engine alone: nothing arrives after the last byte at t = 1000.
    LinkEngine engine(linkConfig(115200, 1), 0);
    LinkEngine peer(linkConfig(115200, 2), 0);
    peer.feed(engine.takeOutput(0), 0);
    engine.feed(peer.takeOutput(0), 500);
    peer.feed(engine.takeOutput(500), 500);
    ASSERT_TRUE(engine.isUp());
    peer.onTimer(1000);
    const QByteArray keepAlive = peer.takeOutput(1000);
    ASSERT_FALSE(keepAlive.isEmpty());
    engine.feed(keepAlive, 1000);
    std::int64_t now = 1000;
    while (engine.isUp()) {
        const auto deadline = engine.nextDeadlineMs();
        ASSERT_TRUE(deadline.has_value());
        ASSERT_GE(*deadline, now);
        now = *deadline;
        engine.onTimer(now - 1);
        if (now == 1000 + 4000) {
            EXPECT_TRUE(engine.isUp()) << "lost one tick before the deadline";
        }
        engine.onTimer(now);
        engine.takeOutput(now);
    }
    EXPECT_EQ(now, 1000 + 4000);
}

TEST(LinkEngineTest, SlowLineWithLargeFramesIsNeverLostWhileBytesArrive) {
    auto slow = linkConfig(2400, 1);
    slow.maxPayloadBytes = LinkEngine::kMaxPayloadBytes;
    auto slowPeer = linkConfig(2400, 2);
    slowPeer.maxPayloadBytes = LinkEngine::kMaxPayloadBytes;
    SimulatedLink link(slow, slowPeer, 600);
    link.aToB.impairments.bitErrorRate = 2e-6;
    link.bToA.impairments.bitErrorRate = 2e-6;
    // Both ways busy with large messages for ten minutes of line time.
    int sentA = 0;
    int sentB = 0;
    link.runUntil(
        [&] {
            if (link.a.engine->isUp() && link.a.engine->canAccept(20000)) {
                link.a.engine->send(makeMessage(sentA++, 20000, 6));
            }
            if (link.b.engine->isUp() && link.b.engine->canAccept(20000)) {
                link.b.engine->send(makeMessage(sentB++, 20000, 7));
            }
            return link.a.down || link.b.down;
        },
        600000);
    EXPECT_FALSE(link.a.down.has_value());
    EXPECT_FALSE(link.b.down.has_value());
    EXPECT_GE(link.b.messages.size(), 5U);
    for (std::size_t i = 0; i < link.b.messages.size(); ++i) {
        ASSERT_EQ(link.b.messages[i], makeMessage(i, 20000, 6));
    }
}

TEST(LinkEngineTest, XonXoffBytesNeverGoOutRaw) {
    auto xon = linkConfig(115200, 1);
    xon.escapeXonXoff = true;
    // Only one side asks; the other escapes for it as well, and the line's own XON/XOFF bytes
    // are taken out before the frames are read.
    SimulatedLink link(xon, linkConfig(115200, 2), 700);
    std::uint64_t rawAToB = 0;
    std::uint64_t rawBToA = 0;
    const auto counter = [](std::uint64_t& count) {
        return
            [&count](char byte) { count += byte == FrameCodec::kXon || byte == FrameCodec::kXoff; };
    };
    link.aToB.onWritten = counter(rawAToB);
    link.bToA.onWritten = counter(rawBToA);
    link.bToA.impairments.flowControlBytes = 1e-3;
    Traffic traffic(300, 700);
    traffic.run(link, 600000);
    traffic.expectAllArrived(link);
    EXPECT_EQ(rawAToB, 0U);
    EXPECT_EQ(rawBToA, 0U);
}

TEST(LinkEngineTest, GoodbyeDeliversWhatWasQueuedFirst) {
    SimulatedLink link(linkConfig(115200, 1), linkConfig(115200, 2), 800);
    ASSERT_TRUE(link.runUntil([&] { return bothUp(link); }, 3000));
    for (int i = 0; i < 20; ++i) {
        ASSERT_TRUE(link.a.engine->send(makeMessage(i, 3000, 8)));
    }
    link.a.engine->close(link.nowMs());
    EXPECT_FALSE(link.a.engine->send(QByteArray("after close")));
    ASSERT_TRUE(link.runUntil([&] { return link.a.engine->isFinished() && link.b.down; }, 20000));
    EXPECT_EQ(link.b.down->reason, LineDown::PeerClosed);
    ASSERT_EQ(link.b.messages.size(), 20U);
    EXPECT_EQ(link.b.messages.back(), makeMessage(19, 3000, 8));
    // No event for an end this side asked for.
    EXPECT_FALSE(link.a.down.has_value());

    // A goodbye nobody answers gives up after a bounded time.
    SimulatedLink alone(linkConfig(115200, 3), linkConfig(115200, 4), 801);
    ASSERT_TRUE(alone.runUntil([&] { return bothUp(alone); }, 3000));
    alone.aToB.cut = alone.bToA.cut = true;
    alone.a.engine->close(alone.nowMs());
    EXPECT_TRUE(alone.runUntil([&] { return alone.a.engine->isFinished(); }, 10000));
}

// Blocks stream while a message is sent after some of them in the same lane (a pause, an
// abort): it arrives after them, in order, behind about a second of line at most, and the line
// stays busy meanwhile although the sender takes 50 ms to queue the next block once there is
// room (a busy machine's thread).
void streamBlocksThenOneMessage(int baud, qsizetype blockBytes, std::int64_t mostWaitMs,
                                double leastShare) {
    SimulatedLink link(linkConfig(baud, 1), linkConfig(baud, 2), 900);
    ASSERT_TRUE(link.runUntil([&] { return bothUp(link); }, 3000));
    LinkEngine& engine = *link.a.engine;
    constexpr std::uint32_t kBlocks = 40;
    std::uint32_t blocks = 0;
    std::optional<std::int64_t> sentAt;
    std::optional<std::int64_t> arrivedAt;
    std::size_t blocksBefore = 0;
    std::optional<std::int64_t> roomSinceMs;
    const std::int64_t startMs = link.nowMs();
    ASSERT_TRUE(link.runUntil(
        [&] {
            if (!engine.canAccept(blockBytes)) {
                roomSinceMs.reset();
            } else if (!roomSinceMs) {
                roomSinceMs = link.nowMs();
            }
            if (roomSinceMs && link.nowMs() - *roomSinceMs >= 50) {
                while (blocks < kBlocks && engine.canAccept(blockBytes)) {
                    engine.send(makeMessage(blocks++, blockBytes, 9));
                }
                roomSinceMs.reset();
            }
            if (blocks >= kBlocks / 2 && !sentAt) {
                sentAt = link.nowMs();
                blocksBefore = blocks;
                engine.send(makeMessage(1000, 20, 9));
            }
            if (sentAt && !arrivedAt && link.b.messages.size() == blocksBefore + 1) {
                arrivedAt = link.nowMs();
            }
            return link.b.messages.size() == kBlocks + 1;
        },
        kBlocks * blockBytes * 20'000 / baud + 10'000));
    ASSERT_TRUE(arrivedAt.has_value());
    EXPECT_EQ(link.b.messages[blocksBefore], makeMessage(1000, 20, 9));
    EXPECT_LE(*arrivedAt - *sentAt, mostWaitMs);
    const double share = static_cast<double>(kBlocks * blockBytes) * 10'000 /
                         static_cast<double>(baud) / static_cast<double>(link.nowMs() - startMs);
    EXPECT_GE(share, leastShare);
}

TEST(LinkEngineTest, WhatFollowsBlocksWaitsAboutASecondWhileTheLineStaysBusy) {
    // A slow line's blocks (512 bytes and their headers): a second of line and a block.
    streamBlocksThenOneMessage(9600, 512 + 23, 1700, 0.93);
    // A cable connection's 32 KiB blocks at 115200 baud: a second of line and a block.
    streamBlocksThenOneMessage(115200, 32768 + 23, 4300, 0.95);
}

TEST(LinkEngineTest, TheLargestMessageGoesOnAnEmptyLaneAndNothingAfterIt) {
    SimulatedLink link(linkConfig(115200, 1), linkConfig(115200, 2), 900);
    ASSERT_TRUE(link.runUntil([&] { return bothUp(link); }, 3000));
    LinkEngine& engine = *link.a.engine;
    EXPECT_FALSE(engine.send(QByteArray(LinkEngine::kMaxMessageBytes + 1, 'x')));
    // The largest message above the link (a 1 MiB file block with its own header inside the
    // session's) goes on an empty queue, and nothing more until most of it has gone.
    constexpr qsizetype kLargestSessionMessage = 12 + 11 + 1048576;
    ASSERT_TRUE(engine.canAccept(kLargestSessionMessage));
    ASSERT_TRUE(engine.send(makeMessage(0, kLargestSessionMessage, 9)));
    EXPECT_FALSE(engine.canAccept(20));
    ASSERT_TRUE(link.runUntil([&] { return engine.canAccept(20); }, 200000));
    EXPECT_GE(link.nowMs(), (kLargestSessionMessage - 11520) * 1000 / 11520);
    ASSERT_TRUE(link.runUntil([&] { return link.b.messages.size() == 1; }, 10000));
    EXPECT_EQ(link.b.messages[0], makeMessage(0, kLargestSessionMessage, 9));
}

TEST(LinkEngineTest, PeerThatSendsAnEndlessMessageIsCutOff) {
    LinkEngine engine(linkConfig(115200, 1), 0);
    engine.feed(helloFrom(2, 1), 10);
    ASSERT_TRUE(engine.isUp());
    std::uint16_t seq = 0;
    std::int64_t now = 10;
    // Frames that never say "last": more than the largest message allowed.
    while (engine.isUp() && seq < 400) {
        const QByteArray body = ByteWriter()
                                    .u8(0x20)
                                    .u16(seq++)
                                    .bytes(QByteArray(LinkEngine::kMaxPayloadBytes, 'x'))
                                    .take();
        engine.feed(frame(body), ++now);
    }
    EXPECT_FALSE(engine.isUp());
    EXPECT_LE(seq, LinkEngine::kMaxMessageBytes / LinkEngine::kMaxPayloadBytes + 2);
    const auto events = engine.takeEvents();
    ASSERT_EQ(events.size(), 2U);
    EXPECT_EQ(events[0].kind, LinkEvent::Kind::Up);
    EXPECT_EQ(events[1].kind, LinkEvent::Kind::Down);
    EXPECT_EQ(events[1].reason, LineDown::Lost);

    // A stray acknowledgement for frames never sent changes nothing.
    LinkEngine other(linkConfig(115200, 1), 0);
    other.feed(helloFrom(2, 1), 10);
    ASSERT_TRUE(other.send(QByteArray("abcd")));
    other.takeOutput(20);
    other.feed(frame(QByteArray("\x30\x10\x27", 3)), 30);
    EXPECT_EQ(other.queuedBytes(), 4);
    other.feed(frame(QByteArray("\x30\x01\x00", 3)), 40);
    EXPECT_EQ(other.queuedBytes(), 0);
}

TEST(LinkEngineTest, ZerosThatEndAMessageGoAsTheirCount) {
    // File blocks always have their full length: the last one of a file is mostly padding, the
    // end-of-file block all padding after its header.
    QByteArray lastBlock = makeMessage(1, 32779, 5);
    lastBlock.replace(1500, lastBlock.size() - 1500, QByteArray(lastBlock.size() - 1500, '\0'));
    QByteArray endOfFile(32779, '\0');
    endOfFile[0] = 3;
    QByteArray shortTail = makeMessage(3, 300, 5);
    shortTail.replace(280, 20, QByteArray(20, '\0'));  // too few zeros to be worth a frame
    const std::vector<QByteArray> messages = {lastBlock, endOfFile, shortTail,
                                              QByteArray(5000, '\0'), makeMessage(4, 100, 5)};
    SimulatedLink link(linkConfig(115200, 1), linkConfig(115200, 2), 800);
    std::uint64_t written = 0;
    link.aToB.onWritten = [&written](char) { ++written; };
    ASSERT_TRUE(link.runUntil([&] { return bothUp(link); }, 3000));
    written = 0;
    for (const QByteArray& message : messages) {
        ASSERT_TRUE(link.a.engine->send(message));
    }
    // Everything arrives and is acknowledged: the zeros count as sent bytes.
    ASSERT_TRUE(link.runUntil(
        [&] {
            return link.b.messages.size() == messages.size() && link.a.engine->queuedBytes() == 0;
        },
        60000));
    EXPECT_EQ(link.b.messages, messages);
    // The bytes that are not zero fill, and a few frames' headers.
    EXPECT_LT(written, 1500U + 300 + 100 + 200) << written;

    // A peer that does not say it takes zero-fill frames gets every byte.
    for (const auto& [flags, takesZeroFill] : {std::pair{'\x02', false}, std::pair{'\x06', true}}) {
        LinkEngine engine(linkConfig(115200, 1), 0);
        engine.feed(helloFrom(2, 1, flags), 10);
        ASSERT_TRUE(engine.isUp());
        QByteArray message = makeMessage(5, 600, 5);
        message.replace(100, 500, QByteArray(500, '\0'));
        ASSERT_TRUE(engine.send(message));
        QByteArray out = engine.takeOutput(20);
        out += engine.takeOutput(500);
        EXPECT_EQ(out.size() > 600, !takesZeroFill) << out.size();
    }
}

QByteArray hex(const char* text) {
    return QByteArray::fromHex(QByteArray(text).replace(' ', ""));
}

// The example of docs/serial-link.md, so that a peer written from it talks to this one.
TEST(LinkEngineTest, FirstExchangeIsTheDocumentedBytes) {
    const QByteArray helloA = hex("7E 56 4C 4D 52 01 01 9E 5C 3A 00 00 00 00 1C BE 21 7D 5D 30 7E");
    const QByteArray helloB =
        hex("7E 56 4C 4D 52 01 B2 C4 7D 33 7D 5D 01 9E 5C 3A 1C 26 BB 9C 05 7E");
    const QByteArray upA = hex("7E 56 4C 4D 52 01 01 9E 5C 3A B2 C4 7D 33 7D 5D 1E 25 78 AA C9 7E");
    LinkEngine a(linkConfig(115200, 0x3A5C9E01), 0);
    LinkEngine b(linkConfig(115200, 0x7D13C4B2), 0);
    ASSERT_EQ(a.takeOutput(0), helloA);
    b.takeOutput(0);  // B's own first hello crosses A's
    b.feed(helloA, 10);
    ASSERT_EQ(b.takeOutput(10), helloB);
    a.feed(helloB, 20);
    EXPECT_TRUE(a.isUp());
    ASSERT_EQ(a.takeOutput(20), upA);
    b.feed(upA, 30);
    EXPECT_TRUE(b.isUp());
    EXPECT_TRUE(b.takeOutput(30).isEmpty());
    EXPECT_TRUE(a.lanesAgreed() && a.compressionAgreed());

    ASSERT_TRUE(a.send(QByteArray("hi"), Lane::Interactive));
    const QByteArray chat = a.takeOutput(40);
    EXPECT_EQ(chat, hex("7E 29 00 00 68 69 3B 82 B9 93 7E"));
    b.feed(chat, 50);
    EXPECT_EQ(b.takeOutput(50), hex("7E 30 01 00 C3 0D 31 C2 7E"));
}

}  // namespace
}  // namespace velmora
