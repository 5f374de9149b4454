#include "ShellFixture.h"

#include "shell/HelpWindow.h"
#include "shell/OptionsForm.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QTextBrowser>

#include "support/TestEnvironment.h"
#include "support/WindowParts.h"

#include <gtest/gtest.h>

namespace velmora {
namespace {

using test::quietOptions;
using test::Shell;

TEST(OptionsForm, ControlsShowTheCurrentValues) {
    Shell shell{
        QByteArray(quietOptions("Speed=2\nUserName=Ann\nView=0\nMode=0\nTransfersList=0\n"))};
    ASSERT_TRUE(shell.create());
    TOptionsForm& form = *shell.windows->optionsForm();
    EXPECT_EQ(form.windowTitle(), "Options");
    form.FormActivate();
    EXPECT_EQ(form.SpeedComboBox->currentText(), "Bad");
    EXPECT_EQ(form.Edit2->text(), "Ann");
    EXPECT_EQ(form.ViewRadioGroup->checkedId(), 0);
    EXPECT_EQ(form.InterfaceRadioGroup->checkedId(), 0);
    EXPECT_FALSE(form.CheckBox4->isChecked());
    EXPECT_FALSE(form.CheckBox5->isChecked());
    EXPECT_EQ(form.Edit1->text(), shell.main().options().Path);

    shell.main().options().Speed = 4;
    shell.main().options().Mode = 1;
    form.FormActivate();
    EXPECT_EQ(form.SpeedComboBox->currentText(), "Excellent");
    EXPECT_EQ(form.InterfaceRadioGroup->checkedId(), 1);
}

TEST(OptionsForm, OkStoresAndWritesAndAnInvalidFolderKeepsTheDialogOpen) {
    Shell shell{QByteArray(quietOptions())};
    ASSERT_TRUE(shell.create());
    TMainForm& main = shell.main();
    TOptionsForm& form = *shell.windows->optionsForm();
    const QString incoming = QDir(shell.dataFolder).filePath("in");
    QDir().mkpath(incoming);

    // The folder browser fills the field only; a cancelled browser leaves it.
    form.FormActivate();
    shell.dialogs.answerFolder(incoming);
    form.Button6Click();
    EXPECT_EQ(form.Edit1->text(), incoming);
    EXPECT_EQ(shell.dialogs.records().back().text, "Place incoming files to...");
    EXPECT_EQ(shell.dialogs.records().back().startFolder, main.options().Path);
    shell.dialogs.answerFolder(QString());
    form.Button6Click();
    EXPECT_EQ(form.Edit1->text(), incoming);
    EXPECT_NE(main.options().Path, incoming);

    // A folder that cannot be made (a file of that name is in the way, or below a file): the
    // message, nothing stored.
    const Options before = main.options();
    QFile blocker(QDir(shell.dataFolder).filePath("a file"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    form.Edit1->setText(blocker.fileName() + "/below");
    form.Edit2->setText("Bob");
    form.BitBtn1Click();
    EXPECT_EQ(
        shell.dialogs.messages(),
        QStringList{"Invalid directory for incoming files! Please, select existing directory."});
    EXPECT_EQ(main.options().UserName, before.UserName);
    EXPECT_EQ(main.options().Path, before.Path);
    EXPECT_EQ(form.result(), 0);
    // An empty name would mean the root folder for received files: refused the same way.
    form.Edit1->setText("");
    form.BitBtn1Click();
    EXPECT_EQ(shell.dialogs.messages().size(), 2);
    form.Edit1->setText(blocker.fileName());
    form.BitBtn1Click();
    EXPECT_EQ(shell.dialogs.messages().size(), 3);
    EXPECT_EQ(form.result(), 0);

    // A good folder: every value stored as set, the path as typed, and written.
    form.Edit1->setText(incoming);
    form.ViewRadioGroup->button(0)->setChecked(true);
    form.InterfaceRadioGroup->button(0)->setChecked(true);
    form.SpeedComboBox->setCurrentIndex(1);
    form.CheckBox4->setChecked(false);
    form.CheckBox5->setChecked(true);
    form.BitBtn1Click();
    EXPECT_EQ(form.result(), QDialog::Accepted);
    const Options& o = main.options();
    EXPECT_EQ(o.Path, incoming);
    EXPECT_EQ(o.UserName, "Bob");
    EXPECT_EQ(o.View, 0);
    EXPECT_EQ(o.Mode, 0);
    EXPECT_EQ(o.Speed, 3);
    EXPECT_EQ(o.TransfersList, 0);
    EXPECT_EQ(o.Showloader, 1);
    EXPECT_TRUE(main.commandChecked("raditionalview1"));
    EXPECT_TRUE(main.commandChecked("Classicmode1"));
    EXPECT_TRUE(test::part<QWidget>(main, "Panel3")->isHidden());
    const IniFile ini = shell.optionsFile();
    EXPECT_EQ(ini.value("Common", "Path"), incoming);
    EXPECT_EQ(ini.value("Common", "UserName"), "Bob");
    EXPECT_EQ(ini.value("Common", "View"), "0");
    EXPECT_EQ(ini.value("Common", "Speed"), "3");
    EXPECT_EQ(ini.value("Common", "Showloader"), "1");

    // The stored path gets its separator only at the next load.
    main.LoadOptions();
    EXPECT_EQ(main.options().Path, incoming + QDir::separator());

    // A relative name is checked against the current folder and stored as typed.
    const QString current = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(shell.dataFolder));
    form.FormActivate();
    form.Edit1->setText("in");
    form.BitBtn1Click();
    QDir::setCurrent(current);
    EXPECT_EQ(main.options().Path, "in");
    EXPECT_EQ(shell.dialogs.messages().size(), 3);
}

TEST(OptionsForm, OkMakesAFolderThatDoesNotExistYet) {
    // A first start: the default incoming folder is not there until a file arrives.
    Shell shell{QByteArray(quietOptions())};
    ASSERT_TRUE(shell.create());
    TMainForm& main = shell.main();
    TOptionsForm& form = *shell.windows->optionsForm();
    const QString defaultFolder = main.options().Path;
    ASSERT_FALSE(QFileInfo::exists(defaultFolder));
    form.FormActivate();
    form.BitBtn1Click();
    EXPECT_TRUE(shell.dialogs.messages().isEmpty());
    EXPECT_EQ(form.result(), QDialog::Accepted);
    EXPECT_TRUE(QFileInfo(defaultFolder).isDir());
    EXPECT_EQ(main.options().Path, defaultFolder);

    // A new folder two levels down is made with its parent, and stored as typed.
    const QString nested = QDir(shell.dataFolder).filePath("received/2026");
    form.FormActivate();
    form.Edit1->setText(nested);
    form.BitBtn1Click();
    EXPECT_TRUE(shell.dialogs.messages().isEmpty());
    EXPECT_TRUE(QFileInfo(nested).isDir());
    EXPECT_EQ(main.options().Path, nested);
}

TEST(OptionsForm, CancelHelpAndF1) {
    Shell shell{QByteArray(quietOptions())};
    ASSERT_TRUE(shell.create());
    TMainForm& main = shell.main();
    TOptionsForm& form = *shell.windows->optionsForm();
    const QString before = shell.optionsText();

    // Cancel from the menu command: nothing stored.
    test::ModalWatcher cancel([&](QWidget* modal) {
        EXPECT_EQ(modal, &form);
        form.Edit2->setText("Changed");
        form.BitBtn2->click();
    });
    main.runCommand("Options1");
    EXPECT_TRUE(test::pumpUntil([&] { return cancel.seen(); }));
    EXPECT_EQ(main.options().UserName, "");
    EXPECT_EQ(shell.optionsText(), before);

    // F1 from a control opens the topic and the dialog stays; Help opens it and closes.
    test::ModalWatcher keys([&](QWidget*) {
        QKeyEvent f1(QEvent::KeyPress, Qt::Key_F1, Qt::NoModifier);
        QApplication::sendEvent(form.Edit2, &f1);
        EXPECT_TRUE(form.isVisible());
        form.BitBtn3->click();
    });
    main.runCommand("Options1");
    EXPECT_TRUE(test::pumpUntil([&] { return keys.seen(); }));
    EXPECT_FALSE(form.isVisible());
    auto* help = form.findChild<THelpWindow*>();
    ASSERT_NE(help, nullptr);
    EXPECT_TRUE(help->browser()->toPlainText().contains("Options dialog"));
    EXPECT_EQ(shell.optionsText(), before);
}

}  // namespace
}  // namespace velmora
