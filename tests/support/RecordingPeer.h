#pragma once

// One side of a session for tests: its own session service with the given provider, and a
// session component whose events and messages are recorded as they arrive.

#include "session/DXPlay.h"
#include "session/service/SessionService.h"

#include <QByteArray>
#include <QList>
#include <QStringList>

#include <gtest/gtest.h>

namespace velmora::test {

inline const QString RecordingPeerGuid = QStringLiteral("{A2196E45-287F-4F8F-987A-382C87886EED}");

struct RecordingPeer {
    SessionService service;
    QStringList events;  // "open", "close", "lost", "add NAME", "delete NAME"
    QList<QByteArray> messages;
    TDXPlay play{service};

    explicit RecordingPeer(ProviderEntry provider) : service({std::move(provider)}) {
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
};

}  // namespace velmora::test
