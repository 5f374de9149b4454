#pragma once

#include "session/link/SerialPrompts.h"
#include "shell/PromptDialog.h"

#include <functional>

class QComboBox;

namespace velmora {

class DialogService;

// Asks for the serial port, its speed and its flow control before a cable connection. The port
// list offers the ports the system knows and takes any device path typed by hand.
class SerialSettingsDialog : public PromptDialog, public SerialPrompts {
public:
    explicit SerialSettingsDialog(DialogService& dialogs, QWidget* parent = nullptr);

    // Fills the fields with the offered ports, preset with `last`.
    void present(const QList<SerialPortChoice>& ports, const SerialSettings& last);
    // What the fields say; nothing when the port is empty or the speed out of range.
    std::optional<SerialSettings> chosen() const;

    void askSerialSettings(const QList<SerialPortChoice>& ports, const SerialSettings& last,
                           PromptReply<SerialSettings> reply) override;
    void showSerialError(const QString& message) override;
    // While `quiet` says so (a lost line being tried again), the last settings are taken without
    // asking and errors are not shown: the attempts go on by themselves.
    void setQuiet(std::function<bool()> quiet) { m_quiet = std::move(quiet); }
    // The device of the settings last chosen or taken; empty before.
    QString lastDevice() const { return m_lastDevice; }

    QComboBox* PortCombo = nullptr;
    QComboBox* BaudCombo = nullptr;
    QComboBox* FlowCombo = nullptr;

private:
    QString problem() const override;

    std::function<bool()> m_quiet;
    QString m_lastDevice;
};

}  // namespace velmora
