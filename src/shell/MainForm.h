#pragma once

#include "base/Options.h"
#include "connections/ConnectionFormContext.h"
#include "connections/ConnectionStatusView.h"
#include "shell/MainFormContext.h"
#include "shell/StartArgument.h"
#include "transfer/TransferServices.h"

#include <QMainWindow>
#include <QPointer>

#include <memory>
#include <vector>

class QAction;
class QLabel;
class QLineEdit;
class QMenu;
class QSplitter;
class QTextEdit;
class QToolBar;
class QToolButton;
class QTreeView;
class QWidget;

namespace velmora {

class ConnectionCommands;
class ConnectionStatus;
class Conversation;
class Peer;
struct MainFormUi;
class TransferCommands;
struct TDXPlayPlayer;
class TAboutBox;
class TConnectionForm;
class THelpWindow;
class TOptionsForm;
class TransferEngine;
class TWelcome;
class TWizardForm;

// The main window: the application's single top-level window and the owner of its run-time
// state: the session component, the conversation, the transfers and the connection commands.
class TMainForm : public QMainWindow, private ConnectionStatusView, private TransferSettings {
    Q_OBJECT

public:
    explicit TMainForm(MainFormContext context, QWidget* parent = nullptr);
    ~TMainForm() override;

    // The windows created after this one; not owned. The connection commands start here.
    void attachWindows(TConnectionForm* connectionForm, TOptionsForm* optionsForm,
                       TWizardForm* wizardForm, TWelcome* welcome, TAboutBox* aboutBox);
    // What the New connection dialog and the wizard are built with.
    ConnectionFormContext connectionFormContext();

    // Start-up steps; false when the program is to end (the uninstall feedback step: the
    // context's quit runs once its question has been answered).
    bool FormCreate();
    // First-activation steps; later calls do nothing.
    void FormActivate();
    // Decides whether the window may close, asking what must be asked; `decided` is given the
    // outcome, once the questions have been answered. Closing is then under way (the session
    // ended, the recent list written).
    void FormCloseQuery(std::function<void(bool canClose)> decided);
    void FormClose();
    void FileExit();

    // Options.
    Options& options() { return m_options; }
    const Options& options() const { return m_options; }
    QString optionsPath() const;
    void LoadOptions();
    void UpdateOptions();
    void UpdateInterface();
    void UpdateView();

    // Enables or disables the commands that need an open session.
    void ChangeConnectionStatus(bool connected);
    // The other participant of the session (see opponentOf); null when there is none.
    TDXPlayPlayer* GetOpponent() const;
    void TrySuspendThreat();
    void TryResumeThreat();
    // Fills the File > Recent connections submenu and RecentMenu from RecentConnections.
    void FillRecentMenus();
    // The entries of the recent connections' pop-up menu.
    QList<QAction*> recentMenuEntries() const;

    // Help: opens a topic in the help window over owner, or shows the fallback message.
    void ShowHelpTopic(QWidget* owner, const QString& topic);
    bool helpAvailable() const { return m_helpAvailable; }
    void HelpContents();
    void Howto1Click();
    void Website1Click();
    void HelpAbout();
    void Options1Click();

    // Called by the start-up window's links to the wizard and the New connection dialog.
    void runWizardFromWelcome();
    void runNewConnectionFromWelcome();

    // Transfers.
    Conversation& conversation() const { return *m_conversation; }
    Peer& peer() const { return *m_peer; }
    TransferEngine& transfers() const;
    // Null until attachWindows.
    ConnectionCommands* connectionCommands() const { return m_connectionCommands.get(); }

    // The window's commands by the object name of their menu item (for example "Sendfile1"), for
    // scripts and tests that drive the window as a user does: a command runs as its click does.
    void runCommand(const QString& name);
    bool commandEnabled(const QString& name) const;
    bool commandChecked(const QString& name) const;

    const MainFormContext& context() const { return m_context; }
    DialogService& dialogs() const { return *m_context.dialogs; }
    const StartArgument& startArgument() const { return m_startArgument; }
    QString statusText(int panel) const;

    // The window's state, read-only.
    bool connectionModified() const { return ConnectionModified; }
    bool incomingBlocked() const;
    const QStringList& recentConnections() const { return RecentConnections; }
    bool firstActivationDone() const { return FirstActivationDone; }

signals:
    // A connection file is to be opened (command line, recent entry).
    void connectionFileRequested(const QString& fileName);
    // The current connection is to be saved to the file (close query).
    void saveConnectionRequested(const QString& fileName);
    // The start-up window's links: show the wizard or the New connection dialog modally.
    void wizardRequested();
    void newConnectionRequested();

protected:
    bool event(QEvent* event) override;
    void changeEvent(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    // ConnectionStatusView
    void setConnectionCommandsEnabled(bool enabled) override;
    void setStatusText(const QString& text) override;
    void appendConversationLine(const QString& line) override;
    void setMessageFieldText(const QString& text) override;
    void setWasConnected() override;
    // TransferSettings
    QString incomingFolder() const override;
    void setIncomingFolder(const QString& folder) override;
    QString defaultIncomingFolder() const override;
    bool blockIncoming() const override;
    bool internalLoop() const override;
    int blockSizeCode() const override;

    void connectPeer();
    // Desktop notifications and the taskbar's hint for what arrives while the window is not
    // active, and files dropped on the window.
    void connectArrivals();
    void tellUser(const QString& summary, const QString& body, const QString& category);
    // Closing while files move: asks whether to wait for them, close now or stay; `decided` is
    // given true to close now. Waiting closes the window by itself once they are done
    // (closeWhenFilesDone).
    void closeDespiteUnfinishedFiles(std::function<void(bool closeNow)> decided);
    // After the close questions: the session ends, the recent list is written.
    void finishClosing();
    void closeWhenFilesDone();
    // The session component holds a connection that the save commands can write to a file.
    bool connectionCanBeSaved() const;
    QAction& command(const QString& name) const;
    void connectCommands();

    // The hint handler: the long part of a two-part hint into status panel 1.
    void ShowHint(const QString& hint);
    // The questions of a start (the file association), after the word on missing help; then
    // the first activation, when it came meanwhile.
    void askStartUpQuestions();
    void startUpQuestionsAnswered();

    void Connections1Click();
    void Editor1Click();
    void raditionalview1Click();
    void Modernview1Click();
    void transferlist1Click();
    void Classicmode1Click();
    void Chatmode1Click();

    // Shared state of the main window; the connection commands and dialogs change it through the
    // contexts they are built with.
    bool ConnectionModified = false;
    bool WasConnected = false;
    int BlockSizeCode = 5;  // the file sender's block size, set at each connect
    QStringList RecentConnections;
    QString HelpFilePath;
    bool FirstActivationDone = false;
    bool m_startUpQuestionsPending = false;
    bool m_activationWaits = false;  // the first activation came while they were open
    // A close asks first: the close event is refused while the questions are open, and the
    // window closes again once they allow it.
    bool m_closeQuestionsOpen = false;
    bool m_closeAllowed = false;
    bool m_inCloseEvent = false;

    MainFormContext m_context;
    StartArgument m_startArgument;
    Options m_options;
    bool m_helpAvailable = false;
    bool m_reportedUnsavedOptions = false;
    bool m_closeWhenFilesDone = false;
    std::unique_ptr<Peer> m_peer;
    std::unique_ptr<Conversation> m_conversation;
    std::unique_ptr<ConnectionStatus> m_connectionStatus;
    std::unique_ptr<ConnectionCommands> m_connectionCommands;
    TConnectionForm* m_connectionForm = nullptr;
    TWizardForm* m_wizardForm = nullptr;
    TOptionsForm* m_optionsForm = nullptr;
    TWelcome* m_welcome = nullptr;
    TAboutBox* m_aboutBox = nullptr;
    std::unique_ptr<MainFormUi> m_ui;
    TransferCommands* m_transferCommands = nullptr;  // a child
    std::vector<QPointer<THelpWindow>> m_helpWindows;
    // Typing in classic mode was told since the window was last active.
    bool m_toldOfTyping = false;
};

}  // namespace velmora
