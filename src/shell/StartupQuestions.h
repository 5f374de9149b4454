#pragma once

#include <QString>
#include <QUrl>

#include <functional>

namespace velmora {

class DialogService;
class FileAssociation;

// The questions the program asks as it starts, outside any window of its own.

// After an uninstall: asks for the user's reasons, then opens the feedback page.
void askForUninstallFeedback(DialogService& dialogs,
                             const std::function<void(const QUrl&)>& openUrl);

// When .vmc files do not open in this program: offers to associate them with programPath, then
// asks whether to check on every start. False when the user no longer wants the check.
bool askAboutFileAssociation(DialogService& dialogs, FileAssociation& association,
                             const QString& programPath);

}  // namespace velmora
