// velmora-modem-exchange: a telephone exchange with emulated Hayes modems on pseudo-terminals.
//   velmora-modem-exchange [--rate BPS] [--noise P] [--no-answer MS] NUMBER...
// Prints one line "NUMBER DEVICE" per modem and runs until interrupted.

#include "modem-exchange/ModemExchange.h"

#include <csignal>
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

int main(int argc, char* argv[]) {
    velmora::ExchangeSettings settings;
    std::vector<std::string> numbers;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        const bool hasValue = i + 1 < argc;
        if (argument == "--rate" && hasValue) {
            settings.rateBps = static_cast<std::uint32_t>(std::stoul(argv[++i]));
        } else if (argument == "--noise" && hasValue) {
            settings.noise = std::stod(argv[++i]);
        } else if (argument == "--no-answer" && hasValue) {
            settings.noAnswerMs = static_cast<std::uint32_t>(std::stoul(argv[++i]));
        } else if (!argument.empty() && argument[0] != '-') {
            numbers.push_back(argument);
        } else {
            std::cerr << "usage: velmora-modem-exchange [--rate BPS] [--noise P] "
                         "[--no-answer MS] NUMBER...\n";
            return EXIT_FAILURE;
        }
    }
    if (numbers.empty() || settings.rateBps < 300) {
        std::cerr << "give at least one phone number and a rate of 300 bit/s or more\n";
        return EXIT_FAILURE;
    }

    // Wait for the end signals here; the exchange's thread inherits the mask and never sees them.
    sigset_t endSignals;
    sigemptyset(&endSignals);
    sigaddset(&endSignals, SIGINT);
    sigaddset(&endSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &endSignals, nullptr);

    velmora::ModemExchange exchange(settings);
    for (const auto& number : numbers) {
        std::cout << number << ' ' << exchange.addModem(number) << std::endl;
    }
    int received = 0;
    sigwait(&endSignals, &received);
    return EXIT_SUCCESS;
}
