#include "TwoWindows.h"
#include "peer/Peer.h"

#include "connections/ConnectionFile.h"
#include "connections/ConnectionForm.h"
#include "connections/RadioGroup.h"
#include "conversation/Conversation.h"
#include "session/DXPlay.h"
#include "session/net/NetworkProvider.h"
#include "session/providers/InstalledProviders.h"
#include "shell/PassphraseDialog.h"
#include "support/TestCable.h"
#include "support/TestEnvironment.h"
#include "support/WindowParts.h"
#include "transfer/TransferEngine.h"

#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QFile>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTextEdit>
#include <QToolButton>
#include <QTreeView>

#include <gtest/gtest.h>

namespace velmora::test {

namespace {

// The window's network prompts, with the passphrase typed into the dialog service's text
// prompt, which the test answers, instead of into the modal passphrase dialog.
class ScriptedPassphrase : public PassphraseDialog {
public:
    explicit ScriptedPassphrase(DialogService& dialogs)
        : PassphraseDialog(dialogs), m_dialogs(dialogs) {}

    void askPassphrase(const QString& where, PromptReply<QString> reply) override {
        m_dialogs.askText(windowTitle(),
                          QStringLiteral("Passphrase of the line with %1:").arg(where), {},
                          std::move(reply));
    }

private:
    DialogService& m_dialogs;
};

}  // namespace

void pumpFor(int milliseconds) {
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < milliseconds) {
        QApplication::processEvents(QEventLoop::AllEvents, 5);
    }
}

QByteArray patternBytes(int size, int seed) {
    QByteArray bytes(size, Qt::Uninitialized);
    std::uint32_t state = 2463534242u + static_cast<std::uint32_t>(seed);
    for (char& byte : bytes) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        byte = static_cast<char>(state);
    }
    return bytes;
}

CableOptions fastCable(double bitErrorRate, double garbageBurstsPerSecond) {
    CableOptions options = cableIn("cable", 2000000);
    options.line.bitErrorRate = bitErrorRate;
    options.line.garbageBurstsPerSecond = garbageBurstsPerSecond;
    return options;
}

std::filesystem::path noCable() {
    return fastCable().directory / "unused";
}

Computer::Computer(const std::filesystem::path& cableEnd, const QString& userName,
                   const QByteArray& moreOptions, DesktopNotifier* notifier) {
    SerialSettings port;
    port.portName = QString::fromStdString(cableEnd.string());
    port.baud = 2000000;
    Shell::Setup setup;
    setup.optionsIni = quietOptions("UserName=" + userName.toUtf8() + "\n" + moreOptions);
    setup.providers = installedProviders(
        {makeTempFolder("providers"), nullptr, port, nullptr, nullptr, std::nullopt});
    // The network provider, made when a line opens, asks the prompts made below with the shell.
    for (ProviderEntry& entry : setup.providers) {
        if (entry.guid == guids::ServiceProviderTcpIp) {
            entry.create = [this] {
                return std::make_unique<NetworkProvider>(m_networkPrompts.get(), std::nullopt);
            };
        }
    }
    setup.notifier = notifier;
    shell = std::make_unique<Shell>(setup);
    m_networkPrompts = std::make_unique<ScriptedPassphrase>(shell->dialogs);
    // As the program shows them: in the conversation.
    m_networkPrompts->setNotice(
        [this](const QString& notice) { main().conversation().appendLine(notice); });
    EXPECT_TRUE(shell->create());
    main().show();
    main().FormActivate();
}

Computer::~Computer() {
    // The session component first: a host's line tells the prompts of callers until it ends.
    shell.reset();
}

QStringList Computer::lines() const {
    return test::part<QTextEdit>(main(), "MessagesEdit")->toPlainText().split(QLatin1Char('\n'));
}

TransfersModel& Computer::transfers() const {
    return main().transfers().model();
}

bool Computer::connectByCable(bool host) {
    return connectThroughDialog([host](TConnectionForm& form) {
        form.ConnectionMethod->button(1)->click();
        form.ConnectionMode->button(host ? 0 : 1)->click();
    });
}

bool Computer::connectByNetwork(bool host, quint16 port, const QString& passphrase) {
    dialogs().answerText(passphrase);
    return connectThroughDialog([host, port](TConnectionForm& form) {
        form.ConnectionMethod->button(NetworkProviderIndex)->click();
        form.ConnectionMode->button(host ? 0 : 1)->click();
        form.NetworkHostName->setText(host ? QString() : QStringLiteral("127.0.0.1"));
        form.NetworkPort->setValue(port);
    });
}

bool Computer::connectThroughDialog(const std::function<void(TConnectionForm&)>& fill) {
    main().runCommand("FileNewItem");
    auto* form = qobject_cast<TConnectionForm*>(QApplication::activeModalWidget());
    if (form == nullptr) {
        ADD_FAILURE() << "the New connection dialog is not shown";
        return false;
    }
    fill(*form);
    form->ConnectButton->click();
    EXPECT_TRUE(pumpUntil([&] { return !main().peer().connecting(); }));
    const bool closedOpen = !form->isVisible() && main().peer().isOpen();
    if (form->isVisible()) {
        form->reject();
    }
    return closedOpen;
}

void Computer::say(const QString& text) {
    part<QLineEdit>(main(), "EditMessage")->setText(text);
    part<QToolButton>(main(), "SendSpeedButton")->click();
}

void Computer::typeKey(Qt::Key key, const QString& text) {
    QWidget* view = part<QTextEdit>(main(), "MessagesEdit");
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, text);
    QApplication::sendEvent(view, &press);
    QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier, text);
    QApplication::sendEvent(view, &release);
}

void connectAnnAndBob(Computer& ann, Computer& bob) {
    ASSERT_TRUE(ann.connectByCable(true));
    EXPECT_EQ(ann.status(), "Waiting for remote user...");
    ASSERT_TRUE(bob.connectByCable(false));
    EXPECT_EQ(bob.status(), "Connected");
    ASSERT_TRUE(pumpUntil([&] { return ann.status() == "Connected"; }));
}

void Computer::sendFiles(const QStringList& paths) {
    dialogs().answerFiles(paths);
    main().runCommand("Sendfile1");
}

void Computer::onLine(int row, QAction* action) {
    QTreeView& list = *test::part<QTreeView>(main(), "TransfersListView");
    list.clearSelection();
    list.selectionModel()->select(transfers().index(row, 0),
                                  QItemSelectionModel::Select | QItemSelectionModel::Rows);
    ASSERT_TRUE(action->isEnabled()) << action->objectName().toStdString();
    action->trigger();
}

void Computer::disconnect() {
    if (main().peer().isOpen()) {
        dialogs().answerQuestion(DialogButton::Ok);
    }
    main().runCommand("Closeconnection1");
}

}  // namespace velmora::test
