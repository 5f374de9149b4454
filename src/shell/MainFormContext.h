#pragma once

#include "shell/FileAssociation.h"

#include <QString>
#include <QStringList>
#include <QUrl>

#include <functional>

namespace velmora {

class DesktopNotifier;
class DialogService;
class IDirectPlaySystem;

// What a main window is built with: its folders, its command line and its services. Nothing of
// it is global, so several main windows can live in one process.
struct MainFormContext {
    QString dataFolder;     // options.ini, recents.list, received files by default
    QString helpFolder;     // the help pages
    QString programPath;    // full path of the program, written into the file association
    QStringList arguments;  // the command line after the program's name
    DialogService* dialogs = nullptr;            // not owned; lives longer than the window
    IDirectPlaySystem* sessionSystem = nullptr;  // not owned; the session service of DXPlay1
    FileAssociation association;
    // Tells of a chat line or a file that arrives while the window is not active; not owned.
    // Null: no desktop notifications (the taskbar's hint is still given).
    DesktopNotifier* notifier = nullptr;
    // Opens a web or mail address in the user's browser or mail program.
    std::function<void(const QUrl&)> openUrl;
    // Ends the program: run once the question of an uninstall start has been answered.
    std::function<void()> quit;
};

}  // namespace velmora
