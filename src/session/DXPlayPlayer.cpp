#include "session/DXPlayPlayer.h"

#include "session/DXPlayError.h"

namespace velmora {

int TDXPlayPlayers::IndexOf(DPID id) const {
    for (std::size_t i = 0; i < m_items.size(); ++i) {
        if (m_items[i]->ID == id) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

std::shared_ptr<TDXPlayPlayer> TDXPlayPlayers::FindShared(DPID id) const {
    const int index = IndexOf(id);
    if (index < 0) {
        throw EDXPlayError(QStringLiteral("Player's specified ID is not found"));
    }
    return Share(index);
}

std::shared_ptr<TDXPlayPlayer> TDXPlayPlayers::Add(DPID id, const QString& name, bool remote) {
    auto player = std::make_shared<TDXPlayPlayer>(TDXPlayPlayer{id, name, remote});
    m_items.push_back(player);
    return player;
}

void TDXPlayPlayers::Remove(const TDXPlayPlayer* player) {
    std::erase_if(m_items, [player](const auto& item) { return item.get() == player; });
}

}  // namespace velmora
