#pragma once

#include <QString>

#include <functional>

class QWidget;

namespace velmora {

class DialogService;
class Peer;
struct Options;

// What the New connection dialog and the wizard work with; the main window provides it. None of
// the pointers is owned; all outlive the dialogs.
struct ConnectionFormContext {
    Peer* peer = nullptr;
    DialogService* dialogs = nullptr;
    const Options* options = nullptr;  // UserName and Speed, read at each connect
    QString dataFolder;                // where recents.phones lives
    // The file sender's block-size code, set at each connect.
    std::function<void(int code)> setBlockSizeCode;
    // ConnectionModified := true.
    std::function<void()> markConnectionModified;
    std::function<void(QWidget* owner, const QString& topic)> showHelpTopic;
    // The standard error box; the dialog service's message box when not given.
    std::function<void(const QString& text)> showError;
    // The logged-on user's name; the effective user's login name when not given.
    std::function<QString()> loginName;
};

}  // namespace velmora
