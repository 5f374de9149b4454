#pragma once

#include <QString>

#include <cstdint>

namespace velmora {

// The few words a line shows, and the conversation repeats, for why a transfer was refused or
// stopped: by the other side, named who, or by this side when who is empty. detail is the
// system's own words, when there are any; a detail from the other side is shown with its control
// characters made visible.
QString reasonWords(std::uint8_t code, const QString& detail, const QString& who);

}  // namespace velmora
