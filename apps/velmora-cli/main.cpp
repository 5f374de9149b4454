#include "apps/velmora-cli/CliOptions.h"
#include "apps/velmora-cli/EndSignals.h"
#include "apps/velmora-cli/HeadlessPeer.h"
#include "base/DataFolder.h"
#include "session/ports/SerialPortList.h"

#include <QCoreApplication>
#include <QTextStream>

#include <cstdio>

namespace {

// "velmora-cli ports": each port with its description, its stable names and whether this user
// may open it, and if not why and what fixes it.
int listPorts(const velmora::PortsCommand& command, QTextStream& out) {
    const std::vector<velmora::SerialPortEntry> ports = velmora::listSerialPorts(command.devices);
    if (ports.empty()) {
        out << "No serial ports found." << Qt::endl;
    }
    for (const velmora::SerialPortEntry& port : ports) {
        out << port.device << (port.description.isEmpty() ? "" : "  ") << port.description
            << Qt::endl;
        for (const QString& name : port.stableNames) {
            out << "    " << name << Qt::endl;
        }
        const velmora::PortDiagnosis& access = port.access;
        if (access.usable()) {
            out << "    you may open it" << Qt::endl;
            continue;
        }
        using Kind = velmora::PortDiagnosis::Kind;
        if (access.kind == Kind::Missing) {
            out << "    " << access.cause << Qt::endl;
            continue;
        }
        out << "    " << (access.kind == Kind::Held ? "in use" : "you may not open it")
            << (access.cause.isEmpty() ? "" : ": ") << access.cause << Qt::endl
            << "    to fix it: " << access.fix << Qt::endl;
    }
    return velmora::ExitDone;
}

}  // namespace

int main(int argc, char* argv[]) {
    QCoreApplication application(argc, argv);
    // Ctrl-C and SIGTERM are caught from the start and handled once the event loop runs: an
    // attempt under way is cancelled (a modem hangs up), a conversation ends with a goodbye.
    velmora::HeadlessPeer* running = nullptr;
    const velmora::EndSignals endSignals([&running] {
        if (running != nullptr) {
            running->end();
        }
    });
    QCoreApplication::setApplicationName(QStringLiteral("velmora-cli"));
    QCoreApplication::setApplicationVersion(QStringLiteral(VELMORA_PACKAGE_VERSION));
    QTextStream out(stdout);
    QTextStream err(stderr);
    const auto parsed =
        velmora::parseCliOptions(QCoreApplication::arguments(),
                                 qEnvironmentVariableIsSet("VELMORA_PASSPHRASE")
                                     ? std::optional(qEnvironmentVariable("VELMORA_PASSPHRASE"))
                                     : std::nullopt);
    if (const auto* exit = std::get_if<velmora::CliExit>(&parsed)) {
        (exit->code == velmora::ExitDone ? out : err) << exit->text << Qt::endl;
        return exit->code;
    }
    if (const auto* ports = std::get_if<velmora::PortsCommand>(&parsed)) {
        return listPorts(*ports, out);
    }
    const auto& options = std::get<velmora::CliOptions>(parsed);
    velmora::HeadlessPeer peer(options, velmora::dataFolder(QCoreApplication::applicationDirPath()),
                               out, err);
    running = &peer;
    if (const auto failure = peer.start()) {
        return *failure;
    }
    return QCoreApplication::exec();
}
