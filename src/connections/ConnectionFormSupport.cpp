#include "connections/ConnectionFormSupport.h"

#include "base/DataFolder.h"
#include "base/DialogService.h"
#include "base/Options.h"
#include "connections/RecentLists.h"
#include "session/DXPlay.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QEventLoop>
#include <QKeyEvent>
#include <QPointer>
#include <QTimer>

#include <set>

namespace velmora {

namespace {

// Keeps the windows that were open when a connect attempt began from taking input while it
// runs, except Esc and the cancel button, which end the attempt. Windows opened during the
// attempt (the provider's prompts, messages) are left alone. Painting goes on everywhere.
class AttemptGuard : public QObject {
public:
    AttemptGuard(QAbstractButton& cancel, std::function<void()> onCancel)
        : m_cancel(&cancel), m_onCancel(std::move(onCancel)) {
        for (QWidget* window : QApplication::topLevelWidgets()) {
            m_windows.insert(window);
        }
        qApp->installEventFilter(this);
    }
    ~AttemptGuard() override { qApp->removeEventFilter(this); }
    AttemptGuard(const AttemptGuard&) = delete;
    AttemptGuard& operator=(const AttemptGuard&) = delete;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        auto* widget = qobject_cast<QWidget*>(watched);
        if (widget == nullptr || m_windows.count(widget->window()) == 0) {
            return false;
        }
        switch (event->type()) {
            case QEvent::KeyPress:
                if (static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
                    m_onCancel();
                }
                return !forCancel(widget);
            case QEvent::Close:
                if (widget->isWindow()) {
                    event->ignore();
                    return true;
                }
                return false;
            case QEvent::KeyRelease:
            case QEvent::Shortcut:
            case QEvent::ShortcutOverride:
            case QEvent::MouseButtonPress:
            case QEvent::MouseButtonRelease:
            case QEvent::MouseButtonDblClick:
            case QEvent::Wheel:
            case QEvent::ContextMenu:
                return !forCancel(widget);
            default:
                return false;
        }
    }

private:
    bool forCancel(const QWidget* widget) const {
        return m_cancel && (widget == m_cancel || m_cancel->isAncestorOf(widget));
    }

    QPointer<QAbstractButton> m_cancel;
    std::function<void()> m_onCancel;
    std::set<const QWidget*> m_windows;
};

// Waits with the event loop turning.
void waitTurning(int milliseconds) {
    QEventLoop loop;
    QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
    loop.exec();
}

}  // namespace

ConnectionFormSupport::ConnectionFormSupport(ConnectionFormContext context)
    : m_context(std::move(context)) {
    if (!m_context.showError) {
        DialogService* dialogs = m_context.dialogs;
        m_context.showError = [dialogs](const QString& text) { dialogs->showMessage(text); };
    }
    if (!m_context.wait) {
        m_context.wait = waitTurning;
    }
    if (!m_context.loginName) {
        m_context.loginName = [] { return velmora::loginName(); };
    }
}

bool ConnectionFormSupport::fillModems(QComboBox& modems) const {
    modems.clear();
    QStringList names;
    try {
        names = play().ModemSetting().ModemNames();
    } catch (const EDXPlayError& error) {
        m_context.showError(error.message());
        return false;
    }
    modems.addItems(names);
    modems.addItem(OtherModemEntry);
    modems.setCurrentIndex(0);
    return true;
}

bool ConnectionFormSupport::isOtherModem(const QComboBox& modems) const {
    // The extra entry is the last one; a modem of the same name listed by the provider is a modem.
    return modems.currentIndex() < 0 || modems.currentIndex() == modems.count() - 1;
}

void ConnectionFormSupport::loadPhones(QComboBox& phones) const {
    const auto lines =
        RecentLists::readPhones(QDir(m_context.dataFolder).filePath(RecentLists::PhonesFileName));
    if (!lines) {
        return;
    }
    phones.clear();
    phones.addItems(*lines);
}

void ConnectionFormSupport::rememberPhone(QComboBox& phones) const {
    const QString typed = phones.currentText();
    QStringList entries;
    for (int i = 0; i < phones.count(); ++i) {
        entries << phones.itemText(i);
    }
    if (!RecentLists::addPhoneNumber(entries, typed)) {
        return;
    }
    phones.insertItem(0, typed);
    phones.setEditText(typed);
    RecentLists::writePhones(QDir(m_context.dataFolder).filePath(RecentLists::PhonesFileName),
                             entries);
}

QString ConnectionFormSupport::phoneNumber(const QComboBox& phones) {
    const QString typed = phones.currentText();
    if (!typed.isEmpty() || phones.currentIndex() < 0) {
        return typed;
    }
    return phones.itemText(phones.currentIndex());
}

QString ConnectionFormSupport::playerName() const {
    return playerNameFor(m_context.options->UserName, m_context.loginName());
}

void ConnectionFormSupport::setBlockSizeCode(bool nullModem) const {
    if (m_context.setBlockSizeCode) {
        m_context.setBlockSizeCode(blockSizeCodeFor(nullModem, m_context.options->Speed));
    }
}

void ConnectionFormSupport::markConnectionModified() const {
    if (m_context.markConnectionModified) {
        m_context.markConnectionModified();
    }
}

void ConnectionFormSupport::showHelpTopic(QWidget* owner, const QString& topic) const {
    if (m_context.showHelpTopic) {
        m_context.showHelpTopic(owner, topic);
    }
}

bool ConnectionFormSupport::connect(const ConnectRequest& request, QAbstractButton& cancel) {
    const AttemptGuard guard(cancel, [this] { cancelAttempt(); });
    m_attempting = true;
    m_cancelled = false;
    ConnectHooks hooks;
    DialogService* dialogs = m_context.dialogs;
    hooks.showMessage = [dialogs](const QString& text) { dialogs->showMessage(text); };
    hooks.showError = m_context.showError;
    hooks.setBusyCursor = [](bool busy) {
        if (busy) {
            QGuiApplication::setOverrideCursor(Qt::WaitCursor);
        } else {
            QGuiApplication::restoreOverrideCursor();
        }
    };
    hooks.wait = m_context.wait;
    hooks.cancelled = [this] { return m_cancelled; };
    const bool connected = runConnect(play(), request, hooks);
    m_attempting = false;
    return connected;
}

void ConnectionFormSupport::cancelAttempt() {
    if (m_attempting) {
        m_cancelled = true;
        play().CancelWait();
    }
}

}  // namespace velmora
