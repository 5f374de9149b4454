#pragma once

#include "session/link/SerialSettings.h"

#include <QString>
#include <QStringList>

#include <optional>

#include <cstdint>
#include <variant>

namespace velmora {

// How velmora-cli ends; documented in its --help.
enum ExitCode : int {
    ExitDone = 0,        // everything asked for was done; every file arrived whole and verified
    ExitUsage = 1,       // the command line is wrong
    ExitNoDevice = 2,    // no such device, or no such modem in the modem list
    ExitPermission = 3,  // the device may not be opened by this user
    ExitNoSession = 4,   // no session found on the other side
    ExitLineBusy = 5,    // the line could not be brought up (busy, no dial tone, no carrier, ...)
    ExitConnectionLost = 6,
    ExitFileRefused = 7,  // a file was refused, stopped or did not arrive whole
    ExitFailure = 8,      // any other failure
    ExitUnverified = 9,   // every file arrived with its count, but the other side cannot verify
    ExitWrongPassphrase = 10,  // the two sides' passphrases differ
};

// What carries the session: a null-modem cable on a serial port, a call over a modem, or a
// TCP/IP connection between two Velmoras.
enum class LineKind { Serial, Modem, Network };

struct CliOptions {
    bool host = false;  // host, or join
    LineKind line = LineKind::Serial;
    SerialSettings serial;  // the cable's port
    QString modem;          // a name of the modem list, or a modem's device path
    QString phone;          // the number a joining side dials
    QString hostName;       // network: the host to join, or the address to listen on
    std::uint16_t port = 0;
    QString passphrase;  // network: from --passphrase-file or VELMORA_PASSPHRASE
    QString playerName;
    QString sessionName;
    QString incomingFolder;
    int blockCode = 5;
    bool blockIncoming = false;
    bool exitWhenDone = false;
    bool reconnect = true;  // a lost line is tried again
    int waitSeconds = 30;   // joining: how long to look for the host's session
    QStringList files;      // offered once the other side is there
};

// What the command line asks for, or the text to print and the code to end with (--help,
// --version and mistakes).
struct CliExit {
    QString text;
    int code = ExitUsage;
};

// "velmora-cli ports [DEVICE...]": list the serial ports, or describe the devices named.
struct PortsCommand {
    QStringList devices;
};

// `environmentPassphrase` is VELMORA_PASSPHRASE's value, if set.
std::variant<CliOptions, CliExit, PortsCommand> parseCliOptions(
    const QStringList& arguments, const std::optional<QString>& environmentPassphrase);

}  // namespace velmora
