#include "base/Options.h"
#include "base/ScriptedDialogService.h"
#include "cable/NullModemCable.h"
#include "connections/ConnectionForm.h"
#include "connections/ConnectionStatus.h"
#include "connections/ConnectionStatusView.h"
#include "connections/RadioGroup.h"
#include "peer/Peer.h"
#include "session/DXPlay.h"
#include "session/link/SerialProvider.h"
#include "session/service/MemoryCable.h"
#include "session/service/SessionService.h"
#include "support/FixedTransferSettings.h"
#include "support/TestEnvironment.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

namespace velmora {
namespace {

const QString AppGuid = QStringLiteral("{5B1C7A10-3E0D-4A55-9A77-0B2C6E1D9F31}");

using test::pumpUntil;

// The user cancels the port settings.
struct CancellingPrompts : SerialPrompts {
    void askSerialSettings(const QList<SerialPortChoice>&, const SerialSettings&,
                           PromptReply<SerialSettings> reply) override {
        reply(std::nullopt);
    }
    void showSerialError(const QString&) override {}
};

ProviderEntry serialEntry(const std::filesystem::path& end, SerialPrompts* prompts) {
    std::optional<SerialSettings> settings;
    if (!prompts) {
        settings = SerialSettings{};
        settings->portName = QString::fromStdString(end.string());
        settings->baud = 460800;
    }
    const QString folder = test::makeTempFolder("serial");
    return {guids::ServiceProviderSerial, "Serial Connection", [folder, settings, prompts] {
                return std::make_unique<SerialProvider>(folder, prompts, settings);
            }};
}

ProviderEntry memoryAsSerial(const MemoryCable& cable, MemoryCable::Side side) {
    ProviderEntry entry = cable.providerEntry(side);
    entry.guid = guids::ServiceProviderSerial;
    return entry;
}

// One computer: its session service, component, New connection dialog and status.
struct Computer : ConnectionStatusView {
    SessionService service;
    test::FixedTransferSettings settings;
    Peer peer{service, settings};
    TCustomDXPlay& play = peer.session();
    ScriptedDialogService dialogs{
        [](const QString& description) { ADD_FAILURE() << description.toStdString(); }};
    Options options;
    QStringList conversation;
    QString status;
    std::unique_ptr<TConnectionForm> form;
    ConnectionStatus connection{peer, *this};

    Computer(ProviderEntry provider, const QString& user) : service({std::move(provider)}) {
        play.setGUID(AppGuid);
        options.UserName = user;
        ConnectionFormContext context;
        context.peer = &peer;
        context.dialogs = &dialogs;
        context.options = &options;
        context.dataFolder = test::makeTempFolder("data");
        context.showError = [](const QString&) {};  // no modem provider here: no modem list
        form = std::make_unique<TConnectionForm>(context);
    }
    ~Computer() override { play.Close(); }

    void connectAs(int mode) {
        form->show();
        QApplication::processEvents();
        form->ConnectionMethod->button(1)->click();
        form->ConnectionMode->button(mode)->click();
        form->ConnectButton->click();
        EXPECT_TRUE(pumpUntil([&] { return !peer.connecting(); }));
    }

    void setConnectionCommandsEnabled(bool) override {}
    void setStatusText(const QString& text) override { status = text; }
    void appendConversationLine(const QString& line) override { conversation << line; }
    void setMessageFieldText(const QString&) override {}
    void setWasConnected() override {}
};

void connectMasterAndSlave(Computer& master, Computer& slave) {
    master.connectAs(0);
    EXPECT_FALSE(master.form->isVisible());
    EXPECT_EQ(master.status, "Waiting for remote user...");
    slave.connectAs(1);
    EXPECT_FALSE(slave.form->isVisible());
    EXPECT_TRUE(slave.dialogs.messages().isEmpty());
    EXPECT_EQ(slave.play.SessionName(), "VelmoraSession");
    EXPECT_EQ(slave.conversation, QStringList{"Connected."});
    ASSERT_TRUE(pumpUntil([&] { return master.status == "Connected"; }));
    EXPECT_EQ(master.conversation, (QStringList{"Waiting for remote user...", "Connected."}));

    slave.peer.close();
    // The master's session stays open for the next caller.
    ASSERT_TRUE(pumpUntil([&] { return master.status == "Waiting for remote user..."; }));
    EXPECT_EQ(master.conversation.mid(2),
              (QStringList{"Remote user disconnected.", "Waiting for remote user..."}));
    EXPECT_EQ(slave.conversation.last(), "Disconnected.");
}

TEST(ConnectOverLinesTest, DialogsConnectOverTheMemoryCable) {
    MemoryCable cable;
    Computer master(memoryAsSerial(cable, MemoryCable::Side::A), "Ann");
    Computer slave(memoryAsSerial(cable, MemoryCable::Side::B), "Bob");
    connectMasterAndSlave(master, slave);
}

TEST(ConnectOverLinesTest, DialogsConnectOverTheVirtualCable) {
    CableOptions options;
    options.directory = test::makeTempFolder("cable").toStdString();
    options.line.baud = 460800;
    NullModemCable cable(options);
    Computer master(serialEntry(cable.linkA(), nullptr), "Ann");
    Computer slave(serialEntry(cable.linkB(), nullptr), "Bob");
    connectMasterAndSlave(master, slave);
}

TEST(ConnectOverLinesTest, SlaveWithoutMasterAndACancelledPortPrompt) {
    CableOptions options;
    options.directory = test::makeTempFolder("cable").toStdString();
    options.line.baud = 460800;
    NullModemCable cable(options);
    Computer slave(serialEntry(cable.linkB(), nullptr), "Bob");
    slave.connectAs(1);
    EXPECT_EQ(slave.dialogs.messages(), QStringList{"No sessions were found on remote computer!"});
    EXPECT_TRUE(slave.form->isVisible());
    EXPECT_FALSE(slave.play.Opened());

    CancellingPrompts prompts;
    Computer asking(serialEntry(cable.linkA(), &prompts), "Ann");
    asking.connectAs(0);
    EXPECT_TRUE(asking.dialogs.messages().isEmpty());
    EXPECT_TRUE(asking.form->isVisible());
    EXPECT_FALSE(asking.play.Opened());
}

TEST(ConnectOverLinesTest, WhileAnAttemptRunsEveryWindowTakesInputAndEscEndsIt) {
    MemoryCable cable;  // nobody on the other side
    Computer slave(memoryAsSerial(cable, MemoryCable::Side::B), "Bob");
    QPushButton otherWindow(QStringLiteral("Send file"));
    int otherClicks = 0;
    QObject::connect(&otherWindow, &QPushButton::clicked, [&otherClicks] { ++otherClicks; });
    otherWindow.show();

    slave.form->show();
    QApplication::processEvents();
    slave.form->ConnectionMethod->button(1)->click();
    slave.form->ConnectionMode->button(1)->click();
    slave.form->ConnectButton->click();
    // The click returned at once; the attempt goes on while everything takes input.
    ASSERT_TRUE(slave.peer.connecting());
    EXPECT_EQ(slave.status, "Looking for the other computer...");
    QTest::mouseClick(&otherWindow, Qt::LeftButton);
    EXPECT_EQ(otherClicks, 1);
    QTest::keyClick(slave.form.get(), Qt::Key_Escape);
    EXPECT_FALSE(slave.peer.connecting());
    EXPECT_TRUE(slave.dialogs.messages().isEmpty()) << "a cancel needs no message box";
    EXPECT_EQ(slave.status, "Connection attempt cancelled.");
    EXPECT_TRUE(slave.form->isVisible());
    EXPECT_FALSE(slave.play.Opened());

    // The Cancel button ends an attempt the same way, and the dialog stays for the next one.
    slave.form->ConnectButton->click();
    ASSERT_TRUE(slave.peer.connecting());
    QTest::mouseClick(slave.form->Button2, Qt::LeftButton);
    EXPECT_FALSE(slave.peer.connecting());
    EXPECT_TRUE(slave.form->isVisible());
    EXPECT_EQ(slave.form->StatusLabel->text(), "Connection attempt cancelled.");
    ASSERT_TRUE(pumpUntil([&] { return !slave.play.Busy() && !slave.play.Releasing(); }));
    EXPECT_TRUE(slave.dialogs.messages().isEmpty()) << "the dropped search shows nothing";
}

}  // namespace
}  // namespace velmora
