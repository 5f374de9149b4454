#pragma once

#include <QString>
#include <QStringList>

#include <functional>

class QMenu;

namespace velmora {

class DialogService;
class TConnectionForm;
class Peer;
class TWizardForm;

// What the connection commands work on; the main window provides it. Nothing is owned; all of
// it outlives the commands.
struct ConnectionCommandsContext {
    Peer* peer = nullptr;
    DialogService* dialogs = nullptr;
    TConnectionForm* connectionForm = nullptr;
    TWizardForm* wizardForm = nullptr;
    bool* connectionModified = nullptr;
    const bool* wasConnected = nullptr;
    QStringList* recentConnections = nullptr;
    // TrySuspendThreat and TryResumeThreat: the file sender around modal dialogs.
    std::function<void()> suspendSender;
    std::function<void()> resumeSender;
    // Empties both recent menus and fills them from the list again.
    std::function<void()> rebuildRecentMenus;
    // The standard error box; the dialog service's message box when not given.
    std::function<void(const QString& text)> showError;
};

// The main window's connection commands: New connection, the wizard, Open (menu, toolbar and
// recent entries), Save, Save As and Disconnect, with the opening and saving of connection files.
class ConnectionCommands {
public:
    static inline const QString NoRecentConnections = QStringLiteral("<No recent connections>");
    static inline const QString CloseQuestion =
        QStringLiteral("Are you sure to close current connection?");
    static inline const QString NothingToSaveMessage = QStringLiteral(
        "There was no connection that you can save. Please, create some connection first.");
    static inline const QString NoConnectionMessage = QStringLiteral(
        "Sorry, but there was no connection since program execution. So there is "
        "no connection to save.");
    static inline const QString MissingFileMessage = QStringLiteral(
        "The connection file %1 does not exist. It is removed from the recent connections.");
    static inline const QString FileFilter = QStringLiteral("Velmora Connection (*.vmc)");

    explicit ConnectionCommands(ConnectionCommandsContext context);

    void FileNew();
    void ConnectionWizard1Click();
    // Without the question: the start-up window's link to the wizard.
    void showWizard();
    void FileOpen();
    void ToolButton3Click();
    // A recent entry chosen: the file's exact name.
    void RecentClick(const QString& fileName);
    // Fills a recent-connections menu: an entry per file name, whose text shows the name as it
    // is and which calls open with it; blank names left out; the placeholder, disabled, when
    // there is none.
    static void fillRecentMenu(QMenu& menu, const QStringList& fileNames,
                               const std::function<void(const QString&)>& open);
    void FileSave();
    void FileSaveAs();
    void Closeconnection1Click();

    // Opens a connection file into the New connection dialog, shown without being modal, and
    // makes it the newest recent connection. Nothing is connected. A file that does not exist
    // is reported and dropped from the recent list; false then.
    bool LoadConnection(const QString& fileName);
    // Writes what the session component holds for the current connection. True when written.
    bool SaveConnection(const QString& fileName);

private:
    // While a session is open, asks whether to close it; `confirmed` runs when the user goes on
    // (at once when nothing is open).
    void confirmClose(std::function<void()> confirmed) const;
    // The Open dialog's chosen file, loaded; `done` runs after the dialog, chosen or not.
    void openChosenFile(std::function<void()> done);
    void saveAs();
    void showNewConnection();
    static QString connectionsFolder();

    ConnectionCommandsContext m_context;
};

}  // namespace velmora
