#include "transfer/FileDigests.h"

#include <algorithm>

namespace velmora {

PrefixSlice hashPrefixSlice(TTransfer& transfer, QFile& file) {
    const qint64 want =
        std::min<qint64>(kHashSliceBytes, transfer.PrefixLength - transfer.PrefixHashed);
    QByteArray slice(want, Qt::Uninitialized);
    const qint64 got = file.read(slice.data(), want);
    // A prefix that ends early (the file shrank meanwhile) cannot be read back either.
    if (got != want) {
        return PrefixSlice::Failed;
    }
    transfer.Digest->addData(slice);
    transfer.PrefixDigest->addData(slice);
    transfer.PrefixHashed += static_cast<std::int32_t>(got);
    return transfer.hashingPrefix() ? PrefixSlice::More : PrefixSlice::Done;
}

QByteArray emptyDigest() {
    return QCryptographicHash::hash({}, QCryptographicHash::Sha256);
}

}  // namespace velmora
