#pragma once

#include "base/DialogService.h"

namespace velmora {

// The dialog service of the application: Qt's message boxes, file dialogs, folder browser and
// print dialogs, owned by the active window. Message boxes carry the application title.
class QtDialogService : public DialogService {
public:
    void showMessage(const QString& text, std::function<void()> closed = {}) override;
    void ask(QuestionKind kind, const QString& text, const QList<DialogButton>& buttons,
             std::function<void(DialogButton)> answered) override;
    void askText(const QString& title, const QString& label, const QString& initial,
                 std::function<void(std::optional<QString>)> answered) override;
    void openFileName(const FileDialogRequest& request,
                      std::function<void(const QString&)> chosen) override;
    void openFileNames(const FileDialogRequest& request,
                       std::function<void(const QStringList&)> chosen) override;
    void saveFileName(const FileDialogRequest& request,
                      std::function<void(const QString&)> chosen) override;
    void browseFolder(const QString& title, const QString& startFolder,
                      std::function<void(const QString&)> chosen) override;
    void print(std::shared_ptr<QPrinter> printer, std::function<void(bool)> confirmed) override;
    void pageSetup(std::shared_ptr<QPrinter> printer, std::function<void(bool)> confirmed) override;
};

}  // namespace velmora
