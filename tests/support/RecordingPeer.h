#pragma once

// One side of a session for tests: its own session service with the given provider, and a
// session component whose events and messages are recorded as they arrive.

#include "session/DXPlay.h"
#include "session/service/SessionService.h"
#include "support/SessionSteps.h"

#include <QByteArray>
#include <QList>
#include <QStringList>

#include <cstring>

#include <gtest/gtest.h>

namespace velmora::test {

inline const QString RecordingPeerGuid = QStringLiteral("{A2196E45-287F-4F8F-987A-382C87886EED}");

// A message of `size` bytes whose first word is `kind` and whose second (when it fits) is
// `number`; every other byte is the number's low byte.
inline QByteArray numberedMessage(std::uint32_t kind, int number, int size) {
    QByteArray message(size, static_cast<char>(number));
    std::memcpy(message.data(), &kind, 4);
    if (size >= 8) {
        std::memcpy(message.data() + 4, &number, 4);
    }
    return message;
}

struct RecordingPeer {
    QString providerName;
    SessionService service;
    QStringList events;  // "open", "close", "lost", "add NAME", "delete NAME"
    QList<QByteArray> messages;
    TDXPlay play{service};

    explicit RecordingPeer(ProviderEntry provider)
        : providerName(provider.name), service({std::move(provider)}) {
        play.setGUID(RecordingPeerGuid);
        QObject::connect(&play, &TCustomDXPlay::OnOpen,
                         [this](TCustomDXPlay&) { events << "open"; });
        QObject::connect(&play, &TCustomDXPlay::OnClose,
                         [this](TCustomDXPlay&) { events << "close"; });
        QObject::connect(&play, &TCustomDXPlay::OnSessionLost,
                         [this](TCustomDXPlay&) { events << "lost"; });
        QObject::connect(&play, &TCustomDXPlay::OnAddPlayer,
                         [this](TCustomDXPlay&, TDXPlayPlayer& p) { events << "add " + p.Name; });
        QObject::connect(
            &play, &TCustomDXPlay::OnDeletePlayer,
            [this](TCustomDXPlay&, TDXPlayPlayer& p) { events << "delete " + p.Name; });
        QObject::connect(
            &play, &TCustomDXPlay::OnMessage,
            [this](TCustomDXPlay&, TDXPlayPlayer&, const void* data, std::int32_t size) {
                messages.append(QByteArray(static_cast<const char*>(data), size));
            });
        play.setExceptionDisplay([](const QString& text) { ADD_FAILURE() << text.toStdString(); });
    }

    // Hosts a session of that name through the provider.
    void host(const QString& sessionName, const QString& playerName) {
        play.setProviderName(providerName);
        openSession(play, true, sessionName, playerName);
    }
    // Joins the first session the provider finds; false when it finds none.
    bool join(const QString& playerName) {
        play.setProviderName(providerName);
        if (enumerateSessions(play) != DP_OK || play.Sessions().isEmpty()) {
            return false;
        }
        openSession(play, false, play.Sessions().first().Name, playerName);
        return true;
    }
    void send(const QByteArray& message) {
        play.SendMessage(DPID_ALLPLAYERS, message.constData(), message.size());
    }
};

}  // namespace velmora::test
