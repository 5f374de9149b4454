#include "session/ports/PortDiagnosis.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

namespace velmora {

namespace {

bool contains(const std::vector<unsigned>& list, unsigned value) {
    return std::find(list.begin(), list.end(), value) != list.end();
}

// Read and write for one class (owner, group or others) of the permission bits.
bool readWrite(unsigned mode, int shift) {
    return ((mode >> shift) & 06u) == 06u;
}

PortDiagnosis problem(PortDiagnosis::Kind kind, const QString& device, QString cause, QString fix) {
    return {kind, device, std::move(cause), std::move(fix)};
}

// What to do about a program that takes serial ports; nothing for any other program.
std::optional<PortDiagnosis> knownTaker(const QString& device, const PortHolder& holder,
                                        const QString& seen) {
    if (holder.program == QStringLiteral("ModemManager")) {
        return problem(
            PortDiagnosis::Kind::Held, device,
            QStringLiteral("ModemManager %1 (it probes serial ports for mobile-broadband "
                           "modems)")
                .arg(seen),
            QStringLiteral("sudo systemctl disable --now ModemManager"));
    }
    if (holder.program == QStringLiteral("brltty")) {
        return problem(PortDiagnosis::Kind::Held, device,
                       QStringLiteral("brltty %1 (the braille display driver claims some USB "
                                      "serial adapters)")
                           .arg(seen),
                       QStringLiteral("sudo apt remove brltty (where no braille display is used)"));
    }
    return std::nullopt;
}

QString readText(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()).trimmed() : QString();
}

// The processes under procFolder whose command passes the filter.
template <typename Filter>
std::vector<PortHolder> processes(const QString& procFolder, Filter&& keep) {
    std::vector<PortHolder> found;
    const QDir proc(procFolder);
    for (const QString& entry : proc.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        bool numeric = false;
        const long long pid = entry.toLongLong(&numeric);
        if (numeric && keep(proc.filePath(entry))) {
            found.push_back({pid, readText(proc.filePath(entry) + QStringLiteral("/comm"))});
        }
    }
    std::sort(found.begin(), found.end(),
              [](const PortHolder& a, const PortHolder& b) { return a.pid < b.pid; });
    return found;
}

}  // namespace

QString PortDiagnosis::message() const {
    QString text =
        kind == Kind::Held
            ? QStringLiteral("The serial port %1 is in use by another program").arg(device)
            : QStringLiteral("The serial port %1 cannot be opened").arg(device);
    text += cause.isEmpty() ? QStringLiteral(".") : QStringLiteral(": %1.").arg(cause);
    if (!fix.isEmpty()) {
        text += QStringLiteral(" To fix it: %1").arg(fix);
    }
    return text;
}

PortDiagnosis diagnoseAccess(const QString& device, const DeviceFacts& facts, const UserFacts& user,
                             const QString& groupName) {
    const bool mayOpen = user.id == 0 || (user.id == facts.owner && readWrite(facts.mode, 6)) ||
                         (contains(user.groups, facts.group) && readWrite(facts.mode, 3)) ||
                         readWrite(facts.mode, 0);
    if (mayOpen) {
        return {PortDiagnosis::Kind::Usable, device, {}, {}};
    }
    if (readWrite(facts.mode, 3) && !contains(user.groups, facts.group)) {
        if (contains(user.memberOf, facts.group)) {
            return problem(PortDiagnosis::Kind::GroupNotActiveYet, device,
                           QStringLiteral("you were added to the group %1, which owns it, but "
                                          "this login does not have that group yet")
                               .arg(groupName),
                           QStringLiteral("log out and in again (or, in one terminal: newgrp %1)")
                               .arg(groupName));
        }
        return problem(PortDiagnosis::Kind::NotInGroup, device,
                       QStringLiteral("you (%1) are not in the group %2, which owns it")
                           .arg(user.name, groupName),
                       QStringLiteral("sudo adduser %1 %2, then log out and in again")
                           .arg(user.name, groupName));
    }
    return problem(
        PortDiagnosis::Kind::NoAccess, device,
        QStringLiteral("its permissions (%1) let neither you (%2) nor a group of yours use it")
            .arg(facts.mode & 0777u, 3, 8, QLatin1Char('0'))
            .arg(user.name),
        QStringLiteral("sudo setfacl -m u:%1:rw %2 (until the device is plugged in again)")
            .arg(user.name, device));
}

PortDiagnosis diagnoseHolders(const QString& device, const std::vector<PortHolder>& holders,
                              const std::vector<PortHolder>& running) {
    for (const PortHolder& holder : holders) {
        if (auto known = knownTaker(device, holder, QStringLiteral("has it open"))) {
            return *known;
        }
    }
    if (!holders.empty()) {
        const PortHolder& holder = holders.front();
        return problem(
            PortDiagnosis::Kind::Held, device,
            QStringLiteral("%1 (process %2) has it open").arg(holder.program).arg(holder.pid),
            QStringLiteral("quit %1, or end it with: kill %2").arg(holder.program).arg(holder.pid));
    }
    for (const PortHolder& taker : running) {
        if (auto known = knownTaker(device, taker, QStringLiteral("is running and may hold it"))) {
            return *known;
        }
    }
    return problem(PortDiagnosis::Kind::Held, device, {},
                   QStringLiteral("find the program with: sudo fuser -v %1").arg(device));
}

std::optional<DeviceFacts> readDeviceFacts(const QString& device) {
    struct stat status {};
    if (::stat(QFile::encodeName(device).constData(), &status) != 0) {
        return std::nullopt;
    }
    return DeviceFacts{status.st_uid, status.st_gid, status.st_mode & 07777u};
}

UserFacts currentUser() {
    UserFacts user;
    user.id = ::geteuid();
    std::vector<gid_t> groups(static_cast<std::size_t>(std::max(::getgroups(0, nullptr), 0)) + 1);
    const int count = ::getgroups(static_cast<int>(groups.size()), groups.data());
    groups.resize(static_cast<std::size_t>(std::max(count, 0)));
    groups.push_back(::getegid());
    user.groups.assign(groups.begin(), groups.end());

    const passwd* account = ::getpwuid(user.id);
    if (account == nullptr) {
        user.name = QString::number(user.id);
        return user;
    }
    user.name = QString::fromLocal8Bit(account->pw_name);
    int listed = 64;
    std::vector<gid_t> memberOf(static_cast<std::size_t>(listed));
    if (::getgrouplist(account->pw_name, account->pw_gid, memberOf.data(), &listed) < 0) {
        memberOf.resize(static_cast<std::size_t>(listed));
        ::getgrouplist(account->pw_name, account->pw_gid, memberOf.data(), &listed);
    }
    memberOf.resize(static_cast<std::size_t>(listed));
    user.memberOf.assign(memberOf.begin(), memberOf.end());
    return user;
}

QString groupName(unsigned group) {
    const struct group* entry = ::getgrgid(group);
    return entry != nullptr ? QString::fromLocal8Bit(entry->gr_name) : QString::number(group);
}

std::vector<PortHolder> portHolders(const QString& device, const QString& procFolder) {
    const QString target = QFileInfo(device).canonicalFilePath();
    if (target.isEmpty()) {
        return {};
    }
    return processes(procFolder, [&target](const QString& process) {
        const QDir descriptors(process + QStringLiteral("/fd"));
        const QStringList entries = descriptors.entryList(QDir::System | QDir::NoDotAndDotDot);
        return std::any_of(entries.begin(), entries.end(), [&](const QString& entry) {
            return QFileInfo(descriptors.filePath(entry)).symLinkTarget() == target;
        });
    });
}

std::vector<PortHolder> runningPortTakers(const QString& procFolder) {
    return processes(procFolder, [](const QString& process) {
        const QString program = readText(process + QStringLiteral("/comm"));
        return program == QStringLiteral("ModemManager") || program == QStringLiteral("brltty");
    });
}

PortDiagnosis diagnosePortAccess(const QString& device) {
    const std::optional<DeviceFacts> facts = readDeviceFacts(device);
    if (!facts) {
        return problem(PortDiagnosis::Kind::Missing, device,
                       QStringLiteral("it does not exist (is the adapter plugged in?)"),
                       QStringLiteral("velmora-cli ports lists the serial ports there are"));
    }
    return diagnoseAccess(device, *facts, currentUser(), groupName(facts->group));
}

PortDiagnosis diagnosePort(const QString& device) {
    const PortDiagnosis access = diagnosePortAccess(device);
    if (!access.usable()) {
        return access;
    }
    const std::vector<PortHolder> holders = portHolders(device);
    return holders.empty() ? access : diagnoseHolders(device, holders, {});
}

PortDiagnosis diagnoseBusyPort(const QString& device) {
    return diagnoseHolders(device, portHolders(device), runningPortTakers());
}

}  // namespace velmora
