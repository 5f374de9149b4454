#pragma once

#include "session/ServiceProvider.h"
#include "session/UiHandOver.h"
#include "session/link/SerialPrompts.h"
#include "session/modem/ModemLine.h"
#include "session/modem/ModemList.h"
#include "session/modem/ModemPrompts.h"

#include <QString>

#include <functional>
#include <mutex>
#include <optional>

namespace velmora {

// Timings for the modems and links of the modem provider; the defaults suit real modems.
struct ModemProviderOptions {
    DialerSettings dialer;
    LinkEngine::Config link;
    std::uint32_t linkUpTimeoutMs = 15000;
    // The ports the system lists; the system's own when empty.
    std::function<QList<SerialPortChoice>()> systemPorts;
};

// The service provider of dial-up lines. Its address names the modem (DPAID_Modem, one of the
// names of the modem list) and, for a call, the number (DPAID_Phone). What the address leaves
// out it asks the user for, preset with the last choice, which it keeps in the modem list file.
// A call that does not come about returns the modem's MODEMERR_* code.
class ModemProvider : public ServiceProvider {
public:
    static constexpr std::uint32_t kDefaultTimeoutMs = 5000;

    // prompts may be null when every address names modem and number.
    ModemProvider(QString dataFolder, ModemPrompts* prompts, ModemProviderOptions options = {});

    HRESULT initialize(const Address& address) override;
    std::uint32_t defaultTimeoutMs() const override { return kDefaultTimeoutMs; }
    // Dials and returns once the call is up and the other side's link answered; a MODEMERR_*
    // code when the call did not come about, DPERR_USERCANCEL when the user cancels.
    HRESULT connect(std::unique_ptr<Line>& line) override;
    // Hangs up the call being dialled, from any thread; connect() answers DPERR_USERCANCEL, now
    // and for every later call.
    void cancelConnect() override;
    // Opens the modem and returns at once; the line answers calls one after the other.
    HRESULT listen(std::unique_ptr<Line>& line) override;
    // The names of the modem list; MODEMERR_LISTUNREADABLE when the list cannot be read.
    HRESULT modemNames(QStringList& names) override;

    QString lastError() const { return m_lastError; }

private:
    // The modem (and number) of this attempt, asking when the address left it out.
    HRESULT choose(bool calling, ModemEntry& modem);
    HRESULT fail(HRESULT result, const QString& error, bool tellUser);
    QList<SerialPortChoice> systemPorts() const;
    ModemPortSettings portSettings(const ModemEntry& modem) const;

    const QString m_dataFolder;
    ModemPrompts* const m_prompts;
    const ModemProviderOptions m_options;
    ModemChoice m_choice;             // from the address, completed by the user's answers
    // The prompts are the UI thread's; connect() and listen() run on the session's worker.
    UiHandOver m_ui;
    std::mutex m_dialMutex;  // connect() on the worker against cancelConnect()
    ModemLine* m_dialling = nullptr;  // the call connect() waits for
    bool m_cancelled = false;
    QString m_lastError;
};

// The dial string of a number as typed: digits and the dial characters * # , W @ ! P T, without
// spaces, dashes, brackets or anything a modem would take as a command.
QByteArray dialString(const QString& number);

}  // namespace velmora
