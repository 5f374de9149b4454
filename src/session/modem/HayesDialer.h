#pragma once

#include "session/Transport.h"

#include <QByteArray>
#include <QList>

#include <cstdint>
#include <optional>

namespace velmora {

// How one modem is driven.
struct DialerSettings {
    QByteArray initString;    // the modem's own extra command ("AT&C1&D2"); empty for none
    bool pulseDial = false;   // ATDP instead of ATDT
    bool autoAnswer = false;  // the modem picks up by itself (ATS0=1) instead of RING → ATA
    std::uint32_t commandTimeoutMs = 3000;  // for every command in command mode
    std::uint32_t dialTimeoutMs = 60000;    // ATD until CONNECT
    std::uint32_t answerTimeoutMs = 60000;  // RING until CONNECT
    std::uint32_t guardTimeMs = 1100;       // silence around "+++" (a little over the usual S12)
    std::uint32_t dtrDropMs = 500;          // how long DTR is held low when the modem is deaf
};

// The Hayes AT command dialogue of one modem, as a pure engine: it is given the bytes the modem
// sends and the time, and gives back the bytes to send, the level DTR should have, and its
// state. It reads no clock and does no I/O; the driver calls tick() at nextDeadlineMs().
// Time is a steady millisecond count with 32-bit wrap-around.
//
// Once Connected the engine stands aside: the data belongs to the link, and a "NO CARRIER" in
// the data is not a sign of anything. hangUp() takes the modem back.
class HayesDialer {
public:
    enum class State {
        Idle,            // in command mode, nothing going on (also after a hang-up)
        Initialising,    // the init commands
        Dialling,        // ATD sent, waiting for CONNECT
        WaitingForRing,  // set up to answer, waiting for RING
        Answering,       // ATA sent (or auto-answer), waiting for CONNECT
        Connected,       // data mode
        Aborting,        // a dial or answer is being cut short before ATH0
        Escaping,        // guard time, "+++", guard time, waiting for OK
        HangingUp,       // ATH0 sent
        DroppingDtr,     // the modem did not listen: DTR held low
        Failed,          // the attempt ended; result() says why
    };

    explicit HayesDialer(DialerSettings settings);

    // Starts a call: the init commands, then ATDT/ATDP with the number.
    void dial(const QByteArray& number, std::uint32_t nowMs);
    // Starts waiting for a call: the init commands, then RING → ATA (or the modem's auto-answer).
    // After a caller who gave up, the engine goes back to waiting.
    void answer(std::uint32_t nowMs);
    // Ends whatever is going on and leaves the modem on-hook in command mode (Idle).
    void hangUp(std::uint32_t nowMs);

    void receive(const QByteArray& bytes, std::uint32_t nowMs);
    void tick(std::uint32_t nowMs);

    QByteArray takeOutput();
    bool dtr() const { return m_dtr; }
    State state() const { return m_state; }
    // DP_OK, or why the attempt failed (only meaningful in Failed).
    HRESULT result() const { return m_result; }
    // The rate of CONNECT; 0 when the modem did not say.
    std::uint32_t connectRate() const { return m_rate; }
    std::optional<std::uint32_t> nextDeadlineMs() const { return m_deadline; }

private:
    // One modem answer, verbose or numeric.
    enum class Reply { Ok, Connect, Ring, NoCarrier, Error, NoDialTone, Busy, NoAnswer };
    struct ParsedReply {
        Reply reply;
        std::uint32_t rate = 0;
    };
    static std::optional<ParsedReply> parseReply(const QByteArray& line);

    void startInit(std::uint32_t nowMs);
    void sendCommand(const QByteArray& command, std::uint32_t timeoutMs, std::uint32_t nowMs);
    void handleReply(const ParsedReply& reply, std::uint32_t nowMs);
    void afterInit(std::uint32_t nowMs);
    void fail(HRESULT result);
    void dropDtr(std::uint32_t nowMs);
    void setDeadline(std::uint32_t nowMs, std::uint32_t afterMs) { m_deadline = nowMs + afterMs; }

    const DialerSettings m_settings;
    State m_state = State::Idle;
    HRESULT m_result = DP_OK;
    std::uint32_t m_rate = 0;
    bool m_dtr = true;
    bool m_answering = false;  // what the init leads to: answer() or dial()
    QByteArray m_number;
    QList<QByteArray> m_pendingInit;
    bool m_plusSent = false;  // Escaping: "+++" is out, the second guard time runs
    QByteArray m_lineBuffer;
    QByteArray m_output;
    std::optional<std::uint32_t> m_deadline;
};

}  // namespace velmora
