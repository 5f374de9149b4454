#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace velmora {

class PseudoTerminal;

// How the emulated line behaves; may be changed while the cable runs.
struct LineSettings {
    // Bytes pass at baud / 10 per second (8 data bits plus start and stop bit); 0 passes them as
    // fast as the terminals take them.
    int baud = 0;
    // Chance that any one data bit arrives flipped.
    double bitErrorRate = 0.0;
    // Chance that a byte is lost on the way.
    double dropRate = 0.0;
    // Mean number of bursts of random bytes inserted per second and direction (line noise).
    double garbageBurstsPerSecond = 0.0;
    // A burst is 1 to this many bytes long.
    std::size_t garbageBurstMaxLength = 16;
};

enum class CableDirection { AToB, BToA };
enum class CableEnd { A, B };

struct CableDirectionCounters {
    std::uint64_t passed = 0;    // bytes that reached the other end (inserted ones not counted)
    std::uint64_t flipped = 0;   // bits flipped in passed bytes
    std::uint64_t dropped = 0;   // bytes lost to the drop rate
    std::uint64_t inserted = 0;  // garbage bytes inserted
    std::uint64_t lost = 0;      // bytes sent while the plug was pulled
};

struct CableCounters {
    CableDirectionCounters aToB;
    CableDirectionCounters bToA;
};

struct CableOptions {
    // Where the links A and B are made; created when missing.
    std::filesystem::path directory = "/tmp/velmora-cable";
    LineSettings line;
    std::uint64_t seed = 1;
    // Bytes the line holds in each direction between the writer and the reader beyond what the
    // kernel buffers, like a UART's FIFO and the driver's buffer: when the reader does not read,
    // the writer is stopped after about this much (on an unthrottled line, after this much and
    // what the receiving terminal's kernel buffers hold).
    std::size_t bufferSize = 4096;
    // Pull the plug this long after the start.
    std::optional<std::chrono::milliseconds> unplugAfter;
    // Put it back in this long after it was pulled by unplugAfter.
    std::optional<std::chrono::milliseconds> plugBackAfter;
    // Told of every event (plug pulled or put back, garbage burst), on the cable's thread, outside
    // its lock: it may call the cable's methods.
    std::function<void(std::string_view)> onEvent;
};

// Two pseudo-terminals joined like a null-modem cable: what a program writes to one end can be
// read at the other, in both directions, through an emulated line (rate, buffering, bit errors,
// lost bytes, noise, a plug that can be pulled). The ends are reachable under stable names,
// <directory>/A and <directory>/B (symbolic links to the slave devices), which are removed when
// the cable is destroyed. A thread of its own moves the bytes; all methods are thread-safe.
class NullModemCable {
public:
    // Throws std::system_error or std::filesystem::filesystem_error when the terminals or links
    // cannot be made, std::invalid_argument for settings out of range.
    explicit NullModemCable(CableOptions options);
    ~NullModemCable();

    NullModemCable(const NullModemCable&) = delete;
    NullModemCable& operator=(const NullModemCable&) = delete;

    std::filesystem::path linkA() const { return m_linkA; }
    std::filesystem::path linkB() const { return m_linkB; }
    std::string devicePathA() const;
    std::string devicePathB() const;

    LineSettings line() const;
    // Throws std::invalid_argument for settings out of range.
    void setLine(const LineSettings& settings);

    // After unplug() returns no byte passes in either direction until plugIn(); what was in flight
    // is lost, and what the ends write meanwhile is sent into nothing at the line's rate.
    void unplug();
    void plugIn();
    bool isPluggedIn() const;

    // The device of one end goes away, as a USB adapter pulled out does: the plug is pulled, the
    // end's terminal closed (a program that has it open gets a hang-up) and its link removed.
    // restoreDevice brings a new terminal under the same link and plugs the cable in again.
    void removeDevice(CableEnd end);
    void restoreDevice(CableEnd end);

    // Inserts a burst of `length` random bytes into one direction (nothing while unplugged).
    void injectGarbage(CableDirection direction, std::size_t length);

    CableCounters counters() const;

private:
    struct Direction;

    using Clock = std::chrono::steady_clock;

    void makeLinks();
    void removeLinks() const;
    void run();
    std::optional<Clock::time_point> runDueWorkLocked(Clock::time_point now);
    void step(Direction& direction, Clock::time_point now);
    void setPluggedLocked(bool pluggedIn, std::string_view why);
    void wake() const;

    CableOptions m_options;
    std::unique_ptr<PseudoTerminal> m_endA;
    std::unique_ptr<PseudoTerminal> m_endB;
    std::filesystem::path m_linkA;
    std::filesystem::path m_linkB;
    int m_wakeFd = -1;

    mutable std::mutex m_mutex;
    bool m_stopping = false;
    bool m_pluggedIn = true;
    std::optional<Clock::time_point> m_unplugAt;
    std::optional<Clock::time_point> m_plugInAt;
    std::vector<std::string> m_events;  // not yet told to onEvent
    std::unique_ptr<Direction> m_aToB;
    std::unique_ptr<Direction> m_bToA;
    std::thread m_thread;
};

}  // namespace velmora
