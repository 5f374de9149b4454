#include "RtfReader.h"
#include "session/FakeDirectPlay.h"

#include "base/ScriptedDialogService.h"
#include "conversation/Conversation.h"
#include "peer/Peer.h"
#include "support/FixedTransferSettings.h"
#include "support/TestEnvironment.h"
#include "support/SessionSteps.h"

#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QLineEdit>
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
    bool print(QPrinter& printer) override {
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(pdfPath);
        return true;
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

    // Carries everything sent so far and waits until the other side has taken it.
    void carry() {
        forward(ann, bob, annSent);
        forward(bob, ann, bobSent);
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
    const QString shown = QString::fromUtf8("Ann>    Hello caf\xC3\xA9 \xE2\x82\xAC ?");
    EXPECT_EQ(ann.lines(), QStringList({shown})) << "own line through the own handler";
    EXPECT_EQ(bob.lines(), QStringList({shown}));

    // An empty text is sent as it stands.
    bob.field->clear();
    bob.conversation->SendSpeedButtonClick();
    pair.carry();
    EXPECT_EQ(ann.lines().mid(1), QStringList({"Bob>    "}));
    EXPECT_EQ(bob.lines(), ann.lines());

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

    QTest::keyClicks(ann.view, "hi");
    EXPECT_EQ(ann.system.script->sentMessages().size(), 4) << "key-down and key-press each";
    pair.carry();
    EXPECT_EQ(bob.view->toPlainText(), "hi");
    EXPECT_TRUE(bob.system.script->sentMessages().isEmpty()) << "a replayed key is not sent back";

    QTest::keyClick(ann.view, Qt::Key_Backspace);
    QTest::keyClick(ann.view, Qt::Key_Return);
    QTest::keyClicks(ann.view, "yo");
    QTest::keyClick(ann.view, Qt::Key_Left);
    QTest::keyClicks(ann.view, "X");
    pair.carry();
    EXPECT_EQ(ann.view->toPlainText(), "h\nyXo");
    EXPECT_EQ(bob.view->toPlainText(), ann.view->toPlainText());
    EXPECT_TRUE(bob.system.script->sentMessages().isEmpty());
    EXPECT_FALSE(bob.conversation->replayPending());

    // A key typed right after a replay is sent.
    bob.view->setFocus();
    QTest::keyClick(bob.view, Qt::Key_End);
    QTest::keyClicks(bob.view, "!");
    pair.carry();
    EXPECT_EQ(ann.view->toPlainText(), "h\nyXo!");
    EXPECT_EQ(bob.view->toPlainText(), "h\nyXo!");

    // The caret travels cut to 16 bits.
    const auto stroke = parseKeyStroke(bytesOf(bob.system.script->sentMessages().last().data));
    ASSERT_TRUE(stroke);
    EXPECT_EQ(stroke->keyCode, 0);
    EXPECT_EQ(stroke->charCode, '!');
    EXPECT_EQ(stroke->caret, 5);

    // Switching modes keeps the content.
    ann.setClassic(false);
    EXPECT_EQ(ann.view->toPlainText(), "h\nyXo!");
    EXPECT_TRUE(ann.view->isReadOnly());

    // In chat mode a keystroke moves the focus to the view and shows there; the view stays
    // read-only for the user.
    QApplication::setActiveWindow(&ann.window);
    ann.field->setFocus();
    ASSERT_TRUE(ann.field->hasFocus());
    QTest::keyClicks(bob.view, "z");
    pair.carry();
    EXPECT_TRUE(ann.view->hasFocus());
    EXPECT_EQ(ann.view->toPlainText(), "h\nyXo!z");
    EXPECT_TRUE(ann.view->isReadOnly());
    EXPECT_EQ(ann.system.script->sentMessages().size(), pair.annSent) << "chat mode sends no key";

    // Back in classic mode the first key typed is sent.
    ann.setClassic(true);
    QTest::keyClicks(ann.view, "w");
    pair.carry();
    EXPECT_EQ(bob.view->toPlainText(), "h\nyXo!zw");
}

TEST(ConversationTest, ClassicModeEditsShowTheSameTextOnBothSides) {
    Pair pair;
    auto& ann = pair.ann;
    auto& bob = pair.bob;
    ann.setClassic(true);
    bob.setClassic(true);
    QApplication::setActiveWindow(&ann.window);
    ann.view->setFocus();
    const auto same = [&](const QString& text) {
        pair.carry();
        EXPECT_EQ(ann.view->toPlainText(), text);
        EXPECT_EQ(bob.view->toPlainText(), text);
    };

    QTest::keyClicks(ann.view, "abc");
    QTest::keyClick(ann.view, Qt::Key_Left, Qt::ShiftModifier);
    QTest::keyClick(ann.view, Qt::Key_Left, Qt::ShiftModifier);
    QTest::keyClick(ann.view, Qt::Key_X, Qt::ControlModifier);
    same("a");
    EXPECT_EQ(QApplication::clipboard()->text(), "bc");
    QTest::keyClick(ann.view, Qt::Key_V, Qt::ControlModifier);
    same("abc");

    // Edit > Cut and Edit > Paste act on the view too, a line break as Enter.
    QApplication::clipboard()->setText("x\r\ny\u0007");
    ann.conversation->EditPaste();
    same("abcx\ny");
    QTest::keyClick(ann.view, Qt::Key_Left, Qt::ShiftModifier);
    ann.conversation->EditCut();
    same("abcx\n");
    EXPECT_TRUE(ann.field->text().isEmpty()) << "the hidden field is not touched";

    // Typing over a selection, and Backspace on one.
    QTest::keyClick(ann.view, Qt::Key_Left, Qt::ShiftModifier);
    QTest::keyClick(ann.view, Qt::Key_Left, Qt::ShiftModifier);
    QTest::keyClicks(ann.view, "Z");
    same("abcZ");
    QTest::keyClick(ann.view, Qt::Key_Left, Qt::ShiftModifier);
    QTest::keyClick(ann.view, Qt::Key_Backspace);
    same("abc");

    // A chat line from the other side, then typing: the typed text starts a line of its own.
    bob.setClassic(false);
    bob.field->setText("hi");
    bob.conversation->SendSpeedButtonClick();
    pair.carry();
    QTest::keyClicks(ann.view, "w");
    same("abc\nBob>    hi\nw");

    // A replayed key right after a line this side alone appended starts a new line too.
    bob.conversation->appendLine("notice");
    bob.conversation->keyStrokeReceived({0, 'k', 0});
    EXPECT_EQ(bob.lines().mid(2), QStringList({"w", "notice", "k"}));
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
