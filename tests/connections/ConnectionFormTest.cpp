#include "FormFixture.h"

#include "base/LinkLabel.h"
#include "connections/ConnectionFile.h"
#include "connections/ConnectionForm.h"
#include "connections/RadioGroup.h"

#include "support/SessionSteps.h"
#include "support/TestEnvironment.h"

#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>

#include <gtest/gtest.h>

namespace velmora {
namespace {

using test::FormFixture;

QStringList itemsOf(const QComboBox& box) {
    QStringList items;
    for (int i = 0; i < box.count(); ++i) {
        items << box.itemText(i);
    }
    return items;
}

struct Form : FormFixture {
    using FormFixture::FormFixture;
    TConnectionForm form{context()};

    void show() {
        form.show();
        QApplication::processEvents();
    }
    void choose(int method, int mode) {
        form.ConnectionMethod->button(method)->click();
        form.ConnectionMode->button(mode)->click();
    }
    QStringList modeLabels() const {
        return {form.ConnectionMode->itemText(0), form.ConnectionMode->itemText(1)};
    }
};

TEST(ConnectionFormTest, ControlsLabelsAndEnabledFieldsFollowMethodAndMode) {
    Form f;
    f.show();
    EXPECT_EQ(f.form.windowTitle(), "New connection");
    EXPECT_EQ(f.form.ConnectionMethod->title(), "Connection method");
    EXPECT_EQ(f.form.ConnectionMethod->itemText(0), "Modem");
    EXPECT_EQ(f.form.ConnectionMethod->itemText(1), "Null-modem (COM-to-COM)");
    EXPECT_EQ(f.form.ConnectionMethod->itemText(2), "Network (TCP/IP)");
    EXPECT_EQ(f.form.ConnectionMode->title(), "Connection mode");
    EXPECT_EQ(f.form.ConnectButton->text(), "&Connect");
    EXPECT_EQ(f.form.Button2->text(), "C&ancel");
    EXPECT_EQ(f.form.Button3->text(), "&Help");
    EXPECT_EQ(f.form.Label2->text(), "I don't see my modem in this list");
    QStringList labels;
    for (const QLabel* label : f.form.findChildren<QLabel*>()) {
        labels << label->text();
    }
    for (const char* text :
         {"Session name", "Hint: Leave blank to use default settings", "Modem", "Phone number"}) {
        EXPECT_TRUE(labels.contains(text)) << text;
    }
    EXPECT_FALSE(f.form.ModemComboBox->isEditable());
    EXPECT_TRUE(f.form.ModemPhoneNumber->isEditable());

    // Modem, waiting: the modem list only.
    EXPECT_EQ(f.modeLabels(), (QStringList{"Wait for call", "Call remote computer"}));
    EXPECT_TRUE(f.form.ModemComboBox->isEnabled());
    EXPECT_FALSE(f.form.ModemPhoneNumber->isEnabled());

    f.modifiedMarks = 0;
    f.choose(0, 1);
    EXPECT_TRUE(f.form.ModemPhoneNumber->isEnabled());
    EXPECT_EQ(f.modifiedMarks, 1);

    // The cable relabels without changing the chosen role and disables the modem fields.
    f.form.ConnectionMethod->button(1)->click();
    EXPECT_EQ(f.modeLabels(), (QStringList{"Master", "Slave"}));
    EXPECT_EQ(f.form.ConnectionMode->itemIndex(), 1);
    EXPECT_FALSE(f.form.ModemComboBox->isEnabled());
    EXPECT_FALSE(f.form.ModemPhoneNumber->isEnabled());
    f.form.ConnectionMode->button(0)->click();
    EXPECT_FALSE(f.form.ModemPhoneNumber->isEnabled());
    f.form.ConnectionMode->button(1)->click();

    f.form.ConnectionMethod->button(0)->click();
    EXPECT_EQ(f.modeLabels(), (QStringList{"Wait for call", "Call remote computer"}));
    EXPECT_TRUE(f.form.ModemComboBox->isEnabled());
    EXPECT_TRUE(f.form.ModemPhoneNumber->isEnabled());

    // The network: its own fields only, the modem's off.
    EXPECT_FALSE(f.form.NetworkSettings->isEnabled());
    f.form.ConnectionMethod->button(2)->click();
    EXPECT_EQ(f.modeLabels(), (QStringList{"Wait for a caller", "Call remote computer"}));
    EXPECT_TRUE(f.form.NetworkSettings->isEnabled());
    EXPECT_FALSE(f.form.ModemComboBox->isEnabled());
    EXPECT_FALSE(f.form.ModemPhoneNumber->isEnabled());
    EXPECT_EQ(f.form.NetworkPort->value(), DefaultNetworkPort);
    f.form.ConnectionMethod->button(0)->click();
    EXPECT_FALSE(f.form.NetworkSettings->isEnabled());

    f.modifiedMarks = 0;
    f.form.Edit1->setText("x");
    EXPECT_EQ(f.modifiedMarks, 1);
    f.form.NetworkPort->setValue(6000);
    EXPECT_EQ(f.modifiedMarks, 2);
}

TEST(ConnectionFormTest, TheNetworkConnectsToTheAddressAndPortFromTheFile) {
    Form f;
    f.show();
    ConnectionSettings settings;
    settings.Provider = NetworkProviderIndex;
    settings.IsHost = 1;
    settings.HostName = "ann.example";
    settings.Port = 6100;
    f.form.fill(settings);
    EXPECT_EQ(f.form.NetworkHostName->text(), "ann.example");
    EXPECT_EQ(f.form.NetworkPort->value(), 6100);

    // Calling without a host name is not started.
    f.form.NetworkHostName->clear();
    f.form.ConnectButton->click();
    EXPECT_TRUE(f.settle());
    EXPECT_EQ(f.play.ProviderName(), "");
    EXPECT_EQ(f.form.StatusLabel->text(), "Type the name or address of the other computer.");

    f.form.NetworkHostName->setText("ann.example");
    f.hostElsewhere({"Ann's"});
    f.form.ConnectButton->click();
    EXPECT_TRUE(f.settle());
    EXPECT_TRUE(f.play.Opened());
    EXPECT_EQ(f.play.ProviderName(), "Internet TCP/IP Connection");
    EXPECT_EQ(f.play.TCPIPSetting().HostName, "ann.example");
    EXPECT_EQ(f.play.TCPIPSetting().Port, 6100);
    EXPECT_EQ(f.blockSizeCode, 5);
    const Peer::Connection saved = f.peer.connection();
    EXPECT_TRUE(saved.network);
    EXPECT_EQ(saved.hostName, "ann.example");
    EXPECT_EQ(saved.port, 6100);
}

TEST(ConnectionFormTest, EachShowingResetsTheDialogAndClosesTheSession) {
    Form f;
    ASSERT_TRUE(test::writeFile(f.phonesPath(), "555 1\r\n\r\n777\r\n"));
    f.play.setProviderName("Serial Connection");
    test::openSession(f.play, true, "Earlier", "Ann");
    ASSERT_TRUE(f.play.Opened());
    f.modifiedMarks = 0;
    f.show();
    EXPECT_FALSE(f.play.Opened());
    EXPECT_GT(f.modifiedMarks, 0);
    EXPECT_EQ(itemsOf(*f.form.ModemComboBox),
              (QStringList{"Internal Modem", "USB Modem", "Other modem..."}));
    EXPECT_EQ(f.form.ModemComboBox->currentIndex(), 0);
    EXPECT_EQ(itemsOf(*f.form.ModemPhoneNumber), (QStringList{"555 1", "", "777"}));
    EXPECT_EQ(f.form.ModemPhoneNumber->currentText(), "555 1");

    // Changed fields come back to their start on the next showing; a phone list whose file is
    // gone keeps its entries.
    f.choose(1, 1);
    f.form.Edit1->setText("Mine");
    f.form.hide();
    QFile::remove(f.phonesPath());
    f.show();
    EXPECT_EQ(f.form.ConnectionMethod->itemIndex(), 0);
    EXPECT_EQ(f.form.ConnectionMode->itemIndex(), 0);
    EXPECT_EQ(f.modeLabels(), (QStringList{"Wait for call", "Call remote computer"}));
    EXPECT_TRUE(f.form.Edit1->text().isEmpty());
    EXPECT_EQ(itemsOf(*f.form.ModemPhoneNumber), (QStringList{"555 1", "", "777"}));
}

TEST(ConnectionFormTest, NoModemsAndAnUnreadableModemList) {
    Form none{QStringList{}};
    none.show();
    EXPECT_EQ(itemsOf(*none.form.ModemComboBox), QStringList{"Other modem..."});
    EXPECT_EQ(none.form.ModemComboBox->currentIndex(), 0);

    Form broken;
    broken.script().playerAddressResult = DPERR_GENERIC;
    ASSERT_TRUE(test::writeFile(broken.phonesPath(), "123\r\n"));
    broken.show();
    EXPECT_EQ(broken.errors, QStringList{"Modem list cannot be acquired"});
    EXPECT_EQ(broken.form.ModemPhoneNumber->count(), 0) << "the reset stops at the modem list";
}

TEST(ConnectionFormTest, HostingPathsCloseTheDialogWithTheSessionOpen) {
    Form f;
    f.show();
    f.form.ConnectButton->click();
    ASSERT_TRUE(f.settle());
    EXPECT_TRUE(f.play.Opened());
    EXPECT_TRUE(f.play.IsHost());
    EXPECT_EQ(f.play.SessionName(), "VelmoraSession");
    EXPECT_EQ(f.play.ProviderName(), "Modem Connection");
    EXPECT_EQ(f.play.ModemSetting().ModemName, "Internal Modem");
    EXPECT_TRUE(f.play.ModemSetting().Enabled);
    EXPECT_EQ(f.script().playerName.shortName, "Ann");
    EXPECT_EQ(f.blockSizeCode, 3);
    EXPECT_FALSE(f.form.isVisible());
    EXPECT_EQ(f.form.result(), QDialog::Accepted);

    // A blank name is a name; the cable's block code is 5 whatever the option says; the login
    // name stands in for an empty UserName.
    f.options.UserName.clear();
    f.show();
    EXPECT_FALSE(f.play.Opened());
    f.choose(1, 0);
    f.form.Edit1->setText(" ");
    f.form.ConnectButton->click();
    ASSERT_TRUE(f.settle());
    EXPECT_TRUE(f.play.Opened());
    EXPECT_EQ(f.play.SessionName(), " ");
    EXPECT_EQ(f.play.ProviderName(), "Serial Connection");
    EXPECT_EQ(f.blockSizeCode, 5);
    EXPECT_EQ(f.script().playerName.shortName, "login");
    EXPECT_TRUE(f.dialogs.messages().isEmpty());
}

TEST(ConnectionFormTest, CallingOverTheModemRemembersTheNumberFirst) {
    Form f;
    ASSERT_TRUE(test::writeFile(f.phonesPath(), "555-ABC\r\n"));
    f.show();
    f.choose(0, 1);
    f.form.ModemComboBox->setCurrentIndex(1);
    f.form.ModemPhoneNumber->setEditText("555-abc");
    f.form.ConnectButton->click();
    ASSERT_TRUE(f.settle());
    // Nobody answers: 20 more searches, the message, the dialog stays.
    EXPECT_EQ(f.script().enumSessionsCalls, 21);
    EXPECT_EQ(f.dialogs.messages(), QStringList{"No sessions were found on remote computer!"});
    EXPECT_TRUE(f.form.isVisible());
    EXPECT_EQ(test::readFile(f.phonesPath()), "555-ABC\r\n") << "same number in other letters";
    EXPECT_EQ(f.play.ModemSetting().PhoneNumber, "555-abc");
    EXPECT_EQ(f.play.ModemSetting().ModemName, "USB Modem");
    EXPECT_EQ(f.play.ProviderName(), "");
    EXPECT_EQ(f.form.ModemPhoneNumber->currentText(), "555-abc") << "fields unchanged";
    EXPECT_EQ(f.form.ConnectionMode->itemIndex(), 1);

    // A new number goes first even though the line is busy.
    f.dialogs.clear();
    f.script().enumResult = DPERR_GENERIC;
    f.form.ModemPhoneNumber->setEditText("12 34");
    f.form.ConnectButton->click();
    ASSERT_TRUE(f.settle());
    EXPECT_EQ(f.dialogs.messages(), QStringList{"Line is busy!"});
    EXPECT_EQ(test::readFile(f.phonesPath()), "12 34\r\n555-ABC\r\n");
    EXPECT_EQ(itemsOf(*f.form.ModemPhoneNumber), (QStringList{"12 34", "555-ABC"}));
    EXPECT_EQ(f.play.ProviderName(), "Modem Connection");
    EXPECT_TRUE(f.form.isVisible());

    // An answer joins the first session found.
    f.dialogs.clear();
    f.script().enumResult = DP_OK;
    f.hostElsewhere({"Theirs", "Other"});
    f.form.ConnectButton->click();
    ASSERT_TRUE(f.settle());
    EXPECT_TRUE(f.play.Opened());
    EXPECT_FALSE(f.play.IsHost());
    EXPECT_EQ(f.play.SessionName(), "Theirs");
    EXPECT_FALSE(f.form.isVisible());
    EXPECT_TRUE(f.dialogs.messages().isEmpty());
}

TEST(ConnectionFormTest, OtherModemAndAnEmptyNumber) {
    Form f;
    ASSERT_TRUE(test::writeFile(f.phonesPath(), "999\r\n"));
    f.show();
    f.choose(0, 1);
    f.form.ModemComboBox->setCurrentIndex(2);
    f.form.ModemPhoneNumber->setEditText("111");
    f.play.ModemSetting().PhoneNumber = "before";
    f.form.ConnectButton->click();
    ASSERT_TRUE(f.settle());
    EXPECT_FALSE(f.play.ModemSetting().Enabled);
    EXPECT_EQ(f.play.ModemSetting().PhoneNumber, "before");
    EXPECT_EQ(test::readFile(f.phonesPath()), "999\r\n");
    EXPECT_EQ(itemsOf(*f.form.ModemPhoneNumber), QStringList{"999"});

    // An empty field with an entry selected calls that entry (and lists the empty number).
    f.dialogs.clear();
    f.form.ModemComboBox->setCurrentIndex(0);
    f.form.ModemPhoneNumber->setCurrentIndex(0);
    f.form.ModemPhoneNumber->setEditText("");
    f.form.ConnectButton->click();
    ASSERT_TRUE(f.settle());
    EXPECT_EQ(test::readFile(f.phonesPath()), "\r\n999\r\n");
    EXPECT_TRUE(f.play.ModemSetting().Enabled);
    EXPECT_EQ(f.play.ModemSetting().PhoneNumber, "999");
}

TEST(ConnectionFormTest, CableSlaveCancelsAndErrors) {
    Form f;
    f.show();
    f.choose(1, 1);
    f.form.ConnectButton->click();
    ASSERT_TRUE(f.settle());
    EXPECT_EQ(f.script().enumSessionsCalls, 1);
    EXPECT_EQ(f.dialogs.messages(), QStringList{"No sessions were found on remote computer!"});
    EXPECT_TRUE(f.form.isVisible());

    // The provider's port prompt cancelled: nothing shown, dialog open.
    f.dialogs.clear();
    f.script().enumResult = DPERR_USERCANCEL;
    f.form.ConnectButton->click();
    ASSERT_TRUE(f.settle());
    EXPECT_TRUE(f.dialogs.messages().isEmpty());
    EXPECT_TRUE(f.errors.isEmpty());
    EXPECT_TRUE(f.form.isVisible());

    // An error of the component in the error box, fields unchanged.
    f.script().enumResult = DP_OK;
    f.hostElsewhere({"Theirs"});
    f.options.UserName.clear();
    f.login.clear();
    f.form.ConnectButton->click();
    ASSERT_TRUE(f.settle());
    EXPECT_EQ(f.errors, QStringList{"Player name is not specified"});
    EXPECT_FALSE(f.play.Opened());
    EXPECT_TRUE(f.form.isVisible());
    EXPECT_EQ(f.form.ConnectionMethod->itemIndex(), 1);
    EXPECT_EQ(f.form.ConnectionMode->itemIndex(), 1);
}

TEST(ConnectionFormTest, WhileAnAttemptRunsItIsShownAndEscEndsItThenTheDialog) {
    Form f;
    f.show();
    f.choose(0, 1);
    f.form.ModemPhoneNumber->setEditText("555 1234");
    f.form.ConnectButton->click();
    // Told before the click returns; one attempt at a time.
    EXPECT_EQ(f.form.StatusLabel->text(), "Dialling 555 1234...");
    EXPECT_FALSE(f.form.ConnectButton->isEnabled());
    QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QApplication::sendEvent(f.form.Edit1, &escape);
    EXPECT_FALSE(f.peer.connecting());
    EXPECT_TRUE(f.form.isVisible()) << "the first Esc ends the attempt only";
    EXPECT_EQ(f.form.StatusLabel->text(), "Connection attempt cancelled.");
    EXPECT_TRUE(f.form.ConnectButton->isEnabled());
    EXPECT_TRUE(f.dialogs.messages().isEmpty());
    EXPECT_FALSE(f.play.Opened());
    QApplication::sendEvent(f.form.Edit1, &escape);
    EXPECT_FALSE(f.form.isVisible()) << "the second closes the dialog";
    EXPECT_EQ(f.form.result(), QDialog::Rejected);
    ASSERT_TRUE(f.settle());
}

TEST(ConnectionFormTest, HelpCancelAndTheLink) {
    Form f;
    f.show();
    QKeyEvent f1(QEvent::KeyPress, Qt::Key_F1, Qt::NoModifier);
    QApplication::sendEvent(f.form.Edit1, &f1);
    EXPECT_EQ(f.helpTopics, QStringList{"::/Source\\Interface\\New connection dialog.htm"});
    EXPECT_TRUE(f.form.isVisible());

    f.form.Label2Click();
    EXPECT_EQ(f.helpTopics.last(),
              "::/Source\\Useful techniques\\Troubleshooting Velmora didn't find my modem!.htm");

    f.form.Button3->click();
    EXPECT_EQ(f.helpTopics.size(), 3);
    EXPECT_EQ(f.helpTopics.last(), "::/Source\\Interface\\New connection dialog.htm");
    EXPECT_FALSE(f.form.isVisible());
    EXPECT_EQ(f.form.result(), QDialog::Rejected);
    EXPECT_FALSE(f.play.Opened());

    f.show();
    QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QApplication::sendEvent(f.form.Edit1, &escape);
    EXPECT_FALSE(f.form.isVisible());
    f.show();
    f.form.Button2->click();
    EXPECT_FALSE(f.form.isVisible());
    EXPECT_FALSE(f.play.Opened());
}

TEST(ConnectionFormTest, FillingFromAConnectionFile) {
    Form f;
    f.show();
    ConnectionSettings settings;
    settings.Provider = 1;
    settings.IsHost = 1;
    settings.SessionName = "Saved";
    settings.ModemName = "USB Modem";
    settings.PhoneNumber = "42";
    f.modifiedMarks = 0;
    f.form.fill(settings);
    EXPECT_EQ(f.form.ConnectionMethod->itemIndex(), 1);
    EXPECT_EQ(f.form.ConnectionMode->itemIndex(), 1);
    EXPECT_EQ(f.modeLabels(), (QStringList{"Master", "Slave"}));
    EXPECT_EQ(f.form.Edit1->text(), "Saved");
    EXPECT_EQ(f.form.ModemComboBox->currentText(), "USB Modem");
    EXPECT_EQ(f.form.ModemPhoneNumber->currentText(), "42");
    EXPECT_GT(f.modifiedMarks, 0);

    // Out-of-range numbers choose the nearest choice; an unknown modem keeps the selection.
    settings.Provider = 7;
    settings.IsHost = -3;
    settings.ModemName = "Gone";
    f.form.fill(settings);
    EXPECT_EQ(f.form.ConnectionMethod->itemIndex(), 2);
    EXPECT_EQ(f.form.ConnectionMode->itemIndex(), 0);
    EXPECT_EQ(f.form.ModemComboBox->currentText(), "USB Modem");
}

}  // namespace
}  // namespace velmora
