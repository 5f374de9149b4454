#include "shell/QtDialogService.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QInputDialog>
#include <QMessageBox>
#include <QPageSetupDialog>
#include <QPrintDialog>

#include <memory>
#include <utility>

namespace velmora {

namespace {

QWidget* owner() {
    return QApplication::activeModalWidget() != nullptr ? QApplication::activeModalWidget()
                                                        : QApplication::activeWindow();
}

QMessageBox::StandardButton standardButton(DialogButton button) {
    switch (button) {
        case DialogButton::Ok:
            return QMessageBox::Ok;
        case DialogButton::Cancel:
            return QMessageBox::Cancel;
        case DialogButton::Yes:
            return QMessageBox::Yes;
        case DialogButton::No:
            return QMessageBox::No;
    }
    return QMessageBox::NoButton;
}

// The nearest folder that exists, from the one asked for up: a file dialog given a folder that
// does not exist would take its last part for a file name and type it into the name field.
QString existingFolder(const QString& folder) {
    QString path = QDir::cleanPath(QDir::current().absoluteFilePath(folder));
    while (!QFileInfo(path).isDir()) {
        const QString parent = QFileInfo(path).path();
        if (parent == path) {
            break;
        }
        path = parent;
    }
    return path;
}

QString startPath(const FileDialogRequest& request) {
    const QString folder = request.folder.isEmpty() ? QString() : existingFolder(request.folder);
    if (request.fileName.isEmpty()) {
        return folder;
    }
    return folder.isEmpty() ? request.fileName : QDir(folder).filePath(request.fileName);
}

// A message box: the program's title, an icon, and a frame that offers to close it but not to
// maximise or minimise it.
void prepareBox(QMessageBox& box) {
    box.setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                       Qt::WindowCloseButtonHint);
}

// The texts break their lines the Windows way ("\n\r", "\r\n" or a lone "\r"); a Qt box
// breaks at "\n" only.
QString displayText(QString text) {
    text.replace(QStringLiteral("\n\r"), QStringLiteral("\n"));
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return text;
}

std::unique_ptr<QMessageBox> messageBox(const QString& text) {
    auto box =
        std::make_unique<QMessageBox>(QMessageBox::Information, QApplication::applicationName(),
                                      displayText(text), QMessageBox::Ok, owner());
    prepareBox(*box);
    return box;
}

// Shows `box` modal to the whole application without an event loop of its own; it is owned by
// its window, or by itself when there is none, and goes once closed. Exactly one of `finished`
// (when the user closes it; the box is still there) and `unanswered` (when it is destroyed
// first, with its window) runs, once. `unanswered` runs from the event loop, after the window
// that took the box with it has gone entirely, so that a guard of it sees it gone. The box is
// shown as exec() shows it, without raising or activating it by hand: the window manager
// gives it the keyboard.
void showAnswering(QDialog* box, std::function<void(QDialog& box)> finished,
                   std::function<void()> unanswered) {
    auto pending = std::make_shared<bool>(true);
    box->setAttribute(Qt::WA_DeleteOnClose);
    QObject::connect(box, &QDialog::finished, box, [box, pending, finished = std::move(finished)] {
        if (std::exchange(*pending, false)) {
            finished(*box);
        }
    });
    QObject::connect(box, &QObject::destroyed, [pending, unanswered = std::move(unanswered)] {
        if (std::exchange(*pending, false)) {
            QMetaObject::invokeMethod(qApp, unanswered, Qt::QueuedConnection);
        }
    });
    box->setWindowModality(Qt::ApplicationModal);
    box->show();
}

// An open or save file dialog of the request, in its starting folder.
QFileDialog* fileDialog(const FileDialogRequest& request) {
    return new QFileDialog(owner(), request.title, startPath(request), request.filter);
}

// What a finished file dialog hands back: nothing when it was cancelled.
QStringList selectedFiles(QDialog& finished) {
    if (finished.result() != QDialog::Accepted) {
        return {};
    }
    return static_cast<QFileDialog&>(finished).selectedFiles();
}

// A print or page setup dialog on the printer: `confirmed` is given whether the user confirmed.
// The unanswered function is held until the dialog has gone, and holds the printer that long.
void showOnPrinter(QDialog* dialog, std::shared_ptr<QPrinter> printer,
                   std::function<void(bool)> confirmed) {
    showAnswering(
        dialog, [confirmed](QDialog& box) { confirmed(box.result() == QDialog::Accepted); },
        [printer = std::move(printer), confirmed] { confirmed(false); });
}

}  // namespace

void QtDialogService::showMessage(const QString& text, std::function<void()> closed) {
    if (!closed) {
        closed = [] {};
    }
    showAnswering(
        messageBox(text).release(), [closed](QDialog&) { closed(); }, closed);
}

void QtDialogService::ask(QuestionKind kind, const QString& text,
                          const QList<DialogButton>& buttons,
                          std::function<void(DialogButton)> answered) {
    auto* const box = new QMessageBox(
        kind == QuestionKind::Warning ? QMessageBox::Warning : QMessageBox::Question,
        QApplication::applicationName(), displayText(text), QMessageBox::NoButton, owner());
    prepareBox(*box);
    for (const DialogButton button : buttons) {
        box->addButton(standardButton(button));
    }
    if (!buttons.isEmpty()) {
        box->setDefaultButton(standardButton(buttons.first()));
    }
    const DialogButton unanswered = unansweredButton(buttons);
    showAnswering(
        box,
        [buttons, unanswered, answered](QDialog& dialog) {
            const auto& question = static_cast<QMessageBox&>(dialog);
            const QMessageBox::StandardButton pressed =
                question.clickedButton() != nullptr
                    ? question.standardButton(question.clickedButton())
                    : QMessageBox::NoButton;
            for (const DialogButton button : buttons) {
                if (standardButton(button) == pressed) {
                    answered(button);
                    return;
                }
            }
            answered(unanswered);
        },
        [unanswered, answered] { answered(unanswered); });
}

void QtDialogService::askText(const QString& title, const QString& label, const QString& initial,
                              std::function<void(std::optional<QString>)> answered) {
    auto* const prompt = new QInputDialog(owner());
    prompt->setWindowTitle(title);
    prompt->setLabelText(label);
    prompt->setInputMode(QInputDialog::TextInput);
    prompt->setTextEchoMode(QLineEdit::Normal);
    prompt->setTextValue(initial);
    showAnswering(
        prompt,
        [answered](QDialog& dialog) {
            answered(dialog.result() == QDialog::Accepted
                         ? std::optional(static_cast<QInputDialog&>(dialog).textValue())
                         : std::nullopt);
        },
        [answered] { answered(std::nullopt); });
}

void QtDialogService::openFileName(const FileDialogRequest& request,
                                   std::function<void(const QString&)> chosen) {
    QFileDialog* const dialog = fileDialog(request);
    dialog->setFileMode(QFileDialog::ExistingFile);
    showAnswering(
        dialog, [chosen](QDialog& finished) { chosen(selectedFiles(finished).value(0)); },
        [chosen] { chosen(QString()); });
}

void QtDialogService::openFileNames(const FileDialogRequest& request,
                                    std::function<void(const QStringList&)> chosen) {
    QFileDialog* const dialog = fileDialog(request);
    dialog->setFileMode(QFileDialog::ExistingFiles);
    showAnswering(
        dialog, [chosen](QDialog& finished) { chosen(selectedFiles(finished)); },
        [chosen] { chosen(QStringList()); });
}

void QtDialogService::saveFileName(const FileDialogRequest& request,
                                   std::function<void(const QString&)> chosen) {
    QFileDialog* const dialog = fileDialog(request);
    dialog->setAcceptMode(QFileDialog::AcceptSave);
    dialog->setDefaultSuffix(request.defaultSuffix);
    showAnswering(
        dialog, [chosen](QDialog& finished) { chosen(selectedFiles(finished).value(0)); },
        [chosen] { chosen(QString()); });
}

void QtDialogService::browseFolder(const QString& title, const QString& startFolder,
                                   std::function<void(const QString&)> chosen) {
    auto* const dialog = new QFileDialog(owner(), title, startFolder);
    dialog->setFileMode(QFileDialog::Directory);
    dialog->setOption(QFileDialog::ShowDirsOnly);
    showAnswering(
        dialog,
        [chosen](QDialog& finished) {
            const QString folder = selectedFiles(finished).value(0);
            // The root folder keeps its separator; every other folder is given without one.
            chosen(folder.isEmpty() ? folder : QDir::toNativeSeparators(QDir::cleanPath(folder)));
        },
        [chosen] { chosen(QString()); });
}

void QtDialogService::print(std::shared_ptr<QPrinter> printer,
                            std::function<void(bool)> confirmed) {
    auto* const dialog = new QPrintDialog(printer.get(), owner());
    showOnPrinter(dialog, std::move(printer), std::move(confirmed));
}

void QtDialogService::pageSetup(std::shared_ptr<QPrinter> printer,
                                std::function<void(bool)> confirmed) {
    auto* const dialog = new QPageSetupDialog(printer.get(), owner());
    showOnPrinter(dialog, std::move(printer), std::move(confirmed));
}

}  // namespace velmora
