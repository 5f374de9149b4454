#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

namespace velmora {

// The key both sides of a network line derive from the passphrase: Argon2id (libsodium's
// crypto_pwhash, its "interactive" cost: 2 passes over 64 MiB) of the passphrase's UTF-8 bytes
// under the host's salt. Slow on purpose: each guess of an eavesdropper costs the same.
struct PassphraseKey {
    static constexpr int kSaltBytes = 16;
    static constexpr int kKeyBytes = 32;

    // Nothing when the memory for the derivation cannot be had.
    static std::optional<PassphraseKey> derive(const QString& passphrase, const QByteArray& salt);
    // A fresh random salt, from the system's random source.
    static QByteArray randomSalt();

    QByteArray salt;
    QByteArray key;
};

}  // namespace velmora
