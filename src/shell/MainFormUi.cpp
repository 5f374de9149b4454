#include "shell/MainFormUi.h"

#include "base/ProgramTexts.h"

#include "shell/Icons.h"
#include "shell/TransfersListDelegate.h"
#include "transfer/TransfersModel.h"

#include <QAction>
#include <QActionGroup>
#include <QFontMetrics>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QShortcut>
#include <QSplitter>
#include <QStatusBar>
#include <QTextEdit>
#include <QToolBar>
#include <QToolButton>
#include <QTreeView>
#include <QVBoxLayout>

#include <algorithm>

namespace velmora {

void MainFormUi::build(QMainWindow& window, TransfersModel& model) {
    m_window = &window;
    createActions();
    createMenus();
    createToolBars();
    createCentralArea(model);
    createStatusBar();
}

void MainFormUi::setFlat(bool flat) {
    for (const QToolBar* toolBar : {ConnectionsToolBar, ToolBar4}) {
        for (QToolButton* button : toolBar->findChildren<QToolButton*>()) {
            button->setAutoRaise(flat);
        }
    }
    SendSpeedButton->setAutoRaise(flat);
    ClearSpeedButton->setAutoRaise(flat);
}

void MainFormUi::setConnectionCommandsEnabled(bool enabled) {
    for (QAction* action :
         {Closeconnection1, FileSaveItem, FileSaveAsItem, Send1, Sendfile1, Sendfile2, Sendfile3}) {
        action->setEnabled(enabled);
    }
    SendSpeedButton->setEnabled(enabled);
}

QAction* MainFormUi::makeAction(const char* name, const QString& caption, const QString& hint) {
    auto* action = new QAction(caption, m_window);
    action->setObjectName(QString::fromLatin1(name));
    action->setStatusTip(hint);
    action->setToolTip(QString(caption).remove(QLatin1Char('&')).remove(QStringLiteral("...")));
    return action;
}
void MainFormUi::createActions() {
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
    // The talk modes are radio items: one of them is always the chosen one.
    auto* talkModes = new QActionGroup(m_window);
    talkModes->setExclusionPolicy(QActionGroup::ExclusionPolicy::Exclusive);
    talkModes->addAction(Classicmode1);
    talkModes->addAction(Chatmode1);

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
                                QStringLiteral("Abort selected transfer"));
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
                                QStringLiteral("Abort selected transfer"));
    Aborttransfer1->setShortcut(QKeySequence(Qt::Key_Delete));
    Aborttransfer1->setShortcutContext(Qt::WidgetShortcut);
    Pausetransfer2 = makeAction("Pausetransfer2", QStringLiteral("Pause transfer"),
                                QStringLiteral("Pause selected transfer"));
    Resumetranfer1 = makeAction("Resumetranfer1", QStringLiteral("Resume transfer"),
                                QStringLiteral("Resume selected transfer"));
    Sendfile3 = makeAction("Sendfile3", QStringLiteral("Send file..."),
                           QStringLiteral("Send some file to remote user"));
    Recievefilesto2 = makeAction("Recievefilesto2", QStringLiteral("Receive files to..."),
                                 QStringLiteral("Specify where incoming files should be placed"));
    Blocktransfers2 = makeAction("Blocktransfers2", QStringLiteral("Block incoming files"),
                                 QStringLiteral("Ignore all incoming files"));
    Blocktransfers2->setCheckable(true);
    Removetransfer1 =
        makeAction("Removetransfer1", QStringLiteral("Re&move from list"),
                   QStringLiteral("Remove the selected ended transfers from the list"));
    Removetransfer1->setIcon(commandIcon(CommandIcon::Abort));
    Sendagain1 = makeAction("Sendagain1", QStringLiteral("Send a&gain"),
                            QStringLiteral("Send the files of the selected ended transfers again"));
    Sendagain1->setIcon(commandIcon(CommandIcon::SendFile));
    Clearended1 = makeAction("Clearended1", QStringLiteral("&Clear ended transfers"),
                             QStringLiteral("Remove every ended transfer from the list"));
    Removetransfer2 =
        makeAction("Removetransfer2", QStringLiteral("Remove from list"),
                   QStringLiteral("Remove the selected ended transfers from the list"));
    Sendagain2 = makeAction("Sendagain2", QStringLiteral("Send again"),
                            QStringLiteral("Send the files of the selected ended transfers again"));
    for (QAction* action :
         {Stoptransfers1, Pausetransfer1, ResumeTransfer, Aborttransfer1, Pausetransfer2,
          Resumetranfer1, Removetransfer1, Sendagain1, Clearended1, Removetransfer2, Sendagain2}) {
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
}
void MainFormUi::createMenus() {
    QMenu* file = m_window->menuBar()->addMenu(QStringLiteral("&File"));
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

    QMenu* edit = m_window->menuBar()->addMenu(QStringLiteral("&Edit"));
    edit->setObjectName(QStringLiteral("Edit1"));
    edit->addAction(EditUndoItem);
    edit->addSeparator();
    edit->addAction(EditCutItem);
    edit->addAction(EditCopyItem);
    edit->addAction(EditPasteItem);

    QMenu* view = m_window->menuBar()->addMenu(QStringLiteral("&View"));
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

    QMenu* message = m_window->menuBar()->addMenu(QStringLiteral("&Message"));
    message->setObjectName(QStringLiteral("Message1"));
    message->addAction(Send1);
    message->addAction(Clear1);
    message->addSeparator();
    message->addAction(Exportmessageslog1);
    message->addSeparator();
    message->addAction(Classicmode1);
    message->addAction(Chatmode1);

    QMenu* transfer = m_window->menuBar()->addMenu(QStringLiteral("&Transfer"));
    transfer->setObjectName(QStringLiteral("Transfer1"));
    transfer->addAction(Sendfile1);
    transfer->addAction(Recievefilesto1);
    transfer->addAction(Blocktransfers1);
    transfer->addSeparator();
    transfer->addAction(Stoptransfers1);
    transfer->addAction(Pausetransfer1);
    transfer->addAction(ResumeTransfer);
    transfer->addSeparator();
    transfer->addAction(Removetransfer1);
    transfer->addAction(Sendagain1);
    transfer->addAction(Clearended1);

    QMenu* help = m_window->menuBar()->addMenu(QStringLiteral("&Help"));
    help->setObjectName(QStringLiteral("Help1"));
    help->addAction(HelpContentsItem);
    help->addAction(Howto1);
    help->addSeparator();
    help->addAction(Website1);
    help->addAction(HelpAboutItem);

    RecentMenu = new QMenu(m_window);
    RecentMenu->setObjectName(QStringLiteral("RecentMenu"));

    MessagesPopupMenu = new QMenu(m_window);
    MessagesPopupMenu->setObjectName(QStringLiteral("MessagesPopupMenu"));
    MessagesPopupMenu->addAction(EditCutItem);
    MessagesPopupMenu->addAction(EditCopyItem);
    MessagesPopupMenu->addAction(EditPasteItem);
    MessagesPopupMenu->addSeparator();
    MessagesPopupMenu->addAction(Exportmessageslog1);
    MessagesPopupMenu->addAction(FilePrintItem);
    MessagesPopupMenu->addAction(FilePrintSetupItem);

    TransfersPopupMenu = new QMenu(m_window);
    TransfersPopupMenu->setObjectName(QStringLiteral("TransfersPopupMenu"));
    TransfersPopupMenu->addAction(Sendfile2);
    TransfersPopupMenu->addSeparator();
    TransfersPopupMenu->addAction(Aborttransfer1);
    TransfersPopupMenu->addAction(Pausetransfer2);
    TransfersPopupMenu->addAction(Resumetranfer1);
    TransfersPopupMenu->addSeparator();
    TransfersPopupMenu->addAction(Removetransfer2);
    TransfersPopupMenu->addAction(Sendagain2);
    TransfersPopupMenu->addAction(Clearended1);

    UsersPopupMenu = new QMenu(m_window);
    UsersPopupMenu->setObjectName(QStringLiteral("UsersPopupMenu"));
    UsersPopupMenu->addAction(Sendfile3);
    UsersPopupMenu->addAction(Recievefilesto2);
    UsersPopupMenu->addAction(Blocktransfers2);
}
void MainFormUi::createToolBars() {
    ConnectionsToolBar = new QToolBar(QStringLiteral("Connections"), m_window);
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
    m_window->addToolBar(Qt::TopToolBarArea, ConnectionsToolBar);
}
void MainFormUi::createCentralArea(TransfersModel& model) {
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
    QObject::connect(MessagesEdit, &QWidget::customContextMenuRequested, m_window,
                     [this](const QPoint& at) {
                         MessagesPopupMenu->popup(MessagesEdit->viewport()->mapToGlobal(at));
                     });
    conversationLayout->addWidget(MessagesEdit, 1);

    PanelMsgEdit = new QWidget;
    PanelMsgEdit->setObjectName(QStringLiteral("PanelMsgEdit"));
    auto* panelLayout = new QHBoxLayout(PanelMsgEdit);
    panelLayout->setContentsMargins(0, 0, 0, 0);
    panelLayout->setSpacing(2);
    EditMessage = new QLineEdit(texts::ConnectPrompt);
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
    // Buttons of their own with short fixed captions: a button bound to the menu item would
    // take the item's longer text whenever the item changes, and move the buttons under the
    // mouse. Each runs its menu item and follows its enabled state.
    const QList<std::pair<QAction*, QString>> buttons{
        {Stoptransfers1, QStringLiteral("Abort")},  {Pausetransfer1, QStringLiteral("Pause")},
        {ResumeTransfer, QStringLiteral("Resume")}, {Removetransfer1, QStringLiteral("Remove")},
        {Sendagain1, QStringLiteral("Send again")}, {Clearended1, QStringLiteral("Clear")}};
    for (const auto& [action, caption] : buttons) {
        auto* button = new QToolButton(ToolBar4);
        button->setObjectName(action->objectName() + QStringLiteral("Button"));
        button->setText(caption);
        button->setIcon(action->icon());
        button->setToolTip(action->toolTip());
        button->setStatusTip(action->statusTip());
        button->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
        button->setEnabled(action->isEnabled());
        QObject::connect(button, &QToolButton::clicked, action, &QAction::trigger);
        QObject::connect(action, &QAction::enabledChanged, button, &QToolButton::setEnabled);
        ToolBar4->addWidget(button);
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
    // Del acts on every selected line, whatever its state; the pop-up's Abort item shows the
    // key but acts only while its menu is open.
    TransfersDeleteKey = new QShortcut(QKeySequence(Qt::Key_Delete), TransfersListView, nullptr,
                                       nullptr, Qt::WidgetShortcut);
    TransfersDeleteKey->setObjectName(QStringLiteral("TransfersDeleteKey"));
    QObject::connect(TransfersListView, &QWidget::customContextMenuRequested, m_window,
                     [this](const QPoint& at) {
                         TransfersPopupMenu->popup(TransfersListView->viewport()->mapToGlobal(at));
                     });
    TransfersListView->setModel(&model);
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
    for (int column = 1; column + 1 < model.columnCount(); ++column) {
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
    m_window->setCentralWidget(Splitter1);
}
void MainFormUi::createStatusBar() {
    StatusPanel0 = new QLabel(texts::NotConnected);
    StatusPanel0->setObjectName(QStringLiteral("StatusPanel0"));
    // Wide enough for each state of the connection in the window's font; a longer connect step
    // widens it while it is shown.
    const QFontMetrics metrics(StatusPanel0->font());
    int widest = 150;
    for (const QString& state : {texts::NotConnected, texts::WaitingForRemoteUser}) {
        widest =
            std::max(widest, metrics.horizontalAdvance(state) + 2 * metrics.averageCharWidth());
    }
    StatusPanel0->setMinimumWidth(widest);
    StatusPanel1 = new QLabel;
    StatusPanel1->setObjectName(QStringLiteral("StatusPanel1"));
    m_window->statusBar()->setObjectName(QStringLiteral("StatusLine"));
    m_window->statusBar()->addWidget(StatusPanel0);
    m_window->statusBar()->addWidget(StatusPanel1, 1);
}

}  // namespace velmora
