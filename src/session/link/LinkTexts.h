#pragma once

#include "session/link/LinkEngine.h"

#include <QString>

namespace velmora {

// The words the user reads about the serial link, composed from the codes the link reports.

// Why the link went down.
QString linkDownText(const LinkDownCause& cause);
// A caller's line that never came up: what was heard on the port.
QString noAnswerText(const QString& device, LinkHeard heard);
// The port itself failed (read or write error, the device went away).
QString portFailedText(const QString& device, const QString& error);
// The same over a network connection to `address`.
QString streamNoAnswerText(const QString& address);
QString streamFailedText(const QString& address, const QString& error);

}  // namespace velmora
