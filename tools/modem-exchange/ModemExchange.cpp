#include "modem-exchange/ModemExchange.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <deque>
#include <system_error>

namespace velmora {

namespace {

std::uint64_t steadyMs() {
    return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                          std::chrono::steady_clock::now().time_since_epoch())
                                          .count());
}

std::string digitsOf(const std::string& text) {
    std::string digits;
    std::copy_if(text.begin(), text.end(), std::back_inserter(digits),
                 [](char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; });
    return digits;
}

constexpr std::uint64_t kNever = UINT64_MAX;

}  // namespace

struct ModemExchange::Modem {
    enum class Mode {
        Command,    // on-hook, or off-hook after an escape (then peer is set and call is up)
        Dialling,   // ringing the peer
        Ringing,    // being rung by the peer
        Handshake,  // answered; CONNECT follows
        Online,     // data
    };

    std::string number;
    PseudoTerminal terminal;
    bool plugged = true;
    Mode mode = Mode::Command;
    Modem* peer = nullptr;
    bool callUp = false;  // CONNECT was given; an escape leaves it up
    bool echo = true;
    bool verbose = true;
    int autoAnswerRings = 0;  // S0
    int dials = 0;
    std::string commandLine;
    std::string toTerminal;  // what the program has still to read
    // Timers, in steady milliseconds.
    std::uint64_t nextRingAt = kNever;
    int rings = 0;
    std::uint64_t giveUpAt = kNever;
    std::uint64_t connectAt = kNever;
    // Escape detection: "+++" with the guard time of silence before and after.
    std::uint64_t lastInputAt = 0;
    int plusCount = 0;
    std::uint64_t escapeAt = kNever;
    // Data on its way to the peer, paced at the line rate.
    std::deque<char> toPeer;
    double credit = 0.0;
    bool idleWhenPaced = true;  // nothing waited to be sent at the last pace
    std::uint64_t pacedAt = 0;
};

ModemExchange::ModemExchange(ExchangeSettings settings)
    : m_settings(settings), m_random(settings.seed) {
    if (::pipe2(m_wakePipe, O_NONBLOCK | O_CLOEXEC) < 0) {
        throw std::system_error(errno, std::generic_category(), "pipe2");
    }
    m_thread = std::thread([this] { run(); });
}

ModemExchange::~ModemExchange() {
    m_stop = true;
    wake();
    m_thread.join();
    ::close(m_wakePipe[0]);
    ::close(m_wakePipe[1]);
}

std::string ModemExchange::addModem(const std::string& number) {
    auto modem = std::make_unique<Modem>();
    modem->number = digitsOf(number);
    const std::string path = modem->terminal.slavePath();
    {
        const std::lock_guard lock(m_mutex);
        m_modems.push_back(std::move(modem));
    }
    wake();
    return path;
}

void ModemExchange::setPlugged(const std::string& number, bool plugged) {
    const std::lock_guard lock(m_mutex);
    if (Modem* modem = find(digitsOf(number))) {
        modem->plugged = plugged;
        if (!plugged && modem->peer != nullptr) {
            // The line is pulled out of the wall: both ends lose the call.
            hangUp(*modem, "NO CARRIER");
            result(*modem, "NO CARRIER", 3);
        }
    }
    wake();
}

int ModemExchange::dialCount(const std::string& number) {
    const std::lock_guard lock(m_mutex);
    const Modem* modem = find(digitsOf(number));
    return modem != nullptr ? modem->dials : 0;
}

void ModemExchange::wake() {
    const char byte = 0;
    [[maybe_unused]] const auto written = ::write(m_wakePipe[1], &byte, 1);
}

ModemExchange::Modem* ModemExchange::find(const std::string& number) {
    for (const auto& modem : m_modems) {
        if (modem->number == number) {
            return modem.get();
        }
    }
    return nullptr;
}

void ModemExchange::run() {
    std::vector<pollfd> fds;
    while (!m_stop) {
        int timeoutMs = -1;
        {
            const std::lock_guard lock(m_mutex);
            fds.assign(1, pollfd{m_wakePipe[0], POLLIN, 0});
            for (const auto& modem : m_modems) {
                const short events = modem->toTerminal.empty() ? POLLIN : (POLLIN | POLLOUT);
                fds.push_back(pollfd{modem->terminal.masterFd(), events, 0});
            }
            const std::uint64_t now = steadyMs();
            const std::uint64_t next = nextWakeMs(now);
            if (next != kNever) {
                timeoutMs = static_cast<int>(std::min<std::uint64_t>(next - now, 1000));
            }
        }
        ::poll(fds.data(), fds.size(), timeoutMs);
        if (fds[0].revents & POLLIN) {
            char drain[64];
            while (::read(m_wakePipe[0], drain, sizeof drain) > 0) {
            }
        }
        const std::lock_guard lock(m_mutex);
        const std::uint64_t now = steadyMs();
        // Modems added since the poll set was built are looked at in the next round.
        for (std::size_t i = 1; i < fds.size() && i - 1 < m_modems.size(); ++i) {
            Modem& modem = *m_modems[i - 1];
            if (fds[i].revents & POLLIN) {
                char buffer[4096];
                const ssize_t got = ::read(modem.terminal.masterFd(), buffer, sizeof buffer);
                if (got > 0) {
                    handleInput(modem, buffer, static_cast<std::size_t>(got), now);
                }
            }
        }
        for (const auto& modem : m_modems) {
            runTimers(*modem, now);
        }
        for (const auto& modem : m_modems) {
            pace(*modem, now);
        }
        for (const auto& modem : m_modems) {
            flush(*modem);
        }
    }
}

std::uint64_t ModemExchange::nextWakeMs(std::uint64_t now) const {
    std::uint64_t next = kNever;
    for (const auto& modem : m_modems) {
        next =
            std::min({next, modem->nextRingAt, modem->giveUpAt, modem->connectAt, modem->escapeAt});
        if (!modem->toPeer.empty()) {
            next = std::min(next, now + 5);
        }
    }
    return std::max(next, now);
}

void ModemExchange::result(Modem& modem, const char* text, int code) {
    if (modem.verbose) {
        modem.toTerminal += std::string("\r\n") + text + "\r\n";
    } else {
        modem.toTerminal += std::to_string(code) + "\r";
    }
}

void ModemExchange::handleInput(Modem& modem, const char* data, std::size_t size,
                                std::uint64_t now) {
    for (std::size_t i = 0; i < size; ++i) {
        const char c = data[i];
        switch (modem.mode) {
            case Modem::Mode::Online: {
                // Only "+++" between two guard times escapes; "+++" inside data never does.
                const bool silentBefore = now - modem.lastInputAt >= m_settings.guardTimeMs;
                if (c == '+' && modem.plusCount == 0 && silentBefore) {
                    modem.plusCount = 1;
                } else if (c == '+' && modem.plusCount > 0 && modem.plusCount < 3 &&
                           !silentBefore) {
                    ++modem.plusCount;
                } else {
                    modem.plusCount = 0;
                }
                modem.escapeAt = modem.plusCount == 3 ? now + m_settings.guardTimeMs : kNever;
                modem.lastInputAt = now;
                modem.toPeer.push_back(c);
                break;
            }
            case Modem::Mode::Dialling:
            case Modem::Mode::Handshake:
                // A key pressed while the call is being set up abandons it; a modem that was
                // only ringing just stops.
                hangUp(modem, modem.mode == Modem::Mode::Handshake ? "NO CARRIER" : nullptr);
                result(modem, "NO CARRIER", 3);
                break;
            case Modem::Mode::Command:
            case Modem::Mode::Ringing:
                if (modem.echo) {
                    modem.toTerminal += c;
                }
                if (c == '\r') {
                    handleCommandLine(modem, modem.commandLine, now);
                    modem.commandLine.clear();
                } else if (c != '\n') {
                    modem.commandLine += c;
                }
                break;
        }
    }
}

void ModemExchange::handleCommandLine(Modem& modem, const std::string& line, std::uint64_t now) {
    std::string upper;
    for (const char c : line) {
        if (c != ' ') {
            upper += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        }
    }
    // A modem listens for "AT": whatever came before it (a stray "+++" sent after the line had
    // already dropped, noise) is not part of the command, and a line without it is ignored.
    const std::size_t start = upper.find("AT");
    if (start == std::string::npos) {
        return;
    }
    if (executeCommand(modem, upper.substr(start + 2), now)) {
        result(modem, "OK", 0);
    }
}

// Runs the commands of one AT line. True when OK is to follow; false when the line gave its own
// result (ERROR, a dial or an answer that reports later, ATO's CONNECT).
bool ModemExchange::executeCommand(Modem& modem, const std::string& commands, std::uint64_t now) {
    std::size_t i = 0;
    const auto number = [&]() {
        int value = 0;
        while (i < commands.size() && std::isdigit(static_cast<unsigned char>(commands[i]))) {
            value = value * 10 + (commands[i++] - '0');
        }
        return value;
    };
    while (i < commands.size()) {
        const char command = commands[i++];
        switch (command) {
            case 'Z':
                number();
                // A reset puts an off-hook modem on-hook; a ringing line rings on.
                if (modem.peer != nullptr && modem.mode != Modem::Mode::Ringing) {
                    hangUp(modem, "NO CARRIER");
                }
                modem.echo = true;
                modem.verbose = true;
                modem.autoAnswerRings = 0;
                break;
            case 'E':
                modem.echo = number() != 0;
                break;
            case 'V':
                modem.verbose = number() != 0;
                break;
            case 'Q':
            case 'X':
            case 'L':
            case 'M':
            case 'I':
                number();
                break;
            case '&':
                if (i < commands.size()) {
                    ++i;
                    number();
                }
                break;
            case 'S': {
                const int reg = number();
                if (i < commands.size() && commands[i] == '=') {
                    ++i;
                    const int value = number();
                    if (reg == 0) {
                        modem.autoAnswerRings = value;
                    }
                } else if (i < commands.size() && commands[i] == '?') {
                    ++i;
                    modem.toTerminal +=
                        "\r\n" + std::to_string(reg == 0 ? modem.autoAnswerRings : 0) + "\r\n";
                } else {
                    result(modem, "ERROR", 4);
                    return false;
                }
                break;
            }
            case 'D':
                dial(modem, commands.substr(i), now);
                return false;
            case 'A':
                answer(modem, now);
                return false;
            case 'H':
                number();
                if (modem.peer != nullptr && modem.mode != Modem::Mode::Ringing) {
                    hangUp(modem, "NO CARRIER");
                }
                break;
            case 'O':
                number();
                if (!modem.callUp) {
                    result(modem, "NO CARRIER", 3);
                    return false;
                }
                modem.mode = Modem::Mode::Online;
                modem.lastInputAt = now;
                result(modem, ("CONNECT " + std::to_string(m_settings.rateBps)).c_str(), 1);
                return false;
            default:
                result(modem, "ERROR", 4);
                return false;
        }
    }
    return true;
}

void ModemExchange::dial(Modem& modem, const std::string& dialString, std::uint64_t now) {
    ++modem.dials;
    if (!modem.plugged) {
        result(modem, "NO DIALTONE", 6);
        return;
    }
    Modem* callee = find(digitsOf(dialString));
    if (callee == nullptr) {
        result(modem, "NO CARRIER", 3);
        return;
    }
    if (callee == &modem || callee->peer != nullptr || callee->mode != Modem::Mode::Command) {
        result(modem, "BUSY", 7);
        return;
    }
    modem.mode = Modem::Mode::Dialling;
    modem.giveUpAt = now + m_settings.noAnswerMs;
    // An unplugged modem never rings: the caller hears nothing until it gives up.
    if (callee->plugged) {
        modem.peer = callee;
        callee->peer = &modem;
        callee->mode = Modem::Mode::Ringing;
        callee->rings = 0;
        callee->nextRingAt = now;
    }
}

void ModemExchange::answer(Modem& modem, std::uint64_t now) {
    if (modem.mode != Modem::Mode::Ringing || modem.peer == nullptr) {
        result(modem, "NO CARRIER", 3);
        return;
    }
    for (Modem* side : {&modem, modem.peer}) {
        side->mode = Modem::Mode::Handshake;
        side->nextRingAt = kNever;
        side->giveUpAt = kNever;
        side->connectAt = now + m_settings.handshakeMs;
    }
}

void ModemExchange::hangUp(Modem& modem, const char* peerResult) {
    Modem* const peer = modem.peer;
    for (Modem* side : {&modem, peer}) {
        if (side == nullptr) {
            continue;
        }
        side->mode = Modem::Mode::Command;
        side->peer = nullptr;
        side->callUp = false;
        side->nextRingAt = side->giveUpAt = side->connectAt = side->escapeAt = kNever;
        side->plusCount = 0;
        side->toPeer.clear();
    }
    if (peer != nullptr && peerResult != nullptr) {
        result(*peer, peerResult, 3);
    }
}

void ModemExchange::runTimers(Modem& modem, std::uint64_t now) {
    if (modem.nextRingAt <= now) {
        result(modem, "RING", 2);
        ++modem.rings;
        modem.nextRingAt = now + m_settings.ringIntervalMs;
        if (modem.autoAnswerRings > 0 && modem.rings >= modem.autoAnswerRings) {
            answer(modem, now);
        }
    }
    if (modem.giveUpAt <= now) {
        hangUp(modem, nullptr);  // the callee just stops ringing
        result(modem, "NO ANSWER", 8);
    }
    if (modem.connectAt <= now) {
        modem.connectAt = kNever;
        modem.mode = Modem::Mode::Online;
        modem.callUp = true;
        modem.lastInputAt = now;
        modem.pacedAt = now;
        modem.credit = 0;
        result(modem, ("CONNECT " + std::to_string(m_settings.rateBps)).c_str(), 1);
    }
    if (modem.escapeAt <= now) {
        modem.escapeAt = kNever;
        modem.plusCount = 0;
        modem.mode = Modem::Mode::Command;
        result(modem, "OK", 0);
    }
}

void ModemExchange::pace(Modem& modem, std::uint64_t now) {
    // Ten bits a byte on the line: start, eight data, stop.
    modem.credit += static_cast<double>(now - modem.pacedAt) * m_settings.rateBps / 10000.0;
    modem.pacedAt = now;
    // An idle line saves up no burst: neither while nothing waits nor for the idle time before
    // the bytes that wait now arrived.
    if (modem.idleWhenPaced || modem.toPeer.empty()) {
        modem.credit = std::min(modem.credit, 16.0);
    }
    modem.idleWhenPaced = modem.toPeer.empty();
    if (modem.idleWhenPaced) {
        return;
    }
    std::uniform_real_distribution<double> chance(0.0, 1.0);
    std::uniform_int_distribution<int> bit(0, 7);
    while (modem.credit >= 1.0 && !modem.toPeer.empty()) {
        char byte = modem.toPeer.front();
        modem.toPeer.pop_front();
        modem.credit -= 1.0;
        if (m_settings.noise > 0.0 && chance(m_random) < m_settings.noise) {
            byte = static_cast<char>(byte ^ (1 << bit(m_random)));
        }
        // Data reaching a modem that escaped to command mode is lost, as on a real line.
        if (modem.peer != nullptr && modem.peer->mode == Modem::Mode::Online) {
            modem.peer->toTerminal += byte;
        }
    }
}

void ModemExchange::flush(Modem& modem) {
    while (!modem.toTerminal.empty()) {
        const ssize_t written =
            ::write(modem.terminal.masterFd(), modem.toTerminal.data(), modem.toTerminal.size());
        if (written <= 0) {
            return;  // the program is behind; the rest waits for POLLOUT
        }
        modem.toTerminal.erase(0, static_cast<std::size_t>(written));
    }
}

}  // namespace velmora
