// The network line's protection and the framing over it. A third of the inputs are bytes from a
// stranger to a host: whatever arrives, the host never opens the stream and never yields a plain
// byte. A third are a host's greeting (often a good one) and then bytes from a stranger to a
// caller that has the key: the same must hold. The rest run two real ends with one key through
// the handshake, then carry link frames one way, the encrypted bytes cut into reads as the input
// says and perhaps one byte changed on the way: unchanged, the receiver gets exactly the plain
// bytes sent, and the link's frame decoder finds in them the frames that were encoded; changed,
// the stream breaks and what came before the change is all that passed.

#include "FuzzSupport.h"

#include "session/link/FrameCodec.h"
#include "session/net/SecureStream.h"

#include <vector>

using velmora::FrameCodec;
using velmora::SecureStream;
using velmora::fuzz::check;
using velmora::fuzz::FuzzInput;

namespace {

const QByteArray kSalt(16, '\x33');
const QByteArray kKey(32, '\x44');

void checkShut(const SecureStream& stream) {
    check(stream.state() != SecureStream::State::Open, "a stranger never opens the stream");
}

void fuzzHost(FuzzInput& input) {
    SecureStream host = SecureStream::host(kSalt, kKey);
    (void)host.takeOutput();
    while (!input.atEnd() && host.state() != SecureStream::State::Ended) {
        host.feed(input.chunk(600));
        (void)host.takeOutput();
        checkShut(host);
        check(host.takePlain().isEmpty(), "nothing passes before the handshake");
    }
}

void fuzzCaller(FuzzInput& input) {
    SecureStream caller = SecureStream::caller();
    QByteArray greeting =
        QByteArray(SecureStream::kMagic, 4) + char(SecureStream::kVersion) + char(0) + kSalt;
    if (input.flag()) {
        greeting = input.chunk(30);
    }
    caller.feed(greeting);
    if (caller.state() == SecureStream::State::NeedKey) {
        caller.setKey(kKey);
    }
    while (!input.atEnd() && caller.state() != SecureStream::State::Ended) {
        caller.feed(input.chunk(600));
        (void)caller.takeOutput();
        checkShut(caller);
        check(caller.takePlain().isEmpty(), "nothing passes before the handshake");
    }
}

void fuzzFramesOverTheStream(FuzzInput& input) {
    SecureStream host = SecureStream::host(kSalt, kKey);
    SecureStream caller = SecureStream::caller();
    for (int round = 0; round < 10; ++round) {
        caller.feed(host.takeOutput());
        if (caller.state() == SecureStream::State::NeedKey) {
            caller.setKey(kKey);
        }
        host.feed(caller.takeOutput());
    }
    check(host.state() == SecureStream::State::Open && caller.state() == SecureStream::State::Open,
          "two ends with one key open the stream");

    const bool escapeXonXoff = input.flag();
    std::vector<QByteArray> bodies;
    QByteArray plain;
    for (int frames = 1 + input.pick(8); frames > 0; --frames) {
        QByteArray body = input.chunk(300);
        if (body.isEmpty()) {
            body = "x";
        }
        bodies.push_back(body);
        FrameCodec::encode(body, escapeXonXoff, plain);
    }
    // Written in a few pieces, each its own records.
    for (qsizetype at = 0, step = 1 + input.pick(200); at < plain.size(); at += step) {
        check(caller.write(QByteArrayView(plain).sliced(at, std::min(step, plain.size() - at))),
              "an open stream takes what is written");
    }
    QByteArray wire = caller.takeOutput();
    const bool tamper = input.flag() && !wire.isEmpty();
    if (tamper) {
        const qsizetype at = input.u16() % wire.size();
        wire[at] = static_cast<char>(wire[at] ^ (1 | input.u8()));
    }
    QByteArray received;
    for (qsizetype at = 0; at < wire.size() && host.state() == SecureStream::State::Open;) {
        const qsizetype step = std::min<qsizetype>(1 + input.pick(255) * 16, wire.size() - at);
        host.feed(QByteArrayView(wire).sliced(at, step));
        received += host.takePlain();
        at += step;
    }
    if (!tamper) {
        check(host.state() == SecureStream::State::Open, "an untouched stream stays open");
        check(received == plain, "the plain bytes arrive as they were sent");
        FrameCodec decoder(escapeXonXoff, 4099);
        check(decoder.decode(received) == bodies, "the frames arrive as they were encoded");
    } else {
        check(host.state() == SecureStream::State::Ended, "a changed record breaks the stream");
        check(plain.startsWith(received), "only what came before the change passes");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzInput input(data, size);
    switch (input.pick(3)) {
        case 0:
            fuzzHost(input);
            break;
        case 1:
            fuzzCaller(input);
            break;
        default:
            fuzzFramesOverTheStream(input);
            break;
    }
    return 0;
}
