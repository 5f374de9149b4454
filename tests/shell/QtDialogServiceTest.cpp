// The application's dialog service shows its boxes without an event loop of its own: the call
// returns before the user answers, the UI thread runs on, and the continuation runs once with
// the answer given.
#include "shell/QtDialogService.h"

#include "support/TestEnvironment.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QInputDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPrinter>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

namespace velmora {
namespace {

// The box the service shows, once it is there.
template <typename Box>
Box* shownBox() {
    Box* box = nullptr;
    test::pumpUntil([&] {
        box = qobject_cast<Box*>(QApplication::activeModalWidget());
        return box != nullptr && box->isVisible();
    });
    return box;
}

// After a box has ended: its deletion done and what it queued delivered, so that a second
// answer would be seen.
void settle() {
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCoreApplication::processEvents();
}

// Each way of ending a message box runs `closed` once, and only after the box was shown and
// the UI thread's timers ran meanwhile.
TEST(QtDialogService, AMessageReturnsAtOnceAndSaysOnceWhenItHasGone) {
    QtDialogService dialogs;
    const std::vector<std::function<void(QMessageBox&)>> endings = {
        [](QMessageBox& box) { QTest::mouseClick(box.button(QMessageBox::Ok), Qt::LeftButton); },
        [](QMessageBox& box) { QTest::keyClick(&box, Qt::Key_Escape); },
        [](QMessageBox& box) { box.close(); },
        [](QMessageBox& box) { delete &box; },
    };
    for (std::size_t i = 0; i < endings.size(); ++i) {
        SCOPED_TRACE(i);
        int closed = 0;
        bool timerRan = false;
        QTimer::singleShot(0, [&] { timerRan = true; });
        dialogs.showMessage(QStringLiteral("Line is busy!"), [&] { ++closed; });
        EXPECT_EQ(closed, 0) << "the call returned before the answer";
        QMessageBox* const box = shownBox<QMessageBox>();
        ASSERT_NE(box, nullptr);
        EXPECT_EQ(box->text(), "Line is busy!");
        EXPECT_EQ(box->windowModality(), Qt::ApplicationModal);
        EXPECT_TRUE(test::pumpUntil([&] { return timerRan; }));
        EXPECT_EQ(closed, 0);
        endings[i](*box);
        EXPECT_TRUE(test::pumpUntil([&] { return closed > 0; }));
        settle();
        EXPECT_EQ(closed, 1);
        EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    }
    // Without a continuation the box is shown all the same and goes when closed.
    dialogs.showMessage(QStringLiteral("Saved."));
    QMessageBox* const box = shownBox<QMessageBox>();
    ASSERT_NE(box, nullptr);
    QTest::keyClick(box, Qt::Key_Return);
    EXPECT_TRUE(test::pumpUntil([] { return QApplication::activeModalWidget() == nullptr; }));
}

// A question returns before it is answered; each ending gives its answer once: the button
// pressed, and for Esc, the close box or the box destroyed unanswered, Cancel when offered,
// else the last button.
TEST(QtDialogService, AQuestionReturnsAtOnceAndGivesItsAnswerOnce) {
    QtDialogService dialogs;
    const QList<DialogButton> yesNoCancel = {DialogButton::Yes, DialogButton::No,
                                             DialogButton::Cancel};
    const QList<DialogButton> yesNo = {DialogButton::Yes, DialogButton::No};
    const QList<DialogButton> okCancel = {DialogButton::Ok, DialogButton::Cancel};
    const auto click = [](QMessageBox::StandardButton which) {
        return [which](QMessageBox& box) { QTest::mouseClick(box.button(which), Qt::LeftButton); };
    };
    struct Case {
        QList<DialogButton> buttons;
        std::function<void(QMessageBox&)> ending;
        DialogButton answer;
    };
    const std::vector<Case> cases = {
        {yesNoCancel, click(QMessageBox::Yes), DialogButton::Yes},
        {yesNoCancel, click(QMessageBox::No), DialogButton::No},
        {yesNoCancel, click(QMessageBox::Cancel), DialogButton::Cancel},
        {okCancel, click(QMessageBox::Ok), DialogButton::Ok},
        {yesNoCancel, [](QMessageBox& box) { QTest::keyClick(&box, Qt::Key_Escape); },
         DialogButton::Cancel},
        {yesNoCancel, [](QMessageBox& box) { box.close(); }, DialogButton::Cancel},
        {yesNo, [](QMessageBox& box) { box.close(); }, DialogButton::No},
        {yesNoCancel, [](QMessageBox& box) { delete &box; }, DialogButton::Cancel},
        {yesNo, [](QMessageBox& box) { delete &box; }, DialogButton::No},
        // Enter takes the default button, the first.
        {yesNoCancel, [](QMessageBox& box) { QTest::keyClick(&box, Qt::Key_Return); },
         DialogButton::Yes},
    };
    for (std::size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(i);
        std::vector<DialogButton> answers;
        bool timerRan = false;
        QTimer::singleShot(0, [&] { timerRan = true; });
        dialogs.ask(QuestionKind::Warning, QStringLiteral("Save it now?"), cases[i].buttons,
                    [&](DialogButton answer) { answers.push_back(answer); });
        EXPECT_TRUE(answers.empty()) << "the call returned before the answer";
        QMessageBox* const box = shownBox<QMessageBox>();
        ASSERT_NE(box, nullptr);
        EXPECT_EQ(box->text(), "Save it now?");
        EXPECT_EQ(box->windowModality(), Qt::ApplicationModal);
        EXPECT_EQ(box->buttons().size(), cases[i].buttons.size());
        EXPECT_TRUE(test::pumpUntil([&] { return timerRan; }));
        EXPECT_TRUE(answers.empty());
        cases[i].ending(*box);
        EXPECT_TRUE(test::pumpUntil([&] { return !answers.empty(); }));
        settle();
        EXPECT_EQ(answers, std::vector<DialogButton>{cases[i].answer});
    }
}

// The text prompt: the typed text on OK, nothing on Cancel or when it goes unanswered.
TEST(QtDialogService, ATextPromptReturnsAtOnceAndGivesTheTextOnce) {
    QtDialogService dialogs;
    const std::vector<std::pair<std::function<void(QInputDialog&)>, std::optional<QString>>> cases =
        {
            {[](QInputDialog& prompt) {
                 auto* const edit = prompt.findChild<QLineEdit*>();
                 edit->selectAll();
                 QTest::keyClicks(edit, QStringLiteral("555 0100"));
                 QTest::keyClick(edit, Qt::Key_Return);
             },
             QStringLiteral("555 0100")},
            {[](QInputDialog& prompt) { QTest::keyClick(&prompt, Qt::Key_Escape); }, std::nullopt},
            {[](QInputDialog& prompt) { delete &prompt; }, std::nullopt},
        };
    for (std::size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(i);
        std::vector<std::optional<QString>> answers;
        dialogs.askText(QStringLiteral("Phone"), QStringLiteral("Number:"), QStringLiteral("555"),
                        [&](std::optional<QString> text) { answers.push_back(text); });
        EXPECT_TRUE(answers.empty());
        QInputDialog* const prompt = shownBox<QInputDialog>();
        ASSERT_NE(prompt, nullptr);
        EXPECT_EQ(prompt->windowTitle(), "Phone");
        EXPECT_EQ(prompt->labelText(), "Number:");
        EXPECT_EQ(prompt->textValue(), "555");
        cases[i].first(*prompt);
        EXPECT_TRUE(test::pumpUntil([&] { return !answers.empty(); }));
        settle();
        EXPECT_EQ(answers, std::vector<std::optional<QString>>{cases[i].second});
    }
}

// Types a name into a file dialog's name field and presses Enter, as a user would.
void typeName(QFileDialog& dialog, const QString& name) {
    auto* const edit = dialog.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    ASSERT_NE(edit, nullptr);
    edit->clear();
    QTest::keyClicks(edit, name);
    QTest::keyClick(edit, Qt::Key_Return);
}

// The file dialogs and the folder browser return at once and hand over what was chosen once:
// the path typed, with the save dialog's suffix added; nothing when cancelled or destroyed.
TEST(QtDialogService, FileDialogsReturnAtOnceAndGiveTheChoiceOnce) {
    const QString folder = test::makeTempFolder("file-dialogs");
    ASSERT_TRUE(test::writeFile(folder + "/one.txt", "1"));
    ASSERT_TRUE(QDir(folder).mkdir("inner"));
    QtDialogService dialogs;
    FileDialogRequest request;
    request.filter = QStringLiteral("All files (*)");
    request.folder = folder;
    using Show = std::function<void(std::function<void(const QString&)>)>;
    struct Case {
        Show show;
        std::function<void(QFileDialog&)> ending;
        QString chosen;
    };
    const Show open = [&](auto chosen) { dialogs.openFileName(request, chosen); };
    const Show openMany = [&](auto chosen) {
        dialogs.openFileNames(
            request, [chosen](const QStringList& paths) { chosen(paths.join(QLatin1Char('|'))); });
    };
    FileDialogRequest saving = request;
    saving.defaultSuffix = QStringLiteral("txt");
    const Show save = [&](auto chosen) { dialogs.saveFileName(saving, chosen); };
    const Show browse = [&](auto chosen) {
        dialogs.browseFolder(QStringLiteral("Place incoming files to..."), folder, chosen);
    };
    const auto cancel = [](QFileDialog& dialog) { QTest::keyClick(&dialog, Qt::Key_Escape); };
    const auto destroy = [](QFileDialog& dialog) { delete &dialog; };
    const std::vector<Case> cases = {
        {open, [](QFileDialog& dialog) { typeName(dialog, "one.txt"); }, folder + "/one.txt"},
        {open, cancel, QString()},
        {openMany, [](QFileDialog& dialog) { typeName(dialog, "one.txt"); }, folder + "/one.txt"},
        {openMany, destroy, QString()},
        {save, [](QFileDialog& dialog) { typeName(dialog, "log"); }, folder + "/log.txt"},
        {save, destroy, QString()},
        {browse, [](QFileDialog& dialog) { typeName(dialog, "inner"); }, folder + "/inner"},
        {browse, cancel, QString()},
    };
    for (std::size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(i);
        QStringList answers;
        cases[i].show([&](const QString& chosen) { answers << chosen; });
        EXPECT_TRUE(answers.isEmpty()) << "the call returned before the answer";
        QFileDialog* const dialog = shownBox<QFileDialog>();
        ASSERT_NE(dialog, nullptr);
        EXPECT_EQ(dialog->windowModality(), Qt::ApplicationModal);
        cases[i].ending(*dialog);
        EXPECT_TRUE(test::pumpUntil([&] { return !answers.isEmpty(); }));
        settle();
        EXPECT_EQ(answers, QStringList{cases[i].chosen});
    }
}

// The print and page setup dialogs return at once; cancelled or destroyed, they say no once.
// They keep their printer while they are there, though their caller let it go (its window may
// be destroyed first), and no longer.
TEST(QtDialogService, PrintDialogsReturnAtOnceAndAnswerOnce) {
    QtDialogService dialogs;
    const auto cancel = [](QDialog& dialog) { QTest::keyClick(&dialog, Qt::Key_Escape); };
    const auto destroy = [](QDialog& dialog) { delete &dialog; };
    using Show = std::function<void(std::shared_ptr<QPrinter>, std::function<void(bool)>)>;
    const Show print = [&](auto printer, auto confirmed) { dialogs.print(printer, confirmed); };
    const Show pageSetup = [&](auto printer, auto confirmed) {
        dialogs.pageSetup(printer, confirmed);
    };
    const std::vector<std::pair<Show, std::function<void(QDialog&)>>> cases = {
        {print, cancel}, {print, destroy}, {pageSetup, cancel}, {pageSetup, destroy}};
    for (std::size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(i);
        std::vector<bool> answers;
        auto printer = std::make_shared<QPrinter>();
        const std::weak_ptr<QPrinter> held = printer;
        cases[i].first(std::exchange(printer, nullptr),
                       [&](bool confirmed) { answers.push_back(confirmed); });
        EXPECT_TRUE(answers.empty()) << "the call returned before the answer";
        QDialog* const dialog = shownBox<QDialog>();
        ASSERT_NE(dialog, nullptr);
        EXPECT_EQ(dialog->windowModality(), Qt::ApplicationModal);
        EXPECT_FALSE(held.expired()) << "the shown dialog lost its printer";
        cases[i].second(*dialog);
        EXPECT_TRUE(test::pumpUntil([&] { return !answers.empty(); }));
        settle();
        EXPECT_EQ(answers, std::vector<bool>{false});
        EXPECT_TRUE(held.expired()) << "the printer outlived its dialog";
    }
}

}  // namespace
}  // namespace velmora
