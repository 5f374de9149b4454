#pragma once

// The emulated telephone exchange as the modem tests set it up.

#include "modem-exchange/ModemExchange.h"

#include <cstdint>

namespace velmora::test {

// Quick rings and handshakes, and a guard time shorter than the dialer's, which that satisfies.
// The caller gives up after noAnswerMs; long enough by default for the host's modem to finish
// hanging up after one call and to answer the next.
inline ExchangeSettings quickExchange(std::uint32_t noAnswerMs = 30000) {
    ExchangeSettings settings;
    settings.rateBps = 56000;
    settings.ringIntervalMs = 100;
    settings.noAnswerMs = noAnswerMs;
    settings.handshakeMs = 50;
    settings.guardTimeMs = 100;
    return settings;
}

}  // namespace velmora::test
