#include "ShellFixture.h"

#include "shell/ModemDialog.h"
#include "shell/PassphraseDialog.h"
#include "shell/SerialSettingsDialog.h"

#include "support/TestEnvironment.h"

#include <QApplication>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QThread>

#include <gtest/gtest.h>

#include <memory>
#include <thread>
#include <vector>

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

TEST(ProviderDialogs, SerialAskAnswersOnceWithoutWaiting) {
    ScriptedDialogService dialogs;
    std::vector<std::optional<SerialSettings>> answers;
    const auto reply = [&](std::optional<SerialSettings> answer) { answers.push_back(answer); };
    const SerialSettings last{"ttyS0", 9600, FlowControl::None};
    SerialSettingsDialog dialog(dialogs);

    // The call comes back with the prompt shown and modal; the answer comes with OK.
    dialog.askSerialSettings({{"ttyS0", ""}}, last, reply);
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(dialog.windowModality(), Qt::ApplicationModal);
    EXPECT_TRUE(answers.empty());
    dialog.FlowCombo->setCurrentIndex(2);
    button(dialog, QDialogButtonBox::Ok)->click();
    EXPECT_FALSE(dialog.isVisible());
    ASSERT_EQ(answers.size(), 1U);
    EXPECT_EQ(answers[0], (SerialSettings{"ttyS0", 9600, FlowControl::XonXoff}));

    dialog.askSerialSettings({}, last, reply);
    button(dialog, QDialogButtonBox::Cancel)->click();
    ASSERT_EQ(answers.size(), 2U);
    EXPECT_FALSE(answers[1]);

    // A prompt that goes away unanswered (its window closed) answers nothing, once.
    auto closing = std::make_unique<SerialSettingsDialog>(dialogs);
    closing->askSerialSettings({}, last, reply);
    closing.reset();
    ASSERT_EQ(answers.size(), 3U);
    EXPECT_FALSE(answers[2]);
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
    std::optional<std::optional<SerialSettings>> answer;
    dialog.askSerialSettings(ports, remembered,
                             [&](std::optional<SerialSettings> given) { answer = given; });
    ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog));
    EXPECT_TRUE(window.frameGeometry().contains(dialog.frameGeometry().center()))
        << dialog.frameGeometry().x() << "," << dialog.frameGeometry().y();
    QStringList listed;
    for (int i = 0; i < dialog.PortCombo->count(); ++i) {
        listed << dialog.PortCombo->itemText(i);
    }
    EXPECT_EQ(listed, QStringList({"/tmp/cable/B", "ttyS0", "ttyUSB0 (FT232R USB UART)"}));
    // Enter as the keyboard gives it: to the widget with the focus, the port's field.
    for (int press = 0; press < 2 && dialog.isVisible(); ++press) {
        QTest::keyClick(dialog.focusWidget(), Qt::Key_Return);
    }
    if (dialog.isVisible()) {
        dialog.reject();
    }
    ASSERT_TRUE(answer);
    EXPECT_EQ(*answer, remembered);
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

    std::vector<std::optional<ModemChoice>> answers;
    dialog.askModem({"USB Modem (ttyACM0)"}, {}, false,
                    [&](std::optional<ModemChoice> given) { answers.push_back(given); });
    dialog.ModemCombo->setEditText("");
    button(dialog, QDialogButtonBox::Ok)->click();  // refused: no modem
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_TRUE(answers.empty());
    button(dialog, QDialogButtonBox::Cancel)->click();
    ASSERT_EQ(answers.size(), 1U);
    EXPECT_FALSE(answers[0]);
    EXPECT_EQ(dialogs.messages(), QStringList{"Please choose a modem."});
}

// The passphrase as a user types it: shown masked, returned on OK (Enter), nothing on Cancel,
// and not kept in the field afterwards.
TEST(ProviderDialogs, PassphraseIsMaskedReturnedOnOkAndNothingOnCancel) {
    ScriptedDialogService dialogs;
    PassphraseDialog dialog(dialogs);
    std::vector<std::optional<QString>> answers;
    const auto reply = [&](std::optional<QString> given) { answers.push_back(given); };
    dialog.askPassphrase("127.0.0.1:5000", reply);
    // Typed as the keyboard gives it: into the field, which has the focus.
    ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog));
    QTest::keyClicks(dialog.focusWidget(), "open sesame");
    const QString shown = dialog.PassphraseEdit->displayText();
    QStringList labels;
    for (const QLabel* label : dialog.findChildren<QLabel*>()) {
        labels << label->text();
    }
    QTest::keyClick(dialog.focusWidget(), Qt::Key_Return);
    ASSERT_EQ(answers.size(), 1U);
    EXPECT_EQ(answers[0], "open sesame");
    EXPECT_EQ(dialog.PassphraseEdit->echoMode(), QLineEdit::Password);
    EXPECT_EQ(shown.size(), 11);
    EXPECT_FALSE(shown.contains("sesame")) << shown.toStdString();
    EXPECT_EQ(shown, QString(11, shown.at(0)));
    EXPECT_TRUE(labels.contains("Network line with 127.0.0.1:5000"));
    EXPECT_TRUE(dialog.PassphraseEdit->text().isEmpty()) << "the passphrase stays in no widget";

    // Cancel, with text typed: nothing. The next question starts with an empty field.
    dialog.askPassphrase("example.org:5000", reply);
    EXPECT_EQ(dialog.PassphraseEdit->text(), "");
    dialog.PassphraseEdit->setText("half typed");
    button(dialog, QDialogButtonBox::Cancel)->click();
    ASSERT_EQ(answers.size(), 2U);
    EXPECT_EQ(answers[1], std::nullopt);
    EXPECT_TRUE(dialog.PassphraseEdit->text().isEmpty());
    EXPECT_TRUE(dialogs.messages().isEmpty());
}

// OK with the field empty is refused with a word and the question stays, for the passphrase
// to be typed or the question cancelled: an empty passphrase would let anyone in. Spaces are
// part of the passphrase as typed, as velmora-cli keeps them in its file, so that a window and
// velmora-cli given the same text agree.
TEST(ProviderDialogs, AnEmptyPassphraseIsRefusedAndTheQuestionStays) {
    ScriptedDialogService dialogs;
    PassphraseDialog dialog(dialogs);
    std::vector<std::optional<QString>> answers;
    const auto reply = [&](std::optional<QString> given) { answers.push_back(given); };
    dialog.askPassphrase("127.0.0.1:5000", reply);
    button(dialog, QDialogButtonBox::Ok)->click();
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_TRUE(answers.empty());
    dialog.PassphraseEdit->setText(" two words ");
    button(dialog, QDialogButtonBox::Ok)->click();
    ASSERT_EQ(answers.size(), 1U);
    EXPECT_EQ(answers[0], " two words ");
    EXPECT_EQ(dialogs.messages(), QStringList{"Please type the passphrase."});

    dialog.askPassphrase("127.0.0.1:5000", reply);
    button(dialog, QDialogButtonBox::Ok)->click();
    button(dialog, QDialogButtonBox::Cancel)->click();
    ASSERT_EQ(answers.size(), 2U);
    EXPECT_EQ(answers[1], std::nullopt);
    EXPECT_EQ(dialogs.messages().size(), 2);
}

// Why a line did not come about is a message; a host's notice of a caller turned away comes
// from the line's own thread and reaches the window on the UI thread.
TEST(ProviderDialogs, NetworkErrorsAreShownAndRefusedCallersNoticedOnTheUiThread) {
    ScriptedDialogService dialogs;
    PassphraseDialog dialog(dialogs);
    dialog.showNetworkError("Cannot reach example.org:5000: no answer.");
    EXPECT_EQ(dialogs.messages(), QStringList{"Cannot reach example.org:5000: no answer."});

    QStringList notices;
    bool onUiThread = true;
    dialog.setNotice([&](const QString& notice) {
        onUiThread = onUiThread && QThread::currentThread() == dialog.thread();
        notices << notice;
    });
    std::thread line([&dialog] { dialog.callerRefused("A caller was turned away."); });
    line.join();
    EXPECT_TRUE(notices.isEmpty()) << "not from the line's thread";
    ASSERT_TRUE(test::pumpUntil([&] { return !notices.isEmpty(); }));
    EXPECT_EQ(notices, QStringList{"A caller was turned away."});
    EXPECT_TRUE(onUiThread);
}

}  // namespace
}  // namespace velmora
