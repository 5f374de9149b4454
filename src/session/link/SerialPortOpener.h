#pragma once

#include "session/link/SerialSettings.h"

#include <QString>

#include <memory>

class QSerialPort;

namespace velmora {

// The device file of a port name: a name with a slash is a path already, any other name lives
// in /dev.
QString serialDevicePath(const QString& portName);

// Whether an open port has a rate of its own. A pseudo-terminal (a UNIX98 pty's slave end) has
// none: its baud setting does nothing, and it carries bytes as fast as the other end reads them.
bool portHasOwnRate(const QSerialPort& port);

// Opens the port for reading and writing with the settings (8N1). On failure returns nullptr and
// sets error to a text for the user that names the device and the cause: missing, in use by
// another program, not allowed (with how to fix it), or a setting the port does not take.
std::unique_ptr<QSerialPort> openSerialPort(const SerialSettings& settings, QString& error);

}  // namespace velmora
