#include "session/net/PassphraseKey.h"
#include "session/net/SecureStream.h"

#include <gtest/gtest.h>

namespace velmora {
namespace {

using State = SecureStream::State;
using Failure = SecureStream::Failure;

const QByteArray kSalt(PassphraseKey::kSaltBytes, '\x5a');

QByteArray keyOf(char fill) {
    return QByteArray(PassphraseKey::kKeyBytes, fill);
}

// Carries each side's output to the other until neither has anything to say; the caller gets
// `callerKey` when it asks for one.
void exchange(SecureStream& host, SecureStream& caller, const QByteArray& callerKey) {
    for (int round = 0; round < 20; ++round) {
        const QByteArray toCaller = host.takeOutput();
        caller.feed(toCaller);
        if (caller.state() == State::NeedKey) {
            EXPECT_EQ(caller.salt(), kSalt);
            caller.setKey(callerKey);
        }
        const QByteArray toHost = caller.takeOutput();
        host.feed(toHost);
        if (toCaller.isEmpty() && toHost.isEmpty()) {
            return;
        }
    }
    ADD_FAILURE() << "the two sides never stopped talking";
}

TEST(SecureStreamTest, TheSameKeyOpensAnEncryptedStreamBothWaysUntilClosed) {
    SecureStream host = SecureStream::host(kSalt, keyOf('k'));
    SecureStream caller = SecureStream::caller();
    exchange(host, caller, keyOf('k'));
    ASSERT_EQ(host.state(), State::Open);
    ASSERT_EQ(caller.state(), State::Open);

    const QByteArray text = QByteArrayLiteral("a line that must not be seen on the wire");
    ASSERT_TRUE(caller.write(text));
    const QByteArray wire = caller.takeOutput();
    EXPECT_FALSE(wire.contains("must not be seen"));
    host.feed(wire);
    EXPECT_EQ(host.takePlain(), text);

    // Larger than one record, the other way.
    QByteArray block(100000, '\0');
    for (int i = 0; i < block.size(); ++i) {
        block[i] = static_cast<char>(i * 7);
    }
    ASSERT_TRUE(host.write(block));
    const QByteArray blockWire = host.takeOutput();
    // Fed in odd pieces, as a socket hands them over.
    for (qsizetype at = 0; at < blockWire.size(); at += 999) {
        caller.feed(blockWire.mid(at, 999));
    }
    EXPECT_EQ(caller.takePlain(), block);

    host.close();
    caller.feed(host.takeOutput());
    EXPECT_EQ(caller.state(), State::Ended);
    EXPECT_EQ(caller.failure(), Failure::PeerClosed);
    EXPECT_FALSE(caller.write("late"));
}

TEST(SecureStreamTest, ADifferentKeyIsRefusedOnBothSidesAndNothingPasses) {
    SecureStream host = SecureStream::host(kSalt, keyOf('k'));
    SecureStream caller = SecureStream::caller();
    exchange(host, caller, keyOf('x'));
    EXPECT_EQ(host.state(), State::Ended);
    EXPECT_EQ(host.failure(), Failure::WrongPassphrase);
    EXPECT_EQ(caller.state(), State::Ended);
    EXPECT_EQ(caller.failure(), Failure::WrongPassphrase);
    EXPECT_FALSE(caller.write("secret"));
    EXPECT_TRUE(host.takePlain().isEmpty());
}

TEST(SecureStreamTest, GreetingsOfOthersAreToldApart) {
    {
        SecureStream host = SecureStream::host(kSalt, keyOf('k'));
        host.feed("GET / HTTP/1.1\r\n");
        EXPECT_EQ(host.failure(), Failure::NotVelmora);
    }
    {
        // A wrong first byte is enough: the host does not wait for more.
        SecureStream host = SecureStream::host(kSalt, keyOf('k'));
        host.feed("X");
        EXPECT_EQ(host.failure(), Failure::NotVelmora);
    }
    {
        SecureStream host = SecureStream::host(kSalt, keyOf('k'));
        host.feed(QByteArrayLiteral("VMNT\x02\x00"));
        EXPECT_EQ(host.failure(), Failure::OtherVersion);
        EXPECT_EQ(host.peerVersion(), 2);
    }
    {
        SecureStream caller = SecureStream::caller();
        caller.feed(QByteArrayLiteral("VMNT\x07\x00") + kSalt);
        EXPECT_EQ(caller.failure(), Failure::OtherVersion);
    }
    {
        // Half a greeting: still waiting, nothing decided.
        SecureStream caller = SecureStream::caller();
        caller.feed("VMN");
        EXPECT_EQ(caller.state(), State::Greeting);
    }
}

TEST(SecureStreamTest, ATamperedRecordBreaksTheStream) {
    SecureStream host = SecureStream::host(kSalt, keyOf('k'));
    SecureStream caller = SecureStream::caller();
    exchange(host, caller, keyOf('k'));
    ASSERT_TRUE(caller.write("transfer 100"));
    QByteArray wire = caller.takeOutput();
    wire[wire.size() - 20] = static_cast<char>(wire[wire.size() - 20] ^ 1);
    host.feed(wire);
    EXPECT_EQ(host.failure(), Failure::Broken);
    EXPECT_TRUE(host.takePlain().isEmpty());
}

TEST(SecureStreamTest, ThePassphraseGivesTheSameKeyUnderTheSameSaltOnly) {
    const auto one = PassphraseKey::derive(QStringLiteral("correct horse"), kSalt);
    const auto again = PassphraseKey::derive(QStringLiteral("correct horse"), kSalt);
    const auto otherSalt =
        PassphraseKey::derive(QStringLiteral("correct horse"), PassphraseKey::randomSalt());
    const auto otherText = PassphraseKey::derive(QStringLiteral("correct horsf"), kSalt);
    ASSERT_TRUE(one && again && otherSalt && otherText);
    EXPECT_EQ(one->key.size(), PassphraseKey::kKeyBytes);
    EXPECT_EQ(one->key, again->key);
    EXPECT_NE(one->key, otherSalt->key);
    EXPECT_NE(one->key, otherText->key);
    EXPECT_FALSE(PassphraseKey::derive(QStringLiteral("x"), QByteArray(3, 'a')));
}

}  // namespace
}  // namespace velmora
