#pragma once

#include "session/ServiceProvider.h"
#include "session/UiHandOver.h"
#include "session/link/SerialPortLine.h"
#include "session/link/SerialPrompts.h"
#include "session/link/SerialSettings.h"

#include <QString>

#include <memory>
#include <optional>

namespace velmora {

// The service provider of the null-modem cable. Its address carries nothing but the provider,
// so it asks the user for the port settings itself when a line is wanted, preset with the last
// ones used, which it keeps in serial.ini in the data folder:
//
//   [Serial]
//   Port=ttyUSB0        a listed name or a device path such as /dev/pts/3
//   Baud=115200         300 to 4000000
//   Flow=None           None, RtsCts or XonXoff
//   Ask=1               0: use these settings without asking (unattended use)
//
// Settings given to the constructor are used as they are, without asking or writing the file.
class SerialProvider : public ServiceProvider {
public:
    static constexpr std::uint32_t kDefaultTimeoutMs = 5000;

    // prompts may be null when fixed settings are given or the file says Ask=0.
    SerialProvider(QString dataFolder, SerialPrompts* prompts,
                   std::optional<SerialSettings> fixed = std::nullopt);

    HRESULT initialize(const Address& address) override;
    std::uint32_t defaultTimeoutMs() const override { return kDefaultTimeoutMs; }
    // Opens the port and starts the hello exchange; the line reports lineUp when the host
    // answers. DPERR_USERCANCEL when the user cancels, DPERR_NOCONNECTION when the port cannot
    // be opened (lastError() says why, and the user has been told).
    HRESULT connect(std::unique_ptr<Line>& line) override;
    // Opens the port and waits for callers, one after the other.
    HRESULT listen(std::unique_ptr<Line>& line) override;
    HRESULT modemNames(QStringList& names) override;

    QString lastError() const { return m_lastError; }
    QString settingsPath() const;

    // The ports the system lists, with their descriptions.
    static QList<SerialPortChoice> systemPorts();

private:
    HRESULT open(std::unique_ptr<Line>& line, SerialPortLine::Role role);
    // The settings for this attempt, asking when needed; nothing when cancelled.
    std::optional<SerialSettings> chooseSettings(HRESULT& failure);

    QString m_dataFolder;
    SerialPrompts* m_prompts;
    // The prompts are the UI thread's; connect() and listen() run on the session's worker.
    UiHandOver m_ui;
    std::optional<SerialSettings> m_fixed;
    QString m_lastError;
};

}  // namespace velmora
