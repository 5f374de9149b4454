#pragma once

#include "session/Transport.h"
#include "session/link/SerialPrompts.h"
#include "session/link/SerialSettings.h"
#include "session/modem/ModemPrompts.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>

namespace velmora {

// One modem the provider can use.
struct ModemEntry {
    QString name;            // as the connection dialogs list it
    QString device;          // a port name ("ttyACM0") or a device path ("/dev/pts/4")
    QByteArray initString;   // the modem's own extra command, e.g. "AT&F&C1&D2"; may be empty
    bool pulseDial = false;  // ATDP instead of ATDT
    int baud = 115200;       // the rate between computer and modem
    FlowControl flow = FlowControl::None;

    friend bool operator==(const ModemEntry&, const ModemEntry&) = default;
};

// The modem list: the modems configured in modems.ini in the data folder, in file order,
//
//   [Modem1]
//   Name=US Robotics 56K    shown in the lists; the device when empty
//   Device=ttyACM0          a port name or a device path
//   Init=AT&F&C1&D2         optional
//   Dial=Tone               Tone or Pulse
//   Baud=115200
//   Flow=None               None, RtsCts or XonXoff
//   [Modem2]
//   ...
//
// then the USB modems the system has that the file does not name. The file also keeps the modem
// and the number used last, to preset the question with:
//
//   [Last]
//   Modem=US Robotics 56K
//   Phone=555 1234
QString modemListPath(const QString& dataFolder);

// Reads the list. DP_OK, or MODEMERR_LISTUNREADABLE when the file is there but cannot be read
// (error then says why). A missing file is an empty list of configured modems.
HRESULT readModemList(const QString& dataFolder, const QList<SerialPortChoice>& systemPorts,
                      QList<ModemEntry>& modems, QString& error);

// The ports that are likely modems: USB communication devices (ttyACM), each named after its
// description and port.
QList<ModemEntry> usbModems(const QList<SerialPortChoice>& systemPorts);

// The entry with this name (letter case aside); nothing when there is none.
std::optional<ModemEntry> findModem(const QList<ModemEntry>& modems, const QString& name);

ModemChoice readLastModemChoice(const QString& dataFolder);
bool writeLastModemChoice(const QString& dataFolder, const ModemChoice& choice);

}  // namespace velmora
