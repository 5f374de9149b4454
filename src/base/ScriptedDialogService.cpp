#include "base/ScriptedDialogService.h"

namespace velmora {

namespace {

QString callName(ScriptedDialogService::Call call) {
    switch (call) {
        case ScriptedDialogService::Call::Message:
            return QStringLiteral("message");
        case ScriptedDialogService::Call::Question:
            return QStringLiteral("question");
        case ScriptedDialogService::Call::Text:
            return QStringLiteral("text prompt");
        case ScriptedDialogService::Call::OpenFile:
            return QStringLiteral("open file dialog");
        case ScriptedDialogService::Call::OpenFiles:
            return QStringLiteral("open files dialog");
        case ScriptedDialogService::Call::SaveFile:
            return QStringLiteral("save file dialog");
        case ScriptedDialogService::Call::Folder:
            return QStringLiteral("folder browser");
        case ScriptedDialogService::Call::Print:
            return QStringLiteral("print dialog");
        case ScriptedDialogService::Call::PageSetup:
            return QStringLiteral("page setup dialog");
    }
    return QString();
}

}  // namespace

ScriptedDialogService::ScriptedDialogService(UnexpectedHandler onUnexpected)
    : m_onUnexpected(std::move(onUnexpected)) {}

void ScriptedDialogService::answerQuestion(DialogButton button) {
    m_answers.emplace_back(button);
}

void ScriptedDialogService::answerText(std::optional<QString> text) {
    m_answers.emplace_back(TextAnswer{std::move(text)});
}

void ScriptedDialogService::answerFile(const QString& path) {
    m_answers.emplace_back(FileAnswer{path});
}

void ScriptedDialogService::answerFiles(const QStringList& paths) {
    m_answers.emplace_back(FilesAnswer{paths});
}

void ScriptedDialogService::answerFolder(const QString& folder) {
    m_answers.emplace_back(FolderAnswer{folder});
}

void ScriptedDialogService::answerPrint(bool confirmed) {
    m_answers.emplace_back(PrintAnswer{confirmed});
}

QStringList ScriptedDialogService::messages() const {
    QStringList texts;
    for (const Record& record : m_records) {
        if (record.call == Call::Message) {
            texts << record.text;
        }
    }
    return texts;
}

QStringList ScriptedDialogService::questions() const {
    QStringList texts;
    for (const Record& record : m_records) {
        if (record.call == Call::Question) {
            texts << record.text;
        }
    }
    return texts;
}

void ScriptedDialogService::deferAnswers(bool defer) {
    m_defer = defer;
}

bool ScriptedDialogService::answerDeferred() {
    if (m_deferred.empty()) {
        return false;
    }
    const std::function<void()> next = std::move(m_deferred.front());
    m_deferred.pop_front();
    next();
    return true;
}

void ScriptedDialogService::deliver(std::function<void()> answer) {
    if (m_defer) {
        m_deferred.push_back(std::move(answer));
    } else {
        answer();
    }
}

void ScriptedDialogService::clear() {
    m_deferred.clear();
    m_answers.clear();
    m_records.clear();
    m_unexpected.clear();
}

void ScriptedDialogService::reportUnexpected(const QString& description) {
    m_unexpected << description;
    if (m_onUnexpected) {
        m_onUnexpected(description);
    }
}

template <typename T>
std::optional<T> ScriptedDialogService::take(const Record& record) {
    m_records.push_back(record);
    if (m_answers.empty() || !std::holds_alternative<T>(m_answers.front())) {
        reportUnexpected(
            QStringLiteral("unexpected %1: %2").arg(callName(record.call), record.text));
        return std::nullopt;
    }
    std::optional<T> answer(std::get<T>(std::move(m_answers.front())));
    m_answers.pop_front();
    return answer;
}

void ScriptedDialogService::showMessage(const QString& text, std::function<void()> closed) {
    m_records.push_back(Record{Call::Message, text, {}, {}, {}, {}});
    if (closed) {
        deliver(std::move(closed));
    }
}

void ScriptedDialogService::ask(QuestionKind kind, const QString& text,
                                const QList<DialogButton>& buttons,
                                std::function<void(DialogButton)> answered) {
    const Record record{Call::Question, text, kind, buttons, {}, {}};
    const std::optional<DialogButton> answer = take<DialogButton>(record);
    if (answer && !buttons.contains(*answer)) {
        reportUnexpected(QStringLiteral("answer not among the buttons of: %1").arg(text));
    }
    const DialogButton given =
        answer && buttons.contains(*answer) ? *answer : unansweredButton(buttons);
    deliver([answered = std::move(answered), given] { answered(given); });
}

void ScriptedDialogService::askText(const QString& title, const QString& label,
                                    const QString& initial,
                                    std::function<void(std::optional<QString>)> answered) {
    Record record{Call::Text, label, {}, {}, {}, {}};
    record.request.title = title;
    record.request.fileName = initial;
    const auto answer = take<TextAnswer>(record);
    deliver([answered = std::move(answered), text = answer ? answer->text : std::nullopt] {
        answered(text);
    });
}

void ScriptedDialogService::openFileName(const FileDialogRequest& request,
                                         std::function<void(const QString&)> chosen) {
    const auto answer =
        take<FileAnswer>(Record{Call::OpenFile, request.title, {}, {}, request, {}});
    deliver(
        [chosen = std::move(chosen), path = answer ? answer->path : QString()] { chosen(path); });
}

void ScriptedDialogService::openFileNames(const FileDialogRequest& request,
                                          std::function<void(const QStringList&)> chosen) {
    const auto answer =
        take<FilesAnswer>(Record{Call::OpenFiles, request.title, {}, {}, request, {}});
    deliver([chosen = std::move(chosen), paths = answer ? answer->paths : QStringList()] {
        chosen(paths);
    });
}

void ScriptedDialogService::saveFileName(const FileDialogRequest& request,
                                         std::function<void(const QString&)> chosen) {
    const auto answer =
        take<FileAnswer>(Record{Call::SaveFile, request.title, {}, {}, request, {}});
    deliver(
        [chosen = std::move(chosen), path = answer ? answer->path : QString()] { chosen(path); });
}

void ScriptedDialogService::browseFolder(const QString& title, const QString& startFolder,
                                         std::function<void(const QString&)> chosen) {
    const auto answer = take<FolderAnswer>(Record{Call::Folder, title, {}, {}, {}, startFolder});
    deliver([chosen = std::move(chosen), folder = answer ? answer->folder : QString()] {
        chosen(folder);
    });
}

void ScriptedDialogService::print(std::shared_ptr<QPrinter>, std::function<void(bool)> confirmed) {
    const auto answer = take<PrintAnswer>(Record{Call::Print, QString(), {}, {}, {}, {}});
    deliver([confirmed = std::move(confirmed), given = answer && answer->confirmed] {
        confirmed(given);
    });
}

void ScriptedDialogService::pageSetup(std::shared_ptr<QPrinter>,
                                      std::function<void(bool)> confirmed) {
    const auto answer = take<PrintAnswer>(Record{Call::PageSetup, QString(), {}, {}, {}, {}});
    deliver([confirmed = std::move(confirmed), given = answer && answer->confirmed] {
        confirmed(given);
    });
}

}  // namespace velmora
