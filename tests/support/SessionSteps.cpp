#include "support/SessionSteps.h"

#include "support/TestEnvironment.h"

#include <optional>
#include <stdexcept>

namespace velmora::test {

HRESULT enumerateSessions(TCustomDXPlay& play, std::uint32_t timeoutMs) {
    std::optional<HRESULT> result;
    const QMetaObject::Connection reported = QObject::connect(
        &play, &TCustomDXPlay::OnEnumerated,
        [&result](TCustomDXPlay&, HRESULT code) { result = code; });
    play.EnumerateSessions(timeoutMs);
    const bool ended = pumpUntil([&] { return result.has_value(); });
    QObject::disconnect(reported);
    if (!ended) {
        throw std::runtime_error("the search for sessions never ended");
    }
    return *result;
}

void openSession(TCustomDXPlay& play, bool create, const QString& sessionName,
                 const QString& playerName) {
    bool opened = false;
    std::optional<std::pair<HRESULT, QString>> failure;
    const QMetaObject::Connection open =
        QObject::connect(&play, &TCustomDXPlay::OnOpen, [&opened](TCustomDXPlay&) { opened = true; });
    const QMetaObject::Connection failed = QObject::connect(
        &play, &TCustomDXPlay::OnOpenFailed,
        [&failure](TCustomDXPlay&, HRESULT code, const QString& message) {
            failure = {code, message};
        });
    try {
        play.OpenSession(create, sessionName, playerName);
    } catch (...) {
        QObject::disconnect(open);
        QObject::disconnect(failed);
        throw;
    }
    const bool ended = pumpUntil([&] { return opened || failure.has_value(); });
    QObject::disconnect(open);
    QObject::disconnect(failed);
    if (!ended) {
        throw std::runtime_error("opening the session never ended");
    }
    if (failure) {
        if (failure->first == DPERR_USERCANCEL) {
            throw EAbort();
        }
        throw EDXPlayError(failure->second);
    }
}

bool joinFirstSession(TCustomDXPlay& play, const QString& playerName) {
    enumerateSessions(play);
    if (play.Sessions().isEmpty()) {
        return false;
    }
    openSession(play, false, play.Sessions().first().Name, playerName);
    return true;
}

}  // namespace velmora::test
