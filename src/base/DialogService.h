#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>

class QPrinter;

namespace velmora {

// The buttons of a question box; a question returns the one that was pressed.
enum class DialogButton { Ok, Cancel, Yes, No };

// The answer of a question box closed without a button: Cancel when it is offered, else the
// last button.
inline DialogButton unansweredButton(const QList<DialogButton>& buttons) {
    return buttons.contains(DialogButton::Cancel) || buttons.isEmpty() ? DialogButton::Cancel
                                                                       : buttons.last();
}

// The look of a question box.
enum class QuestionKind { Warning, Confirmation };

// What an open or save file dialog shows.
struct FileDialogRequest {
    QString title;
    QString filter;         // Qt filter text, e.g. "Velmora Connection (*.vmc)"
    QString folder;         // starting folder; empty for the current one
    QString fileName;       // proposed name
    QString defaultSuffix;  // added to a typed name without one (save dialogs)
};

// Every message box, question, file, folder and print dialog of the program goes through this
// interface, so that the application shows real dialogs and tests answer them in code. The
// interface names no widget: the core and the service providers use it too.
//
// A dialog answers through a continuation: the call returns at once, and the continuation runs
// once, on the UI thread, when the user has answered (a test's service may run it inside the
// call). A continuation must not rely on its caller's locals still being there.
class DialogService {
public:
    virtual ~DialogService() = default;

    // A plain message box with an OK button; `closed` runs once it has gone (OK, closed, or the
    // box destroyed), for the few callers that go on only after it.
    virtual void showMessage(const QString& text, std::function<void()> closed = {}) = 0;
    // A question with the given buttons; `answered` is given the button pressed. Closing the box
    // without a button (or its going unanswered) answers Cancel when it is offered, else the
    // last button.
    virtual void ask(QuestionKind kind, const QString& text, const QList<DialogButton>& buttons,
                     std::function<void(DialogButton)> answered) = 0;
    // A line of text asked for by a prompt; `answered` is given nothing when the user cancels.
    virtual void askText(const QString& title, const QString& label, const QString& initial,
                         std::function<void(std::optional<QString>)> answered) = 0;

    // File dialogs: `chosen` is given the chosen full path(s); empty when cancelled.
    virtual void openFileName(const FileDialogRequest& request,
                              std::function<void(const QString&)> chosen) = 0;
    virtual void openFileNames(const FileDialogRequest& request,
                               std::function<void(const QStringList&)> chosen) = 0;
    virtual void saveFileName(const FileDialogRequest& request,
                              std::function<void(const QString&)> chosen) = 0;
    // A folder browser that shows folders only; `chosen` is given the chosen folder without a
    // final separator, or empty when cancelled.
    virtual void browseFolder(const QString& title, const QString& startFolder,
                              std::function<void(const QString&)> chosen) = 0;

    // The print and page setup dialogs on the given printer, which they keep until they have
    // gone (they may outlive their caller's window); `confirmed` is given true when the user
    // confirmed.
    virtual void print(std::shared_ptr<QPrinter> printer, std::function<void(bool)> confirmed) = 0;
    virtual void pageSetup(std::shared_ptr<QPrinter> printer,
                           std::function<void(bool)> confirmed) = 0;
};

}  // namespace velmora
