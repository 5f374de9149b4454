#pragma once

#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace velmora::bench {

using Clock = std::chrono::steady_clock;

double secondsBetween(Clock::time_point from, Clock::time_point to);

// How a child program is started.
struct SpawnOptions {
    std::vector<std::string> arguments;  // the program (looked up in PATH) and its arguments
    // When set: this device is the standard input and output, opened for reading and writing
    // (a serial port for sz and rz). Else the input is /dev/null.
    std::string terminal;
    // Where the standard output (unless terminal is set) and the error output go; /dev/null
    // when empty.
    std::string log;
    std::string folder;                    // the working folder; the current one when empty
    std::vector<std::string> environment;  // NAME=VALUE added to this process's environment
};

// A program run as a child process, ended (SIGTERM) and waited for when this goes.
class ChildProcess {
public:
    // Throws std::runtime_error when the program cannot be started.
    explicit ChildProcess(const SpawnOptions& options);
    ~ChildProcess();

    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    Clock::time_point startedAt() const { return m_startedAt; }
    void signal(int number) const;
    // Looks whether it has ended, without waiting.
    bool hasEnded();
    // Waits until it has ended (looking every few milliseconds); false when the time ran out.
    bool waitForEnd(std::chrono::milliseconds limit);
    // When it ended: the moment it was seen ending, at most a few milliseconds late.
    Clock::time_point endedAt() const { return m_endedAt; }
    // The exit code of a normal end; nothing while running or after a signal.
    std::optional<int> exitCode() const { return m_exitCode; }
    // The processor time (user and system) it took, once it has ended.
    double processorSeconds() const { return m_processorSeconds; }

private:
    pid_t m_pid = -1;
    bool m_ended = false;
    std::optional<int> m_exitCode;
    double m_processorSeconds = 0.0;
    Clock::time_point m_startedAt;
    Clock::time_point m_endedAt;
};

}  // namespace velmora::bench
