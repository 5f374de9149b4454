#include "session/service/MemoryCable.h"

#include "session/service/MemoryProvider.h"

#include <array>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

namespace velmora {

namespace {

// How long a graceful close waits for the other end to take what was sent.
constexpr auto kCloseWait = std::chrono::seconds(10);

int other(int side) {
    return 1 - side;
}

}  // namespace

class MemoryCableEnd;

// Everything the ends of one cable share, under one mutex.
class MemoryCableState {
public:
    explicit MemoryCableState(std::size_t queueBytes) : queueBytes(queueBytes) {}

    std::mutex mutex;
    std::condition_variable changed;
    const std::size_t queueBytes;
    std::array<MemoryCableEnd*, 2> sides{};
};

class MemoryCableEnd : public Line {
public:
    MemoryCableEnd(std::shared_ptr<MemoryCableState> state, int side, MemoryCable::Mode mode)
        : m_state(std::move(state)), m_side(side), m_mode(mode) {}

    ~MemoryCableEnd() override {
        {
            const std::lock_guard lock(m_state->mutex);
            // Going away without a goodbye looks to the other side like a pulled cable.
            if (MemoryCableEnd* peer = linkedPeer()) {
                unlink(*peer);
                peer->push({Event::Down, {}, LineDown::Lost});
                if (peer->m_mode == MemoryCable::Mode::Calling) {
                    peer->unplug();
                }
            }
            unplug();
            m_stopping = true;
        }
        m_state->changed.notify_all();
        if (m_thread.joinable()) {
            m_thread.join();
        }
    }

    void start(LineListener* listener) override {
        {
            const std::lock_guard lock(m_state->mutex);
            if (m_started || m_listener != nullptr) {
                return;
            }
            m_listener = listener;
            m_started = true;
            m_thread = std::thread([this] { run(); });
            tryLink();
        }
        m_state->changed.notify_all();
    }

    bool send(const QByteArray& message) override {
        std::unique_lock lock(m_state->mutex);
        const std::uint64_t link = m_link;
        for (;;) {
            MemoryCableEnd* peer = linkedPeer();
            if (peer == nullptr || m_link != link) {
                return false;
            }
            const std::size_t size = static_cast<std::size_t>(message.size());
            // A message bigger than the bound still goes once the other side has taken all.
            if (peer->m_queuedBytes == 0 || peer->m_queuedBytes + size <= m_state->queueBytes) {
                peer->push({Event::Message, message, LineDown::Lost});
                lock.unlock();
                m_state->changed.notify_all();
                return true;
            }
            m_state->changed.wait(lock);
        }
    }

    void close() override {
        std::unique_lock lock(m_state->mutex);
        if (MemoryCableEnd* peer = linkedPeer()) {
            peer->push({Event::Down, {}, LineDown::PeerClosed});
            m_state->changed.notify_all();
            m_state->changed.wait_for(lock, kCloseWait, [this, peer] {
                return m_state->sides[other(m_side)] != peer || peer->m_inbox.empty();
            });
            if (MemoryCableEnd* still = linkedPeer()) {
                unlink(*still);
                if (still->m_mode == MemoryCable::Mode::Calling) {
                    still->unplug();
                }
            }
        }
        m_linked = false;
        ++m_link;
        unplug();
        m_inbox.clear();
        m_queuedBytes = 0;
        lock.unlock();
        m_state->changed.notify_all();
    }

    // A calling end becomes a listening one in its side, when the side is still free.
    bool keepForNextPeer() override {
        {
            const std::lock_guard lock(m_state->mutex);
            if (m_state->sides[m_side] != this && !plugInLocked()) {
                return false;
            }
            m_mode = MemoryCable::Mode::Listening;
            tryLink();
        }
        m_state->changed.notify_all();
        return true;
    }

    // Called by the cable with the mutex held.
    void cutLocked() {
        m_inbox.clear();
        m_queuedBytes = 0;
        if (m_linked) {
            m_linked = false;
            ++m_link;
        }
        push({Event::Down, {}, LineDown::Lost});
        unplug();
    }

    bool plugInLocked() {
        if (m_state->sides[m_side] != nullptr) {
            return false;
        }
        m_state->sides[m_side] = this;
        return true;
    }

private:
    struct Event {
        enum Kind { Up, Message, Down } kind;
        QByteArray message;
        LineDown reason;
    };

    // The helpers below run with the mutex held.
    MemoryCableEnd* linkedPeer() const {
        if (!m_linked || m_state->sides[m_side] != this) {
            return nullptr;
        }
        return m_state->sides[other(m_side)];
    }

    void tryLink() {
        MemoryCableEnd* peer = m_state->sides[other(m_side)];
        if (m_state->sides[m_side] != this || peer == nullptr || !peer->m_started ||
            peer->m_linked || m_linked) {
            return;
        }
        for (MemoryCableEnd* end : {this, peer}) {
            end->m_linked = true;
            ++end->m_link;
            end->push({Event::Up, {}, LineDown::Lost});
        }
    }

    void unlink(MemoryCableEnd& peer) {
        for (MemoryCableEnd* end : {this, &peer}) {
            end->m_linked = false;
            ++end->m_link;
        }
    }

    void unplug() {
        if (m_state->sides[m_side] == this) {
            m_state->sides[m_side] = nullptr;
        }
    }

    void push(Event event) {
        m_queuedBytes += static_cast<std::size_t>(event.message.size());
        m_inbox.push_back(std::move(event));
    }

    void run() {
        std::unique_lock lock(m_state->mutex);
        for (;;) {
            m_state->changed.wait(lock, [this] { return m_stopping || !m_inbox.empty(); });
            if (m_stopping) {
                return;
            }
            Event event = std::move(m_inbox.front());
            m_inbox.pop_front();
            m_queuedBytes -= static_cast<std::size_t>(event.message.size());
            if (event.kind == Event::Down && m_mode == MemoryCable::Mode::Calling) {
                // A caller's line ends with the goodbye: its side is free before its listener
                // hears of it, so that the listener may plug a new end into it.
                m_linked = false;
                ++m_link;
                unplug();
            }
            lock.unlock();
            m_state->changed.notify_all();
            switch (event.kind) {
                case Event::Up:
                    m_listener->lineUp();
                    break;
                case Event::Message:
                    m_listener->lineMessage(event.message);
                    break;
                case Event::Down:
                    m_listener->lineDown(event.reason);
                    break;
            }
            lock.lock();
        }
    }

    const std::shared_ptr<MemoryCableState> m_state;
    const int m_side;
    MemoryCable::Mode m_mode;  // under the state's mutex
    LineListener* m_listener = nullptr;
    std::thread m_thread;
    // Under the state's mutex:
    bool m_started = false;
    bool m_linked = false;
    bool m_stopping = false;
    std::uint64_t m_link = 0;  // counts link changes, so that a waiting send notices them
    std::deque<Event> m_inbox;
    std::size_t m_queuedBytes = 0;
};

MemoryCable::MemoryCable(std::size_t queueBytes)
    : m_state(std::make_shared<MemoryCableState>(queueBytes)) {}

std::unique_ptr<Line> MemoryCable::plug(Side side, Mode mode) const {
    auto end = std::make_unique<MemoryCableEnd>(m_state, static_cast<int>(side), mode);
    const std::lock_guard lock(m_state->mutex);
    if (!end->plugInLocked()) {
        return nullptr;
    }
    return end;
}

ProviderEntry MemoryCable::providerEntry(Side side) const {
    return ProviderEntry{
        guids::ServiceProviderMemory, MemoryProvider::kName,
        [cable = *this, side] { return std::make_unique<MemoryProvider>(cable, side); }};
}

void MemoryCable::cut() const {
    {
        const std::lock_guard lock(m_state->mutex);
        for (MemoryCableEnd* end : m_state->sides) {
            if (end != nullptr) {
                end->cutLocked();
            }
        }
    }
    m_state->changed.notify_all();
}

}  // namespace velmora
