#pragma once

#include <QString>

#include <optional>
#include <vector>

namespace velmora {

// What decides whether a user may open a device file.
struct DeviceFacts {
    unsigned owner = 0;
    unsigned group = 0;
    unsigned mode = 0;  // the permission bits
};

// The user who would open the device.
struct UserFacts {
    QString name;
    unsigned id = 0;
    std::vector<unsigned> groups;    // the groups this process has
    std::vector<unsigned> memberOf;  // the groups the user database gives the user now
};

// A program that has the device open.
struct PortHolder {
    long long pid = 0;
    QString program;  // its command name
};

// Why a serial port cannot be opened, in words for the user, and the one command that fixes it.
struct PortDiagnosis {
    enum class Kind { Usable, Missing, NotInGroup, GroupNotActiveYet, NoAccess, Held };

    Kind kind = Kind::Usable;
    QString device;
    QString cause;  // e.g. "you are not in the group dialout, which owns it"
    QString fix;    // e.g. "sudo adduser ann dialout", or empty

    bool usable() const { return kind == Kind::Usable; }
    // "The serial port DEVICE cannot be opened: CAUSE. To fix it: FIX" ("is in use by another
    // program" for a held port), one paragraph.
    QString message() const;
};

// Whether the user may read and write the device, as the kernel decides it, and if not why.
PortDiagnosis diagnoseAccess(const QString& device, const DeviceFacts& facts, const UserFacts& user,
                             const QString& groupName);

// Why the device is busy: the programs that hold it, or when none could be seen (another user's
// processes), a program known to take serial ports that is running.
PortDiagnosis diagnoseHolders(const QString& device, const std::vector<PortHolder>& holders,
                              const std::vector<PortHolder>& running);

// The facts of this system: the device file, the current user, the programs.
std::optional<DeviceFacts> readDeviceFacts(const QString& device);
UserFacts currentUser();
QString groupName(unsigned group);
// The processes under procFolder with an open descriptor on the device.
std::vector<PortHolder> portHolders(const QString& device,
                                    const QString& procFolder = QStringLiteral("/proc"));
// The running processes whose command is one known to take serial ports (ModemManager, brltty).
std::vector<PortHolder> runningPortTakers(const QString& procFolder = QStringLiteral("/proc"));

// Whether the device exists and this user is allowed to open it.
PortDiagnosis diagnosePortAccess(const QString& device);
// Whether this user may open the device now: missing, not allowed, held by a program that can be
// seen, or usable.
PortDiagnosis diagnosePort(const QString& device);
// Why a device that this user may open was found busy.
PortDiagnosis diagnoseBusyPort(const QString& device);

}  // namespace velmora
