// The application's dialog service shows its boxes without an event loop of its own: the call
// returns before the user answers, the UI thread runs on, and the continuation runs once with
// the answer given.
#include "shell/QtDialogService.h"

#include "support/TestEnvironment.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
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

}  // namespace
}  // namespace velmora
