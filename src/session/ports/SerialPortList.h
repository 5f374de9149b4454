#pragma once

#include "session/ports/PortDiagnosis.h"

#include <QString>
#include <QStringList>

#include <vector>

namespace velmora {

// One serial port as a user picks it: its device, what it is, its stable names and whether this
// user may open it.
struct SerialPortEntry {
    QString device;           // e.g. /dev/ttyUSB0
    QString description;      // e.g. "FT232R USB UART (FTDI)", or empty
    QStringList stableNames;  // the links in the by-id folder that lead to the device
    PortDiagnosis access;
};

// The serial ports the system has, or the devices named (a link is followed to its device).
std::vector<SerialPortEntry> listSerialPorts(
    const QStringList& devices = {},
    const QString& byIdFolder = QStringLiteral("/dev/serial/by-id"));

}  // namespace velmora
