#include "peer/Opponent.h"

namespace velmora {

TDXPlayPlayer* opponentOf(bool opened, const TDXPlayPlayers& players,
                          const TDXPlayPlayer* localPlayer) {
    if (players.Count() == 0) {
        return nullptr;
    }
    if (!opened || players.Count() < 2) {
        return &players.Items(0);
    }
    return &players.Items(0) == localPlayer ? &players.Items(1) : &players.Items(0);
}

}  // namespace velmora
