#pragma once

#include "base/DialogService.h"

#include <QString>

#include <deque>
#include <functional>
#include <variant>
#include <vector>

namespace velmora {

// A dialog service for tests and headless runs: questions and dialogs take their answers from a
// queue filled beforehand, in the order they will be asked, and run their continuation at once,
// inside the call (or later, when deferred); every call is recorded. A call whose
// queued answer is missing or of another kind is unexpected: it is reported to the handler (a
// test makes it fail) and answered as cancelled.
class ScriptedDialogService : public DialogService {
public:
    enum class Call {
        Message,
        Question,
        Text,
        OpenFile,
        OpenFiles,
        SaveFile,
        Folder,
        Print,
        PageSetup
    };

    struct Record {
        Call call = Call::Message;
        QString text;  // message or question text, prompt label, dialog or browser title
        QuestionKind questionKind = QuestionKind::Warning;
        QList<DialogButton> buttons;
        FileDialogRequest request;
        QString startFolder;
    };

    using UnexpectedHandler = std::function<void(const QString& description)>;

    ScriptedDialogService() = default;
    explicit ScriptedDialogService(UnexpectedHandler onUnexpected);

    // Queue the answer to the next call of the matching kind.
    void answerQuestion(DialogButton button);
    void answerText(std::optional<QString> text);
    void answerFile(const QString& path);  // open or save file dialog
    void answerFiles(const QStringList& paths);
    void answerFolder(const QString& folder);
    void answerPrint(bool confirmed);  // print or page setup dialog

    // Deferred: a call returns without its answer, as the application's dialogs do, and the
    // answer is given by answerDeferred (the oldest first); false when none waits.
    void deferAnswers(bool defer);
    bool answerDeferred();

    const std::vector<Record>& records() const { return m_records; }
    // The texts of the plain messages shown, in order.
    QStringList messages() const;
    // The texts of the questions asked, in order.
    QStringList questions() const;
    QStringList unexpected() const { return m_unexpected; }
    int pendingAnswers() const { return static_cast<int>(m_answers.size()); }
    void clear();

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

private:
    struct TextAnswer {
        std::optional<QString> text;
    };
    struct FileAnswer {
        QString path;
    };
    struct FilesAnswer {
        QStringList paths;
    };
    struct FolderAnswer {
        QString folder;
    };
    struct PrintAnswer {
        bool confirmed;
    };
    using Answer =
        std::variant<DialogButton, TextAnswer, FileAnswer, FilesAnswer, FolderAnswer, PrintAnswer>;

    // The next answer when it holds a T; else reports the call as unexpected.
    template <typename T>
    std::optional<T> take(const Record& record);
    void reportUnexpected(const QString& description);
    // Gives the answer now, or keeps it for answerDeferred.
    void deliver(std::function<void()> answer);

    UnexpectedHandler m_onUnexpected;
    std::deque<Answer> m_answers;
    std::vector<Record> m_records;
    QStringList m_unexpected;
    bool m_defer = false;
    std::deque<std::function<void()>> m_deferred;
};

}  // namespace velmora
