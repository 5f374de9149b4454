#include "shell/MainForm.h"

#include "shell/MainFormUi.h"
#include "shell/StartupQuestions.h"
#include "shell/TransferCommands.h"

#include "base/DialogService.h"
#include "base/HelpTopic.h"
#include "base/ModalDialog.h"
#include "base/ProgramTexts.h"
#include "base/RecentList.h"
#include "connections/ConnectionCommands.h"
#include "connections/ConnectionStatus.h"
#include "connections/RecentLists.h"
#include "conversation/Conversation.h"
#include "peer/Opponent.h"
#include "peer/Peer.h"
#include "shell/AboutBox.h"
#include "shell/DesktopNotifier.h"
#include "shell/FileDrop.h"
#include "shell/HelpWindow.h"
#include "shell/Icons.h"
#include "shell/OptionsForm.h"
#include "shell/TransfersListDelegate.h"
#include "shell/Welcome.h"
#include "transfer/FileIcon.h"
#include "transfer/Transfer.h"
#include "transfer/TransferEngine.h"
#include "transfer/TransfersModel.h"

#include "session/DXPlay.h"
#include "session/DXPlayError.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QFontMetrics>
#include <QHeaderView>
#include <QKeyEvent>
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

#include <stdexcept>

namespace velmora {

namespace {

const QString UnsavedConnectionQuestion =
    QStringLiteral("Current connection is not saved! Do you want to save it now?");

const QString ClosesWhenFilesDoneNotice = QStringLiteral("Velmora closes when the files are done.");

// Closing while files move: which ones, and what each answer does.
QString unfinishedFilesQuestion(const QStringList& files) {
    constexpr int Named = 5;
    QString names = files.mid(0, Named).join(QStringLiteral(", "));
    if (files.size() > Named) {
        names += QStringLiteral(" and %1 more").arg(files.size() - Named);
    }
    const bool one = files.size() == 1;
    return QStringLiteral(
               "%1 still being sent or received: %2.\n\n"
               "Yes: wait until %3 done, then close Velmora.\n"
               "No: close now and cut %4 off.\n"
               "Cancel: keep Velmora open.")
        .arg(one ? QStringLiteral("1 file is") : QStringLiteral("%1 files are").arg(files.size()),
             names, one ? QStringLiteral("it is") : QStringLiteral("they are"),
             one ? QStringLiteral("it") : QStringLiteral("them"));
}

// Folders in the options end with the separator, as they do when read.
QString asFolderPath(const QString& folder) {
    return folder.endsWith(QDir::separator()) ? folder : folder + QDir::separator();
}

}  // namespace

TMainForm::TMainForm(MainFormContext context, QWidget* parent)
    : QMainWindow(parent),
      m_context(std::move(context)),
      m_startArgument(StartArgument::parse(m_context.arguments)),
      m_options(Options::defaults(m_context.dataFolder)),
      m_ui(std::make_unique<MainFormUi>()) {
    setObjectName(QStringLiteral("MainForm"));
    Q_ASSERT(m_context.dialogs != nullptr && m_context.sessionSystem != nullptr);
    TransferSettings& transferSettings = *this;
    m_peer = std::make_unique<Peer>(*m_context.sessionSystem, transferSettings);
    setWindowTitle(QStringLiteral("Oskvale Velmora"));
    setWindowIcon(commandIcon(CommandIcon::Application));
    m_ui->build(*this, m_peer->transfers().model());
    ConversationHooks hooks;
    hooks.classicMode = [this] { return m_ui->Classicmode1->isChecked(); };
    hooks.showNotice = [this](const QString& text) { m_ui->StatusPanel1->setText(text); };
    hooks.suspendSender = [this] { TrySuspendThreat(); };
    // Also run by a dialog's continuation, which may come after the window has gone.
    hooks.resumeSender = whileAlive(this, [this] { TryResumeThreat(); });
    m_conversation = std::make_unique<Conversation>(*m_ui->MessagesEdit, *m_ui->EditMessage,
                                                    *m_peer, dialogs(), std::move(hooks));
    ConnectionStatusView& statusView = *this;
    m_connectionStatus = std::make_unique<ConnectionStatus>(*m_peer, statusView);
    connectPeer();
    connectCommands();
    TransferCommands::Context transferContext;
    transferContext.peer = m_peer.get();
    transferContext.dialogs = m_context.dialogs;
    transferContext.ui = m_ui.get();
    transferContext.incomingFolder = [this] { return m_options.Path; };
    transferContext.setIncomingFolder = [this](const QString& folder) {
        setIncomingFolder(folder);
    };
    transferContext.sendFolder = [this] { return m_options.SendFolder; };
    transferContext.setSendFolder = [this](const QString& folder) {
        m_options.SendFolder = folder;
        UpdateOptions();
    };
    m_transferCommands = new TransferCommands(std::move(transferContext), this);
    connectArrivals();
    resize(550, 420);
    if (const QScreen* screen = QApplication::primaryScreen()) {
        move(screen->availableGeometry().center() - rect().center());
    }
    // After the first run: where the user left the window (nothing restored when none is kept).
    const WindowPlacement placement = OptionsFile(m_context.dataFolder).loadPlacement();
    restoreGeometry(placement.geometry);
    m_ui->Splitter1->restoreState(placement.splitter);
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
    commands.peer = m_peer.get();
    commands.dialogs = m_context.dialogs;
    commands.connectionForm = connectionForm;
    commands.wizardForm = wizardForm;
    commands.connectionModified = &ConnectionModified;
    commands.wasConnected = &WasConnected;
    commands.recentConnections = &RecentConnections;
    commands.suspendSender = [this] { TrySuspendThreat(); };
    // Also run by a dialog's continuation, which may come after the window has gone.
    commands.resumeSender = whileAlive(this, [this] { TryResumeThreat(); });
    commands.rebuildRecentMenus = [this] { FillRecentMenus(); };
    m_connectionCommands = std::make_unique<ConnectionCommands>(std::move(commands));
    ConnectionCommands* connection = m_connectionCommands.get();
    connect(m_ui->FileNewItem, &QAction::triggered, this, [connection] { connection->FileNew(); });
    connect(m_ui->ConnectionWizard1, &QAction::triggered, this,
            [connection] { connection->ConnectionWizard1Click(); });
    connect(m_ui->FileOpenItem, &QAction::triggered, this,
            [connection] { connection->FileOpen(); });
    connect(m_ui->ToolButton3, &QToolButton::clicked, this,
            [connection] { connection->ToolButton3Click(); });
    connect(m_ui->FileSaveItem, &QAction::triggered, this,
            [connection] { connection->FileSave(); });
    connect(m_ui->FileSaveAsItem, &QAction::triggered, this,
            [connection] { connection->FileSaveAs(); });
    connect(m_ui->Closeconnection1, &QAction::triggered, this,
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
    form.peer = m_peer.get();
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
    connect(m_ui->Options1, &QAction::triggered, this, &TMainForm::Options1Click);
    connect(m_ui->FileExitItem, &QAction::triggered, this, &TMainForm::FileExit);
    connect(m_ui->Connections1, &QAction::triggered, this, &TMainForm::Connections1Click);
    connect(m_ui->Editor1, &QAction::triggered, this, &TMainForm::Editor1Click);
    connect(m_ui->raditionalview1, &QAction::triggered, this, &TMainForm::raditionalview1Click);
    connect(m_ui->Modernview1, &QAction::triggered, this, &TMainForm::Modernview1Click);
    connect(m_ui->transferlist1, &QAction::triggered, this, &TMainForm::transferlist1Click);
    connect(m_ui->Classicmode1, &QAction::triggered, this, &TMainForm::Classicmode1Click);
    connect(m_ui->Chatmode1, &QAction::triggered, this, &TMainForm::Chatmode1Click);
    connect(m_ui->HelpContentsItem, &QAction::triggered, this, &TMainForm::HelpContents);
    connect(m_ui->Howto1, &QAction::triggered, this, &TMainForm::Howto1Click);
    connect(m_ui->Website1, &QAction::triggered, this, &TMainForm::Website1Click);
    connect(m_ui->HelpAboutItem, &QAction::triggered, this, &TMainForm::HelpAbout);
    Conversation* talk = m_conversation.get();
    connect(m_ui->Send1, &QAction::triggered, this, [talk] { talk->SendSpeedButtonClick(); });
    connect(m_ui->SendSpeedButton, &QToolButton::clicked, this,
            [talk] { talk->SendSpeedButtonClick(); });
    connect(m_ui->Clear1, &QAction::triggered, this, [talk] { talk->ClearSpeedButtonClick(); });
    connect(m_ui->ClearSpeedButton, &QToolButton::clicked, this,
            [talk] { talk->ClearSpeedButtonClick(); });
    connect(m_ui->Exportmessageslog1, &QAction::triggered, this,
            [talk] { talk->Exportmessageslog1Click(); });
    connect(m_ui->FilePrintItem, &QAction::triggered, this, [talk] { talk->FilePrint(); });
    connect(m_ui->FilePrintSetupItem, &QAction::triggered, this,
            [talk] { talk->FilePrintSetup(); });
    connect(m_ui->EditUndoItem, &QAction::triggered, this, [talk] { talk->EditUndo(); });
    connect(m_ui->EditCutItem, &QAction::triggered, this, [talk] { talk->EditCut(); });
    connect(m_ui->EditCopyItem, &QAction::triggered, this, [talk] { talk->EditCopy(); });
    connect(m_ui->EditPasteItem, &QAction::triggered, this, [talk] { talk->EditPaste(); });
}

QAction& TMainForm::command(const QString& name) const {
    auto* action = findChild<QAction*>(name);
    if (action == nullptr) {
        throw std::invalid_argument("no command named " + name.toStdString());
    }
    return *action;
}

void TMainForm::runCommand(const QString& name) {
    command(name).trigger();
}

bool TMainForm::commandEnabled(const QString& name) const {
    return command(name).isEnabled();
}

bool TMainForm::commandChecked(const QString& name) const {
    return command(name).isChecked();
}

QString TMainForm::statusText(int panel) const {
    return panel == 0 ? m_ui->StatusPanel0->text() : m_ui->StatusPanel1->text();
}

bool TMainForm::event(QEvent* event) {
    if (event->type() == QEvent::StatusTip) {
        ShowHint(static_cast<QStatusTipEvent*>(event)->tip());
        return true;
    }
    return QMainWindow::event(event);
}

void TMainForm::ShowHint(const QString& hint) {
    m_ui->StatusPanel1->setText(hint.section(QLatin1Char('|'), -1));
}

void TMainForm::changeEvent(QEvent* event) {
    QMainWindow::changeEvent(event);
    if (event->type() != QEvent::ActivationChange || !isActiveWindow()) {
        return;
    }
    // The user is looking: what arrives from now on is told anew.
    m_toldOfTyping = false;
    if (m_context.notifier != nullptr) {
        m_context.notifier->startOver();
    }
    if (!FirstActivationDone) {
        // Run after the activation has been delivered: the start-up window is modal.
        QMetaObject::invokeMethod(this, &TMainForm::FormActivate, Qt::QueuedConnection);
    }
}

void TMainForm::closeEvent(QCloseEvent* event) {
    // The event is decided at once: refused while the questions are asked, and the window closed
    // again once their answers allow it (at once, when they came inside the call).
    if (!m_closeAllowed) {
        event->ignore();
        if (m_closeQuestionsOpen) {
            return;
        }
        m_closeQuestionsOpen = true;
        m_inCloseEvent = true;
        FormCloseQuery(whileAlive(this, [this](bool canClose) {
            m_closeQuestionsOpen = false;
            m_closeAllowed = canClose;
            if (canClose && !m_inCloseEvent) {
                close();
            }
        }));
        m_inCloseEvent = false;
        if (!m_closeAllowed) {
            return;
        }
    }
    m_closeAllowed = false;
    OptionsFile(m_context.dataFolder).savePlacement({saveGeometry(), m_ui->Splitter1->saveState()});
    FormClose();
    event->accept();
}

bool TMainForm::FormCreate() {
    if (m_startArgument.kind == StartArgument::Kind::Uninstall) {
        askForUninstallFeedback(dialogs(), m_context.openUrl, m_context.quit);
        return false;
    }
    HelpFilePath = QFileInfo(m_context.helpFolder).absoluteFilePath();
    m_helpAvailable = QFileInfo(HelpFilePath).isDir();
    m_transferCommands->BlockIncoming = false;
    RecentConnections =
        RecentLists::readConnections(QDir(m_context.dataFolder).filePath("recents.list"));
    ConnectionModified = false;
    LoadOptions();
    UpdateView();
    ChangeConnectionStatus(false);
    // The start-up boxes come one after the other, and the start-up window after them.
    m_startUpQuestionsPending = true;
    if (!m_helpAvailable) {
        dialogs().showMessage(QStringLiteral("HTML Help is not installed on this PC."),
                              whileAlive(this, [this] { askStartUpQuestions(); }));
    } else {
        askStartUpQuestions();
    }
    return true;
}

void TMainForm::askStartUpQuestions() {
    if (m_options.CheckExtension != 1) {
        startUpQuestionsAnswered();
        return;
    }
    askAboutFileAssociation(dialogs(), m_context.association, m_context.programPath, this,
                            [this](bool keepChecking) {
                                if (!keepChecking) {
                                    m_options.CheckExtension = 0;
                                    UpdateOptions();
                                }
                                startUpQuestionsAnswered();
                            });
}

void TMainForm::startUpQuestionsAnswered() {
    m_startUpQuestionsPending = false;
    if (std::exchange(m_activationWaits, false)) {
        FormActivate();
    }
}

void TMainForm::FormActivate() {
    if (FirstActivationDone) {
        return;
    }
    if (m_startUpQuestionsPending) {
        m_activationWaits = true;
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

void TMainForm::FormCloseQuery(std::function<void(bool canClose)> decided) {
    closeDespiteUnfinishedFiles([this, decided](bool closeNow) {
        if (!closeNow) {
            decided(false);
            return;
        }
        // Asked only when Yes can save something: a changed dialog that never connected cannot.
        if (!ConnectionModified || m_options.AskExit != 1 || !connectionCanBeSaved()) {
            finishClosing();
            decided(true);
            return;
        }
        dialogs().ask(QuestionKind::Warning, UnsavedConnectionQuestion,
                      {DialogButton::Yes, DialogButton::No, DialogButton::Cancel},
                      whileAlive(this, [this, decided](DialogButton answer) {
                          if (answer == DialogButton::Cancel) {
                              decided(false);
                              return;
                          }
                          const auto close = [this, decided] {
                              finishClosing();
                              decided(true);
                          };
                          if (answer != DialogButton::Yes) {
                              close();
                              return;
                          }
                          FileDialogRequest request;
                          request.filter = ConnectionCommands::FileFilter;
                          request.folder = QDir::current().filePath(QStringLiteral("Connections"));
                          request.defaultSuffix = QStringLiteral("vmc");
                          dialogs().saveFileName(
                              request, whileAlive(this, [this, close](const QString& fileName) {
                                  if (!fileName.isEmpty()) {
                                      emit saveConnectionRequested(fileName);
                                  }
                                  close();
                              }));
                      }));
    });
}

void TMainForm::finishClosing() {
    RecentList::save(QDir(m_context.dataFolder).filePath(QStringLiteral("recents.list")),
                     RecentConnections);
    RecentConnections.clear();
    m_peer->close();
    FormClose();
}

void TMainForm::closeDespiteUnfinishedFiles(std::function<void(bool closeNow)> decided) {
    m_closeWhenFilesDone = false;
    const QStringList files = transfers().unfinishedFiles();
    if (files.isEmpty()) {
        decided(true);
        return;
    }
    dialogs().ask(QuestionKind::Warning, unfinishedFilesQuestion(files),
                  {DialogButton::Yes, DialogButton::No, DialogButton::Cancel},
                  whileAlive(this, [this, decided](DialogButton answer) {
                      if (answer == DialogButton::Yes) {
                          m_closeWhenFilesDone = true;
                          m_ui->StatusPanel1->setText(ClosesWhenFilesDoneNotice);
                      }
                      decided(answer == DialogButton::No);
                  }));
}

void TMainForm::closeWhenFilesDone() {
    if (m_closeWhenFilesDone && transfers().unfinishedFiles().isEmpty()) {
        m_closeWhenFilesDone = false;
        // After the change that ended the last file has been handled.
        QMetaObject::invokeMethod(this, &QWidget::close, Qt::QueuedConnection);
    }
}

bool TMainForm::connectionCanBeSaved() const {
    try {
        const Peer::Connection connection = m_peer->connection();
        return connection.cable || connection.modem || connection.network;
    } catch (const EDXPlayError&) {
        return false;  // its error is shown when the user saves
    }
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
    m_ui->Connections1->setChecked(m_options.c_Connections1 == 1);
    m_ui->ConnectionsToolBar->setVisible(m_ui->Connections1->isChecked());
    m_ui->Editor1->setChecked(m_options.c_Editor1 == 1);
    m_ui->CoolBar2->setVisible(m_ui->Editor1->isChecked());
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
    m_ui->transferlist1->setChecked(transfers);
    m_ui->Panel3->setVisible(transfers);
    const bool classic = m_options.Mode == 0;
    m_ui->Classicmode1->setChecked(classic);
    m_ui->Chatmode1->setChecked(!classic);
    m_ui->PanelMsgEdit->setVisible(!classic);
    m_conversation->setClassicMode(classic);
    m_peer->setReconnect(m_options.Reconnect != 0);
    UpdateOptions();
}

void TMainForm::UpdateView() {
    if (m_options.View == 0 || m_options.View == 1) {
        m_ui->raditionalview1->setChecked(m_options.View == 0);
        m_ui->Modernview1->setChecked(m_options.View == 1);
    }
    m_ui->setFlat(m_options.View == 1);
}

void TMainForm::Connections1Click() {
    m_ui->ConnectionsToolBar->setVisible(m_ui->Connections1->isChecked());
    m_options.c_Connections1 = m_ui->Connections1->isChecked() ? 1 : 0;
    UpdateOptions();
}

void TMainForm::Editor1Click() {
    m_ui->CoolBar2->setVisible(m_ui->Editor1->isChecked());
    m_options.c_Editor1 = m_ui->Editor1->isChecked() ? 1 : 0;
    UpdateOptions();
}

void TMainForm::raditionalview1Click() {
    if (m_ui->raditionalview1->isChecked()) {
        m_options.View = 0;
    } else {
        m_options.View = 1;
        m_ui->Modernview1->setChecked(true);
    }
    UpdateView();
}

void TMainForm::Modernview1Click() {
    if (m_ui->Modernview1->isChecked()) {
        m_options.View = 1;
    } else {
        m_options.View = 0;
        m_ui->raditionalview1->setChecked(true);
    }
    UpdateView();
}

void TMainForm::transferlist1Click() {
    m_options.TransfersList = m_ui->transferlist1->isChecked() ? 1 : 0;
    UpdateInterface();
}

void TMainForm::Classicmode1Click() {
    m_options.Mode = m_ui->Classicmode1->isChecked() ? 0 : 1;
    UpdateInterface();
    m_conversation->focusInput();
}

void TMainForm::Chatmode1Click() {
    m_options.Mode = m_ui->Chatmode1->isChecked() ? 1 : 0;
    UpdateInterface();
    m_conversation->focusInput();
}

void TMainForm::ChangeConnectionStatus(bool connected) {
    m_ui->setConnectionCommandsEnabled(connected);
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
    for (QMenu* menu : {m_ui->Recentconnections1, m_ui->RecentMenu}) {
        ConnectionCommands::fillRecentMenu(*menu, RecentConnections, [this](const QString& file) {
            if (m_connectionCommands) {
                m_connectionCommands->RecentClick(file);
            }
        });
    }
}

QList<QAction*> TMainForm::recentMenuEntries() const {
    return m_ui->RecentMenu->actions();
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
    m_aboutBox->showModal(this, [this] { TryResumeThreat(); });
}

void TMainForm::Options1Click() {
    if (m_optionsForm == nullptr) {
        return;
    }
    TrySuspendThreat();
    m_optionsForm->showModal(this, [this] { TryResumeThreat(); });
}

void TMainForm::runWizardFromWelcome() {
    emit wizardRequested();
    ConnectionModified = true;
}

void TMainForm::runNewConnectionFromWelcome() {
    emit newConnectionRequested();
    ConnectionModified = true;
}

TransferEngine& TMainForm::transfers() const {
    return m_peer->transfers();
}

void TMainForm::setConnectionCommandsEnabled(bool enabled) {
    ChangeConnectionStatus(enabled);
}

void TMainForm::setStatusText(const QString& text) {
    m_ui->StatusPanel0->setText(text);
}

void TMainForm::appendConversationLine(const QString& line) {
    m_conversation->appendLine(line);
}

void TMainForm::setMessageFieldText(const QString& text) {
    m_conversation->setPrompt(text);
}

void TMainForm::setWasConnected() {
    WasConnected = true;
}

void TMainForm::connectPeer() {
    // Once connected, the keys go where the user types; the dialog that connected gives the
    // focus back to the window as it closes.
    connect(m_peer.get(), &Peer::sessionOpened, this, [this] { m_conversation->focusInput(); });
    // A close that waits for the files goes on once none is left moving.
    const TransfersModel& model = m_peer->transfers().model();
    connect(&model, &QAbstractItemModel::dataChanged, this, &TMainForm::closeWhenFilesDone);
    connect(&model, &QAbstractItemModel::rowsRemoved, this, &TMainForm::closeWhenFilesDone);
    connect(m_peer.get(), &Peer::chatLineReceived, m_conversation.get(),
            &Conversation::textReceived);
    connect(m_peer.get(), &Peer::keyStrokeArrived, m_conversation.get(),
            &Conversation::keyStrokeReceived);
    connect(m_peer.get(), &Peer::typedTextArrived, m_conversation.get(),
            &Conversation::typedTextReceived);
    // After the key or line that caused it is in the view, so that it does not split the text.
    connect(
        m_peer.get(), &Peer::charactersReplaced, this,
        [this] { m_conversation->appendLine(texts::CharactersNotSent); }, Qt::QueuedConnection);
    connect(m_peer.get(), &Peer::conversationLine, this,
            [this](const QString& line) { m_conversation->appendLine(line); });
    connect(m_peer.get(), &Peer::transferStatus, this,
            [this](const QString& text) { m_ui->StatusPanel1->setText(text); });
    connect(m_peer.get(), &Peer::userMessage, this,
            [this](const QString& text) { dialogs().showMessage(text); });
}

void TMainForm::connectArrivals() {
    connect(m_peer.get(), &Peer::otherSideSpoke, this,
            [this](const QString& name, const QString& text) {
                tellUser(QStringLiteral("Message from %1").arg(name), text,
                         QStringLiteral("im.received"));
            });
    // Classic mode's keys are told once until the user looks, not for every key.
    connect(m_peer.get(), &Peer::otherSideTyped, this, [this](const QString& name) {
        if (m_toldOfTyping || isActiveWindow()) {
            return;
        }
        m_toldOfTyping = true;
        tellUser(QStringLiteral("Message from %1").arg(name),
                 QStringLiteral("%1 is typing.").arg(name), QStringLiteral("im.received"));
    });
    const TransfersModel& model = m_peer->transfers().model();
    connect(&model, &QAbstractItemModel::rowsInserted, this,
            [this, &model](const QModelIndex&, int first, int last) {
                for (int row = first; row <= last; ++row) {
                    const TTransfer& transfer = model.transfer(row);
                    if (!transfer.Outgoing) {
                        const TDXPlayPlayer* other = m_peer->opponent();
                        tellUser(other != nullptr ? QStringLiteral("File from %1").arg(other->Name)
                                                  : QStringLiteral("File arriving"),
                                 transfer.FileName, QStringLiteral("transfer"));
                    }
                }
            });
    new FileDrop(
        {this, m_ui->MessagesEdit->viewport(), m_ui->EditMessage,
         m_ui->TransfersListView->viewport()},
        [this](const QStringList& paths) { m_transferCommands->sendDroppedFiles(paths); }, this);
}

void TMainForm::tellUser(const QString& summary, const QString& body, const QString& category) {
    if (m_options.Notify != 1 || isActiveWindow()) {
        return;
    }
    if (m_context.notifier != nullptr) {
        m_context.notifier->notify(summary, body, category);
    }
    QApplication::alert(this);
}

void TMainForm::keyPressEvent(QKeyEvent* event) {
    // Esc that no part of the window took ends the wait for a lost line, as Disconnect does.
    if (event->key() == Qt::Key_Escape && m_peer->reconnecting()) {
        m_peer->cancelConnect();
        return;
    }
    QMainWindow::keyPressEvent(event);
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

bool TMainForm::incomingBlocked() const {
    return m_transferCommands->BlockIncoming;
}

bool TMainForm::blockIncoming() const {
    return m_transferCommands->BlockIncoming;
}

bool TMainForm::internalLoop() const {
    return m_options.InternalLoop == 1;
}

int TMainForm::blockSizeCode() const {
    return BlockSizeCode;
}

}  // namespace velmora
