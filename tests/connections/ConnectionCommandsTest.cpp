#include "FormFixture.h"

#include "connections/ConnectionCommands.h"
#include "connections/ConnectionFile.h"
#include "connections/ConnectionForm.h"
#include "connections/RadioGroup.h"
#include "connections/WizardForm.h"
#include "support/SessionSteps.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>

#include <gtest/gtest.h>

namespace velmora {
namespace {

using test::FormFixture;

QByteArray contentsOf(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

struct Commands : FormFixture {
    bool connectionModified = false;
    bool wasConnected = false;
    QStringList recent;
    int suspends = 0;
    int resumes = 0;
    int rebuilds = 0;
    QString folder = test::makeTempFolder("files");
    std::unique_ptr<TConnectionForm> form;
    std::unique_ptr<TWizardForm> wizard;
    std::unique_ptr<ConnectionCommands> commands;

    Commands() {
        ConnectionFormContext c = context();
        c.markConnectionModified = [this] { connectionModified = true; };
        form = std::make_unique<TConnectionForm>(c);
        wizard = std::make_unique<TWizardForm>(c);
        ConnectionCommandsContext cc;
        cc.peer = &peer;
        cc.dialogs = &dialogs;
        cc.connectionForm = form.get();
        cc.wizardForm = wizard.get();
        cc.connectionModified = &connectionModified;
        cc.wasConnected = &wasConnected;
        cc.recentConnections = &recent;
        cc.suspendSender = [this] { ++suspends; };
        cc.resumeSender = [this] { ++resumes; };
        cc.rebuildRecentMenus = [this] { ++rebuilds; };
        cc.showError = [this](const QString& text) { errors << text; };
        commands = std::make_unique<ConnectionCommands>(cc);
        QObject::connect(&play, &TCustomDXPlay::OnOpen,
                         [this](TCustomDXPlay&) { wasConnected = true; });
    }
    void hostOverModem() {
        play.ModemSetting().ModemName = "USB Modem";
        play.ModemSetting().PhoneNumber.clear();
        play.setProviderName("Modem Connection");
        test::openSession(play, true, "Mine", "Ann");
    }
    void joinOverCable() {
        hostElsewhere({"Theirs"});
        play.ModemSetting().PhoneNumber = "777";
        play.setProviderName("Serial Connection");
        test::enumerateSessions(play);
        test::openSession(play, false, "Theirs", "Ann");
    }
    // An empty connection file in the folder (it reads as the defaults); its path.
    QString existingFile(const QString& name) const {
        QFile file(folder + "/" + name);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        return file.fileName();
    }
    // Runs the action once the modal loop that the command starts is running.
};

TEST(ConnectionCommandsTest, SavingTheHostAndTheCallerAndReadingThemBack) {
    Commands f;
    f.hostOverModem();
    f.connectionModified = true;
    f.dialogs.answerFile(f.folder + "/host");
    f.commands->FileSave();
    EXPECT_FALSE(f.connectionModified);
    EXPECT_EQ(f.suspends, 1);
    EXPECT_EQ(f.resumes, 1);
    ASSERT_EQ(f.dialogs.records().size(), 1u);
    EXPECT_EQ(f.dialogs.records()[0].request.filter, "Velmora Connection (*.vmc)");
    EXPECT_EQ(f.dialogs.records()[0].request.folder, QDir::current().filePath("Connections"));
    EXPECT_EQ(contentsOf(f.folder + "/host.vmc"),
              "[Connection]\nProvider=0\nSessionName=Mine\nModemName=USB Modem\nPhoneNumber=\n"
              "IsHost=0\n");
    EXPECT_TRUE(f.recent.isEmpty()) << "saving leaves the recent list alone";

    f.play.Close();
    f.joinOverCable();
    // Save As over a file with another section keeps it.
    QFile other(f.folder + "/caller.vmc");
    ASSERT_TRUE(other.open(QIODevice::WriteOnly));
    other.write("[Notes]\r\nWho=Bob\r\n");
    other.close();
    f.dialogs.answerFile(f.folder + "/caller.vmc");
    f.commands->FileSaveAs();
    const ConnectionSettings caller = ConnectionFile::read(f.folder + "/caller.vmc");
    EXPECT_EQ(caller.Provider, 1);
    EXPECT_EQ(caller.IsHost, 1);
    EXPECT_EQ(caller.SessionName, "Theirs");
    EXPECT_TRUE(contentsOf(f.folder + "/caller.vmc").contains("Who=Bob"));

    // Reopening them chooses the roles they were saved with.
    f.commands->LoadConnection(f.folder + "/host.vmc");
    EXPECT_EQ(f.form->ConnectionMethod->itemIndex(), 0);
    EXPECT_EQ(f.form->ConnectionMode->itemIndex(), 0);
    EXPECT_EQ(f.form->ModemComboBox->currentText(), "USB Modem");
    EXPECT_EQ(f.form->Edit1->text(), "Mine");
    f.form->hide();
    f.commands->LoadConnection(f.folder + "/caller.vmc");
    EXPECT_EQ(f.form->ConnectionMethod->itemIndex(), 1);
    EXPECT_EQ(f.form->ConnectionMode->itemIndex(), 1);
    EXPECT_EQ(f.form->ConnectionMode->itemText(1), "Slave");
}

TEST(ConnectionCommandsTest, SaveGuardsAndFailures) {
    Commands f;
    f.commands->FileSave();
    EXPECT_EQ(f.dialogs.messages(),
              QStringList{"There was no connection that you can save. Please, create some "
                          "connection first."});
    EXPECT_EQ(f.resumes, 1);

    // Connected earlier, then disconnected: the provider is gone.
    f.hostOverModem();
    f.dialogs.answerQuestion(DialogButton::Ok);
    f.commands->Closeconnection1Click();
    f.dialogs.clear();
    f.dialogs.answerFile(f.folder + "/after");
    f.connectionModified = true;
    f.commands->FileSave();
    EXPECT_EQ(f.dialogs.messages(),
              QStringList{"Sorry, but there was no connection since program execution. So there "
                          "is no connection to save."});
    EXPECT_FALSE(QFile::exists(f.folder + "/after.vmc"));
    EXPECT_TRUE(f.connectionModified);

    // A cancelled dialog writes nothing; an unwritable place names the file.
    f.hostOverModem();
    f.dialogs.clear();
    f.dialogs.answerFile(QString());
    f.commands->FileSaveAs();
    EXPECT_TRUE(f.connectionModified);
    f.dialogs.answerFile(f.folder + "/no/such/folder/x");
    f.commands->FileSaveAs();
    EXPECT_EQ(f.dialogs.messages(),
              QStringList{"The connection file " +
                          QDir::toNativeSeparators(f.folder + "/no/such/folder/x.vmc") +
                          " cannot be written."});
    EXPECT_TRUE(f.connectionModified);

    // Another kind of line not installed here is no reason not to save this one.
    Commands g;
    g.system.providers = {{guids::ServiceProviderModem, "Modem Connection"}};
    g.hostOverModem();
    g.dialogs.answerFile(g.folder + "/y");
    g.commands->FileSave();
    EXPECT_EQ(g.errors.size(), 0);
    EXPECT_TRUE(QFile::exists(g.folder + "/y.vmc"));
}

TEST(ConnectionCommandsTest, LoadingFilesKeepsTheRecentListAndShowsTheDialog) {
    Commands f;
    f.hostOverModem();
    f.existingFile("x.vmc");
    EXPECT_TRUE(f.commands->LoadConnection(f.folder + "/x"));
    EXPECT_FALSE(f.play.Opened()) << "the dialog's showing closed the session";
    EXPECT_TRUE(f.form->isVisible());
    EXPECT_FALSE(f.form->isModal());
    EXPECT_EQ(f.recent, QStringList{f.folder + "/x.vmc"});
    EXPECT_EQ(f.rebuilds, 1);
    EXPECT_TRUE(f.connectionModified);
    // An empty file shows the defaults.
    EXPECT_EQ(f.form->ConnectionMethod->itemIndex(), 0);
    EXPECT_EQ(f.form->ConnectionMode->itemIndex(), 0);
    EXPECT_EQ(f.form->ModemComboBox->currentIndex(), 0);
    EXPECT_TRUE(f.form->ModemPhoneNumber->currentText().isEmpty());

    // A second opening while shown only fills it: no reset, no close.
    f.form->Edit1->setText("typed");
    f.play.setProviderName("Serial Connection");
    test::openSession(f.play, true, "Open", "Ann");
    ConnectionSettings saved;
    saved.Provider = 1;
    saved.ModemName = "Gone";
    ASSERT_TRUE(ConnectionFile::write(f.folder + "/y.VMC.vmc", saved));
    f.commands->LoadConnection(f.folder + "/y.VMC");
    EXPECT_TRUE(f.play.Opened());
    EXPECT_EQ(f.form->ConnectionMethod->itemIndex(), 1);
    EXPECT_EQ(f.form->ModemComboBox->currentText(), "Internal Modem");
    EXPECT_EQ(f.recent, (QStringList{f.folder + "/y.VMC.vmc", f.folder + "/x.vmc"}));

    // The same name moves up; another letter case is another entry.
    f.existingFile("X.vmc");
    f.commands->LoadConnection(f.folder + "/x.vmc");
    f.commands->LoadConnection(f.folder + "/X.vmc");
    EXPECT_EQ(f.recent,
              (QStringList{f.folder + "/X.vmc", f.folder + "/x.vmc", f.folder + "/y.VMC.vmc"}));

    // New connection while the dialog is shown without being modal brings it to the front.
    f.play.Close();
    f.commands->FileNew();
    EXPECT_TRUE(f.form->isVisible());
    EXPECT_EQ(f.suspends, 0);
}

TEST(ConnectionCommandsTest, OpenCommandsAndRecentEntries) {
    Commands f;
    // From the menu with a session open: the question first; Cancel changes nothing.
    f.hostOverModem();
    f.dialogs.answerQuestion(DialogButton::Cancel);
    f.commands->FileOpen();
    EXPECT_TRUE(f.play.Opened());
    EXPECT_EQ(f.dialogs.questions(), QStringList{"Are you sure to close current connection?"});
    EXPECT_EQ(f.dialogs.records()[0].buttons,
              (QList<DialogButton>{DialogButton::Ok, DialogButton::Cancel}));
    EXPECT_EQ(f.suspends, 0);

    f.dialogs.answerQuestion(DialogButton::Ok);
    f.dialogs.answerFile(f.existingFile("menu.vmc"));
    f.commands->FileOpen();
    EXPECT_FALSE(f.connectionModified) << "a file opened from the menu is unmodified";
    EXPECT_EQ(f.suspends, 1);
    EXPECT_EQ(f.resumes, 1);
    EXPECT_EQ(f.recent.first(), f.folder + "/menu.vmc");
    f.form->hide();

    // The toolbar button neither asks nor suspends.
    f.hostOverModem();
    f.dialogs.clear();
    f.dialogs.answerFile(f.existingFile("bar.vmc"));
    f.commands->ToolButton3Click();
    EXPECT_TRUE(f.dialogs.questions().isEmpty());
    EXPECT_EQ(f.suspends, 1);
    EXPECT_FALSE(f.connectionModified);
    f.form->hide();
    f.dialogs.answerFile(QString());
    f.commands->ToolButton3Click();
    EXPECT_FALSE(f.form->isVisible());

    // A recent entry opens the exact name, "&" included; no question.
    f.hostOverModem();
    f.commands->RecentClick(f.existingFile("&Sales && Co.vmc"));
    EXPECT_EQ(f.recent.first(), f.folder + "/&Sales && Co.vmc");
    EXPECT_TRUE(f.connectionModified);
    EXPECT_TRUE(f.dialogs.questions().isEmpty());
}

TEST(ConnectionCommandsTest, RecentMenusShowNamesAsTheyAreAndMissingFilesAreDropped) {
    Commands f;
    const QString sales = f.existingFile("R&D & Sales.vmc");
    const QString gone = f.folder + "/gone.vmc";
    QMenu menu;
    QStringList opened;
    const auto open = [&](const QString& fileName) { opened << fileName; };
    ConnectionCommands::fillRecentMenu(menu, {sales, "", "  ", gone}, open);
    QStringList texts;
    for (QAction* entry : menu.actions()) {
        texts << entry->text();
    }
    EXPECT_EQ(texts, QStringList({f.folder + "/R&&D && Sales.vmc", f.folder + "/gone.vmc"}));
    menu.actions().constFirst()->trigger();
    EXPECT_EQ(opened, QStringList{sales});

    ConnectionCommands::fillRecentMenu(menu, {"", ""}, open);
    ASSERT_EQ(menu.actions().size(), 1);
    EXPECT_EQ(menu.actions().constFirst()->text(), "<No recent connections>");
    EXPECT_FALSE(menu.actions().constFirst()->isEnabled());

    // A missing file is named, dropped from the list, and the dialog stays closed.
    f.recent = {sales, gone};
    EXPECT_FALSE(f.commands->LoadConnection(gone));
    EXPECT_EQ(f.dialogs.messages(),
              QStringList{"The connection file " + QDir::toNativeSeparators(gone) +
                          " does not exist. It is removed from the recent connections."});
    EXPECT_EQ(f.recent, QStringList{sales});
    EXPECT_EQ(f.rebuilds, 1);
    EXPECT_FALSE(f.form->isVisible());
    EXPECT_FALSE(f.connectionModified);
    f.commands->RecentClick(sales);
    EXPECT_TRUE(f.form->isVisible());
    EXPECT_EQ(f.recent, QStringList{sales});
}

TEST(ConnectionCommandsTest, DisconnectNewConnectionAndWizardCommands) {
    Commands f;
    // Without a session: no question, the flag cleared.
    f.connectionModified = true;
    f.commands->Closeconnection1Click();
    EXPECT_TRUE(f.dialogs.questions().isEmpty());
    EXPECT_FALSE(f.connectionModified);

    f.hostOverModem();
    f.connectionModified = true;
    f.dialogs.answerQuestion(DialogButton::Cancel);
    f.commands->Closeconnection1Click();
    EXPECT_TRUE(f.play.Opened());
    EXPECT_TRUE(f.connectionModified);
    f.dialogs.answerQuestion(DialogButton::Ok);
    f.commands->Closeconnection1Click();
    EXPECT_FALSE(f.play.Opened());
    EXPECT_FALSE(f.connectionModified);

    // New connection: modal, the sender suspended while it is shown; cancelling leaves no
    // session.
    f.hostOverModem();
    f.dialogs.answerQuestion(DialogButton::Ok);
    f.commands->FileNew();
    EXPECT_TRUE(f.form->isModal() && f.form->isVisible());
    EXPECT_EQ(f.suspends, 1);
    EXPECT_EQ(f.resumes, 0);
    f.form->Button2->click();
    EXPECT_FALSE(f.form->isVisible());
    EXPECT_FALSE(f.play.Opened());
    EXPECT_EQ(f.resumes, 1);

    // The wizard asks too, and does not suspend the sender.
    f.hostOverModem();
    f.dialogs.answerQuestion(DialogButton::Cancel);
    f.commands->ConnectionWizard1Click();
    EXPECT_TRUE(f.play.Opened());
    f.dialogs.answerQuestion(DialogButton::Ok);
    f.commands->ConnectionWizard1Click();
    EXPECT_TRUE(f.wizard->isModal() && f.wizard->isVisible());
    f.wizard->CancelButton->click();
    EXPECT_FALSE(f.wizard->isVisible());
    EXPECT_FALSE(f.play.Opened());
    EXPECT_EQ(f.suspends, 1);
    EXPECT_TRUE(f.dialogs.unexpected().isEmpty());
}

}  // namespace
}  // namespace velmora
