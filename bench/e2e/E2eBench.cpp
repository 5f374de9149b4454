// Whole programs over the virtual null-modem cable (velmora-cable): velmora-cli sending a file to
// velmora-cli, against ZMODEM (sz and rz of lrzsz) sending the same file over the same kind of
// cable in the same run, and a transfer resumed after the plug was pulled. Prints name=value
// lines:
//   e2e_vs_zmodem        ZMODEM's time over Velmora's to a byte-identical 2 MiB file at 115200
//                        baud on a clean line (higher is better)
//   e2e_vs_zmodem_noisy  the same at a bit-error rate of 1e-5
//   e2e_resume_s         the plug pulled at half the file, new processes on both sides: the time
//                        from their start to the whole file, against the time the missing part
//                        takes alone on a clean line
//   e2e_reconnect_s      the plug pulled three times for 5 s each during one transfer, both
//                        programs getting the line back by themselves: the time to the whole
//                        file, against the clean time plus the outages plus 3 s per outage
// Each time runs from the start of the receiving program (the sending one is started right
// after it) to the moment the received file has its full size; it must then be byte for byte
// the source, and both programs must end well.
//
//   e2e_unthrottled_mb_s a 256 MiB file over an unthrottled cable, velmora-cli's port set to
//                        its default rate, which a pseudo-terminal ignores; then sz and rz with
//                        the same file (the better of two runs), their ratio and the processor
//                        time of both programs
//
//   velmora-bench-e2e [clean] [noisy] [resume] [reconnect] [unthrottled]    (none: all five)

#include "support/BenchSupport.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <set>
#include <string>
#include <thread>

namespace velmora::bench {
namespace {

using namespace std::chrono_literals;

constexpr int kBaud = 115200;
constexpr std::uint64_t kFileBytes = 2 * 1024 * 1024;
constexpr const char* kNoisyBitErrorRate = "1e-5";

struct Programs {
    std::string cli;
    std::string cable;
};

// A transfer's outcome: how long it took to the whole file, and whether both programs ended as
// they should with the file byte for byte the source.
struct Timing {
    bool whole = false;
    double seconds = 0.0;
    double processorSeconds = 0.0;  // of both programs, user and system
};

// The receiving and the sending program of one transfer.
struct TransferProcesses {
    std::unique_ptr<ChildProcess> receiver;
    std::unique_ptr<ChildProcess> sender;

    bool waitForBoth(std::chrono::seconds limit) const {
        const auto until = Clock::now() + limit;
        const auto left = [&] {
            return std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now());
        };
        return receiver->waitForEnd(left()) && sender->waitForEnd(left());
    }
    bool endedWith(int code) const {
        return receiver->exitCode() == code && sender->exitCode() == code;
    }
};

// Waits for both programs to end, noting when the received file first had the size of the
// source: the transfer's time runs from the start of the receiving program to that moment.
Timing awaitTransfer(const TransferProcesses& processes, const std::string& source,
                     const std::string& target, std::chrono::seconds limit, const char* what) {
    const std::uint64_t size = fileSize(source);
    const auto until = Clock::now() + limit;
    std::optional<Clock::time_point> wholeAt;
    for (bool ended = false; !ended;) {
        ended = processes.receiver->hasEnded() && processes.sender->hasEnded();
        if (!wholeAt && fileSize(target) >= size) {
            wholeAt = Clock::now();
        }
        if (Clock::now() >= until) {
            std::fprintf(stderr, "%s did not finish in time\n", what);
            return {};
        }
        std::this_thread::sleep_for(5ms);
    }
    Timing timing;
    timing.processorSeconds =
        processes.receiver->processorSeconds() + processes.sender->processorSeconds();
    timing.whole = wholeAt && processes.endedWith(0) && sameContents(source, target);
    if (wholeAt) {
        timing.seconds = secondsBetween(processes.receiver->startedAt(), *wholeAt);
    }
    if (!timing.whole) {
        std::fprintf(stderr, "%s did not deliver the file whole\n", what);
    }
    return timing;
}

std::string receivedPath(const std::string& incoming, const std::string& source) {
    return (std::filesystem::path(incoming) / std::filesystem::path(source).filename()).string();
}

std::string baudText() {
    return std::to_string(kBaud);
}

std::string inFolder(const std::string& folder, const std::string& name) {
    return (std::filesystem::path(folder) / name).string();
}

// velmora-cli hosting on end A and receiving into incoming, then velmora-cli joining on end B
// and sending source; both end when the file is through. Each has its own data folder and log
// under work.
TransferProcesses startVelmora(const Programs& programs, const CableProcess& cable,
                               const std::string& work, const std::string& source,
                               const std::string& incoming,
                               const std::vector<std::string>& extra = {}) {
    std::filesystem::create_directories(incoming);
    const auto options = [&](const std::string& side, std::vector<std::string> arguments) {
        SpawnOptions spawn;
        spawn.arguments = std::move(arguments);
        spawn.arguments.insert(spawn.arguments.begin() + 1, extra.begin(), extra.end());
        spawn.log = inFolder(work, side + ".log");
        const std::string data = inFolder(work, side + "-data");
        std::filesystem::create_directories(data);
        spawn.environment = {"VELMORA_HOME=" + data, "XDG_DATA_HOME=" + data,
                             "XDG_CONFIG_HOME=" + data};
        return spawn;
    };
    TransferProcesses processes;
    processes.receiver = std::make_unique<ChildProcess>(
        options("host", {programs.cli, "host", "--serial", cable.endA(), "--baud", baudText(),
                         "--name", "Ann", "--incoming", incoming, "--exit-when-done"}));
    processes.sender = std::make_unique<ChildProcess>(options(
        "join", {programs.cli, "join", "--serial", cable.endB(), "--baud", baudText(), "--name",
                 "Bob", "--block-code", "5", "--exit-when-done", "send", source}));
    return processes;
}

Timing velmoraTransfer(const Programs& programs, const CableProcess& cable, const std::string& work,
                       const std::string& source, std::chrono::seconds limit) {
    const std::string incoming = inFolder(work, "incoming");
    const TransferProcesses processes = startVelmora(programs, cable, work, source, incoming);
    return awaitTransfer(processes, source, receivedPath(incoming, source), limit, "velmora-cli");
}

// rz on end A receiving into its folder, then sz on end B sending the same file.
Timing zmodemTransfer(const CableProcess& cable, const std::string& work, const std::string& source,
                      std::chrono::seconds limit) {
    const std::string incoming = inFolder(work, "incoming");
    std::filesystem::create_directories(incoming);
    SpawnOptions receive;
    receive.arguments = {"rz", "-q", "-y"};
    receive.terminal = cable.endA();
    receive.log = inFolder(work, "rz.log");
    receive.folder = incoming;
    SpawnOptions send;
    send.arguments = {"sz", "-q", source};
    send.terminal = cable.endB();
    send.log = inFolder(work, "sz.log");
    TransferProcesses processes;
    processes.receiver = std::make_unique<ChildProcess>(receive);
    processes.sender = std::make_unique<ChildProcess>(send);
    return awaitTransfer(processes, source, receivedPath(incoming, source), limit, "ZMODEM");
}

std::vector<std::string> lineOptions(const char* bitErrorRate) {
    return {"--baud", baudText(), "--ber", bitErrorRate, "--seed", "42"};
}

// Velmora and ZMODEM on cables of the same kind, one after the other.
bool compareWithZmodem(const Programs& programs, const std::string& folder,
                       const std::string& source, const char* bitErrorRate, const char* name,
                       const char* line, std::chrono::seconds limit) {
    const std::string work = inFolder(folder, name);
    Timing velmora;
    {
        const CableProcess cable(programs.cable, inFolder(work, "cable-velmora"),
                                 lineOptions(bitErrorRate));
        velmora = velmoraTransfer(programs, cable, inFolder(work, "velmora"), source, limit);
    }
    Timing zmodem;
    {
        const CableProcess cable(programs.cable, inFolder(work, "cable-zmodem"),
                                 lineOptions(bitErrorRate));
        zmodem = zmodemTransfer(cable, inFolder(work, "zmodem"), source, limit);
    }
    if (!velmora.whole || !zmodem.whole) {
        std::printf("%s=FAILED (Velmora %s, ZMODEM %s)\n", name, velmora.whole ? "whole" : "failed",
                    zmodem.whole ? "whole" : "failed");
        return false;
    }
    std::printf(
        "%s=%.3f (ZMODEM %.1f s / Velmora %.1f s for %llu bytes at %d baud, %s; goal "
        ">= 1.0)\n",
        name, zmodem.seconds / velmora.seconds, zmodem.seconds, velmora.seconds,
        static_cast<unsigned long long>(kFileBytes), kBaud, line);
    std::fflush(stdout);
    return true;
}

bool resumeAfterPulledPlug(const Programs& programs, const std::string& folder,
                           const std::string& source, std::chrono::seconds limit) {
    const std::string work = inFolder(folder, "resume");
    const std::string incoming = inFolder(work, "incoming");
    const std::string partial = receivedPath(incoming, source);
    const CableProcess cable(programs.cable, inFolder(work, "cable"), lineOptions("0"));
    {
        // The plug is pulled once half the file has been written; both sides lose the line and,
        // not trying to get it back, end.
        const TransferProcesses first = startVelmora(programs, cable, inFolder(work, "first"),
                                                     source, incoming, {"--no-reconnect"});
        while (fileSize(partial) < kFileBytes / 2 && !first.receiver->hasEnded()) {
            std::this_thread::sleep_for(5ms);
        }
        cable.unplug();
        if (!first.waitForBoth(60s) || first.endedWith(0)) {
            std::printf(
                "e2e_resume_s=FAILED (the first transfer did not end with the lost "
                "line)\n");
            return false;
        }
    }
    cable.plugIn();
    const std::uint64_t kept = fileSize(partial);

    const std::string again = inFolder(work, "again");
    const Timing resumed = awaitTransfer(startVelmora(programs, cable, again, source, incoming),
                                         source, partial, limit, "the resumed transfer");

    // The part that was missing, as a file of its own, over a fresh clean cable.
    const std::string missing = inFolder(work, "missing.bin");
    writeRandomFile(missing, kFileBytes - kept, 3);
    Timing half;
    {
        const CableProcess clean(programs.cable, inFolder(work, "cable-clean"), lineOptions("0"));
        half = velmoraTransfer(programs, clean, inFolder(work, "half"), missing, limit);
    }
    if (!resumed.whole || !half.whole) {
        std::printf("e2e_resume_s=FAILED (resumed %s, the missing part alone %s)\n",
                    resumed.whole ? "whole" : "failed", half.whole ? "whole" : "failed");
        return false;
    }
    const double seconds = resumed.seconds;
    std::printf(
        "e2e_resume_s=%.1f (new processes on both sides after the plug was pulled at "
        "%llu of %llu bytes, to the whole file)\n",
        seconds, static_cast<unsigned long long>(kept),
        static_cast<unsigned long long>(kFileBytes));
    std::printf("e2e_resume_missing_part_s=%.1f (its %llu bytes alone on a clean line)\n",
                half.seconds, static_cast<unsigned long long>(kFileBytes - kept));
    std::printf("e2e_resume_ratio=%.3f (goal <= 1.05)\n", seconds / half.seconds);
    std::fflush(stdout);
    return true;
}

// One transfer whose plug is pulled for kOutage at a quarter, a half and three quarters of the
// file; both programs get the line back by themselves. Compared with the same transfer on a clean
// cable in the same run.
bool reconnectThroughOutages(const Programs& programs, const std::string& folder,
                             const std::string& source, std::chrono::seconds limit) {
    constexpr auto kOutage = 5s;
    constexpr int kOutages = 3;
    const std::string work = inFolder(folder, "reconnect");
    Timing clean;
    {
        const CableProcess cable(programs.cable, inFolder(work, "cable-clean"), lineOptions("0"));
        clean = velmoraTransfer(programs, cable, inFolder(work, "clean"), source, limit);
    }
    const std::string incoming = inFolder(work, "incoming");
    const std::string target = receivedPath(incoming, source);
    const std::string partial = target + ".part";
    const CableProcess cable(programs.cable, inFolder(work, "cable"), lineOptions("0"));
    const TransferProcesses processes =
        startVelmora(programs, cable, inFolder(work, "outages"), source, incoming);
    bool outagesDone = true;
    for (int outage = 1; outage <= kOutages && outagesDone; ++outage) {
        const std::uint64_t at = kFileBytes * static_cast<std::uint64_t>(outage) / (kOutages + 1);
        while (fileSize(partial) < at && !processes.receiver->hasEnded()) {
            std::this_thread::sleep_for(5ms);
        }
        outagesDone = !processes.receiver->hasEnded();
        cable.unplug();
        std::this_thread::sleep_for(kOutage);
        cable.plugIn();
    }
    const Timing withOutages = awaitTransfer(processes, source, target, limit, "the transfer");
    if (!clean.whole || !withOutages.whole || !outagesDone) {
        std::printf("e2e_reconnect_s=FAILED (clean %s, with outages %s%s)\n",
                    clean.whole ? "whole" : "failed", withOutages.whole ? "whole" : "failed",
                    outagesDone ? "" : ", ended before the last outage");
        return false;
    }
    const double outages = kOutages * std::chrono::duration<double>(kOutage).count();
    const double goal = clean.seconds + outages + 3.0 * kOutages;
    std::printf(
        "e2e_reconnect_s=%.1f (%llu bytes at %d baud with %d outages of %.0f s, each side getting "
        "the line back by itself; goal <= %.1f)\n",
        withOutages.seconds, static_cast<unsigned long long>(kFileBytes), kBaud, kOutages,
        outages / kOutages, goal);
    std::printf("e2e_reconnect_clean_s=%.1f (the same transfer without outages)\n", clean.seconds);
    std::printf("e2e_reconnect_cost_per_outage_s=%.2f (beyond the outage itself; goal <= 3.0)\n",
                (withOutages.seconds - clean.seconds - outages) / kOutages);
    std::fflush(stdout);
    return withOutages.seconds <= goal;
}

// The load average of the last minute: the benchmark shares the machine.
double loadAverage() {
    double load = 0.0;
    return ::getloadavg(&load, 1) == 1 ? load : -1.0;
}

// A large file from velmora-cli to velmora-cli over an unthrottled cable (two pseudo-terminals
// joined as fast as they go), both programs at their default rate setting, which a
// pseudo-terminal ignores: the link learns what the line carries. Against sz and rz with the
// same file on the same kind of cable, the better of two runs.
bool unthrottledAgainstZmodem(const Programs& programs, const std::string& folder,
                              std::chrono::seconds limit) {
    constexpr std::uint64_t kLargeFileBytes = 256ULL << 20;
    const std::string work = inFolder(folder, "unthrottled");
    std::filesystem::create_directories(work);
    const std::string source = inFolder(work, "large.bin");
    writeRandomFile(source, kLargeFileBytes, 4);
    const std::vector<std::string> line = {"--baud", "unthrottled"};
    Timing velmora;
    {
        const CableProcess cable(programs.cable, inFolder(work, "cable-velmora"), line);
        velmora = velmoraTransfer(programs, cable, inFolder(work, "velmora"), source, limit);
    }
    const double velmoraLoad = loadAverage();
    Timing zmodem;
    for (const char* run : {"1", "2"}) {
        const std::string runWork = inFolder(work, std::string("zmodem-") + run);
        const CableProcess cable(programs.cable, inFolder(work, std::string("cable-zmodem-") + run),
                                 line);
        const Timing timing = zmodemTransfer(cable, runWork, source, limit);
        std::error_code ignored;
        std::filesystem::remove_all(runWork, ignored);  // the copy: a quarter of a gigabyte
        if (timing.whole && (!zmodem.whole || timing.seconds < zmodem.seconds)) {
            zmodem = timing;
        }
    }
    if (!velmora.whole || !zmodem.whole) {
        std::printf("e2e_unthrottled_mb_s=FAILED (Velmora %s, ZMODEM %s)\n",
                    velmora.whole ? "whole" : "failed", zmodem.whole ? "whole" : "failed");
        return false;
    }
    const double megabytes = static_cast<double>(kLargeFileBytes) / 1e6;
    std::printf(
        "e2e_unthrottled_mb_s=%.1f (%.0f MB in %.1f s, processor time of both programs %.1f s, "
        "load %.1f; goal >= 20)\n",
        megabytes / velmora.seconds, megabytes, velmora.seconds, velmora.processorSeconds,
        velmoraLoad);
    std::printf(
        "e2e_unthrottled_zmodem_mb_s=%.1f (the better of two runs: %.1f s, processor time of sz "
        "and rz %.1f s, load %.1f)\n",
        megabytes / zmodem.seconds, zmodem.seconds, zmodem.processorSeconds, loadAverage());
    std::printf("e2e_unthrottled_vs_zmodem=%.2f (processor time %.2f x ZMODEM's)\n",
                zmodem.seconds / velmora.seconds,
                velmora.processorSeconds / zmodem.processorSeconds);
    std::fflush(stdout);
    return megabytes / velmora.seconds >= 20.0;
}

std::string temporaryFolder() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "velmora-bench-e2e-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("cannot make a temporary folder");
    }
    return pattern;
}

int run(const std::set<std::string>& parts) {
    const Programs programs{VELMORA_CLI_PATH, VELMORA_CABLE_PATH};
    const std::string folder = temporaryFolder();
    const std::string source = inFolder(folder, "two-mib.bin");
    writeRandomFile(source, kFileBytes, 1);
    const auto wanted = [&](const char* part) { return parts.empty() || parts.count(part) > 0; };
    std::printf("line_rate=%.0f (bytes per second at %d baud, 8N1)\n", kBaud / 10.0, kBaud);
    std::fflush(stdout);
    bool ok = true;
    if (wanted("clean")) {
        ok &= compareWithZmodem(programs, folder, source, "0", "e2e_vs_zmodem", "clean line", 900s);
    }
    if (wanted("noisy")) {
        ok &= compareWithZmodem(programs, folder, source, kNoisyBitErrorRate, "e2e_vs_zmodem_noisy",
                                "bit-error rate 1e-5", 1800s);
    }
    if (wanted("resume")) {
        ok &= resumeAfterPulledPlug(programs, folder, source, 900s);
    }
    if (wanted("reconnect")) {
        ok &= reconnectThroughOutages(programs, folder, source, 900s);
    }
    if (wanted("unthrottled")) {
        ok &= unthrottledAgainstZmodem(programs, folder, 900s);
    }
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
    return ok ? 0 : 1;
}

}  // namespace
}  // namespace velmora::bench

int main(int argc, char* argv[]) {
    std::set<std::string> parts;
    for (int i = 1; i < argc; ++i) {
        const std::string part = argv[i];
        if (part != "clean" && part != "noisy" && part != "resume" && part != "reconnect" &&
            part != "unthrottled") {
            std::fprintf(stderr,
                         "usage: velmora-bench-e2e [clean] [noisy] [resume] [reconnect] "
                         "[unthrottled]\n");
            return 2;
        }
        parts.insert(part);
    }
    try {
        return velmora::bench::run(parts);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "%s\n", error.what());
        return 1;
    }
}
