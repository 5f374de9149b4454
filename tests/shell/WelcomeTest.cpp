#include "ShellFixture.h"

#include "base/LinkLabel.h"
#include "connections/ConnectionForm.h"
#include "connections/WizardForm.h"
#include "shell/Welcome.h"
#include "support/TestEnvironment.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QFile>
#include <QMenu>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include "support/WindowParts.h"

#include <gtest/gtest.h>

namespace velmora {
namespace {

using test::Shell;

// Calls back when the widget it watches is shown.
class ShowSpy : public QObject {
public:
    ShowSpy(QWidget* watched, std::function<void()> shown) : m_shown(std::move(shown)) {
        watched->installEventFilter(this);
    }
    bool seen() const { return m_seen; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Show) {
            m_seen = true;
            m_shown();
        }
        return QObject::eventFilter(watched, event);
    }

private:
    std::function<void()> m_shown;
    bool m_seen = false;
};

TEST(Welcome, ShowloaderZeroAndOne) {
    {  // Showloader 0: the main window alone.
        Shell shell{QByteArray("[Common]\nCheckExtension=0\nShowloader=0\n")};
        ASSERT_TRUE(shell.create());
        shell.main().FormActivate();
        EXPECT_TRUE(shell.windows->welcome()->isHidden());
    }
    {  // Showloader 1: shown; unchecking the box and closing writes 0.
        Shell shell{QByteArray("[Common]\nCheckExtension=0\n")};
        ASSERT_TRUE(shell.create());
        TWelcome& welcome = *shell.windows->welcome();
        EXPECT_EQ(welcome.windowTitle(), "Welcome to Velmora !");
        EXPECT_TRUE(welcome.LoaderCheckBox->isChecked());
        test::ModalWatcher watcher([&](QWidget*) {
            welcome.LoaderCheckBox->setChecked(false);
            welcome.Button1->click();
        });
        shell.main().FormActivate();
        EXPECT_TRUE(test::pumpUntil([&] { return watcher.seen(); }));
        EXPECT_EQ(shell.optionsFile().value("Common", "Showloader"), "0");
    }
}

TEST(Welcome, LinksHideTheWindowAndRunTheirCommand) {
    Shell shell{QByteArray("[Common]\nCheckExtension=0\n")};
    ASSERT_TRUE(shell.create());
    TMainForm& main = shell.main();
    TWelcome& welcome = *shell.windows->welcome();
    const auto newConnection = test::record(&main, &TMainForm::newConnectionRequested);
    const auto wizard = test::record(&main, &TMainForm::wizardRequested);
    const auto open = test::record(test::part<QAction>(main, "FileOpenItem"), &QAction::triggered);

    // The command runs while the modal state is ending: the window is already hidden. It shows
    // the New connection dialog modally.
    bool hiddenDuringCommand = false;
    QObject::connect(&main, &TMainForm::newConnectionRequested, &welcome,
                     [&] { hiddenDuringCommand = welcome.isHidden(); });
    auto closeModal = [](QWidget* modal) { static_cast<QDialog*>(modal)->reject(); };
    test::ModalWatcher connectionDialog(
        [](QWidget* modal) { return qobject_cast<TConnectionForm*>(modal) != nullptr; },
        closeModal);
    test::ModalWatcher watcher([&](QWidget*) { welcome.Label3->clicked(); });
    main.FormActivate();
    EXPECT_TRUE(test::pumpUntil([&] { return watcher.seen(); }));
    EXPECT_EQ(newConnection->size(), 1);
    EXPECT_TRUE(hiddenDuringCommand);
    EXPECT_TRUE(test::pumpUntil([&] { return connectionDialog.seen(); }));
    EXPECT_TRUE(main.connectionModified());
    EXPECT_EQ(shell.optionsFile().value("Common", "Showloader"), "1");

    // The dialog was left without connecting: nothing could be saved, so exit asks nothing.
    bool canClose = false;
    main.FormCloseQuery([&](bool decided) { canClose = decided; });
    EXPECT_TRUE(canClose);
    EXPECT_TRUE(shell.dialogs.questions().isEmpty());

    EXPECT_EQ(wizard->size(), 0);
    shell.dialogs.answerFile(QString());  // the Open dialog, cancelled
    welcome.Label4Click();
    EXPECT_EQ(open->size(), 1);
    EXPECT_EQ(shell.dialogs.pendingAnswers(), 0);

    // The recent menu's point follows the label.
    welcome.move(100, 50);
    const QPoint at = welcome.recentMenuPoint();
    EXPECT_EQ(at.x(), 100 + welcome.Label5->x() + 40);
    EXPECT_EQ(at.y(), 50 + welcome.Label5->y() + welcome.Label5->height() + 30);
}

TEST(Welcome, TheWizardLinkShowsTheWizardAndMarksTheConnectionChanged) {
    Shell shell{QByteArray("[Common]\nCheckExtension=0\n")};
    ASSERT_TRUE(shell.create());
    TMainForm& main = shell.main();
    TWelcome& welcome = *shell.windows->welcome();
    const auto wizard = test::record(&main, &TMainForm::wizardRequested);
    EXPECT_FALSE(main.connectionModified());
    test::ModalWatcher wizardDialog(
        [](QWidget* modal) { return qobject_cast<TWizardForm*>(modal) != nullptr; },
        [](QWidget* modal) { static_cast<QDialog*>(modal)->reject(); });
    welcome.Label2Click();
    EXPECT_EQ(wizard->size(), 1);
    EXPECT_TRUE(test::pumpUntil([&] { return wizardDialog.seen(); }));
    EXPECT_TRUE(main.connectionModified());
}

TEST(Welcome, ARecentConnectionClosesTheWindowBeforeItOpens) {
    Shell shell{QByteArray("[Common]\nCheckExtension=0\n")};
    const QString fileName = test::makeTempFolder("recent") + "/Lab & Co.vmc";
    QFile file(fileName);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();
    QFile recents(shell.dataFolder + "/recents.list");
    ASSERT_TRUE(recents.open(QIODevice::WriteOnly));
    recents.write(fileName.toUtf8() + "\r\n");
    recents.close();
    ASSERT_TRUE(shell.create());
    TMainForm& main = shell.main();
    TWelcome& welcome = *shell.windows->welcome();
    bool hiddenWhenOpened = false;
    ShowSpy connectionDialog(shell.windows->connectionForm(),
                             [&] { hiddenWhenOpened = welcome.isHidden(); });

    // The menu, shown over the start-up window, answered with the keyboard.
    QTimer chooser;
    bool menuShown = false;
    QObject::connect(&chooser, &QTimer::timeout, &welcome, [&] {
        if (auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget())) {
            chooser.stop();
            menuShown = true;
            QTest::keyClick(menu, Qt::Key_Down);
            QTest::keyClick(menu, Qt::Key_Return);
            welcome.reject();  // ends the test when the window stayed open
        }
    });
    chooser.start(5);
    // The click returns while the menu is still open: it has no event loop of its own.
    bool openAfterClick = false;
    test::ModalWatcher watcher(
        [](QWidget* modal) { return qobject_cast<TWelcome*>(modal) != nullptr; },
        [&](QWidget*) {
            welcome.Label5->clicked();
            openAfterClick = qobject_cast<QMenu*>(QApplication::activePopupWidget()) != nullptr;
        });
    main.FormActivate();
    EXPECT_TRUE(test::pumpUntil([&] { return watcher.seen(); }));
    EXPECT_TRUE(openAfterClick);
    EXPECT_TRUE(test::pumpUntil([&] { return menuShown; }));
    EXPECT_TRUE(test::pumpUntil([&] { return connectionDialog.seen(); }));
    EXPECT_TRUE(hiddenWhenOpened);
    EXPECT_TRUE(welcome.isHidden());
    EXPECT_EQ(main.recentConnections(), QStringList{fileName});
}

}  // namespace
}  // namespace velmora
