#include "shell/TransferCommands.h"

#include "base/DialogService.h"
#include "base/ModalDialog.h"
#include "peer/Peer.h"
#include "shell/MainFormUi.h"
#include "transfer/FileSender.h"

#include <QAction>
#include <QDir>
#include <QFileInfo>
#include <QItemSelectionModel>
#include <QMenu>
#include <QShortcut>
#include <QTreeView>

namespace velmora {

TransferCommands::TransferCommands(Context context, QObject* parent)
    : QObject(parent), m_context(std::move(context)) {
    MainFormUi& ui = *m_context.ui;
    for (QAction* sendFile : {ui.Sendfile1, ui.Sendfile2, ui.Sendfile3}) {
        connect(sendFile, &QAction::triggered, this, &TransferCommands::Sendfile1Click);
    }
    for (QAction* receiveTo : {ui.Recievefilesto1, ui.Recievefilesto2}) {
        connect(receiveTo, &QAction::triggered, this, &TransferCommands::Recievefilesto1Click);
    }
    connect(ui.Blocktransfers1, &QAction::triggered, this, &TransferCommands::Blocktransfers1Click);
    connect(ui.Blocktransfers2, &QAction::triggered, this, &TransferCommands::Blocktransfers2Click);
    connect(ui.UsersPopupMenu, &QMenu::aboutToShow, this, &TransferCommands::UsersPopupMenuPopup);
    for (QAction* abort : {ui.Stoptransfers1, ui.Aborttransfer1}) {
        connect(abort, &QAction::triggered, this, &TransferCommands::Stoptransfers1Click);
    }
    for (QAction* pause : {ui.Pausetransfer1, ui.Pausetransfer2}) {
        connect(pause, &QAction::triggered, this, &TransferCommands::Pausetransfer1Click);
    }
    for (QAction* resume : {ui.ResumeTransfer, ui.Resumetranfer1}) {
        connect(resume, &QAction::triggered, this, &TransferCommands::ResumeTransferClick);
    }
    for (QAction* remove : {ui.Removetransfer1, ui.Removetransfer2}) {
        connect(remove, &QAction::triggered, this, &TransferCommands::RemoveTransferClick);
    }
    for (QAction* again : {ui.Sendagain1, ui.Sendagain2}) {
        connect(again, &QAction::triggered, this, &TransferCommands::SendAgainClick);
    }
    connect(ui.Clearended1, &QAction::triggered, this, &TransferCommands::ClearEndedClick);
    connect(ui.TransfersDeleteKey, &QShortcut::activated, this,
            &TransferCommands::DeleteKeyPressed);
    const TransfersModel* model = &m_context.peer->transfers().model();
    // A line's state changes under the selection, and Send again needs a session.
    connect(model, &TransfersModel::stateChanged, this, &TransferCommands::TransfersListViewChange);
    connect(m_context.peer, &Peer::sessionOpened, this, &TransferCommands::TransfersListViewChange);
    for (const auto signal : {&Peer::sessionLost, &Peer::sessionClosed}) {
        connect(m_context.peer, signal, this, &TransferCommands::TransfersListViewChange);
    }
    connect(ui.TransfersListView->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &TransferCommands::TransfersListViewChange);
    connect(model, &QAbstractItemModel::rowsRemoved, this,
            &TransferCommands::TransfersListViewChange);
    connect(model, &QAbstractItemModel::rowsInserted, this,
            &TransferCommands::TransfersListViewChange);
}

void TransferCommands::Sendfile1Click() {
    if (!m_context.peer->isOpen()) {
        m_context.dialogs->showMessage(FileSender::NotConnectedMessage);
        return;
    }
    FileDialogRequest request;
    request.title = QStringLiteral("Please, select the file or files you want to send");
    request.filter = QStringLiteral("All files (*)");
    // Where the user last sent from; the home folder at first (never the incoming folder that a
    // file dialog of the toolkit may remember from the folder browser).
    const QString last = m_context.sendFolder();
    request.folder = !last.isEmpty() && QFileInfo(last).isDir() ? last : QDir::homePath();
    m_context.dialogs->openFileNames(request, whileAlive(this, [this](const QStringList& paths) {
                                         if (!paths.isEmpty()) {
                                             m_context.setSendFolder(QDir::toNativeSeparators(
                                                 QFileInfo(paths.first()).absolutePath()));
                                             m_context.peer->sendFiles(paths);
                                         }
                                     }));
}

void TransferCommands::sendDroppedFiles(const QStringList& paths) {
    if (!m_context.peer->isOpen()) {
        m_context.dialogs->showMessage(DroppedWhileNotConnected);
        return;
    }
    QStringList files;
    QStringList others;
    for (const QString& path : paths) {
        (QFileInfo(path).isFile() ? files : others) << path;
    }
    if (!others.isEmpty()) {
        QStringList names;
        for (const QString& other : others) {
            names << QDir::toNativeSeparators(other);
        }
        m_context.dialogs->showMessage(NotFilesMessage.arg(names.join(QLatin1Char('\n'))));
    }
    if (!files.isEmpty()) {
        m_context.peer->sendFiles(files);
    }
}

void TransferCommands::Recievefilesto1Click() {
    m_context.peer->suspendSender();
    m_context.dialogs->browseFolder(
        QStringLiteral("Place incoming files to..."), m_context.incomingFolder(),
        whileAlive(this, [this](const QString& folder) {
            if (!folder.isEmpty()) {
                m_context.setIncomingFolder(QDir::toNativeSeparators(folder));
            }
            m_context.peer->resumeSender();
        }));
}

void TransferCommands::Blocktransfers1Click() {
    BlockIncoming = m_context.ui->Blocktransfers1->isChecked();
}

void TransferCommands::Blocktransfers2Click() {
    BlockIncoming = m_context.ui->Blocktransfers2->isChecked();
    m_context.ui->Blocktransfers1->setChecked(BlockIncoming);
}

void TransferCommands::UsersPopupMenuPopup() {
    m_context.ui->Blocktransfers2->setChecked(BlockIncoming);
}

QList<int> TransferCommands::selectedTransferRows() const {
    QList<int> rows;
    for (const QModelIndex& index :
         m_context.ui->TransfersListView->selectionModel()->selectedRows()) {
        rows << index.row();
    }
    return rows;
}

void TransferCommands::Stoptransfers1Click() {
    const QList<int> rows = selectedTransferRows();
    // Every selected line is either gone or aborted and unselected.
    m_context.ui->TransfersListView->clearSelection();
    m_context.peer->transfers().abort(rows);
}

void TransferCommands::Pausetransfer1Click() {
    m_context.peer->transfers().pause(selectedTransferRows());
}

void TransferCommands::ResumeTransferClick() {
    m_context.peer->transfers().resume(selectedTransferRows());
}

void TransferCommands::RemoveTransferClick() {
    m_context.peer->transfers().remove(selectedTransferRows());
}

void TransferCommands::SendAgainClick() {
    m_context.peer->sendAgain(selectedTransferRows());
}

void TransferCommands::ClearEndedClick() {
    m_context.peer->transfers().clearEnded();
}

void TransferCommands::DeleteKeyPressed() {
    if (m_context.ui->TransfersListView->selectionModel()->hasSelection()) {
        Stoptransfers1Click();
    }
}

void TransferCommands::TransfersListViewChange() {
    const MainFormUi& ui = *m_context.ui;
    const TransferEngine& transfers = m_context.peer->transfers();
    bool running = false;
    bool paused = false;
    bool ended = false;
    bool again = false;
    for (const int row : selectedTransferRows()) {
        const TransferState state = transfers.model().transfer(row).State;
        running = running || state == tsRunning;
        paused = paused || state == tsPaused;
        ended = ended || transfers.model().transfer(row).ended();
        again = again || transfers.canSendAgain(row);
    }
    const auto enable = [](std::initializer_list<QAction*> actions, bool enabled) {
        for (QAction* action : actions) {
            action->setEnabled(enabled);
        }
    };
    enable({ui.Stoptransfers1, ui.Aborttransfer1}, running || paused);
    enable({ui.Pausetransfer1, ui.Pausetransfer2}, running);
    enable({ui.ResumeTransfer, ui.Resumetranfer1}, paused);
    enable({ui.Removetransfer1, ui.Removetransfer2}, ended);
    enable({ui.Sendagain1, ui.Sendagain2}, again && m_context.peer->isOpen());
    enable({ui.Clearended1}, transfers.model().anyEnded());
}

}  // namespace velmora
