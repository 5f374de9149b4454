#pragma once

#include <QString>

class QAction;
class QLabel;
class QLineEdit;
class QMainWindow;
class QMenu;
class QShortcut;
class QSplitter;
class QTextEdit;
class QToolBar;
class QToolButton;
class QTreeView;
class QWidget;

namespace velmora {

class TransfersModel;

// The main window's widgets, menus, toolbars and actions, with their captions, access keys,
// shortcuts, hints and images. Built once by the window, which keeps it to itself; the window
// connects the commands to what they do.
struct MainFormUi {
    // Builds everything into the window, the transfers list over the model.
    void build(QMainWindow& window, TransfersModel& model);
    // The modern view's flat buttons, or the traditional raised ones.
    void setFlat(bool flat);
    // The commands that need an open session.
    void setConnectionCommandsEnabled(bool enabled);

    // Widgets.
    QToolBar* ConnectionsToolBar = nullptr;  // the band CoolBar1
    QToolButton* ToolButton3 = nullptr;      // Open connections, with the recent list on its arrow
    QTextEdit* MessagesEdit = nullptr;
    QWidget* PanelMsgEdit = nullptr;
    QLineEdit* EditMessage = nullptr;
    QToolButton* SendSpeedButton = nullptr;
    QToolButton* ClearSpeedButton = nullptr;
    QSplitter* Splitter1 = nullptr;
    QWidget* Panel3 = nullptr;
    QWidget* CoolBar2 = nullptr;
    QToolBar* ToolBar4 = nullptr;
    QTreeView* TransfersListView = nullptr;
    QMenu* Recentconnections1 = nullptr;
    QMenu* RecentMenu = nullptr;
    QMenu* MessagesPopupMenu = nullptr;
    QMenu* TransfersPopupMenu = nullptr;
    QMenu* UsersPopupMenu = nullptr;

    // File menu.
    QAction* FileNewItem = nullptr;
    QAction* ConnectionWizard1 = nullptr;
    QAction* FileOpenItem = nullptr;
    QAction* Closeconnection1 = nullptr;
    QAction* FileSaveItem = nullptr;
    QAction* FileSaveAsItem = nullptr;
    QAction* FilePrintItem = nullptr;
    QAction* FilePrintSetupItem = nullptr;
    QAction* Options1 = nullptr;
    QAction* FileExitItem = nullptr;
    // Edit menu.
    QAction* EditUndoItem = nullptr;
    QAction* EditCutItem = nullptr;
    QAction* EditCopyItem = nullptr;
    QAction* EditPasteItem = nullptr;
    // View menu.
    QAction* Connections1 = nullptr;
    QAction* Editor1 = nullptr;
    QAction* raditionalview1 = nullptr;
    QAction* Modernview1 = nullptr;
    QAction* transferlist1 = nullptr;
    // Message menu.
    QAction* Send1 = nullptr;
    QAction* Clear1 = nullptr;
    QAction* Exportmessageslog1 = nullptr;
    QAction* Classicmode1 = nullptr;
    QAction* Chatmode1 = nullptr;
    // Transfer menu and the pop-up menus of the transfers and of the users.
    QAction* Sendfile1 = nullptr;
    QAction* Recievefilesto1 = nullptr;
    QAction* Blocktransfers1 = nullptr;
    QAction* Stoptransfers1 = nullptr;
    QAction* Pausetransfer1 = nullptr;
    QAction* ResumeTransfer = nullptr;
    QAction* Sendfile2 = nullptr;
    QAction* Aborttransfer1 = nullptr;
    QAction* Pausetransfer2 = nullptr;
    QAction* Resumetranfer1 = nullptr;
    // What is left to do with ended lines: remove them, send their files again, clear them all.
    QAction* Removetransfer1 = nullptr;
    QAction* Sendagain1 = nullptr;
    QAction* Clearended1 = nullptr;
    QAction* Removetransfer2 = nullptr;
    QAction* Sendagain2 = nullptr;
    // Del in the transfers list: aborts the selected running lines and removes the ended ones.
    QShortcut* TransfersDeleteKey = nullptr;
    QAction* Sendfile3 = nullptr;
    QAction* Recievefilesto2 = nullptr;
    QAction* Blocktransfers2 = nullptr;
    // Help menu.
    QAction* HelpContentsItem = nullptr;
    QAction* Howto1 = nullptr;
    QAction* Website1 = nullptr;
    QAction* HelpAboutItem = nullptr;
    QLabel* StatusPanel0 = nullptr;  // the connection's state
    QLabel* StatusPanel1 = nullptr;  // hints and notices

private:
    QAction* makeAction(const char* name, const QString& caption, const QString& hint);
    void createActions();
    void createMenus();
    void createToolBars();
    void createCentralArea(TransfersModel& model);
    void createStatusBar();

    QMainWindow* m_window = nullptr;
};

}  // namespace velmora
