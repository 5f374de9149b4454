#include "session/net/SecureStream.h"

#include <openssl/err.h>
#include <openssl/ssl.h>

#include <algorithm>
#include <cstring>
#include <utility>

namespace velmora {

namespace {

// The one identity both sides name for the pre-shared key.
constexpr unsigned char kIdentity[] = "velmora-passphrase";
constexpr size_t kIdentityBytes = sizeof kIdentity - 1;
// TLS_AES_128_GCM_SHA256, the one suite offered.
constexpr unsigned char kSuiteId[2] = {0x13, 0x01};
constexpr char kSuiteName[] = "TLS_AES_128_GCM_SHA256";
constexpr int kReadChunk = 16384;

struct CtxFree {
    void operator()(SSL_CTX* ctx) const { SSL_CTX_free(ctx); }
};
struct SslFree {
    void operator()(SSL* ssl) const { SSL_free(ssl); }
};

SSL_SESSION* pskSession(SSL* ssl, const QByteArray& key) {
    const SSL_CIPHER* cipher = SSL_CIPHER_find(ssl, kSuiteId);
    SSL_SESSION* session = SSL_SESSION_new();
    if (cipher == nullptr || session == nullptr ||
        SSL_SESSION_set1_master_key(session, reinterpret_cast<const unsigned char*>(key.data()),
                                    static_cast<size_t>(key.size())) != 1 ||
        SSL_SESSION_set_cipher(session, cipher) != 1 ||
        SSL_SESSION_set_protocol_version(session, TLS1_3_VERSION) != 1) {
        SSL_SESSION_free(session);
        return nullptr;
    }
    return session;
}

const QByteArray* keyOf(SSL* ssl) {
    return static_cast<const QByteArray*>(SSL_get_app_data(ssl));
}

// Caller: offers the key under the one identity.
int useSession(SSL* ssl, const EVP_MD* md, const unsigned char** id, size_t* idLength,
               SSL_SESSION** session) {
    *id = nullptr;
    *idLength = 0;
    *session = nullptr;
    SSL_SESSION* ours = pskSession(ssl, *keyOf(ssl));
    if (ours == nullptr) {
        return 0;
    }
    if (md != nullptr && SSL_CIPHER_get_handshake_digest(SSL_SESSION_get0_cipher(ours)) != md) {
        SSL_SESSION_free(ours);  // not usable with the suite chosen: offered no key
        return 1;
    }
    *id = kIdentity;
    *idLength = kIdentityBytes;
    *session = ours;
    return 1;
}

// Host: knows the key under the one identity only.
int findSession(SSL* ssl, const unsigned char* identity, size_t identityLength,
                SSL_SESSION** session) {
    *session = nullptr;
    if (identityLength != kIdentityBytes || std::memcmp(identity, kIdentity, kIdentityBytes) != 0) {
        return 1;  // unknown identity: the handshake fails for want of a certificate
    }
    *session = pskSession(ssl, *keyOf(ssl));
    return *session != nullptr ? 1 : 0;
}

// Whether a failed handshake's error says that the keys differ: the host finds the caller's
// proof of the key (the binder) wrong, and answers with an alert, "illegal parameter" from
// OpenSSL 3.0, "decrypt error" from later versions and other libraries.
bool refusesTheKey(int reason) {
    return reason == SSL_R_BINDER_DOES_NOT_VERIFY ||
           reason == SSL_AD_REASON_OFFSET + SSL_AD_ILLEGAL_PARAMETER ||
           reason == SSL_AD_REASON_OFFSET + SSL_AD_DECRYPT_ERROR;
}

}  // namespace

struct SecureStream::Tls {
    std::unique_ptr<SSL_CTX, CtxFree> ctx;
    std::unique_ptr<SSL, SslFree> ssl;
    BIO* in = nullptr;   // owned by ssl
    BIO* out = nullptr;  // owned by ssl
    QByteArray key;      // where the callbacks find it, whatever moves the stream
};

SecureStream::SecureStream(Role role) : m_role(role) {}
SecureStream::SecureStream(SecureStream&&) noexcept = default;
SecureStream& SecureStream::operator=(SecureStream&&) noexcept = default;
SecureStream::~SecureStream() = default;

SecureStream SecureStream::host(const QByteArray& salt, const QByteArray& key) {
    SecureStream stream(Role::Host);
    stream.m_salt = salt;
    stream.m_key = key;
    stream.m_output.append(kMagic, sizeof kMagic);
    stream.m_output.append(static_cast<char>(kVersion));
    stream.m_output.append('\0');  // flags: none defined
    stream.m_output.append(salt);
    return stream;
}

SecureStream SecureStream::caller() {
    return SecureStream(Role::Caller);
}

void SecureStream::fail(Failure failure) {
    m_state = State::Ended;
    m_failure = failure;
    m_input.clear();
}

void SecureStream::feed(QByteArrayView bytes) {
    switch (m_state) {
        case State::Greeting:
        case State::NeedKey:
            m_input.append(bytes);
            if (m_state == State::Greeting) {
                readGreeting();
            }
            return;
        case State::Handshaking:
        case State::Open:
            if (!bytes.isEmpty()) {
                BIO_write(m_tls->in, bytes.data(), static_cast<int>(bytes.size()));
            }
            step();
            return;
        case State::Ended:
            return;
    }
}

void SecureStream::readGreeting() {
    const int need = m_role == Role::Host ? kCallerGreetingBytes : kHostGreetingBytes;
    // A wrong magic is told as soon as its first bytes differ.
    const qsizetype magicBytes = std::min<qsizetype>(m_input.size(), sizeof kMagic);
    if (std::memcmp(m_input.constData(), kMagic, static_cast<size_t>(magicBytes)) != 0) {
        fail(Failure::NotVelmora);
        return;
    }
    if (m_input.size() < need) {
        return;
    }
    m_peerVersion = static_cast<std::uint8_t>(m_input[4]);
    if (m_peerVersion != kVersion) {
        fail(Failure::OtherVersion);
        return;
    }
    if (m_role == Role::Caller) {
        m_salt = m_input.mid(6, 16);
        m_input.remove(0, need);
        m_state = State::NeedKey;
        return;  // the host waits for our greeting and hello: nothing more can have come
    }
    m_input.remove(0, need);
    startTls();
}

void SecureStream::setKey(const QByteArray& key) {
    if (m_role != Role::Caller || m_state != State::NeedKey) {
        return;
    }
    m_key = key;
    m_output.append(kMagic, sizeof kMagic);
    m_output.append(static_cast<char>(kVersion));
    m_output.append('\0');
    startTls();
}

void SecureStream::startTls() {
    m_state = State::Handshaking;
    auto tls = std::make_unique<Tls>();
    tls->key = std::exchange(m_key, {});
    tls->ctx.reset(SSL_CTX_new(m_role == Role::Host ? TLS_server_method() : TLS_client_method()));
    if (!tls->ctx) {
        fail(Failure::Broken);
        return;
    }
    SSL_CTX* ctx = tls->ctx.get();
    SSL_CTX_set_min_proto_version(ctx, TLS1_3_VERSION);
    SSL_CTX_set_max_proto_version(ctx, TLS1_3_VERSION);
    SSL_CTX_set_ciphersuites(ctx, kSuiteName);
    // No tickets: every connection proves the passphrase again.
    SSL_CTX_set_num_tickets(ctx, 0);
    SSL_CTX_set_options(ctx, SSL_OP_NO_TICKET);
    if (m_role == Role::Host) {
        SSL_CTX_set_psk_find_session_callback(ctx, findSession);
    } else {
        SSL_CTX_set_psk_use_session_callback(ctx, useSession);
        // The host has no certificate, and the caller trusts none: a host without the key
        // cannot finish the handshake with one.
        SSL_CTX_set_verify(ctx, SSL_VERIFY_PEER, nullptr);
    }
    tls->ssl.reset(SSL_new(ctx));
    tls->in = BIO_new(BIO_s_mem());
    tls->out = BIO_new(BIO_s_mem());
    if (!tls->ssl || tls->in == nullptr || tls->out == nullptr) {
        BIO_free(tls->in);
        BIO_free(tls->out);
        fail(Failure::Broken);
        return;
    }
    SSL_set_bio(tls->ssl.get(), tls->in, tls->out);
    SSL_set_app_data(tls->ssl.get(), &tls->key);
    if (m_role == Role::Host) {
        SSL_set_accept_state(tls->ssl.get());
    } else {
        SSL_set_connect_state(tls->ssl.get());
    }
    m_tls = std::move(tls);
    // What came behind the greeting belongs to the handshake.
    const QByteArray rest = std::exchange(m_input, {});
    feed(rest);
}

void SecureStream::step() {
    SSL* ssl = m_tls->ssl.get();
    ERR_clear_error();
    if (m_state == State::Handshaking) {
        const int done = SSL_do_handshake(ssl);
        if (done != 1) {
            const int error = SSL_get_error(ssl, done);
            if (error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE) {
                drainTlsOutput();
                return;
            }
            const int reason = ERR_GET_REASON(ERR_peek_error());
            drainTlsOutput();  // the alert that tells the other side
            ERR_clear_error();
            fail(refusesTheKey(reason) ? Failure::WrongPassphrase : Failure::Broken);
            return;
        }
        if (SSL_session_reused(ssl) != 1) {
            // Finished without the key: never accepted, whatever the other side sent.
            drainTlsOutput();
            fail(Failure::Broken);
            return;
        }
        m_state = State::Open;
    }
    char chunk[kReadChunk];
    for (;;) {
        const int count = SSL_read(ssl, chunk, sizeof chunk);
        if (count > 0) {
            m_plain.append(chunk, count);
            continue;
        }
        const int error = SSL_get_error(ssl, count);
        if (error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE) {
            break;
        }
        ERR_clear_error();
        drainTlsOutput();
        fail(error == SSL_ERROR_ZERO_RETURN ? Failure::PeerClosed : Failure::Broken);
        return;
    }
    drainTlsOutput();
}

void SecureStream::drainTlsOutput() {
    char chunk[kReadChunk];
    for (;;) {
        const int count = BIO_read(m_tls->out, chunk, sizeof chunk);
        if (count <= 0) {
            return;
        }
        m_output.append(chunk, count);
    }
}

bool SecureStream::write(QByteArrayView plain) {
    if (m_state != State::Open) {
        return false;
    }
    if (plain.isEmpty()) {
        return true;
    }
    ERR_clear_error();
    const int written = SSL_write(m_tls->ssl.get(), plain.data(), static_cast<int>(plain.size()));
    drainTlsOutput();
    if (written != static_cast<int>(plain.size())) {
        ERR_clear_error();
        fail(Failure::Broken);
        return false;
    }
    return true;
}

void SecureStream::close() {
    if (m_state == State::Open) {
        SSL_shutdown(m_tls->ssl.get());
        drainTlsOutput();
        ERR_clear_error();
    }
    if (m_state != State::Ended) {
        fail(Failure::None);
    }
}

QByteArray SecureStream::takeOutput() {
    return std::exchange(m_output, {});
}

QByteArray SecureStream::takePlain() {
    return std::exchange(m_plain, {});
}

}  // namespace velmora
