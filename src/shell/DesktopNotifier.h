#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QString>

namespace velmora {

// Tells the user of something through the desktop's notification service (the freedesktop
// org.freedesktop.Notifications interface) on the given bus. The call goes out asynchronously:
// nothing waits for the service, and a desktop without one shows nothing. While the user has not
// looked (startOver), each notification replaces the previous one of this notifier instead of
// piling up.
class DesktopNotifier : public QObject {
    Q_OBJECT

public:
    static inline const QString Service = QStringLiteral("org.freedesktop.Notifications");
    static inline const QString Path = QStringLiteral("/org/freedesktop/Notifications");
    static inline const QString Interface = QStringLiteral("org.freedesktop.Notifications");

    explicit DesktopNotifier(QDBusConnection bus, QObject* parent = nullptr);

    // Shows the summary and the body (plain text; markup characters are escaped). The category is
    // the standard one ("im.received", "transfer").
    void notify(const QString& summary, const QString& body, const QString& category);
    // The user has seen the window: the next notification is a new one.
    void startOver();

signals:
    // The service answered a notification with its id (for tests and for replacing).
    void shown(uint id);

private:
    QDBusConnection m_bus;
    uint m_lastId = 0;
    // Counts startOver calls, so that an answer that comes after one is not taken for the id to
    // replace.
    quint64 m_round = 0;
};

}  // namespace velmora
