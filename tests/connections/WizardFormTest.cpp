#include "FormFixture.h"

#include "base/LinkLabel.h"
#include "connections/WizardForm.h"

#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QStackedWidget>

#include <gtest/gtest.h>

namespace velmora {
namespace {

using test::FormFixture;

const QString ModemHelp =
    "Select \"Wait for call\" for one of two computers and click \"Finish\". Then select \"Call "
    "remote computer\" for another computer and click \"Finish\". After establishing connection "
    "this window will disappear.";
const QString CableHelp =
    "Select \"Master\" for one of two computers and click \"Finish\". Then select \"Slave\" for "
    "another computer and click \"Finish\". After establishing connection this window will "
    "disappear.";
const QString NetworkHelp =
    "Select \"Wait for a caller\" for one of two computers and click \"Next\": it waits on a "
    "port, for callers on this computer only unless you name an address. Then select \"Call "
    "remote computer\" for another computer, click \"Next\" and type the first one's address "
    "and port. Both type the same passphrase when asked; everything sent is then encrypted, "
    "unlike a serial port over a terminal server. After establishing connection this window "
    "will disappear.";

QByteArray contentsOf(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

struct Wizard : FormFixture {
    using FormFixture::FormFixture;
    TWizardForm wizard{context()};

    void show() {
        wizard.show();
        QApplication::processEvents();
    }
    // Next, and the attempt it may start run to its end.
    void next() {
        wizard.NextButton->click();
        EXPECT_TRUE(settle());
    }
    // The page shown, the state of Back and the caption of Next, as one text.
    QString buttons() const {
        return QStringLiteral("%1 %2 %3")
            .arg(wizard.pageName(), wizard.BackButton->isEnabled() ? "back" : "-",
                 wizard.NextButton->text());
    }
};

TEST(WizardFormTest, PagesAndCaptionsForEachMethodAndRole) {
    Wizard f;
    f.show();
    EXPECT_EQ(f.wizard.windowTitle(), "Connection wizard");
    EXPECT_EQ(f.wizard.Notebook->count(), 5);
    EXPECT_EQ(f.wizard.BackButton->text(), "< &Back");
    EXPECT_EQ(f.wizard.CancelButton->text(), "Cancel");
    EXPECT_EQ(f.buttons(), "SelectProvider - Next >");
    EXPECT_TRUE(f.wizard.Modem->isChecked());
    EXPECT_TRUE(f.wizard.NewGame->isChecked());
    EXPECT_EQ(f.wizard.NewGame->text(), "Wait for call / Master");

    f.modifiedMarks = 0;
    f.next();
    EXPECT_EQ(f.modifiedMarks, 1);
    EXPECT_EQ(f.blockSizeCode, 3);
    EXPECT_EQ(f.buttons(), "SessionType back Next >");
    EXPECT_EQ(f.wizard.NewGame->text(), "Wait for call");
    EXPECT_EQ(f.wizard.JoinGame->text(), "Call remote computer");
    EXPECT_EQ(f.wizard.Label3->text(), ModemHelp);
    EXPECT_TRUE(f.wizard.Label3->wordWrap());

    f.next();
    EXPECT_EQ(f.buttons(), "SelectModem back Complete");
    f.wizard.JoinGame->click();
    EXPECT_EQ(f.buttons(), "SelectModem back Next >");
    f.wizard.ModemComboBox->setCurrentIndex(2);  // "Other modem..." still says Next
    EXPECT_EQ(f.wizard.ModemComboBox->currentText(), "Other modem...");
    EXPECT_EQ(f.buttons(), "SelectModem back Next >");
    f.wizard.ModemComboBox->setCurrentIndex(0);
    f.next();
    EXPECT_EQ(f.buttons(), "EnterPhoneNumber back Complete");

    // Back down to the start, then the cable.
    f.wizard.BackButton->click();
    EXPECT_EQ(f.buttons(), "SelectModem back Next >");
    f.wizard.BackButton->click();
    EXPECT_EQ(f.buttons(), "SessionType back Next >");
    f.wizard.BackButton->click();
    EXPECT_EQ(f.buttons(), "SelectProvider - Next >");
    EXPECT_EQ(f.wizard.Label3->text(), ModemHelp) << "kept until Next relabels";
    f.wizard.Nullmodem->click();
    f.next();
    EXPECT_EQ(f.buttons(), "SessionType back Complete");
    EXPECT_EQ(f.wizard.NewGame->text(), "Master");
    EXPECT_EQ(f.wizard.JoinGame->text(), "Slave");
    EXPECT_EQ(f.wizard.Label3->text(), CableHelp);
    EXPECT_EQ(f.blockSizeCode, 5);
    EXPECT_TRUE(f.wizard.JoinGame->isChecked());

    // Cancel; the next showing keeps the choices and starts on the first page.
    f.wizard.CancelButton->click();
    EXPECT_FALSE(f.wizard.isVisible());
    f.show();
    EXPECT_EQ(f.buttons(), "SelectProvider - Next >");
    EXPECT_TRUE(f.wizard.Nullmodem->isChecked());
    EXPECT_TRUE(f.wizard.JoinGame->isChecked());
}

TEST(WizardFormTest, HostingPathsNameTheSessionVelmoraSession) {
    Wizard f;
    f.show();
    f.wizard.Nullmodem->click();
    f.next();
    f.wizard.NewGame->click();
    f.next();
    EXPECT_TRUE(f.play.Opened());
    EXPECT_EQ(f.play.SessionName(), "VelmoraSession");
    EXPECT_EQ(f.play.ProviderName(), "Serial Connection");
    EXPECT_EQ(f.blockSizeCode, 5);
    EXPECT_FALSE(f.wizard.isVisible());
    EXPECT_EQ(f.wizard.result(), QDialog::Accepted);

    // The showing closes the session; a named modem waits for the call.
    f.show();
    EXPECT_FALSE(f.play.Opened());
    f.wizard.Modem->click();
    f.next();
    f.next();
    f.wizard.ModemComboBox->setCurrentIndex(1);
    f.play.ModemSetting().PhoneNumber = "old";
    f.next();
    EXPECT_TRUE(f.play.Opened());
    EXPECT_EQ(f.play.ProviderName(), "Modem Connection");
    EXPECT_EQ(f.play.ModemSetting().ModemName, "USB Modem");
    EXPECT_EQ(f.play.ModemSetting().PhoneNumber, "");
    EXPECT_TRUE(f.play.ModemSetting().Enabled);
    EXPECT_EQ(f.blockSizeCode, 3);

    // "Other modem..." switches the modem settings off.
    f.show();
    f.next();
    f.next();
    f.wizard.ModemComboBox->setCurrentIndex(2);
    f.next();
    EXPECT_TRUE(f.play.Opened());
    EXPECT_FALSE(f.play.ModemSetting().Enabled);
    EXPECT_EQ(f.play.SessionName(), "VelmoraSession");
}

TEST(WizardFormTest, TheNetworkAsksForTheAddressAndConnectsThere) {
    Wizard f;
    f.show();
    f.wizard.Network->click();
    f.next();
    EXPECT_EQ(f.buttons(), "SessionType back Next >");
    EXPECT_EQ(f.wizard.NewGame->text(), "Wait for a caller");
    EXPECT_EQ(f.wizard.JoinGame->text(), "Call remote computer");
    EXPECT_EQ(f.wizard.Label3->text(), NetworkHelp);
    EXPECT_EQ(f.blockSizeCode, 5) << "a network line sends the cable's blocks";

    // A caller must name the host before Complete is offered.
    f.wizard.JoinGame->click();
    f.next();
    EXPECT_EQ(f.buttons(), "EnterNetworkAddress back Complete");
    EXPECT_TRUE(f.wizard.NetworkQuestion->text().contains("name or address"));
    EXPECT_FALSE(f.wizard.NextButton->isEnabled());
    f.wizard.NetworkHostName->setText("  ann.example  ");
    EXPECT_TRUE(f.wizard.NextButton->isEnabled());
    // Back goes to the mode, not to the modem's pages.
    f.wizard.BackButton->click();
    EXPECT_EQ(f.buttons(), "SessionType back Next >");

    // Hosting: a blank address will do; the port is the one typed.
    f.wizard.NewGame->click();
    f.next();
    EXPECT_TRUE(f.wizard.NetworkQuestion->text().contains("port to wait on"));
    f.wizard.NetworkHostName->clear();
    EXPECT_TRUE(f.wizard.NextButton->isEnabled());
    f.wizard.NetworkPort->setValue(6001);
    f.next();
    EXPECT_TRUE(f.play.Opened());
    EXPECT_EQ(f.play.ProviderName(), "Internet TCP/IP Connection");
    EXPECT_TRUE(f.play.TCPIPSetting().Enabled);
    EXPECT_EQ(f.play.TCPIPSetting().HostName, "");
    EXPECT_EQ(f.play.TCPIPSetting().Port, 6001);
    EXPECT_EQ(f.play.SessionName(), "VelmoraSession");
    EXPECT_FALSE(f.wizard.isVisible());
}

TEST(WizardFormTest, CallingPathsRetriesAndFailures) {
    Wizard f;
    f.show();
    // Cable slave without a master: one search, the message, the wizard stays on its page.
    f.wizard.Nullmodem->click();
    f.next();
    f.wizard.JoinGame->click();
    f.next();
    EXPECT_EQ(f.dialogs.messages(), QStringList{"No sessions were found on remote computer!"});
    EXPECT_EQ(f.script().enumSessionsCalls, 1);
    EXPECT_EQ(f.buttons(), "SessionType back Complete");
    EXPECT_TRUE(f.wizard.isVisible());

    // "Other modem..." calls at once with up to 100 retries.
    f.dialogs.clear();
    f.wizard.BackButton->click();
    f.wizard.Modem->click();
    f.next();
    f.next();
    f.wizard.ModemComboBox->setCurrentIndex(2);
    f.wizard.NextButton->click();
    EXPECT_TRUE(f.peer.connecting());
    EXPECT_EQ(f.peer.connectRequest().retries, 100);
    EXPECT_FALSE(f.wizard.NextButton->isEnabled()) << "one attempt at a time";
    // Cancel ends the attempt at once; the wizard stays and says so.
    f.wizard.CancelButton->click();
    EXPECT_FALSE(f.peer.connecting());
    EXPECT_TRUE(f.wizard.isVisible());
    EXPECT_EQ(f.wizard.StatusLabel->text(), "Connection attempt cancelled.");
    EXPECT_TRUE(f.dialogs.messages().isEmpty());
    EXPECT_EQ(f.buttons(), "SelectModem back Next >");
    EXPECT_FALSE(QFile::exists(f.phonesPath()));

    // The phone page: the number is remembered even though the line is busy.
    f.dialogs.clear();
    f.wizard.ModemComboBox->setCurrentIndex(0);
    f.next();
    f.wizard.ModemPhoneNumber->setEditText("321");
    f.script().enumResult = DPERR_GENERIC;
    f.next();
    EXPECT_EQ(f.dialogs.messages(), QStringList{"Line is busy!"});
    EXPECT_EQ(contentsOf(f.phonesPath()), "321\r\n");
    EXPECT_EQ(f.buttons(), "EnterPhoneNumber back Complete");

    // A cancelled provider prompt is silent.
    f.dialogs.clear();
    f.script().enumResult = DPERR_USERCANCEL;
    f.next();
    EXPECT_TRUE(f.dialogs.messages().isEmpty());
    EXPECT_TRUE(f.errors.isEmpty());
    EXPECT_TRUE(f.wizard.isVisible());

    // The call answered joins; 20 retries at most on this page.
    f.script().enumResult = DP_OK;
    f.hostElsewhere({"Far"});
    f.wizard.NextButton->click();
    EXPECT_EQ(f.peer.connectRequest().retries, 20);
    ASSERT_TRUE(f.settle());
    EXPECT_TRUE(f.play.Opened());
    EXPECT_EQ(f.play.SessionName(), "Far");
    EXPECT_EQ(f.play.ModemSetting().PhoneNumber, "321");
    EXPECT_EQ(f.play.ModemSetting().ModemName, "Internal Modem");
    EXPECT_FALSE(f.wizard.isVisible());

    // The number comes first at the next showing.
    f.show();
    EXPECT_EQ(f.wizard.ModemPhoneNumber->currentText(), "321");
}

TEST(WizardFormTest, HelpKeyAndLink) {
    Wizard f;
    f.show();
    QKeyEvent f1(QEvent::KeyPress, Qt::Key_F1, Qt::NoModifier);
    QApplication::sendEvent(f.wizard.NextButton, &f1);
    EXPECT_EQ(f.helpTopics, QStringList{"::/Source\\Quick start\\Connection Wizard.htm"});
    f.wizard.Label7Click();
    EXPECT_EQ(f.helpTopics.last(),
              "::/Source\\Useful techniques\\Troubleshooting Velmora didn't find my modem!.htm");
    EXPECT_EQ(f.wizard.Label7->text(), "I don't see my modem in this list");
    QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QApplication::sendEvent(f.wizard.NextButton, &escape);
    EXPECT_FALSE(f.wizard.isVisible());
}

}  // namespace
}  // namespace velmora
