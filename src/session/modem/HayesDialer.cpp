#include "session/modem/HayesDialer.h"

#include "session/modem/ModemResults.h"

#include <utility>

namespace velmora {

namespace {

bool reached(std::uint32_t nowMs, std::uint32_t deadlineMs) {
    return static_cast<std::int32_t>(nowMs - deadlineMs) >= 0;
}

// The rates of the numeric CONNECT codes most modems share (ATV0 with ATX1 and above).
std::optional<std::uint32_t> numericConnectRate(int code) {
    switch (code) {
        case 1:
            return 0;
        case 5:
            return 1200;
        case 10:
            return 2400;
        case 11:
            return 4800;
        case 12:
            return 9600;
        case 13:
            return 7200;
        case 14:
            return 12000;
        case 15:
            return 14400;
        case 16:
            return 19200;
        case 17:
            return 38400;
        case 18:
            return 57600;
        case 19:
            return 115200;
        default:
            return std::nullopt;
    }
}

}  // namespace

HayesDialer::HayesDialer(DialerSettings settings) : m_settings(std::move(settings)) {}

std::optional<HayesDialer::ParsedReply> HayesDialer::parseReply(const QByteArray& line) {
    if (line == "OK") {
        return ParsedReply{Reply::Ok};
    }
    if (line == "CONNECT") {
        return ParsedReply{Reply::Connect};
    }
    if (line.startsWith("CONNECT ")) {
        // "CONNECT 33600", "CONNECT 33600/ARQ/V34": the leading digits are the rate.
        const QByteArray rest = line.mid(8);
        qsizetype digits = 0;
        while (digits < rest.size() && rest[digits] >= '0' && rest[digits] <= '9') {
            ++digits;
        }
        return ParsedReply{Reply::Connect, rest.left(digits).toUInt()};
    }
    if (line == "RING") {
        return ParsedReply{Reply::Ring};
    }
    if (line == "NO CARRIER") {
        return ParsedReply{Reply::NoCarrier};
    }
    if (line == "ERROR") {
        return ParsedReply{Reply::Error};
    }
    if (line == "NO DIALTONE" || line == "NO DIAL TONE") {
        return ParsedReply{Reply::NoDialTone};
    }
    if (line == "BUSY") {
        return ParsedReply{Reply::Busy};
    }
    if (line == "NO ANSWER") {
        return ParsedReply{Reply::NoAnswer};
    }
    bool numeric = false;
    const int code = line.toInt(&numeric);
    if (!numeric || line.isEmpty() || line.front() < '0' || line.front() > '9') {
        return std::nullopt;
    }
    switch (code) {
        case 0:
            return ParsedReply{Reply::Ok};
        case 2:
            return ParsedReply{Reply::Ring};
        case 3:
            return ParsedReply{Reply::NoCarrier};
        case 4:
            return ParsedReply{Reply::Error};
        case 6:
            return ParsedReply{Reply::NoDialTone};
        case 7:
            return ParsedReply{Reply::Busy};
        case 8:
            return ParsedReply{Reply::NoAnswer};
        default:
            break;
    }
    if (const auto rate = numericConnectRate(code)) {
        return ParsedReply{Reply::Connect, *rate};
    }
    return std::nullopt;
}

void HayesDialer::dial(const QByteArray& number, std::uint32_t nowMs) {
    m_answering = false;
    m_number = number;
    startInit(nowMs);
}

void HayesDialer::answer(std::uint32_t nowMs) {
    m_answering = true;
    m_number.clear();
    startInit(nowMs);
}

void HayesDialer::startInit(std::uint32_t nowMs) {
    m_result = DP_OK;
    m_rate = 0;
    m_dtr = true;
    m_lineBuffer.clear();
    // Reset, echo off, verbose results, extended results (BUSY, NO DIALTONE).
    m_pendingInit = {"ATZ", "ATE0", "ATV1", "ATX4"};
    if (!m_settings.initString.isEmpty()) {
        QByteArray extra = m_settings.initString.trimmed();
        if (!extra.toUpper().startsWith("AT")) {
            extra.prepend("AT");
        }
        m_pendingInit.append(extra);
    }
    m_pendingInit.append(m_answering && m_settings.autoAnswer ? "ATS0=1" : "ATS0=0");
    m_state = State::Initialising;
    sendCommand(m_pendingInit.takeFirst(), m_settings.commandTimeoutMs, nowMs);
}

void HayesDialer::sendCommand(const QByteArray& command, std::uint32_t timeoutMs,
                              std::uint32_t nowMs) {
    m_output += command + '\r';
    setDeadline(nowMs, timeoutMs);
}

void HayesDialer::hangUp(std::uint32_t nowMs) {
    m_lineBuffer.clear();
    switch (m_state) {
        case State::Connected:
            // Silence first: the modem only takes "+++" as an escape with a guard time around it.
            m_state = State::Escaping;
            m_plusSent = false;
            setDeadline(nowMs, m_settings.guardTimeMs);
            break;
        case State::Dialling:
        case State::Answering:
            // Any character cuts a dial or an answer short; the modem replies with a result.
            m_state = State::Aborting;
            sendCommand("", m_settings.commandTimeoutMs, nowMs);
            break;
        case State::Initialising:
        case State::WaitingForRing:
        case State::Aborting:
            m_state = State::HangingUp;
            sendCommand("ATH0", m_settings.commandTimeoutMs, nowMs);
            break;
        case State::Idle:
        case State::Failed:
            m_state = State::Idle;
            m_deadline.reset();
            break;
        case State::Escaping:
        case State::HangingUp:
        case State::DroppingDtr:
            break;  // already on the way
    }
}

void HayesDialer::receive(const QByteArray& bytes, std::uint32_t nowMs) {
    if (m_state == State::Connected) {
        return;  // data, the link's business
    }
    for (const char c : bytes) {
        if (c != '\r' && c != '\n') {
            m_lineBuffer += c;
            continue;
        }
        const QByteArray line = m_lineBuffer.trimmed();
        m_lineBuffer.clear();
        if (line.isEmpty()) {
            continue;
        }
        // An echo of our own command (before ATE0 took effect) or noise is no answer.
        if (const auto reply = parseReply(line)) {
            handleReply(*reply, nowMs);
            if (m_state == State::Connected) {
                return;  // what follows CONNECT is data
            }
        }
    }
}

void HayesDialer::handleReply(const ParsedReply& reply, std::uint32_t nowMs) {
    switch (m_state) {
        case State::Initialising:
            if (reply.reply == Reply::Ok) {
                if (m_pendingInit.isEmpty()) {
                    afterInit(nowMs);
                } else {
                    sendCommand(m_pendingInit.takeFirst(), m_settings.commandTimeoutMs, nowMs);
                }
            } else if (reply.reply == Reply::Error) {
                fail(MODEMERR_ERROR);
            }
            break;
        case State::Dialling:
            switch (reply.reply) {
                case Reply::Connect:
                    m_state = State::Connected;
                    m_rate = reply.rate;
                    m_deadline.reset();
                    break;
                case Reply::Busy:
                    fail(MODEMERR_BUSY);
                    break;
                case Reply::NoCarrier:
                    fail(MODEMERR_NOCARRIER);
                    break;
                case Reply::NoDialTone:
                    fail(MODEMERR_NODIALTONE);
                    break;
                case Reply::NoAnswer:
                    fail(MODEMERR_NOANSWER);
                    break;
                case Reply::Error:
                    fail(MODEMERR_ERROR);
                    break;
                case Reply::Ok:
                case Reply::Ring:
                    break;
            }
            break;
        case State::WaitingForRing:
            if (reply.reply == Reply::Ring) {
                m_state = State::Answering;
                if (m_settings.autoAnswer) {
                    setDeadline(nowMs, m_settings.answerTimeoutMs);
                } else {
                    sendCommand("ATA", m_settings.answerTimeoutMs, nowMs);
                }
            }
            break;
        case State::Answering:
            if (reply.reply == Reply::Connect) {
                m_state = State::Connected;
                m_rate = reply.rate;
                m_deadline.reset();
            } else if (reply.reply == Reply::NoCarrier || reply.reply == Reply::Error) {
                // The caller gave up or the handshake failed: wait for the next call.
                m_state = State::WaitingForRing;
                m_deadline.reset();
            }
            break;
        case State::Aborting:
            m_state = State::HangingUp;
            sendCommand("ATH0", m_settings.commandTimeoutMs, nowMs);
            break;
        case State::Escaping:
            if (m_plusSent && reply.reply == Reply::Ok) {
                m_state = State::HangingUp;
                sendCommand("ATH0", m_settings.commandTimeoutMs, nowMs);
            } else if (reply.reply == Reply::NoCarrier) {
                m_state = State::Idle;  // the other side was quicker; the modem is on-hook
                m_deadline.reset();
            }
            break;
        case State::HangingUp:
            if (reply.reply == Reply::Ok || reply.reply == Reply::NoCarrier) {
                m_state = State::Idle;
                m_deadline.reset();
            }
            break;
        case State::Idle:
        case State::Connected:
        case State::DroppingDtr:
        case State::Failed:
            break;
    }
}

void HayesDialer::afterInit(std::uint32_t nowMs) {
    if (m_answering) {
        m_state = State::WaitingForRing;
        m_deadline.reset();
        return;
    }
    m_state = State::Dialling;
    sendCommand((m_settings.pulseDial ? "ATDP" : "ATDT") + m_number, m_settings.dialTimeoutMs,
                nowMs);
}

void HayesDialer::fail(HRESULT result) {
    m_state = State::Failed;
    m_result = result;
    m_deadline.reset();
}

void HayesDialer::dropDtr(std::uint32_t nowMs) {
    m_state = State::DroppingDtr;
    m_dtr = false;
    setDeadline(nowMs, m_settings.dtrDropMs);
}

void HayesDialer::tick(std::uint32_t nowMs) {
    if (!m_deadline || !reached(nowMs, *m_deadline)) {
        return;
    }
    m_deadline.reset();
    switch (m_state) {
        case State::Initialising:
            fail(MODEMERR_TIMEOUT);
            break;
        case State::Dialling:
            m_output += '\r';  // stop the dial; the driver hangs up after a failure
            fail(MODEMERR_TIMEOUT);
            break;
        case State::Answering:
            m_state = State::WaitingForRing;
            m_output += "ATH0\r";
            break;
        case State::Escaping:
            if (!m_plusSent) {
                m_output += "+++";
                m_plusSent = true;
                setDeadline(nowMs, m_settings.guardTimeMs + m_settings.commandTimeoutMs);
            } else {
                dropDtr(nowMs);
            }
            break;
        case State::Aborting:
        case State::HangingUp:
            dropDtr(nowMs);
            break;
        case State::DroppingDtr:
            m_dtr = true;
            m_state = State::Idle;
            break;
        case State::Idle:
        case State::WaitingForRing:
        case State::Connected:
        case State::Failed:
            break;
    }
}

QByteArray HayesDialer::takeOutput() {
    return std::exchange(m_output, {});
}

}  // namespace velmora
