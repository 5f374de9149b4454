#include "apps/velmora-cli/CliOptions.h"

#include "session/link/NetworkSerialPort.h"
#include "session/modem/ModemProvider.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFile>

namespace velmora {

namespace {

const char* const Description =
    R"(Velmora without a window: talk and send files over a null-modem cable, a modem line or
a network.

  velmora-cli host --serial DEVICE [options] [send FILE...]
  velmora-cli join --serial DEVICE [options] [send FILE...]
  velmora-cli host --modem MODEM [options] [send FILE...]
  velmora-cli join --modem MODEM --phone NUMBER [options] [send FILE...]
  velmora-cli host --tcp [ADDRESS:]PORT [--passphrase-file FILE] [options] [send FILE...]
  velmora-cli join --tcp HOST:PORT [--passphrase-file FILE] [options] [send FILE...]
  velmora-cli ports [DEVICE...]

One side hosts (waits for the other), the other joins. Over a cable both name their serial
port. Over a telephone line the host's modem waits for a call and answers it; the other side's
modem dials the host's number. MODEM is a name from the modem list (modems.ini in the data
folder) or the device path of a modem, which is then driven at 115200 baud without flow control.
Over a network the host waits on a TCP port, on the loopback address unless it names another
(0.0.0.0 for every address), and the other side connects to it. Both sides need the same
passphrase, read from the first line of the file named by --passphrase-file or from the
VELMORA_PASSPHRASE environment variable (never from the command line); only a side that knows
it gets in, and everything after the handshake is encrypted. A serial port that a terminal
server exports (--serial tcp://... or rfc2217://...) is not encrypted: only a network line
(--tcp), where both sides use a passphrase, encrypts what goes over the network.
"ports" lists the serial ports with their descriptions, their /dev/serial/by-id/ names and
whether you may open them, and if not why and the command that fixes it.

Lines typed on standard input are sent as chat lines once the other side is there; received
lines are printed as "name>    text". Files named after "send" are offered as soon as the other
side is there. Files offered by the other side are received into the incoming folder; a partial
file of the same name there is resumed.

A line that is lost (a pulled cable, a USB adapter that drops out, a modem that loses the
carrier) is tried again: the side that hosted hosts again, the side that joined joins again, a
serial port is opened as soon as its device is there again under the same name, and a modem
calls again or waits for the call again, at most 5 times. Once the same other side is back,
every unfinished transfer goes on from where it stopped, in both directions. Reconnecting is
given up 5 minutes after the line was lost; --no-reconnect ends at once instead.

Ctrl-C (or SIGTERM) ends with a goodbye to the other side, and a modem hangs up; while the port
is opened, the other side is looked for or a modem dials, it cancels the attempt (exit code 8);
while a lost line is being got back, it ends the wait (exit code 7 when files did not arrive). A
second Ctrl-C ends at once.

Exit codes:
  0  done: every file arrived whole, verified by its SHA-256 on both sides
  1  wrong command line
  2  no such device, no such modem in the modem list, or the modem cannot be opened
  3  permission denied on the device (add yourself to the dialout group)
  4  no session found on the other side
  5  line busy: the line could not be brought up (busy, no dial tone, no carrier, no answer,
     the modem did not answer, the cable's port is taken by another program, the network
     host cannot be reached or is no Velmora), or the other
     side runs another version of Velmora (printed in the window's words)
  6  connection lost (with reconnecting off, or given up after 5 minutes)
  7  a file was refused, stopped, or did not arrive whole
  8  any other failure, or the attempt to connect was cancelled by Ctrl-C or SIGTERM
  9  every file arrived with its full length, but the other side is an older Velmora
     that cannot prove it whole
  10 the other side's passphrase is not the same)";

// A device path relative to the current folder made absolute; port names ("ttyUSB0") and modem
// names stay as they are.
QString devicePath(const QString& given) {
    if (isNetworkSerialPort(given)) {
        return given;
    }
    return given.contains('/') ? QDir::current().absoluteFilePath(given) : given;
}

// An address of --tcp: "PORT" or "ADDRESS:PORT" hosting, "HOST:PORT" joining; an IPv6
// address in brackets.
struct NetworkAddress {
    QString host;
    std::uint16_t port = 0;
};

std::optional<NetworkAddress> parseNetworkAddress(const QString& text, bool hosting) {
    const qsizetype colon = text.lastIndexOf(':');
    if (colon < 0 && !hosting) {
        return std::nullopt;
    }
    QString host = colon < 0 ? QString() : text.left(colon);
    if (host.startsWith('[') && host.endsWith(']')) {
        host = host.mid(1, host.size() - 2);
    }
    bool ok = false;
    const uint port = text.mid(colon + 1).toUInt(&ok);
    if (!ok || port == 0 || port > 65535 || (colon >= 0 && host.isEmpty())) {
        return std::nullopt;
    }
    return NetworkAddress{host, static_cast<std::uint16_t>(port)};
}

}  // namespace

std::variant<CliOptions, CliExit, PortsCommand> parseCliOptions(
    const QStringList& arguments, const std::optional<QString>& environmentPassphrase) {
    QCommandLineParser parser;
    parser.setApplicationDescription(QString::fromUtf8(Description));
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption help({"h", "help"}, "Show this help.");
    const QCommandLineOption version("version", "Print the package version.");
    const QCommandLineOption serial(
        "serial",
        "Over a null-modem cable: the serial port, a device such as /dev/ttyUSB0, or one a "
        "terminal server exports: tcp://HOST:PORT (raw) or rfc2217://HOST:PORT.",
        "DEVICE");
    const QCommandLineOption modem(
        "modem", "Over a telephone line: the modem, by its name in the modem list or its device.",
        "MODEM");
    const QCommandLineOption phone("phone", "Joining over a modem: the number to dial.", "NUMBER");
    const QCommandLineOption tcp(
        "tcp",
        "Over a network: hosting, the port to wait on, with the address to listen on before it "
        "(default the loopback address); joining, the host and port to call.",
        "[ADDRESS:]PORT");
    const QCommandLineOption passphraseFile(
        "passphrase-file",
        "Over a network: the file whose first line is the passphrase (default: the "
        "VELMORA_PASSPHRASE environment variable).",
        "FILE");
    const QCommandLineOption baud("baud", "Cable rate, 300 to 4000000 (default 115200).", "N",
                                  "115200");
    const QCommandLineOption flow(
        "flow", "Cable flow control: none, rtscts or xonxoff (default none).", "MODE", "none");
    const QCommandLineOption name("name", "Your name as the other side sees it.", "NAME");
    const QCommandLineOption session("session", "The session name when hosting.", "NAME",
                                     "Velmora");
    const QCommandLineOption incoming(
        "incoming", "Folder for received files (default: the current folder).", "DIR");
    const QCommandLineOption blockCode(
        "block-code", "Block size of sent files: 1 (512 bytes) to 7 (1 MiB), default 5.", "CODE",
        "5");
    const QCommandLineOption blockIncoming("block-incoming", "Refuse every offered file.");
    const QCommandLineOption exitWhenDone(
        "exit-when-done",
        "End once every file offered by either side has ended, when the other side has offered "
        "its files or has left.");
    const QCommandLineOption noReconnect(
        "no-reconnect", "End when the line is lost, rather than trying to get it back.");
    const QCommandLineOption wait("wait", "Joining: seconds to look for the host (default 30).",
                                  "SECONDS", "30");
    parser.addOptions({help, version, serial, modem, phone, tcp, passphraseFile, baud, flow, name,
                       session, incoming, blockCode, blockIncoming, exitWhenDone, noReconnect,
                       wait});
    parser.addPositionalArgument("host|join|ports",
                                 "Wait for the other side, join it, or list the serial ports.");
    parser.addPositionalArgument("send FILE...", "Files to offer.", "[send FILE...]");

    if (!parser.parse(arguments)) {
        return CliExit{parser.errorText() + "\n\n" + parser.helpText(), ExitUsage};
    }
    if (parser.isSet(help)) {
        return CliExit{parser.helpText(), ExitDone};
    }
    if (parser.isSet(version)) {
        return CliExit{"velmora-cli " + QCoreApplication::applicationVersion(), ExitDone};
    }
    const auto usage = [&parser](const QString& why) {
        return CliExit{why + "\n\n" + parser.helpText(), ExitUsage};
    };
    QStringList positional = parser.positionalArguments();
    if (!positional.isEmpty() && positional[0] == "ports") {
        return PortsCommand{positional.mid(1)};
    }
    if (positional.isEmpty() || (positional[0] != "host" && positional[0] != "join")) {
        return usage("Say host, join or ports.");
    }
    CliOptions options;
    options.host = positional.takeFirst() == "host";
    if (!positional.isEmpty()) {
        if (positional.takeFirst() != "send" || positional.isEmpty()) {
            return usage("After host or join, only \"send FILE...\" may follow.");
        }
        for (const QString& file : positional) {
            options.files.append(QDir::current().absoluteFilePath(file));
        }
    }
    if (int(parser.isSet(serial)) + int(parser.isSet(modem)) + int(parser.isSet(tcp)) != 1) {
        return usage(
            "Name either the serial port (--serial DEVICE), the modem (--modem MODEM) or the "
            "network address (--tcp).");
    }
    if (parser.isSet(passphraseFile) && !parser.isSet(tcp)) {
        return usage("--passphrase-file is for a network line (--tcp).");
    }
    if (parser.isSet(tcp)) {
        options.line = LineKind::Network;
        if (parser.isSet(baud) || parser.isSet(flow) || parser.isSet(phone)) {
            return usage("--baud, --flow and --phone are not for a network line.");
        }
        const std::optional<NetworkAddress> address =
            parseNetworkAddress(parser.value(tcp), options.host);
        if (!address) {
            return usage(options.host
                             ? "--tcp takes the port to wait on, 1 to 65535, with the address "
                               "before it if not the loopback address: [ADDRESS:]PORT."
                             : "--tcp takes the host to call and its port: HOST:PORT.");
        }
        options.hostName = address->host;
        options.port = address->port;
        if (parser.isSet(passphraseFile)) {
            QFile file(parser.value(passphraseFile));
            if (!file.open(QIODevice::ReadOnly)) {
                return CliExit{QStringLiteral("Cannot read the passphrase file %1: %2.")
                                   .arg(parser.value(passphraseFile), file.errorString()),
                               ExitUsage};
            }
            options.passphrase = QString::fromUtf8(file.readLine()).remove('\n').remove('\r');
        } else {
            options.passphrase = environmentPassphrase.value_or(QString());
        }
        if (options.passphrase.isEmpty()) {
            return usage(
                "A network line needs a passphrase: the first line of --passphrase-file FILE, or "
                "the VELMORA_PASSPHRASE environment variable.");
        }
    } else if (parser.isSet(modem)) {
        options.line = LineKind::Modem;
        options.modem = devicePath(parser.value(modem));
        if (parser.isSet(baud) || parser.isSet(flow)) {
            return usage(
                "--baud and --flow are for the cable; a modem's port settings are in the modem "
                "list.");
        }
        if (options.host && parser.isSet(phone)) {
            return usage("The host waits for a call: --phone is for the side that joins.");
        }
        options.phone = parser.value(phone);
        if (!options.host && dialString(options.phone).isEmpty()) {
            return usage("Joining over a modem needs the number to dial: --phone NUMBER.");
        }
    } else {
        if (parser.isSet(phone)) {
            return usage("--phone is for a modem line (--modem MODEM).");
        }
        options.serial.portName = devicePath(parser.value(serial));
        bool ok = false;
        options.serial.baud = parser.value(baud).toInt(&ok);
        if (!ok || options.serial.baud < SerialSettings::kMinBaud ||
            options.serial.baud > SerialSettings::kMaxBaud) {
            return usage("The baud rate must be a number from 300 to 4000000.");
        }
        const std::optional<FlowControl> flowControl = flowControlFromName(parser.value(flow));
        if (!flowControl) {
            return usage("Flow control is none, rtscts or xonxoff.");
        }
        options.serial.flow = *flowControl;
    }
    bool ok = false;
    options.blockCode = parser.value(blockCode).toInt(&ok);
    if (!ok || options.blockCode < 1 || options.blockCode > 7) {
        return usage("The block code is a number from 1 to 7.");
    }
    options.waitSeconds = parser.value(wait).toInt(&ok);
    if (!ok || options.waitSeconds < 0) {
        return usage("--wait takes a number of seconds.");
    }
    options.playerName = parser.value(name);
    options.sessionName = parser.value(session);
    if (options.sessionName.isEmpty()) {
        return usage("The session name may not be empty.");
    }
    options.incomingFolder = QDir::current().absoluteFilePath(
        parser.isSet(incoming) ? parser.value(incoming) : QStringLiteral("."));
    options.blockIncoming = parser.isSet(blockIncoming);
    options.exitWhenDone = parser.isSet(exitWhenDone);
    options.reconnect = !parser.isSet(noReconnect);
    return options;
}

}  // namespace velmora
