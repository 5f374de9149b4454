#pragma once

// The virtual null-modem cable as the tests set it up: in a temporary folder of the test's own.

#include "cable/NullModemCable.h"
#include "support/TestEnvironment.h"

#include <QString>

#include <filesystem>

namespace velmora::test {

// A cable whose links are made in a new temporary folder named after `prefix`, at `baud`
// (0: as fast as the terminals take the bytes).
inline CableOptions cableIn(const QString& prefix, int baud = 0) {
    CableOptions options;
    options.directory = makeTempFolder(prefix).toStdString();
    options.line.baud = baud;
    return options;
}

// The device path of one of the cable's links, as a program is given it.
inline QString linkPath(const std::filesystem::path& link) {
    return QString::fromStdString(link.string());
}

}  // namespace velmora::test
