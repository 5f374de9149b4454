#include "shell/MainForm.h"

#include "base/RecentList.h"
#include "connections/ConnectionCommands.h"
#include "connections/ConnectionStatus.h"
#include "conversation/Conversation.h"
#include "peer/Opponent.h"
#include "peer/Peer.h"
#include "shell/AboutBox.h"
#include "base/DialogService.h"
#include "base/HelpTopic.h"
#include "shell/HelpWindow.h"
#include "shell/Icons.h"
#include "shell/OptionsForm.h"
#include "shell/TransfersListDelegate.h"
#include "shell/Welcome.h"
#include "transfer/FileIcon.h"
#include "transfer/TransferEngine.h"

#include "session/DXPlay.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QFontMetrics>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QScreen>
#include <QSplitter>
#include <QStatusBar>
#include <QStatusTipEvent>
#include <QTextEdit>
#include <QThread>
#include <QToolBar>
#include <QToolButton>
#include <QTreeView>
#include <QVBoxLayout>

namespace velmora {

namespace {

const QString UninstallQuestion = QStringLiteral(
    "May I ask you a favour?\n\rPlease tell me why you have decided not to use Velmora "
    "anymore:\n\rwas it a problem you encountered, or was it a feature that was not offered, was "
    "the price too high (or too low)?\n\rPlease let us know and we will take it into account when "
    "developing future versions.\n\rMay we open your web browser and direct it to a short "
    "feedback form at our web site?\n\r(Please connect to the Internet, if necessary, and click "
    "Yes to send us your feedback.)");
const QString FeedbackPage = QStringLiteral("https://www.oskvale.example/velmora/feedback.html");
const QString AssociationQuestion = QStringLiteral(
    "Files with \"vmc\" extension are not currently associated with Velmora. Do you want to "
    "associate them now?");
const QString CheckEveryTimeQuestion =
    QStringLiteral("Do you want Velmora to perform this check on startup every time?");
const QString UnsavedConnectionQuestion =
    QStringLiteral("Current connection is not saved! Do you want to save it now?");
const QString ApplicationGuid = QStringLiteral("{A2196E45-287F-4F8F-987A-382C87886EED}");
const QString ConnectionFilter = QStringLiteral("Velmora Connection (*.vmc)");

// Folders in the options end with the separator, as they do when read.
QString asFolderPath(const QString& folder) {
    return folder.endsWith(QDir::separator()) ? folder : folder + QDir::separator();
}

void setFlat(QToolBar* toolBar, bool flat) {
    for (QToolButton* button : toolBar->findChildren<QToolButton*>()) {
        button->setAutoRaise(flat);
    }
}

}  // namespace

TMainForm::TMainForm(MainFormContext context, QWidget* parent)
    : QMainWindow(parent),
      m_context(std::move(context)),
      m_startArgument(StartArgument::parse(m_context.arguments)),
      m_options(Options::defaults(m_context.dataFolder)) {
    setObjectName(QStringLiteral("MainForm"));
    Q_ASSERT(m_context.dialogs != nullptr && m_context.sessionSystem != nullptr);
    TransferSettings& transferSettings = *this;
    m_peer = std::make_unique<Peer>(*m_context.sessionSystem, transferSettings);
    setWindowTitle(QStringLiteral("Oskvale Velmora"));
    setWindowIcon(commandIcon(CommandIcon::Application));
    createActions();
    createMenus();
    createToolBars();
    createCentralArea();
    createStatusBar();
    ConversationHooks hooks;
    hooks.classicMode = [this] { return Classicmode1->isChecked(); };
    hooks.showNotice = [this](const QString& text) { m_statusPanel1->setText(text); };
    hooks.suspendSender = [this] { TrySuspendThreat(); };
    hooks.resumeSender = [this] { TryResumeThreat(); };
    m_conversation = std::make_unique<Conversation>(*MessagesEdit, *EditMessage, *m_peer, dialogs(),
                                                    std::move(hooks));
    ConnectionStatusView& statusView = *this;
    m_connectionStatus = std::make_unique<ConnectionStatus>(*m_peer, statusView);
    connectPeer();
    connectCommands();
    resize(550, 420);
    if (const QScreen* screen = QApplication::primaryScreen()) {
        move(screen->availableGeometry().center() - rect().center());
    }
}

// The session closes with no handler left that could reach a part already gone; the peer ends
// its sender thread first.
TMainForm::~TMainForm() {
    m_connectionStatus.reset();
    m_peer->disconnect(this);
    m_peer->close();
}

void TMainForm::attachWindows(TConnectionForm* connectionForm, TOptionsForm* optionsForm,
                              TWizardForm* wizardForm, TWelcome* welcome, TAboutBox* aboutBox) {
    m_connectionForm = connectionForm;
    m_optionsForm = optionsForm;
    m_wizardForm = wizardForm;
    m_welcome = welcome;
    m_aboutBox = aboutBox;

    ConnectionCommandsContext commands;
    commands.play = &m_peer->session();
    commands.dialogs = m_context.dialogs;
    commands.connectionForm = connectionForm;
    commands.wizardForm = wizardForm;
    commands.connectionModified = &ConnectionModified;
    commands.wasConnected = &WasConnected;
    commands.recentConnections = &RecentConnections;
    commands.suspendSender = [this] { TrySuspendThreat(); };
    commands.resumeSender = [this] { TryResumeThreat(); };
    commands.rebuildRecentMenus = [this] { FillRecentMenus(); };
    m_connectionCommands = std::make_unique<ConnectionCommands>(std::move(commands));
    ConnectionCommands* connection = m_connectionCommands.get();
    connect(FileNewItem, &QAction::triggered, this, [connection] { connection->FileNew(); });
    connect(ConnectionWizard1, &QAction::triggered, this,
            [connection] { connection->ConnectionWizard1Click(); });
    connect(FileOpenItem, &QAction::triggered, this, [connection] { connection->FileOpen(); });
    connect(ToolButton3, &QToolButton::clicked, this,
            [connection] { connection->ToolButton3Click(); });
    connect(FileSaveItem, &QAction::triggered, this, [connection] { connection->FileSave(); });
    connect(FileSaveAsItem, &QAction::triggered, this, [connection] { connection->FileSaveAs(); });
    connect(Closeconnection1, &QAction::triggered, this,
            [connection] { connection->Closeconnection1Click(); });
    connect(this, &TMainForm::connectionFileRequested, this,
            [connection](const QString& fileName) { connection->LoadConnection(fileName); });
    connect(this, &TMainForm::saveConnectionRequested, this,
            [connection](const QString& fileName) { connection->SaveConnection(fileName); });
    connect(this, &TMainForm::wizardRequested, this, [connection] { connection->showWizard(); });
    connect(this, &TMainForm::newConnectionRequested, this,
            [connection] { connection->FileNew(); });
}

ConnectionFormContext TMainForm::connectionFormContext() {
    ConnectionFormContext form;
    form.play = &m_peer->session();
    form.dialogs = m_context.dialogs;
    form.options = &m_options;
    form.dataFolder = m_context.dataFolder;
    form.setBlockSizeCode = [this](int code) { BlockSizeCode = code; };
    form.markConnectionModified = [this] { ConnectionModified = true; };
    form.showHelpTopic = [this](QWidget* owner, const QString& topic) {
        ShowHelpTopic(owner, topic);
    };
    return form;
}

void TMainForm::connectCommands() {
    Conversation* talk = m_conversation.get();
    connect(Send1, &QAction::triggered, this, [talk] { talk->SendSpeedButtonClick(); });
    connect(SendSpeedButton, &QToolButton::clicked, this, [talk] { talk->SendSpeedButtonClick(); });
    connect(Clear1, &QAction::triggered, this, [talk] { talk->ClearSpeedButtonClick(); });
    connect(ClearSpeedButton, &QToolButton::clicked, this,
            [talk] { talk->ClearSpeedButtonClick(); });
    connect(Exportmessageslog1, &QAction::triggered, this,
            [talk] { talk->Exportmessageslog1Click(); });
    connect(FilePrintItem, &QAction::triggered, this, [talk] { talk->FilePrint(); });
    connect(FilePrintSetupItem, &QAction::triggered, this, [talk] { talk->FilePrintSetup(); });
    connect(EditUndoItem, &QAction::triggered, this, [talk] { talk->EditUndo(); });
    connect(EditCutItem, &QAction::triggered, this, [talk] { talk->EditCut(); });
    connect(EditCopyItem, &QAction::triggered, this, [talk] { talk->EditCopy(); });
    connect(EditPasteItem, &QAction::triggered, this, [talk] { talk->EditPaste(); });

    for (QAction* sendFile : {Sendfile1, Sendfile2, Sendfile3}) {
        connect(sendFile, &QAction::triggered, this, &TMainForm::Sendfile1Click);
    }
    for (QAction* receiveTo : {Recievefilesto1, Recievefilesto2}) {
        connect(receiveTo, &QAction::triggered, this, &TMainForm::Recievefilesto1Click);
    }
    connect(Blocktransfers1, &QAction::triggered, this, &TMainForm::Blocktransfers1Click);
    connect(Blocktransfers2, &QAction::triggered, this, &TMainForm::Blocktransfers2Click);
    connect(UsersPopupMenu, &QMenu::aboutToShow, this, &TMainForm::UsersPopupMenuPopup);
    for (QAction* abort : {Stoptransfers1, Aborttransfer1}) {
        connect(abort, &QAction::triggered, this, &TMainForm::Stoptransfers1Click);
    }
    for (QAction* pause : {Pausetransfer1, Pausetransfer2}) {
        connect(pause, &QAction::triggered, this, &TMainForm::Pausetransfer1Click);
    }
    for (QAction* resume : {ResumeTransfer, Resumetranfer1}) {
        connect(resume, &QAction::triggered, this, &TMainForm::ResumeTransferClick);
    }
    const TransfersModel* model = &m_peer->transfers().model();
    connect(TransfersListView->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &TMainForm::TransfersListViewChange);
    connect(model, &QAbstractItemModel::rowsRemoved, this, &TMainForm::TransfersListViewChange);
    connect(model, &QAbstractItemModel::rowsInserted, this, &TMainForm::TransfersListViewChange);
}

QAction* TMainForm::makeAction(const char* name, const QString& caption, const QString& hint) {
    auto* action = new QAction(caption, this);
    action->setObjectName(QString::fromLatin1(name));
    action->setStatusTip(hint);
    action->setToolTip(QString(caption).remove(QLatin1Char('&')).remove(QStringLiteral("...")));
    return action;
}

void TMainForm::createActions() {
    FileNewItem = makeAction("FileNewItem", QStringLiteral("&New connection..."),
                             QStringLiteral("Create a new connection"));
    FileNewItem->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_N));
    FileNewItem->setIcon(commandIcon(CommandIcon::NewConnection));
    ConnectionWizard1 =
        makeAction("ConnectionWizard1", QStringLiteral("&Connection Wizard..."),
                   QStringLiteral("Connection Wizard will help you to create new connection"));
    ConnectionWizard1->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_W));
    ConnectionWizard1->setIcon(commandIcon(CommandIcon::Wizard));
    FileOpenItem = makeAction("FileOpenItem", QStringLiteral("&Open connections..."),
                              QStringLiteral("Open an existing connection"));
    FileOpenItem->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_O));
    FileOpenItem->setIcon(commandIcon(CommandIcon::OpenConnection));
    Closeconnection1 = makeAction("Closeconnection1", QStringLiteral("&Disconnect"),
                                  QStringLiteral("Close current connection"));
    Closeconnection1->setIcon(commandIcon(CommandIcon::Disconnect));
    FileSaveItem = makeAction("FileSaveItem", QStringLiteral("&Save"),
                              QStringLiteral("Save current connection"));
    FileSaveItem->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_S));
    FileSaveItem->setIcon(commandIcon(CommandIcon::Save));
    FileSaveAsItem = makeAction("FileSaveAsItem", QStringLiteral("Save Connection &As..."),
                                QStringLiteral("Save current connection under a new name"));
    FilePrintItem = makeAction("FilePrintItem", QStringLiteral("&Print"),
                               QStringLiteral("Print the conversation"));
    FilePrintItem->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_P));
    FilePrintItem->setIcon(commandIcon(CommandIcon::Print));
    FilePrintSetupItem = makeAction("FilePrintSetupItem", QStringLiteral("P&rint Setup..."),
                                    QStringLiteral("Choose the printer and its settings"));
    Options1 = makeAction("Options1", QStringLiteral("Options..."),
                          QStringLiteral("Change the settings of Velmora"));
    Options1->setIcon(commandIcon(CommandIcon::Options));
    FileExitItem =
        makeAction("FileExitItem", QStringLiteral("E&xit"), QStringLiteral("Quit Velmora"));

    EditUndoItem = makeAction("EditUndoItem", QStringLiteral("&Undo"),
                              QStringLiteral("Undo the last change of the message field"));
    EditUndoItem->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Z));
    EditCutItem = makeAction("EditCutItem", QStringLiteral("Cu&t"),
                             QStringLiteral("Cut the selection to the clipboard"));
    EditCutItem->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_X));
    EditCutItem->setIcon(commandIcon(CommandIcon::Cut));
    EditCopyItem = makeAction("EditCopyItem", QStringLiteral("&Copy"),
                              QStringLiteral("Copy the selection to the clipboard"));
    EditCopyItem->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_C));
    EditCopyItem->setIcon(commandIcon(CommandIcon::Copy));
    EditPasteItem = makeAction("EditPasteItem", QStringLiteral("&Paste"),
                               QStringLiteral("Paste the clipboard into the message field"));
    EditPasteItem->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_V));
    EditPasteItem->setIcon(commandIcon(CommandIcon::Paste));

    Connections1 = makeAction("Connections1", QStringLiteral("C&onnections"),
                              QStringLiteral("Show or hide the connections toolbar"));
    Connections1->setCheckable(true);
    Connections1->setChecked(true);
    Editor1 = makeAction("Editor1", QStringLiteral("&File transfer"),
                         QStringLiteral("Show or hide the file transfer toolbar"));
    Editor1->setCheckable(true);
    Editor1->setChecked(true);
    raditionalview1 = makeAction("raditionalview1", QStringLiteral("Tra&ditional view"),
                                 QStringLiteral("Raised toolbars and buttons"));
    raditionalview1->setCheckable(true);
    Modernview1 = makeAction("Modernview1", QStringLiteral("&Modern view"),
                             QStringLiteral("Flat toolbars and buttons"));
    Modernview1->setCheckable(true);
    Modernview1->setChecked(true);
    transferlist1 = makeAction("transferlist1", QStringLiteral("T&ransfers list"),
                               QStringLiteral("Show or hide the list of file transfers"));
    transferlist1->setCheckable(true);
    transferlist1->setChecked(true);
    transferlist1->setShortcut(QKeySequence(Qt::SHIFT | Qt::Key_F1));
    transferlist1->setIcon(commandIcon(CommandIcon::TransfersList));

    // Enter sends from the message field itself; the menu only names the key.
    Send1 = makeAction("Send1", QStringLiteral("&Send\tEnter"),
                       QStringLiteral("Send current text message"));
    Send1->setIcon(commandIcon(CommandIcon::Send));
    Clear1 = makeAction("Clear1", QStringLiteral("&Clear"),
                        QStringLiteral("Clear new text message field"));
    Clear1->setIcon(commandIcon(CommandIcon::Clear));
    Exportmessageslog1 =
        makeAction("Exportmessageslog1", QStringLiteral("&Export messages to file..."),
                   QStringLiteral("Save the conversation to a file"));
    Classicmode1 = makeAction("Classicmode1", QStringLiteral("Cl&assic mode"),
                              QStringLiteral("Type straight into the conversation"));
    Classicmode1->setCheckable(true);
    Chatmode1 = makeAction("Chatmode1", QStringLiteral("C&hat mode"),
                           QStringLiteral("Compose each line and send it with Enter"));
    Chatmode1->setCheckable(true);
    Chatmode1->setChecked(true);

    Sendfile1 = makeAction("Sendfile1", QStringLiteral("&Send file..."),
                           QStringLiteral("Send some file to remote user"));
    Sendfile1->setShortcut(QKeySequence(Qt::Key_Insert));
    Sendfile1->setIcon(commandIcon(CommandIcon::SendFile));
    Recievefilesto1 = makeAction("Recievefilesto1", QStringLiteral("&Receive files to..."),
                                 QStringLiteral("Specify where incoming files should be placed"));
    Blocktransfers1 = makeAction("Blocktransfers1", QStringLiteral("&Block incoming files"),
                                 QStringLiteral("Ignore all incoming files"));
    Blocktransfers1->setCheckable(true);
    Stoptransfers1 = makeAction("Stoptransfers1", QStringLiteral("&Abort transfer           Del"),
                                QStringLiteral("Abort selected tranfer"));
    Stoptransfers1->setIcon(commandIcon(CommandIcon::Abort));
    Pausetransfer1 = makeAction("Pausetransfer1", QStringLiteral("&Pause transfer"),
                                QStringLiteral("Pause selected transfer"));
    Pausetransfer1->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_F1));
    Pausetransfer1->setIcon(commandIcon(CommandIcon::Pause));
    ResumeTransfer = makeAction("ResumeTransfer", QStringLiteral("Res&ume transfer"),
                                QStringLiteral("Resume selected transfer"));
    ResumeTransfer->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_F2));
    ResumeTransfer->setIcon(commandIcon(CommandIcon::Resume));
    Sendfile2 = makeAction("Sendfile2", QStringLiteral("Send file..."),
                           QStringLiteral("Send some file to remote user"));
    Aborttransfer1 = makeAction("Aborttransfer1", QStringLiteral("Abort transfer"),
                                QStringLiteral("Abort selected tranfer"));
    Aborttransfer1->setShortcut(QKeySequence(Qt::Key_Delete));
    Aborttransfer1->setShortcutContext(Qt::WidgetShortcut);
    Pausetransfer2 = makeAction("Pausetransfer2", QStringLiteral("Pause transfer"),
                                QStringLiteral("Pause selected transfer"));
    Resumetranfer1 = makeAction("Resumetranfer1", QStringLiteral("Resume tranfer"),
                                QStringLiteral("Resume selected transfer"));
    Sendfile3 = makeAction("Sendfile3", QStringLiteral("Send file..."),
                           QStringLiteral("Send some file to remote user"));
    Recievefilesto2 = makeAction("Recievefilesto2", QStringLiteral("Recieve files to..."),
                                 QStringLiteral("Specify where incoming files should be placed"));
    Blocktransfers2 = makeAction("Blocktransfers2", QStringLiteral("Block incoming files"),
                                 QStringLiteral("Ignore all incoming files"));
    Blocktransfers2->setCheckable(true);
    for (QAction* action : {Stoptransfers1, Pausetransfer1, ResumeTransfer, Aborttransfer1,
                            Pausetransfer2, Resumetranfer1}) {
        action->setEnabled(false);
    }

    HelpContentsItem = makeAction("HelpContentsItem", QStringLiteral("&Contents..."),
                                  QStringLiteral("Show the help contents"));
    HelpContentsItem->setShortcut(QKeySequence(Qt::Key_F1));
    HelpContentsItem->setIcon(commandIcon(CommandIcon::Help));
    Howto1 = makeAction("Howto1", QStringLiteral("&Quick start..."),
                        QStringLiteral("How to connect two computers"));
    Website1 = makeAction("Website1", QStringLiteral("&Visit our website..."),
                          QStringLiteral("Open the Velmora web site in your browser"));
    Website1->setIcon(commandIcon(CommandIcon::Link));
    HelpAboutItem = makeAction("HelpAboutItem", QStringLiteral("&About..."),
                               QStringLiteral("Program version and maker"));

    connect(Options1, &QAction::triggered, this, &TMainForm::Options1Click);
    connect(FileExitItem, &QAction::triggered, this, &TMainForm::FileExit);
    connect(Connections1, &QAction::triggered, this, &TMainForm::Connections1Click);
    connect(Editor1, &QAction::triggered, this, &TMainForm::Editor1Click);
    connect(raditionalview1, &QAction::triggered, this, &TMainForm::raditionalview1Click);
    connect(Modernview1, &QAction::triggered, this, &TMainForm::Modernview1Click);
    connect(transferlist1, &QAction::triggered, this, &TMainForm::transferlist1Click);
    connect(Classicmode1, &QAction::triggered, this, &TMainForm::Classicmode1Click);
    connect(Chatmode1, &QAction::triggered, this, &TMainForm::Chatmode1Click);
    connect(HelpContentsItem, &QAction::triggered, this, &TMainForm::HelpContents);
    connect(Howto1, &QAction::triggered, this, &TMainForm::Howto1Click);
    connect(Website1, &QAction::triggered, this, &TMainForm::Website1Click);
    connect(HelpAboutItem, &QAction::triggered, this, &TMainForm::HelpAbout);
}

void TMainForm::createMenus() {
    QMenu* file = menuBar()->addMenu(QStringLiteral("&File"));
    file->setObjectName(QStringLiteral("File1"));
    file->addAction(FileNewItem);
    file->addAction(ConnectionWizard1);
    file->addAction(FileOpenItem);
    Recentconnections1 = file->addMenu(QStringLiteral("R&ecent connections"));
    Recentconnections1->setObjectName(QStringLiteral("Recentconnections1"));
    Recentconnections1->menuAction()->setStatusTip(QStringLiteral("Open some recent connection"));
    file->addAction(Closeconnection1);
    file->addSeparator();
    file->addAction(FileSaveItem);
    file->addAction(FileSaveAsItem);
    file->addSeparator();
    file->addAction(FilePrintItem);
    file->addAction(FilePrintSetupItem);
    file->addSeparator();
    file->addAction(Options1);
    file->addSeparator();
    file->addAction(FileExitItem);

    QMenu* edit = menuBar()->addMenu(QStringLiteral("&Edit"));
    edit->setObjectName(QStringLiteral("Edit1"));
    edit->addAction(EditUndoItem);
    edit->addSeparator();
    edit->addAction(EditCutItem);
    edit->addAction(EditCopyItem);
    edit->addAction(EditPasteItem);

    QMenu* view = menuBar()->addMenu(QStringLiteral("&View"));
    view->setObjectName(QStringLiteral("View1"));
    QMenu* toolbars = view->addMenu(QStringLiteral("&Toolbars"));
    toolbars->setObjectName(QStringLiteral("Toolbars1"));
    toolbars->menuAction()->setStatusTip(QStringLiteral("Show or hide the toolbars"));
    toolbars->addAction(Connections1);
    toolbars->addAction(Editor1);
    view->addSeparator();
    view->addAction(raditionalview1);
    view->addAction(Modernview1);
    view->addSeparator();
    view->addAction(transferlist1);

    QMenu* message = menuBar()->addMenu(QStringLiteral("&Message"));
    message->setObjectName(QStringLiteral("Message1"));
    message->addAction(Send1);
    message->addAction(Clear1);
    message->addSeparator();
    message->addAction(Exportmessageslog1);
    message->addSeparator();
    message->addAction(Classicmode1);
    message->addAction(Chatmode1);

    QMenu* transfer = menuBar()->addMenu(QStringLiteral("&Transfer"));
    transfer->setObjectName(QStringLiteral("Transfer1"));
    transfer->addAction(Sendfile1);
    transfer->addAction(Recievefilesto1);
    transfer->addAction(Blocktransfers1);
    transfer->addSeparator();
    transfer->addAction(Stoptransfers1);
    transfer->addAction(Pausetransfer1);
    transfer->addAction(ResumeTransfer);

    QMenu* help = menuBar()->addMenu(QStringLiteral("&Help"));
    help->setObjectName(QStringLiteral("Help1"));
    help->addAction(HelpContentsItem);
    help->addAction(Howto1);
    help->addSeparator();
    help->addAction(Website1);
    help->addAction(HelpAboutItem);

    RecentMenu = new QMenu(this);
    RecentMenu->setObjectName(QStringLiteral("RecentMenu"));

    MessagesPopupMenu = new QMenu(this);
    MessagesPopupMenu->setObjectName(QStringLiteral("MessagesPopupMenu"));
    MessagesPopupMenu->addAction(EditCutItem);
    MessagesPopupMenu->addAction(EditCopyItem);
    MessagesPopupMenu->addAction(EditPasteItem);
    MessagesPopupMenu->addSeparator();
    MessagesPopupMenu->addAction(Exportmessageslog1);
    MessagesPopupMenu->addAction(FilePrintItem);
    MessagesPopupMenu->addAction(FilePrintSetupItem);

    TransfersPopupMenu = new QMenu(this);
    TransfersPopupMenu->setObjectName(QStringLiteral("TransfersPopupMenu"));
    TransfersPopupMenu->addAction(Sendfile2);
    TransfersPopupMenu->addSeparator();
    TransfersPopupMenu->addAction(Aborttransfer1);
    TransfersPopupMenu->addAction(Pausetransfer2);
    TransfersPopupMenu->addAction(Resumetranfer1);

    UsersPopupMenu = new QMenu(this);
    UsersPopupMenu->setObjectName(QStringLiteral("UsersPopupMenu"));
    UsersPopupMenu->addAction(Sendfile3);
    UsersPopupMenu->addAction(Recievefilesto2);
    UsersPopupMenu->addAction(Blocktransfers2);
}

void TMainForm::createToolBars() {
    ConnectionsToolBar = new QToolBar(QStringLiteral("Connections"), this);
    ConnectionsToolBar->setObjectName(QStringLiteral("ConnectionsToolBar"));
    ConnectionsToolBar->setMovable(false);
    ConnectionsToolBar->setIconSize(QSize(16, 16));
    // The toolbar is shown and hidden from the View menu only.
    ConnectionsToolBar->toggleViewAction()->setEnabled(false);
    ConnectionsToolBar->addAction(ConnectionWizard1);
    ConnectionsToolBar->addSeparator();
    ConnectionsToolBar->addAction(FileNewItem);
    ToolButton3 = new QToolButton(ConnectionsToolBar);
    ToolButton3->setObjectName(QStringLiteral("ToolButton3"));
    ToolButton3->setIcon(FileOpenItem->icon());
    ToolButton3->setToolTip(FileOpenItem->toolTip());
    ToolButton3->setStatusTip(FileOpenItem->statusTip());
    ToolButton3->setMenu(RecentMenu);
    ToolButton3->setPopupMode(QToolButton::MenuButtonPopup);
    ConnectionsToolBar->addWidget(ToolButton3);
    ConnectionsToolBar->addAction(FileSaveItem);
    ConnectionsToolBar->addAction(Closeconnection1);
    ConnectionsToolBar->addSeparator();
    ConnectionsToolBar->addAction(Options1);
    ConnectionsToolBar->addSeparator();
    ConnectionsToolBar->addAction(EditCutItem);
    ConnectionsToolBar->addAction(EditCopyItem);
    ConnectionsToolBar->addAction(EditPasteItem);
    ConnectionsToolBar->addSeparator();
    ConnectionsToolBar->addAction(Sendfile1);
    ConnectionsToolBar->addAction(transferlist1);
    ConnectionsToolBar->addSeparator();
    ConnectionsToolBar->addAction(HelpContentsItem);
    addToolBar(Qt::TopToolBarArea, ConnectionsToolBar);
}

void TMainForm::createCentralArea() {
    auto* conversation = new QWidget;
    auto* conversationLayout = new QVBoxLayout(conversation);
    conversationLayout->setContentsMargins(0, 0, 0, 0);
    conversationLayout->setSpacing(2);

    MessagesEdit = new QTextEdit;
    MessagesEdit->setObjectName(QStringLiteral("MessagesEdit"));
    MessagesEdit->setReadOnly(true);
    MessagesEdit->setAcceptRichText(false);
    MessagesEdit->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    MessagesEdit->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(MessagesEdit, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
        MessagesPopupMenu->popup(MessagesEdit->viewport()->mapToGlobal(at));
    });
    conversationLayout->addWidget(MessagesEdit, 1);

    PanelMsgEdit = new QWidget;
    PanelMsgEdit->setObjectName(QStringLiteral("PanelMsgEdit"));
    auto* panelLayout = new QHBoxLayout(PanelMsgEdit);
    panelLayout->setContentsMargins(0, 0, 0, 0);
    panelLayout->setSpacing(2);
    EditMessage =
        new QLineEdit(QStringLiteral("Please, connect before sending messages or files."));
    EditMessage->setObjectName(QStringLiteral("EditMessage"));
    panelLayout->addWidget(EditMessage, 1);
    SendSpeedButton = new QToolButton;
    SendSpeedButton->setObjectName(QStringLiteral("SendSpeedButton"));
    SendSpeedButton->setIcon(commandIcon(CommandIcon::Send));
    SendSpeedButton->setToolTip(QStringLiteral("Send"));
    SendSpeedButton->setStatusTip(QStringLiteral("Send current text message"));
    ClearSpeedButton = new QToolButton;
    ClearSpeedButton->setObjectName(QStringLiteral("ClearSpeedButton"));
    ClearSpeedButton->setIcon(commandIcon(CommandIcon::Clear));
    ClearSpeedButton->setToolTip(QStringLiteral("Clear"));
    ClearSpeedButton->setStatusTip(QStringLiteral("Clear new text message field"));
    panelLayout->addWidget(SendSpeedButton);
    panelLayout->addWidget(ClearSpeedButton);
    conversationLayout->addWidget(PanelMsgEdit);

    Panel3 = new QWidget;
    Panel3->setObjectName(QStringLiteral("Panel3"));
    auto* transfersLayout = new QVBoxLayout(Panel3);
    transfersLayout->setContentsMargins(0, 0, 0, 0);
    transfersLayout->setSpacing(0);
    CoolBar2 = new QWidget;
    CoolBar2->setObjectName(QStringLiteral("CoolBar2"));
    auto* bandLayout = new QHBoxLayout(CoolBar2);
    bandLayout->setContentsMargins(0, 0, 0, 0);
    ToolBar4 = new QToolBar(QStringLiteral("File transfer"));
    ToolBar4->setObjectName(QStringLiteral("ToolBar4"));
    ToolBar4->setIconSize(QSize(16, 16));
    ToolBar4->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    ToolBar4->addAction(Stoptransfers1);
    ToolBar4->addAction(Pausetransfer1);
    ToolBar4->addAction(ResumeTransfer);
    // The toolbar shows short captions; the menu items keep theirs.
    const QStringList shortCaptions{QStringLiteral("Abort"), QStringLiteral("Pause"),
                                    QStringLiteral("Resume")};
    const QList<QAction*> transferActions{Stoptransfers1, Pausetransfer1, ResumeTransfer};
    for (int index = 0; index < transferActions.size(); ++index) {
        if (auto* button =
                qobject_cast<QToolButton*>(ToolBar4->widgetForAction(transferActions[index]))) {
            button->setText(shortCaptions[index]);
        }
    }
    bandLayout->addWidget(ToolBar4);
    bandLayout->addStretch();
    transfersLayout->addWidget(CoolBar2);

    TransfersListView = new QTreeView;
    TransfersListView->setObjectName(QStringLiteral("TransfersListView"));
    TransfersListView->setRootIsDecorated(false);
    TransfersListView->setSelectionMode(QAbstractItemView::ExtendedSelection);
    TransfersListView->setSelectionBehavior(QAbstractItemView::SelectRows);
    TransfersListView->setEditTriggers(QAbstractItemView::NoEditTriggers);
    TransfersListView->setContextMenuPolicy(Qt::CustomContextMenu);
    TransfersListView->addAction(Aborttransfer1);
    connect(TransfersListView, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& at) {
                TransfersPopupMenu->popup(TransfersListView->viewport()->mapToGlobal(at));
            });
    TransfersListView->setModel(&m_peer->transfers().model());
    TransfersListView->setItemDelegate(new TransfersListDelegate(TransfersListView));
    TransfersListView->header()->setStretchLastSection(true);
    // The list's widths, widened where this font would cut the column's longest usual text
    // (and, in the first column, room for the two images before the name).
    const QStringList widestTexts{QString(),
                                  QStringLiteral("1023 MB"),
                                  QStringLiteral("1023 MB"),
                                  QStringLiteral("100 %"),
                                  QStringLiteral("00:00:00"),
                                  QStringLiteral("00:00:00")};
    const QFontMetrics metrics(TransfersListView->font());
    TransfersListView->setColumnWidth(
        0, TransfersModel::columnWidth(0) + TransfersListDelegate::ImagesWidth);
    for (int column = 1; column + 1 < m_peer->transfers().model().columnCount(); ++column) {
        const int fitting = metrics.horizontalAdvance(widestTexts.value(column)) + 12;
        TransfersListView->setColumnWidth(column,
                                          std::max(TransfersModel::columnWidth(column), fitting));
    }
    transfersLayout->addWidget(TransfersListView, 1);

    Splitter1 = new QSplitter(Qt::Vertical);
    Splitter1->setObjectName(QStringLiteral("Splitter1"));
    Splitter1->setChildrenCollapsible(false);
    Splitter1->addWidget(conversation);
    Splitter1->addWidget(Panel3);
    Splitter1->setStretchFactor(0, 1);
    Splitter1->setStretchFactor(1, 0);
    Splitter1->setSizes({250, 93});
    setCentralWidget(Splitter1);
}

void TMainForm::createStatusBar() {
    m_statusPanel0 = new QLabel(QStringLiteral("Not connected"));
    m_statusPanel0->setObjectName(QStringLiteral("StatusPanel0"));
    m_statusPanel0->setFixedWidth(150);
    m_statusPanel1 = new QLabel;
    m_statusPanel1->setObjectName(QStringLiteral("StatusPanel1"));
    statusBar()->setObjectName(QStringLiteral("StatusLine"));
    statusBar()->addWidget(m_statusPanel0);
    statusBar()->addWidget(m_statusPanel1, 1);
}

QString TMainForm::statusText(int panel) const {
    return panel == 0 ? m_statusPanel0->text() : m_statusPanel1->text();
}

bool TMainForm::event(QEvent* event) {
    if (event->type() == QEvent::StatusTip) {
        ShowHint(static_cast<QStatusTipEvent*>(event)->tip());
        return true;
    }
    return QMainWindow::event(event);
}

void TMainForm::ShowHint(const QString& hint) {
    m_statusPanel1->setText(hint.section(QLatin1Char('|'), -1));
}

void TMainForm::changeEvent(QEvent* event) {
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::ActivationChange && isActiveWindow() && !FirstActivationDone) {
        // Run after the activation has been delivered: the start-up window is modal.
        QMetaObject::invokeMethod(this, &TMainForm::FormActivate, Qt::QueuedConnection);
    }
}

void TMainForm::closeEvent(QCloseEvent* event) {
    bool canClose = false;
    FormCloseQuery(canClose);
    if (!canClose) {
        event->ignore();
        return;
    }
    FormClose();
    event->accept();
}

bool TMainForm::FormCreate() {
    if (m_startArgument.kind == StartArgument::Kind::Uninstall) {
        UninstallFeedback();
        return false;
    }
    HelpFilePath = QFileInfo(m_context.helpFolder).absoluteFilePath();
    m_helpAvailable = QFileInfo(HelpFilePath).isDir();
    if (!m_helpAvailable) {
        dialogs().showMessage(QStringLiteral("HTML Help is not installed on this PC."));
    }
    BlockIncoming = false;
    RecentConnections = RecentList::load(QDir(m_context.dataFolder).filePath("recents.list"));
    ConnectionModified = false;
    LoadOptions();
    UpdateView();
    if (m_options.CheckExtension == 1) {
        CheckFileAssociation();
    }
    ChangeConnectionStatus(false);
    return true;
}

void TMainForm::UninstallFeedback() {
    dialogs().ask(QuestionKind::Confirmation, UninstallQuestion, {DialogButton::Yes});
    if (m_context.openUrl) {
        m_context.openUrl(QUrl(FeedbackPage));
    }
}

void TMainForm::CheckFileAssociation() {
    if (m_context.association.isAssociated()) {
        return;
    }
    const DialogButton associate = dialogs().ask(QuestionKind::Warning, AssociationQuestion,
                                                 {DialogButton::Yes, DialogButton::No});
    if (associate == DialogButton::Yes) {
        // A folder that cannot be written skips the rest of the association silently.
        m_context.association.associate(m_context.programPath);
    }
    const DialogButton everyTime = dialogs().ask(QuestionKind::Confirmation, CheckEveryTimeQuestion,
                                                 {DialogButton::Yes, DialogButton::No});
    if (everyTime == DialogButton::No) {
        m_options.CheckExtension = 0;
        UpdateOptions();
    }
}

void TMainForm::FormActivate() {
    if (FirstActivationDone) {
        return;
    }
    FirstActivationDone = true;
    FillRecentMenus();
    LoadOptions();
    if (m_startArgument.kind == StartArgument::Kind::ConnectionFile) {
        emit connectionFileRequested(m_startArgument.fileName);
    } else if (m_options.Showloader == 1 && m_welcome != nullptr) {
        m_welcome->showModal();
    }
}

void TMainForm::FormCloseQuery(bool& CanClose) {
    if (ConnectionModified && m_options.AskExit == 1) {
        const DialogButton answer =
            dialogs().ask(QuestionKind::Warning, UnsavedConnectionQuestion,
                          {DialogButton::Yes, DialogButton::No, DialogButton::Cancel});
        if (answer == DialogButton::Cancel) {
            CanClose = false;
            return;
        }
        if (answer == DialogButton::Yes) {
            FileDialogRequest request;
            request.filter = ConnectionFilter;
            request.folder = QDir::current().filePath(QStringLiteral("Connections"));
            request.defaultSuffix = QStringLiteral("vmc");
            const QString fileName = dialogs().saveFileName(request);
            if (!fileName.isEmpty()) {
                emit saveConnectionRequested(fileName);
            }
        }
    }
    RecentList::save(QDir(m_context.dataFolder).filePath(QStringLiteral("recents.list")),
                     RecentConnections);
    RecentConnections.clear();
    m_peer->close();
    CanClose = true;
    FormClose();
}

void TMainForm::FormClose() {
    for (const QPointer<THelpWindow>& window : m_helpWindows) {
        if (window) {
            window->close();
        }
    }
    m_helpWindows.clear();
}

void TMainForm::FileExit() {
    close();
}

QString TMainForm::optionsPath() const {
    return OptionsFile(m_context.dataFolder).path();
}

void TMainForm::LoadOptions() {
    m_options = OptionsFile(m_context.dataFolder).load();
    Connections1->setChecked(m_options.c_Connections1 == 1);
    ConnectionsToolBar->setVisible(Connections1->isChecked());
    Editor1->setChecked(m_options.c_Editor1 == 1);
    CoolBar2->setVisible(Editor1->isChecked());
    UpdateInterface();
}

void TMainForm::UpdateOptions() {
    if (!OptionsFile(m_context.dataFolder).save(m_options) && !m_reportedUnsavedOptions) {
        // Said once a run: a folder that cannot be written would otherwise ask at every change.
        m_reportedUnsavedOptions = true;
        dialogs().showMessage(
            QStringLiteral("The settings cannot be saved to %1. Changes will be lost when Velmora "
                           "ends.")
                .arg(QDir::toNativeSeparators(optionsPath())));
    }
}

void TMainForm::UpdateInterface() {
    const bool transfers = m_options.TransfersList == 1;
    transferlist1->setChecked(transfers);
    Panel3->setVisible(transfers);
    const bool classic = m_options.Mode == 0;
    Classicmode1->setChecked(classic);
    Chatmode1->setChecked(!classic);
    PanelMsgEdit->setVisible(!classic);
    m_conversation->setClassicMode(classic);
    UpdateOptions();
}

void TMainForm::UpdateView() {
    if (m_options.View == 0 || m_options.View == 1) {
        raditionalview1->setChecked(m_options.View == 0);
        Modernview1->setChecked(m_options.View == 1);
    }
    const bool flat = m_options.View == 1;
    setFlat(ConnectionsToolBar, flat);
    setFlat(ToolBar4, flat);
    SendSpeedButton->setAutoRaise(flat);
    ClearSpeedButton->setAutoRaise(flat);
}

void TMainForm::Connections1Click() {
    ConnectionsToolBar->setVisible(Connections1->isChecked());
    m_options.c_Connections1 = Connections1->isChecked() ? 1 : 0;
    UpdateOptions();
}

void TMainForm::Editor1Click() {
    CoolBar2->setVisible(Editor1->isChecked());
    m_options.c_Editor1 = Editor1->isChecked() ? 1 : 0;
    UpdateOptions();
}

void TMainForm::raditionalview1Click() {
    if (raditionalview1->isChecked()) {
        m_options.View = 0;
    } else {
        m_options.View = 1;
        Modernview1->setChecked(true);
    }
    UpdateView();
}

void TMainForm::Modernview1Click() {
    if (Modernview1->isChecked()) {
        m_options.View = 1;
    } else {
        m_options.View = 0;
        raditionalview1->setChecked(true);
    }
    UpdateView();
}

void TMainForm::transferlist1Click() {
    m_options.TransfersList = transferlist1->isChecked() ? 1 : 0;
    UpdateInterface();
}

void TMainForm::Classicmode1Click() {
    m_options.Mode = Classicmode1->isChecked() ? 0 : 1;
    UpdateInterface();
}

void TMainForm::Chatmode1Click() {
    m_options.Mode = Chatmode1->isChecked() ? 1 : 0;
    UpdateInterface();
}

void TMainForm::ChangeConnectionStatus(bool connected) {
    for (QAction* action :
         {Closeconnection1, FileSaveItem, FileSaveAsItem, Send1, Sendfile1, Sendfile2, Sendfile3}) {
        action->setEnabled(connected);
    }
    SendSpeedButton->setEnabled(connected);
}

TDXPlayPlayer* TMainForm::GetOpponent() const {
    return m_peer->opponent();
}

void TMainForm::TrySuspendThreat() {
    m_peer->suspendSender();
}

void TMainForm::TryResumeThreat() {
    m_peer->resumeSender();
}

void TMainForm::FillRecentMenus() {
    for (QMenu* menu : {Recentconnections1, RecentMenu}) {
        menu->clear();
        if (RecentConnections.isEmpty()) {
            menu->addAction(ConnectionCommands::NoRecentConnections)->setEnabled(false);
            continue;
        }
        for (const QString& fileName : RecentConnections) {
            QAction* entry = menu->addAction(fileName);
            entry->setStatusTip(QStringLiteral("Open some recent connection"));
            connect(entry, &QAction::triggered, this, [this, entry] {
                if (m_connectionCommands) {
                    m_connectionCommands->RecentClick(entry->text());
                }
            });
        }
    }
}

void TMainForm::ShowHelpTopic(QWidget* owner, const QString& topic) {
    if (!m_helpAvailable) {
        dialogs().showMessage(HelpTopic::fallbackMessage(m_options.SupportEmail));
        return;
    }
    QWidget* parent = owner != nullptr ? owner : this;
    THelpWindow* window = nullptr;
    for (const QPointer<THelpWindow>& open : m_helpWindows) {
        if (open && open->parentWidget() == parent) {
            window = open;
        }
    }
    if (window == nullptr) {
        window = new THelpWindow(HelpFilePath, parent);
        m_helpWindows.emplace_back(window);
    }
    window->showTopic(topic);
}

void TMainForm::HelpContents() {
    ShowHelpTopic(this, HelpTopic::Introduction);
}

void TMainForm::Howto1Click() {
    ShowHelpTopic(this, HelpTopic::QuickStart);
}

void TMainForm::Website1Click() {
    if (m_context.openUrl) {
        m_context.openUrl(QUrl::fromUserInput(m_options.SiteURL));
    }
}

void TMainForm::HelpAbout() {
    if (m_aboutBox == nullptr) {
        return;
    }
    TrySuspendThreat();
    m_aboutBox->showModal(this);
    TryResumeThreat();
}

void TMainForm::Options1Click() {
    if (m_optionsForm == nullptr) {
        return;
    }
    TrySuspendThreat();
    m_optionsForm->showModal(this);
    TryResumeThreat();
}

void TMainForm::runWizardFromWelcome() {
    emit wizardRequested();
    ConnectionModified = true;
}

void TMainForm::runNewConnectionFromWelcome() {
    emit newConnectionRequested();
    ConnectionModified = true;
}

void TMainForm::Sendfile1Click() {
    if (!m_peer->isOpen()) {
        dialogs().showMessage(FileSender::NotConnectedMessage);
        return;
    }
    FileDialogRequest request;
    request.title = QStringLiteral("Please, select the file or files you want to send");
    request.filter = QStringLiteral("All files (*)");
    const QStringList paths = dialogs().openFileNames(request);
    if (paths.isEmpty()) {
        return;
    }
    m_peer->sendFiles(paths);
}

TransferEngine& TMainForm::transfers() const {
    return m_peer->transfers();
}

void TMainForm::Recievefilesto1Click() {
    TrySuspendThreat();
    const QString folder =
        dialogs().browseFolder(QStringLiteral("Place incoming files to..."), m_options.Path);
    if (!folder.isEmpty()) {
        m_options.Path = asFolderPath(QDir::toNativeSeparators(folder));
        UpdateOptions();
    }
    TryResumeThreat();
}

void TMainForm::Blocktransfers1Click() {
    BlockIncoming = Blocktransfers1->isChecked();
}

void TMainForm::Blocktransfers2Click() {
    BlockIncoming = Blocktransfers2->isChecked();
    Blocktransfers1->setChecked(BlockIncoming);
}

void TMainForm::UsersPopupMenuPopup() {
    Blocktransfers2->setChecked(BlockIncoming);
}

QList<int> TMainForm::selectedTransferRows() const {
    QList<int> rows;
    for (const QModelIndex& index : TransfersListView->selectionModel()->selectedRows()) {
        rows << index.row();
    }
    return rows;
}

void TMainForm::Stoptransfers1Click() {
    const QList<int> rows = selectedTransferRows();
    // Every selected line is either gone or aborted and unselected.
    TransfersListView->clearSelection();
    m_peer->transfers().abort(rows);
}

void TMainForm::Pausetransfer1Click() {
    m_peer->transfers().pause(selectedTransferRows());
}

void TMainForm::ResumeTransferClick() {
    m_peer->transfers().resume(selectedTransferRows());
}

void TMainForm::TransfersListViewChange() {
    const bool selected = TransfersListView->selectionModel()->hasSelection();
    for (QAction* action : {Stoptransfers1, Pausetransfer1, ResumeTransfer, Aborttransfer1,
                            Pausetransfer2, Resumetranfer1}) {
        action->setEnabled(selected);
    }
}

void TMainForm::setConnectionCommandsEnabled(bool enabled) {
    ChangeConnectionStatus(enabled);
}

void TMainForm::setStatusText(const QString& text) {
    m_statusPanel0->setText(text);
}

void TMainForm::appendConversationLine(const QString& line) {
    m_conversation->appendLine(line);
}

void TMainForm::setMessageFieldText(const QString& text) {
    EditMessage->setText(text);
}

void TMainForm::setWasConnected() {
    WasConnected = true;
}

void TMainForm::connectPeer() {
    connect(m_peer.get(), &Peer::chatLineReceived, m_conversation.get(),
            &Conversation::textReceived);
    connect(m_peer.get(), &Peer::keyStrokeArrived, m_conversation.get(),
            &Conversation::keyStrokeReceived);
    connect(m_peer.get(), &Peer::conversationLine, this,
            [this](const QString& line) { m_conversation->appendLine(line); });
    connect(m_peer.get(), &Peer::transferStatus, this,
            [this](const QString& text) { m_statusPanel1->setText(text); });
    connect(m_peer.get(), &Peer::userMessage, this,
            [this](const QString& text) { dialogs().showMessage(text); });
}

QString TMainForm::incomingFolder() const {
    return m_options.Path;
}

void TMainForm::setIncomingFolder(const QString& folder) {
    m_options.Path = asFolderPath(folder);
    UpdateOptions();
}

QString TMainForm::defaultIncomingFolder() const {
    return QDir(m_context.dataFolder).filePath(QStringLiteral("Incoming"));
}

bool TMainForm::blockIncoming() const {
    return BlockIncoming;
}

bool TMainForm::internalLoop() const {
    return m_options.InternalLoop == 1;
}

int TMainForm::blockSizeCode() const {
    return BlockSizeCode;
}

}  // namespace velmora
