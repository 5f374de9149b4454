#include "support/BenchSupport.h"

#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <array>
#include <filesystem>
#include <fstream>
#include <random>
#include <stdexcept>
#include <thread>
#include <vector>

namespace velmora::bench {

void writeRandomFile(const std::string& path, std::uint64_t size, std::uint32_t seed) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    std::mt19937 random(seed);
    std::vector<char> chunk(1 << 16);
    for (std::uint64_t left = size; left > 0;) {
        const auto count = static_cast<std::size_t>(std::min<std::uint64_t>(left, chunk.size()));
        for (std::size_t i = 0; i < count; ++i) {
            chunk[i] = static_cast<char>(random());
        }
        out.write(chunk.data(), static_cast<std::streamsize>(count));
        left -= count;
    }
    if (!out) {
        throw std::runtime_error("cannot write " + path);
    }
}

bool sameContents(const std::string& a, const std::string& b) {
    std::error_code error;
    const auto sizeA = std::filesystem::file_size(a, error);
    if (error || sizeA != std::filesystem::file_size(b, error) || error) {
        return false;
    }
    std::ifstream inA(a, std::ios::binary);
    std::ifstream inB(b, std::ios::binary);
    std::vector<char> chunkA(1 << 16);
    std::vector<char> chunkB(1 << 16);
    while (inA && inB) {
        inA.read(chunkA.data(), static_cast<std::streamsize>(chunkA.size()));
        inB.read(chunkB.data(), static_cast<std::streamsize>(chunkB.size()));
        if (inA.gcount() != inB.gcount() ||
            !std::equal(chunkA.begin(), chunkA.begin() + inA.gcount(), chunkB.begin())) {
            return false;
        }
    }
    return inA.eof() && inB.eof();
}

std::uint64_t fileSize(const std::string& path) {
    std::error_code error;
    const auto size = std::filesystem::file_size(path, error);
    return error ? 0 : size;
}

CableProcess::CableProcess(const std::string& program, const std::string& folder,
                           const std::vector<std::string>& lineOptions)
    : m_folder(folder) {
    SpawnOptions options;
    options.arguments = {program, "--dir", folder};
    options.arguments.insert(options.arguments.end(), lineOptions.begin(), lineOptions.end());
    options.log = folder + ".log";
    std::filesystem::create_directories(std::filesystem::path(folder).parent_path());
    m_process = std::make_unique<ChildProcess>(options);
    // The links are made once both terminals exist.
    const auto until = Clock::now() + std::chrono::seconds(10);
    while (!std::filesystem::is_symlink(endA()) || !std::filesystem::is_symlink(endB())) {
        if (m_process->hasEnded() || Clock::now() >= until) {
            throw std::runtime_error("velmora-cable did not come up; see " + options.log);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

void CableProcess::unplug() const {
    m_process->signal(SIGUSR1);
}

void CableProcess::plugIn() const {
    m_process->signal(SIGUSR2);
}

double processorSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval& time) {
        return static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_usec) / 1e6;
    };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

std::uint64_t residentBytes() {
    std::ifstream statm("/proc/self/statm");
    std::uint64_t pages = 0;
    std::uint64_t resident = 0;
    statm >> pages >> resident;
    return resident * static_cast<std::uint64_t>(sysconf(_SC_PAGESIZE));
}

}  // namespace velmora::bench
