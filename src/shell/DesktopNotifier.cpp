#include "shell/DesktopNotifier.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QStringList>
#include <QVariantMap>

namespace velmora {

DesktopNotifier::DesktopNotifier(QDBusConnection bus, QObject* parent)
    : QObject(parent), m_bus(std::move(bus)) {}

void DesktopNotifier::notify(const QString& summary, const QString& body, const QString& category) {
    if (!m_bus.isConnected()) {
        return;
    }
    QDBusMessage call =
        QDBusMessage::createMethodCall(Service, Path, Interface, QStringLiteral("Notify"));
    const QVariantMap hints{{QStringLiteral("desktop-entry"), QStringLiteral("velmora")},
                            {QStringLiteral("category"), category}};
    // A service may read the body as markup: the text is shown as it is.
    call << QStringLiteral("Velmora") << m_lastId << QStringLiteral("velmora") << summary
         << body.toHtmlEscaped() << QStringList() << hints << -1;
    auto* watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call), this);
    const quint64 round = m_round;
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, round](QDBusPendingCallWatcher* finished) {
                finished->deleteLater();
                const QDBusPendingReply<uint> reply = *finished;
                if (reply.isError()) {
                    return;
                }
                if (round == m_round) {
                    m_lastId = reply.value();
                }
                emit shown(reply.value());
            });
}

void DesktopNotifier::startOver() {
    m_lastId = 0;
    ++m_round;
}

}  // namespace velmora
