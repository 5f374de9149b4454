#include "base/HelpTopic.h"
#include "base/RecentList.h"
#include "base/ScriptedDialogService.h"
#include "shell/StartArgument.h"

#include "support/TestEnvironment.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

namespace velmora {
namespace {

TEST(StartArgument, OnlyTheFirstArgumentCountsAndUninstallIsExact) {
    EXPECT_EQ(StartArgument::parse({}).kind, StartArgument::Kind::None);
    EXPECT_EQ(StartArgument::parse({"-uninstall"}).kind, StartArgument::Kind::Uninstall);
    EXPECT_EQ(StartArgument::parse({"-uninstall", "x.vmc"}).kind, StartArgument::Kind::Uninstall);

    const StartArgument upper = StartArgument::parse({"-Uninstall"});
    EXPECT_EQ(upper.kind, StartArgument::Kind::ConnectionFile);
    EXPECT_EQ(upper.fileName, "-Uninstall");

    const StartArgument file = StartArgument::parse({"my line.vmc", "-uninstall", "other"});
    EXPECT_EQ(file.kind, StartArgument::Kind::ConnectionFile);
    EXPECT_EQ(file.fileName, "my line.vmc");

    const StartArgument odd = StartArgument::parse({"\xC3\xA9t\xC3\xA9 \"*?|<>.vmc"});
    EXPECT_EQ(odd.kind, StartArgument::Kind::ConnectionFile);
    EXPECT_EQ(odd.fileName, QString("\xC3\xA9t\xC3\xA9 \"*?|<>.vmc"));
}

TEST(HelpTopic, TopicPathsNamePagesInsideTheHelpFolder) {
    EXPECT_EQ(HelpTopic::pageFile("/h", HelpTopic::Introduction),
              "/h/Source/Introducing the Velmora/Introduction.htm");
    EXPECT_EQ(HelpTopic::pageFile("/h", HelpTopic::OptionsDialog),
              "/h/Source/Interface/Options dialog/General tab.htm");
    EXPECT_EQ(HelpTopic::pageFile("/h", HelpTopic::ModemNotFound),
              "/h/Source/Useful techniques/Troubleshooting Velmora didn't find my modem!.htm");
    // Nothing outside the help folder, and nothing without the prefix.
    EXPECT_EQ(HelpTopic::pageFile("/h", "::/Source\\..\\..\\etc\\passwd"), "");
    EXPECT_EQ(HelpTopic::pageFile("/h", "Source\\A.htm"), "");
    EXPECT_EQ(HelpTopic::pageFile("/h", "::/"), "");

    EXPECT_EQ(HelpTopic::fallbackMessage("help@x.example"),
              "Sorry, but your system doesn't support HTMLHelp.\rPlease, consult help@x.example "
              "and we'll send you another help file.");
}

TEST(RecentList, RoundTripsWithCrLfAndSurvivesBadFiles) {
    const QString folder = test::makeTempFolder("recent");
    const QString path = QDir(folder).filePath("recents.list");
    EXPECT_TRUE(RecentList::load(path).isEmpty());

    const QStringList entries{"/a/one.vmc", "", "two.vmc"};
    ASSERT_TRUE(RecentList::save(path, entries));
    EXPECT_EQ(test::readFile(path), QByteArray("/a/one.vmc\r\n\r\ntwo.vmc\r\n"));
    EXPECT_EQ(RecentList::load(path), entries);

    ASSERT_TRUE(test::writeFile(path, "first\nsecond\r\nlast without end"));
    EXPECT_EQ(RecentList::load(path), (QStringList{"first", "second", "last without end"}));

    ASSERT_TRUE(test::writeFile(path, QByteArray("\x00\xff\x01\r\n", 5)));
    EXPECT_EQ(RecentList::load(path).size(), 1);

    ASSERT_TRUE(test::writeFile(path, QByteArray(RecentList::MaximumSize + 1, 'x')));
    EXPECT_TRUE(RecentList::load(path).isEmpty());

    ASSERT_TRUE(RecentList::save(path, {}));
    EXPECT_TRUE(RecentList::load(path).isEmpty());
}

// A question's answer, which the scripted service gives inside the call; nothing if it did not.
std::optional<DialogButton> askNow(DialogService& dialogs, QuestionKind kind, const QString& text,
                                   const QList<DialogButton>& buttons) {
    std::optional<DialogButton> answer;
    dialogs.ask(kind, text, buttons, [&](DialogButton given) { answer = given; });
    return answer;
}

std::optional<std::optional<QString>> askTextNow(DialogService& dialogs, const QString& title,
                                                 const QString& label, const QString& initial) {
    std::optional<std::optional<QString>> answer;
    dialogs.askText(title, label, initial, [&](std::optional<QString> given) { answer = given; });
    return answer;
}

// A file dialog's or folder browser's answer, given inside the call.
template <typename Call>
QString chosenNow(Call call) {
    QString chosen = QStringLiteral("(not answered)");
    call([&](const QString& given) { chosen = given; });
    return chosen;
}

TEST(ScriptedDialogService, AnswersInOrderAndReportsWhatWasNotExpected) {
    QStringList reported;
    ScriptedDialogService dialogs([&](const QString& what) { reported << what; });
    dialogs.answerQuestion(DialogButton::No);
    dialogs.answerFolder("/tmp/x");
    dialogs.answerText(QString("555"));

    dialogs.showMessage("note");
    EXPECT_EQ(askNow(dialogs, QuestionKind::Warning, "q1", {DialogButton::Yes, DialogButton::No}),
              DialogButton::No);
    EXPECT_EQ(chosenNow([&](auto chosen) { dialogs.browseFolder("title", "/start", chosen); }),
              "/tmp/x");
    EXPECT_EQ(askTextNow(dialogs, "Phone", "Number", ""),
              std::optional(std::optional(QString("555"))));
    EXPECT_TRUE(reported.isEmpty());
    EXPECT_EQ(dialogs.messages(), QStringList{"note"});
    EXPECT_EQ(dialogs.questions(), QStringList{"q1"});
    EXPECT_EQ(dialogs.records().at(2).startFolder, "/start");
    EXPECT_EQ(dialogs.pendingAnswers(), 0);

    // No answer queued: reported, and answered as a cancel.
    EXPECT_EQ(askNow(dialogs, QuestionKind::Warning, "q2",
                     {DialogButton::Yes, DialogButton::No, DialogButton::Cancel}),
              DialogButton::Cancel);
    EXPECT_EQ(chosenNow([&](auto chosen) { dialogs.saveFileName({}, chosen); }), "");
    EXPECT_EQ(reported.size(), 2);

    // An answer of another kind stays queued for its own call.
    dialogs.answerFile("/f.vmc");
    EXPECT_EQ(askNow(dialogs, QuestionKind::Confirmation, "q3", {DialogButton::Yes}),
              DialogButton::Yes);
    EXPECT_EQ(reported.size(), 3);
    EXPECT_EQ(chosenNow([&](auto chosen) { dialogs.openFileName({}, chosen); }), "/f.vmc");

    // An answer that is not among the buttons is reported too.
    dialogs.answerQuestion(DialogButton::Cancel);
    EXPECT_EQ(askNow(dialogs, QuestionKind::Warning, "q4", {DialogButton::Yes, DialogButton::No}),
              DialogButton::No);
    EXPECT_EQ(reported.size(), 4);
    EXPECT_EQ(dialogs.unexpected().size(), 4);
}

}  // namespace
}  // namespace velmora
