#include "session/modem/HayesDialer.h"
#include "session/modem/ModemResults.h"

#include <gtest/gtest.h>

using velmora::DialerSettings;
using velmora::HayesDialer;
using State = velmora::HayesDialer::State;

namespace {

DialerSettings testSettings() {
    DialerSettings settings;
    settings.commandTimeoutMs = 1000;
    settings.dialTimeoutMs = 30000;
    settings.answerTimeoutMs = 20000;
    settings.guardTimeMs = 1000;
    settings.dtrDropMs = 500;
    return settings;
}

// Plays the modem's part: checks each command the dialer sends and answers it.
class ScriptedModem {
public:
    explicit ScriptedModem(HayesDialer& dialer) : m_dialer(dialer) {}

    void expect(const QByteArray& command, const QByteArray& reply = "\r\nOK\r\n") {
        EXPECT_EQ(m_dialer.takeOutput(), command);
        if (!reply.isEmpty()) {
            m_dialer.receive(reply, m_now);
        }
    }
    void initialise(const QByteArray& s0 = "ATS0=0\r") {
        expect("ATZ\r", "ATZ\r\r\nOK\r\n");  // echo still on until ATE0
        expect("ATE0\r", "ATE0\r\r\nOK\r\n");
        expect("ATV1\r");
        expect("ATX4\r");
        expect(s0);
    }
    std::uint32_t m_now = 0xFFFFF000;  // near the wrap-around on purpose

private:
    HayesDialer& m_dialer;
};

}  // namespace

TEST(HayesDialer, CallsWithToneOrPulseAndTakesConnectWithOrWithoutRate) {
    HayesDialer dialer(testSettings());
    ScriptedModem modem(dialer);
    dialer.dial("5551234", modem.m_now);
    EXPECT_EQ(dialer.state(), State::Initialising);
    modem.initialise();
    EXPECT_EQ(dialer.state(), State::Dialling);
    modem.expect("ATDT5551234\r", "\r\nRING\r\n\r\nCONNECT 33600/ARQ\r\n");
    EXPECT_EQ(dialer.state(), State::Connected);
    EXPECT_EQ(dialer.connectRate(), 33600u);
    EXPECT_FALSE(dialer.nextDeadlineMs().has_value());
    // In data mode a "NO CARRIER" is just data.
    dialer.receive("\r\nNO CARRIER\r\n", modem.m_now);
    EXPECT_EQ(dialer.state(), State::Connected);

    DialerSettings pulse = testSettings();
    pulse.pulseDial = true;
    pulse.initString = "&C1&D2";
    HayesDialer pulseDialer(pulse);
    ScriptedModem pulseModem(pulseDialer);
    pulseDialer.dial("77", pulseModem.m_now);
    pulseModem.expect("ATZ\r");
    pulseModem.expect("ATE0\r");
    pulseModem.expect("ATV1\r");
    pulseModem.expect("ATX4\r");
    pulseModem.expect("AT&C1&D2\r");
    pulseModem.expect("ATS0=0\r");
    pulseModem.expect("ATDP77\r", "\r\nCONNECT\r\n");
    EXPECT_EQ(pulseDialer.state(), State::Connected);
    EXPECT_EQ(pulseDialer.connectRate(), 0u);
}

TEST(HayesDialer, EveryFailedCallHasItsOwnResultInWordsAndInDigits) {
    const std::pair<const char*, velmora::HRESULT> cases[] = {
        {"BUSY", velmora::MODEMERR_BUSY},
        {"NO CARRIER", velmora::MODEMERR_NOCARRIER},
        {"NO DIALTONE", velmora::MODEMERR_NODIALTONE},
        {"NO ANSWER", velmora::MODEMERR_NOANSWER},
        {"ERROR", velmora::MODEMERR_ERROR},
        {"7", velmora::MODEMERR_BUSY},
        {"3", velmora::MODEMERR_NOCARRIER},
        {"6", velmora::MODEMERR_NODIALTONE},
        {"8", velmora::MODEMERR_NOANSWER},
        {"4", velmora::MODEMERR_ERROR},
    };
    for (const auto& [reply, result] : cases) {
        HayesDialer dialer(testSettings());
        ScriptedModem modem(dialer);
        dialer.dial("1", modem.m_now);
        modem.initialise();
        modem.expect("ATDT1\r", QByteArray("\r\n") + reply + "\r\n");
        EXPECT_EQ(dialer.state(), State::Failed) << reply;
        EXPECT_EQ(dialer.result(), result) << reply;
        EXPECT_NE(dialer.result(), velmora::DP_OK);
    }

    // Numeric success codes too: 0 is OK, 10 is CONNECT 2400; "1" alone is CONNECT.
    HayesDialer numeric(testSettings());
    ScriptedModem modem(numeric);
    numeric.dial("2", modem.m_now);
    modem.expect("ATZ\r", "0\r");
    modem.expect("ATE0\r", "0\r");
    modem.expect("ATV1\r", "0\r");
    modem.expect("ATX4\r", "0\r");
    modem.expect("ATS0=0\r", "0\r");
    modem.expect("ATDT2\r", "10\r");
    EXPECT_EQ(numeric.state(), State::Connected);
    EXPECT_EQ(numeric.connectRate(), 2400u);

    // An ERROR to an init command ends the attempt as well.
    HayesDialer refused(testSettings());
    ScriptedModem refusing(refused);
    refused.dial("3", refusing.m_now);
    refusing.expect("ATZ\r", "\r\nERROR\r\n");
    EXPECT_EQ(refused.result(), velmora::MODEMERR_ERROR);
}

TEST(HayesDialer, CommandAndDialTimeLimitsEndExactlyAtTheirDeadline) {
    HayesDialer dialer(testSettings());
    const std::uint32_t start = 0xFFFFFF00;  // the command deadline lies past the wrap-around
    dialer.dial("1", start);
    EXPECT_EQ(dialer.takeOutput(), "ATZ\r");
    ASSERT_TRUE(dialer.nextDeadlineMs().has_value());
    EXPECT_EQ(*dialer.nextDeadlineMs(), start + 1000);
    dialer.tick(start + 999);
    EXPECT_EQ(dialer.state(), State::Initialising);
    dialer.tick(start + 1000);
    EXPECT_EQ(dialer.state(), State::Failed);
    EXPECT_EQ(dialer.result(), velmora::MODEMERR_TIMEOUT);

    HayesDialer caller(testSettings());
    ScriptedModem modem(caller);
    caller.dial("1", modem.m_now);
    modem.initialise();
    modem.expect("ATDT1\r", "");
    const std::uint32_t dialled = modem.m_now;
    caller.tick(dialled + 29999);
    EXPECT_EQ(caller.state(), State::Dialling);
    caller.tick(dialled + 30000);
    EXPECT_EQ(caller.state(), State::Failed);
    EXPECT_EQ(caller.result(), velmora::MODEMERR_TIMEOUT);
    EXPECT_EQ(caller.takeOutput(), "\r");  // the dial is cut short
}

TEST(HayesDialer, AnswersOnRingOrLeavesItToAutoAnswerAndWaitsAgainAfterACallerGivesUp) {
    HayesDialer host(testSettings());
    ScriptedModem modem(host);
    host.answer(modem.m_now);
    modem.initialise();
    EXPECT_EQ(host.state(), State::WaitingForRing);
    EXPECT_FALSE(host.nextDeadlineMs().has_value());  // waiting for a call has no end
    host.receive("\r\nRING\r\n", modem.m_now);
    EXPECT_EQ(host.state(), State::Answering);
    modem.expect("ATA\r", "\r\nNO CARRIER\r\n");
    EXPECT_EQ(host.state(), State::WaitingForRing);
    host.receive("\r\nRING\r\n", modem.m_now);
    modem.expect("ATA\r", "\r\nCONNECT 9600\r\n");
    EXPECT_EQ(host.state(), State::Connected);
    EXPECT_EQ(host.connectRate(), 9600u);

    DialerSettings automatic = testSettings();
    automatic.autoAnswer = true;
    HayesDialer autoHost(automatic);
    ScriptedModem autoModem(autoHost);
    autoHost.answer(autoModem.m_now);
    autoModem.initialise("ATS0=1\r");
    autoHost.receive("\r\nRING\r\n", autoModem.m_now);
    EXPECT_EQ(autoHost.takeOutput(), "");  // no ATA: the modem picks up itself
    EXPECT_EQ(autoHost.state(), State::Answering);
    // No CONNECT within the answer time limit: hang up and wait for the next ring.
    autoHost.tick(autoModem.m_now + 19999);
    EXPECT_EQ(autoHost.state(), State::Answering);
    autoHost.tick(autoModem.m_now + 20000);
    EXPECT_EQ(autoHost.state(), State::WaitingForRing);
    EXPECT_EQ(autoHost.takeOutput(), "ATH0\r");
}

TEST(HayesDialer, HangsUpWithGuardTimesAroundTheEscapeAndDropsDtrWhenTheModemIsDeaf) {
    HayesDialer dialer(testSettings());
    ScriptedModem modem(dialer);
    dialer.dial("1", modem.m_now);
    modem.initialise();
    modem.expect("ATDT1\r", "\r\nCONNECT 2400\r\n");
    const std::uint32_t t = modem.m_now;
    dialer.hangUp(t);
    EXPECT_EQ(dialer.state(), State::Escaping);
    dialer.tick(t + 999);
    EXPECT_EQ(dialer.takeOutput(), "");  // not before the guard time
    dialer.tick(t + 1000);
    EXPECT_EQ(dialer.takeOutput(), "+++");
    // Data still in flight before the modem's OK is skipped.
    dialer.receive("junk\r\nOK\r\n", t + 1500);
    EXPECT_EQ(dialer.takeOutput(), "ATH0\r");
    EXPECT_EQ(dialer.state(), State::HangingUp);
    dialer.receive("\r\nOK\r\n", t + 1600);
    EXPECT_EQ(dialer.state(), State::Idle);
    EXPECT_TRUE(dialer.dtr());

    // A modem that never answers the escape: DTR goes low for a while, then back up.
    HayesDialer deaf(testSettings());
    ScriptedModem deafModem(deaf);
    deaf.dial("1", deafModem.m_now);
    deafModem.initialise();
    deafModem.expect("ATDT1\r", "\r\nCONNECT\r\n");
    const std::uint32_t u = deafModem.m_now;
    deaf.hangUp(u);
    deaf.tick(u + 1000);
    EXPECT_EQ(deaf.takeOutput(), "+++");
    deaf.tick(u + 1000 + 1999);
    EXPECT_TRUE(deaf.dtr());
    deaf.tick(u + 1000 + 2000);  // guard time plus the command time limit
    EXPECT_FALSE(deaf.dtr());
    EXPECT_EQ(deaf.state(), State::DroppingDtr);
    deaf.tick(u + 3000 + 499);
    EXPECT_FALSE(deaf.dtr());
    deaf.tick(u + 3000 + 500);
    EXPECT_TRUE(deaf.dtr());
    EXPECT_EQ(deaf.state(), State::Idle);

    // Hanging up during a dial cuts it short with a character, then ATH0.
    HayesDialer dialling(testSettings());
    ScriptedModem dialModem(dialling);
    dialling.dial("1", dialModem.m_now);
    dialModem.initialise();
    dialModem.expect("ATDT1\r", "");
    dialling.hangUp(dialModem.m_now);
    dialModem.expect("\r", "\r\nNO CARRIER\r\n");
    dialModem.expect("ATH0\r", "\r\nOK\r\n");
    EXPECT_EQ(dialling.state(), State::Idle);
}
