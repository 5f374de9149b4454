// What arrives while a window is in the background (desktop notifications against a stand-in
// notification service on a private session bus), files dropped on a window, and the folder the
// Send file dialog opens in; two windows over the virtual cable.
#include "TwoWindows.h"

#include "peer/Peer.h"
#include "shell/DesktopNotifier.h"
#include "shell/TransferCommands.h"
#include "support/TestEnvironment.h"
#include "support/WindowParts.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusMetaType>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QLineEdit>
#include <QMimeData>
#include <QProcess>
#include <QTextEdit>
#include <QTreeView>
#include <QUrl>

#include <gtest/gtest.h>

namespace velmora {
namespace {

using test::Computer;
using test::connectAnnAndBob;
using test::pumpUntil;

// A notification service that keeps what it is asked to show: it answers Notify as the
// desktop's service does, with a new id, or the id it was asked to replace.
class NotificationStandIn : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

public:
    struct Shown {
        QString appName;
        uint replacesId = 0;
        QString summary;
        QString body;
        QVariantMap hints;
        uint id = 0;
    };
    std::vector<Shown> shown;

public slots:
    uint Notify(const QString& appName, uint replacesId, const QString& /*appIcon*/,
                const QString& summary, const QString& body, const QStringList& /*actions*/,
                const QVariantMap& hints, int /*expireTimeout*/) {
        const uint id = replacesId != 0 ? replacesId : ++m_lastId;
        shown.push_back({appName, replacesId, summary, body, hints, id});
        return id;
    }
    QStringList GetCapabilities() { return {QStringLiteral("body")}; }

private:
    uint m_lastId = 0;
};

// A session bus of the test's own (dbus-daemon), the stand-in service on one connection to it,
// and a connection for the program's notifier.
class PrivateBus {
public:
    PrivateBus() {
        m_daemon.start(QStringLiteral("dbus-daemon"),
                       {QStringLiteral("--session"), QStringLiteral("--print-address"),
                        QStringLiteral("--nofork")});
        if (!m_daemon.waitForStarted(10000)) {
            return;
        }
        QByteArray line;
        while (!line.contains('\n') && m_daemon.waitForReadyRead(10000)) {
            line += m_daemon.readAllStandardOutput();
        }
        address = QString::fromUtf8(line).trimmed();
        QDBusConnection service = QDBusConnection::connectToBus(address, QStringLiteral("standin"));
        if (!service.registerService(DesktopNotifier::Service) ||
            !service.registerObject(DesktopNotifier::Path, &standIn,
                                    QDBusConnection::ExportAllSlots)) {
            address.clear();
        }
    }
    ~PrivateBus() {
        QDBusConnection::disconnectFromBus(QStringLiteral("standin"));
        QDBusConnection::disconnectFromBus(QStringLiteral("program"));
        m_daemon.kill();
        m_daemon.waitForFinished(5000);
    }
    bool up() const { return !address.isEmpty(); }
    QDBusConnection programConnection() const {
        return QDBusConnection::connectToBus(address, QStringLiteral("program"));
    }

    NotificationStandIn standIn;
    QString address;

private:
    QProcess m_daemon;
};

// Makes a window of neither computer the active one: both main windows are in the background.
void lookAway(QWidget& elsewhere) {
    elsewhere.show();
    elsewhere.activateWindow();
    QApplication::setActiveWindow(&elsewhere);
    ASSERT_TRUE(pumpUntil([&] { return elsewhere.isActiveWindow(); }));
}

// A file manager's drag of the paths entered and dropped on the widget, as Qt delivers it; true
// when the widget took both.
bool dropOn(QWidget* target, const QStringList& paths) {
    QMimeData data;
    QList<QUrl> urls;
    for (const QString& path : paths) {
        urls << QUrl::fromLocalFile(path);
    }
    data.setUrls(urls);
    const QPoint at = target->rect().center();
    QDragEnterEvent enter(at, Qt::CopyAction | Qt::MoveAction, &data, Qt::LeftButton,
                          Qt::NoModifier);
    QApplication::sendEvent(target, &enter);
    QDropEvent drop(QPointF(at), Qt::CopyAction | Qt::MoveAction, &data, Qt::LeftButton,
                    Qt::NoModifier);
    QApplication::sendEvent(target, &drop);
    return enter.isAccepted() && drop.isAccepted() && drop.dropAction() == Qt::CopyAction;
}

QString makeFile(const QString& folder, const QString& name, int size) {
    const QString path = QDir(folder).filePath(name);
    EXPECT_TRUE(test::writeFile(path, test::patternBytes(size, size)));
    return path;
}

TEST(WindowArrivals, NotificationsWhileInTheBackground) {
    PrivateBus bus;
    if (!bus.up()) {
        GTEST_SKIP() << "dbus-daemon cannot run here";
    }
    DesktopNotifier notifier(bus.programConnection());
    NullModemCable cable(test::fastCable());
    // Both windows tell the same service: a line must be told by the side that receives it only.
    Computer ann(cable.linkA(), "Ann", {}, &notifier);
    Computer bob(cable.linkB(), "Bob", {}, &notifier);
    connectAnnAndBob(ann, bob);
    QWidget elsewhere;
    lookAway(elsewhere);
    auto& shown = bus.standIn.shown;

    ann.say("Lunch at one?");
    ASSERT_TRUE(pumpUntil([&] { return !shown.empty(); }));
    EXPECT_EQ(shown[0].appName, "Velmora");
    EXPECT_EQ(shown[0].summary, "Message from Ann");
    EXPECT_EQ(shown[0].body, "Lunch at one?");
    EXPECT_EQ(shown[0].replacesId, 0u);
    EXPECT_EQ(shown[0].hints.value("category").toString(), "im.received");

    // Markup characters are shown as typed; the next notification replaces the first.
    ann.say("<b>bring</b> the cable & the modem");
    ASSERT_TRUE(pumpUntil([&] { return shown.size() == 2; }));
    EXPECT_EQ(shown[1].body, "&lt;b&gt;bring&lt;/b&gt; the cable &amp; the modem");
    EXPECT_EQ(shown[1].replacesId, shown[0].id);

    // A file.
    const QString folder = test::makeTempFolder("arrivals-send");
    ann.sendFiles({makeFile(folder, "minutes.txt", 3000)});
    ASSERT_TRUE(pumpUntil([&] { return shown.size() == 3; }));
    EXPECT_EQ(shown[2].summary, "File from Ann");
    EXPECT_EQ(shown[2].body, "minutes.txt");
    EXPECT_EQ(shown[2].hints.value("category").toString(), "transfer");

    // Turned off: nothing is told ("quiet" would come before "loud", on one connection).
    bob.main().options().Notify = 0;
    ann.say("quiet");
    ASSERT_TRUE(pumpUntil([&] { return bob.lines().contains("Ann>    quiet"); }));
    bob.main().options().Notify = 1;
    // Once Bob has looked at his window, the next notification is a new one.
    bob.main().activateWindow();
    QApplication::setActiveWindow(&bob.main());
    ASSERT_TRUE(pumpUntil([&] { return bob.main().isActiveWindow(); }));
    ann.say("seen while looking");
    ASSERT_TRUE(pumpUntil([&] { return bob.lines().contains("Ann>    seen while looking"); }));
    lookAway(elsewhere);
    ann.say("loud");
    ASSERT_TRUE(pumpUntil([&] { return shown.size() == 4; }));
    EXPECT_EQ(shown[3].body, "loud");
    EXPECT_EQ(shown[3].replacesId, 0u);
    for (const auto& notification : shown) {
        EXPECT_NE(notification.summary, "Message from Bob");
        EXPECT_NE(notification.body, "quiet");
        EXPECT_NE(notification.body, "seen while looking");
    }
    EXPECT_EQ(shown.size(), 4u);

    // Classic mode: the keys are told once, not each; a chat line later is told again, also
    // while this side itself is in classic mode.
    ann.main().runCommand("Classicmode1");
    bob.main().runCommand("Classicmode1");
    lookAway(elsewhere);
    for (const auto& [key, text] :
         {std::pair{Qt::Key_H, "h"}, {Qt::Key_I, "i"}, {Qt::Key_Exclam, "!"}}) {
        ann.typeKey(key, text);
    }
    ASSERT_TRUE(pumpUntil([&] { return shown.size() == 5; }));
    EXPECT_EQ(shown[4].body, "Ann is typing.");
    ann.main().runCommand("Chatmode1");
    ann.say("typed enough");
    ASSERT_TRUE(pumpUntil([&] { return shown.size() == 6; }));
    EXPECT_EQ(shown[5].body, "typed enough");
    EXPECT_EQ(shown[5].summary, "Message from Ann");
}

TEST(WindowArrivals, DroppedFilesAreOfferedLikeSendFile) {
    NullModemCable cable(test::fastCable());
    Computer ann(cable.linkA(), "Ann");
    Computer bob(cable.linkB(), "Bob");
    const QString folder = test::makeTempFolder("arrivals-drop");
    const QString first = makeFile(folder, "one.bin", 5000);
    const QString second = makeFile(folder, "two.bin", 7000);
    const QString third = makeFile(folder, "three.bin", 1000);
    auto* list = test::part<QTreeView>(ann.main(), "TransfersListView");

    // Not connected: said so, nothing listed.
    ASSERT_TRUE(dropOn(list->viewport(), {first}));
    ASSERT_TRUE(pumpUntil([&] { return !ann.dialogs().messages().isEmpty(); }));
    EXPECT_EQ(ann.dialogs().messages(), QStringList{TransferCommands::DroppedWhileNotConnected});
    EXPECT_EQ(ann.transfers().rowCount(), 0);

    connectAnnAndBob(ann, bob);
    ann.dialogs().clear();
    // Several at once on the list, a folder among them (left out, and said).
    ASSERT_TRUE(dropOn(list->viewport(), {first, folder, second}));
    ASSERT_TRUE(pumpUntil([&] { return ann.transfers().rowCount() == 2; }));
    EXPECT_EQ(ann.dialogs().messages(),
              QStringList{TransferCommands::NotFilesMessage.arg(QDir::toNativeSeparators(folder))});
    // On the conversation, and on the window itself.
    ASSERT_TRUE(dropOn(test::part<QTextEdit>(ann.main(), "MessagesEdit")->viewport(), {third}));
    ASSERT_TRUE(pumpUntil([&] { return ann.transfers().rowCount() == 3; }));
    ASSERT_TRUE(dropOn(&ann.main(), {third}));
    ASSERT_TRUE(pumpUntil([&] { return ann.transfers().rowCount() == 4; }));
    for (const char* name : {"one.bin", "two.bin", "three.bin"}) {
        EXPECT_TRUE(pumpUntil([&] { return QFileInfo::exists(bob.incomingFolder() + name); }))
            << name;
    }
    EXPECT_TRUE(
        pumpUntil([&] { return QFileInfo::exists(bob.incomingFolder() + "three (2).bin"); }));
    EXPECT_EQ(test::readFile(bob.incomingFolder() + "two.bin"), test::readFile(second));

    // A drag of text is no file: the message field takes it as text, nothing is offered.
    auto* field = test::part<QLineEdit>(ann.main(), "EditMessage");
    QMimeData text;
    text.setText("just words");
    QDragEnterEvent enter(field->rect().center(), Qt::CopyAction, &text, Qt::LeftButton,
                          Qt::NoModifier);
    QApplication::sendEvent(field, &enter);
    QDropEvent drop(QPointF(field->rect().center()), Qt::CopyAction, &text, Qt::LeftButton,
                    Qt::NoModifier);
    QApplication::sendEvent(field, &drop);
    test::pumpFor(100);
    EXPECT_EQ(ann.transfers().rowCount(), 4);
}

TEST(WindowArrivals, SendFileOpensWhereTheLastFilesWereChosen) {
    NullModemCable cable(test::fastCable());
    Computer ann(cable.linkA(), "Ann");
    Computer bob(cable.linkB(), "Bob");
    connectAnnAndBob(ann, bob);
    const QString folder = test::makeTempFolder("arrivals-send-folder");
    ann.sendFiles({makeFile(folder, "a.txt", 100)});
    ASSERT_FALSE(ann.dialogs().records().empty());
    EXPECT_EQ(ann.dialogs().records().back().request.folder, QDir::homePath())
        << "at first the home folder, not the incoming one";
    ann.sendFiles({makeFile(folder, "b.txt", 100)});
    EXPECT_EQ(ann.dialogs().records().back().request.folder, QDir::toNativeSeparators(folder));
    EXPECT_EQ(ann.shell->optionsFile().value("Desktop", "SendFolder"),
              QDir::toNativeSeparators(folder));
    // After a restart too: the option is read back.
    EXPECT_EQ(OptionsFile(ann.shell->dataFolder).load().SendFolder,
              QDir::toNativeSeparators(folder));
}

}  // namespace
}  // namespace velmora

#include "WindowArrivalsTest.moc"
