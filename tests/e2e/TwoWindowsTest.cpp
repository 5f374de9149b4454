#include "TwoWindows.h"

#include "conversation/Conversation.h"
#include "session/DXPlay.h"
#include "support/TestEnvironment.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLineEdit>
#include <QTextEdit>
#include <QToolButton>

#include <gtest/gtest.h>

namespace velmora {
namespace {

using test::Computer;
using test::pumpFor;
using test::pumpUntil;

// Ann hosts (Master), Bob calls (Slave), both through the New connection dialog.
void connectAnnAndBob(Computer& ann, Computer& bob) {
    ASSERT_TRUE(ann.connectByCable(true));
    EXPECT_EQ(ann.status(), "Waiting for remote user...");
    ASSERT_TRUE(bob.connectByCable(false));
    EXPECT_EQ(bob.status(), "Connected");
    ASSERT_TRUE(pumpUntil([&] { return ann.status() == "Connected"; }));
}

void say(Computer& computer, const QString& text) {
    computer.main().EditMessage->setText(text);
    computer.main().SendSpeedButton->click();
}

void type(Computer& computer, Qt::Key key, const QString& text = {}) {
    QWidget* view = computer.main().MessagesEdit;
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, text);
    QApplication::sendEvent(view, &press);
    QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier, text);
    QApplication::sendEvent(view, &release);
}

QString viewText(const Computer& computer) {
    return computer.main().MessagesEdit->toPlainText();
}

TEST(TwoWindows, ConnectTalkInBothModesAndDisconnect) {
    NullModemCable cable(test::fastCable());
    Computer ann(cable.linkA(), "Ann");
    Computer bob(cable.linkB(), "Bob");
    EXPECT_FALSE(ann.main().Sendfile1->isEnabled());
    connectAnnAndBob(ann, bob);
    EXPECT_EQ(ann.lines(), (QStringList{"Waiting for remote user...", "Connected."}));
    EXPECT_EQ(bob.lines(), (QStringList{"Connected.", "Connected."}));
    EXPECT_TRUE(ann.main().Sendfile1->isEnabled());
    EXPECT_TRUE(bob.main().Closeconnection1->isEnabled());
    EXPECT_EQ(bob.main().EditMessage->text(), "Type your message here and press Enter to send it.");

    // Chat mode: each line on both sides under its sender's name.
    const QStringList chat{"Ann>    Hello Bob", QString::fromUtf8("Bob>    Grüße, 5 €"),
                           "Ann>    "};
    say(ann, "Hello Bob");
    ASSERT_TRUE(pumpUntil([&] { return bob.lines().size() == 3; }));
    say(bob, QString::fromUtf8("Grüße, 5 €"));
    ASSERT_TRUE(pumpUntil([&] { return ann.lines().size() == 4; }));
    say(ann, QString());
    ASSERT_TRUE(pumpUntil([&] { return bob.lines().size() == 5; }));
    EXPECT_EQ(ann.lines().mid(2), chat);
    EXPECT_EQ(bob.lines().mid(2), chat);
    EXPECT_TRUE(ann.main().EditMessage->text().isEmpty());

    // Classic mode on both sides: what one types shows once on each side, never echoed back.
    ann.main().Classicmode1->trigger();
    bob.main().Classicmode1->trigger();
    EXPECT_FALSE(ann.main().MessagesEdit->isReadOnly());
    type(ann, Qt::Key_H, "h");
    type(ann, Qt::Key_I, "i");
    type(ann, Qt::Key_X, "x");
    type(ann, Qt::Key_Backspace);
    ASSERT_TRUE(pumpUntil([&] { return viewText(bob).endsWith("Ann>    hi"); }));
    type(bob, Qt::Key_Exclam, "!");
    ASSERT_TRUE(pumpUntil([&] { return viewText(ann).endsWith("Ann>    hi!"); }, 5000))
        << viewText(ann).toStdString() << "\n--\n"
        << viewText(bob).toStdString();
    pumpFor(300);
    EXPECT_TRUE(viewText(ann).endsWith("Ann>    hi!"));
    EXPECT_TRUE(viewText(bob).endsWith("Ann>    hi!"));

    // Back to chat mode: the content stays.
    ann.main().Chatmode1->trigger();
    EXPECT_TRUE(ann.main().MessagesEdit->isReadOnly());
    EXPECT_TRUE(viewText(ann).endsWith("Ann>    hi!"));

    bob.disconnect();
    EXPECT_EQ(bob.lines().last(), "Disconnected.");
    EXPECT_EQ(bob.status(), "Not connected");
    EXPECT_FALSE(bob.main().Sendfile1->isEnabled());
    ASSERT_TRUE(pumpUntil([&] { return ann.status() == "Not connected"; }));
    EXPECT_EQ(ann.lines().last(), "Remote user disconnected.");
    // The host's session stays open for the next caller.
    EXPECT_TRUE(ann.main().Closeconnection1->isEnabled());
    ann.disconnect();
    EXPECT_EQ(ann.lines().last(), "Disconnected.");
    EXPECT_FALSE(ann.main().DXPlay1->Opened());
}

}  // namespace
}  // namespace velmora
