// velmora-cable: two pseudo-terminals joined like a null-modem cable, with an emulated line.

#include "cable/NullModemCable.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <signal.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <optional>
#include <string>

namespace {

using velmora::CableDirectionCounters;

void printLine(const std::string& text) {
    std::printf("velmora-cable: %s\n", text.c_str());
    std::fflush(stdout);
}

std::string describe(const char* name, const CableDirectionCounters& counters) {
    return std::string(name) + ": " + std::to_string(counters.passed) + " bytes passed, " +
           std::to_string(counters.flipped) + " bits flipped, " + std::to_string(counters.dropped) +
           " dropped, " + std::to_string(counters.inserted) + " inserted, " +
           std::to_string(counters.lost) + " lost unplugged";
}

// Reads a number option; exits with a message when it is not one or is negative.
double number(const QCommandLineParser& parser, const QString& name) {
    bool ok = false;
    const double value = parser.value(name).toDouble(&ok);
    if (!ok || value < 0.0) {
        std::fprintf(stderr, "velmora-cable: --%s wants a number of 0 or more, not \"%s\"\n",
                     qPrintable(name), qPrintable(parser.value(name)));
        std::exit(2);
    }
    return value;
}

std::optional<std::chrono::milliseconds> seconds(const QCommandLineParser& parser,
                                                 const QString& name) {
    if (!parser.isSet(name)) {
        return std::nullopt;
    }
    return std::chrono::milliseconds(static_cast<long long>(number(parser, name) * 1000.0));
}

}  // namespace

int main(int argc, char* argv[]) {
    QCoreApplication application(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("velmora-cable"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Two pseudo-terminals joined like a null-modem cable, through an emulated line.\n"
        "Programs open <dir>/A and <dir>/B as serial ports.\n"
        "SIGUSR1 pulls the plug, SIGUSR2 puts it back in; SIGINT or SIGTERM ends the cable."));
    parser.addHelpOption();
    parser.addOptions({
        {QStringLiteral("dir"), QStringLiteral("Folder for the links A and B."),
         QStringLiteral("dir"), QStringLiteral("/tmp/velmora-cable")},
        {QStringLiteral("baud"),
         QStringLiteral("Line rate in baud (bytes pass at baud/10 per second); 0 or "
                        "\"unthrottled\": as fast as possible."),
         QStringLiteral("rate"), QStringLiteral("115200")},
        {QStringLiteral("ber"), QStringLiteral("Bit-error rate: chance that a bit is flipped."),
         QStringLiteral("rate"), QStringLiteral("0")},
        {QStringLiteral("drop"), QStringLiteral("Chance that a byte is lost."),
         QStringLiteral("rate"), QStringLiteral("0")},
        {QStringLiteral("garbage"),
         QStringLiteral("Bursts of random bytes per second and direction (mean)."),
         QStringLiteral("rate"), QStringLiteral("0")},
        {QStringLiteral("garbage-length"), QStringLiteral("Longest garbage burst in bytes."),
         QStringLiteral("bytes"), QStringLiteral("16")},
        {QStringLiteral("unplug-after"),
         QStringLiteral("Pull the plug this many seconds after the start."),
         QStringLiteral("seconds")},
        {QStringLiteral("replug-after"),
         QStringLiteral("Put the plug back in this many seconds after --unplug-after pulled it."),
         QStringLiteral("seconds")},
        {QStringLiteral("seed"), QStringLiteral("Seed of the random errors, for repeatable runs."),
         QStringLiteral("number"), QStringLiteral("1")},
    });
    parser.process(application);
    if (!parser.positionalArguments().isEmpty()) {
        parser.showHelp(2);
    }

    velmora::CableOptions options;
    options.directory = parser.value(QStringLiteral("dir")).toStdString();
    options.line.baud = parser.value(QStringLiteral("baud")) == QStringLiteral("unthrottled")
                            ? 0
                            : static_cast<int>(number(parser, QStringLiteral("baud")));
    options.line.bitErrorRate = number(parser, QStringLiteral("ber"));
    options.line.dropRate = number(parser, QStringLiteral("drop"));
    options.line.garbageBurstsPerSecond = number(parser, QStringLiteral("garbage"));
    options.line.garbageBurstMaxLength =
        static_cast<std::size_t>(number(parser, QStringLiteral("garbage-length")));
    options.unplugAfter = seconds(parser, QStringLiteral("unplug-after"));
    options.plugBackAfter = seconds(parser, QStringLiteral("replug-after"));
    options.seed = static_cast<std::uint64_t>(number(parser, QStringLiteral("seed")));
    options.onEvent = [](std::string_view event) { printLine(std::string(event)); };

    // The handledSignals are taken by sigwait below; blocked before the cable's thread starts, so
    // that it inherits the mask and never runs a handler.
    sigset_t handledSignals;
    sigemptyset(&handledSignals);
    for (const int signal : {SIGINT, SIGTERM, SIGUSR1, SIGUSR2}) {
        sigaddset(&handledSignals, signal);
    }
    pthread_sigmask(SIG_BLOCK, &handledSignals, nullptr);

    try {
        velmora::NullModemCable cable(options);
        printLine("A: " + cable.linkA().string() + " -> " + cable.devicePathA());
        printLine("B: " + cable.linkB().string() + " -> " + cable.devicePathB());
        printLine(options.line.baud > 0 ? std::to_string(options.line.baud) + " baud"
                                        : std::string("unthrottled"));
        for (;;) {
            int signal = 0;
            sigwait(&handledSignals, &signal);
            if (signal == SIGUSR1) {
                cable.unplug();
            } else if (signal == SIGUSR2) {
                cable.plugIn();
            } else {
                break;
            }
        }
        const velmora::CableCounters counters = cable.counters();
        printLine(describe("A->B", counters.aToB));
        printLine(describe("B->A", counters.bToA));
    } catch (const std::exception& error) {
        std::fprintf(stderr, "velmora-cable: %s\n", error.what());
        return 1;
    }
    return 0;
}
