#include "ShellFixture.h"

#include "base/LinkLabel.h"
#include "base/ProgramTexts.h"
#include "connections/ConnectionForm.h"
#include "connections/RadioGroup.h"
#include "connections/WizardForm.h"
#include "connections/WizardPicture.h"
#include "shell/OptionsForm.h"
#include "shell/QtDialogService.h"
#include "shell/TransfersListDelegate.h"
#include "shell/Welcome.h"

#include "support/TestEnvironment.h"
#include "support/WindowParts.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QStandardItemModel>
#include <QStyleOptionViewItem>
#include <QTabWidget>
#include <QTest>
#include <QTreeView>

#include <gtest/gtest.h>

namespace velmora {
namespace {

using test::quietOptions;
using test::Shell;

// A key pressed and released on the widget that has the keyboard focus, as the keyboard does.
void press(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    QWidget* focus = QApplication::focusWidget();
    ASSERT_NE(focus, nullptr) << "nothing has the keyboard focus";
    QTest::keyClick(focus, key, modifiers);
}

// Makes the window the active one and waits until it is, so that keys go to it.
void activate(QWidget& window) {
    window.activateWindow();
    QApplication::setActiveWindow(&window);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
}

TEST(WindowDetails, MessageBoxesCarryAnIconAndOfferNoMaximize) {
    QtDialogService dialogs;
    struct Seen {
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        Qt::WindowFlags flags;
    };
    const auto look = [](Seen& seen) {
        return [&seen](QWidget* modal) {
            auto* box = qobject_cast<QMessageBox*>(modal);
            ASSERT_NE(box, nullptr);
            seen.icon = box->icon();
            seen.flags = box->windowFlags();
            box->buttons().constFirst()->click();
        };
    };
    Seen message;
    {
        test::ModalWatcher watcher(look(message));
        dialogs.showMessage(QStringLiteral("Line is busy!"));
        EXPECT_TRUE(test::pumpUntil([&] { return watcher.seen(); }));
    }
    Seen question;
    {
        test::ModalWatcher watcher(look(question));
        dialogs.ask(QuestionKind::Warning,
                    QStringLiteral("Are you sure to close current connection?"),
                    {DialogButton::Ok, DialogButton::Cancel}, [](DialogButton) {});
        EXPECT_TRUE(test::pumpUntil([&] { return watcher.seen(); }));
    }
    EXPECT_EQ(message.icon, QMessageBox::Information);
    EXPECT_EQ(question.icon, QMessageBox::Warning);
    for (const Seen& box : {message, question}) {
        EXPECT_TRUE(box.flags.testFlag(Qt::CustomizeWindowHint));
        EXPECT_TRUE(box.flags.testFlag(Qt::WindowTitleHint));
        EXPECT_TRUE(box.flags.testFlag(Qt::WindowCloseButtonHint));
        EXPECT_FALSE(box.flags.testFlag(Qt::WindowMaximizeButtonHint));
        EXPECT_FALSE(box.flags.testFlag(Qt::WindowMinimizeButtonHint));
    }
}

TEST(WindowDetails, FileDialogOfAMissingFolderStartsInTheNearestOneWithNoNameTyped) {
    const QString folder = test::makeTempFolder("missing-connections");
    QtDialogService dialogs;
    FileDialogRequest request;
    request.filter = QStringLiteral("Velmora Connection (*.vmc)");
    request.folder = folder + "/Connections";
    QString shownFolder;
    QString typedName = QStringLiteral("(not seen)");
    test::ModalWatcher watcher([&](QWidget* modal) {
        auto* dialog = qobject_cast<QFileDialog*>(modal);
        ASSERT_NE(dialog, nullptr);
        shownFolder = dialog->directory().absolutePath();
        auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        ASSERT_NE(name, nullptr);
        typedName = name->text();
        dialog->reject();
    });
    std::optional<QString> chosen;
    dialogs.openFileName(request, [&](const QString& path) { chosen = path; });
    EXPECT_TRUE(test::pumpUntil([&] { return watcher.seen() && chosen.has_value(); }));
    EXPECT_EQ(chosen, QString());
    EXPECT_EQ(shownFolder, folder);
    EXPECT_EQ(typedName, QString());
}

TEST(WindowDetails, MainWindowTextsAndStatusPanel) {
    Shell shell(quietOptions());
    ASSERT_TRUE(shell.create());
    TMainForm& main = shell.main();
    for (const QAction* action : main.findChildren<QAction*>()) {
        for (const QString& text : {action->text(), action->statusTip(), action->toolTip()}) {
            EXPECT_FALSE(text.contains("tranfer") || text.contains("Recieve"))
                << action->objectName().toStdString() << ": " << text.toStdString();
        }
    }
    auto* panel = test::part<QLabel>(main, "StatusPanel0");
    const QFontMetrics metrics(panel->font());
    for (const QString& state : {texts::NotConnected, texts::WaitingForRemoteUser}) {
        EXPECT_GE(panel->minimumWidth(), metrics.horizontalAdvance(state) +
                                             panel->contentsMargins().left() +
                                             panel->contentsMargins().right())
            << state.toStdString();
    }
}

int darkPixelsOf(const QImage& image) {
    int dark = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            dark += QColor(image.pixel(x, y)).lightness() < 60 ? 1 : 0;
        }
    }
    return dark;
}

// The figure's strokes that can be read (dark on light) in a percent cell of the transfers list
// drawn by its delegate, and in the same text drawn plainly in black on white.
std::pair<int, int> readableStrokes(const QString& percent) {
    QStandardItemModel model(1, TransfersListDelegate::PercentColumn + 1);
    const QModelIndex index = model.index(0, TransfersListDelegate::PercentColumn);
    model.setData(index, percent);
    QTreeView view;
    TransfersListDelegate delegate(&view);
    QStyleOptionViewItem option;
    option.initFrom(&view);
    option.rect = QRect(0, 0, 60, 20);
    option.state = QStyle::State_Enabled;
    QImage cell(option.rect.size(), QImage::Format_RGB32);
    cell.fill(Qt::white);
    QPainter painter(&cell);
    delegate.paint(&painter, option, index);
    painter.end();
    QImage plain(option.rect.size(), QImage::Format_RGB32);
    plain.fill(Qt::white);
    painter.begin(&plain);
    painter.setFont(option.font);
    painter.setPen(Qt::black);
    painter.drawText(option.rect, Qt::AlignCenter, percent);
    painter.end();
    return {darkPixelsOf(cell), darkPixelsOf(plain)};
}

// The figure reads the same over the bar's fill, across its edge and beside it.
TEST(WindowDetails, PercentReadsTheSameWhateverTheFill) {
    for (const int percent : {0, 7, 45, 50, 55, 100}) {
        const auto [drawn, plain] = readableStrokes(QStringLiteral("%1 %").arg(percent));
        ASSERT_GT(plain, 10);
        EXPECT_GE(drawn * 10, plain * 9) << percent << " %: " << drawn << " of " << plain;
    }
}

TEST(WindowDetails, NewConnectionDialogKeepsItsSizeAndGreysTheModemLink) {
    Shell shell(quietOptions());
    ASSERT_TRUE(shell.create());
    shell.main().show();
    TConnectionForm& form = *shell.windows->connectionForm();
    form.show();
    const QSize modemSize = form.size();
    EXPECT_TRUE(form.Label2->isEnabled());
    form.ConnectionMethod->setItemIndex(1);
    form.layout()->activate();
    EXPECT_EQ(form.size(), modemSize);
    EXPECT_FALSE(form.Label2->isEnabled());
    EXPECT_FALSE(form.ModemComboBox->isEnabled());
    form.ConnectionMethod->setItemIndex(0);
    form.layout()->activate();
    EXPECT_EQ(form.size(), modemSize);
    EXPECT_TRUE(form.Label2->isEnabled());

    // Placed over the main window, whole on the screen.
    const QRect screen = form.screen()->availableGeometry();
    EXPECT_TRUE(screen.contains(form.frameGeometry())) << "the title bar is on the screen";
    EXPECT_LE(
        (form.frameGeometry().center() - shell.main().frameGeometry().center()).manhattanLength(),
        4);
    form.reject();
}

// Opening on Modem, Tab from the session name lands on the chosen method, Down chooses
// Null-modem, and each radio group is one stop: a keyboard user chooses the cable and hosts
// without ever choosing a modem call.
TEST(WindowDetails, NewConnectionDialogByKeyboard) {
    Shell shell(quietOptions());
    ASSERT_TRUE(shell.create());
    TConnectionForm& form = *shell.windows->connectionForm();
    form.show();
    activate(form);
    ASSERT_EQ(QApplication::focusWidget(), form.Edit1);

    press(Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), form.ConnectionMethod->button(0)) << "the chosen one";
    press(Qt::Key_Down);
    EXPECT_EQ(form.ConnectionMethod->itemIndex(), 1);
    EXPECT_EQ(QApplication::focusWidget(), form.ConnectionMethod->button(1));
    press(Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), form.ConnectionMode->button(0));
    EXPECT_EQ(form.ConnectionMode->itemText(0), "Master");
    press(Qt::Key_Down);
    EXPECT_EQ(form.ConnectionMode->itemIndex(), 1);
    press(Qt::Key_Up);
    EXPECT_EQ(form.ConnectionMode->itemIndex(), 0);
    // The modem's fields are off with the cable: the next stop is Connect.
    press(Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), form.ConnectButton);
    press(Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), form.Button2);
    press(Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), form.Button3);

    // Back to the modem: its list, the link and (calling) the number are stops in reading order.
    press(Qt::Key_Backtab);
    press(Qt::Key_Backtab);
    press(Qt::Key_Backtab);
    EXPECT_EQ(QApplication::focusWidget(), form.ConnectionMode->button(0));
    press(Qt::Key_Backtab);
    EXPECT_EQ(QApplication::focusWidget(), form.ConnectionMethod->button(1));
    press(Qt::Key_Up);
    EXPECT_EQ(form.ConnectionMethod->itemIndex(), 0);
    press(Qt::Key_Tab);
    press(Qt::Key_Down);  // Call remote computer
    EXPECT_EQ(form.ConnectionMode->itemIndex(), 1);
    const QList<QWidget*> after{form.ModemComboBox, form.Label2, form.ModemPhoneNumber,
                                form.ConnectButton};
    for (QWidget* next : after) {
        press(Qt::Key_Tab);
        EXPECT_EQ(QApplication::focusWidget(), next) << next->objectName().toStdString();
    }

    // The network: after its mode come the host name and the port, then Connect.
    for (int back = 0; back < 5; ++back) {
        press(Qt::Key_Backtab);
    }
    ASSERT_EQ(QApplication::focusWidget(), form.ConnectionMethod->button(0));
    press(Qt::Key_Down);
    press(Qt::Key_Down);
    EXPECT_EQ(form.ConnectionMethod->itemIndex(), 2);
    press(Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), form.ConnectionMode->button(1)) << "the chosen one";
    EXPECT_EQ(form.ConnectionMode->itemText(1), "Call remote computer");
    const QList<QWidget*> network{form.NetworkHostName, form.NetworkPort, form.ConnectButton};
    for (QWidget* next : network) {
        press(Qt::Key_Tab);
        EXPECT_EQ(QApplication::focusWidget(), next) << next->objectName().toStdString();
    }
    form.reject();
}

TEST(WindowDetails, LinksTakeTheFocusAndAnswerEnterAndSpace) {
    LinkLabel link(QStringLiteral("Launch Connection Wizard (for beginners)"));
    QSignalSpy clicks(&link, &LinkLabel::clicked);
    QSignalSpy menus(&link, &LinkLabel::rightClicked);
    EXPECT_EQ(link.focusPolicy(), Qt::StrongFocus);
    link.show();
    activate(link);
    link.setFocus();
    QTest::keyClick(&link, Qt::Key_Return);
    QTest::keyClick(&link, Qt::Key_Enter, Qt::KeypadModifier);
    QTest::keyClick(&link, Qt::Key_Space);
    QTest::keyClick(&link, Qt::Key_A);
    EXPECT_EQ(clicks.count(), 3);
    QTest::keyClick(&link, Qt::Key_F10, Qt::ShiftModifier);
    QTest::keyClick(&link, Qt::Key_Menu);
    EXPECT_EQ(menus.count(), 2);
    link.setEnabled(false);
    EXPECT_NE(link.cursor().shape(), Qt::PointingHandCursor);
    EXPECT_NE(link.palette().color(QPalette::Disabled, QPalette::WindowText), QColor(0, 0, 255));
    link.setEnabled(true);
    EXPECT_EQ(link.cursor().shape(), Qt::PointingHandCursor);
}

// The start-up window by keyboard alone: Tab reaches each link in reading order and Enter on
// "Create new connection" opens the New connection dialog.
TEST(WindowDetails, StartUpWindowLinksByKeyboard) {
    Shell shell(quietOptions());
    ASSERT_TRUE(shell.create());
    TWelcome& welcome = *shell.windows->welcome();
    welcome.show();
    activate(welcome);
    welcome.Label2->setFocus();
    const QList<QWidget*> order{welcome.Label3, welcome.Label4,         welcome.Label5,
                                welcome.Label6, welcome.LoaderCheckBox, welcome.Button1,
                                welcome.Label2};
    for (QWidget* next : order) {
        press(Qt::Key_Tab);
        EXPECT_EQ(QApplication::focusWidget(), next);
    }
    press(Qt::Key_Tab);
    ASSERT_EQ(QApplication::focusWidget(), welcome.Label3);
    bool formShown = false;
    test::ModalWatcher watcher(
        [](QWidget* modal) { return qobject_cast<TConnectionForm*>(modal) != nullptr; },
        [&](QWidget* modal) {
            formShown = true;
            static_cast<QDialog*>(modal)->reject();
        });
    press(Qt::Key_Return);
    EXPECT_TRUE(test::pumpUntil([&] { return watcher.seen(); }));
    EXPECT_TRUE(formShown);
    EXPECT_FALSE(welcome.isVisible());
}

TEST(WindowDetails, WizardRadioChoicesAreOneTabStop) {
    Shell shell(quietOptions());
    ASSERT_TRUE(shell.create());
    TWizardForm& wizard = *shell.windows->wizardForm();
    wizard.show();
    activate(wizard);
    ASSERT_TRUE(wizard.Modem->isChecked());
    EXPECT_NE(wizard.Modem->focusPolicy() & Qt::TabFocus, 0);
    EXPECT_EQ(wizard.Nullmodem->focusPolicy() & Qt::TabFocus, 0);
    wizard.Modem->setFocus();
    press(Qt::Key_Down);
    EXPECT_TRUE(wizard.Nullmodem->isChecked());
    EXPECT_NE(wizard.Nullmodem->focusPolicy() & Qt::TabFocus, 0);
    EXPECT_EQ(wizard.Modem->focusPolicy() & Qt::TabFocus, 0);

    // The picture shows the line chosen: the cable now, the modems and their line before.
    EXPECT_FALSE(wizard.Picture->modem());
    const QImage cable = wizard.Picture->grab().toImage();
    press(Qt::Key_Up);
    EXPECT_TRUE(wizard.Picture->modem());
    const QImage modem = wizard.Picture->grab().toImage();
    EXPECT_NE(cable, modem);
    int colours = 0;
    QList<QRgb> seen;
    for (int y = 0; y < modem.height() && colours < 20; y += 3) {
        for (int x = 0; x < modem.width() && colours < 20; x += 3) {
            if (!seen.contains(modem.pixel(x, y))) {
                seen << modem.pixel(x, y);
                ++colours;
            }
        }
    }
    EXPECT_GE(colours, 20) << "a picture, not an empty panel";
    wizard.reject();
}

TEST(WindowDetails, NotificationsOptionIsEditedAndKept) {
    Shell shell(quietOptions());
    ASSERT_TRUE(shell.create());
    TOptionsForm& form = *shell.windows->optionsForm();
    form.FormActivate();
    ASSERT_NE(form.NotifyCheckBox, nullptr);
    EXPECT_TRUE(form.NotifyCheckBox->isChecked()) << "on by default";
    form.NotifyCheckBox->setChecked(false);
    form.Edit1->setText(shell.dataFolder);
    form.BitBtn1Click();
    EXPECT_EQ(shell.main().options().Notify, 0);
    EXPECT_EQ(shell.optionsFile().value("Desktop", "Notify"), "0");
    EXPECT_EQ(OptionsFile(shell.dataFolder).load().Notify, 0);
    form.FormActivate();
    EXPECT_FALSE(form.NotifyCheckBox->isChecked());
}

}  // namespace
}  // namespace velmora
