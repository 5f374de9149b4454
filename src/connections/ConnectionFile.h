#pragma once

#include <QString>

#include <optional>

namespace velmora {

// The values of a connection file's [Connection] section.
struct ConnectionSettings {
    // 0 = modem provider, 1 = serial provider, 2 = network (TCP/IP). Always set after reading
    // (0 when missing); left out when writing a connection whose provider is none of them.
    std::optional<int> Provider;
    QString SessionName;
    QString ModemName;
    QString PhoneNumber;
    int IsHost = 0;  // 0 when this side hosted, 1 when it joined
    // Network only, written after the others: the host to call, or the address listened on
    // (empty: the loopback address), and the port. A version that knows two methods reads a
    // Provider of 2 as its last one and passes over these keys.
    QString HostName;
    int Port = 0;
};

inline constexpr int NetworkProviderIndex = 2;

namespace ConnectionFile {

inline const QString Extension = QStringLiteral(".vmc");
inline const QString Section = QStringLiteral("Connection");

// The name with ".vmc" appended unless it already contains ".vmc" somewhere (case-sensitive).
QString withExtension(const QString& fileName);

// An integer value as the profile functions read it: decimal, or hexadecimal after "0x", "0X" or
// "$"; a leading minus is allowed. Anything else, or a number outside the 32-bit range, is 0.
int readInteger(const QString& text);

// Reads the file; a missing, unreadable, binary or oversized file gives the defaults.
ConnectionSettings read(const QString& path);

// Writes the keys in their order into the file, keeping every other section and key of an
// existing file. False when the file could not be written.
bool write(const QString& path, const ConnectionSettings& settings);

}  // namespace ConnectionFile

}  // namespace velmora
