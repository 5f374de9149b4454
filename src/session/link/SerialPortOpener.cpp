#include "session/link/SerialPortOpener.h"

#include "session/ports/PortDiagnosis.h"

#include <QFileInfo>
#include <QSerialPort>

#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>

namespace velmora {

QString serialDevicePath(const QString& portName) {
    return portName.contains(QLatin1Char('/')) ? portName : QStringLiteral("/dev/") + portName;
}

bool portHasOwnRate(const QSerialPort& port) {
    // The slave ends of UNIX98 pseudo-terminals have the character device majors 136 to 143.
    constexpr unsigned kFirstPtyMajor = 136;
    constexpr unsigned kLastPtyMajor = 143;
    struct stat status {};
    if (port.handle() < 0 || ::fstat(port.handle(), &status) != 0 || !S_ISCHR(status.st_mode)) {
        return true;
    }
    const unsigned major = major(status.st_rdev);
    return major < kFirstPtyMajor || major > kLastPtyMajor;
}

std::unique_ptr<QSerialPort> openSerialPort(const SerialSettings& settings, QString& error) {
    const QString device = serialDevicePath(settings.portName);
    if (settings.portName.isEmpty()) {
        error = QStringLiteral("No serial port was chosen.");
        return nullptr;
    }
    if (settings.baud < SerialSettings::kMinBaud || settings.baud > SerialSettings::kMaxBaud) {
        error = QStringLiteral(
                    "The serial port %1 cannot run at %2 baud: choose a rate from "
                    "%3 to %4.")
                    .arg(device)
                    .arg(settings.baud)
                    .arg(SerialSettings::kMinBaud)
                    .arg(SerialSettings::kMaxBaud);
        return nullptr;
    }
    if (!QFileInfo::exists(device)) {
        error = QStringLiteral(
                    "The serial port %1 does not exist: check its name, and that the "
                    "adapter is plugged in.")
                    .arg(device);
        return nullptr;
    }
    const QByteArray nativePath = QFile::encodeName(device);
    if (::access(nativePath.constData(), R_OK | W_OK) != 0 && errno == EACCES) {
        // The cause (the group, a login without it, the mode) and the command that fixes it.
        const PortDiagnosis diagnosis = diagnosePortAccess(device);
        error = diagnosis.usable()
                    ? QStringLiteral("The serial port %1 cannot be opened: permission denied.")
                          .arg(device)
                    : diagnosis.message();
        return nullptr;
    }

    auto port = std::make_unique<QSerialPort>();
    port->setPortName(device);
    port->setBaudRate(settings.baud);
    port->setDataBits(QSerialPort::Data8);
    port->setParity(QSerialPort::NoParity);
    port->setStopBits(QSerialPort::OneStop);
    switch (settings.flow) {
        case FlowControl::None:
            port->setFlowControl(QSerialPort::NoFlowControl);
            break;
        case FlowControl::RtsCts:
            port->setFlowControl(QSerialPort::HardwareControl);
            break;
        case FlowControl::XonXoff:
            port->setFlowControl(QSerialPort::SoftwareControl);
            break;
    }
    if (port->open(QIODevice::ReadWrite)) {
        return port;
    }
    switch (port->error()) {
        case QSerialPort::DeviceNotFoundError:
            error = QStringLiteral(
                        "The serial port %1 does not exist: check its name, and that the "
                        "adapter is plugged in.")
                        .arg(device);
            break;
        case QSerialPort::PermissionError:
            // Access was checked above: what is left is another program holding the port, which
            // the text names where it can be seen.
            error = diagnoseBusyPort(device).message();
            break;
        case QSerialPort::UnsupportedOperationError:
            error = QStringLiteral("The serial port %1 does not take these settings (%2 baud): %3.")
                        .arg(device)
                        .arg(settings.baud)
                        .arg(port->errorString());
            break;
        default:
            error = QStringLiteral("The serial port %1 cannot be opened: %2.")
                        .arg(device, port->errorString());
            break;
    }
    return nullptr;
}

}  // namespace velmora
