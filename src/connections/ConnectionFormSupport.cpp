#include "connections/ConnectionFormSupport.h"

#include "connections/RecentLists.h"
#include "session/DXPlay.h"
#include "base/DataFolder.h"
#include "base/DialogService.h"
#include "base/Options.h"

#include <QComboBox>
#include <QDir>
#include <QGuiApplication>
#include <QThread>

namespace velmora {

ConnectionFormSupport::ConnectionFormSupport(ConnectionFormContext context)
    : m_context(std::move(context)) {
    if (!m_context.showError) {
        DialogService* dialogs = m_context.dialogs;
        m_context.showError = [dialogs](const QString& text) { dialogs->showMessage(text); };
    }
    if (!m_context.wait) {
        m_context.wait = [](int milliseconds) { QThread::msleep(milliseconds); };
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

bool ConnectionFormSupport::connect(const ConnectRequest& request) const {
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
    return runConnect(play(), request, hooks);
}

}  // namespace velmora
