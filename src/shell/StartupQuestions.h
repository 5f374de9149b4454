#pragma once

#include <QObject>
#include <QString>
#include <QUrl>

#include <functional>

namespace velmora {

class DialogService;
class FileAssociation;

// The questions the program asks as it starts, outside any window of its own.

// After an uninstall: asks for the user's reasons, then opens the feedback page; `answered`
// runs after it.
void askForUninstallFeedback(DialogService& dialogs, std::function<void(const QUrl&)> openUrl,
                             std::function<void()> answered);

// When .vmc files do not open in this program: offers to associate them with programPath, then
// asks whether to check on every start. `answered` is given false when the user no longer wants
// the check. `association` must live as long as `owner`; nothing happens once `owner` has gone.
void askAboutFileAssociation(DialogService& dialogs, FileAssociation& association,
                             const QString& programPath, const QObject* owner,
                             std::function<void(bool keepChecking)> answered);

}  // namespace velmora
