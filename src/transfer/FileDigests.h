#pragma once

#include "transfer/Transfer.h"

#include <QByteArray>
#include <QFile>

namespace velmora {

// How much of a resumed prefix is read and hashed at a time on the UI thread: small enough that
// the window never stutters, large enough that a long prefix does not take many cycles.
inline constexpr qint64 kHashSliceBytes = qint64{1} << 20;

enum class PrefixSlice { More, Done, Failed };

// Reads the next slice of the transfer's prefix from file, which stands where the last slice
// ended, into both its Digest and its PrefixDigest.
PrefixSlice hashPrefixSlice(TTransfer& transfer, QFile& file);

// The SHA-256 of no bytes: the digest of an empty prefix.
QByteArray emptyDigest();

}  // namespace velmora
