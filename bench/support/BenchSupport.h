#pragma once

// What the benchmarks share: files of random bytes, the virtual cable as a process of its own,
// and the processor time and resident memory of this process.

#include "support/ChildProcess.h"

#include <cstdint>
#include <memory>
#include <string>

namespace velmora::bench {

// A file of random bytes, like a compressed file: every byte value equally likely.
void writeRandomFile(const std::string& path, std::uint64_t size, std::uint32_t seed);
// Whether the two files exist and hold the same bytes.
bool sameContents(const std::string& a, const std::string& b);
// The size of a file; 0 when it does not exist.
std::uint64_t fileSize(const std::string& path);

// velmora-cable in a process of its own, so that its emulation of the line counts neither in the
// processor time nor in the memory of the programs it joins. Its ends are <folder>/A and
// <folder>/B; its own report goes to <folder>.log.
class CableProcess {
public:
    // lineOptions: velmora-cable's options for the line (--baud, --ber, ...). Throws
    // std::runtime_error when the cable does not come up.
    CableProcess(const std::string& program, const std::string& folder,
                 const std::vector<std::string>& lineOptions);

    std::string endA() const { return m_folder + "/A"; }
    std::string endB() const { return m_folder + "/B"; }
    void unplug() const;
    void plugIn() const;

private:
    std::string m_folder;
    std::unique_ptr<ChildProcess> m_process;
};

// Processor time of this process so far (user and system, every thread), in seconds.
double processorSeconds();
// Resident memory of this process now, in bytes.
std::uint64_t residentBytes();

}  // namespace velmora::bench
