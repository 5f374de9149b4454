#include "support/ChildProcess.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace velmora::bench {

namespace {

constexpr auto kPollInterval = std::chrono::milliseconds(5);

// This process's environment with the additions; an addition replaces a variable of its name.
std::vector<std::string> mergedEnvironment(const std::vector<std::string>& additions) {
    std::vector<std::string> merged;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string variable(*entry);
        const std::string name = variable.substr(0, variable.find('=') + 1);
        bool replaced = false;
        for (const std::string& addition : additions) {
            replaced |= addition.compare(0, name.size(), name) == 0;
        }
        if (!replaced) {
            merged.push_back(variable);
        }
    }
    merged.insert(merged.end(), additions.begin(), additions.end());
    return merged;
}

std::vector<char*> pointers(std::vector<std::string>& strings) {
    std::vector<char*> result;
    for (std::string& text : strings) {
        result.push_back(text.data());
    }
    result.push_back(nullptr);
    return result;
}

}  // namespace

double secondsBetween(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double>(to - from).count();
}

ChildProcess::ChildProcess(const SpawnOptions& options) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    const std::string log = options.log.empty() ? std::string("/dev/null") : options.log;
    if (!options.terminal.empty()) {
        posix_spawn_file_actions_addopen(&actions, 0, options.terminal.c_str(), O_RDWR | O_NOCTTY,
                                         0);
        posix_spawn_file_actions_adddup2(&actions, 0, 1);
    } else {
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_APPEND,
                                         0644);
    }
    posix_spawn_file_actions_addopen(&actions, 2, log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    if (!options.folder.empty()) {
        posix_spawn_file_actions_addchdir_np(&actions, options.folder.c_str());
    }
    std::vector<std::string> arguments = options.arguments;
    std::vector<std::string> environment = mergedEnvironment(options.environment);
    const std::vector<char*> argv = pointers(arguments);
    const std::vector<char*> envp = pointers(environment);
    m_startedAt = Clock::now();
    const int failed = posix_spawnp(&m_pid, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (failed != 0) {
        throw std::runtime_error("cannot run " + arguments.front() + ": " + std::strerror(failed));
    }
}

ChildProcess::~ChildProcess() {
    if (!hasEnded()) {
        signal(SIGTERM);
        if (!waitForEnd(std::chrono::seconds(20))) {
            signal(SIGKILL);
            waitForEnd(std::chrono::seconds(5));
        }
    }
}

void ChildProcess::signal(int number) const {
    if (!m_ended) {
        ::kill(m_pid, number);
    }
}

bool ChildProcess::hasEnded() {
    if (m_ended) {
        return true;
    }
    int status = 0;
    rusage usage{};
    if (::wait4(m_pid, &status, WNOHANG, &usage) != m_pid) {
        return false;
    }
    m_processorSeconds = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    m_ended = true;
    m_endedAt = Clock::now();
    if (WIFEXITED(status)) {
        m_exitCode = WEXITSTATUS(status);
    }
    return true;
}

bool ChildProcess::waitForEnd(std::chrono::milliseconds limit) {
    const auto until = Clock::now() + limit;
    while (!hasEnded()) {
        if (Clock::now() >= until) {
            return false;
        }
        std::this_thread::sleep_for(kPollInterval);
    }
    return true;
}

}  // namespace velmora::bench
