#include "ShellFixture.h"

#include "peer/Peer.h"
#include "session/DXPlay.h"
#include "session/Guid.h"
#include "session/service/MemoryCable.h"
#include "shell/FileAssociation.h"
#include "shell/HelpWindow.h"
#include "shell/Welcome.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFontMetrics>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QSplitter>
#include <QStatusTipEvent>
#include <QTextBrowser>
#include <QTextEdit>
#include <QToolBar>
#include <QToolButton>
#include <QTreeView>

#include "support/SessionSteps.h"
#include "support/TestEnvironment.h"
#include "support/WindowParts.h"

#include <QTest>
#include <QToolButton>

#include <gtest/gtest.h>

namespace velmora {
namespace {

using test::quietOptions;
using test::Shell;

bool flat(QToolBar* toolBar, QAction* action) {
    auto* button = qobject_cast<QToolButton*>(toolBar->widgetForAction(action));
    return button != nullptr && button->autoRaise();
}

QStringList captionsOf(QMenu* menu) {
    QStringList captions;
    for (QAction* action : menu->actions()) {
        if (!action->isSeparator()) {
            captions << action->text();
        }
    }
    return captions;
}

QMenu* topMenu(TMainForm& main, const QString& caption) {
    for (QAction* action : main.menuBar()->actions()) {
        if (action->text() == caption) {
            return action->menu();
        }
    }
    return nullptr;
}

TEST(MainForm, FirstStartWithoutOptionsFile) {
    Shell shell;
    shell.dialogs.answerQuestion(DialogButton::No);   // associate now?
    shell.dialogs.answerQuestion(DialogButton::Yes);  // check every time?
    ASSERT_TRUE(shell.create());
    TMainForm& main = shell.main();

    EXPECT_EQ(main.windowTitle(), "Oskvale Velmora");
    EXPECT_EQ(main.size(), QSize(550, 420));
    EXPECT_TRUE(main.commandChecked("Modernview1"));
    EXPECT_FALSE(main.commandChecked("raditionalview1"));
    EXPECT_FALSE(test::part<QToolBar>(main, "ConnectionsToolBar")->isHidden());
    EXPECT_FALSE(test::part<QWidget>(main, "CoolBar2")->isHidden());
    EXPECT_FALSE(test::part<QWidget>(main, "Panel3")->isHidden());
    EXPECT_TRUE(main.commandChecked("Chatmode1"));
    EXPECT_FALSE(test::part<QWidget>(main, "PanelMsgEdit")->isHidden());
    EXPECT_TRUE(test::part<QTextEdit>(main, "MessagesEdit")->isReadOnly());
    EXPECT_TRUE(flat(test::part<QToolBar>(main, "ConnectionsToolBar"),
                     test::part<QAction>(main, "Options1")));
    EXPECT_TRUE(test::part<QToolButton>(main, "SendSpeedButton")->autoRaise());
    EXPECT_EQ(main.statusText(0), "Not connected");
    EXPECT_EQ(test::part<QLineEdit>(main, "EditMessage")->placeholderText(),
              "Please, connect before sending messages or files.");
    EXPECT_FALSE(main.connectionModified());
    EXPECT_FALSE(main.incomingBlocked());

    // The connection commands start disabled.
    for (QAction* action :
         {test::part<QAction>(main, "Closeconnection1"), test::part<QAction>(main, "FileSaveItem"),
          test::part<QAction>(main, "FileSaveAsItem"), test::part<QAction>(main, "Send1"),
          test::part<QAction>(main, "Sendfile1"), test::part<QAction>(main, "Sendfile2"),
          test::part<QAction>(main, "Sendfile3")}) {
        EXPECT_FALSE(action->isEnabled()) << action->objectName().toStdString();
    }
    EXPECT_FALSE(test::part<QToolButton>(main, "SendSpeedButton")->isEnabled());
    main.ChangeConnectionStatus(true);
    EXPECT_TRUE(main.commandEnabled("Sendfile2"));
    EXPECT_TRUE(test::part<QToolButton>(main, "SendSpeedButton")->isEnabled());
    EXPECT_TRUE(flat(test::part<QToolBar>(main, "ConnectionsToolBar"),
                     test::part<QAction>(main, "FileSaveItem")));
    main.ChangeConnectionStatus(false);

    // The start-up window is shown by the first activation.
    bool welcomeShown = false;
    test::ModalWatcher watcher([&](QWidget* modal) {
        welcomeShown = modal == shell.windows->welcome();
        shell.windows->welcome()->Button1->click();
    });
    main.FormActivate();
    EXPECT_TRUE(test::pumpUntil([&] { return watcher.seen(); }));
    EXPECT_TRUE(welcomeShown);
    EXPECT_TRUE(main.firstActivationDone());

    const QString text = shell.optionsText();
    EXPECT_FALSE(text.contains("[URL]"));
    const QStringList keys{
        "CheckExtension", "AskExit",   "AskStop",        "Path",      "UserName",  "InternalLoop",
        "View",           "c_Help",    "c_Connections1", "c_Editor1", "c_View2",   "c_ransfer1",
        "TransfersList",  "UsersList", "Mode",           "Speed",     "Showloader"};
    int previous = -1;
    for (const QString& key : keys) {
        const int at = text.indexOf("\n" + key + "=");
        EXPECT_GT(at, previous) << key.toStdString();
        previous = at;
    }
    const IniFile ini = shell.optionsFile();
    for (const char* zero : {"c_Help", "c_View2", "c_ransfer1", "UsersList"}) {
        EXPECT_EQ(ini.value("Common", zero), "0");
    }
    EXPECT_EQ(ini.value("Common", "CheckExtension"), "1");
    EXPECT_EQ(ini.value("Common", "Showloader"), "1");
    EXPECT_EQ(ini.value("Common", "Path"),
              QDir(shell.dataFolder).filePath("Incoming") + QDir::separator());
    EXPECT_EQ(ini.value("Common", "Speed"), "4");
}

TEST(MainForm, MenusHaveTheirCaptionsShortcutsChecksAndHints) {
    Shell shell{QByteArray(quietOptions())};
    ASSERT_TRUE(shell.create());
    TMainForm& main = shell.main();

    QStringList tops;
    for (QAction* action : main.menuBar()->actions()) {
        tops << action->text();
    }
    EXPECT_EQ(tops, (QStringList{"&File", "&Edit", "&View", "&Message", "&Transfer", "&Help"}));
    EXPECT_EQ(captionsOf(topMenu(main, "&File")),
              (QStringList{"&New connection...", "&Connection Wizard...", "&Open connections...",
                           "R&ecent connections", "&Disconnect", "&Save", "Save Connection &As...",
                           "&Print", "P&rint Setup...", "Options...", "E&xit"}));
    EXPECT_EQ(captionsOf(topMenu(main, "&Edit")),
              (QStringList{"&Undo", "Cu&t", "&Copy", "&Paste"}));
    EXPECT_EQ(captionsOf(topMenu(main, "&View")),
              (QStringList{"&Toolbars", "Tra&ditional view", "&Modern view", "T&ransfers list"}));
    EXPECT_EQ(captionsOf(topMenu(main, "&View")->actions().first()->menu()),
              (QStringList{"C&onnections", "&File transfer"}));
    EXPECT_EQ(captionsOf(topMenu(main, "&Message")),
              (QStringList{"&Send\tEnter", "&Clear", "&Export messages to file...", "Cl&assic mode",
                           "C&hat mode"}));
    EXPECT_EQ(captionsOf(topMenu(main, "&Transfer")),
              (QStringList{"&Send file...", "&Receive files to...", "&Block incoming files",
                           "&Abort transfer           Del", "&Pause transfer", "Res&ume transfer",
                           "Re&move from list", "Send a&gain", "&Clear ended transfers"}));
    EXPECT_EQ(
        captionsOf(topMenu(main, "&Help")),
        (QStringList{"&Contents...", "&Quick start...", "&Visit our website...", "&About..."}));

    const std::pair<QAction*, QKeySequence> shortcuts[] = {
        {test::part<QAction>(main, "FileNewItem"), QKeySequence("Ctrl+N")},
        {test::part<QAction>(main, "ConnectionWizard1"), QKeySequence("Ctrl+W")},
        {test::part<QAction>(main, "FileOpenItem"), QKeySequence("Ctrl+O")},
        {test::part<QAction>(main, "FileSaveItem"), QKeySequence("Ctrl+S")},
        {test::part<QAction>(main, "FilePrintItem"), QKeySequence("Ctrl+P")},
        {test::part<QAction>(main, "EditUndoItem"), QKeySequence("Ctrl+Z")},
        {test::part<QAction>(main, "EditCutItem"), QKeySequence("Ctrl+X")},
        {test::part<QAction>(main, "EditCopyItem"), QKeySequence("Ctrl+C")},
        {test::part<QAction>(main, "EditPasteItem"), QKeySequence("Ctrl+V")},
        {test::part<QAction>(main, "transferlist1"), QKeySequence("Shift+F1")},
        {test::part<QAction>(main, "Sendfile1"), QKeySequence("Ins")},
        {test::part<QAction>(main, "Pausetransfer1"), QKeySequence("Ctrl+F1")},
        {test::part<QAction>(main, "ResumeTransfer"), QKeySequence("Ctrl+F2")},
        {test::part<QAction>(main, "Aborttransfer1"), QKeySequence("Del")},
        {test::part<QAction>(main, "HelpContentsItem"), QKeySequence("F1")},
        {test::part<QAction>(main, "Send1"), QKeySequence()},
        {test::part<QAction>(main, "Stoptransfers1"), QKeySequence()},
    };
    for (const auto& [action, keys] : shortcuts) {
        EXPECT_EQ(action->shortcut(), keys) << action->objectName().toStdString();
    }

    for (QAction* action :
         {test::part<QAction>(main, "Connections1"), test::part<QAction>(main, "Editor1"),
          test::part<QAction>(main, "Modernview1"), test::part<QAction>(main, "transferlist1"),
          test::part<QAction>(main, "Chatmode1")}) {
        EXPECT_TRUE(action->isCheckable() && action->isChecked())
            << action->objectName().toStdString();
    }
    for (QAction* action :
         {test::part<QAction>(main, "raditionalview1"), test::part<QAction>(main, "Classicmode1"),
          test::part<QAction>(main, "Blocktransfers1")}) {
        EXPECT_TRUE(action->isCheckable() && !action->isChecked())
            << action->objectName().toStdString();
    }
    for (QAction* action :
         {test::part<QAction>(main, "Stoptransfers1"), test::part<QAction>(main, "Pausetransfer1"),
          test::part<QAction>(main, "ResumeTransfer")}) {
        EXPECT_FALSE(action->isEnabled());
    }

    // Every menu item has a hint, and the hint reaches status panel 1.
    for (QMenu* menu : main.menuBar()->findChildren<QMenu*>()) {
        for (QAction* action : menu->actions()) {
            if (!action->isSeparator()) {
                EXPECT_FALSE(action->statusTip().isEmpty()) << action->text().toStdString();
            }
        }
    }
    EXPECT_EQ(test::part<QAction>(main, "Sendfile1")->statusTip(), "Send some file to remote user");
    QStatusTipEvent tip("Send|Send current text message");
    QApplication::sendEvent(&main, &tip);
    EXPECT_EQ(main.statusText(1), "Send current text message");
    QStatusTipEvent plain("Ignore all incoming files");
    QApplication::sendEvent(&main, &plain);
    EXPECT_EQ(main.statusText(1), "Ignore all incoming files");

    // The transfers list shows its columns with their widths.
    QStringList headers;
    for (int column = 0;
         column < test::part<QTreeView>(main, "TransfersListView")->model()->columnCount();
         ++column) {
        headers << test::part<QTreeView>(main, "TransfersListView")
                       ->model()
                       ->headerData(column, Qt::Horizontal)
                       .toString();
    }
    EXPECT_EQ(headers, (QStringList{"File name", "Size", "Completed", "Percent", "Elapsed", "Left",
                                    "Speed"}));
    // At least their design widths, and wide enough for their usual texts in this font.
    const QFontMetrics metrics(test::part<QTreeView>(main, "TransfersListView")->font());
    EXPECT_GE(test::part<QTreeView>(main, "TransfersListView")->columnWidth(0), 100);
    EXPECT_GE(test::part<QTreeView>(main, "TransfersListView")->columnWidth(2), 70);
    EXPECT_GE(test::part<QTreeView>(main, "TransfersListView")->columnWidth(5), 50);
    EXPECT_GT(test::part<QTreeView>(main, "TransfersListView")->columnWidth(1),
              metrics.horizontalAdvance("1023 MB"));
    EXPECT_GT(test::part<QTreeView>(main, "TransfersListView")->columnWidth(4),
              metrics.horizontalAdvance("00:00:00"));

    // The recent menus say when they are empty.
    main.FillRecentMenus();
    EXPECT_EQ(captionsOf(test::part<QMenu>(main, "RecentMenu")),
              QStringList{"<No recent connections>"});
    EXPECT_FALSE(test::part<QMenu>(main, "RecentMenu")->actions().first()->isEnabled());
}

TEST(MainForm, ViewAndMessageCommandsApplyAndWriteOptions) {
    Shell shell{QByteArray(quietOptions())};
    ASSERT_TRUE(shell.create());
    TMainForm& main = shell.main();
    auto value = [&](const char* key) { return shell.optionsFile().value("Common", key); };

    main.runCommand("Connections1");
    EXPECT_TRUE(test::part<QToolBar>(main, "ConnectionsToolBar")->isHidden());
    EXPECT_EQ(value("c_Connections1"), "0");
    main.runCommand("Connections1");
    EXPECT_FALSE(test::part<QToolBar>(main, "ConnectionsToolBar")->isHidden());
    EXPECT_EQ(value("c_Connections1"), "1");

    main.runCommand("Editor1");
    EXPECT_TRUE(test::part<QWidget>(main, "CoolBar2")->isHidden());
    EXPECT_EQ(value("c_Editor1"), "0");

    main.runCommand("transferlist1");
    EXPECT_TRUE(test::part<QWidget>(main, "Panel3")->isHidden());
    EXPECT_EQ(value("TransfersList"), "0");
    main.runCommand("transferlist1");
    EXPECT_FALSE(test::part<QWidget>(main, "Panel3")->isHidden());

    main.runCommand("Classicmode1");
    EXPECT_TRUE(main.commandChecked("Classicmode1"));
    EXPECT_FALSE(main.commandChecked("Chatmode1"));
    EXPECT_TRUE(test::part<QWidget>(main, "PanelMsgEdit")->isHidden());
    EXPECT_FALSE(test::part<QTextEdit>(main, "MessagesEdit")->isReadOnly());
    EXPECT_EQ(value("Mode"), "0");
    // Radio items: choosing the chosen mode again keeps it; the other item changes it.
    main.runCommand("Classicmode1");
    EXPECT_TRUE(main.commandChecked("Classicmode1"));
    EXPECT_FALSE(main.commandChecked("Chatmode1"));
    EXPECT_EQ(value("Mode"), "0");
    main.runCommand("Chatmode1");
    EXPECT_TRUE(main.commandChecked("Chatmode1"));
    EXPECT_FALSE(main.commandChecked("Classicmode1"));
    EXPECT_EQ(value("Mode"), "1");
    main.runCommand("Chatmode1");
    EXPECT_TRUE(main.commandChecked("Chatmode1"));
    EXPECT_EQ(value("Mode"), "1");
    const QActionGroup* modes = test::part<QAction>(main, "Chatmode1")->actionGroup();
    ASSERT_NE(modes, nullptr) << "the talk modes are one group of radio items";
    EXPECT_TRUE(modes->isExclusive());
    EXPECT_EQ(test::part<QAction>(main, "Classicmode1")->actionGroup(), modes);

    // The view style is applied but not written until another change writes.
    main.runCommand("raditionalview1");
    EXPECT_TRUE(main.commandChecked("raditionalview1"));
    EXPECT_FALSE(main.commandChecked("Modernview1"));
    EXPECT_FALSE(flat(test::part<QToolBar>(main, "ConnectionsToolBar"),
                      test::part<QAction>(main, "Options1")));
    EXPECT_FALSE(
        flat(test::part<QToolBar>(main, "ToolBar4"), test::part<QAction>(main, "Pausetransfer1")));
    EXPECT_FALSE(test::part<QToolButton>(main, "ClearSpeedButton")->autoRaise());
    EXPECT_EQ(value("View"), "1");
    main.runCommand("raditionalview1");  // unchecking traditional is modern
    EXPECT_TRUE(main.commandChecked("Modernview1"));
    EXPECT_TRUE(flat(test::part<QToolBar>(main, "ConnectionsToolBar"),
                     test::part<QAction>(main, "Options1")));
    main.runCommand("Modernview1");  // unchecking modern is traditional
    EXPECT_TRUE(main.commandChecked("raditionalview1"));
    EXPECT_EQ(main.options().View, 0);
    EXPECT_EQ(value("View"), "1");
    main.runCommand("Editor1");
    EXPECT_EQ(value("View"), "0");
    EXPECT_EQ(value("c_Editor1"), "1");
}

TEST(MainForm, OddOptionValuesAndUrlOverrides) {
    Shell shell(QByteArray(
        quietOptions("View=2\nMode=5\nPath=/no/end\nSpeed=abc\n"
                     "[URL]\nSupportEmail=desk@here.example\nSiteURL=http://here.example/\n")));
    ASSERT_TRUE(shell.create());
    TMainForm& main = shell.main();
    // View 2: both items as they were, raised toolbars.
    EXPECT_TRUE(main.commandChecked("Modernview1"));
    EXPECT_FALSE(main.commandChecked("raditionalview1"));
    EXPECT_FALSE(flat(test::part<QToolBar>(main, "ConnectionsToolBar"),
                      test::part<QAction>(main, "Options1")));
    // Mode 5 is chat.
    EXPECT_TRUE(main.commandChecked("Chatmode1"));
    EXPECT_FALSE(test::part<QWidget>(main, "PanelMsgEdit")->isHidden());
    EXPECT_EQ(main.options().Path, "/no/end" + QString(QDir::separator()));
    EXPECT_EQ(main.options().Speed, 4);

    main.runCommand("Website1");
    ASSERT_EQ(shell.openedUrls.size(), 1u);
    EXPECT_EQ(shell.openedUrls[0], QUrl("http://here.example/"));
    // The [URL] section survives the writes and is not extended.
    main.runCommand("Connections1");
    const QString text = shell.optionsText();
    EXPECT_TRUE(
        text.contains("[URL]\nSupportEmail=desk@here.example\nSiteURL=http://here.example/"));
    EXPECT_FALSE(text.contains("CommonEmail"));
}

TEST(MainForm, HelpTopicsAndTheFallbackMessage) {
    {
        Shell shell{QByteArray(quietOptions())};
        ASSERT_TRUE(shell.create());
        EXPECT_TRUE(shell.dialogs.messages().isEmpty());
        shell.main().runCommand("HelpContentsItem");
        auto* help = shell.main().findChild<THelpWindow*>();
        ASSERT_NE(help, nullptr);
        EXPECT_TRUE(help->browser()->toPlainText().contains("Introduction"));
        // A topic whose page is missing says so in the window.
        shell.main().runCommand("Howto1");
        EXPECT_TRUE(help->browser()->toPlainText().contains("Page not found"));
        EXPECT_EQ(shell.main().findChildren<THelpWindow*>().size(), 1);
        bool canClose = false;
        shell.main().FormCloseQuery([&](bool decided) { canClose = decided; });
        EXPECT_TRUE(help->isHidden());
    }
    {
        Shell shell({.optionsIni = quietOptions("[URL]\nSupportEmail=desk@here.example\n"),
                     .withHelp = false});
        ASSERT_TRUE(shell.create());
        EXPECT_EQ(shell.dialogs.messages(), QStringList{"HTML Help is not installed on this PC."});
        shell.main().runCommand("HelpContentsItem");
        shell.main().runCommand("Howto1");
        EXPECT_EQ(shell.dialogs.messages().mid(1),
                  QStringList(2,
                              "Sorry, but your system doesn't support HTMLHelp.\rPlease, "
                              "consult desk@here.example and we'll send you another help "
                              "file."));
        EXPECT_EQ(shell.main().findChild<THelpWindow*>(), nullptr);
    }
}

// A cable and a modem provider as the program has them, over a cable in memory.
QList<ProviderEntry> cableAndModem(const MemoryCable& cable) {
    const ProviderEntry memory = cable.providerEntry(MemoryCable::Side::A);
    return {{guids::ServiceProviderSerial, "Serial Connection", memory.create},
            {guids::ServiceProviderModem, "Modem Connection", memory.create}};
}

TEST(MainForm, CloseQueryAnswers) {
    const QString recents = "/x/one.vmc\r\n/x/two.vmc\r\n";
    MemoryCable cable;
    const Shell::Setup quiet{quietOptions(), {}, true, false, cableAndModem(cable)};
    // Two recent entries read at start; the file is gone afterwards, so that only the close
    // writes it again. A field changed in the New connection dialog leaves the connection
    // changed, and the session component holds a cable connection that can be saved.
    auto prepare = [&](Shell& shell) {
        QFile file(shell.dataFolder + "/recents.list");
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(recents.toLatin1());
        file.close();
        EXPECT_TRUE(shell.create());
        EXPECT_TRUE(file.remove());
        shell.main().peer().session().setProviderName("Serial Connection");
        shell.main().connectionFormContext().markConnectionModified();
        EXPECT_TRUE(shell.main().connectionModified());
    };
    auto recentsText = [](Shell& shell) {
        QFile file(shell.dataFolder + "/recents.list");
        return file.open(QIODevice::ReadOnly) ? QString::fromLatin1(file.readAll()) : QString();
    };

    {  // Cancel: the window stays, nothing else happens.
        Shell shell{quiet};
        prepare(shell);
        shell.dialogs.answerQuestion(DialogButton::Cancel);
        bool canClose = true;
        shell.main().FormCloseQuery([&](bool decided) { canClose = decided; });
        EXPECT_FALSE(canClose);
        EXPECT_EQ(shell.dialogs.questions(),
                  QStringList{"Current connection is not saved! Do you want to save it now?"});
        EXPECT_EQ(shell.dialogs.records().back().questionKind, QuestionKind::Warning);
        EXPECT_EQ(recentsText(shell), "") << "nothing written";
        EXPECT_EQ(shell.main().recentConnections().size(), 2);
    }
    {  // No: closes, writes the recent list, ends the session.
        Shell shell{quiet};
        prepare(shell);
        const auto saving = test::record(&shell.main(), &TMainForm::saveConnectionRequested);
        shell.dialogs.answerQuestion(DialogButton::No);
        bool canClose = false;
        shell.main().FormCloseQuery([&](bool decided) { canClose = decided; });
        EXPECT_TRUE(canClose);
        EXPECT_EQ(recentsText(shell), recents);
        EXPECT_FALSE(shell.main().peer().isOpen());
        EXPECT_EQ(saving->size(), 0);
    }
    {  // Yes: the save dialog; a chosen name is saved, a cancelled dialog still closes.
        Shell shell{quiet};
        prepare(shell);
        const auto saving = test::record(&shell.main(), &TMainForm::saveConnectionRequested);
        shell.dialogs.answerQuestion(DialogButton::Yes);
        const QString saved = QDir(shell.dataFolder).filePath("saved.vmc");
        shell.dialogs.answerFile(saved);
        bool canClose = false;
        shell.main().FormCloseQuery([&](bool decided) { canClose = decided; });
        EXPECT_TRUE(canClose);
        ASSERT_EQ(saving->size(), 1);
        EXPECT_EQ(saving->at(0), saved);
        const auto& records = shell.dialogs.records();
        ASSERT_GE(records.size(), 2u);
        EXPECT_EQ(records.back().request.filter, "Velmora Connection (*.vmc)");
        EXPECT_TRUE(shell.dialogs.messages().isEmpty());
        EXPECT_TRUE(QFileInfo(saved).isFile()) << "Yes did what it offered";

        Shell cancelled{quiet};
        prepare(cancelled);
        const auto none = test::record(&cancelled.main(), &TMainForm::saveConnectionRequested);
        cancelled.dialogs.answerQuestion(DialogButton::Yes);
        cancelled.dialogs.answerFile(QString());
        canClose = false;
        cancelled.main().FormCloseQuery([&](bool decided) { canClose = decided; });
        EXPECT_TRUE(canClose);
        EXPECT_EQ(none->size(), 0);
    }
    {  // Closing the window decides the close event at once: refused while the question waits,
       // asked once however often the user closes meanwhile; No then closes the window.
        Shell shell{quiet};
        prepare(shell);
        shell.main().show();
        shell.dialogs.deferAnswers(true);
        shell.dialogs.answerQuestion(DialogButton::No);
        EXPECT_FALSE(shell.main().close());
        EXPECT_TRUE(shell.main().isVisible());
        EXPECT_FALSE(shell.main().close());
        EXPECT_EQ(shell.dialogs.questions().size(), 1);
        EXPECT_EQ(recentsText(shell), "") << "nothing done before the answer";
        EXPECT_TRUE(shell.dialogs.answerDeferred());
        EXPECT_FALSE(shell.main().isVisible());
        EXPECT_EQ(recentsText(shell), recents);
        EXPECT_FALSE(shell.dialogs.answerDeferred());
    }
    {  // Cancel given later leaves the window open, and a later close asks again.
        Shell shell{quiet};
        prepare(shell);
        shell.main().show();
        shell.dialogs.deferAnswers(true);
        shell.dialogs.answerQuestion(DialogButton::Cancel);
        shell.dialogs.answerQuestion(DialogButton::Cancel);
        EXPECT_FALSE(shell.main().close());
        EXPECT_TRUE(shell.dialogs.answerDeferred());
        EXPECT_TRUE(shell.main().isVisible());
        EXPECT_FALSE(shell.main().close());
        EXPECT_EQ(shell.dialogs.questions().size(), 2);
        EXPECT_TRUE(shell.dialogs.answerDeferred());
        EXPECT_TRUE(shell.main().isVisible());
    }
    {  // AskExit 0: no question even with a changed connection.
        Shell shell{Shell::Setup{quietOptions("AskExit=0\n"), {}, true, false, quiet.providers}};
        prepare(shell);
        bool canClose = false;
        shell.main().FormCloseQuery([&](bool decided) { canClose = decided; });
        EXPECT_TRUE(canClose);
        EXPECT_TRUE(shell.dialogs.questions().isEmpty());
        EXPECT_EQ(recentsText(shell), recents);
    }
    {  // A changed dialog that never connected (File > New connection..., Esc): nothing that
       // Yes could save, so no question.
        Shell shell{quiet};
        ASSERT_TRUE(shell.create());
        shell.main().connectionFormContext().markConnectionModified();
        bool canClose = false;
        shell.main().FormCloseQuery([&](bool decided) { canClose = decided; });
        EXPECT_TRUE(canClose);
        EXPECT_TRUE(shell.dialogs.questions().isEmpty());
        EXPECT_TRUE(shell.dialogs.messages().isEmpty());
    }
    {  // Unchanged connection: no question; the options are not written on close.
        Shell shell{QByteArray(quietOptions())};
        ASSERT_TRUE(shell.create());
        shell.main().runCommand("raditionalview1");
        shell.main().FileExit();
        EXPECT_TRUE(shell.dialogs.questions().isEmpty());
        EXPECT_EQ(shell.optionsFile().value("Common", "View"), "1");
    }
}

TEST(MainForm, ModalDialogsSuspendAndResumeTheSenderThread) {
    MemoryCable cable;
    Shell shell{
        Shell::Setup{quietOptions(), {}, true, false, {cable.providerEntry(MemoryCable::Side::A)}}};
    ASSERT_TRUE(shell.create());
    Peer& peer = shell.main().peer();
    peer.session().setProviderName(cable.providerEntry(MemoryCable::Side::A).name);
    test::openSession(peer.session(), true, "Chat", "Ann");
    ASSERT_TRUE(peer.senderRunning());
    bool suspendedWhileShown = false;
    test::ModalWatcher watcher([&](QWidget* modal) {
        suspendedWhileShown = peer.senderSuspended();
        static_cast<QDialog*>(modal)->reject();
    });
    shell.main().runCommand("HelpAboutItem");
    EXPECT_TRUE(test::pumpUntil([&] { return watcher.seen(); }));
    EXPECT_TRUE(suspendedWhileShown);
    EXPECT_FALSE(peer.senderSuspended());
}

TEST(MainForm, AssociationCheckAnswers) {
    const QString never =
        "Files with \"vmc\" extension are not currently associated with "
        "Velmora. Do you want to associate them now?";
    const QString everyTime = "Do you want Velmora to perform this check on startup every time?";
    const QByteArray noLoader = "[Common]\nShowloader=0\n";
    {  // Yes, Yes: associated, the check stays on.
        Shell shell{QByteArray(noLoader)};
        shell.dialogs.answerQuestion(DialogButton::Yes);
        shell.dialogs.answerQuestion(DialogButton::Yes);
        ASSERT_TRUE(shell.create());
        EXPECT_EQ(shell.dialogs.questions(), (QStringList{never, everyTime}));
        EXPECT_EQ(shell.dialogs.records()[0].questionKind, QuestionKind::Warning);
        EXPECT_EQ(shell.dialogs.records()[1].questionKind, QuestionKind::Confirmation);
        // The desktop's databases are updated by tools that run after the answer.
        const FileAssociation association(shell.xdgData, shell.xdgConfig);
        EXPECT_TRUE(test::pumpUntil([&association] { return association.isAssociated(); }));
        QFile desktop(association.desktopEntryPath());
        ASSERT_TRUE(desktop.open(QIODevice::ReadOnly));
        EXPECT_TRUE(desktop.readAll().contains("Exec=/opt/velmora/velmora %f"));
        EXPECT_EQ(shell.optionsFile().value("Common", "CheckExtension"), "1");
    }
    {  // No, Yes: not associated and both questions come back next time.
        Shell shell{QByteArray(noLoader)};
        shell.dialogs.answerQuestion(DialogButton::No);
        shell.dialogs.answerQuestion(DialogButton::Yes);
        ASSERT_TRUE(shell.create());
        EXPECT_FALSE(FileAssociation(shell.xdgData, shell.xdgConfig).isAssociated());
        EXPECT_EQ(shell.optionsFile().value("Common", "CheckExtension"), "1");
    }
    {  // No, No: the check is switched off in the file at once.
        Shell shell{QByteArray(noLoader)};
        shell.dialogs.answerQuestion(DialogButton::No);
        shell.dialogs.answerQuestion(DialogButton::No);
        ASSERT_TRUE(shell.create());
        EXPECT_EQ(shell.main().options().CheckExtension, 0);
        EXPECT_EQ(shell.optionsFile().value("Common", "CheckExtension"), "0");
    }
    {  // Already associated: nothing is asked.
        Shell shell({.optionsIni = noLoader, .associated = true});
        ASSERT_TRUE(shell.create());
        EXPECT_TRUE(shell.dialogs.questions().isEmpty());
    }
}

TEST(MainForm, CommandLineRules) {
    {  // -uninstall: the feedback question and page, then the end.
        Shell shell({.optionsIni = quietOptions(), .arguments = {"-uninstall", "x.vmc"}});
        shell.dialogs.answerQuestion(DialogButton::Yes);
        EXPECT_FALSE(shell.create());
        ASSERT_EQ(shell.dialogs.questions().size(), 1);
        EXPECT_TRUE(shell.dialogs.questions()[0].startsWith(
            "May I ask you a favour?\n\rPlease tell me why"));
        EXPECT_EQ(shell.dialogs.records()[0].buttons, QList<DialogButton>{DialogButton::Yes});
        ASSERT_EQ(shell.openedUrls.size(), 1u);
        EXPECT_EQ(shell.windows->welcome(), nullptr);
        EXPECT_EQ(shell.optionsText(), QString::fromLatin1(quietOptions()));
    }
    {  // Another letter case is a connection file; later arguments are ignored; no start-up
       // window even with Showloader 1.
        Shell shell({.optionsIni = "[Common]\nCheckExtension=0\n",
                     .arguments = {"-Uninstall", "second.vmc"}});
        ASSERT_TRUE(shell.create());
        const auto opening = test::record(&shell.main(), &TMainForm::connectionFileRequested);
        shell.main().FormActivate();
        ASSERT_EQ(opening->size(), 1);
        EXPECT_EQ(opening->at(0), "-Uninstall");
        EXPECT_TRUE(shell.windows->welcome()->isHidden());
    }
}

TEST(MainForm, LaterActivationsNeitherReloadNorShowAgain) {
    Shell shell{QByteArray(quietOptions())};
    ASSERT_TRUE(shell.create());
    shell.main().FormActivate();
    QFile file(shell.dataFolder + "/options.ini");
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("[Common]\nShowloader=1\nMode=0\n");
    file.close();
    shell.main().FormActivate();
    EXPECT_TRUE(shell.main().commandChecked("Chatmode1"));
    EXPECT_EQ(shell.main().options().Showloader, 0);
}

TEST(MainForm, TwoWindowsInOneProcessKeepTheirOwnFolders) {
    Shell first{QByteArray(quietOptions())};
    Shell second{QByteArray(quietOptions())};
    ASSERT_TRUE(first.create());
    ASSERT_TRUE(second.create());
    first.main().runCommand("Classicmode1");
    EXPECT_EQ(first.optionsFile().value("Common", "Mode"), "0");
    EXPECT_EQ(second.optionsFile().value("Common", "Mode"), "1");
    EXPECT_TRUE(second.main().commandChecked("Chatmode1"));
    EXPECT_NE(first.main().options().Path, second.main().options().Path);
}

TEST(MainForm, UnwritableOptionsAreReportedOnceAndTheProgramStarts) {
    Shell shell;
    // A folder in the place of the file: it can be neither read nor replaced.
    ASSERT_TRUE(QDir().mkpath(shell.dataFolder + "/options.ini"));
    shell.dialogs.answerQuestion(DialogButton::No);
    shell.dialogs.answerQuestion(DialogButton::Yes);
    ASSERT_TRUE(shell.create());
    shell.main().runCommand("Connections1");
    shell.main().runCommand("Classicmode1");
    ASSERT_EQ(shell.dialogs.messages().size(), 1);
    EXPECT_TRUE(shell.dialogs.messages()[0].startsWith("The settings cannot be saved"));
    EXPECT_TRUE(shell.main().commandChecked("Classicmode1"));
}

TEST(MainForm, TransferButtonsKeepTheirCaptionsAndPlacesAndRunTheirOwnCommand) {
    Shell shell{QByteArray(quietOptions())};
    ASSERT_TRUE(shell.create());
    TMainForm& main = shell.main();
    main.show();
    const QStringList names{"Stoptransfers1", "Pausetransfer1", "ResumeTransfer"};
    auto buttons = [&] {
        QList<QToolButton*> found;
        for (const QString& name : names) {
            found << test::part<QToolButton>(main, name + "Button");
        }
        return found;
    };
    QList<QRect> places;
    for (QToolButton* button : buttons()) {
        EXPECT_FALSE(button->isEnabled()) << "no line is selected";
        places << button->geometry();
    }
    // A selected line enables the commands (and changes the menu items): the buttons stay.
    for (const QString& name : names) {
        test::part<QAction>(main, name)->setEnabled(true);
    }
    QApplication::processEvents();
    QStringList captions;
    for (int index = 0; index < names.size(); ++index) {
        QToolButton* button = buttons()[index];
        EXPECT_TRUE(button->isEnabled());
        EXPECT_EQ(button->geometry(), places[index]);
        captions << button->text();
    }
    EXPECT_EQ(captions, (QStringList{"Abort", "Pause", "Resume"}));

    const auto paused =
        test::record(test::part<QAction>(main, "Pausetransfer1"), &QAction::triggered);
    const auto aborted =
        test::record(test::part<QAction>(main, "Stoptransfers1"), &QAction::triggered);
    QTest::mouseClick(buttons()[1], Qt::LeftButton);
    EXPECT_EQ(paused->size(), 1);
    EXPECT_EQ(aborted->size(), 0);
}

// A line of the transfers list as the engine makes it, for the widget checks.
std::unique_ptr<TTransfer> listedTransfer(std::uint8_t id, bool outgoing) {
    auto transfer = std::make_unique<TTransfer>();
    transfer->Id = id;
    transfer->Outgoing = outgoing;
    transfer->Size = 40000;
    transfer->Done = 20000;
    transfer->FileName = QStringLiteral("f%1.bin").arg(id);
    transfer->SourcePath = QStringLiteral("/nowhere/f%1.bin").arg(id);
    transfer->Recipients = {2};
    return transfer;
}

TEST(MainForm, TransferCommandsOfferOnlyWhatTheSelectedLinesAllow) {
    Shell shell{QByteArray(quietOptions())};
    ASSERT_TRUE(shell.create());
    TMainForm& main = shell.main();
    main.show();
    TransfersModel& model = main.peer().transfers().model();
    const QByteArray icon(kIconFieldSize, '\0');
    model.addTransfer(listedTransfer(1, true), icon);
    model.addTransfer(listedTransfer(2, false), icon);
    model.addTransfer(listedTransfer(3, true), icon);
    model.addTransfer(listedTransfer(4, false), icon);
    model.setState(1, tsPaused);
    model.endTransfer(2, tsStopped, QStringLiteral("the connection was lost"), 0);
    model.endTransfer(3, tsStopped, QStringLiteral("aborted by Bob"), 0);

    // The ended line's look: the red cross, the figures it had, the words instead of a speed.
    QTreeView& list = *test::part<QTreeView>(main, "TransfersListView");
    const QAbstractItemModel& shown = *list.model();
    EXPECT_EQ(shown.data(shown.index(2, 0), TransfersModel::StateImageRole).toInt(), siStopped);
    EXPECT_EQ(shown.data(shown.index(2, colCompleted)).toString(), "20 KB");
    EXPECT_EQ(shown.data(shown.index(2, colPercent)).toString(), "50 %");
    EXPECT_EQ(shown.data(shown.index(2, colLeft)).toString(), "");
    EXPECT_EQ(shown.data(shown.index(2, colSpeed)).toString(), "the connection was lost");
    EXPECT_EQ(shown.data(shown.index(2, colFileName), Qt::ToolTipRole).toString(),
              "the connection was lost");
    EXPECT_FALSE(shown.data(shown.index(0, colFileName), Qt::ToolTipRole).isValid());

    const QStringList commands{"Stoptransfers1",  "Aborttransfer1",  "Pausetransfer1",
                               "Pausetransfer2",  "ResumeTransfer",  "Resumetranfer1",
                               "Removetransfer1", "Removetransfer2", "Sendagain1",
                               "Sendagain2",      "Clearended1"};
    const auto enabledFor = [&](const QList<int>& rows) {
        list.clearSelection();
        for (const int row : rows) {
            list.selectionModel()->select(model.index(row, 0),
                                          QItemSelectionModel::Select | QItemSelectionModel::Rows);
        }
        QStringList enabled;
        for (const QString& name : commands) {
            if (main.commandEnabled(name)) {
                enabled << name;
            }
        }
        return enabled;
    };
    EXPECT_EQ(enabledFor({}), QStringList{"Clearended1"});
    EXPECT_EQ(enabledFor({0}), (QStringList{"Stoptransfers1", "Aborttransfer1", "Pausetransfer1",
                                            "Pausetransfer2", "Clearended1"}));
    EXPECT_EQ(enabledFor({1}), (QStringList{"Stoptransfers1", "Aborttransfer1", "ResumeTransfer",
                                            "Resumetranfer1", "Clearended1"}));
    // Ended lines: remove them; sending again needs a connection.
    EXPECT_EQ(enabledFor({2, 3}),
              (QStringList{"Removetransfer1", "Removetransfer2", "Clearended1"}));
    // The toolbar's buttons follow.
    EXPECT_FALSE(test::part<QToolButton>(main, "Stoptransfers1Button")->isEnabled());
    EXPECT_TRUE(test::part<QToolButton>(main, "Removetransfer1Button")->isEnabled());
    EXPECT_FALSE(test::part<QToolButton>(main, "Sendagain1Button")->isEnabled());

    // A line that ends under the selection changes the commands at once.
    enabledFor({0});
    model.endTransfer(0, tsStopped, QStringLiteral("Bob could not write it"), 0);
    EXPECT_FALSE(main.commandEnabled("Pausetransfer1"));
    EXPECT_TRUE(main.commandEnabled("Removetransfer1"));

    // Del in the list removes the selected ended lines, as Remove does.
    enabledFor({0, 2});
    QApplication::setActiveWindow(&main);
    list.setFocus();
    QTest::keyClick(&list, Qt::Key_Delete);
    ASSERT_EQ(model.rowCount(), 2);
    EXPECT_EQ(model.transfer(0).FileName, "f2.bin");
    // Clear ended takes the rest of the ended lines.
    main.runCommand("Clearended1");
    ASSERT_EQ(model.rowCount(), 1);
    EXPECT_EQ(model.transfer(0).FileName, "f2.bin");
    EXPECT_FALSE(main.commandEnabled("Clearended1"));
}

}  // namespace
}  // namespace velmora
