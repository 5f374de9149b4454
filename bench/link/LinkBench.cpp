// Figures of the serial link over the virtual null-modem cable: the payload rate of file blocks
// against the raw line rate and against ZMODEM (sz/rz of lrzsz) on the same emulated line, and
// the latency of a keystroke and of a chat line under load. Prints name=value lines.

#include "cable/NullModemCable.h"
#include "session/link/SerialPortLine.h"
#include "session/link/SerialPortOpener.h"

#include <QCoreApplication>
#include <QSerialPort>
#include <QTemporaryDir>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <fstream>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using velmora::CableOptions;
using velmora::NullModemCable;
using velmora::SerialPortLine;
using velmora::SerialSettings;

constexpr int kBaud = 115200;
constexpr double kLineRate = kBaud / 10.0;
constexpr qsizetype kBlockData = 32768;
constexpr qsizetype kBlockMessage = kBlockData + 11;  // a FileBlock of block-size code 5
constexpr int kBlocks = 12;

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Records when each message arrives.
class TimingListener : public velmora::LineListener {
public:
    void lineUp() override {}
    void lineMessage(const QByteArray& message) override {
        {
            std::lock_guard lock(m_mutex);
            m_arrivals.push_back({Clock::now(), message.size()});
        }
        m_changed.notify_all();
    }
    void lineDown(velmora::LineDown) override {
        {
            std::lock_guard lock(m_mutex);
            m_down = true;
        }
        m_changed.notify_all();
    }

    // Waits for the message with this index (counting from 0); its arrival time.
    std::optional<Clock::time_point> waitForMessage(std::size_t index) {
        std::unique_lock lock(m_mutex);
        if (!m_changed.wait_for(lock, 600s, [&] { return m_arrivals.size() > index || m_down; }) ||
            m_arrivals.size() <= index) {
            return std::nullopt;
        }
        return m_arrivals[index].first;
    }
    // Waits for the n-th message (counting from 0) of this size; its arrival time.
    std::optional<Clock::time_point> waitForSized(qsizetype size, std::size_t n) {
        std::unique_lock lock(m_mutex);
        std::optional<Clock::time_point> found;
        m_changed.wait_for(lock, 600s, [&] {
            std::size_t seen = 0;
            for (const auto& [at, length] : m_arrivals) {
                if (length == size && seen++ == n) {
                    found = at;
                    return true;
                }
            }
            return m_down;
        });
        return found;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<std::pair<Clock::time_point, qsizetype>> m_arrivals;
    bool m_down = false;
};

struct Link {
    std::unique_ptr<NullModemCable> cable;
    std::unique_ptr<SerialPortLine> sender;
    std::unique_ptr<SerialPortLine> receiver;
    TimingListener arrivals;
    TimingListener senderSide;
};

CableOptions cableOptions(const QString& folder, double bitErrorRate, std::uint64_t seed) {
    CableOptions options;
    options.directory = folder.toStdString();
    options.line.baud = kBaud;
    options.line.bitErrorRate = bitErrorRate;
    options.seed = seed;
    return options;
}

std::unique_ptr<SerialPortLine> openEnd(const std::filesystem::path& end,
                                        SerialPortLine::Role role) {
    SerialSettings settings;
    settings.portName = QString::fromStdString(end.string());
    settings.baud = kBaud;
    QString error;
    auto port = velmora::openSerialPort(settings, error);
    if (!port) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        std::exit(1);
    }
    return std::make_unique<SerialPortLine>(std::move(port), settings, role);
}

std::unique_ptr<Link> makeLink(const QString& folder, double bitErrorRate) {
    auto link = std::make_unique<Link>();
    link->cable = std::make_unique<NullModemCable>(cableOptions(folder, bitErrorRate, 42));
    link->receiver = openEnd(link->cable->linkA(), SerialPortLine::Role::Hosting);
    link->sender = openEnd(link->cable->linkB(), SerialPortLine::Role::Calling);
    if (!link->sender->waitUntilUp(30s)) {
        std::fprintf(stderr, "%s\n", qPrintable(link->sender->lastError()));
        std::exit(1);
    }
    link->receiver->start(&link->arrivals);
    link->sender->start(&link->senderSide);
    return link;
}

// A file block with the bytes of a compressed file: every byte value equally likely.
QByteArray randomBlock(std::uint32_t seed) {
    QByteArray block(kBlockMessage, '\0');
    std::mt19937 random(seed);
    for (char& byte : block) {
        byte = static_cast<char>(random());
    }
    return block;
}

// File-block payload bytes per second over the link.
double linkPayloadRate(const QString& folder, double bitErrorRate) {
    auto link = makeLink(folder, bitErrorRate);
    const QByteArray block = randomBlock(1);
    const auto start = Clock::now();
    std::thread sender([&] {
        for (int i = 0; i < kBlocks; ++i) {
            link->sender->send(block);
        }
    });
    const auto last = link->arrivals.waitForMessage(kBlocks - 1);
    sender.join();
    if (!last) {
        return 0.0;
    }
    const double seconds = std::chrono::duration<double>(*last - start).count();
    link->sender->close();
    return kBlocks * kBlockData / seconds;
}

// Runs a program with one end of the cable as its standard input and output.
pid_t spawnOnPort(const std::vector<std::string>& arguments, const std::string& device,
                  const std::string& folder) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, device.c_str(), O_RDWR | O_NOCTTY, 0);
    posix_spawn_file_actions_adddup2(&actions, 0, 1);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    std::vector<char*> argv;
    for (const auto& argument : arguments) {
        argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);
    const std::string oldFolder = std::filesystem::current_path().string();
    std::filesystem::current_path(folder);
    pid_t pid = -1;
    const int failed = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    std::filesystem::current_path(oldFolder);
    posix_spawn_file_actions_destroy(&actions);
    return failed == 0 ? pid : -1;
}

// Bytes per second of ZMODEM sending the same payload over the same emulated line.
double zmodemRate(const QString& folder, double bitErrorRate) {
    const QString sendFolder = folder + "/send";
    const QString receiveFolder = folder + "/receive";
    std::filesystem::create_directories(sendFolder.toStdString());
    std::filesystem::create_directories(receiveFolder.toStdString());
    const std::string file = sendFolder.toStdString() + "/payload.bin";
    {
        std::ofstream out(file, std::ios::binary);
        std::mt19937 random(1);
        for (qsizetype i = 0; i < kBlocks * kBlockData; ++i) {
            out.put(static_cast<char>(random()));
        }
    }
    NullModemCable cable(cableOptions(folder + "/cable", bitErrorRate, 42));
    const auto start = Clock::now();
    const pid_t receiver =
        spawnOnPort({"rz", "-q", "-y"}, cable.linkA().string(), receiveFolder.toStdString());
    const pid_t sender =
        spawnOnPort({"sz", "-q", file}, cable.linkB().string(), sendFolder.toStdString());
    if (receiver < 0 || sender < 0) {
        std::fprintf(stderr, "sz or rz cannot be run: install lrzsz\n");
        return 0.0;
    }
    int status = 0;
    waitpid(sender, &status, 0);
    const bool sent = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    waitpid(receiver, &status, 0);
    const double seconds = secondsSince(start);
    const auto received = std::filesystem::path(receiveFolder.toStdString()) / "payload.bin";
    if (!sent || !std::filesystem::exists(received) ||
        std::filesystem::file_size(received) != static_cast<std::uintmax_t>(kBlocks * kBlockData)) {
        std::fprintf(stderr, "ZMODEM transfer failed\n");
        return 0.0;
    }
    return kBlocks * kBlockData / seconds;
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// One 12-byte message at a time on an idle line, one way.
double keystrokeLatencyMs(const QString& folder) {
    auto link = makeLink(folder, 0.0);
    std::vector<double> latencies;
    for (std::size_t i = 0; i < 20; ++i) {
        std::this_thread::sleep_for(50ms);
        const auto sent = Clock::now();
        link->sender->send(QByteArray(12, 'k'));
        const auto arrived = link->arrivals.waitForMessage(i);
        if (!arrived) {
            return -1.0;
        }
        latencies.push_back(std::chrono::duration<double, std::milli>(*arrived - sent).count());
    }
    return median(latencies);
}

// The worst latency of a 20-byte line sent while 32 KiB blocks stream.
double chatLatencyUnderLoadMs(const QString& folder) {
    auto link = makeLink(folder, 0.0);
    std::atomic<bool> streaming{true};
    std::thread blocks([&] {
        const QByteArray block = randomBlock(2);
        while (streaming && link->sender->send(block)) {
        }
    });
    std::this_thread::sleep_for(6s);
    double worst = 0.0;
    for (std::size_t i = 0; i < 5; ++i) {
        const auto sent = Clock::now();
        link->sender->send(QByteArray(20, 'c'));
        const auto arrived = link->arrivals.waitForSized(20, i);
        if (!arrived) {
            worst = -1.0;
            break;
        }
        worst = std::max(worst, std::chrono::duration<double, std::milli>(*arrived - sent).count());
        std::this_thread::sleep_for(std::chrono::milliseconds(300 + 400 * i));
    }
    streaming = false;
    link->sender->close();
    blocks.join();
    return worst;
}

}  // namespace

int main(int argc, char* argv[]) {
    QCoreApplication application(argc, argv);
    QTemporaryDir folder;
    if (!folder.isValid()) {
        return 1;
    }
    const auto sub = [&](const char* name) { return folder.filePath(name); };
    std::printf("line_rate=%.0f (bytes per second at %d baud, 8N1)\n", kLineRate, kBaud);
    std::fflush(stdout);

    const double link = linkPayloadRate(sub("clean"), 0.0);
    const double zmodem = zmodemRate(sub("zmodem-clean"), 0.0);
    std::printf("link_efficiency=%.3f (payload %.0f B/s, goal >= 0.97)\n", link / kLineRate, link);
    std::printf("zmodem_efficiency=%.3f (payload %.0f B/s, same cable)\n", zmodem / kLineRate,
                zmodem);
    std::printf("link_vs_zmodem=%.3f (goal >= 1.0)\n", zmodem > 0 ? link / zmodem : 0.0);
    std::fflush(stdout);

    const double noisy = linkPayloadRate(sub("noisy"), 1e-5);
    const double zmodemNoisy = zmodemRate(sub("zmodem-noisy"), 1e-5);
    std::printf("link_efficiency_noisy=%.3f (payload %.0f B/s at BER 1e-5, goal >= 0.90)\n",
                noisy / kLineRate, noisy);
    std::printf("zmodem_efficiency_noisy=%.3f (payload %.0f B/s at BER 1e-5)\n",
                zmodemNoisy / kLineRate, zmodemNoisy);
    std::fflush(stdout);

    // A 12-byte message is a frame of about 20 bytes.
    const double keystrokeLineMs = 20 * 1000.0 / kLineRate;
    std::printf("keystroke_latency_ms=%.1f (its line time %.1f ms, goal <= line time + 5)\n",
                keystrokeLatencyMs(sub("keystroke")), keystrokeLineMs);
    const double blockLineMs = kBlockMessage * 1000.0 / kLineRate;
    std::printf(
        "chat_latency_under_load_ms=%.0f (one block's line time %.0f ms, goal <= that + "
        "100)\n",
        chatLatencyUnderLoadMs(sub("chat")), blockLineMs);
    return 0;
}
