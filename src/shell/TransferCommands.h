#pragma once

#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>

namespace velmora {

class DialogService;
class Peer;
struct MainFormUi;

// The main window's file transfer commands: Send file, Receive files to, Block incoming files
// (menu and pop-up kept in step); Abort, Pause and Resume on the selected lines of the list, and
// for lines that ended Remove, Send again and Clear ended. Each line command is enabled only
// while it can act on a selected line (Clear ended: while any line has ended).
class TransferCommands : public QObject {
public:
    static inline const QString DroppedWhileNotConnected = QStringLiteral(
        "The dropped files were not sent: there is no connection. Please, connect first, then "
        "drop them again.");
    static inline const QString NotFilesMessage =
        QStringLiteral("Only files can be sent. These were left out:\n%1");

    struct Context {
        Peer* peer = nullptr;
        DialogService* dialogs = nullptr;
        MainFormUi* ui = nullptr;
        // The incoming folder option, read and changed (the change is written at once).
        std::function<QString()> incomingFolder;
        std::function<void(const QString&)> setIncomingFolder;
        // The folder the Send file dialog opens in, read and changed (written at once).
        std::function<QString()> sendFolder;
        std::function<void(const QString&)> setSendFolder;
    };

    // Connects the commands' menu items, buttons and the list's selection.
    explicit TransferCommands(Context context, QObject* parent = nullptr);

    void Sendfile1Click();
    // Files dropped on the window: offered as Send file offers the files chosen in its dialog.
    void sendDroppedFiles(const QStringList& paths);
    void Recievefilesto1Click();
    void Blocktransfers1Click();
    void Blocktransfers2Click();
    void UsersPopupMenuPopup();
    void Stoptransfers1Click();
    void Pausetransfer1Click();
    void ResumeTransferClick();
    void RemoveTransferClick();
    void SendAgainClick();
    void ClearEndedClick();
    // Del in the list: aborts the selected running and paused lines, removes the ended ones.
    void DeleteKeyPressed();
    // Enables each line command by the states of the selected lines.
    void TransfersListViewChange();

    // Every offer is refused while set.
    bool BlockIncoming = false;

private:
    QList<int> selectedTransferRows() const;

    Context m_context;
};

}  // namespace velmora
