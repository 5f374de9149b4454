// The emulated exchange seen from the programs that open its modems: AT commands, calls, the
// data connection, escapes and hang-ups.

#include "modem-exchange/ModemExchange.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <string>

namespace velmora {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// Generous: the machine running the tests may be busy.
constexpr auto kWaitLimit = 20s;

// A program on one modem's device: writes commands and reads what the modem says.
class Terminal {
public:
    explicit Terminal(const std::string& path)
        : m_fd(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC)) {
        EXPECT_GE(m_fd, 0) << path;
    }
    ~Terminal() { ::close(m_fd); }
    Terminal(const Terminal&) = delete;
    Terminal& operator=(const Terminal&) = delete;

    void send(const std::string& bytes) const {
        ASSERT_EQ(::write(m_fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }
    void command(const std::string& line) const { send(line + "\r"); }

    // Gives a command and reads until the modem has said this line. False on time-out.
    bool answers(const std::string& text, const std::string& line) {
        command(text);
        return waitForLine(line);
    }

    // Reads until the modem has said this line; what came before it is dropped. False on time-out.
    bool waitForLine(const std::string& line) {
        const auto deadline = Clock::now() + kWaitLimit;
        for (;;) {
            for (std::size_t end; (end = m_input.find_first_of("\r\n")) != std::string::npos;) {
                const std::string got = m_input.substr(0, end);
                m_input.erase(0, end + 1);
                m_lines.push_back(got);
                if (got == line) {
                    return true;
                }
            }
            if (!readSome(deadline)) {
                return false;
            }
        }
    }
    // Reads until this many data bytes have come. False on time-out.
    bool waitForBytes(std::size_t count) {
        const auto deadline = Clock::now() + kWaitLimit;
        while (m_input.size() < count) {
            if (!readSome(deadline)) {
                return false;
            }
        }
        return true;
    }
    // Whatever arrives within the time; for checking that nothing does.
    std::string readFor(std::chrono::milliseconds time) {
        const auto deadline = Clock::now() + time;
        while (readSome(deadline)) {
        }
        return takeInput();
    }
    std::string takeInput() { return std::exchange(m_input, {}); }
    int countLines(const std::string& line) const {
        return static_cast<int>(std::count(m_lines.begin(), m_lines.end(), line));
    }

private:
    bool readSome(Clock::time_point deadline) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) {
            return false;
        }
        pollfd fd{m_fd, POLLIN, 0};
        if (::poll(&fd, 1, static_cast<int>(left.count())) <= 0) {
            return false;
        }
        char buffer[4096];
        const ssize_t got = ::read(m_fd, buffer, sizeof buffer);
        if (got > 0) {
            m_input.append(buffer, static_cast<std::size_t>(got));
        }
        return true;
    }

    int m_fd;
    std::string m_input;
    std::vector<std::string> m_lines;
};

ExchangeSettings quickSettings() {
    ExchangeSettings settings;
    settings.rateBps = 19200;
    settings.ringIntervalMs = 60;
    settings.noAnswerMs = 600;
    settings.handshakeMs = 30;
    settings.guardTimeMs = 150;
    return settings;
}

// Both modems answer with results only (no echo) and the call between them is up.
void connect(Terminal& caller, Terminal& callee, const std::string& number) {
    ASSERT_TRUE(caller.answers("ATE0", "OK"));
    ASSERT_TRUE(callee.answers("ATE0", "OK"));
    caller.command("ATDT" + number);
    ASSERT_TRUE(callee.waitForLine("RING"));
    callee.command("ATA");
    ASSERT_TRUE(caller.waitForLine("CONNECT 19200"));
    ASSERT_TRUE(callee.waitForLine("CONNECT 19200"));
    // The line ends of the results; from here on everything is data.
    caller.readFor(50ms);
    callee.readFor(50ms);
}

TEST(ModemExchangeTest, CommandsGetOkOrErrorWithEchoAndNumericCodes) {
    ModemExchange exchange(quickSettings());
    Terminal modem(exchange.addModem("100"));
    ASSERT_TRUE(modem.answers("AT", "AT"));  // echo is on after power-up
    ASSERT_TRUE(modem.waitForLine("OK"));
    ASSERT_TRUE(modem.answers("ATE0 V1 X4 &C1 S0=3", "OK"));
    ASSERT_TRUE(modem.answers("ATS0?", "3"));
    ASSERT_TRUE(modem.answers("ATJ", "ERROR"));
    // Anything before "AT" is not part of the command.
    modem.send("+++");
    ASSERT_TRUE(modem.answers("ATV0", "0"));
    ASSERT_TRUE(modem.answers("ATJ", "4"));
    ASSERT_TRUE(modem.answers("ATZ", "OK"));  // the reset brings words and echo back
    ASSERT_TRUE(modem.answers("AT", "AT"));
    ASSERT_TRUE(modem.waitForLine("OK"));
}

TEST(ModemExchangeTest, CallRingsUntilAnsweredThenDataFlowsAtTheLineRate) {
    ModemExchange exchange(quickSettings());
    Terminal ann(exchange.addModem("100"));
    Terminal bob(exchange.addModem("2-00"));  // the number's digits count
    ASSERT_TRUE(ann.answers("ATE0", "OK"));
    ASSERT_TRUE(bob.answers("ATE0", "OK"));
    ann.command("ATDT 200");
    ASSERT_TRUE(bob.waitForLine("RING"));
    ASSERT_TRUE(bob.waitForLine("RING"));  // rings on while no one answers
    bob.command("ATA");
    ASSERT_TRUE(ann.waitForLine("CONNECT 19200"));
    ASSERT_TRUE(bob.waitForLine("CONNECT 19200"));
    ann.readFor(50ms);
    bob.readFor(50ms);

    // 1920 bytes at 19200 bit/s take a second (ten bits a byte); both ways at once.
    std::string block;
    for (int i = 0; i < 1920; ++i) {
        block += static_cast<char>(i * 7);
    }
    const auto start = Clock::now();
    ann.send(block);
    bob.send("NO CARRIER\r\n" + block);  // just data once online
    ASSERT_TRUE(bob.waitForBytes(block.size()));
    EXPECT_GE(Clock::now() - start, 800ms);
    ASSERT_TRUE(ann.waitForBytes(block.size() + 12));
    EXPECT_EQ(bob.takeInput(), block);
    EXPECT_EQ(ann.takeInput(), "NO CARRIER\r\n" + block);

    // Ann hangs up: escape, ATH; Bob hears NO CARRIER and both are free for the next call.
    std::this_thread::sleep_for(200ms);
    ann.send("+++");
    ASSERT_TRUE(ann.waitForLine("OK"));
    ASSERT_TRUE(ann.answers("ATH0", "OK"));
    ASSERT_TRUE(bob.waitForLine("NO CARRIER"));
    bob.command("ATDT100");
    ASSERT_TRUE(ann.waitForLine("RING"));
}

TEST(ModemExchangeTest, EscapeNeedsTheGuardTimesAndAtoGoesBackOnline) {
    ModemExchange exchange(quickSettings());
    Terminal ann(exchange.addModem("100"));
    Terminal bob(exchange.addModem("200"));
    connect(ann, bob, "200");

    // "+++" inside the data, or followed by more data, is data.
    ann.send("abc+++def");
    std::this_thread::sleep_for(200ms);
    ann.send("+++x");
    ASSERT_TRUE(bob.waitForBytes(13));
    EXPECT_EQ(bob.readFor(400ms), "abc+++def+++x");
    EXPECT_EQ(ann.readFor(10ms), "");

    // With silence before and after it the modem goes to command mode, the call stays up.
    std::this_thread::sleep_for(200ms);
    ann.send("+++");
    ASSERT_TRUE(ann.waitForLine("OK"));
    ASSERT_TRUE(ann.answers("AT", "OK"));
    EXPECT_EQ(bob.readFor(50ms), "+++");  // the remote modem passes the escape on as data
    bob.send("while away");               // lost: Ann's modem is not online
    std::this_thread::sleep_for(100ms);
    ASSERT_TRUE(ann.answers("ATO", "CONNECT 19200"));
    ann.send("back");
    ASSERT_TRUE(bob.waitForBytes(4));
    EXPECT_EQ(bob.takeInput(), "back");

    // Bob's line is pulled out: both lose the call.
    exchange.setPlugged("200", false);
    ASSERT_TRUE(bob.waitForLine("NO CARRIER"));
    ASSERT_TRUE(ann.waitForLine("NO CARRIER"));
    ASSERT_TRUE(bob.answers("ATDT100", "NO DIALTONE"));
    ASSERT_TRUE(ann.answers("ATO", "NO CARRIER"));  // no call to go back to
}

TEST(ModemExchangeTest, BusyNoAnswerUnpluggedAndAutoAnswer) {
    ModemExchange exchange(quickSettings());
    Terminal ann(exchange.addModem("100"));
    Terminal bob(exchange.addModem("200"));
    Terminal carol(exchange.addModem("300"));
    Terminal dave(exchange.addModem("400"));
    ASSERT_TRUE(carol.answers("ATE0", "OK"));

    // Nobody answers: NO ANSWER after the time-out, and the callee stops ringing.
    carol.command("ATDT400");
    ASSERT_TRUE(dave.waitForLine("RING"));
    ASSERT_TRUE(carol.waitForLine("NO ANSWER"));
    dave.readFor(200ms);
    EXPECT_EQ(dave.readFor(200ms), "");
    // An unknown number: no carrier; one's own number: busy.
    ASSERT_TRUE(carol.answers("ATDT999", "NO CARRIER"));
    ASSERT_TRUE(carol.answers("ATDT300", "BUSY"));

    // Auto-answer after two rings.
    ASSERT_TRUE(bob.answers("ATE0S0=2", "OK"));
    ASSERT_TRUE(ann.answers("ATE0DT200", "CONNECT 19200"));
    ASSERT_TRUE(bob.waitForLine("CONNECT 19200"));
    EXPECT_EQ(bob.countLines("RING"), 2);
    // Busy while in a call.
    ASSERT_TRUE(carol.answers("ATDT200", "BUSY"));

    // An unplugged caller has no dial tone; an unplugged callee never rings.
    exchange.setPlugged("300", false);
    ASSERT_TRUE(carol.answers("ATDT400", "NO DIALTONE"));
    exchange.setPlugged("300", true);
    exchange.setPlugged("400", false);
    ASSERT_TRUE(carol.answers("ATDT400", "NO ANSWER"));
    EXPECT_EQ(dave.readFor(100ms), "");

    // A key pressed while dialling abandons the call.
    exchange.setPlugged("400", true);
    ASSERT_TRUE(dave.answers("ATE0", "OK"));
    carol.command("ATDT400");
    ASSERT_TRUE(dave.waitForLine("RING"));
    carol.send("\r");
    ASSERT_TRUE(carol.waitForLine("NO CARRIER"));
    ASSERT_TRUE(dave.answers("ATA", "NO CARRIER"));  // the caller is gone
}

}  // namespace
}  // namespace velmora
