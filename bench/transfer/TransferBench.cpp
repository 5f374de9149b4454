// Figures of file transfer through the program's own parts: two session components in this
// process, each with its transfer engine, the sender thread on one side and the receiver on the
// other, over the virtual null-modem cable (velmora-cable, a process of its own, so that its
// emulation of the line is not counted). Prints name=value lines:
//   transfer_efficiency     a 2 MiB file at 115200 baud, block-size code 5: payload rate over
//                           the raw line rate
//   transfer_verified_efficiency  the same transfer timed until the sender learned that the
//                           file arrived whole and verified (SHA-256 on both sides), over the
//                           line rate
//   transfer_cpu_ratio      processor time of both sides over the wall time of that transfer
//   transfer_rss_growth_mb  growth of resident memory while a 1 GiB file crosses an
//                           unthrottled cable
//   transfer_share_BAUD     on slow lines (2400, 9600 and 19200 baud): a file of about a minute
//                           of line, timed from the offer to the file received, over the line
//                           rate
//   transfer_vs_zmodem_BAUD ZMODEM's time (sz/rz, the same file on the same kind of cable,
//                           timed from its start to the file received, best of two) over that
//
//   velmora-bench-transfer [rates [BAUD...]]    (rates alone: only the slow-line shares)

#include "peer/Peer.h"
#include "session/link/SerialPortLine.h"
#include "session/link/SerialPortOpener.h"
#include "session/link/SerialProvider.h"
#include "session/service/SessionService.h"
#include "support/BenchSupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QSerialPort>
#include <QTemporaryDir>
#include <QTimer>

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <filesystem>
#include <thread>

namespace velmora::bench {
namespace {

using namespace std::chrono_literals;

constexpr int kBaud = 115200;
constexpr double kLineRate = kBaud / 10.0;
constexpr std::uint64_t kFileBytes = 2 * 1024 * 1024;
constexpr std::uint64_t kLargeFileBytes = 1024ULL * 1024 * 1024;
constexpr int kBlockCode = 5;
// The slow lines measured by default, and about how long their files take.
const std::vector<int> kSlowLineRates = {2400, 9600, 19200};
constexpr double kSlowLineSeconds = 60.0;
// The unthrottled cable: the port is set to the highest rate there is, and the link is told of
// a rate far above what the cable and the processor carry, so that neither the line nor the
// link's pacing limits the transfer.
constexpr int kFastPortBaud = SerialSettings::kMaxBaud;
constexpr int kUnpacedLinkBaud = 400'000'000;

const QString kProviderName = QStringLiteral("Serial Connection");

// The serial provider's work with one difference: the link paces itself by kUnpacedLinkBaud,
// not by the port's rate.
class UnpacedSerialProvider final : public ServiceProvider {
public:
    explicit UnpacedSerialProvider(SerialSettings settings) : m_settings(std::move(settings)) {}

    HRESULT initialize(const Address&) override { return DP_OK; }
    std::uint32_t defaultTimeoutMs() const override { return SerialProvider::kDefaultTimeoutMs; }
    HRESULT connect(std::unique_ptr<Line>& line) override {
        return open(line, SerialPortLine::Role::Calling);
    }
    HRESULT listen(std::unique_ptr<Line>& line) override {
        return open(line, SerialPortLine::Role::Hosting);
    }
    HRESULT modemNames(QStringList& names) override {
        names.clear();
        return DP_OK;
    }

private:
    HRESULT open(std::unique_ptr<Line>& line, SerialPortLine::Role role) {
        QString error;
        std::unique_ptr<QSerialPort> port = openSerialPort(m_settings, error);
        if (!port) {
            std::fprintf(stderr, "%s\n", qPrintable(error));
            return DPERR_NOCONNECTION;
        }
        SerialSettings linkSettings = m_settings;
        linkSettings.baud = kUnpacedLinkBaud;
        line = std::make_unique<SerialPortLine>(std::move(port), linkSettings, role);
        return DP_OK;
    }

    SerialSettings m_settings;
};

ProviderEntry serialEntry(const std::string& device, bool unpaced, int baud,
                          const QString& dataFolder) {
    SerialSettings settings;
    settings.portName = QString::fromStdString(device);
    settings.baud = unpaced ? kFastPortBaud : baud;
    if (unpaced) {
        return {guids::ServiceProviderSerial, kProviderName,
                [settings] { return std::make_unique<UnpacedSerialProvider>(settings); }};
    }
    return {guids::ServiceProviderSerial, kProviderName, [settings, dataFolder] {
                return std::make_unique<SerialProvider>(dataFolder, nullptr, settings);
            }};
}

// One side as the window runs it: the core peer, with its files received into a folder of its own.
class BenchPeer final : public QObject, public TransferSettings {
public:
    BenchPeer(ProviderEntry provider, QString incoming)
        : m_incoming(std::move(incoming)),
          m_service({std::move(provider)}),
          m_peer(m_service, *this) {
        connect(&m_peer, &Peer::conversationLine, this, [this](const QString& line) {
            if (line.contains(QStringLiteral(" received and saved into "))) {
                m_receivedAt = Clock::now();
            } else if (line.endsWith(QStringLiteral(" arrived whole and verified."))) {
                m_verifiedAt = Clock::now();
            } else {
                fail(line);
            }
        });
        connect(&m_peer, &Peer::transferStatus, this, [this](const QString& text) { fail(text); });
        connect(&m_peer, &Peer::userMessage, this, [this](const QString& text) { fail(text); });
        connect(&m_peer, &Peer::connectFinished, this,
                [this](const ConnectResult& result) { m_connectOutcome = result.outcome; });
    }

    // Starts hosting or joining over the cable, as velmora-cli does.
    void connectAs(bool calling, const QString& name) {
        ConnectRequest request;
        request.calling = calling;
        request.sessionName = QStringLiteral("Bench");
        request.playerName = name;
        request.searchForMs = 10000;
        m_peer.connectTo(request);
    }
    std::optional<ConnectOutcome> connectOutcome() const { return m_connectOutcome; }

    // Whether the other side's participant is there.
    bool opponentPresent() const {
        const TDXPlayPlayer* other = m_peer.opponent();
        return other != nullptr && other->RemotePlayer;
    }

    void sendFile(const QString& path) { m_peer.sendFiles({path}); }

    // When the last file arrived whole.
    std::optional<Clock::time_point> receivedAt() const { return m_receivedAt; }
    // When the receiver confirmed the last file sent as whole and verified.
    std::optional<Clock::time_point> verifiedAt() const { return m_verifiedAt; }
    int filesVerified() const { return m_peer.transfers().model().outcomes().verifiedWhole; }
    bool failed() const { return m_failed; }

    // TransferSettings
    QString incomingFolder() const override { return m_incoming; }
    void setIncomingFolder(const QString& folder) override { m_incoming = folder; }
    QString defaultIncomingFolder() const override { return m_incoming; }
    bool blockIncoming() const override { return false; }
    bool internalLoop() const override { return false; }
    int blockSizeCode() const override { return kBlockCode; }

private:
    void fail(const QString& text) {
        m_failed = true;
        std::fprintf(stderr, "%s\n", qPrintable(text));
    }

    QString m_incoming;
    SessionService m_service;
    Peer m_peer;
    std::optional<Clock::time_point> m_receivedAt;
    std::optional<Clock::time_point> m_verifiedAt;
    std::optional<ConnectOutcome> m_connectOutcome;
    bool m_failed = false;
};

// Runs the event loop until done() holds or the time is up; whether it holds.
bool runUntil(const std::function<bool()>& done, std::chrono::seconds limit) {
    const auto until = Clock::now() + limit;
    QEventLoop loop;
    QTimer check;
    check.setInterval(20);
    QObject::connect(&check, &QTimer::timeout, &loop, [&] {
        if (done() || Clock::now() >= until) {
            loop.quit();
        }
    });
    check.start();
    if (!done()) {
        loop.exec();
    }
    return done();
}

// Bytes per second that cross the cable raw, one way: what one end writes as fast as the line
// takes it, timed at the other end from its first byte to its last.
double rawLineRate(const CableProcess& cable, std::size_t bytes) {
    const auto openRaw = [](const std::string& end) {
        const int fd = ::open(end.c_str(), O_RDWR | O_NOCTTY);
        termios modes{};
        tcgetattr(fd, &modes);
        cfmakeraw(&modes);
        tcsetattr(fd, TCSANOW, &modes);
        return fd;
    };
    const int reader = openRaw(cable.endA());
    const int writer = openRaw(cable.endB());
    std::thread writing([&] {
        const std::vector<char> chunk(bytes, 'x');
        for (std::size_t sent = 0; sent < bytes;) {
            const ssize_t n = ::write(writer, chunk.data() + sent, bytes - sent);
            if (n <= 0) {
                break;
            }
            sent += static_cast<std::size_t>(n);
        }
    });
    std::vector<char> buffer(bytes);
    std::size_t received = 0;
    std::size_t first = 0;
    Clock::time_point firstAt;
    Clock::time_point lastAt;
    while (received < bytes) {
        const ssize_t n = ::read(reader, buffer.data(), bytes - received);
        if (n <= 0) {
            break;
        }
        lastAt = Clock::now();
        if (received == 0) {
            firstAt = lastAt;
            first = static_cast<std::size_t>(n);
        }
        received += static_cast<std::size_t>(n);
    }
    writing.join();
    ::close(reader);
    ::close(writer);
    const double seconds = secondsBetween(firstAt, lastAt);
    return seconds > 0 ? static_cast<double>(received - first) / seconds : 0.0;
}

struct TransferRun {
    bool whole = false;
    double seconds = 0.0;
    // Until the sender was told the file is whole and verified; 0 when it was not.
    double verifiedSeconds = 0.0;
    double processorSeconds = 0.0;
    std::uint64_t residentBefore = 0;
    std::uint64_t residentPeak = 0;
};

// One file from the joining side to the hosting side, from the offer to the file received.
TransferRun transferFile(const CableProcess& cable, bool unpaced, const QString& folder,
                         const std::string& source, std::chrono::seconds limit, int baud = kBaud) {
    const QString incoming = folder + "/incoming";
    QDir().mkpath(incoming);
    BenchPeer receiver(serialEntry(cable.endA(), unpaced, baud, folder), incoming);
    BenchPeer sender(serialEntry(cable.endB(), unpaced, baud, folder), incoming);
    receiver.connectAs(false, QStringLiteral("Ann"));
    TransferRun run;
    if (!runUntil([&] { return receiver.connectOutcome().has_value(); }, 30s) ||
        receiver.connectOutcome() != ConnectOutcome::Connected) {
        std::fprintf(stderr, "the host did not open its session\n");
        return run;
    }
    sender.connectAs(true, QStringLiteral("Bob"));
    const auto joinFailed = [&] {
        return sender.connectOutcome().value_or(ConnectOutcome::Connected) !=
               ConnectOutcome::Connected;
    };
    // On a slow line the host sees the caller a while before the caller has joined.
    const auto joined = [&] {
        return receiver.opponentPresent() && sender.opponentPresent() &&
               sender.connectOutcome() == ConnectOutcome::Connected;
    };
    if (!runUntil([&] { return joined() || joinFailed(); }, 30s) || !joined()) {
        std::fprintf(stderr, "the two sides did not connect\n");
        return run;
    }

    std::atomic<bool> sampling{true};
    std::atomic<std::uint64_t> peak{residentBytes()};
    run.residentBefore = peak;
    std::thread sampler([&] {
        while (sampling) {
            peak = std::max(peak.load(), residentBytes());
            std::this_thread::sleep_for(50ms);
        }
    });
    const double processorBefore = processorSeconds();
    const auto start = Clock::now();
    sender.sendFile(QString::fromStdString(source));
    const bool arrived = runUntil(
        [&] { return receiver.receivedAt().has_value() || sender.failed() || receiver.failed(); },
        limit);
    run.processorSeconds = processorSeconds() - processorBefore;
    sampling = false;
    sampler.join();
    run.residentPeak = peak;
    const std::string target =
        (std::filesystem::path(incoming.toStdString()) / std::filesystem::path(source).filename())
            .string();
    run.whole = arrived && receiver.receivedAt() && sameContents(source, target);
    if (receiver.receivedAt()) {
        run.seconds = secondsBetween(start, *receiver.receivedAt());
    }
    if (run.whole && runUntil([&] { return sender.verifiedAt().has_value(); }, 30s) &&
        receiver.filesVerified() == 1) {
        run.verifiedSeconds = secondsBetween(start, *sender.verifiedAt());
    }
    std::filesystem::remove(target);
    return run;
}

// ZMODEM (sz and rz) sending source over the cable: the seconds from its start to the file
// received whole; 0 when it was not.
double zmodemSeconds(const CableProcess& cable, const std::string& work, const std::string& source,
                     std::chrono::seconds limit) {
    const std::string incoming = work + "/incoming";
    std::filesystem::create_directories(incoming);
    const std::string target =
        (std::filesystem::path(incoming) / std::filesystem::path(source).filename()).string();
    const std::uint64_t size = fileSize(source);
    ChildProcess receiver({{"rz", "-q", "-y"}, cable.endA(), work + "/rz.log", incoming, {}});
    ChildProcess sender({{"sz", "-q", source}, cable.endB(), work + "/sz.log", {}, {}});
    const auto until = Clock::now() + limit;
    while (fileSize(target) < size && Clock::now() < until && !sender.hasEnded()) {
        std::this_thread::sleep_for(5ms);
    }
    const auto wholeAt = Clock::now();
    const bool ended = sender.waitForEnd(30s) && receiver.waitForEnd(30s);
    if (!ended || sender.exitCode() != 0 || !sameContents(source, target)) {
        std::fprintf(stderr, "ZMODEM did not deliver the file whole\n");
        return 0.0;
    }
    return secondsBetween(receiver.startedAt(), wholeAt);
}

// The share of a slow line a transfer through the sender thread and the receiver takes, against
// ZMODEM's on the same kind of cable; whether both delivered the file.
bool slowLineShare(const std::string& cableProgram, const QString& folder, int baud) {
    const std::string work = (folder + "/rate-" + QString::number(baud)).toStdString();
    const double lineRate = baud / 10.0;
    const auto bytes = static_cast<std::uint64_t>(lineRate * kSlowLineSeconds);
    const std::string source = work + "/minute.bin";
    std::filesystem::create_directories(work);
    writeRandomFile(source, bytes, 3);
    const std::vector<std::string> line = {"--baud", std::to_string(baud)};
    const auto limit = std::chrono::seconds(static_cast<int>(kSlowLineSeconds * 4));
    TransferRun run;
    {
        const CableProcess cable(cableProgram, work + "/cable", line);
        run = transferFile(cable, false, QString::fromStdString(work), source, limit, baud);
    }
    if (run.whole) {
        std::printf("transfer_share_%d=%.3f (%llu bytes in %.1f s through the sender thread)\n",
                    baud, static_cast<double>(bytes) / run.seconds / lineRate,
                    static_cast<unsigned long long>(bytes), run.seconds);
        std::fflush(stdout);
    }
    double zmodem = 0.0;
    for (const char* attempt : {"1", "2"}) {
        const CableProcess cable(cableProgram, work + "/zmodem-cable-" + attempt, line);
        const double seconds = zmodemSeconds(cable, work + "/zmodem-" + attempt, source, limit);
        if (seconds > 0.0 && (zmodem == 0.0 || seconds < zmodem)) {
            zmodem = seconds;
        }
    }
    if (!run.whole || zmodem == 0.0) {
        std::printf("transfer_vs_zmodem_%d=FAILED (Velmora %s, ZMODEM %s)\n", baud,
                    run.whole ? "whole" : "failed", zmodem > 0.0 ? "whole" : "failed");
        std::fflush(stdout);
        return false;
    }
    const double zmodemShare = static_cast<double>(bytes) / zmodem / lineRate;
    std::printf(
        "transfer_vs_zmodem_%d=%.3f (ZMODEM %.3f of the line, %.1f s, best of two; goal >= "
        "1.0)\n",
        baud, zmodem / run.seconds, zmodemShare, zmodem);
    std::fflush(stdout);
    return true;
}

int slowLineShares(const std::string& cableProgram, const std::vector<int>& rates) {
    QTemporaryDir temporary;
    if (!temporary.isValid()) {
        return 1;
    }
    int failures = 0;
    for (const int baud : rates) {
        failures += slowLineShare(cableProgram, temporary.path(), baud) ? 0 : 1;
    }
    return failures == 0 ? 0 : 1;
}

int runBenchmarks(const std::string& cableProgram) {
    QTemporaryDir temporary;
    if (!temporary.isValid()) {
        return 1;
    }
    const QString folder = temporary.path();
    const auto sub = [&](const char* name) { return (folder + "/" + name).toStdString(); };
    int failures = slowLineShares(cableProgram, kSlowLineRates);

    {
        const CableProcess cable(cableProgram, sub("cable"), {"--baud", std::to_string(kBaud)});
        const double raw = rawLineRate(cable, static_cast<std::size_t>(kLineRate * 4));
        std::printf(
            "line_rate=%.0f (bytes per second at %d baud, 8N1; measured raw on the "
            "cable: %.0f)\n",
            kLineRate, kBaud, raw);
        std::fflush(stdout);

        const std::string source = sub("two-mib.bin");
        writeRandomFile(source, kFileBytes, 1);
        const TransferRun run = transferFile(cable, false, folder, source, 600s);
        if (!run.whole) {
            std::printf("transfer_efficiency=FAILED (the file did not arrive whole)\n");
            ++failures;
        } else {
            const double rate = static_cast<double>(kFileBytes) / run.seconds;
            std::printf(
                "transfer_efficiency=%.3f (payload %.0f B/s: %llu bytes in %.1f s, "
                "block-size code %d; %.3f of the measured raw rate; goal >= 0.95)\n",
                rate / kLineRate, rate, static_cast<unsigned long long>(kFileBytes), run.seconds,
                kBlockCode, rate / raw);
            if (run.verifiedSeconds > 0.0) {
                const double verifiedRate = static_cast<double>(kFileBytes) / run.verifiedSeconds;
                std::printf(
                    "transfer_verified_efficiency=%.3f (payload %.0f B/s until the sender knew "
                    "the file whole and verified, %.1f s; %.3f of transfer_efficiency; goal >= "
                    "0.98)\n",
                    verifiedRate / kLineRate, verifiedRate, run.verifiedSeconds,
                    run.seconds / run.verifiedSeconds);
            } else {
                std::printf("transfer_verified_efficiency=FAILED (no verdict of the file)\n");
                ++failures;
            }
            std::printf(
                "transfer_cpu_ratio=%.4f (%.2f s of processor time, both sides, in "
                "%.1f s; goal < 0.05)\n",
                run.processorSeconds / run.seconds, run.processorSeconds, run.seconds);
        }
        std::fflush(stdout);
    }

    {
        const CableProcess cable(cableProgram, sub("fast-cable"), {"--baud", "unthrottled"});
        const std::string source = sub("one-gib.bin");
        // Random bytes: the link sends zeros that end a block as their count, so a file of zeros
        // would cross without its bytes.
        writeRandomFile(source, kLargeFileBytes, 2);
        const TransferRun run = transferFile(cable, true, folder, source, 1800s);
        std::filesystem::remove(source);
        if (!run.whole) {
            std::printf("transfer_rss_growth_mb=FAILED (the file did not arrive whole)\n");
            ++failures;
        } else {
            const double mib = 1024.0 * 1024.0;
            std::printf(
                "transfer_rss_growth_mb=%.1f (resident %.1f MB before, %.1f MB at the "
                "most; 1 GiB in %.1f s, %.1f MB/s; goal < 20)\n",
                static_cast<double>(run.residentPeak - run.residentBefore) / mib,
                static_cast<double>(run.residentBefore) / mib,
                static_cast<double>(run.residentPeak) / mib, run.seconds,
                static_cast<double>(kLargeFileBytes) / mib / run.seconds);
        }
    }
    return failures == 0 ? 0 : 1;
}

}  // namespace
}  // namespace velmora::bench

int main(int argc, char* argv[]) {
    QCoreApplication application(argc, argv);
    const QStringList arguments = application.arguments().mid(1);
    std::vector<int> rates;
    for (const QString& argument : arguments.mid(1)) {
        rates.push_back(argument.toInt());
    }
    if ((!arguments.isEmpty() && arguments.front() != QStringLiteral("rates")) ||
        std::count(rates.begin(), rates.end(), 0) > 0) {
        std::fprintf(stderr, "usage: velmora-bench-transfer [rates [BAUD...]]\n");
        return 2;
    }
    try {
        if (!arguments.isEmpty()) {
            return velmora::bench::slowLineShares(
                VELMORA_CABLE_PATH, rates.empty() ? velmora::bench::kSlowLineRates : rates);
        }
        return velmora::bench::runBenchmarks(VELMORA_CABLE_PATH);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "%s\n", error.what());
        return 1;
    }
}
