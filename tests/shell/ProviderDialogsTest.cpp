#include "ShellFixture.h"

#include "shell/ModemDialog.h"
#include "shell/PassphraseDialog.h"
#include "shell/SerialSettingsDialog.h"

#include <QApplication>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QWindow>

#include <gtest/gtest.h>

namespace velmora {
namespace {

QPushButton* button(QDialog& dialog, QDialogButtonBox::StandardButton which) {
    return dialog.findChild<QDialogButtonBox*>()->button(which);
}

TEST(ProviderDialogs, SerialSettingsPresetChosenAndValidated) {
    ScriptedDialogService dialogs;
    SerialSettingsDialog dialog(dialogs);
    const QList<SerialPortChoice> ports{{"ttyS0", ""}, {"ttyUSB0", "USB-Serial Controller"}};

    // A listed port is preset by its name; its description is shown but not returned.
    dialog.present(ports, {"ttyUSB0", 57600, FlowControl::RtsCts});
    EXPECT_EQ(dialog.PortCombo->currentText(), "ttyUSB0 (USB-Serial Controller)");
    EXPECT_EQ(dialog.chosen(), (SerialSettings{"ttyUSB0", 57600, FlowControl::RtsCts}));

    // A remembered device path the system does not list, and an unlisted speed, are kept.
    dialog.present(ports, {"/dev/pts/7", 250000, FlowControl::XonXoff});
    EXPECT_EQ(dialog.PortCombo->count(), 3);
    EXPECT_EQ(dialog.chosen(), (SerialSettings{"/dev/pts/7", 250000, FlowControl::XonXoff}));

    // An empty port, a speed out of range or not a number: nothing, and OK says why.
    for (const QString& baud : {QStringLiteral("299"), QStringLiteral("fast")}) {
        dialog.BaudCombo->setEditText(baud);
        EXPECT_FALSE(dialog.chosen());
    }
    dialog.BaudCombo->setEditText("9600");
    dialog.PortCombo->setEditText("  ");
    EXPECT_FALSE(dialog.chosen());
    button(dialog, QDialogButtonBox::Ok)->click();
    EXPECT_EQ(dialogs.messages().size(), 1);
    EXPECT_EQ(dialog.result(), QDialog::Rejected);

    dialog.showSerialError("Port busy");
    EXPECT_EQ(dialogs.messages().last(), "Port busy");
}

TEST(ProviderDialogs, SerialAskReturnsOnOkAndNothingOnCancel) {
    ScriptedDialogService dialogs;
    SerialSettingsDialog dialog(dialogs);
    {
        test::ModalWatcher watcher([&](QWidget*) {
            dialog.FlowCombo->setCurrentIndex(2);
            button(dialog, QDialogButtonBox::Ok)->click();
        });
        EXPECT_EQ(dialog.askSerialSettings({{"ttyS0", ""}}, {"ttyS0", 9600, FlowControl::None}),
                  (SerialSettings{"ttyS0", 9600, FlowControl::XonXoff}));
        EXPECT_TRUE(watcher.seen());
    }
    {
        test::ModalWatcher watcher(
            [&](QWidget*) { button(dialog, QDialogButtonBox::Cancel)->click(); });
        EXPECT_FALSE(dialog.askSerialSettings({}, {"ttyS0", 9600, FlowControl::None}));
        EXPECT_TRUE(watcher.seen());
    }
    EXPECT_TRUE(dialogs.messages().isEmpty());
}

TEST(ProviderDialogs, SerialPromptKeepsTheRememberedPortOnEnterAndOpensOverItsWindow) {
    ScriptedDialogService dialogs;
    SerialSettingsDialog dialog(dialogs);
    QWidget window;
    window.setGeometry(500, 400, 700, 500);
    window.show();
    QApplication::setActiveWindow(&window);
    const SerialSettings remembered{"/tmp/cable/B", 115200, FlowControl::None};
    const QList<SerialPortChoice> ports{{"ttyS0", ""}, {"ttyUSB0", "FT232R USB UART"}};
    QRect shownAt;
    QStringList listed;
    test::ModalWatcher watcher([&](QWidget* shown) {
        shownAt = shown->frameGeometry();
        for (int i = 0; i < dialog.PortCombo->count(); ++i) {
            listed << dialog.PortCombo->itemText(i);
        }
        // Enter as the keyboard gives it: to the widget with the focus, the port's field, once
        // the prompt is the active window (a user's key reaches no window before that).
        ASSERT_TRUE(QTest::qWaitForWindowActive(shown));
        for (int press = 0; press < 2 && dialog.isVisible(); ++press) {
            QTest::keyClick(dialog.focusWidget(), Qt::Key_Return);
        }
        if (dialog.isVisible()) {
            dialog.reject();
        }
    });
    EXPECT_EQ(dialog.askSerialSettings(ports, remembered), remembered);
    ASSERT_TRUE(watcher.seen());
    EXPECT_TRUE(window.frameGeometry().contains(shownAt.center()))
        << shownAt.x() << "," << shownAt.y();
    EXPECT_EQ(listed, QStringList({"/tmp/cable/B", "ttyS0", "ttyUSB0 (FT232R USB UART)"}));
}

// The passphrase prompt, as the serial one, opens over the window the user works in and is kept
// above it; what is typed is returned and not kept in the dialog.
TEST(ProviderDialogs, PassphrasePromptOpensOverItsWindowAndKeepsNothing) {
    ScriptedDialogService dialogs;
    PassphraseDialog dialog(dialogs);
    QWidget window;
    window.setGeometry(500, 400, 700, 500);
    window.show();
    QApplication::setActiveWindow(&window);
    QRect shownAt;
    QWindow* above = nullptr;
    test::ModalWatcher watcher([&](QWidget* shown) {
        shownAt = shown->frameGeometry();
        above = shown->windowHandle()->transientParent();
        QTest::keyClicks(dialog.PassphraseEdit, "copper kettle");
        QTest::keyClick(dialog.PassphraseEdit, Qt::Key_Return);
    });
    EXPECT_EQ(dialog.askPassphrase("127.0.0.1:5700"), QString("copper kettle"));
    ASSERT_TRUE(watcher.seen());
    EXPECT_TRUE(window.frameGeometry().contains(shownAt.center()))
        << shownAt.x() << "," << shownAt.y();
    EXPECT_EQ(above, window.windowHandle());
    EXPECT_TRUE(dialog.PassphraseEdit->text().isEmpty());
}

TEST(ProviderDialogs, ModemChoiceNeedsANumberOnlyWhenAsked) {
    ScriptedDialogService dialogs;
    ModemDialog dialog(dialogs);
    dialog.present({"USB Modem (ttyACM0)"}, {"USB Modem (ttyACM0)", "555-0100"}, true);
    EXPECT_FALSE(dialog.PhoneEdit->isHidden());
    EXPECT_EQ(dialog.chosen(), (ModemChoice{"USB Modem (ttyACM0)", "555-0100"}));
    dialog.PhoneEdit->clear();
    EXPECT_FALSE(dialog.chosen());

    // Without a number to ask for, the field is hidden and its text is not returned.
    dialog.present({}, {"/dev/ttyACM3", "555-0100"}, false);
    EXPECT_TRUE(dialog.PhoneEdit->isHidden());
    EXPECT_EQ(dialog.chosen(), (ModemChoice{"/dev/ttyACM3", ""}));

    test::ModalWatcher watcher([&](QWidget*) {
        dialog.ModemCombo->setEditText("");
        button(dialog, QDialogButtonBox::Ok)->click();  // refused: no modem
        button(dialog, QDialogButtonBox::Cancel)->click();
    });
    EXPECT_FALSE(dialog.askModem({"USB Modem (ttyACM0)"}, {}, false));
    EXPECT_TRUE(watcher.seen());
    EXPECT_EQ(dialogs.messages(), QStringList{"Please choose a modem."});
}

}  // namespace
}  // namespace velmora
