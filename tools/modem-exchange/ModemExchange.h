#pragma once

#include "cable/PseudoTerminal.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace velmora {

struct ExchangeSettings {
    std::uint32_t rateBps = 33600;        // the emulated line rate, both ways (2400 to 56000)
    double noise = 0.0;                   // chance that one delivered byte has a bit flipped
    std::uint32_t ringIntervalMs = 2000;  // between two RINGs
    std::uint32_t noAnswerMs = 30000;     // the caller gives up: NO ANSWER
    std::uint32_t handshakeMs = 300;      // answer until CONNECT
    std::uint32_t guardTimeMs = 1000;     // silence around "+++" (S12)
    std::uint32_t seed = 1;               // for the noise
};

// A telephone exchange with Hayes modems on it, each on its own pseudo-terminal with its own
// phone number. A program opens a modem's device and talks AT to it; a dial rings the modem with
// that number, and once answered the two exchange data at the line rate until one hangs up.
// Everything runs on one thread of its own; the public calls may come from any thread.
class ModemExchange {
public:
    explicit ModemExchange(ExchangeSettings settings);
    ~ModemExchange();

    ModemExchange(const ModemExchange&) = delete;
    ModemExchange& operator=(const ModemExchange&) = delete;

    // Adds a modem with the number and gives the device path a program opens.
    std::string addModem(const std::string& number);
    // An unplugged modem has no dial tone and never rings.
    void setPlugged(const std::string& number, bool plugged);
    // How many dial commands the modem with the number has been given.
    int dialCount(const std::string& number);

private:
    struct Modem;

    void run();
    void wake();
    Modem* find(const std::string& number);
    void handleInput(Modem& modem, const char* data, std::size_t size, std::uint64_t now);
    void handleCommandLine(Modem& modem, const std::string& line, std::uint64_t now);
    bool executeCommand(Modem& modem, const std::string& command, std::uint64_t now);
    void dial(Modem& modem, const std::string& dialString, std::uint64_t now);
    void answer(Modem& modem, std::uint64_t now);
    void hangUp(Modem& modem, const char* peerResult);
    void result(Modem& modem, const char* text, int code);
    void runTimers(Modem& modem, std::uint64_t now);
    void pace(Modem& modem, std::uint64_t now);
    void flush(Modem& modem);
    std::uint64_t nextWakeMs(std::uint64_t now) const;

    const ExchangeSettings m_settings;
    std::mutex m_mutex;
    std::vector<std::unique_ptr<Modem>> m_modems;
    std::mt19937 m_random;
    int m_wakePipe[2] = {-1, -1};
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

}  // namespace velmora
