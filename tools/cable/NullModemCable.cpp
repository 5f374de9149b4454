#include "cable/NullModemCable.h"

#include "cable/PseudoTerminal.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <deque>
#include <random>
#include <stdexcept>
#include <system_error>

namespace velmora {

namespace {

using Clock = std::chrono::steady_clock;

// How often a direction whose receiver is full looks again: the reader taking bytes out of its
// terminal gives the master no event to wait for.
constexpr auto kReceiverRecheck = std::chrono::milliseconds(2);

// Bytes on the line reach the receiving terminal in groups of up to this many, like a UART's
// receive FIFO: a group goes when its last byte is due, so the last byte of what was sent is
// never late, and the ends are not woken for every single byte.
constexpr std::size_t kDeliveryGroupBytes = 16;

void validate(const LineSettings& settings) {
    const auto isRate = [](double rate) { return rate >= 0.0 && rate <= 1.0; };
    if (settings.baud < 0 || !isRate(settings.bitErrorRate) || !isRate(settings.dropRate) ||
        settings.garbageBurstsPerSecond < 0.0 || settings.garbageBurstMaxLength == 0) {
        throw std::invalid_argument("line settings out of range");
    }
}

std::optional<Clock::time_point> earliest(std::optional<Clock::time_point> a,
                                          std::optional<Clock::time_point> b) {
    if (!a) {
        return b;
    }
    if (!b) {
        return a;
    }
    return std::min(*a, *b);
}

std::string formatSeconds(std::chrono::milliseconds duration) {
    return std::to_string(duration.count() / 1000) + "." +
           std::to_string(duration.count() % 1000 / 100) + " s";
}

}  // namespace

// One direction of the line: the bytes read from the writing end that have not crossed yet (the
// sender's UART and driver buffer) and those that crossed but the receiving terminal has not
// taken yet.
struct NullModemCable::Direction {
    Direction(const char* name, PseudoTerminal& from, PseudoTerminal& to, std::uint64_t seed,
              unsigned index)
        : name(name), from(from), to(to) {
        std::seed_seq sequence{static_cast<std::uint32_t>(seed),
                               static_cast<std::uint32_t>(seed >> 32), index};
        random.seed(sequence);
    }

    std::uint64_t drawBitsUntilError() {
        return std::geometric_distribution<std::uint64_t>(bitErrorRate)(random);
    }

    const char* name;
    PseudoTerminal& from;
    PseudoTerminal& to;
    std::deque<std::uint8_t> line;
    std::vector<std::uint8_t> arrived;
    bool waitingToWrite = false;
    bool idle = true;
    Clock::time_point lineFree;
    double bitErrorRate = 0.0;
    std::uint64_t bitsUntilError = 0;
    double burstRate = 0.0;
    std::optional<Clock::time_point> nextBurst;
    std::size_t requestedGarbage = 0;
    std::optional<Clock::time_point> deadline;
    std::mt19937_64 random;
    CableDirectionCounters counters;
};

NullModemCable::NullModemCable(CableOptions options)
    : m_options(std::move(options)),
      m_endA(std::make_unique<PseudoTerminal>()),
      m_endB(std::make_unique<PseudoTerminal>()),
      m_linkA(m_options.directory / "A"),
      m_linkB(m_options.directory / "B") {
    validate(m_options.line);
    if (m_options.bufferSize == 0) {
        throw std::invalid_argument("cable buffer size must not be 0");
    }
    m_aToB = std::make_unique<Direction>("A->B", *m_endA, *m_endB, m_options.seed, 0);
    m_bToA = std::make_unique<Direction>("B->A", *m_endB, *m_endA, m_options.seed, 1);
    try {
        makeLinks();
        m_wakeFd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
        if (m_wakeFd < 0) {
            throw std::system_error(errno, std::generic_category(), "eventfd");
        }
        if (m_options.unplugAfter) {
            m_unplugAt = Clock::now() + *m_options.unplugAfter;
        }
        m_thread = std::thread([this] { run(); });
    } catch (...) {
        removeLinks();
        if (m_wakeFd >= 0) {
            ::close(m_wakeFd);
        }
        throw;
    }
}

NullModemCable::~NullModemCable() {
    {
        const std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    wake();
    m_thread.join();
    ::close(m_wakeFd);
    removeLinks();
}

void NullModemCable::makeLinks() {
    std::filesystem::create_directories(m_options.directory);
    for (const auto& [link, end] :
         {std::pair{m_linkA, m_endA.get()}, std::pair{m_linkB, m_endB.get()}}) {
        // A link left behind by a cable that was killed is replaced; anything else is not ours.
        const auto status = std::filesystem::symlink_status(link);
        if (std::filesystem::is_symlink(status)) {
            std::filesystem::remove(link);
        } else if (std::filesystem::exists(status)) {
            throw std::filesystem::filesystem_error("not a link, left alone", link,
                                                    std::make_error_code(std::errc::file_exists));
        }
        std::filesystem::create_symlink(end->slavePath(), link);
    }
}

void NullModemCable::removeLinks() const {
    for (const auto& [link, end] :
         {std::pair{m_linkA, m_endA.get()}, std::pair{m_linkB, m_endB.get()}}) {
        // Only our own: another cable may have taken the name over since.
        std::error_code error;
        if (std::filesystem::read_symlink(link, error) == end->slavePath() && !error) {
            std::filesystem::remove(link, error);
        }
    }
}

std::string NullModemCable::devicePathA() const {
    return m_endA->slavePath();
}

std::string NullModemCable::devicePathB() const {
    return m_endB->slavePath();
}

LineSettings NullModemCable::line() const {
    const std::lock_guard lock(m_mutex);
    return m_options.line;
}

void NullModemCable::setLine(const LineSettings& settings) {
    validate(settings);
    {
        const std::lock_guard lock(m_mutex);
        m_options.line = settings;
    }
    wake();
}

void NullModemCable::unplug() {
    {
        const std::lock_guard lock(m_mutex);
        setPluggedLocked(false, "on request");
    }
    wake();
}

void NullModemCable::plugIn() {
    {
        const std::lock_guard lock(m_mutex);
        setPluggedLocked(true, "on request");
    }
    wake();
}

bool NullModemCable::isPluggedIn() const {
    const std::lock_guard lock(m_mutex);
    return m_pluggedIn;
}

void NullModemCable::removeDevice(CableEnd end) {
    {
        const std::lock_guard lock(m_mutex);
        setPluggedLocked(false, end == CableEnd::A ? "device A removed" : "device B removed");
        const std::filesystem::path& link = end == CableEnd::A ? m_linkA : m_linkB;
        PseudoTerminal& terminal = end == CableEnd::A ? *m_endA : *m_endB;
        std::error_code error;
        if (std::filesystem::read_symlink(link, error) == terminal.slavePath() && !error) {
            std::filesystem::remove(link, error);
        }
        terminal.close();
    }
    wake();
}

void NullModemCable::restoreDevice(CableEnd end) {
    {
        const std::lock_guard lock(m_mutex);
        const std::filesystem::path& link = end == CableEnd::A ? m_linkA : m_linkB;
        PseudoTerminal& terminal = end == CableEnd::A ? *m_endA : *m_endB;
        terminal.open();
        std::error_code error;
        std::filesystem::remove(link, error);
        std::filesystem::create_symlink(terminal.slavePath(), link);
        setPluggedLocked(true, end == CableEnd::A ? "device A back" : "device B back");
    }
    wake();
}

void NullModemCable::injectGarbage(CableDirection direction, std::size_t length) {
    {
        const std::lock_guard lock(m_mutex);
        if (!m_pluggedIn) {
            return;
        }
        (direction == CableDirection::AToB ? *m_aToB : *m_bToA).requestedGarbage += length;
    }
    wake();
}

CableCounters NullModemCable::counters() const {
    const std::lock_guard lock(m_mutex);
    return CableCounters{m_aToB->counters, m_bToA->counters};
}

void NullModemCable::setPluggedLocked(bool pluggedIn, std::string_view why) {
    if (pluggedIn == m_pluggedIn) {
        return;
    }
    m_pluggedIn = pluggedIn;
    if (!pluggedIn) {
        // What has crossed but not reached the receiving terminal yet is lost with the line.
        for (Direction* direction : {m_aToB.get(), m_bToA.get()}) {
            direction->counters.lost += direction->arrived.size();
            direction->arrived.clear();
            direction->waitingToWrite = false;
            direction->requestedGarbage = 0;
            direction->nextBurst.reset();
        }
    }
    m_events.push_back(std::string(pluggedIn ? "plugged back in (" : "plug pulled (") +
                       std::string(why) + ")");
}

void NullModemCable::wake() const {
    const std::uint64_t one = 1;
    [[maybe_unused]] const auto written = ::write(m_wakeFd, &one, sizeof one);
}

void NullModemCable::run() {
    std::vector<std::string> events;
    for (;;) {
        std::array<pollfd, 3> fds{};
        std::optional<Clock::time_point> deadline;
        {
            const std::lock_guard lock(m_mutex);
            if (m_stopping) {
                return;
            }
            deadline = runDueWorkLocked(Clock::now());
            events.swap(m_events);
            fds[0] = {m_wakeFd, POLLIN, 0};
            fds[1] = {m_endA->masterFd(), 0, 0};
            fds[2] = {m_endB->masterFd(), 0, 0};
            for (auto [fd, outgoing, incoming] :
                 {std::tuple{&fds[1], m_aToB.get(), m_bToA.get()},
                  std::tuple{&fds[2], m_bToA.get(), m_aToB.get()}}) {
                if (outgoing->line.size() < m_options.bufferSize) {
                    fd->events |= POLLIN;
                }
                if (incoming->waitingToWrite) {
                    fd->events |= POLLOUT;
                }
            }
        }
        for (const std::string& event : events) {
            if (m_options.onEvent) {
                m_options.onEvent(event);
            }
        }
        events.clear();

        timespec timeout{};
        timespec* timeoutPointer = nullptr;
        if (deadline) {
            const auto wait = std::max(Clock::duration::zero(), *deadline - Clock::now());
            const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(wait);
            timeout.tv_sec = seconds.count();
            timeout.tv_nsec =
                std::chrono::duration_cast<std::chrono::nanoseconds>(wait - seconds).count();
            timeoutPointer = &timeout;
        }
        if (::ppoll(fds.data(), fds.size(), timeoutPointer, nullptr) > 0 &&
            (fds[0].revents & POLLIN)) {
            std::uint64_t count = 0;
            [[maybe_unused]] const auto read = ::read(m_wakeFd, &count, sizeof count);
        }
    }
}

std::optional<Clock::time_point> NullModemCable::runDueWorkLocked(Clock::time_point now) {
    if (m_unplugAt && now >= *m_unplugAt) {
        m_unplugAt.reset();
        setPluggedLocked(false, "after " + formatSeconds(*m_options.unplugAfter));
        if (m_options.plugBackAfter) {
            m_plugInAt = now + *m_options.plugBackAfter;
        }
    }
    if (m_plugInAt && now >= *m_plugInAt) {
        m_plugInAt.reset();
        setPluggedLocked(true, "after " + formatSeconds(*m_options.plugBackAfter));
    }
    step(*m_aToB, now);
    step(*m_bToA, now);
    return earliest(earliest(m_aToB->deadline, m_bToA->deadline), earliest(m_unplugAt, m_plugInAt));
}

void NullModemCable::step(Direction& direction, Clock::time_point now) {
    const LineSettings& settings = m_options.line;
    const std::size_t capacity = m_options.bufferSize;

    // Take what the writer has sent, as far as the sender's buffer holds it; the rest waits in
    // the kernel, and when that is full too the writer blocks.
    std::array<std::uint8_t, 4096> chunk{};
    while (direction.line.size() < capacity) {
        const auto wanted = std::min(chunk.size(), capacity - direction.line.size());
        const auto got = ::read(direction.from.masterFd(), chunk.data(), wanted);
        if (got <= 0) {
            if (got < 0 && errno == EINTR) {
                continue;
            }
            break;
        }
        direction.line.insert(direction.line.end(), chunk.begin(), chunk.begin() + got);
    }

    // As many bytes cross as the line rate allows since the last ones, and no more than the
    // receiving side has room for (it holds about one buffer, like the sending side). An
    // unthrottled line is two pseudo-terminals as fast as they go: the kernel's own buffers and
    // its flow control stop the writer, and the cable hears at once (the master is writable
    // again) when the reader has made room, where looking again later would hold the line.
    std::size_t room = direction.line.size();
    bool receiverFull = false;
    if (m_pluggedIn && settings.baud > 0) {
        const std::size_t waiting = direction.to.bytesWaitingAtSlave() + direction.arrived.size();
        const std::size_t free = waiting < capacity ? capacity - waiting : 0;
        if (free < room) {
            room = free;
            receiverFull = true;
        }
    }
    std::size_t count = room;
    const auto byteTime = settings.baud > 0
                              ? std::chrono::nanoseconds(10'000'000'000LL / settings.baud)
                              : std::chrono::nanoseconds::zero();
    if (settings.baud > 0 && room > 0) {
        if (direction.idle) {
            direction.lineFree = std::max(direction.lineFree, now);
        }
        const auto due = static_cast<std::size_t>((now - direction.lineFree) / byteTime);
        count = std::min(room, due);
        direction.lineFree += byteTime * static_cast<long long>(count);
    }

    if (settings.bitErrorRate != direction.bitErrorRate) {
        direction.bitErrorRate = settings.bitErrorRate;
        if (direction.bitErrorRate > 0.0) {
            direction.bitsUntilError = direction.drawBitsUntilError();
        }
    }
    const auto crossing = direction.line.begin() + static_cast<std::ptrdiff_t>(count);
    if (!m_pluggedIn) {
        direction.counters.lost += count;
    } else if (settings.dropRate == 0.0 && direction.bitErrorRate == 0.0) {
        // A clean line: the bytes cross as they are, in one piece (byte by byte, the cable's
        // own thread would be the limit of an unthrottled line).
        direction.arrived.insert(direction.arrived.end(), direction.line.begin(), crossing);
        direction.counters.passed += count;
    } else {
        std::bernoulli_distribution drop(settings.dropRate);
        for (auto at = direction.line.begin(); at != crossing; ++at) {
            std::uint8_t byte = *at;
            if (settings.dropRate > 0.0 && drop(direction.random)) {
                ++direction.counters.dropped;
                continue;
            }
            if (direction.bitErrorRate > 0.0) {
                while (direction.bitsUntilError < 8) {
                    byte ^= static_cast<std::uint8_t>(1U << direction.bitsUntilError);
                    ++direction.counters.flipped;
                    direction.bitsUntilError += 1 + direction.drawBitsUntilError();
                }
                direction.bitsUntilError -= 8;
            }
            direction.arrived.push_back(byte);
            ++direction.counters.passed;
        }
    }
    direction.line.erase(direction.line.begin(), crossing);

    const bool stalled = receiverFull && count == room;
    direction.idle = direction.line.empty() || stalled;
    direction.deadline.reset();
    if (stalled) {
        direction.deadline = now + kReceiverRecheck;
    } else if (!direction.line.empty() && settings.baud > 0) {
        const auto group = std::min(direction.line.size(), kDeliveryGroupBytes);
        direction.deadline = direction.lineFree + byteTime * static_cast<long long>(group);
    }

    // Line noise: bursts at random times (a Poisson process of the configured rate) and on request.
    if (m_pluggedIn) {
        if (settings.garbageBurstsPerSecond != direction.burstRate) {
            direction.burstRate = settings.garbageBurstsPerSecond;
            direction.nextBurst.reset();
        }
        const auto scheduleBurst = [&direction](Clock::time_point from) {
            const double seconds =
                std::exponential_distribution<double>(direction.burstRate)(direction.random);
            direction.nextBurst = from + std::chrono::duration_cast<Clock::duration>(
                                             std::chrono::duration<double>(seconds));
        };
        if (direction.burstRate > 0.0) {
            if (!direction.nextBurst) {
                scheduleBurst(now);
            }
            if (now >= *direction.nextBurst) {
                direction.requestedGarbage += std::uniform_int_distribution<std::size_t>(
                    1, settings.garbageBurstMaxLength)(direction.random);
                scheduleBurst(now);
            }
            direction.deadline = earliest(direction.deadline, direction.nextBurst);
        }
        if (direction.requestedGarbage > 0) {
            std::uniform_int_distribution<int> anyByte(0, 255);
            for (std::size_t i = 0; i < direction.requestedGarbage; ++i) {
                direction.arrived.push_back(static_cast<std::uint8_t>(anyByte(direction.random)));
            }
            direction.counters.inserted += direction.requestedGarbage;
            m_events.push_back(std::string(direction.name) + ": garbage burst of " +
                               std::to_string(direction.requestedGarbage) + " bytes");
            direction.requestedGarbage = 0;
        }
    }

    // Hand over to the receiving terminal what it takes now; the rest waits for it to be writable.
    while (!direction.arrived.empty()) {
        const auto written =
            ::write(direction.to.masterFd(), direction.arrived.data(), direction.arrived.size());
        if (written <= 0) {
            if (written < 0 && errno == EINTR) {
                continue;
            }
            break;
        }
        direction.arrived.erase(direction.arrived.begin(), direction.arrived.begin() + written);
    }
    direction.waitingToWrite = !direction.arrived.empty();
}

}  // namespace velmora
