#include "connections/ConnectionFormSupport.h"

#include "base/DataFolder.h"
#include "base/DialogService.h"
#include "base/Options.h"
#include "connections/RecentLists.h"

#include "peer/Peer.h"

#include <QComboBox>
#include <QDir>
#include <QLabel>

#include <utility>

namespace velmora {

ConnectionFormSupport::ConnectionFormSupport(ConnectionFormContext context)
    : m_context(std::move(context)) {
    m_stepConnection = QObject::connect(
        m_context.peer, &Peer::connectStep, m_context.peer, [this](ConnectStep step) {
            if (m_attempting && m_status) {
                m_status->setText(connectStepText(step, m_request));
            }
        });
    m_endConnection = QObject::connect(
        m_context.peer, &Peer::connectFinished, m_context.peer,
        [this](const ConnectResult& result) {
            if (m_attempting) {
                attemptEnded(result);
            }
        });
    if (!m_context.showError) {
        DialogService* dialogs = m_context.dialogs;
        m_context.showError = [dialogs](const QString& text) { dialogs->showMessage(text); };
    }
    if (!m_context.loginName) {
        m_context.loginName = [] { return velmora::loginName(); };
    }
}

bool ConnectionFormSupport::fillModems(QComboBox& modems) const {
    modems.clear();
    QStringList names;
    try {
        names = peer().modemNames();
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

ConnectionFormSupport::~ConnectionFormSupport() {
    QObject::disconnect(m_stepConnection);
    QObject::disconnect(m_endConnection);
}

void ConnectionFormSupport::showHelpTopic(QWidget* owner, const QString& topic) const {
    if (m_context.showHelpTopic) {
        m_context.showHelpTopic(owner, topic);
    }
}

void ConnectionFormSupport::startConnect(const ConnectRequest& request, QLabel& status,
                                         std::function<void(bool connected)> ended) {
    if (m_attempting) {
        return;
    }
    m_attempting = true;
    m_request = request;
    m_status = &status;
    m_ended = std::move(ended);
    status.clear();
    peer().connectTo(request);
}

void ConnectionFormSupport::cancelAttempt() {
    if (m_attempting) {
        peer().cancelConnect();  // connectFinished follows at once
    }
}

void ConnectionFormSupport::attemptEnded(const ConnectResult& result) {
    m_attempting = false;
    QLabel* const status = std::exchange(m_status, nullptr);
    const std::function<void(bool)> ended = std::exchange(m_ended, {});
    const bool connected = result.outcome == ConnectOutcome::Connected;
    status->setText(result.outcome == ConnectOutcome::Cancelled ? AttemptCancelledMessage
                                                                 : QString());
    const QString message = connectFailureText(result, m_request);
    if (!message.isEmpty()) {
        if (result.outcome == ConnectOutcome::Failed) {
            m_context.showError(message);
        } else {
            m_context.dialogs->showMessage(message);
        }
    }
    ended(connected);
}

}  // namespace velmora
