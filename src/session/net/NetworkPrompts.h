#pragma once

#include "session/PromptReply.h"

#include <QString>

#include <optional>

namespace velmora {

// What the network provider asks and tells the user. The application shows dialogs; velmora-cli
// and tests answer in code.
class NetworkPrompts {
public:
    virtual ~NetworkPrompts() = default;

    // Asks for the passphrase of a line to `where` ("host:port"), on the UI thread; the answer
    // goes to `reply`.
    virtual void askPassphrase(const QString& where, PromptReply<QString> reply) = 0;
    // Tells the user why no line came about (on the UI thread), without waiting for the user.
    virtual void showNetworkError(const QString& message) = 0;
    // A host's line turned a caller away and goes on waiting: why. Called on the line's own
    // thread; must return at once (the words go to the UI thread by a queued call).
    virtual void callerRefused(const QString& message) = 0;
};

}  // namespace velmora
