#include "session/net/PassphraseKey.h"

#include <sodium.h>

namespace velmora {

std::optional<PassphraseKey> PassphraseKey::derive(const QString& passphrase,
                                                   const QByteArray& salt) {
    if (sodium_init() < 0 || salt.size() != kSaltBytes) {
        return std::nullopt;
    }
    static_assert(kSaltBytes == crypto_pwhash_SALTBYTES);
    const QByteArray text = passphrase.toUtf8();
    QByteArray key(kKeyBytes, '\0');
    if (crypto_pwhash(reinterpret_cast<unsigned char*>(key.data()), kKeyBytes, text.constData(),
                      static_cast<unsigned long long>(text.size()),
                      reinterpret_cast<const unsigned char*>(salt.constData()),
                      crypto_pwhash_OPSLIMIT_INTERACTIVE, crypto_pwhash_MEMLIMIT_INTERACTIVE,
                      crypto_pwhash_ALG_ARGON2ID13) != 0) {
        return std::nullopt;
    }
    return PassphraseKey{salt, key};
}

QByteArray PassphraseKey::randomSalt() {
    QByteArray salt(kSaltBytes, '\0');
    if (sodium_init() >= 0) {
        randombytes_buf(salt.data(), kSaltBytes);
    }
    return salt;
}

}  // namespace velmora
