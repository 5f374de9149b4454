#pragma once

#include "session/Transport.h"

#include <QString>

#include <memory>
#include <vector>

namespace velmora {

// One participant of the session.
struct TDXPlayPlayer {
    DPID ID = 0;  // never 0: as a sender 0 marks a system notice, as a destination all players
    QString Name;
    bool RemotePlayer = false;  // false for this side's own participant
};

// The ordered participants, owned; new ones are appended. Each is held by a shared pointer so
// that a sending thread that took the local participant keeps it alive through a close.
class TDXPlayPlayers {
public:
    int Count() const { return static_cast<int>(m_items.size()); }
    TDXPlayPlayer& Items(int index) const { return *m_items.at(static_cast<std::size_t>(index)); }
    // The index of the first participant with that ID, or -1.
    int IndexOf(DPID id) const;
    // Raises "Player's specified ID is not found".
    TDXPlayPlayer& Find(DPID id) const { return *FindShared(id); }
    // As Find, kept alive by the caller even if it is removed meanwhile.
    std::shared_ptr<TDXPlayPlayer> FindShared(DPID id) const;

    std::shared_ptr<TDXPlayPlayer> Add(DPID id, const QString& name, bool remote);
    // The participant at that index, kept alive by the caller even if it is removed meanwhile.
    std::shared_ptr<TDXPlayPlayer> Share(int index) const {
        return m_items.at(static_cast<std::size_t>(index));
    }
    void Remove(const TDXPlayPlayer* player);
    void Clear() { m_items.clear(); }

private:
    std::vector<std::shared_ptr<TDXPlayPlayer>> m_items;
};

}  // namespace velmora
