#include "connections/ConnectProcedure.h"

#include <algorithm>

namespace velmora {

namespace {

constexpr int MaximumPlayerNameLength = 256;
constexpr int CableBlockSizeCode = 5;
constexpr int SlowestModemCode = 2;
constexpr int FastestModemCode = 4;

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

QString connectStepText(ConnectStep step, const ConnectRequest& request) {
    switch (step) {
        case ConnectStep::OpeningLine:
            switch (request.method) {
                case ConnectRequest::Method::Cable:
                    return QStringLiteral("Opening port...");
                case ConnectRequest::Method::Modem:
                    return QStringLiteral("Opening modem...");
                case ConnectRequest::Method::Network:
                    return QStringLiteral("Opening network port %1...").arg(request.port);
            }
            return {};
        case ConnectStep::Dialling:
            return request.otherModem || request.phoneNumber.isEmpty()
                       ? QStringLiteral("Dialling...")
                       : QStringLiteral("Dialling %1...").arg(request.phoneNumber);
        case ConnectStep::Searching:
            return QStringLiteral("Looking for the other computer...");
        case ConnectStep::Joining:
            return QStringLiteral("Joining the other computer's session...");
    }
    return {};
}

QString connectFailureText(const ConnectResult& result, const ConnectRequest& request) {
    switch (result.outcome) {
        case ConnectOutcome::Connected:
        case ConnectOutcome::Cancelled:
            return {};
        case ConnectOutcome::SearchFailed:
            // Over the cable the provider has said why the port cannot be used; nothing was
            // found on it. Over a network it has said why no line came about.
            switch (request.method) {
                case ConnectRequest::Method::Modem:
                    return LineBusyMessage;
                case ConnectRequest::Method::Cable:
                    return NoSessionsMessage;
                case ConnectRequest::Method::Network:
                    return {};
            }
            return {};
        case ConnectOutcome::NoSession:
            return NoSessionsMessage;
        case ConnectOutcome::OtherVersion:
            // The link's own words name both versions; a session of another version has none.
            return result.detail.isEmpty() ? OtherVersionMessage : result.detail;
        case ConnectOutcome::Failed:
            return result.detail;
    }
    return {};
}

}  // namespace velmora
