#pragma once

#include "session/DXPlayPlayer.h"

namespace velmora {

// The other participant of a session: with no open session or fewer than two participants the
// first one, else the second when the first is the local one, else the first. Null when there
// is no participant at all.
TDXPlayPlayer* opponentOf(bool opened, const TDXPlayPlayers& players,
                          const TDXPlayPlayer* localPlayer);

}  // namespace velmora
