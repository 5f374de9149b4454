#pragma once

#include "../shell/ShellFixture.h"

#include "cable/NullModemCable.h"
#include "support/TestEnvironment.h"
#include "transfer/TransfersModel.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <filesystem>
#include <functional>
#include <memory>

namespace velmora {
class PassphraseDialog;
class TConnectionForm;
}  // namespace velmora

namespace velmora::test {

// Runs the event loop for a while.
void pumpFor(int milliseconds);

// Bytes that differ from file to file, so that a block in the wrong place shows.
QByteArray patternBytes(int size, int seed);

// A loopback TCP port nobody listens on now.
quint16 freeLoopbackPort();

inline const QString kNetworkPassphrase = QStringLiteral("two windows, one passphrase");

// One user's program: its windows over its own data folder, its serial provider told the
// cable's end, its dialogs answered by the test. The passphrase of a network line is asked as
// the window asks it, with the text answered through the dialog service; the host's notices
// of callers turned away go into the conversation.
class Computer {
public:
    // moreOptions: further lines of the options file's [Common] section; notifier: the desktop
    // notifications' service, none by default.
    Computer(const std::filesystem::path& cableEnd, const QString& userName,
             const QByteArray& moreOptions = {}, DesktopNotifier* notifier = nullptr);
    ~Computer();

    TMainForm& main() const { return shell->main(); }
    ScriptedDialogService& dialogs() const { return shell->dialogs; }
    QString incomingFolder() const { return shell->dataFolder + "/Incoming/"; }
    QString status() const { return main().statusText(0); }
    QString notice() const { return main().statusText(1); }
    // The conversation view, line by line.
    QStringList lines() const;
    TransfersModel& transfers() const;

    // New connection, through the dialog as a user fills it: the cable, as host (Master) or
    // as the calling side (Slave). True when the dialog closed with a session open.
    bool connectByCable(bool host);
    // The same over the network (TCP/IP) on the loopback address: waiting on the port, or
    // calling 127.0.0.1 there; `passphrase` is the answer to the window's question for it.
    bool connectByNetwork(bool host, quint16 port, const QString& passphrase = kNetworkPassphrase);
    // Send file, with the files chosen in the dialog.
    void sendFiles(const QStringList& paths);
    // Selects the transfers list's line and runs the action as its menu item would.
    void onLine(int row, QAction* action);
    // Disconnect, answering the question with OK when one is asked.
    void disconnect();

    std::unique_ptr<Shell> shell;

private:
    // New connection, the dialog filled by `fill`, then Connect.
    bool connectThroughDialog(const std::function<void(TConnectionForm&)>& fill);

    // Made with the shell, whose dialog service it asks through.
    std::unique_ptr<PassphraseDialog> m_networkPrompts;
};

// A null-modem cable in a folder of the test's own, at a rate high enough for a fast suite.
CableOptions fastCable(double bitErrorRate = 0.0, double garbageBurstsPerSecond = 0.0);

// The cable end of a computer that has none: its lines go over the network.
std::filesystem::path noCable();

}  // namespace velmora::test
