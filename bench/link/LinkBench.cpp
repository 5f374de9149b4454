// Figures of the serial link over the virtual null-modem cable: the payload rate of file blocks
// against the raw line rate and against ZMODEM (sz/rz of lrzsz) on the same emulated line, with
// and without a chat line a second beside them; the latency of a keystroke and of a chat line
// under load; the processor time of both ends against sz and rz. By default one line of figures
// per line rate, from 9600 baud to an unthrottled cable, and one for the text corpus at each;
// then the network line over loopback TCP, encrypted, against plain loopback TCP.
// Prints name=value lines.

#include "cable/NullModemCable.h"
#include "session/link/MessageCompression.h"
#include "session/link/SerialPortLine.h"
#include "session/link/SerialPortOpener.h"
#include "session/net/NetworkProvider.h"

#include <QCoreApplication>
#include <QSerialPort>
#include <QTcpServer>
#include <QTemporaryDir>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zstd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <fstream>
#include <functional>
#include <limits>
#include <mutex>
#include <optional>
#include <random>
#include <set>
#include <sstream>
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
// The unthrottled cable (baud 0 here): the port is set to the highest rate there is, and the
// link is told of a rate far above what the cable and the processor carry, so that neither the
// line nor the link's pacing limits it.
constexpr int kUnthrottled = 0;
constexpr int kUnpacedLinkBaud = 400'000'000;
constexpr qsizetype kBlockData = 32768;
constexpr qsizetype kBlockMessage = kBlockData + 11;  // a FileBlock of block-size code 5
constexpr int kBlocks = 12;
constexpr qsizetype kChatMessage = 20 + 8;  // a TextMessage of 20 characters
// The file of the processor-time comparison: 1 MB, in whole blocks.
constexpr int kCpuBlocks = 31;

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

CableOptions cableOptions(const QString& folder, double bitErrorRate, std::uint64_t seed,
                          int baud = kBaud) {
    CableOptions options;
    options.directory = folder.toStdString();
    options.line.baud = baud;
    options.line.bitErrorRate = bitErrorRate;
    options.seed = seed;
    return options;
}

// portBaud: what the port is set to, when not the line's own rate.
std::unique_ptr<SerialPortLine> openEnd(const std::filesystem::path& end, SerialPortLine::Role role,
                                        int baud, bool compression, int portBaud = 0) {
    SerialSettings settings;
    settings.portName = QString::fromStdString(end.string());
    settings.baud =
        portBaud > 0 ? portBaud : (baud == kUnthrottled ? SerialSettings::kMaxBaud : baud);
    QString error;
    auto port = velmora::openSerialPort(settings, error);
    if (!port) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        std::exit(1);
    }
    if (baud == kUnthrottled) {
        settings.baud = kUnpacedLinkBaud;
    }
    velmora::LinkEngine::Config tuning;
    tuning.offerCompression = compression;
    return std::make_unique<SerialPortLine>(std::move(port), settings, role, tuning);
}

// The threads of this process.
std::set<std::string> threadIds() {
    std::set<std::string> ids;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/task")) {
        ids.insert(entry.path().filename().string());
    }
    return ids;
}

// Processor time of one thread of this process, in seconds.
double threadCpuSeconds(const std::string& id) {
    std::ifstream in("/proc/self/task/" + id + "/stat");
    std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    // Fields after the name in parentheses; utime and stime are the 14th and 15th.
    std::istringstream fields(stat.substr(stat.rfind(')') + 2));
    std::string field;
    double ticks = 0;
    for (int i = 3; i <= 15 && fields >> field; ++i) {
        if (i >= 14) {
            ticks += std::stod(field);
        }
    }
    return ticks / static_cast<double>(sysconf(_SC_CLK_TCK));
}

double processCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

std::unique_ptr<Link> makeLink(const QString& folder, double bitErrorRate, int baud = kBaud,
                               std::set<std::string>* cableThreads = nullptr,
                               bool compression = true, int portBaud = 0) {
    auto link = std::make_unique<Link>();
    const std::set<std::string> before = threadIds();
    link->cable = std::make_unique<NullModemCable>(cableOptions(folder, bitErrorRate, 42, baud));
    if (cableThreads) {
        for (const std::string& id : threadIds()) {
            if (!before.contains(id)) {
                cableThreads->insert(id);
            }
        }
    }
    link->receiver =
        openEnd(link->cable->linkA(), SerialPortLine::Role::Hosting, baud, compression, portBaud);
    link->sender =
        openEnd(link->cable->linkB(), SerialPortLine::Role::Calling, baud, compression, portBaud);
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

// File-block payload bytes per second over the link; with chat, a chat line a second goes in
// the interactive lane beside the blocks.
double linkPayloadRate(const QString& folder, double bitErrorRate, bool chat) {
    auto link = makeLink(folder, bitErrorRate);
    const QByteArray block = randomBlock(1);
    const auto start = Clock::now();
    std::atomic<bool> streaming{true};
    std::thread sender([&] {
        for (int i = 0; i < kBlocks; ++i) {
            link->sender->send(block);
        }
    });
    std::thread chatter([&] {
        while (chat && streaming) {
            link->sender->sendInteractive(QByteArray(kChatMessage, 'c'));
            std::this_thread::sleep_for(1s);
        }
    });
    const auto last = link->arrivals.waitForSized(kBlockMessage, kBlocks - 1);
    streaming = false;
    sender.join();
    chatter.join();
    if (!last) {
        return 0.0;
    }
    const double seconds = std::chrono::duration<double>(*last - start).count();
    link->sender->close();
    return kBlocks * kBlockData / seconds;
}

struct FileRun {
    double cpuSeconds = 0;       // processor time of both ends
    double cableCpuSeconds = 0;  // the emulated cable's own thread
    double wallSeconds = 0;
};

// Both ends of the link carrying a file as file blocks (32 KiB of data after an 11-byte header,
// the last one padded with zeros, as the transfers send it); the emulated cable's own thread is
// not counted.
FileRun sendFile(const QString& folder, const QByteArray& file, int baud, bool compression) {
    std::vector<QByteArray> blocks;
    for (qsizetype at = 0; at < file.size(); at += kBlockData) {
        QByteArray block(11, '\3');
        block.append(file.mid(at, kBlockData));
        block.resize(kBlockMessage, '\0');
        blocks.push_back(block);
    }
    std::set<std::string> cableThreads;
    auto link = makeLink(folder, 0.0, baud, &cableThreads, compression);
    const auto cableCpu = [&] {
        double sum = 0;
        for (const std::string& id : cableThreads) {
            sum += threadCpuSeconds(id);
        }
        return sum;
    };
    const double cableBefore = cableCpu();
    const double cpuBefore = processCpuSeconds() - cableBefore;
    const auto start = Clock::now();
    std::thread sender([&] {
        for (const QByteArray& block : blocks) {
            link->sender->send(block);
        }
    });
    const auto last = link->arrivals.waitForMessage(blocks.size() - 1);
    sender.join();
    FileRun run;
    run.cableCpuSeconds = cableCpu() - cableBefore;
    run.cpuSeconds = processCpuSeconds() - cableCpu() - cpuBefore;
    run.wallSeconds = last ? std::chrono::duration<double>(*last - start).count() : 0.0;
    link->sender->close();
    return run;
}

QByteArray randomFile(qsizetype size, std::uint32_t seed) {
    QByteArray file(size, Qt::Uninitialized);
    std::mt19937 random(seed);
    for (char& byte : file) {
        byte = static_cast<char>(random());
    }
    return file;
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

struct ZmodemRun {
    double rate = 0;        // payload bytes per second
    double cpuSeconds = 0;  // sz and rz together
};

// ZMODEM sending a file over the same emulated line.
ZmodemRun zmodemRun(const QString& folder, double bitErrorRate, const QByteArray& contents,
                    int baud) {
    const auto bytes = contents.size();
    const QString sendFolder = folder + "/send";
    const QString receiveFolder = folder + "/receive";
    std::filesystem::create_directories(sendFolder.toStdString());
    std::filesystem::create_directories(receiveFolder.toStdString());
    const std::string file = sendFolder.toStdString() + "/payload.bin";
    {
        std::ofstream out(file, std::ios::binary);
        out.write(contents.constData(), contents.size());
    }
    NullModemCable cable(cableOptions(folder + "/cable", bitErrorRate, 42, baud));
    const auto start = Clock::now();
    const pid_t receiver =
        spawnOnPort({"rz", "-q", "-y"}, cable.linkA().string(), receiveFolder.toStdString());
    const pid_t sender =
        spawnOnPort({"sz", "-q", file}, cable.linkB().string(), sendFolder.toStdString());
    if (receiver < 0 || sender < 0) {
        std::fprintf(stderr, "sz or rz cannot be run: install lrzsz\n");
        return {};
    }
    int status = 0;
    rusage senderUsage{};
    rusage receiverUsage{};
    wait4(sender, &status, 0, &senderUsage);
    const bool sent = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    wait4(receiver, &status, 0, &receiverUsage);
    const double seconds = secondsSince(start);
    const auto received = std::filesystem::path(receiveFolder.toStdString()) / "payload.bin";
    if (!sent || !std::filesystem::exists(received) ||
        std::filesystem::file_size(received) != static_cast<std::uintmax_t>(bytes)) {
        std::fprintf(stderr, "ZMODEM transfer failed\n");
        return {};
    }
    const auto cpu = [](const rusage& usage) {
        return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
               (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    };
    return {bytes / seconds, cpu(senderUsage) + cpu(receiverUsage)};
}

// ZMODEM sometimes falls into a slow mode at about half the line: the better of two runs.
ZmodemRun zmodemBestOfTwo(const QString& folder, double bitErrorRate, const QByteArray& file,
                          int baud = kBaud) {
    const ZmodemRun first = zmodemRun(folder + "/1", bitErrorRate, file, baud);
    const ZmodemRun second = zmodemRun(folder + "/2", bitErrorRate, file, baud);
    return first.rate >= second.rate ? first : second;
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
        link->sender->sendInteractive(QByteArray(12, 'k'));
        const auto arrived = link->arrivals.waitForMessage(i);
        if (!arrived) {
            return -1.0;
        }
        latencies.push_back(std::chrono::duration<double, std::milli>(*arrived - sent).count());
    }
    return median(latencies);
}

// The worst latency of five 20-byte chat lines sent while 32 KiB blocks stream on the line.
double worstChatUnderLoadMs(velmora::Line& sender, TimingListener& arrivals) {
    std::atomic<bool> streaming{true};
    std::thread blocks([&] {
        const QByteArray block = randomBlock(2);
        while (streaming && sender.send(block)) {
        }
    });
    std::this_thread::sleep_for(6s);
    double worst = 0.0;
    for (std::size_t i = 0; i < 5; ++i) {
        const auto sent = Clock::now();
        sender.sendInteractive(QByteArray(kChatMessage, 'c'));
        const auto arrived = arrivals.waitForSized(kChatMessage, i);
        if (!arrived) {
            worst = -1.0;
            break;
        }
        worst = std::max(worst, std::chrono::duration<double, std::milli>(*arrived - sent).count());
        std::this_thread::sleep_for(std::chrono::milliseconds(300 + 400 * i));
    }
    streaming = false;
    sender.close();
    blocks.join();
    return worst;
}

double chatLatencyUnderLoadMs(const QString& folder, int baud, int portBaud = 0,
                              double bitErrorRate = 0.0) {
    auto link = makeLink(folder, bitErrorRate, baud, nullptr, true, portBaud);
    return worstChatUnderLoadMs(*link->sender, link->arrivals);
}

// A path for one measurement's files.
using Folders = std::function<QString(const char*)>;
void speedFigures(const Folders& sub);
void latencyFigures(const Folders& sub);
void cpuFigures(const Folders& sub);
void compressFigures(const Folders& sub);
void rateFigures(const Folders& sub, const std::vector<int>& rates);
void networkFigures();

}  // namespace

int main(int argc, char* argv[]) {
    QCoreApplication application(argc, argv);
    QTemporaryDir folder;
    if (!folder.isValid()) {
        return 1;
    }
    const auto sub = [&](const char* name) { return folder.filePath(name); };
    // Figure sets: rates (the default; rates in baud or "unthrottled" may follow to run only
    // those), and at 115200 baud speed, latency, cpu, compress.
    QStringList sets;
    std::vector<int> rates;
    for (const QString& argument : application.arguments().mid(1)) {
        bool isNumber = false;
        const int baud = argument.toInt(&isNumber);
        if (isNumber || argument == QLatin1String("unthrottled")) {
            rates.push_back(isNumber ? baud : kUnthrottled);
        } else {
            sets.append(argument);
        }
    }
    if (rates.empty()) {
        rates = {9600, 115200, 921600, 3000000, 4000000, kUnthrottled};
    }
    const auto wanted = [&](const char* set) { return sets.contains(set); };
    if (sets.isEmpty() || wanted("rates")) {
        rateFigures(sub, rates);
    }
    if (sets.isEmpty() || wanted("network")) {
        networkFigures();
    }
    const bool onlyTheseSets = std::all_of(sets.begin(), sets.end(), [](const QString& set) {
        return set == QLatin1String("rates") || set == QLatin1String("network");
    });
    if (onlyTheseSets) {
        return 0;
    }
    std::printf("line_rate=%.0f (bytes per second at %d baud, 8N1)\n", kLineRate, kBaud);
    std::fflush(stdout);
    if (wanted("speed")) {
        speedFigures(sub);
    }
    if (wanted("latency")) {
        latencyFigures(sub);
    }
    if (wanted("cpu")) {
        cpuFigures(sub);
    }
    if (wanted("compress")) {
        compressFigures(sub);
    }
    return 0;
}

namespace {

void speedFigures(const Folders& sub) {
    const double link = linkPayloadRate(sub("clean"), 0.0, false);
    const double linkChat = linkPayloadRate(sub("clean-chat"), 0.0, true);
    const QByteArray file = randomFile(kBlocks * kBlockData, 1);
    const double zmodem = zmodemBestOfTwo(sub("zmodem-clean"), 0.0, file).rate;
    std::printf("link_efficiency=%.3f (payload %.0f B/s, goal >= 0.98)\n", link / kLineRate, link);
    std::printf("link_efficiency_chat=%.3f (a chat line a second beside, goal >= 0.98)\n",
                linkChat / kLineRate);
    std::printf("zmodem_efficiency=%.3f (payload %.0f B/s, same cable, best of two)\n",
                zmodem / kLineRate, zmodem);
    std::printf("link_vs_zmodem=%.3f (goal >= 1.0)\n", zmodem > 0 ? link / zmodem : 0.0);
    std::fflush(stdout);

    const double noisy = linkPayloadRate(sub("noisy"), 1e-5, false);
    const double noisyChat = linkPayloadRate(sub("noisy-chat"), 1e-5, true);
    const double zmodemNoisy = zmodemBestOfTwo(sub("zmodem-noisy"), 1e-5, file).rate;
    std::printf("link_efficiency_noisy=%.3f (payload %.0f B/s at BER 1e-5, goal >= 0.92)\n",
                noisy / kLineRate, noisy);
    std::printf("link_efficiency_noisy_chat=%.3f (a chat line a second beside, goal >= 0.92)\n",
                noisyChat / kLineRate);
    std::printf("zmodem_efficiency_noisy=%.3f (payload %.0f B/s at BER 1e-5, best of two)\n",
                zmodemNoisy / kLineRate, zmodemNoisy);
    std::fflush(stdout);
}

void latencyFigures(const Folders& sub) {
    // A 12-byte message is a frame of about 20 bytes.
    const double keystrokeLineMs = 20 * 1000.0 / kLineRate;
    std::printf("keystroke_latency_ms=%.1f (its line time %.1f ms, goal <= line time + 5)\n",
                keystrokeLatencyMs(sub("keystroke")), keystrokeLineMs);
    std::printf("chat_latency_under_load_ms=%.0f (goal <= 150)\n",
                chatLatencyUnderLoadMs(sub("chat"), kBaud));
    std::printf("chat_latency_under_load_9600_ms=%.0f (goal <= 600)\n",
                chatLatencyUnderLoadMs(sub("chat-9600"), 9600));
    std::fflush(stdout);
}

void cpuFigures(const Folders& sub) {
    // Random bytes: compression cannot help, so both carry the same bytes.
    const QByteArray file = randomFile(kCpuBlocks * kBlockData, 3);
    const FileRun velmora = sendFile(sub("cpu"), file, kBaud, true);
    const ZmodemRun zmodemCpu = zmodemBestOfTwo(sub("zmodem-cpu"), 0.0, file);
    std::printf("cpu_link_s=%.3f (both ends, 1 MB at %d baud, %.0f s)\n", velmora.cpuSeconds, kBaud,
                velmora.wallSeconds);
    std::printf("cpu_zmodem_s=%.3f (sz and rz, the same file and cable)\n", zmodemCpu.cpuSeconds);
    std::printf("cpu_vs_zmodem=%.2f (goal <= 1.0)\n",
                zmodemCpu.cpuSeconds > 0 ? velmora.cpuSeconds / zmodemCpu.cpuSeconds : 0.0);
    std::fflush(stdout);
}

struct Corpus {
    QByteArray tar;
    int files = 0;
};

// A tar of text files that Debian installs: the licences, then the C++ library's headers in
// name order, until there are 2 MiB.
Corpus textCorpus(const QString& folder) {
    std::vector<std::string> names;
    for (const char* root : {"/usr/share/common-licenses", "/usr/include/c++"}) {
        std::vector<std::string> found;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
            if (entry.is_regular_file() && !entry.is_symlink()) {
                found.push_back(entry.path().string());
            }
        }
        std::sort(found.begin(), found.end());
        names.insert(names.end(), found.begin(), found.end());
    }
    std::filesystem::create_directories(folder.toStdString());
    const std::string list = folder.toStdString() + "/corpus.list";
    Corpus corpus;
    {
        std::ofstream out(list);
        std::uintmax_t total = 0;
        for (const std::string& name : names) {
            if (total >= 2U << 20) {
                break;
            }
            out << name.substr(1) << "\n";
            total += std::filesystem::file_size(name);
            ++corpus.files;
        }
    }
    const std::string tar = folder.toStdString() + "/corpus.tar";
    const std::string command = "tar cf '" + tar + "' -C / -T '" + list + "'";
    if (std::system(command.c_str()) != 0) {
        std::fprintf(stderr, "tar failed\n");
        return {};
    }
    std::ifstream in(tar, std::ios::binary);
    corpus.tar = QByteArray::fromStdString(
        std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>()));
    return corpus;
}

double fileRate(qsizetype bytes, const FileRun& run) {
    return run.wallSeconds > 0 ? static_cast<double>(bytes) / run.wallSeconds : 0.0;
}

void compressFigures(const Folders& sub) {
    const Corpus corpus = textCorpus(sub("corpus"));
    if (corpus.tar.isEmpty()) {
        return;
    }
    std::printf(
        "corpus=%lld bytes (a tar of %d files: /usr/share/common-licenses, then "
        "/usr/include/c++ in name order)\n",
        static_cast<long long>(corpus.tar.size()), corpus.files);
    std::fflush(stdout);
    const FileRun text = sendFile(sub("text"), corpus.tar, kBaud, true);
    const double textRate = fileRate(corpus.tar.size(), text);
    std::printf("text_efficiency=%.2f (file %.0f B/s, goal >= 3.0)\n", textRate / kLineRate,
                textRate);
    std::printf(
        "text_cpu_share=%.4f (processor time of both ends %.2f s over %.0f s, goal < 0.05)\n",
        text.wallSeconds > 0 ? text.cpuSeconds / text.wallSeconds : 0.0, text.cpuSeconds,
        text.wallSeconds);
    std::fflush(stdout);

    const QByteArray random = randomFile(kBlocks * kBlockData, 4);
    const double on = fileRate(random.size(), sendFile(sub("random-on"), random, kBaud, true));
    const double off = fileRate(random.size(), sendFile(sub("random-off"), random, kBaud, false));
    std::printf("random_efficiency=%.3f (compression on, goal >= 0.98)\n", on / kLineRate);
    std::printf(
        "random_efficiency_plain=%.3f (compression off, the same run; goal: within 0.005)\n",
        off / kLineRate);
    std::fflush(stdout);

    const QByteArray start = corpus.tar.left(256 * 1024);
    const FileRun slow = sendFile(sub("text-9600"), start, 9600, true);
    std::printf("text_efficiency_9600=%.2f (the corpus's first 256 KiB, goal >= 3.0)\n",
                fileRate(start.size(), slow) / 960.0);
    std::fflush(stdout);

    const ZmodemRun zmodem = zmodemBestOfTwo(sub("zmodem-text"), 0.0, corpus.tar);
    std::printf("text_zmodem_efficiency=%.3f (best of two)\n", zmodem.rate / kLineRate);
    std::printf("text_vs_zmodem=%.2f (goal >= 3.0)\n",
                zmodem.rate > 0 ? textRate / zmodem.rate : 0.0);
}

// Line time each rate's transfer takes: long enough that the start hardly counts.
constexpr double kRateSeconds = 12.0;
// An unthrottled transfer carries this much.
constexpr qsizetype kUnthrottledBytes = 48 << 20;
// A line this slow is also measured behind ports set to kBaud.
constexpr int kSlowLineBehindFastPorts = 9600;

// What zstd makes of the bytes as one file with the link's window: the limit a link that
// compresses message by message approaches.
double wholeFileRatio(const QByteArray& bytes, int level) {
    ZSTD_CCtx* context = ZSTD_createCCtx();
    ZSTD_CCtx_setParameter(context, ZSTD_c_compressionLevel, level);
    ZSTD_CCtx_setParameter(context, ZSTD_c_windowLog, velmora::MessageCompressor::kWindowLog);
    QByteArray out(static_cast<qsizetype>(ZSTD_compressBound(bytes.size())), Qt::Uninitialized);
    const std::size_t size =
        ZSTD_compress2(context, out.data(), out.size(), bytes.constData(), bytes.size());
    ZSTD_freeCCtx(context);
    return ZSTD_isError(size) || size == 0 ? 0.0 : static_cast<double>(bytes.size()) / size;
}

// The machine's load over the last minute, as uptime says it: the figures of a busy machine are
// noisier, ZMODEM's most of all.
std::string loadAverage() {
    std::ifstream in("/proc/loadavg");
    std::string oneMinute;
    in >> oneMinute;
    return oneMinute.empty() ? std::string("unknown") : oneMinute;
}

std::string rateName(int baud) {
    return baud == kUnthrottled ? std::string("unthrottled") : std::to_string(baud);
}

// File bytes for a transfer of kRateSeconds at this rate, in whole blocks.
qsizetype rateFileBytes(int baud) {
    if (baud == kUnthrottled) {
        return kUnthrottledBytes;
    }
    const auto bytes = static_cast<qsizetype>(baud / 10.0 * kRateSeconds);
    return std::max<qsizetype>(1, bytes / kBlockData) * kBlockData;
}

// The share of the line a payload rate is; bytes per second when the line is unthrottled.
std::string shareOfLine(int baud, double bytesPerSecond) {
    char text[64];
    if (baud == kUnthrottled) {
        std::snprintf(text, sizeof text, "%.1f MB/s", bytesPerSecond / 1e6);
    } else {
        std::snprintf(text, sizeof text, "%.3f", bytesPerSecond / (baud / 10.0));
    }
    return text;
}

void rateFigures(const Folders& sub, const std::vector<int>& rates) {
    std::printf(
        "One line per rate: random data in 32 KiB blocks one way (efficiency: payload over the "
        "line rate), ZMODEM (sz/rz) with the same file on the same cable (best of two), the "
        "processor time of both ends (Velmora's in-process cable excluded), the worst of five "
        "chat lines sent while blocks stream; then the text corpus.\n");
    std::fflush(stdout);
    const Corpus corpus = textCorpus(sub("rates-corpus"));
    for (const int baud : rates) {
        const std::string name = rateName(baud);
        const auto folder = [&](const char* what) {
            return sub(("rate-" + name + "-" + what).c_str());
        };
        const QByteArray file = randomFile(rateFileBytes(baud), 5);
        const FileRun link = sendFile(folder("link"), file, baud, true);
        const double linkRate = fileRate(file.size(), link);
        const ZmodemRun zmodem = zmodemBestOfTwo(folder("zmodem"), 0.0, file, baud);
        const double chatMs = chatLatencyUnderLoadMs(folder("chat"), baud);
        std::printf(
            "rate %s: efficiency=%s vs_zmodem=%.3f (ZMODEM %s) cpu_s=%.2f (ZMODEM %.2f, %.2f x) "
            "chat_under_load_ms=%.0f (%lld bytes in %.1f s; the cable's thread %.2f s; load "
            "%s)\n",
            name.c_str(), shareOfLine(baud, linkRate).c_str(),
            zmodem.rate > 0 ? linkRate / zmodem.rate : 0.0, shareOfLine(baud, zmodem.rate).c_str(),
            link.cpuSeconds, zmodem.cpuSeconds,
            zmodem.cpuSeconds > 0 ? link.cpuSeconds / zmodem.cpuSeconds : 0.0, chatMs,
            static_cast<long long>(file.size()), link.wallSeconds, link.cableCpuSeconds,
            loadAverage().c_str());
        std::fflush(stdout);
        if (baud == kSlowLineBehindFastPorts) {
            // As behind a modem: the ports run at 115200, the line at its own rate.
            std::printf(
                "rate %s behind ports at %d: chat_under_load_ms=%.0f (BER 1e-5: %.0f; goal <= "
                "600; load %s)\n",
                name.c_str(), kBaud, chatLatencyUnderLoadMs(folder("chat-fast-ports"), baud, kBaud),
                chatLatencyUnderLoadMs(folder("chat-fast-ports-noisy"), baud, kBaud, 1e-5),
                loadAverage().c_str());
            std::fflush(stdout);
        }
        if (corpus.tar.isEmpty()) {
            continue;
        }
        // All of it at every rate: the start alone (licence texts) compresses less than the
        // whole, and the corpus takes about five minutes at 9600 baud.
        const QByteArray& text = corpus.tar;
        const FileRun textRun = sendFile(folder("text"), text, baud, true);
        const double textRate = fileRate(text.size(), textRun);
        std::printf(
            "text %s: efficiency=%s cpu_s=%.2f (%lld bytes of the corpus in %.1f s; as one file "
            "they compress %.2f x at level 1, %.2f x at 19; load %s)\n",
            name.c_str(), shareOfLine(baud, textRate).c_str(), textRun.cpuSeconds,
            static_cast<long long>(text.size()), textRun.wallSeconds, wholeFileRatio(text, 1),
            wholeFileRatio(text, 19), loadAverage().c_str());
        std::fflush(stdout);
    }
}

// The network line over loopback TCP: a host listening and a caller that proved the passphrase,
// as two Velmoras have them.
struct NetworkLink {
    std::unique_ptr<velmora::Line> host;
    std::unique_ptr<velmora::Line> caller;
    TimingListener arrivals;  // at the host
    TimingListener callerSide;
};

std::unique_ptr<NetworkLink> makeNetworkLink() {
    const QString passphrase = QStringLiteral("a passphrase for the benchmark");
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    const quint16 port = probe.serverPort();
    probe.close();
    const velmora::Address address = {
        {velmora::guids::AddressINet, QByteArrayLiteral("127.0.0.1\0")},
        {velmora::guids::AddressINetPort, QByteArray(reinterpret_cast<const char*>(&port), 2)}};
    auto link = std::make_unique<NetworkLink>();
    velmora::NetworkProvider hostSide(nullptr, passphrase);
    velmora::NetworkProvider callerSide(nullptr, passphrase);
    hostSide.initialize(address);
    callerSide.initialize(address);
    if (hostSide.listen(link->host) != velmora::DP_OK) {
        std::fprintf(stderr, "%s\n", qPrintable(hostSide.lastError()));
        std::exit(1);
    }
    link->host->start(&link->arrivals);
    if (callerSide.connect(link->caller) != velmora::DP_OK) {
        std::fprintf(stderr, "%s\n", qPrintable(callerSide.lastError()));
        std::exit(1);
    }
    auto* line = static_cast<SerialPortLine*>(link->caller.get());
    if (!line->waitUntilUp(30s)) {
        std::fprintf(stderr, "%s\n", qPrintable(line->lastError()));
        std::exit(1);
    }
    link->caller->start(&link->callerSide);
    return link;
}

// Plain loopback TCP: the same bytes written by one thread and read by another, no link, no
// encryption; bytes per second.
double plainTcpRate(qsizetype total) {
    const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener, 1) != 0 ||
        ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        return 0.0;
    }
    const int writer = ::socket(AF_INET, SOCK_STREAM, 0);
    if (::connect(writer, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        return 0.0;
    }
    const int reader = ::accept(listener, nullptr, nullptr);
    const QByteArray block = randomBlock(3);
    const auto start = Clock::now();
    std::thread sending([&] {
        for (qsizetype sent = 0; sent < total;) {
            const ssize_t count =
                ::write(writer, block.constData(),
                        static_cast<size_t>(std::min(block.size(), total - sent)));
            if (count <= 0) {
                return;
            }
            sent += count;
        }
    });
    std::vector<char> buffer(1 << 16);
    qsizetype received = 0;
    while (received < total) {
        const ssize_t count = ::read(reader, buffer.data(), buffer.size());
        if (count <= 0) {
            break;
        }
        received += count;
    }
    const double seconds = secondsSince(start);
    sending.join();
    ::close(writer);
    ::close(reader);
    ::close(listener);
    return received == total ? total / seconds : 0.0;
}

void networkFigures() {
    constexpr int kNetworkBlocks = 1500;  // about 49 MB
    double rate = 0.0;
    {
        auto link = makeNetworkLink();
        const QByteArray block = randomBlock(1);
        const auto start = Clock::now();
        std::thread sender([&] {
            for (int i = 0; i < kNetworkBlocks; ++i) {
                link->caller->send(block);
            }
        });
        const auto last = link->arrivals.waitForSized(kBlockMessage, kNetworkBlocks - 1);
        sender.join();
        if (last) {
            rate =
                kNetworkBlocks * kBlockData / std::chrono::duration<double>(*last - start).count();
        }
        link->caller->close();
    }
    const double plain = plainTcpRate(kNetworkBlocks * kBlockMessage);
    double chatMs = 0.0;
    {
        auto link = makeNetworkLink();
        chatMs = worstChatUnderLoadMs(*link->caller, link->arrivals);
    }
    std::printf(
        "network loopback TCP, encrypted: rate=%.1f MB/s (goal >= 50; plain loopback TCP %.1f "
        "MB/s, %.3f of it) chat_under_load_ms=%.1f (goal <= 20)\n",
        rate / 1e6, plain / 1e6, plain > 0 ? rate / plain : 0.0, chatMs);
    std::fflush(stdout);
}

}  // namespace
