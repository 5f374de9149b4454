#include "RtfReader.h"
#include "session/FakeDirectPlay.h"
#include "session/SystemMessages.h"

#include "base/ProgramTexts.h"
#include "base/ScriptedDialogService.h"
#include "conversation/Conversation.h"
#include "conversation/VirtualKeys.h"
#include "peer/Peer.h"
#include "support/FixedTransferSettings.h"
#include "support/SessionSteps.h"
#include "support/TestEnvironment.h"

#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QInputMethodEvent>
#include <QLineEdit>
#include <QMimeData>
#include <QPrinter>
#include <QProcess>
#include <QStandardPaths>
#include <QTest>
#include <QTextEdit>
#include <QVBoxLayout>
#include <QWidget>

#include <gtest/gtest.h>

namespace velmora {
namespace {

// Answers the print dialog as a user who picks printing to a PDF file.
class PdfDialogs : public ScriptedDialogService {
public:
    QString pdfPath;
    void print(std::shared_ptr<QPrinter> printer, std::function<void(bool)> confirmed) override {
        printer->setOutputFormat(QPrinter::PdfFormat);
        printer->setOutputFileName(pdfPath);
        confirmed(true);
    }
};

// One side: a window with the view and the field, a peer over a scripted service, and the
// conversation over them.
struct Side {
    test::FakeSystem system;
    PdfDialogs dialogs;
    QWidget window;
    QTextEdit* view = new QTextEdit(&window);
    QLineEdit* field = new QLineEdit(&window);
    test::FixedTransferSettings settings;
    Peer peer{system, settings};
    TCustomDXPlay& play = peer.session();
    bool classic = false;
    QStringList notices;
    int suspended = 0;
    int resumed = 0;
    std::unique_ptr<Conversation> conversation;

    Side(DPID id, DPID otherId, const QString& name, const QString& otherName) {
        auto* layout = new QVBoxLayout(&window);
        layout->addWidget(view);
        layout->addWidget(field);
        ConversationHooks hooks;
        hooks.classicMode = [this] { return classic; };
        hooks.showNotice = [this](const QString& text) { notices << text; };
        hooks.suspendSender = [this] { ++suspended; };
        hooks.resumeSender = [this] { ++resumed; };
        conversation = std::make_unique<Conversation>(*view, *field, peer, dialogs, hooks);
        QObject::connect(&peer, &Peer::chatLineReceived, conversation.get(),
                         &Conversation::textReceived);
        QObject::connect(&peer, &Peer::keyStrokeArrived, conversation.get(),
                         &Conversation::keyStrokeReceived);
        QObject::connect(&peer, &Peer::typedTextArrived, conversation.get(),
                         &Conversation::typedTextReceived);
        QObject::connect(
            &peer, &Peer::charactersReplaced, conversation.get(),
            [this] { conversation->appendLine(texts::CharactersNotSent); }, Qt::QueuedConnection);
        system.script->nextPlayerId = id;
        system.script->remotePlayers = {{otherId, otherName}};
        play.setProviderName("Serial Connection");
        test::openSession(play, true, "Chat", name);
        window.show();
    }
    ~Side() { play.Close(); }

    void setClassic(bool on) {
        classic = on;
        conversation->setClassicMode(on);
    }
    QStringList lines() const { return view->toPlainText().split('\n'); }
};

// Two sides joined by hand: what one sends is posted to the other by its own ID.
struct Pair {
    Side ann{1, 2, "Ann", "Bob"};
    Side bob{2, 1, "Bob", "Ann"};
    qsizetype annSent = 0;
    qsizetype bobSent = 0;

    // Both sides open with their hellos; the answers follow. Both speak UTF-8 from then on.
    explicit Pair(bool hellos = true) {
        if (hellos) {
            carry();
            carry();
        }
    }

    // Carries everything sent so far and waits until the other side has taken it.
    void carry() {
        forward(ann, bob, annSent);
        forward(bob, ann, bobSent);
    }

    // Both sides in classic mode, Ann's view active and focused for typing.
    void typeClassicOnAnn() {
        ann.setClassic(true);
        bob.setClassic(true);
        QApplication::setActiveWindow(&ann.window);
        ann.view->setFocus();
    }

    // Carries what is on the way; then both views show `text`.
    void expectBothShow(const QString& text) {
        carry();
        EXPECT_EQ(ann.view->toPlainText(), text);
        EXPECT_EQ(bob.view->toPlainText(), text);
    }

private:
    static void forward(Side& from, Side& to, qsizetype& done) {
        const auto sent = from.system.script->sentMessages();
        for (; done < sent.size(); ++done) {
            to.system.script->post(from.play.LocalPlayer()->ID, sent[done].data);
        }
        QElapsedTimer timer;
        timer.start();
        while (to.system.script->queued() > 0 && timer.elapsed() < 20000) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        }
        ASSERT_EQ(to.system.script->queued(), 0);
    }
};

TEST(ConversationTest, ChatLinesShowOnBothSidesUnderTheirSendersNames) {
    Pair pair;
    auto& ann = pair.ann;
    auto& bob = pair.bob;
    ann.field->setText(QString::fromUtf8("Hello caf\xC3\xA9 \xE2\x82\xAC \xD0\x96"));
    QTest::keyClick(ann.field, Qt::Key_Return);
    EXPECT_EQ(ann.field->text(), "");
    pair.carry();
    const QString shown = QString::fromUtf8("Ann>    Hello caf\xC3\xA9 \xE2\x82\xAC \xD0\x96");
    EXPECT_EQ(ann.lines(), QStringList({shown})) << "own line through the own handler";
    EXPECT_EQ(bob.lines(), QStringList({shown}));

    // An empty or blank line says nothing: it is not sent, and a blank one leaves the field.
    const qsizetype bobSentBefore = bob.system.script->sentMessages().size();
    bob.field->clear();
    bob.conversation->SendSpeedButtonClick();
    bob.field->setText(" \t ");
    QTest::keyClick(bob.field, Qt::Key_Return);
    pair.carry();
    EXPECT_EQ(bob.system.script->sentMessages().size(), bobSentBefore);
    EXPECT_EQ(ann.lines(), QStringList({shown}));
    EXPECT_EQ(bob.lines(), ann.lines());
    EXPECT_EQ(bob.field->text(), "");

    // A pasted text of several lines shows in the field as the one line that goes out.
    bob.field->clear();
    QApplication::clipboard()->setText("first\r\nsecond\nthird");
    bob.conversation->EditPaste();
    EXPECT_EQ(bob.field->text(), "first second third");
    EXPECT_EQ(bob.field->cursorPosition(), bob.field->text().size());
    bob.field->setText("typed\nby a program\u2029too");
    EXPECT_EQ(bob.field->text(), "typed by a program too");
    QTest::keyClick(bob.field, Qt::Key_Return);
    pair.carry();
    EXPECT_EQ(ann.lines().last(), "Bob>    typed by a program too");
    EXPECT_EQ(ann.lines().size(), 2);

    // A zero byte ends the text.
    QByteArray zero = buildTextMessage({QByteArray("ab\0cd", 5)});
    ann.play.SendMessage(0, zero.constData(), zero.size());
    pair.carry();
    EXPECT_EQ(bob.lines().last(), "Ann>    ab");

    // A received line puts the caret at the end, also while typing in the middle.
    bob.setClassic(true);
    QTextCursor cursor = bob.view->textCursor();
    cursor.setPosition(3);
    bob.view->setTextCursor(cursor);
    ann.field->setText("end");
    ann.conversation->SendSpeedButtonClick();
    pair.carry();
    EXPECT_EQ(bob.view->textCursor().position(), bob.view->toPlainText().size());
    EXPECT_FALSE(bob.view->textCursor().hasSelection());

    // A line typed while nobody else is there is not shown as sent: it stays in the field and
    // the view says so.
    const QStringList before = ann.lines();
    const qsizetype annSentBefore = ann.system.script->sentMessages().size();
    ann.system.script->post(DPID_SYSMSG, encodeDestroyPlayer({DPPLAYERTYPE_PLAYER, 2}));
    ASSERT_TRUE(test::pumpUntil([&] { return ann.peer.playerCount() == 1; }));
    ann.field->setText("anyone?");
    QTest::keyClick(ann.field, Qt::Key_Return);
    EXPECT_EQ(ann.field->text(), "anyone?");
    EXPECT_EQ(ann.lines(), before + QStringList{Conversation::NobodyThereLine});
    EXPECT_EQ(ann.system.script->sentMessages().size(), annSentBefore);

    // Sending while not connected says so and keeps the text.
    ann.play.Close();
    ann.field->setText("kept");
    ann.conversation->SendSpeedButtonClick();
    EXPECT_EQ(ann.dialogs.messages(),
              QStringList({"Sorry, but we haven't connected anywere yet. Please, create "
                           "connection before sending files or messages."}));
    EXPECT_EQ(ann.field->text(), "kept");
}

TEST(ConversationTest, PromptsArePlaceholdersNeverTextOfTheField) {
    Pair pair;
    auto& ann = pair.ann;
    const QString connectPrompt = "Please, connect before sending messages or files.";
    const QString typePrompt = "Type your message here and press Enter to send it.";
    EXPECT_EQ(ann.field->text(), "");
    EXPECT_EQ(ann.field->placeholderText(), connectPrompt);

    // A draft typed before the prompt changes stays as it is.
    QTest::mouseClick(ann.field, Qt::LeftButton, {}, ann.field->rect().center());
    QTest::keyClicks(ann.field, "draft");
    ann.conversation->setPrompt(typePrompt);
    EXPECT_EQ(ann.field->text(), "draft");
    EXPECT_EQ(ann.field->placeholderText(), typePrompt);

    // A click in the middle of the shown prompt, typing, Enter: only the typed text is sent.
    ann.field->clear();
    QTest::mouseClick(ann.field, Qt::LeftButton, {}, ann.field->rect().center());
    QTest::keyClicks(ann.field, "Hello Bob");
    QTest::keyClick(ann.field, Qt::Key_Return);
    pair.carry();
    EXPECT_EQ(pair.bob.lines(), QStringList({"Ann>    Hello Bob"}));
    EXPECT_EQ(ann.field->text(), "");
    EXPECT_EQ(ann.field->placeholderText(), typePrompt);
}

TEST(ConversationTest, ClassicModeKeystrokesReplayOnceAndNeverEchoBack) {
    Pair pair;
    auto& ann = pair.ann;
    auto& bob = pair.bob;
    ann.setClassic(true);
    bob.setClassic(true);
    ann.view->setFocus();

    const qsizetype bobBefore = pair.bobSent;
    QTest::keyClicks(ann.view, "hi");
    EXPECT_EQ(ann.system.script->sentMessages().size() - pair.annSent, 4)
        << "key-down and key-press each";
    pair.carry();
    EXPECT_EQ(bob.view->toPlainText(), "hi");
    EXPECT_EQ(bob.system.script->sentMessages().size(), bobBefore)
        << "a replayed key is not sent back";

    QTest::keyClick(ann.view, Qt::Key_Backspace);
    QTest::keyClick(ann.view, Qt::Key_Return);
    QTest::keyClicks(ann.view, "yo");
    // Keys that only move the caret stay here; what is typed next goes at the end all the same.
    const qsizetype annBefore = ann.system.script->sentMessages().size();
    QTest::keyClick(ann.view, Qt::Key_Left);
    QTest::keyClick(ann.view, Qt::Key_Home);
    EXPECT_EQ(ann.system.script->sentMessages().size(), annBefore);
    QTest::keyClicks(ann.view, "X");
    pair.carry();
    EXPECT_EQ(ann.view->toPlainText(), "h\nyoX");
    EXPECT_EQ(bob.view->toPlainText(), ann.view->toPlainText());
    EXPECT_EQ(bob.system.script->sentMessages().size(), bobBefore);
    EXPECT_FALSE(bob.conversation->replayPending());

    // A key typed right after a replay is sent; a received key-down that types nothing (an
    // older peer's arrow) moves nothing here.
    bob.view->setFocus();
    QTextCursor bobCaret = bob.view->textCursor();
    bobCaret.setPosition(1);
    bob.view->setTextCursor(bobCaret);
    bob.conversation->keyStrokeReceived({*virtualKeyFromQtKey(Qt::Key_Left), ' ', 0});
    EXPECT_EQ(bob.view->textCursor().position(), 1);
    QTest::keyClicks(bob.view, "!");
    pair.carry();
    EXPECT_EQ(ann.view->toPlainText(), "h\nyoX!");
    EXPECT_EQ(bob.view->toPlainText(), "h\nyoX!");

    // The caret travels cut to 16 bits.
    const auto typed = parseTypedText(bytesOf(bob.system.script->sentMessages().last().data));
    ASSERT_TRUE(typed);
    EXPECT_EQ(typed->text, "!");
    EXPECT_EQ(typed->caret, 5);

    // Switching modes keeps the content.
    ann.setClassic(false);
    EXPECT_EQ(ann.view->toPlainText(), "h\nyoX!");
    EXPECT_TRUE(ann.view->isReadOnly());

    // In chat mode a keystroke shows in the view and leaves the focus in the field, where the
    // user types; the view stays read-only for the user.
    QApplication::setActiveWindow(&ann.window);
    ann.conversation->focusInput();
    ASSERT_TRUE(ann.field->hasFocus());
    QTest::keyClicks(bob.view, "z");
    pair.carry();
    EXPECT_TRUE(ann.field->hasFocus());
    EXPECT_EQ(ann.view->toPlainText(), "h\nyoX!z");
    EXPECT_TRUE(ann.view->isReadOnly());
    EXPECT_EQ(ann.system.script->sentMessages().size(), pair.annSent) << "chat mode sends no key";

    // A character typed while the chat-mode view has the focus goes to the field, not lost.
    ann.view->setFocus();
    QTest::keyClicks(ann.view, "ok");
    EXPECT_TRUE(ann.field->hasFocus());
    EXPECT_EQ(ann.field->text(), "ok");
    EXPECT_EQ(ann.view->toPlainText(), "h\nyoX!z");
    ann.field->clear();

    // Back in classic mode the caret is at the end of the view, and the first key typed is sent.
    ann.setClassic(true);
    ann.conversation->focusInput();
    EXPECT_TRUE(ann.view->hasFocus());
    EXPECT_EQ(ann.view->textCursor().position(), ann.view->toPlainText().size());
    QTest::keyClicks(ann.view, "w");
    pair.carry();
    EXPECT_EQ(bob.view->toPlainText(), "h\nyoX!zw");
}

TEST(ConversationTest, ClassicModeEditsShowTheSameTextOnBothSides) {
    Pair pair;
    auto& ann = pair.ann;
    auto& bob = pair.bob;
    pair.typeClassicOnAnn();

    // The history is never edited from one side: Ctrl+X copies only, and Ctrl+V types at the end.
    QTest::keyClicks(ann.view, "abc");
    QTest::keyClick(ann.view, Qt::Key_Left, Qt::ShiftModifier);
    QTest::keyClick(ann.view, Qt::Key_Left, Qt::ShiftModifier);
    QTest::keyClick(ann.view, Qt::Key_X, Qt::ControlModifier);
    pair.expectBothShow("abc");
    EXPECT_EQ(QApplication::clipboard()->text(), "bc");
    QTest::keyClick(ann.view, Qt::Key_V, Qt::ControlModifier);
    pair.expectBothShow("abcbc");

    // Edit > Cut and Edit > Paste act on the view too, a line break as Enter; the caret put in
    // the middle of the text does not take the pasted text there.
    QTextCursor caret = ann.view->textCursor();
    caret.setPosition(1);
    ann.view->setTextCursor(caret);
    QApplication::clipboard()->setText("x\r\ny\u0007");
    ann.conversation->EditPaste();
    pair.expectBothShow("abcbcx\ny");
    QTest::keyClick(ann.view, Qt::Key_Left, Qt::ShiftModifier);
    ann.conversation->EditCut();
    pair.expectBothShow("abcbcx\ny");
    EXPECT_EQ(QApplication::clipboard()->text(), "y");
    EXPECT_TRUE(ann.field->text().isEmpty()) << "the hidden field is not touched";

    // Typing with the caret or a selection in the middle goes at the end; Delete and Backspace
    // never take text from the middle.
    const qsizetype sentBefore = ann.system.script->sentMessages().size();
    caret.setPosition(1);
    caret.setPosition(3, QTextCursor::KeepAnchor);
    ann.view->setTextCursor(caret);
    QTest::keyClick(ann.view, Qt::Key_Delete);
    QTest::keyClick(ann.view, Qt::Key_K, Qt::ControlModifier);  // delete to the end of the line
    pair.expectBothShow("abcbcx\ny");
    EXPECT_EQ(ann.system.script->sentMessages().size(), sentBefore);
    QTest::keyClicks(ann.view, "Z");
    pair.expectBothShow("abcbcx\nyZ");
    caret.setPosition(2);
    ann.view->setTextCursor(caret);
    QTest::keyClick(ann.view, Qt::Key_Backspace);
    pair.expectBothShow("abcbcx\ny");

    // A middle-click pastes the selection at the end and sends it; it never puts text into
    // this view alone.
    QWidget* viewport = ann.view->viewport();
    QApplication::clipboard()->setText("mid", QClipboard::Selection);
    QTest::mouseClick(viewport, Qt::MiddleButton, {}, QPoint(3, 3));
    pair.expectBothShow(QApplication::clipboard()->supportsSelection() ? "abcbcx\nymid"
                                                                       : "abcbcx\ny");
    ann.view->setPlainText("abcbcx\ny");
    bob.view->setPlainText("abcbcx\ny");

    // A dropped text is typed at the end too; dropped files are left to the window.
    QMimeData text;
    text.setText("dropped");
    QDragEnterEvent textEnter(QPoint(3, 3), Qt::CopyAction, &text, Qt::LeftButton, {});
    QApplication::sendEvent(viewport, &textEnter);
    EXPECT_TRUE(textEnter.isAccepted());
    QDropEvent textDrop(QPointF(3, 3), Qt::CopyAction, &text, Qt::LeftButton, {});
    QApplication::sendEvent(viewport, &textDrop);
    EXPECT_TRUE(textDrop.isAccepted());
    pair.expectBothShow("abcbcx\nydropped");
    QMimeData files;
    files.setUrls({QUrl::fromLocalFile("/tmp/a.txt")});
    QDragEnterEvent fileEnter(QPoint(3, 3), Qt::CopyAction, &files, Qt::LeftButton, {});
    QApplication::sendEvent(viewport, &fileEnter);
    EXPECT_FALSE(fileEnter.isAccepted());
    pair.expectBothShow("abcbcx\nydropped");
    ann.view->setPlainText("abc");
    bob.view->setPlainText("abc");
    ann.conversation->focusInput();

    // A chat line from the other side, then typing: the typed text starts a line of its own.
    bob.setClassic(false);
    bob.field->setText("hi");
    bob.conversation->SendSpeedButtonClick();
    pair.carry();
    QTest::keyClicks(ann.view, "w");
    pair.expectBothShow("abc\nBob>    hi\nw");

    // A replayed key right after a line this side alone appended starts a new line too.
    bob.conversation->appendLine("notice");
    bob.conversation->keyStrokeReceived({0, 'k', 0});
    EXPECT_EQ(bob.lines().mid(2), QStringList({"w", "notice", "k"}));
}

// A key whose text is the given characters, as a keyboard layout or a compose sequence gives it.
void typeKey(QWidget* view, const QString& text) {
    QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, text);
    QApplication::sendEvent(view, &press);
}

// What an input method commits, as for Japanese or Chinese.
void commitInput(QWidget* view, const QString& text) {
    QInputMethodEvent input;
    input.setCommitString(text);
    QApplication::sendEvent(view, &input);
}

TEST(ConversationTest, ClassicModeSendsWholeCharactersAndBackspaceRemovesOne) {
    Pair pair;
    auto& ann = pair.ann;
    pair.typeClassicOnAnn();
    const QString grin = QStringLiteral("\U0001F600");
    const QString coder = QStringLiteral("\U0001F469\u200D\U0001F4BB");  // one grapheme
    const QString accented = QStringLiteral("e\u0301");                  // e, combining acute

    QTest::keyClicks(ann.view, "ok ");
    const qsizetype before = ann.system.script->sentMessages().size();
    typeKey(ann.view, grin);
    const auto sent = ann.system.script->sentMessages();
    ASSERT_EQ(sent.size(), before + 1) << "one message for the whole character";
    const auto typed = parseTypedText(bytesOf(sent.last().data));
    ASSERT_TRUE(typed);
    EXPECT_EQ(typed->text, "\xf0\x9f\x98\x80");
    EXPECT_EQ(typed->caret, 3);

    typeKey(ann.view, coder);
    commitInput(ann.view, QStringLiteral("\u65e5\u672c"));
    QTest::keyClicks(ann.view, "e");
    typeKey(ann.view, QStringLiteral("\u0301"));
    pair.expectBothShow("ok " + grin + coder + QStringLiteral("\u65e5\u672c") + accented);

    // Backspace takes what the user sees as one character, on both sides.
    QTest::keyClick(ann.view, Qt::Key_Backspace);
    pair.expectBothShow("ok " + grin + coder + QStringLiteral("\u65e5\u672c"));
    QTest::keyClick(ann.view, Qt::Key_Backspace);
    QTest::keyClick(ann.view, Qt::Key_Backspace);
    pair.expectBothShow("ok " + grin + coder);
    QTest::keyClick(ann.view, Qt::Key_Backspace);
    pair.expectBothShow("ok " + grin);

    // Typing over a selection of such characters keeps them and types at the end.
    typeKey(ann.view, accented);
    typeKey(ann.view, coder);
    pair.expectBothShow("ok " + grin + accented + coder);
    QTest::keyClick(ann.view, Qt::Key_Left, Qt::ShiftModifier);
    QTest::keyClick(ann.view, Qt::Key_Left, Qt::ShiftModifier);
    QTest::keyClicks(ann.view, "x");
    pair.expectBothShow("ok " + grin + accented + coder + "x");

    // Pasted text goes character by character, each one whole.
    QApplication::clipboard()->setText(accented + grin);
    ann.conversation->EditPaste();
    pair.expectBothShow("ok " + grin + accented + coder + "x" + accented + grin);
    EXPECT_EQ(ann.lines().size(), 1) << "no notice between current peers";
}

TEST(ConversationTest, AnOlderPeerGetsQuestionMarksThatTheOwnViewShowsToo) {
    Pair pair(false);
    auto& ann = pair.ann;
    auto& bob = pair.bob;
    // Neither side hears the other's hello, as with a Velmora of the first version.
    pair.annSent = ann.system.script->sentMessages().size();
    pair.bobSent = bob.system.script->sentMessages().size();
    const qsizetype first = pair.annSent;

    ann.field->setText(QStringLiteral("Gr\u00fc\u00dfe, \u65e5\u672c\u8a9e \U0001F600"));
    ann.conversation->SendSpeedButtonClick();
    pair.carry();
    const QString shown = QStringLiteral("Ann>    Gr\u00fc\u00dfe, ??? ?");
    EXPECT_EQ(bob.lines(), QStringList{shown});
    EXPECT_EQ(ann.lines(), (QStringList{shown, texts::CharactersNotSent}));

    pair.typeClassicOnAnn();
    QTest::keyClick(ann.view, Qt::Key_End, Qt::ControlModifier);
    typeKey(ann.view, QStringLiteral("\u00fc"));
    typeKey(ann.view, QStringLiteral("\u4e2d"));
    typeKey(ann.view, QStringLiteral("\U0001F600"));
    QTest::keyClick(ann.view, Qt::Key_Backspace);
    pair.carry();
    EXPECT_EQ(ann.lines(),
              (QStringList{shown, texts::CharactersNotSent, QStringLiteral("\u00fc?")}));
    EXPECT_EQ(bob.lines(), (QStringList{shown, QStringLiteral("\u00fc?")}));
    for (const auto& message : ann.system.script->sentMessages().mid(first)) {
        const auto kind = messageKindOf(bytesOf(message.data));
        EXPECT_TRUE(kind == 0 || kind == 4) << "only the first version's kinds: " << *kind;
    }
}

TEST(ConversationTest, ExportOfEveryScriptReadsBack) {
    Pair pair;
    auto& ann = pair.ann;
    auto& bob = pair.bob;
    for (const QString& line : {QStringLiteral("Gr\u00fc\u00dfe aus K\u00f6ln \u2014 \u20ac5 {x}"),
                                QStringLiteral("\u65e5\u672c\u8a9e \u4e2d\u6587"),
                                QStringLiteral("\u041f\u0440\u0438\u0432\u0435\u0442"),
                                QStringLiteral("\u0645\u0631\u062d\u0628\u0627"),
                                QStringLiteral("\U0001F600 \U0001F469\u200D\U0001F4BB e\u0301")}) {
        ann.field->setText(line);
        ann.conversation->SendSpeedButtonClick();
    }
    pair.carry();
    ASSERT_EQ(bob.lines().size(), 5);
    EXPECT_EQ(bob.view->toPlainText(), ann.view->toPlainText());

    const QString path = test::makeTempFolder("export") + "/log.rtf";
    bob.dialogs.answerFile(path);
    bob.conversation->Exportmessageslog1Click();
    QFile written(path);
    ASSERT_TRUE(written.open(QIODevice::ReadOnly));
    const QByteArray rtf = written.readAll();
    EXPECT_TRUE(std::all_of(rtf.begin(), rtf.end(), [](char c) { return c > 0; }))
        << "RTF is 7-bit: other characters are escaped";
    EXPECT_EQ(test::readRtfText(rtf), bob.view->toPlainText() + "\n");
}

TEST(ConversationTest, ClipboardCommandsActOnTheFieldAndPasteIsBounded) {
    Pair pair;
    auto& ann = pair.ann;
    ann.conversation->appendLine("view line");
    ann.field->setText("field text");
    ann.field->setSelection(0, 5);
    ann.conversation->EditCut();
    EXPECT_EQ(QApplication::clipboard()->text(), "field");
    EXPECT_EQ(ann.field->text(), " text");
    ann.conversation->EditUndo();
    EXPECT_EQ(ann.field->text(), "field text");

    ann.view->setFocus();
    ann.view->selectAll();
    ann.conversation->EditCopy();
    EXPECT_EQ(QApplication::clipboard()->text(), "view line");
    ann.field->end(false);
    ann.conversation->EditPaste();
    EXPECT_EQ(ann.field->text(), "field textview line");
    EXPECT_EQ(ann.view->toPlainText(), "view line") << "Paste never changes the view";
    EXPECT_TRUE(ann.notices.isEmpty());

    QApplication::clipboard()->setText(QString(70000, 'x'));
    ann.field->clear();
    ann.conversation->EditPaste();
    EXPECT_EQ(ann.field->text().size(), Conversation::MaxMessageLength);
    ASSERT_EQ(ann.notices.size(), 1);
    EXPECT_TRUE(ann.notices[0].contains("65535"));
}

TEST(ConversationTest, ExportWritesRtfAndPrintingGivesAPdfWithTheLines) {
    Pair pair;
    auto& ann = pair.ann;
    ann.conversation->appendLine("Ann>    {curly} row");
    ann.conversation->appendLine(QString::fromUtf8("Bob>    second \xC3\xA9"));
    const QString folder = test::makeTempFolder("export");

    const QString rtfPath = folder + "/log.txt";
    QFile old(rtfPath);
    ASSERT_TRUE(old.open(QIODevice::WriteOnly));
    old.write(QByteArray(100000, 'o'));
    old.close();
    ann.dialogs.answerFile(rtfPath);
    ann.conversation->Exportmessageslog1Click();
    QFile written(rtfPath);
    ASSERT_TRUE(written.open(QIODevice::ReadOnly));
    const QByteArray rtf = written.readAll();
    EXPECT_EQ(test::readRtfText(rtf), ann.view->toPlainText() + "\n") << "the old file replaced";
    EXPECT_EQ(ann.suspended, 1);
    EXPECT_EQ(ann.resumed, 1);

    if (const QString office = QStandardPaths::findExecutable("libreoffice"); !office.isEmpty()) {
        QProcess convert;
        convert.start(office,
                      {"--headless", "--convert-to", "txt:Text", "--outdir", folder, rtfPath});
        ASSERT_TRUE(convert.waitForFinished(120000));
        QFile text(folder + "/log.txt");
        ASSERT_TRUE(text.open(QIODevice::ReadOnly));
        EXPECT_TRUE(QString::fromUtf8(text.readAll()).contains("Ann>    {curly} row"));
    } else {
        std::cout << "LibreOffice is not installed: the export is checked by the test's own "
                     "reader only\n";
    }

    // A file that cannot be written: an error shown, the view unchanged, the sender resumed.
    ann.dialogs.answerFile(folder + "/no/such/folder/log.rtf");
    ann.conversation->Exportmessageslog1Click();
    ASSERT_EQ(ann.dialogs.messages().size(), 1);
    EXPECT_TRUE(ann.dialogs.messages()[0].contains("no/such/folder"));
    EXPECT_EQ(ann.resumed, 2);
    EXPECT_EQ(ann.lines().size(), 2);

    ann.dialogs.pdfPath = folder + "/print.pdf";
    ann.conversation->FilePrint();
    EXPECT_EQ(ann.resumed, 3);
    ASSERT_TRUE(QFile::exists(ann.dialogs.pdfPath));
    const QString pdftotext = QStandardPaths::findExecutable("pdftotext");
    ASSERT_FALSE(pdftotext.isEmpty()) << "poppler-utils is installed by the test script";
    QProcess extract;
    extract.start(pdftotext, {"-layout", ann.dialogs.pdfPath, "-"});
    ASSERT_TRUE(extract.waitForFinished(60000));
    const QString printed = QString::fromUtf8(extract.readAllStandardOutput());
    EXPECT_TRUE(printed.contains("{curly} row")) << printed.toStdString();
    EXPECT_TRUE(printed.contains(QString::fromUtf8("second \xC3\xA9")));

    ann.dialogs.answerPrint(false);
    ann.conversation->FilePrintSetup();
    EXPECT_EQ(ann.resumed, 4);
    EXPECT_TRUE(ann.dialogs.unexpected().isEmpty());
}

}  // namespace
}  // namespace velmora
