#include "connections/ConnectProcedure.h"

#include "session/DXPlay.h"
#include "session/service/SessionWire.h"

#include <algorithm>

namespace velmora {

namespace {

constexpr int MaximumPlayerNameLength = 256;
constexpr int RetryWaitMs = 100;
constexpr int CableBlockSizeCode = 5;
constexpr int SlowestModemCode = 2;
constexpr int FastestModemCode = 4;

// Shows the busy cursor once asked to and restores the normal one when it goes, whatever ends
// the search.
class BusyCursor {
public:
    explicit BusyCursor(const ConnectHooks& hooks) : m_hooks(hooks) {}
    ~BusyCursor() {
        if (m_shown && m_hooks.setBusyCursor) {
            m_hooks.setBusyCursor(false);
        }
    }
    BusyCursor(const BusyCursor&) = delete;
    BusyCursor& operator=(const BusyCursor&) = delete;

    void show() {
        if (!m_shown && m_hooks.setBusyCursor) {
            m_hooks.setBusyCursor(true);
        }
        m_shown = true;
    }

private:
    const ConnectHooks& m_hooks;
    bool m_shown = false;
};

// Ends the attempt silently once the user cancelled it.
void stopIfCancelled(const ConnectHooks& hooks) {
    if (hooks.cancelled && hooks.cancelled()) {
        throw EAbort();
    }
}

// Looks for the other computer's session; true when the search could be made. A side of
// another version is told here.
bool searchSessions(TCustomDXPlay& play, const ConnectHooks& hooks) {
    const HRESULT result = play.EnumerateSessions(0);
    stopIfCancelled(hooks);
    if (result == DPERR_INCOMPATIBLEPEER) {
        // The link's own words name both versions; a session of another version has none.
        const QString refusal = play.RefusalText();
        hooks.showMessage(refusal.isEmpty() ? OtherVersionMessage : refusal);
        play.Close();
        throw EAbort();
    }
    return result == DP_OK;
}

void joinFirstSession(TCustomDXPlay& play, const ConnectRequest& request,
                      const ConnectHooks& hooks) {
    stopIfCancelled(hooks);
    play.OpenSession(false, play.Sessions().first().Name, request.playerName);
}

bool noSessionFound(TCustomDXPlay& play, const ConnectHooks& hooks) {
    hooks.showMessage(NoSessionsMessage);
    play.Close();
    return false;
}

bool hostOverModem(TCustomDXPlay& play, const ConnectRequest& request) {
    TDXPlayModemSetting& modem = play.ModemSetting();
    if (request.otherModem) {
        modem.Enabled = false;
    } else {
        modem.ModemName = request.modemName;
        modem.PhoneNumber.clear();
        modem.Enabled = true;
    }
    play.setProviderName(play.ProviderNameFromGUID(guids::ServiceProviderModem));
    play.OpenSession(true, request.sessionName, request.playerName);
    return true;
}

bool callOverModem(TCustomDXPlay& play, const ConnectRequest& request, const ConnectHooks& hooks) {
    TDXPlayModemSetting& modem = play.ModemSetting();
    if (request.otherModem) {
        modem.Enabled = false;
    } else {
        modem.ModemName = request.modemName;
        modem.PhoneNumber = request.phoneNumber;
        modem.Enabled = true;
    }
    play.setProviderName(play.ProviderNameFromGUID(guids::ServiceProviderModem));
    if (!searchSessions(play, hooks)) {
        hooks.showMessage(LineBusyMessage);
        return false;
    }
    BusyCursor cursor(hooks);
    for (int retry = 0; retry < request.retries && play.Sessions().isEmpty(); ++retry) {
        cursor.show();
        searchSessions(play, hooks);
        hooks.wait(RetryWaitMs);
        stopIfCancelled(hooks);
    }
    if (play.Sessions().isEmpty()) {
        return noSessionFound(play, hooks);
    }
    joinFirstSession(play, request, hooks);
    return true;
}

bool hostOverCable(TCustomDXPlay& play, const ConnectRequest& request) {
    play.setProviderName(play.ProviderNameFromGUID(guids::ServiceProviderSerial));
    play.OpenSession(true, request.sessionName, request.playerName);
    return true;
}

bool callOverCable(TCustomDXPlay& play, const ConnectRequest& request, const ConnectHooks& hooks) {
    play.setProviderName(play.ProviderNameFromGUID(guids::ServiceProviderSerial));
    searchSessions(play, hooks);
    if (play.Sessions().isEmpty()) {
        return noSessionFound(play, hooks);
    }
    joinFirstSession(play, request, hooks);
    return true;
}

}  // namespace

QString playerNameFor(const QString& userNameOption, const QString& loginName) {
    if (!userNameOption.isEmpty()) {
        return userNameOption;
    }
    return loginName.left(MaximumPlayerNameLength);
}

QString sessionNameFor(const QString& typed) {
    return typed.isEmpty() ? DefaultSessionName : typed;
}

int blockSizeCodeFor(bool nullModem, int speedOption) {
    if (nullModem) {
        return CableBlockSizeCode;
    }
    return std::clamp(speedOption, SlowestModemCode, FastestModemCode);
}

bool runConnect(TCustomDXPlay& play, const ConnectRequest& request, const ConnectHooks& hooks) {
    try {
        if (request.nullModem) {
            return request.calling ? callOverCable(play, request, hooks)
                                   : hostOverCable(play, request);
        }
        return request.calling ? callOverModem(play, request, hooks) : hostOverModem(play, request);
    } catch (const EAbort&) {
        return false;
    } catch (const EDXPlayError& error) {
        hooks.showError(error.message());
        return false;
    }
}

}  // namespace velmora
