#pragma once

#include "session/DXPlay.h"

#include <QString>

#include <cstdint>

namespace velmora::test {

// The session component's operations run to their end, for tests that need a session and do
// not look at the steps: the event loop turns until the component reports.

// EnumerateSessions: the result code it reports.
HRESULT enumerateSessions(TCustomDXPlay& play, std::uint32_t timeoutMs = 0);
// OpenSession: returns once the session is open; raises EDXPlayError with the component's words
// when it failed, EAbort when it was cancelled.
void openSession(TCustomDXPlay& play, bool create, const QString& sessionName,
                 const QString& playerName);
// Joins the first session found; false when none was found.
bool joinFirstSession(TCustomDXPlay& play, const QString& playerName);

}  // namespace velmora::test
