#include "shell/StartupQuestions.h"

#include "base/DialogService.h"
#include "base/ModalDialog.h"
#include "shell/FileAssociation.h"

namespace velmora {

namespace {

const QString UninstallQuestion = QStringLiteral(
    "May I ask you a favour?\n\rPlease tell me why you have decided not to use Velmora "
    "anymore:\n\rwas it a problem you encountered, or was it a feature that was not offered, was "
    "the price too high (or too low)?\n\rPlease let us know and we will take it into account when "
    "developing future versions.\n\rMay we open your web browser and direct it to a short "
    "feedback form at our web site?\n\r(Please connect to the Internet, if necessary, and click "
    "Yes to send us your feedback.)");
const QString FeedbackPage = QStringLiteral("https://www.oskvale.example/velmora/feedback.html");
const QString AssociationQuestion = QStringLiteral(
    "Files with \"vmc\" extension are not currently associated with Velmora. Do you want to "
    "associate them now?");
const QString CheckEveryTimeQuestion =
    QStringLiteral("Do you want Velmora to perform this check on startup every time?");
}  // namespace

void askForUninstallFeedback(DialogService& dialogs, std::function<void(const QUrl&)> openUrl,
                             std::function<void()> answered) {
    dialogs.ask(QuestionKind::Confirmation, UninstallQuestion, {DialogButton::Yes},
                [openUrl = std::move(openUrl), answered = std::move(answered)](DialogButton) {
                    if (openUrl) {
                        openUrl(QUrl(FeedbackPage));
                    }
                    if (answered) {
                        answered();
                    }
                });
}

void askAboutFileAssociation(DialogService& dialogs, FileAssociation& association,
                             const QString& programPath, const QObject* owner,
                             std::function<void(bool keepChecking)> answered) {
    if (association.isAssociated()) {
        answered(true);
        return;
    }
    const auto askEveryTime = [&dialogs, owner, answered] {
        dialogs.ask(QuestionKind::Confirmation, CheckEveryTimeQuestion,
                    {DialogButton::Yes, DialogButton::No},
                    whileAlive(owner, [answered](DialogButton everyTime) {
                        answered(everyTime != DialogButton::No);
                    }));
    };
    dialogs.ask(
        QuestionKind::Warning, AssociationQuestion, {DialogButton::Yes, DialogButton::No},
        whileAlive(owner, [&association, programPath, askEveryTime](DialogButton associate) {
            if (associate == DialogButton::Yes) {
                // A folder that cannot be written skips the rest of the association
                // silently.
                association.associate(programPath);
            }
            askEveryTime();
        }));
}

}  // namespace velmora
