#include "connections/ConnectionCommands.h"

#include "base/DialogService.h"
#include "base/ModalDialog.h"
#include "connections/ConnectionFile.h"
#include "connections/ConnectionForm.h"
#include "connections/ConnectionModified.h"
#include "connections/RecentLists.h"
#include "connections/WizardForm.h"
#include "peer/Peer.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QMenu>

namespace velmora {

ConnectionCommands::ConnectionCommands(ConnectionCommandsContext context)
    : m_context(std::move(context)) {
    if (!m_context.showError) {
        DialogService* dialogs = m_context.dialogs;
        m_context.showError = [dialogs](const QString& text) { dialogs->showMessage(text); };
    }
}

void ConnectionCommands::confirmClose(std::function<void()> confirmed) const {
    if (!m_context.peer->isOpen()) {
        confirmed();
        return;
    }
    // The commands belong to the window that owns the peer: gone with it.
    m_context.dialogs->ask(QuestionKind::Warning, CloseQuestion,
                           {DialogButton::Ok, DialogButton::Cancel},
                           whileAlive(m_context.peer, [confirmed](DialogButton answer) {
                               if (answer == DialogButton::Ok) {
                                   confirmed();
                               }
                           }));
}

QString ConnectionCommands::connectionsFolder() {
    return QDir::current().filePath(QStringLiteral("Connections"));
}

void ConnectionCommands::FileNew() {
    confirmClose([this] { showNewConnection(); });
}

void ConnectionCommands::showNewConnection() {
    TConnectionForm* form = m_context.connectionForm;
    // Shown without being modal after a file was opened: it cannot become modal now.
    if (form->isVisible()) {
        form->raise();
        form->activateWindow();
        return;
    }
    // The sender goes on once the dialog closes.
    m_context.suspendSender();
    showModal(*form, m_context.resumeSender);
}

void ConnectionCommands::ConnectionWizard1Click() {
    confirmClose([this] { showWizard(); });
}

void ConnectionCommands::showWizard() {
    showModal(*m_context.wizardForm);
}

void ConnectionCommands::openChosenFile(std::function<void()> done) {
    FileDialogRequest request;
    request.title = QStringLiteral("Open connection");
    request.filter = FileFilter;
    request.folder = connectionsFolder();
    m_context.dialogs->openFileName(
        request, whileAlive(m_context.peer, [this, done](const QString& fileName) {
            if (!fileName.isEmpty() && LoadConnection(fileName)) {
                *m_context.connectionModified =
                    connectionModifiedAfter(ConnectionEvent::OpenedFromMenuOrToolbar, true);
            }
            done();
        }));
}

void ConnectionCommands::FileOpen() {
    confirmClose([this] {
        m_context.suspendSender();
        openChosenFile(m_context.resumeSender);
    });
}

void ConnectionCommands::ToolButton3Click() {
    openChosenFile([] {});
}

void ConnectionCommands::RecentClick(const QString& fileName) {
    LoadConnection(fileName);
}

void ConnectionCommands::fillRecentMenu(QMenu& menu, const QStringList& fileNames,
                                        const std::function<void(const QString&)>& open) {
    menu.clear();
    for (const QString& fileName : fileNames) {
        if (fileName.trimmed().isEmpty()) {
            continue;
        }
        // The text escapes "&", which would underline a letter; the entry opens the exact name.
        QAction* entry = menu.addAction(QString(fileName).replace(u'&', QStringLiteral("&&")));
        entry->setStatusTip(QStringLiteral("Open some recent connection"));
        QObject::connect(entry, &QAction::triggered, &menu, [open, fileName] { open(fileName); });
    }
    if (menu.isEmpty()) {
        menu.addAction(NoRecentConnections)->setEnabled(false);
    }
}

void ConnectionCommands::FileSave() {
    saveAs();
}

void ConnectionCommands::FileSaveAs() {
    saveAs();
}

void ConnectionCommands::saveAs() {
    m_context.suspendSender();
    if (!*m_context.wasConnected) {
        m_context.dialogs->showMessage(NothingToSaveMessage, m_context.resumeSender);
        return;
    }
    FileDialogRequest request;
    request.title = QStringLiteral("Save connection");
    request.filter = FileFilter;
    request.folder = connectionsFolder();
    m_context.dialogs->saveFileName(
        request, whileAlive(m_context.peer, [this](const QString& fileName) {
            if (!fileName.isEmpty() && SaveConnection(fileName)) {
                *m_context.connectionModified =
                    connectionModifiedAfter(ConnectionEvent::Saved, *m_context.connectionModified);
            }
            m_context.resumeSender();
        }));
}

void ConnectionCommands::Closeconnection1Click() {
    confirmClose([this] {
        m_context.peer->close();
        *m_context.connectionModified =
            connectionModifiedAfter(ConnectionEvent::Disconnected, *m_context.connectionModified);
    });
}

bool ConnectionCommands::LoadConnection(const QString& fileName) {
    const QString path = ConnectionFile::withExtension(fileName);
    if (!QFileInfo(path).isFile()) {
        m_context.recentConnections->removeAll(fileName);
        m_context.recentConnections->removeAll(path);
        m_context.rebuildRecentMenus();
        m_context.dialogs->showMessage(MissingFileMessage.arg(QDir::toNativeSeparators(path)));
        return false;
    }
    RecentLists::addOpenedConnection(*m_context.recentConnections, path);
    m_context.rebuildRecentMenus();
    TConnectionForm* form = m_context.connectionForm;
    if (form->isVisible()) {
        form->raise();
        form->activateWindow();
    } else {
        form->show();  // its showing resets the fields: filled after it
    }
    form->fill(ConnectionFile::read(path));
    return true;
}

bool ConnectionCommands::SaveConnection(const QString& fileName) {
    Peer::Connection connection;
    try {
        connection = m_context.peer->connection();
    } catch (const EDXPlayError& error) {
        m_context.showError(error.message());
        return false;
    }
    if (!connection.cable && !connection.modem && !connection.network) {
        m_context.dialogs->showMessage(NoConnectionMessage);
        return false;
    }
    const QString path = ConnectionFile::withExtension(fileName);
    ConnectionSettings settings;
    settings.Provider = connection.network ? NetworkProviderIndex : connection.cable ? 1 : 0;
    settings.HostName = connection.hostName;
    settings.Port = connection.port;
    settings.SessionName = connection.sessionName;
    settings.ModemName = connection.modemName;
    settings.PhoneNumber = connection.phoneNumber;
    settings.IsHost = connection.host ? 0 : 1;
    if (!ConnectionFile::write(path, settings)) {
        m_context.dialogs->showMessage(QStringLiteral("The connection file %1 cannot be written.")
                                           .arg(QDir::toNativeSeparators(path)));
        return false;
    }
    return true;
}

}  // namespace velmora
