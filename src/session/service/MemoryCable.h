#pragma once

#include "session/Line.h"
#include "session/ServiceProvider.h"

#include <cstddef>
#include <memory>

namespace velmora {

class MemoryCableState;

// Two lines joined inside one process, for tests and demonstrations: what one end sends, the
// other end's listener receives on that end's own thread, whole and in order. Each end takes a
// bounded number of bytes not yet delivered; beyond that send() blocks until the other side has
// taken some, as a real line paces its senders.
//
// The cable has two sides, A and B. An end is plugged into a free side; the line comes up when
// both sides have a started end. An end plugged as Listening behaves like a host's line: when
// the other end says goodbye it stays plugged and comes up again with the next end plugged into
// the other side. An end plugged as Calling ends with the other side's goodbye.
//
// MemoryCable is a handle: copies refer to the same cable.
class MemoryCable {
public:
    enum class Side { A = 0, B = 1 };
    enum class Mode { Calling, Listening };

    static constexpr std::size_t kDefaultQueueBytes = 256 * 1024;

    explicit MemoryCable(std::size_t queueBytes = kDefaultQueueBytes);

    // A new end in that side; nullptr when the side already has one.
    std::unique_ptr<Line> plug(Side side, Mode mode) const;
    // A provider named "Memory cable" whose connect() and listen() plug into that side.
    ProviderEntry providerEntry(Side side) const;
    // Both ends plugged now see lineDown(Lost); what was not yet delivered is lost. Both sides
    // are free again afterwards.
    void cut() const;

private:
    std::shared_ptr<MemoryCableState> m_state;
};

}  // namespace velmora
