#pragma once

#include <QByteArray>
#include <QByteArrayView>

#include <cstdint>
#include <memory>

namespace velmora {

// One side of a network line's protection: a short greeting in the clear that carries the
// host's salt, then TLS 1.3 (OpenSSL) authenticated by an external pre-shared key, the key both
// sides derived from the passphrase (PassphraseKey). Only a peer that knows the passphrase
// finishes the handshake; every byte after it is encrypted and authenticated.
//
// It does no I/O and reads no clock: the owner feeds it the bytes read from the socket, sends
// what takeOutput() returns, and reads the other side's plain bytes from takePlain(). A caller
// learns the host's salt from the greeting (state NeedKey), derives the key (slow) and gives it
// with setKey(). The wire format is in docs/network-line.md.
class SecureStream {
public:
    enum class Role { Host, Caller };
    enum class State {
        Greeting,     // waiting for the other side's greeting
        NeedKey,      // caller: the salt is known, the key is wanted
        Handshaking,  // the TLS handshake runs
        Open,         // plain bytes flow both ways
        Ended,        // the other side closed, or this side failed: failure() says which
    };
    enum class Failure {
        None,
        NotVelmora,       // the greeting is not a Velmora network line's
        OtherVersion,     // the greeting names a version this side does not speak
        WrongPassphrase,  // the key proof failed: the passphrases differ
        Broken,           // any other fault of the handshake or of a record
        PeerClosed,       // the other side ended the stream in order
    };

    static constexpr std::uint8_t kVersion = 1;
    static constexpr char kMagic[4] = {'V', 'M', 'N', 'T'};
    static constexpr int kHostGreetingBytes = 22;   // magic, version, flags, 16-byte salt
    static constexpr int kCallerGreetingBytes = 6;  // magic, version, flags

    // A host sends its greeting at once (in takeOutput()).
    static SecureStream host(const QByteArray& salt, const QByteArray& key);
    static SecureStream caller();

    SecureStream(SecureStream&&) noexcept;
    SecureStream& operator=(SecureStream&&) noexcept;
    ~SecureStream();

    // Bytes read from the socket.
    void feed(QByteArrayView bytes);
    // Caller in NeedKey: the key derived from the passphrase under salt().
    void setKey(const QByteArray& key);
    // Open: plain bytes for the other side.
    bool write(QByteArrayView plain);
    // Open: ends the stream in order (a TLS close_notify goes out).
    void close();

    // Bytes to send on the socket now.
    QByteArray takeOutput();
    // The other side's plain bytes received so far.
    QByteArray takePlain();
    qsizetype plainBytesAvailable() const { return m_plain.size(); }

    Role role() const { return m_role; }
    State state() const { return m_state; }
    Failure failure() const { return m_failure; }
    QByteArray salt() const { return m_salt; }
    // The greeting's version when it was another.
    std::uint8_t peerVersion() const { return m_peerVersion; }

private:
    struct Tls;

    explicit SecureStream(Role role);
    void readGreeting();
    void startTls();
    void step();
    void fail(Failure failure);
    void drainTlsOutput();

    Role m_role;
    State m_state = State::Greeting;
    Failure m_failure = Failure::None;
    QByteArray m_input;  // before TLS: the greeting not yet whole
    QByteArray m_output;
    QByteArray m_plain;
    QByteArray m_salt;
    QByteArray m_key;  // until the handshake takes it
    std::uint8_t m_peerVersion = 0;
    std::unique_ptr<Tls> m_tls;
};

}  // namespace velmora
